#include <gtest/gtest.h>

#include "app/state.h"
#include "test_support.h"
#include "update/version.h"

namespace {

// Over an old version.txt and a longer staging file left by an earlier run, version.txt gets
// exactly the given bytes; a locked file stops the commit, the old version stays and the
// commit says so. A scanner's handle (read, delete shared) blocks rewriting the stale staging
// file but not moving it: it must not be moved in unwritten.
TEST(CommitVersionFile, ReplacesExactlyOrLeavesTheOldVersion) {
    TempDir dir;
    g_baseDir = dir.path.wstring();
    const fs::path version = dir.path / L"version.txt", staging = dir.path / L"version.txt.new";
    const std::string bytes("1\0" "2\r\n\xc5\x81\xff", 7);  // a NUL, an inner line break, UTF-8 and a stray byte
    const struct {
        fs::path locked;
        DWORD share;
    } rows[] = {{fs::path(), 0}, {version, 0}, {staging, 0}, {staging, FILE_SHARE_READ | FILE_SHARE_DELETE}};
    for (const auto& [locked, share] : rows) {
        SCOPED_TRACE(locked.string() + " shared " + std::to_string(share));
        WriteBytes(version, "1.0.0\r\n");
        WriteBytes(staging, "stale staging text that is longer");
        FileHandle lock(CreateFileW(locked.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_EQ(!lock, locked.empty());
        EXPECT_EQ(CommitVersionFile(bytes), locked.empty());
        lock.reset();
        EXPECT_EQ(ReadBytes(version), locked.empty() ? bytes : "1.0.0\r\n");
        EXPECT_EQ(fs::exists(staging), !locked.empty());
    }
}

}  // namespace
