#include <gtest/gtest.h>

#include <cstdint>

#include "test_support.h"
#include "update/remote_config.h"

namespace {

const LauncherConfig kLocal{L"Local", L"cfg", L"ver", L"upd", L"local.exe", L"site", 0};
const std::wstring kUnchanged = L"Local|cfg|ver|upd|local.exe|site|0";

// Expected results as Fields(): ServerName|ConfigURL|VersionURL|UpdateURL|ClientExe|SiteURL|MinLauncherBuild.
TEST(RemoteConfig, LinesAreAppliedAsTheLauncherSectionSays) {
    struct Case {
        const char* name;
        std::wstring text, fields;
    } cases[] = {
        {"every key but ConfigURL", L"[Launcher]\nServerName=R\nConfigURL=http://evil/\nVersionURL=v\n"
                                    L"UpdateURL=u\nClientExe=r.exe\nSiteUrl=s\nMinLauncherBuild=7",
         L"R|cfg|v|u|r.exe|s|7"},
        {"blanks in header", L"[ Launcher ]\nServerName=R", kUnchanged},
        {"header with more text", L"[Main][Launcher] ; ours\nServerName=R", L"R|cfg|ver|upd|local.exe|site|0"},
        {"value keeps later =", L"[Launcher]\nUpdateURL = h?id=5&t==x", L"Local|cfg|ver|h?id=5&t==x|local.exe|site|0"},
        {"blank values ignored", L"[Launcher]\nUpdateURL=  \t \nServerName=\n", kUnchanged},
        {"SiteURL spelling and key case", L"[Launcher]\nSiteURL=x\nservername=x\nSERVERNAME=y\n", kUnchanged},
        {"comment and junk lines", L"[Launcher]\n;ServerName=C\nno equals here\n=orphan\nClientExe=r.exe",
         L"Local|cfg|ver|upd|r.exe|site|0"},
        {"marked header; entries above one", L"\uffef\uffbb\uffbf[Launcher]\nServerName=E\n[Launcher]\nClientExe=r.exe",
         L"Local|cfg|ver|upd|r.exe|site|0"},
        {"other section leaves, later header re-enters",
         L"[Launcher]\nServerName=A\n[Other]\nServerName=B\nUpdateURL=b\n[Launcher]\nClientExe=c.exe",
         L"A|cfg|ver|upd|c.exe|site|0"},
        {"last occurrence wins", L"[Launcher]\nServerName=1\nServerName=2\nMinLauncherBuild=9\nMinLauncherBuild=3",
         L"2|cfg|ver|upd|local.exe|site|3"},
        {"non-number build overwrites with 0", L"[Launcher]\nMinLauncherBuild=5\nMinLauncherBuild=abc", kUnchanged},
    };
    for (const auto& c : cases) EXPECT_EQ(Fields(ApplyRemoteConfigText(kLocal, c.text)), c.fields) << c.name;
}

TEST(RemoteConfig, BuildNumberParsing) {
    struct Case {
        const wchar_t* text;
        int32_t value;
    } cases[] = {
        {L"0", 0}, {L"-5", -5}, {L"2abc", 2}, {L"0002", 2}, {L"3.9", 3}, {L"+7", 7},
        {L"", 0}, {L"abc", 0}, {L"-", 0}, {L"+x5", 0}, {L"--5", 0},
        {L"2147483647", INT32_MAX}, {L"2147483648", INT32_MAX}, {L"99999999999999999999999", INT32_MAX},
        {L"-2147483648", INT32_MIN}, {L"-2147483649", INT32_MIN}, {L"-99999999999999999999999", INT32_MIN},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseBuildNumber(c.text), c.value) << testing::PrintToString(c.text);
}

TEST(RemoteConfig, OnlyWebAddressesCountAsSites) {
    for (const wchar_t* url : {L"https://velmora.example/", L"http://v.example/", L"HTTPS://V.EXAMPLE/", L"hTtP://x"})
        EXPECT_TRUE(IsWebUrl(url)) << testing::PrintToString(url);
    for (const wchar_t* url : {L"", L"https:/x", L"https", L"file:///C:/Windows/System32/calc.exe",
                               L"C:\\Windows\\System32\\calc.exe", L"\\\\attacker\\share\\run.exe",
                               L"ftp://velmora.example/", L"javascript:alert(1)", L" https://x", L"httpsx://x"})
        EXPECT_FALSE(IsWebUrl(url)) << testing::PrintToString(url);
}

std::wstring TextOf(HWND hwnd) {
    wchar_t buf[256];
    return std::wstring(buf, GetWindowTextW(hwnd, buf, 256));
}

// Without a usable remote text the stage changes nothing but, when it tried, the status line,
// and lets the pass go on.
TEST(RemoteConfig, StageWithoutRemoteTextKeepsTitlesAndGoesOn) {
    TempDir dir;
    g_baseDir = dir.path.wstring();
    auto label = [](const wchar_t* text) {
        return CreateWindowExW(0, L"STATIC", text, WS_POPUP, 0, 0, 200, 20, nullptr, nullptr, nullptr, nullptr);
    };
    g_hwndMain = label(L"main");  // differs from what the config would set
    g_hwndTitle = label(L"title");
    g_hwndStatus = label(L"");
    ASSERT_TRUE(g_hwndMain && g_hwndTitle && g_hwndStatus);
    // Nothing listens on port 1.
    for (const wchar_t* url : {L"", L"http://127.0.0.1:1/launcher.ini"}) {
        g_config = kLocal;
        g_config.ConfigURL = url;
        g_busy = true;
        SetWindowTextW(g_hwndStatus, L"Iniciando...");
        EXPECT_TRUE(ApplyRemoteConfig());
        EXPECT_EQ(TextOf(g_hwndStatus), *url ? L"Carregando configura\u00e7\u00e3o..." : L"Iniciando...");
        EXPECT_EQ(TextOf(g_hwndTitle) + L"|" + TextOf(g_hwndMain), L"title|main");
        EXPECT_TRUE(g_busy.load());  // the worker still owns the pass
    }
    for (HWND w : {g_hwndMain, g_hwndTitle, g_hwndStatus}) DestroyWindow(w);
    g_hwndMain = g_hwndTitle = g_hwndStatus = nullptr;
    g_busy = false;
}

}  // namespace
