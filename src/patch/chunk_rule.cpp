#include "patch/chunk_rule.h"

#include <algorithm>
#include <utility>

namespace {

// A gear hash: each byte shifts the hash one bit and adds the byte's random word, so a hash bit
// k places up depends on the last k+1 bytes only. The masks test the top bits, which depend on
// the last 64 bytes.
struct GearTable {
    uint64_t words[256] = {};
    constexpr GearTable() {
        uint64_t seed = 0x56656C6D6F726121;  // splitmix64: fixed, so every build cuts alike
        for (uint64_t& word : words) {
            uint64_t z = (seed += 0x9E3779B97F4A7C15);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
            word = z ^ (z >> 31);
        }
    }
};
constexpr GearTable kGear;

// 21 top bits before the normal length (a cut one byte in 2 MiB), 17 after (one in 128 KiB).
constexpr uint64_t kHardMask = ~uint64_t{0} << (64 - 21);
constexpr uint64_t kEasyMask = ~uint64_t{0} << (64 - 17);

// Runs the hash from data[at] on until it matches `mask` (true, `at` just past that byte) or
// reaches `end` (false). Four bytes a step: the hash four bytes on is the hash shifted by four
// plus a sum that does not wait for it, so the bytes in between are tested off the chain that
// sets the pace.
bool Scan(const uint8_t* data, size_t& at, size_t end, uint64_t& hash, uint64_t mask) {
    const uint64_t* gear = kGear.words;
    uint64_t h = hash;
    size_t i = at;
    for (; i + 4 <= end; i += 4) {
        const uint64_t g1 = gear[data[i]], g2 = gear[data[i + 1]], g3 = gear[data[i + 2]], g4 = gear[data[i + 3]];
        const uint64_t h1 = (h << 1) + g1, h2 = (h << 2) + (g1 << 1) + g2, h3 = (h2 << 1) + g3;
        const uint64_t h4 = (h << 4) + (((g1 << 1) + g2) << 2) + (g3 << 1) + g4;
        if (((h1 & mask) && (h2 & mask) && (h3 & mask) && (h4 & mask))) {
            h = h4;
            continue;
        }
        break;  // a match within these four: found byte by byte below
    }
    bool found = false;
    while (i < end && !found) {
        h = (h << 1) + gear[data[i++]];
        found = (h & mask) == 0;
    }
    hash = h;
    at = i;
    return found;
}

}  // namespace

size_t ChunkCutter::Feed(const uint8_t* data, size_t size, bool& cut) {
    size_t at = 0;
    // The first kChunkMinBytes of a chunk are never a boundary: they are not even hashed.
    if (length_ < kChunkMinBytes) at = static_cast<size_t>(std::min<uint64_t>(kChunkMinBytes - length_, size));
    length_ += at;
    cut = false;
    for (const auto& [limit, mask] : {std::pair{kChunkNormalBytes, kHardMask}, std::pair{kChunkMaxBytes, kEasyMask}}) {
        if (cut || at == size || length_ >= limit) continue;
        const size_t from = at;
        cut = Scan(data, at, from + static_cast<size_t>(std::min<uint64_t>(limit - length_, size - from)), hash_, mask);
        length_ += at - from;
    }
    if (cut || length_ >= kChunkMaxBytes) {
        cut = true;
        length_ = 0;
        hash_ = 0;
    }
    return at;
}
