// The chunks of a stream: cut by the chunk rule, each with its SHA-256.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "patch/chunk_rule.h"
#include "verify/verify.h"

class ChunkHasher {
public:
    void Update(const uint8_t* data, size_t size);
    // Every chunk of what was fed, the last one ending with it; nothing when hashing failed.
    std::optional<std::vector<FileChunk>> Finish();

private:
    ChunkCutter cutter_;
    Sha256 hash_;
    uint64_t start_ = 0, length_ = 0;  // of the chunk in progress
    bool failed_ = false;
    std::vector<FileChunk> chunks_;
};
