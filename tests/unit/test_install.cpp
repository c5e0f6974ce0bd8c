#include <gtest/gtest.h>
#include <windows.h>

#include <shellapi.h>

#include "app/arguments.h"
#include "app/single_instance.h"

namespace {

// One name per folder whatever the letter case; a valid object name in the machine-wide namespace.
TEST(SingleInstance, MutexNamePerFolder) {
    const std::wstring name = InstanceMutexName(L"C:\\Jogos\\Velmora \u00c1vila");
    EXPECT_EQ(name.size(), 39u);
    EXPECT_EQ(name.rfind(L"Global\\VelmoraLauncher-", 0), 0u);
    EXPECT_EQ(name.find_first_not_of(L"0123456789abcdef", 23), std::wstring::npos);
    EXPECT_EQ(InstanceMutexName(L"c:\\JOGOS\\velmora \u00e1VILA"), name);
    for (const wchar_t* other : {L"C:\\Jogos\\Velmora Avila", L"D:\\Jogos\\Velmora \u00c1vila", L"C:\\Jogos"})
        EXPECT_NE(InstanceMutexName(other), name) << testing::PrintToString(other);
}

// What a launcher passes on to the one it starts reads back the same, markers apart.
TEST(Arguments, PassedOnUnchanged) {
    const std::vector<std::wstring> others = {L"plain", L"two words", L"quote\"inside", L"trailing\\", L"\\\"",
                                              L"", L"C:\\Jogo d'A\u00e7\u00e3o\\", L"--handover=x1", L"tab\there"};
    const LaunchArguments current = ParseArguments(others);
    EXPECT_EQ(current.others, others);
    EXPECT_FALSE(current.elevated || current.predecessor);
    for (const bool elevated : {false, true}) {
        const std::wstring line = L"launcher.exe " + JoinArguments(HandoverArguments(current, 4294967295u, elevated));
        int count = 0;
        LPWSTR* argv = CommandLineToArgvW(line.c_str(), &count);
        const LaunchArguments back = ParseArguments(std::vector<std::wstring>(argv + 1, argv + count));
        LocalFree(argv);
        EXPECT_EQ(back.others, others) << testing::PrintToString(line);
        EXPECT_EQ(std::make_pair(back.elevated, back.predecessor), std::make_pair(elevated, DWORD{4294967295u}));
    }
    EXPECT_EQ(ParseArguments({L"--handover=4294967296", L"--handover=0"}).predecessor, 0u);
}

}  // namespace
