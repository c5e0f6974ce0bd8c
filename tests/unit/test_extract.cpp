#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <vector>

#include "app/state.h"
#include "test_support.h"
#include "update/extract.h"

namespace {

const std::wstring kPs = L"powershell.exe -NoProfile -NoLogo -NonInteractive -ExecutionPolicy Bypass -Command \"";

TEST(Extract, CommandLines) {
    struct Case {
        const char* name;
        std::wstring archive, bin, tar, expand, zip;
    } cases[] = {
        {"plain", L"C:\\Games\\Velmora\\update_temp.zip", L"C:\\Games\\Velmora\\bin",
         L"tar.exe -xf \"C:\\Games\\Velmora\\update_temp.zip\" -C \"C:\\Games\\Velmora\\bin\"",
         kPs + L"Expand-Archive -LiteralPath 'C:\\Games\\Velmora\\update_temp.zip' -DestinationPath "
               L"'C:\\Games\\Velmora\\bin' -Force\"",
         kPs + L"Add-Type -AssemblyName System.IO.Compression.FileSystem; "
               L"[System.IO.Compression.ZipFile]::ExtractToDirectory('C:\\Games\\Velmora\\update_temp.zip', "
               L"'C:\\Games\\Velmora\\bin', $true)\""},
        // The apostrophe would otherwise close the literal and let "; calc; '" run as PowerShell.
        {"quotes", L"C:\\x'; calc; '\u2018\u201b\\u.zip", L"C:\\O'Brien\u2019s\\bin",
         L"tar.exe -xf \"C:\\x'; calc; '\u2018\u201b\\u.zip\" -C \"C:\\O'Brien\u2019s\\bin\"",
         kPs + L"Expand-Archive -LiteralPath 'C:\\x''; calc; ''\u2018\u2018\u201b\u201b\\u.zip' -DestinationPath "
               L"'C:\\O''Brien\u2019\u2019s\\bin' -Force\"",
         kPs + L"Add-Type -AssemblyName System.IO.Compression.FileSystem; "
               L"[System.IO.Compression.ZipFile]::ExtractToDirectory('C:\\x''; calc; ''\u2018\u2018\u201b\u201b\\u.zip', "
               L"'C:\\O''Brien\u2019\u2019s\\bin', $true)\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TarCommand(c.archive, c.bin), c.tar) << c.name;
        EXPECT_EQ(ExpandArchiveCommand(c.archive, c.bin), c.expand) << c.name;
        EXPECT_EQ(ZipFileCommand(c.archive, c.bin), c.zip) << c.name;
    }
}

TEST(Extract, PsEscapeDoublesEverySingleQuoteKind) {
    struct Case {
        std::wstring in, out;
    } cases[] = {
        {L"", L""},
        {L"C:\\plain path", L"C:\\plain path"},
        {L"O'Brien", L"O''Brien"},
        {L"''", L"''''"},
        {L"\u2018a\u2019b\u201ac\u201b", L"\u2018\u2018a\u2019\u2019b\u201a\u201ac\u201b\u201b"},
        // Neighbours of the range, double quotes, $ and backtick stay as they are.
        {L"\u2017\u201c\u201d\"$x`(y)", L"\u2017\u201c\u201d\"$x`(y)"},
    };
    for (const auto& c : cases) EXPECT_EQ(PsEscape(c.in), c.out) << testing::PrintToString(c.in);
}

std::wstring TestExeFolder() {
    const std::wstring exe = ModulePath();
    return exe.substr(0, exe.find_last_of(L'\\'));
}

// Copies the stand-in program (built beside the test exe) to `path`.
void PlaceStandin(const std::wstring& path) {
    ASSERT_TRUE(CopyFileW((TestExeFolder() + L"\\standin.exe").c_str(), path.c_str(), FALSE))
        << "standin.exe must be built beside unit_tests.exe";
}

std::wstring FromUtf8(const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n);
    return out;
}

struct Call {
    std::wstring exe, commandLine;
};

// The starts the stand-ins in `folder` recorded, in order.
std::vector<Call> ReadCalls(const std::wstring& folder) {
    std::vector<Call> calls;
    std::string log = ReadBytes(folder + L"\\standin.log");
    if (log == "<missing>") return calls;
    size_t at = 0;
    for (size_t end; (end = log.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::wstring line = FromUtf8(log.substr(at, end - at));
        const size_t tab1 = line.find(L'\t'), tab2 = line.find(L'\t', tab1 + 1);
        calls.push_back({line.substr(0, tab1), line.substr(tab2 + 1)});
    }
    return calls;
}

bool ProcessRunning(const std::wstring& exeName) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (BOOL ok = Process32FirstW(snap, &entry); ok && !found; ok = Process32NextW(snap, &entry))
        found = _wcsicmp(entry.szExeFile, exeName.c_str()) == 0;
    CloseHandle(snap);
    return found;
}

TEST(RunHidden, ExitCodesAndStartFailures) {
    TempDir dir;
    CreateDirectoryW((dir / L"my tools").c_str(), nullptr);
    const std::wstring tool = dir / L"my tools\\tool.exe";
    PlaceStandin(tool);
    struct Case {
        std::wstring commandLine;
        int result;
    } cases[] = {
        {L"\"" + tool + L"\" exit 0", 0},
        {L"\"" + tool + L"\" exit 3", 3},
        {L"\"" + tool + L"\" exit 0xFFFFFFFF", -1},
        {L"velmora_no_such_tool.exe -xf x", -1},
        {L"\"" + (dir / L"missing.exe") + L"\"", -1},
    };
    for (const auto& c : cases) EXPECT_EQ(RunHidden(c.commandLine), c.result) << testing::PrintToString(c.commandLine);

    // The child got the command line exactly as given, once per successful start.
    const std::vector<Call> calls = ReadCalls(dir / L"my tools");
    ASSERT_EQ(calls.size(), 3u);
    for (size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i].commandLine, cases[i].commandLine);
}

