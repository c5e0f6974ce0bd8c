#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <future>
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

// Id of a running process of that exe name; 0 when there is none.
DWORD RunningProcess(const std::wstring& exeName) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {sizeof(entry)};
    DWORD found = 0;
    for (BOOL ok = Process32FirstW(snap, &entry); ok && !found; ok = Process32NextW(snap, &entry))
        if (_wcsicmp(entry.szExeFile, exeName.c_str()) == 0) found = entry.th32ProcessID;
    CloseHandle(snap);
    return found;
}

// Whether the running process of that name is in a job; false when none shows up in time.
bool RunsInJob(const std::wstring& exeName) {
    for (int i = 0; i < 40; ++i, Sleep(50)) {
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, RunningProcess(exeName));
        if (!process) continue;
        BOOL inJob = FALSE;
        IsProcessInJob(process, nullptr, &inJob);
        CloseHandle(process);
        return inJob;
    }
    return false;
}

// Exit codes pass through; a start failure and a child exit code of 0xFFFFFFFF both read -1;
// a hung tool is terminated once the bound has passed. While it runs, it is in the job that
// ends it with the launcher.
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
        const bool hangs = c.result == kToolTimedOut;
        std::future<bool> inJob = std::async(std::launch::async, [&] { return hangs && RunsInJob(name); });
        const DWORD start = GetTickCount();
        EXPECT_EQ(RunHidden(c.commandLine, 2000), c.result) << testing::PrintToString(c.commandLine);
        const DWORD elapsed = GetTickCount() - start;
        EXPECT_TRUE(!hangs || (elapsed >= 1950 && elapsed < 10000)) << elapsed;
        EXPECT_EQ(inJob.get(), hangs);
    }
    EXPECT_EQ(RunningProcess(name), 0u);
}

// Stand-ins named tar.exe and powershell.exe at their places in a scratch system folder, and
// decoys of the same names in the current folder, which a search by name would reach first
// (and Wine ships a do-nothing powershell.exe). The install folder has blanks, an apostrophe,
// typographic quotes and an accent.
TEST(Extract, ToolsRunFromTheSystemFolderInOrderUntilOneSucceeds) {
    TempDir system, decoys, install;
    const std::wstring psFolder = system / L"WindowsPowerShell\\v1.0";
    ASSERT_TRUE(CreateDirectoryW((system / L"WindowsPowerShell").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(psFolder.c_str(), nullptr));
    for (const wchar_t* name : {L"tar.exe", L"powershell.exe"}) {
        PlaceStandin(decoys / name);
        WriteBytes(decoys / (std::wstring(name) + L".action"), "exit 0");
    }
    const std::wstring folder = install / L"Jogos d'\u00c1vila \u2018V\u2019";
    const std::wstring ps = PsEscape(install.path) + L"\\Jogos d''\u00c1vila \u2018\u2018V\u2019\u2019";
    const std::wstring kPs = L"powershell.exe -NoProfile -NoLogo -NonInteractive -ExecutionPolicy Bypass -Command \"";
    const std::wstring tar = L"tar.exe -xf \"" + folder + L"\\update_temp.zip\" -C \"" + folder + L"\\bin\"";
    const std::wstring expand = kPs + L"Expand-Archive -LiteralPath '" + ps + L"\\update_temp.zip' -DestinationPath '" +
                                ps + L"\\bin' -Force\"";
    const std::wstring zip = kPs + L"Add-Type -AssemblyName System.IO.Compression.FileSystem; "
                                   L"[System.IO.Compression.ZipFile]::ExtractToDirectory('" +
                             ps + L"\\update_temp.zip', '" + ps + L"\\bin', $true)\"";
    struct Case {
        const char* name;
        std::string tar, powershell;  // stand-in actions; empty: no such tool
        bool result;
        std::vector<std::wstring> tarCalls, powershellCalls;
    } cases[] = {
        {"tar succeeds", "exit 0", "exit 0", true, {tar}, {}},
        {"no tar", "", "exit 0", true, {}, {expand}},
        {"tar hangs", "hang", "exit 0", true, {tar}, {expand}},
        {"all fail", "exit 2", "exit 1", false, {tar}, {expand, zip}},
    };
    wchar_t cwd[MAX_PATH];
    const std::wstring savedCwd(cwd, GetCurrentDirectoryW(MAX_PATH, cwd));
    ASSERT_TRUE(SetCurrentDirectoryW(decoys.path.c_str()));
    for (const auto& c : cases) {
        const std::pair<std::wstring, std::string> tools[] = {{system.path, c.tar}, {psFolder, c.powershell}};
        for (const auto& [where, action] : tools) {
            const std::wstring exe = where + (where == psFolder ? L"\\powershell.exe" : L"\\tar.exe");
            for (const std::wstring& f : {exe, exe + L".action", where + L"\\standin.log"}) DeleteFileW(f.c_str());
            if (action.empty()) continue;
            PlaceStandin(exe);
            WriteBytes(exe + L".action", action);
        }
        EXPECT_EQ(ExtractUpdateArchive(folder + L"\\update_temp.zip", folder + L"\\bin", 2000, system.path), c.result)
            << c.name;
        // Each stand-in start logs "<exe name> TAB <current folder> TAB <command line>".
        const auto log = [&](const wchar_t* exe, const std::vector<std::wstring>& calls) {
            std::wstring lines;
            for (const auto& call : calls) lines += exe + (L"\t" + decoys.path + L"\t") + call + L"\n";
            return calls.empty() ? L"<missing>" : lines;
        };
        EXPECT_EQ(FromUtf8(ReadBytes(system / L"standin.log")), log(L"tar.exe", c.tarCalls)) << c.name;
        EXPECT_EQ(FromUtf8(ReadBytes(psFolder + L"\\standin.log")), log(L"powershell.exe", c.powershellCalls))
            << c.name;
    }
    SetCurrentDirectoryW(savedCwd.c_str());
    EXPECT_EQ(ReadBytes(decoys / L"standin.log"), "<missing>") << "a tool was found by the search";
}

TEST(Extract, SystemFolderIsTheWindowsSystem32) {
    wchar_t windows[MAX_PATH];
    const std::wstring expected = std::wstring(windows, GetWindowsDirectoryW(windows, MAX_PATH)) + L"\\system32";
    EXPECT_EQ(CompareStringOrdinal(SystemFolder().c_str(), -1, expected.c_str(), -1, TRUE), CSTR_EQUAL)
        << SystemFolder();
}

}  // namespace
