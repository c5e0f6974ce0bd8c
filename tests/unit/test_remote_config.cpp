#include <gtest/gtest.h>

#include <cstdint>

#include "net/sources.h"
#include "test_support.h"
#include "update/remote_config.h"

namespace {

const LauncherConfig kLocal{L"Local", L"cfg", L"ver", L"upd", L"local.exe", L"site", 0};
const std::wstring kUnchanged = L"Local|cfg|ver|upd|local.exe|site|0";

// Expected results as Fields(): ServerName|ConfigURL|VersionURL|UpdateURL|ClientExe|SiteURL|MinLauncherBuild.
TEST(RemoteConfig, LinesAreAppliedAsTheLauncherSectionSays) {
    const std::tuple<const char*, std::wstring, std::wstring> cases[] = {  // name, text, fields
        {"every key but ConfigURL", L"[Launcher]\nServerName=R\nConfigURL=http://evil/\nVersionURL=v\n"
                                    L"UpdateURL=u\nClientExe=r.exe\nSiteUrl=s\nMinLauncherBuild=7",
         L"R|cfg|v|u|r.exe|s|7"},
        {"blanks in header", L"[ Launcher ]\nServerName=R", kUnchanged},
        {"header letter case", L"[launcher]\nServerName=R\nUpdateURL=u", kUnchanged},
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
    for (const auto& [name, text, fields] : cases) EXPECT_EQ(Fields(ApplyRemoteConfigText(kLocal, text)), fields) << name;
}

TEST(RemoteConfig, BuildNumberParsing) {
    const std::pair<const wchar_t*, int32_t> cases[] = {
        {L"0", 0}, {L"-5", -5}, {L"2abc", 2}, {L"0002", 2}, {L"3.9", 3}, {L"+7", 7},
        {L"", 0}, {L"abc", 0}, {L"-", 0}, {L"+x5", 0}, {L"--5", 0},
        {L"2147483647", INT32_MAX}, {L"2147483648", INT32_MAX}, {L"99999999999999999999999", INT32_MAX},
        {L"-2147483648", INT32_MIN}, {L"-2147483649", INT32_MIN}, {L"-99999999999999999999999", INT32_MIN},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(ParseBuildNumber(text), value) << testing::PrintToString(text);
}

// Web addresses go as they are, a bare host name gets "http://"; nothing else reaches the shell.
TEST(RemoteConfig, SiteToOpen) {
    for (const wchar_t* site : {L"HTTPS://V.example/", L"http://x", L"hTtP://x"}) EXPECT_EQ(SiteToOpen(site), site);
    for (const wchar_t* host :
         {L"www.velmora.com.br", L"velmora.com.br/novo?x=1#a", L"localhost:8080/jogo", L"Velmora-2"})
        EXPECT_EQ(SiteToOpen(host), std::wstring(L"http://") + host);
    for (const wchar_t* other :
         {L"", L"https:/x", L" https://x", L"httpsx://x", L"C:\\Windows\\System32\\calc.exe",
          L"\\\\attacker\\share\\run.exe", L"file:///C:/x",
          L"javascript:alert(1)", L"ftp://velmora.example/", L"mailto:a@velmora.example", L"velmora.com\\run.exe",
          L"www.x.com run.exe", L"s\u00e3o.com.br", L".velmora.com", L"-velmora.com", L"host:", L"host:80x", L"@host"})
        EXPECT_EQ(SiteToOpen(other), L"") << testing::PrintToString(other);
}

// UpdateURL's addresses in order, whatever blanks part them; a patch's leave out Drive links.
TEST(RemoteConfig, Sources) {
    using List = std::vector<std::wstring>;
    EXPECT_EQ(SplitSources(L"  http://a/u.zip \t  https://drive.google.com/d/1/view\x3000http://c "),
              (List{L"http://a/u.zip", L"https://drive.google.com/d/1/view\x3000http://c"}));
    EXPECT_EQ(SplitSources(L" \t "), List{});
    EXPECT_EQ(RangeSources(L"https://drive.google.com/d/1 http://a http://b"), (List{L"http://a", L"http://b"}));
}

}  // namespace
