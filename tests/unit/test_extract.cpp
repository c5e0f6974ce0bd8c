#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include "test_support.h"
#include "update/extract.h"
#include "update/tool_environment.h"

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
    const fs::path standin = fs::path(ModulePath()).parent_path() / L"standin.exe";
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

// The tools get the player's environment less what would make them load the player's files.
TEST(Extract, ToolEnvironment) {
    const std::wstring block = ToolEnvironment(
        {L"=C:=C:\\Jogo", L"Path=C:\\Users\\p\\bin;C:\\Windows\\system32", L"PSModulePath=C:\\Users\\p\\Documents\\Modules",
         L"COR_ENABLE_PROFILING=1", L"cor_profiler_path=C:\\Users\\p\\x.dll", L"COMPlus_ETWEnabled=0",
         L"DOTNET_STARTUP_HOOKS=C:\\Users\\p\\h.dll", L"SystemRoot=C:\\Windows", L"TEMP=C:\\Users\\p\\Temp",
         L"CORPORATE=yes"},
        L"C:\\Windows\\system32", L"C:\\Windows");
    std::vector<std::wstring> entries;
    for (size_t at = 0; at < block.size() && block[at]; at += entries.back().size() + 1) entries.emplace_back(block.c_str() + at);
    EXPECT_EQ(block.back(), L'\0');
    EXPECT_EQ(entries, (std::vector<std::wstring>{
                           L"=C:=C:\\Jogo", L"CORPORATE=yes",
                           L"Path=C:\\Windows\\system32;C:\\Windows;C:\\Windows\\system32\\Wbem;"
                           L"C:\\Windows\\system32\\WindowsPowerShell\\v1.0\\",
                           L"PSModulePath=C:\\Windows\\system32\\WindowsPowerShell\\v1.0\\Modules",
                           L"SystemRoot=C:\\Windows", L"TEMP=C:\\Users\\p\\Temp"}));
}
