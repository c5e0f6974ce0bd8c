#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "test_support.h"
#include "update/remote_config.h"

namespace {

LauncherConfig LocalConfig() {
    LauncherConfig c;
    c.ServerName = L"Local";
    c.ConfigURL = L"http://local/cfg.ini";
    c.VersionURL = L"http://local/version.txt";
    c.UpdateURL = L"http://local/update.zip";
    c.ClientExe = L"local.exe";
    c.SiteURL = L"https://local/";
    return c;
}

void ExpectSame(const LauncherConfig& got, const LauncherConfig& want, const char* name) {
    EXPECT_EQ(got.ServerName, want.ServerName) << name;
    EXPECT_EQ(got.ConfigURL, want.ConfigURL) << name;
    EXPECT_EQ(got.VersionURL, want.VersionURL) << name;
    EXPECT_EQ(got.UpdateURL, want.UpdateURL) << name;
    EXPECT_EQ(got.ClientExe, want.ClientExe) << name;
    EXPECT_EQ(got.SiteURL, want.SiteURL) << name;
    EXPECT_EQ(got.MinLauncherBuild, want.MinLauncherBuild) << name;
}

TEST(RemoteConfig, LinesAreAppliedAsTheLauncherSectionSays) {
    using Edit = std::function<void(LauncherConfig&)>;
    const Edit none = [](LauncherConfig&) {};
    struct Case {
        const char* name;
        std::wstring text;
        Edit expect;  // applied to the local config to give the expected result
    } cases[] = {
        {"every key", L"[Launcher]\nServerName=Remote\nConfigURL=http://evil/\nVersionURL=http://r/v\n"
                      L"UpdateURL=http://r/u.zip\nClientExe=r.exe\nSiteUrl=https://r/\nMinLauncherBuild=7",
         [](LauncherConfig& c) {
             c.ServerName = L"Remote";
             c.VersionURL = L"http://r/v";
             c.UpdateURL = L"http://r/u.zip";
             c.ClientExe = L"r.exe";
             c.SiteURL = L"https://r/";
             c.MinLauncherBuild = 7;
         }},
        {"lower-case header", L"[launcher]\nServerName=Remote", none},
        {"blanks in header", L"[ Launcher ]\nServerName=Remote", none},
        {"header with more text", L"[Main][Launcher] ; ours\nServerName=Remote",
         [](LauncherConfig& c) { c.ServerName = L"Remote"; }},
        {"entries above the header", L"ServerName=Early\n[Launcher]\nClientExe=r.exe",
         [](LauncherConfig& c) { c.ClientExe = L"r.exe"; }},
        {"blanks around key, = and value", L"[Launcher]\n \t ServerName \t=  My Server \t \n",
         [](LauncherConfig& c) { c.ServerName = L"My Server"; }},
        {"value keeps later =", L"[Launcher]\nUpdateURL = http://r/get?id=5&t==x",
         [](LauncherConfig& c) { c.UpdateURL = L"http://r/get?id=5&t==x"; }},
        {"blank value ignored", L"[Launcher]\nUpdateURL=   \nServerName=\n", none},
        {"SiteURL spelling ignored", L"[Launcher]\nSiteURL=https://wrong/\n", none},
        {"key case matters", L"[Launcher]\nservername=x\nSERVERNAME=y\n", none},
        {"comment and junk lines", L"[Launcher]\n;ServerName=Commented\nno equals here\n=orphan\nClientExe=r.exe",
         [](LauncherConfig& c) { c.ClientExe = L"r.exe"; }},
        {"crlf", L"[Launcher]\r\nServerName=Remote\r\nClientExe=r.exe\r\n",
         [](LauncherConfig& c) {
             c.ServerName = L"Remote";
             c.ClientExe = L"r.exe";
         }},
        {"utf-8 mark before header", L"\uffef\uffbb\uffbf[Launcher]\nServerName=Early\n[Launcher]\nClientExe=r.exe",
         [](LauncherConfig& c) { c.ClientExe = L"r.exe"; }},
        {"other section leaves, later header re-enters",
         L"[Launcher]\nServerName=A\n[Other]\nServerName=B\nUpdateURL=http://b/\n[Launcher]\nClientExe=c.exe",
         [](LauncherConfig& c) {
             c.ServerName = L"A";
             c.ClientExe = L"c.exe";
         }},
        {"last occurrence wins", L"[Launcher]\nServerName=One\nServerName=Two\nMinLauncherBuild=9\nMinLauncherBuild=3",
         [](LauncherConfig& c) {
             c.ServerName = L"Two";
             c.MinLauncherBuild = 3;
         }},
        {"non-number build overwrites with 0", L"[Launcher]\nMinLauncherBuild=5\nMinLauncherBuild=abc",
         [](LauncherConfig& c) { c.MinLauncherBuild = 0; }},
        {"high bytes pass through", L"[Launcher]\nServerName=Caf\uffc3\uffa9",
         [](LauncherConfig& c) { c.ServerName = L"Caf\uffc3\uffa9"; }},
        {"no section at all", L"ServerName=x\n; nothing else", none},
    };
    for (const auto& c : cases) {
        LauncherConfig want = LocalConfig();
        c.expect(want);
        ExpectSame(ApplyRemoteConfigText(LocalConfig(), c.text), want, c.name);
    }
}

TEST(RemoteConfig, BuildNumberParsing) {
    struct Case {
        const wchar_t* text;
        int32_t value;
    } cases[] = {
        {L"0", 0},
        {L"1", 1},
        {L"-5", -5},
        {L"2", 2},
        {L"2abc", 2},
        {L"0002", 2},
        {L"3.9", 3},
        {L"+7", 7},
        {L"", 0},
        {L"abc", 0},
        {L"-", 0},
        {L"+x5", 0},
        {L"--5", 0},
        {L"2147483647", INT32_MAX},
        {L"2147483648", INT32_MAX},
        {L"99999999999999999999999", INT32_MAX},
        {L"-2147483648", INT32_MIN},
        {L"-2147483649", INT32_MIN},
        {L"-99999999999999999999999", INT32_MIN},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseBuildNumber(c.text), c.value) << testing::PrintToString(c.text);
}

TEST(RemoteConfig, OnlyWebAddressesCountAsSites) {
    struct Case {
        const wchar_t* url;
        bool web;
    } cases[] = {
        {L"https://velmora.example/", true},
        {L"http://velmora.example/", true},
        {L"HTTPS://VELMORA.EXAMPLE/", true},
        {L"hTtP://x", true},
        {L"", false},
        {L"https:/x", false},
        {L"https", false},
        {L"file:///C:/Windows/System32/calc.exe", false},
        {L"C:\\Windows\\System32\\calc.exe", false},
        {L"\\\\attacker\\share\\run.exe", false},
        {L"ftp://velmora.example/", false},
        {L"javascript:alert(1)", false},
        {L" https://x", false},
        {L"httpsx://x", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsWebUrl(c.url), c.web) << testing::PrintToString(c.url);
}

std::wstring TextOf(HWND hwnd) {
    wchar_t buf[256];
    return std::wstring(buf, GetWindowTextW(hwnd, buf, 256));
}

// Without a usable remote text the stage changes nothing but, when it tried, the status line.
TEST(RemoteConfig, StageWithoutRemoteTextKeepsTitlesAndGoesOn) {
    TempDir dir;
    g_baseDir = dir.path;
    auto label = [](const wchar_t* text) {
        return CreateWindowExW(0, L"STATIC", text, WS_POPUP, 0, 0, 200, 20, nullptr, nullptr, nullptr, nullptr);
    };
    g_hwndMain = label(L"Local - Launcher");
    g_hwndTitle = label(L"Local");
    g_hwndStatus = label(L"Iniciando...");
    ASSERT_TRUE(g_hwndMain && g_hwndTitle && g_hwndStatus);
    struct Case {
        const wchar_t* configUrl;
        const wchar_t* status;
    } cases[] = {
        {L"", L"Iniciando..."},
        {L"http://127.0.0.1:1/launcher.ini", L"Carregando configura\u00e7\u00e3o..."},  // nothing listens there
    };
    for (const auto& c : cases) {
        g_config = LocalConfig();
        g_config.ConfigURL = c.configUrl;
        g_busy = true;
        SetWindowTextW(g_hwndStatus, L"Iniciando...");

        EXPECT_TRUE(ApplyRemoteConfig());
        EXPECT_EQ(TextOf(g_hwndStatus), c.status);
        EXPECT_EQ(TextOf(g_hwndTitle), L"Local");
        EXPECT_EQ(TextOf(g_hwndMain), L"Local - Launcher");
        EXPECT_TRUE(g_busy.load());  // the worker still owns the pass
        LauncherConfig want = LocalConfig();
        want.ConfigURL = c.configUrl;
        ExpectSame(g_config, want, "stage");
    }
    for (HWND w : {g_hwndMain, g_hwndTitle, g_hwndStatus}) DestroyWindow(w);
    g_hwndMain = g_hwndTitle = g_hwndStatus = nullptr;
    g_busy = false;
}

}  // namespace
