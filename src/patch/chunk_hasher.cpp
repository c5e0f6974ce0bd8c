#include "patch/chunk_hasher.h"

namespace {

bool Close(Sha256& hash, uint64_t start, uint64_t length, std::vector<FileChunk>& chunks) {
    const std::optional<std::array<uint8_t, 32>> digest = hash.Finish();
    if (!digest) return false;
    chunks.push_back({start, length, *digest});
    hash = Sha256();
    return true;
}

}  // namespace

void ChunkHasher::Update(const uint8_t* data, size_t size) {
    while (size > 0 && !failed_) {
        bool cut = false;
        const size_t take = cutter_.Feed(data, size, cut);
        failed_ = !hash_.Update(data, take);
        length_ += take;
        if (cut && !failed_) {
            failed_ = !Close(hash_, start_, length_, chunks_);
            start_ += length_;
            length_ = 0;
        }
        data += take;
        size -= take;
    }
}

std::optional<std::vector<FileChunk>> ChunkHasher::Finish() {
    if (length_ > 0 && !failed_) failed_ = !Close(hash_, start_, length_, chunks_);
    if (failed_) return std::nullopt;
    return std::move(chunks_);
}
