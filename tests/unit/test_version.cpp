#include <gtest/gtest.h>

#include "app/state.h"
#include "test_support.h"
#include "update/version.h"

namespace {

// Over an old version.txt and a longer staging file left by an earlier run, version.txt gets
// exactly the given bytes; a locked file stops the move, the old version stays and the
// commit says so.
TEST(CommitVersionFile, ReplacesExactlyOrLeavesTheOldVersion) {
    TempDir dir;
    g_baseDir = dir.path.wstring();
    const fs::path version = dir.path / L"version.txt", staging = dir.path / L"version.txt.new";
    const std::string bytes("1\0" "2\r\n\xc5\x81\xff", 7);  // a NUL, an inner line break, UTF-8 and a stray byte
    for (const fs::path& locked : {fs::path(), version, staging}) {
        SCOPED_TRACE(locked.string());
        WriteBytes(version, "1.0.0\r\n");
        WriteBytes(staging, "stale staging text that is longer");
        FileHandle lock(CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_EQ(!lock, locked.empty());
        EXPECT_EQ(CommitVersionFile(bytes), locked.empty());
        lock.reset();
        EXPECT_EQ(ReadBytes(version), locked.empty() ? bytes : "1.0.0\r\n");
        EXPECT_EQ(fs::exists(staging), !locked.empty());
    }
}

}  // namespace
