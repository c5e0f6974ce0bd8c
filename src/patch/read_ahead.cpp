#include "patch/read_ahead.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// One buffer's turn: read and looked at by the reading thread, then taken by the caller.
struct Piece {
    std::vector<char>* buffer = nullptr;
    PieceMarks marks;
    DWORD got = 0;
    bool read = false;  // holds a read's outcome not taken yet
    bool ok = true;
};

}  // namespace

bool ReadAhead(HANDLE file, std::vector<char>& first, std::vector<char>& second, const LookAtPiece& look,
               const TakePiece& take, const std::function<void(uint64_t)>& hashed) {
    Piece pieces[2] = {{&first, {}}, {&second, {}}};
    std::mutex mutex;
    std::condition_variable changed;
    bool stop = false;  // the caller is done: the reading thread ends at its next turn
    std::thread reader([&] {
        for (size_t k = 0;; k ^= 1) {
            Piece& piece = pieces[k];
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return !piece.read || stop; });
                if (stop) return;
            }
            DWORD got = 0;
            const bool ok = ReadFile(file, piece.buffer->data(), static_cast<DWORD>(piece.buffer->size()), &got, nullptr);
            piece.marks.clear();
            if (ok && got > 0) look(reinterpret_cast<const uint8_t*>(piece.buffer->data()), got, piece.marks);
            {
                const std::lock_guard<std::mutex> lock(mutex);
                piece.got = got;
                piece.ok = ok;
                piece.read = true;
            }
            changed.notify_all();
            if (!ok || got == 0) return;
        }
    });
    bool whole = false;
    uint64_t done = 0;
    for (size_t k = 0;; k ^= 1) {
        Piece& piece = pieces[k];
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return piece.read; });
        }
        if (!piece.ok || piece.got == 0) {
            whole = piece.ok;
            break;
        }
        take(reinterpret_cast<const uint8_t*>(piece.buffer->data()), piece.got, piece.marks);
        done += piece.got;
        if (hashed) hashed(done);
        {
            const std::lock_guard<std::mutex> lock(mutex);
            piece.read = false;
        }
        changed.notify_all();
    }
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stop = true;
    }
    changed.notify_all();
    reader.join();
    return whole;
}
