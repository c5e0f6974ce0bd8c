#include <gtest/gtest.h>

#include "app/state.h"
#include "test_support.h"
#include "update/version.h"

namespace {

// Over an old version.txt and a longer staging file left by an earlier run, version.txt gets
// exactly the low byte of each unit; a locked file stops the move and the old version stays.
TEST(CommitVersionFile, ReplacesExactlyOrLeavesTheOldVersion) {
    TempDir dir;
    g_baseDir = dir.path;
    const std::wstring version = dir / L"version.txt", staging = dir / L"version.txt.new";
    for (const std::wstring& locked : {std::wstring(), version, staging}) {
        SCOPED_TRACE(testing::PrintToString(locked));
        WriteBytes(version, "1.0.0\r\n");
        WriteBytes(staging, "stale staging text that is longer");
        FileHandle lock(CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_EQ(!lock, locked.empty());
        g_localVersion = std::wstring(L"1\0" L"2\u0141", 4);  // a NUL, and a unit above 0xFF
        CommitVersionFile();
        lock.reset();
        EXPECT_EQ(ReadBytes(version), locked.empty() ? std::string("1\0" "2A", 4) : "1.0.0\r\n");
        EXPECT_EQ(Exists(staging), !locked.empty());
    }
}

}  // namespace
