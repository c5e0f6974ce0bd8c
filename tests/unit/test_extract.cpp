#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include "test_support.h"
#include "update/extract.h"

namespace {

bool ProcessRunning(const std::wstring& exeName) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {sizeof(entry)};
    bool found = false;
    for (BOOL ok = Process32FirstW(snap, &entry); ok && !found; ok = Process32NextW(snap, &entry))
        found = _wcsicmp(entry.szExeFile, exeName.c_str()) == 0;
    CloseHandle(snap);
    return found;
}

// Exit codes pass through; a start failure and a child exit code of 0xFFFFFFFF both read -1;
// a hung tool is terminated once the bound has passed.
TEST(RunHidden, ExitCodesStartFailuresAndTheBound) {
    TempDir dir;
    wchar_t self[MAX_PATH];
    const fs::path standin = fs::path(std::wstring(self, GetModuleFileNameW(nullptr, self, MAX_PATH))).parent_path() /
                             L"standin.exe";
    const std::wstring name = L"velmora_ut_tool_" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    fs::create_directories(dir.path / L"my tools");
    fs::copy_file(standin, dir.path / L"my tools" / name);
    const std::wstring tool = L"\"" + (dir.path / L"my tools" / name).wstring() + L"\"";
    const std::pair<std::wstring, int> cases[] = {
        {tool + L" exit 0", 0}, {tool + L" exit 3", 3}, {tool + L" exit 0xFFFFFFFF", -1},
        {L"velmora_no_such_tool.exe -xf x", -1}, {tool + L" hang", kToolTimedOut},
    };
    for (const auto& [commandLine, result] : cases) {
        const DWORD start = GetTickCount();
        EXPECT_EQ(RunHidden(commandLine, 2000), result) << testing::PrintToString(commandLine);
        const DWORD elapsed = GetTickCount() - start;
        EXPECT_TRUE(result != kToolTimedOut || (elapsed >= 1950 && elapsed < 10000)) << elapsed;
    }
    EXPECT_FALSE(ProcessRunning(name));
}

}  // namespace
