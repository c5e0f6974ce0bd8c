#include "net/progress.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cwchar>

#include "app/state.h"

namespace {
const double kBytesToMB = 9.5367431640625e-07;  // 2^-20, so the product is exact
}

ProgressView FormatProgress(uint64_t received, uint64_t expected) {
    ProgressView view = {};
    const double receivedMB = static_cast<double>(received) * kBytesToMB;
    if (expected != 0) {
        view.movesBar = true;
        // Whole multiples first, then the remainder's share: the product cannot overflow.
        const uint64_t percent = received / expected * 100 + received % expected * 100 / expected;
        view.position = percent > INT32_MAX ? INT32_MAX : static_cast<int>(percent);
        std::swprintf(view.text, 128, L"Baixando... %.1f / %.1f MB", receivedMB,
                      static_cast<double>(expected) * kBytesToMB);
    } else {
        std::swprintf(view.text, 128, L"Baixando... %.1f MB", receivedMB);
    }
    return view;
}

void ShowDownloadProgress(uint64_t received, uint64_t expected) {
    const ProgressView view = FormatProgress(received, expected);
    if (view.movesBar) SendMessageW(g_hwndProgress, PBM_SETPOS, static_cast<WPARAM>(view.position), 0);
    SetWindowTextW(g_hwndStatus, view.text);
}

std::wstring ResumeWaitText(uint64_t seconds) {
    return L"Conex\u00e3o interrompida. Retomando em " + std::to_wstring(seconds) + L" s...";
}
