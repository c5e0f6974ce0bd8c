// The chunks of a big old file, read once: its SHA-256s are independent chunk by chunk, so two
// threads hash them, one chunk each at a time. Without the install record this is what a patch
// of a big pack waits for.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "patch/chunk_rule.h"

// The chunks of `file` from its current position to its end, as ChunkHasher finds them; `done` is
// told the bytes read so far. `buffer` holds one window of the file at a time (a few chunks' worth).
// Nothing when a read or a hash fails.
std::optional<std::vector<FileChunk>> ScanChunks(HANDLE file, std::vector<char>& buffer,
                                                 const std::function<void(uint64_t done)>& done);
