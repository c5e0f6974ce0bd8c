#include <gtest/gtest.h>

#include "app/state.h"
#include "fixture.h"
#include "test_support.h"
#include "update/version.h"

namespace {

struct RemoteTextTest : testing::Test {
    TempDir dir;
    void SetUp() override {
        g_baseDir = dir.path;
        g_localVersion = L"0.0.0";
    }
    std::wstring Temp() const { return dir / L"_tmp_version_check.txt"; }
};

TEST_F(RemoteTextTest, TrimmedTextAndTheTemporaryFile) {
    struct Case {
        const char* name;
        std::string script;
        std::wstring text;
        bool tempLeft;
    } cases[] = {
        {"blanks and CRLF", R"({"body": "  1.4.2\r\n"})", L"1.4.2", false},
        {"bare", R"({"body": "1.4.2"})", L"1.4.2", false},
        {"only blanks", R"({"body": " \r\n\t "})", L"", false},
        {"not found", R"({"status": 404, "type": "text/plain", "body": "Not Found"})", L"", false},
        {"html", R"({"type": "text/html", "body": "1.4.2"})", L"", false},
        {"cut short", R"({"body": "1.4.2 and a long tail", "drop_after": 5})", L"", true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileW(Temp().c_str());
        const std::string path = "/text" + std::to_string(n++);
        Script(path, c.script);
        EXPECT_EQ(FetchRemoteText(FixtureUrl(path)), c.text);
        EXPECT_EQ(Exists(Temp()), c.tempLeft);
    }
}

TEST_F(RemoteTextTest, StaleTemporaryFileIsReplacedThenRemoved) {
    WriteBytes(Temp(), "9.9.9 left over from a failed fetch");
    Script("/v", R"({"body": "2.0.0\n"})");
    EXPECT_EQ(FetchRemoteText(FixtureUrl("/v")), L"2.0.0");
    EXPECT_FALSE(Exists(Temp()));
}

// What the server published, fetched, committed and read back at the next start must be equal,
// or the update would run again at every start.
TEST_F(RemoteTextTest, FetchedVersionSurvivesCommitAndRestart) {
    struct Case {
        const char* name;
        std::string script;
        std::string bytes;  // version.txt afterwards
    } cases[] = {
        {"ascii", R"({"body": "1.4.2\r\n"})", "1.4.2"},
        {"utf-8", R"({"body_hex": "312e342d76c3a3e282ac"})", "1.4-v\xc3\xa3\xe2\x82\xac"},
        {"inner line feed", R"({"body": "1.4\n2"})", "1.4\n2"},
        {"inner CRLF", R"({"body": "1.4\r\n2"})", "1.4\r\n2"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = "/version" + std::to_string(n++);
        Script(path, c.script);
        g_remoteVersion = FetchRemoteText(FixtureUrl(path));
        g_localVersion = g_remoteVersion;
        CommitVersionFile();
        EXPECT_EQ(ReadBytes(dir / L"version.txt"), c.bytes);
        g_localVersion = L"0.0.0";
        LoadConfigFiles();
        EXPECT_EQ(g_localVersion, g_remoteVersion);
    }
}

}  // namespace
