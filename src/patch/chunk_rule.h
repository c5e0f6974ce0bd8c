// Where a big stored file is cut into chunks: boundaries chosen by a rolling hash over the
// content itself, so an insertion or a deletion moves only the boundaries near it. The tool that
// lists the chunks and the launcher that looks for them in an old file cut by this one rule.
// Pure byte work.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// Files of this size or more, stored in the archive, are listed by their chunks.
constexpr uint64_t kChunkedFileBytes = uint64_t{4} << 20;
// No chunk but a file's last is shorter than kChunkMinBytes; none is longer than kChunkMaxBytes.
// Past the minimum a byte ends a chunk one time in 512 Ki, so lengths average about 0.8 MiB.
constexpr uint64_t kChunkMinBytes = uint64_t{256} << 10;
constexpr uint64_t kChunkMaxBytes = uint64_t{4} << 20;

// One chunk of a file's content.
struct FileChunk {
    uint64_t offset = 0;
    uint64_t length = 0;
    std::array<uint8_t, 32> sha256{};
};

// Finds the boundaries of a stream fed in pieces of any size: the boundaries depend only on the
// bytes, never on how they were split.
class ChunkCutter {
public:
    // How many of the `size` bytes belong to the chunk in progress: all of them, or fewer when
    // the chunk ends within them (`cut` is then set and the next byte starts a new chunk).
    size_t Feed(const uint8_t* data, size_t size, bool& cut);

private:
    uint64_t length_ = 0;  // of the chunk in progress
    uint64_t hash_ = 0;    // of the bytes looked at so far (only the last 64 count)
    uint8_t last_ = 0;     // the last byte fed
};

// The boundaries `cutter` finds in the next piece of its stream: for each chunk that ends in it,
// the offset just past the chunk's last byte.
void FindCuts(ChunkCutter& cutter, const uint8_t* data, size_t size, std::vector<size_t>& cuts);
