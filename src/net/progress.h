// Turning download counters into the status line and the progress-bar position.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "net/transfer.h"

// What one progress report shows. Fixed storage: the report allocates nothing.
struct ProgressView {
    bool movesBar;  // false while the server sent no length: the bar keeps its place
    int position;   // percent, not clamped; a wrong length can push it past 100 (the bar stops at its end)
    wchar_t text[128];
};

// "Baixando... R / E MB", then, given the speed (bytes per second), " - S MB/s" (KB/s below
// 1000 KiB/s) and, with a length, " - T restantes" (seconds under a minute, then minutes, then
// hours and minutes; left out past 99 h).
ProgressView FormatProgress(uint64_t received, uint64_t expected,
                            std::optional<double> bytesPerSecond = std::nullopt);

// The download's pace as the status line shows it: the average of the first couple of seconds,
// then a moving average, so the figures do not jump between reports.
struct SpeedMeter {
    bool started = false;
    uint64_t firstMs = 0, lastMs = 0;
    uint64_t firstBytes = 0, lastBytes = 0;
    double bytesPerSecond = 0;
};
constexpr uint64_t kSpeedShownAfterMs = 2000;
constexpr double kSpeedSmoothingMs = 3000;
// The meter after a report of `received` bytes at `nowMs`; a count that went back (the file
// started over) starts it over.
SpeedMeter Measure(SpeedMeter meter, uint64_t nowMs, uint64_t received);
// Nothing until the meter has seen kSpeedShownAfterMs of data.
std::optional<double> ShownSpeed(const SpeedMeter& meter);

// The progress callable of one download shown on the window (the archive, a patch's ranges):
// moves the bar, then sets the status text with the speed and the time left.
ProgressCallback StatusProgress();

// The status line while a broken-off download waits `seconds` before it is resumed.
std::wstring ResumeWaitText(uint64_t seconds);
// The status line when address `failed` (from 1) of `count` could not give the archive.
std::wstring NextSourceText(size_t failed, size_t count);
