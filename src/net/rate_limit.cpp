#include "net/rate_limit.h"

#include <algorithm>
#include <cmath>

namespace {
// Only the worker thread downloads, one body at a time.
uint64_t g_capBytesPerSecond = 0;
double g_capDue = 0;
}  // namespace

DWORD CappedReadSize(uint64_t bytesPerSecond, DWORD wanted) {
    const double share = static_cast<double>(bytesPerSecond) * kCapReadMs / 1000;
    return share >= wanted ? wanted : std::max<DWORD>(1, static_cast<DWORD>(share));
}

double PaidUntil(uint64_t bytesPerSecond, double due, double now, uint64_t bytes) {
    return std::max(due, now - kCapSlackMs) + static_cast<double>(bytes) * 1000 / static_cast<double>(bytesPerSecond);
}

void SetDownloadCap(uint64_t bytesPerSecond) {
    g_capBytesPerSecond = bytesPerSecond;
    g_capDue = 0;
}

bool ReadCapped(HINTERNET request, char* buffer, DWORD size, DWORD* got) {
    if (g_capBytesPerSecond == 0) return InternetReadFile(request, buffer, size, got) != FALSE;
    const bool ok = InternetReadFile(request, buffer, CappedReadSize(g_capBytesPerSecond, size), got) != FALSE;
    if (ok && *got > 0) {
        const double now = static_cast<double>(GetTickCount64());
        g_capDue = PaidUntil(g_capBytesPerSecond, g_capDue, now, *got);
        if (g_capDue > now) Sleep(static_cast<DWORD>(std::ceil(g_capDue - now)));
    }
    return ok;
}
