#include <gtest/gtest.h>
#include <windows.h>

#include <shellapi.h>

#include "app/arguments.h"
#include "app/launch.h"
#include "app/single_instance.h"
#include "patch/installed_files.h"
#include "test_support.h"
#include "update/launcher_swap.h"

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

// Whatever happens to the new exe around the swap, a launcher stays under the player's name.
TEST(LauncherSwap, OldExeComesBack) {
    enum class Fault { None, Removed, Held };
    const struct {
        const char* label;
        bool heirFailed;  // the swap succeeded and the heir did not start
        Fault fault;      // what befalls the new exe first
        const char* underName;
        bool oldLeft;
    } cases[] = {
        {"swapped", false, Fault::None, "new", true},
        {"new removed before the swap", false, Fault::Removed, "old", false},
        {"new held open before the swap", false, Fault::Held, "old", false},
        {"heir failed", true, Fault::None, "old", false},
        {"heir failed, new removed", true, Fault::Removed, "old", false},
        {"heir failed, new held open", true, Fault::Held, "new", true},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const fs::path self = dir.path / "Jogar.exe", fresh = dir.path / "Jogar.exe.new", old = dir.path / "Jogar.exe.old";
        WriteBytes(self, "old");
        WriteBytes(fresh, "new");
        const fs::path target = c.heirFailed ? self : fresh;
        const bool swapped = !c.heirFailed || SwapInLauncher(self.wstring(), fresh.wstring(), old.wstring());
        if (c.fault == Fault::Removed) fs::remove(target);
        {
            const FileHandle held(c.fault == Fault::Held ? CreateFileW(target.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                                        nullptr, OPEN_EXISTING, 0, nullptr)
                                                          : INVALID_HANDLE_VALUE);
            if (c.heirFailed)
                SwapBackLauncher(self.wstring(), fresh.wstring(), old.wstring());
            else
                EXPECT_EQ(SwapInLauncher(self.wstring(), fresh.wstring(), old.wstring()), c.fault == Fault::None) << c.label;
        }
        EXPECT_TRUE(swapped) << c.label;
        EXPECT_EQ(ReadBytes(self), c.underName) << c.label;
        EXPECT_EQ(fs::exists(old), c.oldLeft) << c.label;
    }
}

// Paths past MAX_PATH take the extended form, or the files would count as missing at every patch.
TEST(InstalledFiles, LongPathsTakeTheExtendedForm) {
    const std::string deep = std::string(100, 'd') + "/" + std::string(100, 'e') + "/" + std::string(100, 'f') + "/f.pak";
    const std::wstring wide = std::wstring(100, L'd') + L"\\" + std::wstring(100, L'e') + L"\\" + std::wstring(100, L'f') +
                              L"\\f.pak";
    const std::tuple<std::wstring, std::string, std::wstring> cases[] = {  // bin, entry, path
        {L"C:\\Jogo\\bin", "data/x.pak", L"C:\\Jogo\\bin\\data\\x.pak"},
        {L"C:\\Jogo\\bin", deep, L"\\\\?\\C:\\Jogo\\bin\\" + wide},
        {L"\\\\srv\\jogos\\bin", deep, L"\\\\?\\UNC\\srv\\jogos\\bin\\" + wide},
    };
    for (const auto& [bin, entry, path] : cases) EXPECT_EQ(EntryPath(bin, entry), path);
}

// The client the hand-off or the configuration names is started only from inside bin.
TEST(Launch, ClientInsideBin) {
    for (const wchar_t* inside : {L"velmoraclient.exe", L"sub\\game.exe", L"sub/game.exe", L"a.b\\c..exe"})
        EXPECT_TRUE(ClientInsideBin(inside)) << testing::PrintToString(inside);
    for (const wchar_t* outside : {L"", L"..\\x.exe", L"sub\\..\\..\\x.exe", L"C:\\x.exe", L"\\x.exe", L"/x.exe",
                                   L"sub\\. .\\x.exe", L"...\\x.exe", L"x.exe:stream", L"sub\\\\x.exe"})
        EXPECT_FALSE(ClientInsideBin(outside)) << testing::PrintToString(outside);
}
