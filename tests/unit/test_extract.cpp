#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <vector>

#include "test_support.h"
#include "update/extract.h"

namespace {

TEST(Extract, PsEscapeDoublesEverySingleQuoteKind) {
    struct Case {
        std::wstring in, out;
    } cases[] = {
        {L"O'Brien ''", L"O''Brien ''''"},
        {L"\u2018a\u2019b\u201ac\u201b", L"\u2018\u2018a\u2019\u2019b\u201a\u201ac\u201b\u201b"},
        // Neighbours of the range, double quotes, $ and backtick stay as they are.
        {L"\u2017\u201c\u201d\"$x`(y)", L"\u2017\u201c\u201d\"$x`(y)"},
    };
    for (const auto& c : cases) EXPECT_EQ(PsEscape(c.in), c.out) << testing::PrintToString(c.in);
}

// Copies the stand-in program (built beside the test exe) to `path`.
void PlaceStandin(const std::wstring& path) {
    ASSERT_TRUE(CopyFileW((ExeFolder() + L"\\standin.exe").c_str(), path.c_str(), FALSE))
        << "standin.exe must be built beside unit_tests.exe";
}

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
    CreateDirectoryW((dir / L"my tools").c_str(), nullptr);
    const std::wstring name = L"velmora_ut_tool_" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    const std::wstring tool = L"\"" + (dir / L"my tools\\") + name + L"\"";
    PlaceStandin(dir / L"my tools\\" + name);
    struct Case {
        std::wstring commandLine;
        int result;
    } cases[] = {
        {tool + L" exit 0", 0},
        {tool + L" exit 3", 3},
        {tool + L" exit 0xFFFFFFFF", -1},
        {L"velmora_no_such_tool.exe -xf x", -1},
        {tool + L" hang", kToolTimedOut},
    };
    for (const auto& c : cases) {
        const DWORD start = GetTickCount();
        EXPECT_EQ(RunHidden(c.commandLine, 2000), c.result) << testing::PrintToString(c.commandLine);
        const DWORD elapsed = GetTickCount() - start;
        EXPECT_TRUE(c.result != kToolTimedOut || (elapsed >= 1950 && elapsed < 10000)) << elapsed;
    }
    EXPECT_FALSE(ProcessRunning(name));
}

// Stand-ins named tar.exe and powershell.exe in a scratch current folder, which the program
// search reaches before the system folders (Wine ships a do-nothing powershell.exe). The
// install folder has blanks, an apostrophe, typographic quotes and an accent.
TEST(Extract, ToolsRunInOrderWithTheirCommandLinesUntilOneSucceeds) {
    for (const wchar_t* name : {L"\\tar.exe", L"\\powershell.exe"})
        ASSERT_FALSE(Exists(ExeFolder() + name)) << "would shadow the stand-ins in the current folder";
    TempDir tools, install;
    const std::wstring folder = install / L"Jogos d'\u00c1vila \u2018V\u2019";
    const std::wstring ps = PsEscape(install.path) + L"\\Jogos d''\u00c1vila \u2018\u2018V\u2019\u2019";
    using Call = std::pair<std::wstring, std::wstring>;  // exe name, command line
    const Call tar{L"tar.exe", L"tar.exe -xf \"" + folder + L"\\update_temp.zip\" -C \"" + folder + L"\\bin\""};
    const std::wstring kPs = L"powershell.exe -NoProfile -NoLogo -NonInteractive -ExecutionPolicy Bypass -Command \"";
    const Call expand{L"powershell.exe", kPs + L"Expand-Archive -LiteralPath '" + ps +
                                             L"\\update_temp.zip' -DestinationPath '" + ps + L"\\bin' -Force\""};
    const Call zip{L"powershell.exe", kPs + L"Add-Type -AssemblyName System.IO.Compression.FileSystem; "
                                            L"[System.IO.Compression.ZipFile]::ExtractToDirectory('" +
                                            ps + L"\\update_temp.zip', '" + ps + L"\\bin', $true)\""};
    struct Case {
        const char* name;
        std::string tar, powershell;  // stand-in actions; empty: no such tool
        bool result;
        std::vector<Call> calls;
    } cases[] = {
        {"tar succeeds", "exit 0", "exit 0", true, {tar}},
        {"no tar", "", "exit 0", true, {expand}},
        {"tar hangs", "hang", "exit 0", true, {tar, expand}},
        {"all fail", "exit 2", "exit 1", false, {tar, expand, zip}},
    };
    wchar_t cwd[MAX_PATH];
    const std::wstring savedCwd(cwd, GetCurrentDirectoryW(MAX_PATH, cwd));
    ASSERT_TRUE(SetCurrentDirectoryW(tools.path.c_str()));
    for (const auto& c : cases) {
        for (const wchar_t* f : {L"tar.exe", L"powershell.exe", L"standin.log"}) DeleteFileW((tools / f).c_str());
        for (const auto& tool : {std::make_pair(L"tar.exe", c.tar), std::make_pair(L"powershell.exe", c.powershell)}) {
            if (tool.second.empty()) continue;
            PlaceStandin(tools / tool.first);
            WriteBytes(tools / (std::wstring(tool.first) + L".action"), tool.second);
        }
        EXPECT_EQ(ExtractUpdateArchive(folder + L"\\update_temp.zip", folder + L"\\bin", 2000), c.result) << c.name;
        // Each stand-in start logs "<exe name> TAB <current folder> TAB <command line>".
        std::wstring log;
        for (const auto& call : c.calls) log += call.first + L"\t" + tools.path + L"\t" + call.second + L"\n";
        EXPECT_EQ(FromUtf8(ReadBytes(tools / L"standin.log")), log) << c.name;
    }
    SetCurrentDirectoryW(savedCwd.c_str());
}

}  // namespace
