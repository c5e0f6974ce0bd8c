#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/state.h"
// commctrl.h needs windows.h first, which state.h brings.
#include <commctrl.h>
#include "net/progress.h"

namespace {

// What reached the two controls, in order: "bar <position>" and "label <text>".
std::vector<std::wstring> g_seen;
LRESULT CALLBACK Spy(HWND h, UINT m, WPARAM w, LPARAM l) {
    const std::wstring who = h == g_hwndProgress ? L"bar " : L"label ";
    if (m == PBM_SETPOS) g_seen.push_back(who + std::to_wstring(static_cast<int>(w)));
    if (m == WM_SETTEXT) g_seen.push_back(who + reinterpret_cast<const wchar_t*>(l));
    return CallWindowProcW(reinterpret_cast<WNDPROC>(GetPropW(h, L"spied")), h, m, w, l);
}
HWND SpiedWindow() {
    HWND h = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 200, 20, nullptr, nullptr, nullptr, nullptr);
    const LONG_PTR original = SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Spy));
    SetPropW(h, L"spied", reinterpret_cast<HANDLE>(original));
    return h;
}

TEST(Progress, MovesTheBarThenSetsTheText) {
    g_hwndProgress = SpiedWindow();
    g_hwndStatus = SpiedWindow();
    ASSERT_TRUE(g_hwndProgress && g_hwndStatus);
    struct Case {
        uint64_t received, expected;
        std::vector<std::wstring> seen;
    } cases[] = {
        {1048575, 1048576, {L"bar 99", L"label Baixando... 1.0 / 1.0 MB"}},  // truncated, not rounded
        {3000000, 1000000, {L"bar 300", L"label Baixando... 2.9 / 1.0 MB"}},  // not clamped
        {4294967295u, 4294967295u, {L"bar 100", L"label Baixando... 4096.0 / 4096.0 MB"}},
        {4831838208u, 5368709120u, {L"bar 90", L"label Baixando... 4608.0 / 5120.0 MB"}},  // past 4 GiB
        {4294967295u, 1, {L"bar 2147483647", L"label Baixando... 4096.0 / 0.0 MB"}},  // saturates, no wrap
        {7340032, 0, {L"label Baixando... 7.0 MB"}},  // no length: the bar keeps its place
    };
    for (const auto& c : cases) {
        g_seen.clear();
        ShowDownloadProgress(c.received, c.expected);
        EXPECT_EQ(g_seen, c.seen);
    }
    DestroyWindow(g_hwndProgress);
    DestroyWindow(g_hwndStatus);
    g_hwndProgress = g_hwndStatus = nullptr;
}

}  // namespace
