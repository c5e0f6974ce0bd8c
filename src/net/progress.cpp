#include "net/progress.h"

#include <windows.h>
#include <commctrl.h>

#include <cwchar>

#include "app/state.h"

namespace {
const double kBytesToMB = 9.5367431640625e-07;  // 2^-20, so the product is exact
}

ProgressView FormatProgress(uint32_t received, uint32_t expected) {
    ProgressView view = {};
    const double receivedMB = received * kBytesToMB;
    if (expected != 0) {
        view.movesBar = true;
        const uint64_t percent = static_cast<uint64_t>(received) * 100 / expected;
        view.position = static_cast<int32_t>(static_cast<uint32_t>(percent));
        std::swprintf(view.text, 128, L"Baixando... %.1f / %.1f MB", receivedMB, expected * kBytesToMB);
    } else {
        std::swprintf(view.text, 128, L"Baixando... %.1f MB", receivedMB);
    }
    return view;
}

void ShowDownloadProgress(uint32_t received, uint32_t expected) {
    const ProgressView view = FormatProgress(received, expected);
    if (view.movesBar) SendMessageW(g_hwndProgress, PBM_SETPOS, static_cast<WPARAM>(view.position), 0);
    SetWindowTextW(g_hwndStatus, view.text);
}
