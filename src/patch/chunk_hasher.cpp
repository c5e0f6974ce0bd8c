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
    cuts_.clear();
    FindCuts(cutter_, data, size, cuts_);
    Update(data, size, cuts_);
}

void ChunkHasher::Update(const uint8_t* data, size_t size, const std::vector<size_t>& cuts) {
    size_t at = 0;
    for (const size_t cut : cuts) {
        if (failed_) return;
        length_ += cut - at;
        failed_ = !hash_.Update(data + at, cut - at) || !Close(hash_, start_, length_, chunks_);
        start_ += length_;
        length_ = 0;
        at = cut;
    }
    failed_ = failed_ || !hash_.Update(data + at, size - at);
    length_ += size - at;
}

std::optional<std::vector<FileChunk>> ChunkHasher::Finish() {
    if (length_ > 0 && !failed_) failed_ = !Close(hash_, start_, length_, chunks_);
    if (failed_) return std::nullopt;
    return std::move(chunks_);
}
