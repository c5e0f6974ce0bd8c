#include "patch/chunk_rule.h"

#include <emmintrin.h>

#include <algorithm>

namespace {

// A gear hash: each byte shifts the hash one bit and adds the byte's random word, so a hash bit
// k places up depends on the last k+1 bytes only. The mask tests the top bits, which depend on
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

// A boundary may follow only an anchor, a byte 0xA5 followed by one whose top four bits are 0101
// (one place in 4096), and does when the hash there has its 7 top bits clear: one byte in 512 Ki
// ends a chunk. Only anchors are hashed, each over the 64 bytes that end with it (the value the
// hash rolled over every byte would have), so the cost is the search for anchors, sixteen bytes at
// a time. Its bytes are neither padding nor text.
constexpr uint8_t kAnchorFirst = 0xA5, kAnchorHigh = 0x50, kHighBits = 0xF0;
constexpr uint64_t kMask = ~uint64_t{0} << (64 - 7);

bool IsAnchor(int before, uint8_t byte) { return before == kAnchorFirst && (byte & kHighBits) == kAnchorHigh; }

// The index of the second byte of the first anchor in data[at..end) (its first byte may be
// `before`, the byte preceding data[at], or -1), or end.
size_t NextAnchor(const uint8_t* data, size_t at, size_t end, int before) {
    if (at < end && IsAnchor(before, data[at])) return at;
    const __m128i first = _mm_set1_epi8(static_cast<char>(kAnchorFirst)), high = _mm_set1_epi8(static_cast<char>(kAnchorHigh));
    const __m128i highBits = _mm_set1_epi8(static_cast<char>(kHighBits));
    for (; at + 17 <= end; at += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + 1));
        auto found = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(_mm_and_si128(b, highBits), high))));
        if (found != 0) {
            for (; (found & 1) == 0; found >>= 1) ++at;
            return at + 1;
        }
    }
    for (; at + 1 < end; ++at)
        if (IsAnchor(data[at], data[at + 1])) return at + 1;
    return end;
}

// Rolls `hash` on through data[rolled..to): from at most 64 bytes back, as older ones would be
// shifted out of it anyway.
void Roll(const uint8_t* data, size_t& rolled, size_t to, uint64_t& hash) {
    if (to - rolled > 64) {
        hash = 0;
        rolled = to - 64;
    }
    for (; rolled < to; ++rolled) hash = (hash << 1) + kGear.words[data[rolled]];
}

}  // namespace

size_t ChunkCutter::Feed(const uint8_t* data, size_t size, bool& cut) {
    size_t at = 0;
    // The first kChunkMinBytes of a chunk are never a boundary: they are not even looked at.
    if (length_ < kChunkMinBytes) at = static_cast<size_t>(std::min<uint64_t>(kChunkMinBytes - length_, size));
    length_ += at;
    cut = false;
    const size_t end = at + static_cast<size_t>(std::min<uint64_t>(kChunkMaxBytes - length_, size - at));
    size_t rolled = at;  // hash_ stands for the bytes before data[rolled]
    // An anchor may straddle two pieces: the byte before this one counts if it was looked at.
    const int before = length_ > kChunkMinBytes && at == 0 ? last_ : -1;
    for (size_t anchor = NextAnchor(data, at, end, before); anchor < end && !cut;
         anchor = NextAnchor(data, anchor + 1, end, data[anchor])) {
        Roll(data, rolled, anchor + 1, hash_);
        cut = (hash_ & kMask) == 0;
    }
    if (!cut) Roll(data, rolled, end, hash_);  // the next piece goes on from here
    length_ += rolled - at;
    if (rolled > 0) last_ = data[rolled - 1];
    if (cut || length_ >= kChunkMaxBytes) {
        cut = true;
        length_ = 0;
        hash_ = 0;
    }
    return rolled;
}

void FindCuts(ChunkCutter& cutter, const uint8_t* data, size_t size, std::vector<size_t>& cuts) {
    for (size_t at = 0; at < size;) {
        bool cut = false;
        at += cutter.Feed(data + at, size - at, cut);
        if (cut) cuts.push_back(at);
    }
}
