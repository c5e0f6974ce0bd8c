#include <gtest/gtest.h>

#include "app/state.h"
#include "fixture.h"
#include "test_support.h"
#include "update/version.h"

namespace {

// Each fetch finds the temporary file of an earlier failed fetch, and none leaves one. A fetched version is committed and read back as at the next start: stored byte for byte
// and equal, or the update would run again at every start. UTF-8 is decoded (its mark
// dropped), other bytes widened one by one.
TEST(RemoteText, FetchCommitAndRestart) {
    TempDir dir;
    g_baseDir = dir.path;
    const std::wstring temp = dir / L"_tmp_version_check.txt";
    struct Case {
        std::string script;
        std::string bytes;  // the trimmed body, and version.txt afterwards
        std::wstring text;
    } cases[] = {
        {R"({"body": "2.0.0\n"})", "2.0.0", L"2.0.0"},
        {R"({"body": " \r\n\t "})", "", L""},
        {R"({"body": "1.4.2 and a long tail", "drop_after": 5})", "", L""},
        {R"({"body_hex": "312e342d76c3a3e282ac"})", "1.4-v\xc3\xa3\xe2\x82\xac", L"1.4-v\u00e3\u20ac"},
        {R"({"body_hex": "efbbbf20322e300d0a"})", "\xef\xbb\xbf 2.0", L"2.0"},  // marked UTF-8
        {R"({"body_hex": "312e342d76e3"})", "1.4-v\xe3", L"1.4-v\uffe3"},        // not UTF-8
        {R"({"body": "1.4\n2"})", "1.4\n2", L"1.4\n2"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        WriteBytes(temp, "9.9.9 left over from a failed fetch");
        const std::string path = "/text" + std::to_string(n++);
        Script(path, c.script);
        std::string bytes = "stale";
        g_remoteVersion = FetchRemoteText(FixtureUrl(path), &bytes);
        EXPECT_EQ(g_remoteVersion, c.text);
        EXPECT_EQ(bytes, c.bytes);
        EXPECT_FALSE(Exists(temp));
        if (c.text.empty()) continue;
        EXPECT_TRUE(CommitVersionFile(bytes));
        EXPECT_EQ(ReadBytes(dir / L"version.txt"), c.bytes);
        g_localVersion = L"0.0.0";
        LoadConfigFiles();
        EXPECT_EQ(g_localVersion, g_remoteVersion);
    }
}

}  // namespace
