// Turning download counters into the status line and the progress-bar position.
#pragma once

#include <cstdint>
#include <string>

// What one progress report shows. Fixed storage: the report allocates nothing.
struct ProgressView {
    bool movesBar;  // false while the server sent no length: the bar keeps its place
    int position;   // percent, not clamped; a wrong length can push it past 100 (the bar stops at its end)
    wchar_t text[128];
};

ProgressView FormatProgress(uint64_t received, uint64_t expected);

// The progress callable of the update download: moves the bar, then sets the status text.
void ShowDownloadProgress(uint64_t received, uint64_t expected);

// The status line while a broken-off download waits `seconds` before it is resumed.
std::wstring ResumeWaitText(uint64_t seconds);
