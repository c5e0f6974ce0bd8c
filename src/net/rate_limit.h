// The player's cap on download speed (MaxDownloadKBps): every body the pass downloads shares
// one pace, so a shared line keeps the rest of its room.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>

// The cap's arithmetic, apart from any clock. `due` is the moment (ms) by which the bytes taken
// so far are paid for at the cap; an idle spell earns at most kCapSlackMs of credit, and one read
// asks for at most kCapReadMs of the cap, so any span of T ms carries at most T + 100 ms worth.
constexpr double kCapSlackMs = 50;
constexpr double kCapReadMs = 50;
// The largest read that stays within one read's share of the cap (at least 1 byte).
DWORD CappedReadSize(uint64_t bytesPerSecond, DWORD wanted);
// `due` once `bytes` more arrived at `now`; the reader waits until then.
double PaidUntil(uint64_t bytesPerSecond, double due, double now, uint64_t bytes);

// Set once per pass, before any download; 0 removes the cap.
void SetDownloadCap(uint64_t bytesPerSecond);
// InternetReadFile under the cap: a smaller read when capped, then the wait that keeps the pace.
bool ReadCapped(HINTERNET request, char* buffer, DWORD size, DWORD* got);
