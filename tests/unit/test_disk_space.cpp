#include <gtest/gtest.h>

#include "test_support.h"
#include "update/disk_space.h"

namespace {

// Whole MB of 1048576 bytes, rounded up: the player is never told to free less than needed.
TEST(DiskSpace, ShortfallRoundsUp) {
    const std::pair<uint64_t, const wchar_t*> cases[] = {
        {1, L"1"}, {1048576, L"1"}, {1048577, L"2"}, {uint64_t{5} << 30, L"5120"}, {UINT64_MAX, L"17592186044416"}};
    for (const auto& [bytes, megabytes] : cases)
        EXPECT_EQ(ShortfallText(bytes),
                  L"Espa\u00e7o insuficiente no disco (necess\u00e1rios " + std::wstring(megabytes) + L" MB).");
}

TEST(DiskSpace, AgainstTheFolder) {
    TempDir dir;
    EXPECT_EQ(FreeSpaceShortfall(dir.path.wstring(), 1), L"");
    EXPECT_EQ(FreeSpaceShortfall(dir.path.wstring(), UINT64_MAX), ShortfallText(UINT64_MAX));
}

}  // namespace
