// Streaming an accepted response's body into a file.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <functional>

#include "net/request.h"

// Called with the body bytes in the file so far and the whole body's length (0 when unknown).
using ProgressCallback = std::function<void(uint64_t received, uint64_t expected)>;
// Sees every chunk as it is written, in order (to hash a file while it arrives).
using ChunkObserver = std::function<void(const char* data, size_t size)>;

struct Streamed {
    uint64_t written = 0;      // bytes this call added to the file
    bool readFailed = false;   // a read failed: dropped connection, or no byte within the receive time-out
    bool writeFailed = false;  // the disk refused a chunk; the file holds what came before it
    bool diskFull = false;     // ... because it had no room left
    bool overLimit = false;    // the body ran past `limit`; nothing beyond it was written
};

// Whether a write, or a change of a file's length, failed for want of room on the disk.
bool IsDiskFull(DWORD error);

// Writes all `size` bytes; when it cannot, `diskFull` tells whether the disk had no room left (a
// write that takes only some of them is taken as that).
bool WriteChunk(HANDLE file, const char* data, DWORD size, bool& diskFull);

// Reads `request` to its end in 64 KiB chunks, appending each to `file`. `before` bytes are in
// the file already and count toward progress and `limit` (0: none). Progress goes out after a
// chunk when 100 ms have passed since the last call, and once more after the loop unless a write
// failed. With a deadline, a read that ends past it fails (ReadPiece); without one, the reads keep
// to the download cap.
Streamed StreamBody(HINTERNET request, HANDLE file, uint64_t before, uint64_t expected, uint64_t limit,
                    const ProgressCallback& progress, const ChunkObserver& observer = ChunkObserver(),
                    const Deadline* deadline = nullptr);
