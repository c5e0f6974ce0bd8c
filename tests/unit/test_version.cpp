#include <gtest/gtest.h>

#include "app/state.h"
#include "test_support.h"
#include "update/version.h"

namespace {

// Over an old version.txt and a longer staging file left by an earlier run, version.txt gets
// exactly the low byte of each unit, a line feed staying one byte; a locked file stops the move
// and the old version stays.
TEST(CommitVersionFile, ReplacesExactlyOrLeavesTheOldVersion) {
    TempDir dir;
    g_baseDir = dir.path.wstring();
    const fs::path version = dir.path / L"version.txt", staging = dir.path / L"version.txt.new";
    for (const fs::path& locked : {fs::path(), version, staging}) {
        SCOPED_TRACE(locked.string());
        WriteBytes(version, "1.0.0\r\n");
        WriteBytes(staging, "stale staging text that is longer");
        FileHandle lock(CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_EQ(!lock, locked.empty());
        g_localVersion = std::wstring(L"1\0" L"2\u0141\n3", 6);  // a NUL, a unit above 0xFF, a line feed
        CommitVersionFile();
        lock.reset();
        EXPECT_EQ(ReadBytes(version), locked.empty() ? std::string("1\0" "2A\n3", 6) : "1.0.0\r\n");
        EXPECT_EQ(fs::exists(staging), !locked.empty());
    }
}

}  // namespace
