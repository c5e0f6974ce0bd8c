#include <gtest/gtest.h>

#include "app/launch.h"
#include "app/state.h"
#include "app/window.h"
#include "test_support.h"

namespace {

TEST(Text, TrimRemovesOnlyUnitsUpToSpaceAtTheEnds) {
    struct Case {
        std::wstring in, out;
    } cases[] = {
        {L"", L""},
        {L" \t\r\n ", L""},
        {std::wstring(L"\0\x01" L"1.4.2\x1f\x20", 7), L"1.4.2"},
        {L"  two words  ", L"two words"},
        {L"\u00a0x\u00a0", L"\u00a0x\u00a0"},  // no-break space is not trimmed
        {L"\ufeffx", L"\ufeffx"},
        {L"\uff80x\uffff", L"\uff80x\uffff"},
        {L"a\r\nb\r\n", L"a\r\nb"},
    };
    for (const auto& c : cases) EXPECT_EQ(Trim(c.in), c.out) << testing::PrintToString(c.in);
}

TEST(Text, WidenSignExtendsEachByte) {
    const std::string bytes("A\x00\x7f\x80\xc3\xa3\xff", 7);
    const std::wstring wide = Widen(bytes);
    ASSERT_EQ(wide.size(), bytes.size());
    const wchar_t expected[] = {L'A', 0, 0x7f, 0xff80, 0xffc3, 0xffa3, 0xffff};
    for (size_t i = 0; i < wide.size(); ++i) EXPECT_EQ(wide[i], expected[i]) << i;
}

TEST(Text, ReadTextFileKeepsEveryByteAndMissingIsEmpty) {
    TempDir dir;
    const std::string raw("x\r\n\0y\xef", 6);
    WriteBytes(dir / L"a.txt", raw);
    EXPECT_EQ(ReadTextFile(dir / L"a.txt"), Widen(raw));
    EXPECT_EQ(ReadTextFile(dir / L"nope.txt"), L"");
}

struct LocalFilesTest : testing::Test {
    TempDir dir;
    void SetUp() override {
        g_config = LauncherConfig();
        g_localVersion = L"0.0.0";
        g_baseDir = dir.path;
    }
};

TEST_F(LocalFilesTest, VersionFileForms) {
    struct Case {
        const char* name;
        bool present;
        std::string bytes;
        std::wstring version;
    } cases[] = {
        {"crlf", true, "1.4.2\r\n", L"1.4.2"},
        {"blanks only", true, "  \r\n\t ", L"0.0.0"},
        {"empty", true, "", L"0.0.0"},
        {"missing", false, "", L"0.0.0"},
        {"two lines", true, "1.0\r\nbeta\r\n", L"1.0\r\nbeta"},
        {"utf8 bom", true, "\xef\xbb\xbf" "2.0", std::wstring(L"\uffef\uffbb\uffbf") + L"2.0"},
    };
    for (const auto& c : cases) {
        g_localVersion = L"0.0.0";
        DeleteFileW((dir / L"version.txt").c_str());
        if (c.present) WriteBytes(dir / L"version.txt", c.bytes);
        LoadConfigFiles();
        EXPECT_EQ(g_localVersion, c.version) << c.name;
    }
}

TEST_F(LocalFilesTest, NoIniGivesDefaults) {
    LoadConfigFiles();
    EXPECT_EQ(g_config.ServerName, L"Velmora");
    EXPECT_EQ(g_config.ConfigURL, L"");
    EXPECT_EQ(g_config.VersionURL, L"");
    EXPECT_EQ(g_config.UpdateURL, L"");
    EXPECT_EQ(g_config.ClientExe, L"velmoraclient.exe");
    EXPECT_EQ(g_config.SiteURL, kDefaultSiteURL);
    EXPECT_EQ(g_config.MinLauncherBuild, 0);
    EXPECT_EQ(std::wstring(kDefaultSiteURL).rfind(L"https://", 0), 0u);
}

TEST_F(LocalFilesTest, IniValuesAreTakenAsTheProfileApiReturnsThem) {
    const std::string longName(3000, 'N');
    WriteBytes(dir / L"launcher_config.ini",
               "[Other]\r\nServerName=Wrong\r\n"
               "[Launcher]\r\n"
               "ServerName=" + longName + "\r\n"
               "ConfigURL=\r\n"
               "VersionURL = \"http://h/v.txt\" \r\n"
               "UpdateURL=http://h/u.zip\r\n"
               "ClientExe=game\\client.exe\r\n"
               "MinLauncherBuild=99\r\n");
    LoadConfigFiles();
    EXPECT_EQ(g_config.ServerName, std::wstring(2047, L'N'));
    EXPECT_EQ(g_config.ConfigURL, L"");  // present but empty: not the default
    EXPECT_EQ(g_config.VersionURL, L"http://h/v.txt");
    EXPECT_EQ(g_config.UpdateURL, L"http://h/u.zip");
    EXPECT_EQ(g_config.ClientExe, L"game\\client.exe");
    EXPECT_EQ(g_config.SiteURL, kDefaultSiteURL);
    EXPECT_EQ(g_config.MinLauncherBuild, 0);
}

TEST(LocalConfig, BaseDirIsTheExecutablesFolder) {
    LoadLocalConfig();
    const std::wstring exe = ModulePath();
    ASSERT_FALSE(g_baseDir.empty());
    EXPECT_EQ(exe.compare(0, g_baseDir.size(), g_baseDir), 0);
    EXPECT_EQ(exe[g_baseDir.size()], L'\\');
    EXPECT_EQ(exe.find(L'\\', g_baseDir.size() + 1), std::wstring::npos);
}

TEST(Window, CentringAndTexts) {
    struct Case {
        int w, h, x, y;
    } cases[] = {{1366, 768, 433, 234}, {1920, 1080, 710, 390}, {489, 300, -5, 0}, {0, 0, -250, -150}};
    for (const auto& c : cases) {
        POINT p = CentredOrigin(c.w, c.h);
        EXPECT_EQ(p.x, c.x) << c.w;
        EXPECT_EQ(p.y, c.y) << c.h;
    }
    EXPECT_EQ(MainCaption(L"Velmora"), L"Velmora - Launcher");
    EXPECT_EQ(VersionLabel(L"1.0.1"), L"Vers\u00e3o: 1.0.1");
    EXPECT_EQ(ClientPath(L"C:\\Games\\V", L""), L"C:\\Games\\V\\bin\\");
    EXPECT_EQ(MissingClientMessage(L"C:\\x\\bin\\c.exe"), L"Execut\u00e1vel n\u00e3o encontrado:\nC:\\x\\bin\\c.exe");
}

}  // namespace