TEST(RunHidden, HungToolIsTerminatedAfterTheBound) {
    TempDir dir;
    const std::wstring name = L"hung_tool_" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    PlaceStandin(dir / name);
    const DWORD start = GetTickCount();
    EXPECT_EQ(RunHidden(L"\"" + (dir / name) + L"\" hang", 300), kToolTimedOut);
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 250u);
    EXPECT_LT(elapsed, 10000u);
    EXPECT_EQ(ReadCalls(dir.path).size(), 1u);
    EXPECT_FALSE(ProcessRunning(name));
}

// Stand-ins named tar.exe and powershell.exe in a scratch current folder, which the
// program search reaches before the system folders (Wine ships a do-nothing powershell.exe).
struct ExtractTest : testing::Test {
    TempDir tools;
    TempDir install;
    std::wstring savedCwd;
    std::wstring folder;  // install folder with blanks, apostrophes, quotes and accents

    void SetUp() override {
        for (const wchar_t* name : {L"\\tar.exe", L"\\powershell.exe"})
            ASSERT_FALSE(Exists(TestExeFolder() + name)) << "would shadow the stand-ins in the current folder";
        wchar_t cwd[MAX_PATH];
        savedCwd.assign(cwd, GetCurrentDirectoryW(MAX_PATH, cwd));
        ASSERT_TRUE(SetCurrentDirectoryW(tools.path.c_str()));
        folder = install / L"Jogos d'\u00c1vila \u2018V\u2019";
        CreateDirectoryW(folder.c_str(), nullptr);
        CreateDirectoryW((folder + L"\\bin").c_str(), nullptr);
    }
    void TearDown() override { SetCurrentDirectoryW(savedCwd.c_str()); }

    // `action` empty: no such tool.
    void Tool(const wchar_t* name, const std::string& action) {
        if (action.empty()) return;
        PlaceStandin(tools / name);
        WriteBytes(tools / (std::wstring(name) + L".action"), action);
    }
};

TEST_F(ExtractTest, ToolsRunInOrderUntilOneSucceeds) {
    enum Kind { Tar, Expand, Zip };
    struct Case {
        const char* name;
        std::string tar, powershell;
        bool result;
        std::vector<Kind> calls;
    } cases[] = {
        {"tar succeeds", "exit 0", "exit 0", true, {Tar}},
        {"no tar", "", "exit 0", true, {Expand}},
        {"tar exits 0xFFFFFFFF", "exit 0xFFFFFFFF", "exit 0", true, {Tar, Expand}},
        {"tar hangs", "hang", "exit 0", true, {Tar, Expand}},
        {"all fail", "exit 2", "exit 1", false, {Tar, Expand, Zip}},
        {"no tar, powershell fails", "", "exit 5", false, {Expand, Zip}},
    };
    const std::wstring archive = folder + L"\\update_temp.zip", bin = folder + L"\\bin";
    const std::wstring expected[] = {TarCommand(archive, bin), ExpandArchiveCommand(archive, bin),
                                     ZipFileCommand(archive, bin)};
    for (const auto& c : cases) {
        for (const wchar_t* f : {L"tar.exe", L"powershell.exe", L"standin.log"}) DeleteFileW((tools / f).c_str());
        Tool(L"tar.exe", c.tar);
        Tool(L"powershell.exe", c.powershell);

        EXPECT_EQ(ExtractUpdateArchive(archive, bin, 500), c.result) << c.name;
        const std::vector<Call> calls = ReadCalls(tools.path);
        ASSERT_EQ(calls.size(), c.calls.size()) << c.name;
        for (size_t i = 0; i < calls.size(); ++i) {
            EXPECT_EQ(calls[i].exe, c.calls[i] == Tar ? L"tar.exe" : L"powershell.exe") << c.name;
            EXPECT_EQ(calls[i].commandLine, expected[c.calls[i]]) << c.name << " call " << i;
        }
    }
}

}  // namespace
