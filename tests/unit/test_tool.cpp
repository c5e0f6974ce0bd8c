#include <gtest/gtest.h>

#include "tool/zip_listing.h"

namespace {

TEST(ZipListing, EntriesThatLeaveTheFolder) {
    const std::pair<const char*, bool> cases[] = {
        {"bin/game.exe", false}, {"a..b/c", false},  {"/etc/x", true},      {"\\x", true},
        {"C:x", true},           {"../x", true},      {"a/../../x", true},   {"a\\..\\x", true},
        {"a/..", true},
    };
    for (const auto& [name, escapes] : cases) EXPECT_EQ(EscapesFolder(name), escapes) << name;
}

// Little-endian fields for hand-made zip records.
std::string Le(uint64_t value, int width) {
    std::string out;
    for (int i = 0; i < width; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
    return out;
}

std::string EndRecord(uint64_t count, uint64_t size, uint64_t offset, const std::string& comment = "") {
    return "PK\x05\x06" + Le(0, 4) + Le(count, 2) + Le(count, 2) + Le(size, 4) + Le(offset, 4) +
           Le(comment.size(), 2) + comment;
}

std::string DirectoryEntry(const std::string& name, uint32_t size, const std::string& extra = "") {
    return "PK\x01\x02" + Le(0, 16) + Le(size, 4) + Le(size, 4) + Le(name.size(), 2) + Le(extra.size(), 2) +
           Le(0, 14) + name + extra;
}

TEST(ZipListing, DirectoryFromTheTail) {
    const std::string entry = DirectoryEntry("velmoraclient.exe", 5000);
    const std::string plain = std::string(100, 'x') + entry + EndRecord(1, entry.size(), 100, "a comment");
    // A 5 GB entry: sizes and the record positions in the zip64 forms.
    const std::string big = DirectoryEntry("big.bin", 0xFFFFFFFF, Le(1, 2) + Le(16, 2) + Le(5000000000, 8) + Le(5000000000, 8));
    const uint64_t bigAt = 5000000100;
    const std::string zip64End = "PK\x06\x06" + Le(44, 8) + Le(0, 4) + Le(0, 8) + Le(1, 8) + Le(1, 8) +
                                 Le(big.size(), 8) + Le(bigAt, 8);
    const std::string locator = "PK\x06\x07" + Le(0, 4) + Le(bigAt + big.size(), 8) + Le(1, 4);
    const std::string wide = big + zip64End + locator + EndRecord(0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF);

    const struct {
        std::string tail;
        uint64_t tailOffset;
        bool found;
        uint64_t offset, count;
        bool zip64;
    } cases[] = {
        {plain, 0, true, 100, 1, false},
        {EndRecord(0, 0, 0), 0, true, 0, 0, false},       // an empty zip
        {plain.substr(0, plain.size() - 1), 0, false},   // comment cut short
        {EndRecord(1, 46, 9000), 0, false},              // a directory past the end
        {wide, bigAt, true, bigAt, 1, true},
        {wide.substr(big.size() + 8), bigAt + big.size() + 8, false},  // zip64 record not in the tail
    };
    for (const auto& c : cases) {
        const std::optional<ZipEnd> end = FindZipEnd(c.tail, c.tailOffset);
        ASSERT_EQ(end.has_value(), c.found) << c.tail.size();
        if (!c.found) continue;
        EXPECT_EQ(std::make_tuple(end->directoryOffset, end->entryCount, end->zip64),
                  std::make_tuple(c.offset, c.count, c.zip64));
    }
    const auto entries = ReadZipDirectory(wide.substr(0, big.size()), 1);
    ASSERT_TRUE(entries);
    EXPECT_EQ(std::make_pair(entries->at(0).name, entries->at(0).size), std::make_pair(std::string("big.bin"), 5000000000ull));
    EXPECT_EQ(ReadZipDirectory(entry, 1)->at(0).size, 5000u);
    EXPECT_FALSE(ReadZipDirectory(entry, 2));                         // fewer entries than counted
    EXPECT_FALSE(ReadZipDirectory(entry.substr(0, entry.size() - 1), 1));  // name cut short
}

}  // namespace
