#include "net/progress.h"

#include <windows.h>
#include <commctrl.h>

#include <cmath>
#include <cstdint>
#include <cwchar>

#include "app/state.h"

namespace {
const double kBytesToMB = 9.5367431640625e-07;  // 2^-20, so the product is exact
const double kLongestShownSeconds = 99.0 * 3600;

// " - S KB/s" or " - S MB/s", then the time left when the length is known (`expected` not 0).
void AppendSpeed(wchar_t* out, size_t room, double bytesPerSecond, uint64_t received, uint64_t expected) {
    const int n = bytesPerSecond < 1000 * 1024
                      ? std::swprintf(out, room, L" - %.0f KB/s", bytesPerSecond / 1024)
                      : std::swprintf(out, room, L" - %.1f MB/s", bytesPerSecond * kBytesToMB);
    if (n <= 0 || expected == 0 || bytesPerSecond <= 0) return;
    const uint64_t left = expected > received ? expected - received : 0;
    const double exact = std::ceil(static_cast<double>(left) / bytesPerSecond);
    if (exact > kLongestShownSeconds) return;
    const auto seconds = static_cast<unsigned>(exact);
    const unsigned minutes = (seconds + 30) / 60;
    out += n;
    room -= static_cast<size_t>(n);
    if (seconds < 60)
        std::swprintf(out, room, L" - %u s restantes", seconds);
    else if (minutes < 60)
        std::swprintf(out, room, L" - %u min restantes", minutes);
    else if (minutes % 60 == 0)
        std::swprintf(out, room, L" - %u h restantes", minutes / 60);
    else
        std::swprintf(out, room, L" - %u h %u min restantes", minutes / 60, minutes % 60);
}
}  // namespace

ProgressView FormatProgress(uint64_t received, uint64_t expected, std::optional<double> bytesPerSecond) {
    ProgressView view = {};
    const double receivedMB = static_cast<double>(received) * kBytesToMB;
    int n = 0;
    if (expected != 0) {
        view.movesBar = true;
        // Whole multiples first, then the remainder's share: the product cannot overflow.
        const uint64_t percent = received / expected * 100 + received % expected * 100 / expected;
        view.position = percent > INT32_MAX ? INT32_MAX : static_cast<int>(percent);
        n = std::swprintf(view.text, 128, L"Baixando... %.1f / %.1f MB", receivedMB,
                          static_cast<double>(expected) * kBytesToMB);
    } else {
        n = std::swprintf(view.text, 128, L"Baixando... %.1f MB", receivedMB);
    }
    if (bytesPerSecond && n > 0)
        AppendSpeed(view.text + n, 128 - static_cast<size_t>(n), *bytesPerSecond, received, expected);
    return view;
}

SpeedMeter Measure(SpeedMeter meter, uint64_t nowMs, uint64_t received) {
    if (!meter.started || received < meter.lastBytes) return {true, nowMs, nowMs, received, received, 0};
    if (nowMs <= meter.lastMs) return meter;
    const double span = static_cast<double>(nowMs - meter.lastMs);
    if (nowMs - meter.firstMs < kSpeedShownAfterMs || meter.lastMs == meter.firstMs) {
        meter.bytesPerSecond =
            static_cast<double>(received - meter.firstBytes) * 1000 / static_cast<double>(nowMs - meter.firstMs);
    } else {
        const double recent = static_cast<double>(received - meter.lastBytes) * 1000 / span;
        meter.bytesPerSecond += span / (kSpeedSmoothingMs + span) * (recent - meter.bytesPerSecond);
    }
    meter.lastMs = nowMs;
    meter.lastBytes = received;
    return meter;
}

std::optional<double> ShownSpeed(const SpeedMeter& meter) {
    if (!meter.started || meter.lastMs - meter.firstMs < kSpeedShownAfterMs) return std::nullopt;
    return meter.bytesPerSecond;
}

ProgressCallback StatusProgress() {
    return [meter = SpeedMeter()](uint64_t received, uint64_t expected) mutable {
        meter = Measure(meter, GetTickCount64(), received);
        const ProgressView view = FormatProgress(received, expected, ShownSpeed(meter));
        if (view.movesBar) SendMessageW(g_hwndProgress, PBM_SETPOS, static_cast<WPARAM>(view.position), 0);
        SetWindowTextW(g_hwndStatus, view.text);
    };
}

std::wstring ResumeWaitText(uint64_t seconds) {
    return L"Conex\u00e3o interrompida. Retomando em " + std::to_wstring(seconds) + L" s...";
}

std::wstring NextSourceText(size_t failed, size_t count) {
    return L"Fonte " + std::to_wstring(failed) + L" de " + std::to_wstring(count) +
           L" indispon\u00edvel. Tentando a pr\u00f3xima...";
}
