#include "patch/chunk_scan.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "verify/verify.h"

namespace {

// Runs one job at a time on a thread of its own, for the whole scan: under Wine a thread for each
// window cost more than the hashing it took over.
class Helper {
public:
    Helper() : thread_([this] { Run(); }) {}
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;
    ~Helper() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    void Start(std::function<void()> job) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            job_ = std::move(job);
        }
        changed_.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !job_; });
    }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return job_ || stop_; });
            if (!job_) return;
            lock.unlock();
            job_();
            lock.lock();
            job_ = nullptr;
            changed_.notify_all();
        }
    }

    std::function<void()> job_;
    bool stop_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;  // last: it starts once the rest is made
};

}  // namespace

std::optional<std::vector<FileChunk>> ScanChunks(HANDLE file, std::vector<char>& buffer,
                                                 const std::function<void(uint64_t done)>& done) {
    ChunkCutter cutter;
    Helper helper;
    std::vector<FileChunk> chunks;
    std::vector<size_t> cuts;
    Sha256 open;                    // of the chunk the last window ended in
    uint64_t start = 0, read = 0;  // where that chunk starts; the bytes read
    bool failed = false;
    for (DWORD got = 0;; read += got) {
        if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return std::nullopt;
        if (got == 0) break;
        const auto* data = reinterpret_cast<const uint8_t*>(buffer.data());
        cuts.clear();
        FindCuts(cutter, data, got, cuts);
        if (cuts.empty()) {
            failed = failed || !open.Update(data, got);
        } else {
            // The open chunk ends at the first cut; the chunks between two cuts lie whole in the
            // window and are hashed alternately here and on a helper thread; the last one stays open.
            failed = failed || !open.Update(data, cuts[0]);
            const std::optional<std::array<uint8_t, 32>> first = open.Finish();
            failed = failed || !first;
            chunks.push_back({start, read + cuts[0] - start, first.value_or(std::array<uint8_t, 32>{})});
            const size_t whole = cuts.size() - 1;
            std::vector<std::optional<std::array<uint8_t, 32>>> digests(whole);
            const size_t step = whole > 1 ? 2 : 1;
            const auto hashFrom = [&](size_t from) {
                for (size_t i = from; i < whole; i += step)
                    digests[i] = Sha256Of({buffer.data() + cuts[i], cuts[i + 1] - cuts[i]});
            };
            if (step == 2) helper.Start([&hashFrom] { hashFrom(1); });
            hashFrom(0);
            if (step == 2) helper.Wait();
            for (size_t i = 0; i < whole; ++i) {
                failed = failed || !digests[i];
                chunks.push_back({read + cuts[i], cuts[i + 1] - cuts[i], digests[i].value_or(std::array<uint8_t, 32>{})});
            }
            open = Sha256();
            start = read + cuts.back();
            failed = failed || !open.Update(data + cuts.back(), got - cuts.back());
        }
        if (done) done(read + got);
    }
    if (read > start) {
        const std::optional<std::array<uint8_t, 32>> last = open.Finish();
        failed = failed || !last;
        chunks.push_back({start, read - start, last.value_or(std::array<uint8_t, 32>{})});
    }
    if (failed) return std::nullopt;
    return chunks;
}
