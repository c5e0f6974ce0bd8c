// Downloads measured side by side in one process, to disk: a bare WinINet read loop, DownloadFile,
// and the update archive's download without and with its SHA-256 (the launcher verifying), and the
// SHA-256 alone from memory;
// then an archive broken off three times against the same archive unbroken; then the memory of
// one very large DownloadFile.
// The first two also run against a server paced to a gigabit line, as a fast home connection
// would feed them.
//   download_bench <big> <warm> <clean> <drops> <huge> <paced> <output-file> <rounds>
// "<drops-url>?round=N" breaks off anew for every round. One line per measurement;
// bench/run_bench.py turns them into medians and ratios.
//   download_bench cap <url> <output-file> <KiB per second>
// The archive download under MaxDownloadKBps, every progress call's time and count on a line.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/state.h"
#include "bench_clock.h"
#include "net/download.h"
#include "net/progress.h"
#include "net/rate_limit.h"
#include "net/resume.h"
#include "verify/verify.h"

namespace {


PROCESS_MEMORY_COUNTERS Memory() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters;
}

uint64_t FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The same requests DownloadFile sends, with none of its checks: the floor to compare with.
uint64_t BareLoop(const std::wstring& url, const std::wstring& path) {
    InternetHandle session = OpenSession();
    Response request = OpenUrl(session.get(), url);
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!request || !file) return 0;
    static char buffer[65536];
    uint64_t total = 0;
    DWORD got = 0, written = 0;
    while (InternetReadFile(request.get(), buffer, sizeof(buffer), &got) && got > 0) {
        if (!WriteFile(file.get(), buffer, got, &written, nullptr)) return 0;
        total += got;
    }
    return total;
}

// What ShowDownloadProgress does, short of the window: the formatting is the part that costs.
// Each call's time is kept (in fixed storage) to find the busiest one-second window.
const unsigned kMaxCalls = 1 << 16;
double g_callTimes[kMaxCalls];
unsigned g_calls = 0;
volatile int g_sink = 0;
void CountingProgress(uint64_t received, uint64_t expected) {
    const ProgressView view = FormatProgress(received, expected);
    g_sink = g_sink + view.position + view.text[12];
    if (g_calls < kMaxCalls) g_callTimes[g_calls] = Now();
    ++g_calls;
}

unsigned BusiestSecond() {
    unsigned best = 0;
    const unsigned n = g_calls < kMaxCalls ? g_calls : kMaxCalls;
    for (unsigned first = 0, last = 0; last < n; ++last) {
        while (g_callTimes[last] - g_callTimes[first] >= 1.0) ++first;
        if (last - first + 1 > best) best = last - first + 1;
    }
    return best;
}

std::wstring Wide(const char* text) { return std::wstring(text, text + strlen(text)); }

// The archive download as the worker runs it, with the SHA-256 it takes when a digest or key is set.
bool Archive(const std::wstring& url, const std::wstring& path, const ResumePolicy& policy, bool hashed) {
    Sha256 hash;
    ArchiveHooks hooks;
    hooks.progress = CountingProgress;
    if (hashed) {
        hooks.restarting = [&hash] { hash = Sha256(); };
        hooks.chunk = [&hash](const char* data, size_t size) { hash.Update(data, size); };
    }
    return DownloadArchive(url, L"bench", path, hooks, policy) && (!hashed || hash.Finish().has_value());
}

void Report(const char* kind, int round, bool ok, uint64_t bytes, double seconds) {
    std::printf("%s round=%d ok=%d bytes=%llu seconds=%.4f calls=%u busiest_second=%u peak=%zu\n", kind, round,
                ok ? 1 : 0, static_cast<unsigned long long>(bytes), seconds, g_calls, BusiestSecond(),
                Memory().PeakWorkingSetSize);
    std::fflush(stdout);
}

}  // namespace

