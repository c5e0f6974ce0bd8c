#include "net/transfer.h"

#include <vector>

#include "net/rate_limit.h"

namespace {
const DWORD kBodyChunk = 65536;
const DWORD kProgressIntervalMs = 100;
}  // namespace

bool IsDiskFull(DWORD error) { return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL; }

bool WriteChunk(HANDLE file, const char* data, DWORD size, bool& diskFull) {
    DWORD put = 0;
    const BOOL wrote = WriteFile(file, data, size, &put, nullptr);
    if (wrote && put == size) return true;
    diskFull = wrote || IsDiskFull(GetLastError());  // a short write: the disk is full
    return false;
}

Streamed StreamBody(HINTERNET request, HANDLE file, uint64_t before, uint64_t expected, uint64_t limit,
                    const ProgressCallback& progress, const ChunkObserver& observer, const Deadline* deadline) {
    Streamed result;
    std::vector<char> buffer(kBodyChunk);  // the thread's stack is not the place for 64 KiB
    DWORD lastTick = 0;
    for (;;) {
        DWORD got = 0;
        // A fetch held to a deadline (a remote text, a few bytes) is not slowed: it would miss it.
        if (deadline ? !ReadPiece(request, buffer.data(), kBodyChunk, &got, deadline)
                     : !ReadCapped(request, buffer.data(), kBodyChunk, &got)) {
            result.readFailed = true;
            break;
        }
        if (got == 0) break;
        const uint64_t total = before + result.written;
        if (limit != 0 && got > limit - total) {
            result.overLimit = true;
            break;
        }
        if (!WriteChunk(file, buffer.data(), got, result.diskFull)) {
            result.writeFailed = true;
            return result;
        }
        if (observer) observer(buffer.data(), got);
        result.written += got;
        if (progress) {
            const DWORD now = GetTickCount();
            if (now - lastTick >= kProgressIntervalMs) {
                lastTick = now;
                progress(before + result.written, expected);
            }
        }
    }
    if (progress) progress(before + result.written, expected);
    return result;
}
