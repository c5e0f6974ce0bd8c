#include "net/remote_text.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/state.h"
#include "net/download.h"

namespace {
// A version or a configuration is a few lines: a longer body than asked for is a wrong URL (the
// archive, say), not something to hold in memory. A dead server gives Play back within half a
// minute, and one that sends a byte now and then within 30 s and at most one more read time-out;
// the caller waits kTextWait at most.
const Timeouts kTextTimeouts = {15000, 15000, 15000};
const DWORD kTextDeadlineMs = 30000;
// WinINet bounds neither the wait for the response's headers nor, under Wine, lets a closed
// handle end it: the caller stops waiting this long after the start, and leaves the fetch behind.
const std::chrono::milliseconds kTextWait(kTextDeadlineMs + 5000);

std::atomic<unsigned> g_fetchCount{0};

// One fetch through a temporary file of its own, deleted whatever happens: a fetch left behind
// must never meet the next one's file. The name is only formed here: DownloadFile creates the
// file once headers came, so a launcher closed while they are awaited leaves nothing.
std::optional<std::string> FetchThroughFile(const std::wstring& url, uint64_t maxBytes) {
    wchar_t folder[MAX_PATH + 1] = {};
    if (!GetTempPathW(MAX_PATH + 1, folder)) return std::nullopt;
    const std::wstring path = folder + (L"velmora-text-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                        std::to_wstring(++g_fetchCount) + L".tmp");
    std::optional<std::string> bytes;
    if (DownloadFile(url, path, ProgressCallback(), {maxBytes, kTextTimeouts, kTextDeadlineMs}))
        bytes = ReadFileBytes(path);
    DeleteFileW(path.c_str());
    return bytes;
}

// What the fetch's thread and its caller share; the thread keeps it alive once the caller gives up.
struct PendingFetch {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    std::optional<std::string> bytes;
};
}  // namespace

std::optional<std::string> FetchRemoteBytes(const std::wstring& url, uint64_t maxBytes) {
    // The name earlier launchers fetched through: one they left must not linger.
    DeleteFileW((g_baseDir + L"\\_tmp_version_check.txt").c_str());
    const auto pending = std::make_shared<PendingFetch>();
    try {
        std::thread([pending, url, maxBytes] {
            std::optional<std::string> bytes = FetchThroughFile(url, maxBytes);
            const std::lock_guard<std::mutex> hold(pending->lock);
            pending->bytes = std::move(bytes);
            pending->done = true;
            pending->finished.notify_one();
        }).detach();
    } catch (const std::system_error&) {
        return FetchThroughFile(url, maxBytes);  // no thread to spare: unbounded, but still an answer
    }
    std::unique_lock<std::mutex> hold(pending->lock);
    if (!pending->finished.wait_for(hold, kTextWait, [&pending] { return pending->done; })) return std::nullopt;
    return std::move(pending->bytes);
}

std::wstring DecodeRemoteText(const std::string& bytes) { return Trim(DecodeText(TrimBytes(bytes))); }

std::wstring FetchRemoteText(const std::wstring& url, std::string* trimmedBytes) {
    const std::optional<std::string> bytes = FetchRemoteBytes(url);
    if (trimmedBytes) *trimmedBytes = bytes ? TrimBytes(*bytes) : std::string();
    return bytes ? DecodeRemoteText(*bytes) : std::wstring();
}
