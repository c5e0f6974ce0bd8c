#include <gtest/gtest.h>

#include <array>

#include "app/state.h"
#include "app/window.h"
#include "test_support.h"

namespace {

struct LocalFilesTest : testing::Test {
    TempDir dir;
    void SetUp() override {
        g_config = LauncherConfig();
        g_baseDir = dir.path.wstring();
    }
};

// The whole file, decoded as UTF-8 when it is that, else every byte widened, then trimmed; a
// blank result keeps 0.0.0.
TEST_F(LocalFilesTest, VersionFileForms) {
    const std::pair<std::string, std::wstring> cases[] = {
        {"  \r\n\t ", L"0.0.0"}, {"1.0\r\nbeta\r\n", L"1.0\r\nbeta"},
        {std::string("1\0" "2\r\n", 5), std::wstring(L"1\0" L"2", 3)},
        {"\xef\xbb\xbf" "2.0", L"2.0"},
        {"1.4-v\xc3\xa3\r\n", L"1.4-v\u00e3"},
        {"1.4-v\xe3", L"1.4-v\uffe3"},
    };
    for (const auto& [bytes, version] : cases) {
        g_localVersion = L"0.0.0";
        WriteBytes(dir.path / L"version.txt", bytes);
        LoadConfigFiles();
        EXPECT_EQ(g_localVersion, version) << testing::PrintToString(bytes);
    }
}

// A marked UTF-8 file is decoded even when all its text is ASCII; a UTF-16 file still goes to
// the profile API, which reads it. (Unmarked UTF-8 and ANSI files: the end-to-end rows.)
TEST_F(LocalFilesTest, IniEncodings) {
    const std::wstring utf16 = L"\ufeff[Launcher]\r\nServerName=S\u00e3o Paulo\r\n";
    const std::pair<std::string, std::wstring> cases[] = {
        {"\xef\xbb\xbf[Launcher]\r\nServerName=\"Norte\"\r\n", L"Norte"},  // quotes go, as the profile API drops them
        {std::string(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2), L"S\u00e3o Paulo"},
    };
    for (const auto& [bytes, serverName] : cases) {
        WriteBytes(dir.path / L"launcher_config.ini", bytes);
        g_config = LauncherConfig();
        LoadConfigFiles();
        EXPECT_EQ(g_config.ServerName, serverName) << testing::PrintToString(bytes);
    }
}

// The player's download cap: whole KiB per second, anything else none.
TEST_F(LocalFilesTest, DownloadCap) {
    const std::pair<std::string, uint64_t> cases[] = {
        {"MaxDownloadKBps=512", 512}, {"MaxDownloadKBps = 0", 0}, {"MaxDownloadKBps=1.5", 0},
        {"MaxDownloadKBps=-8", 0}, {"MaxDownloadKBps=99999999999999999999", uint64_t{1} << 40}, {"", 0}};
    for (const auto& [line, kbps] : cases) {
        WriteBytes(dir.path / L"launcher_config.ini", "[Launcher]\r\n" + line + "\r\n");
        LoadConfigFiles();
        EXPECT_EQ(g_config.MaxDownloadKBps, kbps) << line;
    }
}

// Signed arithmetic, truncating toward zero, on screens smaller than the window.
TEST(Window, CentringOnSmallScreens) {
    for (auto [w, h, x, y] : {std::array<LONG, 4>{489, 300, -5, 0}, {0, 0, -250, -150}})
        EXPECT_EQ(std::make_pair(CentredOrigin(w, h).x, CentredOrigin(w, h).y), std::make_pair(x, y)) << w;
}

// The system menu's file check is offered when Play is and starts its pass only when none runs.
TEST(Window, FileCheckIsOfferedWithPlayAndOnlyOneAtATime) {
    static int started = 0;
    SetFileCheck([] { ++started; });
    RegisterMainClass(GetModuleHandleW(nullptr));
    HWND window = CreateMainWindow(GetModuleHandleW(nullptr));
    const auto offered = [window] {
        return !(GetMenuState(GetSystemMenu(window, FALSE), IDM_CHECK_FILES, MF_BYCOMMAND) & MF_GRAYED);
    };
    const bool created = offered();
    SendMessageW(window, WM_ENABLE_PLAY, 0, 0);
    const bool afterPass = offered();
    g_busy = true;
    SendMessageW(window, WM_SYSCOMMAND, IDM_CHECK_FILES, 0);
    const int duringPass = started;
    g_busy = false;
    SendMessageW(window, WM_SYSCOMMAND, IDM_CHECK_FILES | 2, 0);  // the system's low bits set
    EXPECT_EQ(std::make_tuple(created, afterPass, duringPass, started, offered(), IsWindowEnabled(g_hwndPlay) != 0,
                              g_busy.load()),
              std::make_tuple(false, true, 0, 1, false, false, true));
    g_busy = false;
    DestroyWindow(window);
}

}  // namespace
