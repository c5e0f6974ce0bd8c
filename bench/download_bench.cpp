// Throughput of DownloadFile against a bare WinINet read loop, in one process, to disk.
// Usage: download_bench <big-url> <warm-up-url> <output-file> <rounds>
// Prints one line per measurement; bench/run_bench.py turns them into medians and ratios.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/state.h"
#include "net/download.h"
#include "net/progress.h"

namespace {

double Now() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

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
    InternetHandle internet(InternetOpenW(L"bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    Response request = OpenUrl(internet.get(), url);
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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: download_bench <big-url> <warm-up-url> <output-file> <rounds>\n");
        return 2;
    }
    const std::wstring big = Wide(argv[1]), warm = Wide(argv[2]), out = Wide(argv[3]);
    const int rounds = std::atoi(argv[4]);

    // Load WinINet and touch every code path once before the baseline is taken.
    DownloadFile(warm, out, CountingProgress);
    BareLoop(warm, out);
    const PROCESS_MEMORY_COUNTERS base = Memory();
    std::printf("baseline working_set=%zu peak=%zu\n", base.WorkingSetSize, base.PeakWorkingSetSize);

    for (int round = 1; round <= rounds; ++round) {
        // Alternate which goes first so neither always meets a warmer or colder page cache.
        for (int turn = 0; turn < 2; ++turn) {
            const bool library = (turn == 0) == (round % 2 == 1);
            g_calls = 0;
            const double start = Now();
            bool ok = true;
            uint64_t bytes = 0;
            if (library) {
                ok = DownloadFile(big, out, CountingProgress);
                bytes = FileSize(out);
            } else {
                bytes = BareLoop(big, out);
            }
            const double seconds = Now() - start;
            const PROCESS_MEMORY_COUNTERS mem = Memory();
            std::printf("%s round=%d ok=%d bytes=%llu seconds=%.4f calls=%u busiest_second=%u peak=%zu\n",
                        library ? "downloadfile" : "bare", round, ok ? 1 : 0, static_cast<unsigned long long>(bytes),
                        seconds, library ? g_calls : 0, library ? BusiestSecond() : 0, mem.PeakWorkingSetSize);
            std::fflush(stdout);
        }
    }
    DeleteFileW(out.c_str());
    return 0;
}
