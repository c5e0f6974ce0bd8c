#include <gtest/gtest.h>

#include "app/state.h"
#include "test_support.h"
#include "update/version.h"

namespace {

struct CommitTest : testing::Test {
    TempDir dir;
    std::wstring version, staging;
    void SetUp() override {
        g_baseDir = dir.path;
        version = dir / L"version.txt";
        staging = dir / L"version.txt.new";
    }
};

TEST_F(CommitTest, WritesExactlyTheLowByteOfEachUnit) {
    struct Case {
        const char* name;
        std::wstring version;
        std::string bytes;
    } cases[] = {
        {"plain", L"1.4.2", "1.4.2"},
        {"inner line feed", L"1.4\n2", "1.4\n2"},
        {"widened UTF-8", Widen("1.4-\xc3\xa3"), "1.4-\xc3\xa3"},
        {"NUL inside", std::wstring(L"1\0" L"2", 3), std::string("1\0" "2", 3)},
        {"wide unit keeps its low byte", L"v\u0141", "v\x41"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        g_localVersion = c.version;
        CommitVersionFile();
        EXPECT_EQ(ReadBytes(version), c.bytes);
        EXPECT_FALSE(Exists(staging));
    }
}

TEST_F(CommitTest, ReplacesOldFilesAndReadsBackEqual) {
    WriteBytes(version, "1.0.0\r\n");
    WriteBytes(staging, "stale staging text that is longer");
    g_localVersion = L"1.4\n2";
    CommitVersionFile();
    EXPECT_EQ(ReadBytes(version), "1.4\n2");
    EXPECT_FALSE(Exists(staging));
    g_localVersion = L"0.0.0";
    LoadConfigFiles();
    EXPECT_EQ(g_localVersion, L"1.4\n2");
}

TEST_F(CommitTest, LockedVersionFileKeepsTheOldVersion) {
    WriteBytes(version, "1.0.0");
    {
        FileHandle lock(CreateFileW(version.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock);
        g_localVersion = L"1.4.2";
        CommitVersionFile();
    }
    EXPECT_EQ(ReadBytes(version), "1.0.0");
}

TEST_F(CommitTest, LockedStagingFileMovesNothing) {
    WriteBytes(version, "1.0.0");
    WriteBytes(staging, "9.9.9");
    {
        FileHandle lock(CreateFileW(staging.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock);
        g_localVersion = L"1.4.2";
        CommitVersionFile();
    }
    EXPECT_EQ(ReadBytes(version), "1.0.0");
}

}  // namespace