// The pass's cap set as the launcher sets it; the download reports each progress call.
int Capped(const std::wstring& url, const std::wstring& out, uint64_t kbps) {
    SetDownloadCap(kbps * 1024);
    ArchiveHooks hooks;
    const double start = Now();
    hooks.progress = [start](uint64_t received, uint64_t) {
        std::printf("sample %.4f %llu\n", Now() - start, static_cast<unsigned long long>(received));
    };
    ResumePolicy policy;
    policy.firstWaitMs = 0;
    const bool ok = DownloadArchive(url, L"bench", out, hooks, policy);
    std::printf("capped ok=%d bytes=%llu seconds=%.4f\n", ok ? 1 : 0, static_cast<unsigned long long>(FileSize(out)),
                Now() - start);
    DeleteFileW(out.c_str());
    return ok ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "cap") == 0)
        return Capped(Wide(argv[2]), Wide(argv[3]), std::strtoull(argv[4], nullptr, 10));
    if (argc != 9) {
        std::fprintf(stderr, "usage: download_bench <big> <warm> <clean> <drops> <huge> <paced> <output> <rounds>\n");
        return 2;
    }
    const std::wstring big = Wide(argv[1]), warm = Wide(argv[2]), clean = Wide(argv[3]), drops = Wide(argv[4]),
                       huge = Wide(argv[5]), paced = Wide(argv[6]), out = Wide(argv[7]);
    const int rounds = std::atoi(argv[8]);
    ResumePolicy noWaits;
    noWaits.firstWaitMs = 0;  // the configured pauses are not what is measured

    // Load WinINet and CNG and touch every code path once before anything is timed.
    DownloadFile(warm, out, CountingProgress);
    Archive(warm, out, noWaits, true);
    BareLoop(warm, out);

    for (int round = 1; round <= rounds; ++round) {
        // Rotate the order so that none always meets a warmer or colder page cache.
        static const char* const kinds[] = {"bare", "downloadfile", "archive", "hashed"};
        for (int turn = 0; turn < 4; ++turn) {
            const int which = (turn + round) % 4;
            g_calls = 0;
            const double start = Now();
            bool ok = true;
            uint64_t bytes = 0;
            if (which == 0) {
                bytes = BareLoop(big, out);
            } else {
                ok = which == 1 ? DownloadFile(big, out, CountingProgress) : Archive(big, out, noWaits, which == 3);
                bytes = FileSize(out);
            }
            Report(kinds[which], round, ok, bytes, Now() - start);
        }
        {
            // The hash alone over as many bytes, from memory: what the SHA-256 costs in CPU.
            static char piece[1 << 20];
            const uint64_t total = FileSize(out);
            const double start = Now();
            Sha256 hash;
            for (uint64_t done = 0; done < total; done += sizeof(piece))
                hash.Update(piece, static_cast<size_t>(total - done < sizeof(piece) ? total - done : sizeof(piece)));
            Report("sha256", round, hash.Finish().has_value(), total, Now() - start);
        }
        for (int turn = 0; turn < 2; ++turn) {
            const bool broken = (turn == 0) == (round % 2 == 1);
            g_calls = 0;
            const double start = Now();
            const std::wstring url = broken ? drops + L"?round=" + std::to_wstring(round) : clean;
            const bool ok = Archive(url, out, noWaits, true);
            Report(broken ? "dropped" : "clean", round, ok, FileSize(out), Now() - start);
        }
        static const char* const pacedKinds[] = {"paced_bare", "paced_archive", "paced_hashed"};
        for (int turn = 0; turn < 3; ++turn) {
            const int which = (turn + round) % 3;
            g_calls = 0;
            const double start = Now();
            const bool ok = which == 0 ? BareLoop(paced, out) > 0 : Archive(paced, out, noWaits, which == 2);
            Report(pacedKinds[which], round, ok, FileSize(out), Now() - start);
        }
    }
    DeleteFileW(out.c_str());

    const PROCESS_MEMORY_COUNTERS before = Memory();
    g_calls = 0;
    const double start = Now();
    const bool ok = DownloadFile(huge, L"NUL", CountingProgress);
    std::printf("huge before=%zu\n", before.PeakWorkingSetSize);
    Report("after", 1, ok, 0, Now() - start);
    return 0;
}
