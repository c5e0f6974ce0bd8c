#include <gtest/gtest.h>

#include <array>

#include "app/state.h"
#include "app/window.h"
#include "test_support.h"

namespace {

TEST(Text, TrimRemovesOnlyUnitsUpToSpaceAtTheEnds) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"", L""}, {L" \t\r\n ", L""}, {std::wstring(L"\0\x01" L"1.4.2\x1f\x20", 7), L"1.4.2"},
        {L"  two words\r\nb\r\n", L"two words\r\nb"},
        // Units above U+0020 stay, the sign-extended high bytes included.
        {L"\u00a0\ufeffx\uff80\uffff", L"\u00a0\ufeffx\uff80\uffff"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(Trim(in), out) << testing::PrintToString(in);
}

TEST(Text, WidenSignExtendsEachByte) {
    EXPECT_EQ(Widen(std::string("A\0\x7f\x80\xc3\xa3\xff", 7)), std::wstring(L"A\0\x7f\uff80\uffc3\uffa3\uffff", 7));
}

struct LocalFilesTest : testing::Test {
    TempDir dir;
    void SetUp() override {
        g_config = LauncherConfig();
        g_baseDir = dir.path.wstring();
    }
};

// The whole file, every byte widened, then trimmed; a blank result keeps 0.0.0.
TEST_F(LocalFilesTest, VersionFileForms) {
    const std::pair<std::string, std::wstring> cases[] = {
        {"  \r\n\t ", L"0.0.0"}, {"1.0\r\nbeta\r\n", L"1.0\r\nbeta"},
        {std::string("1\0" "2\r\n", 5), std::wstring(L"1\0" L"2", 3)},
        {"\xef\xbb\xbf" "2.0", L"\uffef\uffbb\uffbf" L"2.0"},
    };
    for (const auto& [bytes, version] : cases) {
        g_localVersion = L"0.0.0";
        WriteBytes(dir.path / L"version.txt", bytes);
        LoadConfigFiles();
        EXPECT_EQ(g_localVersion, version) << testing::PrintToString(bytes);
    }
}

// Values as the profile API returns them: cut at 2047, an empty value is not the default,
// enclosing quotes go, MinLauncherBuild is not read.
TEST_F(LocalFilesTest, IniValuesAreTakenAsTheProfileApiReturnsThem) {
    WriteBytes(dir.path / L"launcher_config.ini",
               "[Other]\r\nServerName=Wrong\r\n[Launcher]\r\nServerName=" + std::string(3000, 'N') +
                   "\r\nConfigURL=\r\nVersionURL = \"http://h/v\" \r\nUpdateURL=u\r\nClientExe=game\\c.exe\r\n"
                   "MinLauncherBuild=99\r\n");
    LoadConfigFiles();
    EXPECT_EQ(Fields(g_config), std::wstring(2047, L'N') + L"||http://h/v|u|game\\c.exe|" + kDefaultSiteURL + L"|0");
}

// Signed arithmetic, truncating toward zero, on screens smaller than the window.
TEST(Window, CentringOnSmallScreens) {
    for (auto [w, h, x, y] : {std::array<LONG, 4>{489, 300, -5, 0}, {0, 0, -250, -150}})
        EXPECT_EQ(std::make_pair(CentredOrigin(w, h).x, CentredOrigin(w, h).y), std::make_pair(x, y)) << w;
}

}  // namespace
