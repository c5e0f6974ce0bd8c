#include <gtest/gtest.h>

#include <vector>

#include "app/state.h"
// commctrl.h needs windows.h first, which state.h brings.
#include <commctrl.h>
#include "net/progress.h"

namespace {

TEST(Progress, PositionAndText) {
    struct Case {
        uint32_t received, expected;
        bool movesBar;
        int position;
        std::wstring text;
    } cases[] = {
        {524288, 1048576, true, 50, L"Baixando... 0.5 / 1.0 MB"},
        {1048575, 1048576, true, 99, L"Baixando... 1.0 / 1.0 MB"},
        {3, 7, true, 42, L"Baixando... 0.0 / 0.0 MB"},
        {5000000, 0, false, 0, L"Baixando... 4.8 MB"},
        {0, 0, false, 0, L"Baixando... 0.0 MB"},
        {3000000, 1000000, true, 300, L"Baixando... 2.9 / 1.0 MB"},
        {4294967295u, 4294967295u, true, 100, L"Baixando... 4096.0 / 4096.0 MB"},
        {4294967295u, 1, true, -100, L"Baixando... 4096.0 / 0.0 MB"},  // low 32 bits of 429496729500
        {157286, 1048576, true, 14, L"Baixando... 0.1 / 1.0 MB"},      // 0.149999 rounds down
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.received << " / " << c.expected);
        const ProgressView view = FormatProgress(c.received, c.expected);
        EXPECT_EQ(view.movesBar, c.movesBar);
        if (c.movesBar) {
            EXPECT_EQ(view.position, c.position);
        }
        EXPECT_EQ(std::wstring(view.text), c.text);
    }
}

// The real controls, subclassed so the order of what reaches them is seen.
std::vector<UINT> g_seen;
WNDPROC g_barProc, g_labelProc;
LRESULT CALLBACK SpyBar(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == PBM_SETPOS) g_seen.push_back(m);
    return CallWindowProcW(g_barProc, h, m, w, l);
}
LRESULT CALLBACK SpyLabel(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_SETTEXT) g_seen.push_back(m);
    return CallWindowProcW(g_labelProc, h, m, w, l);
}

TEST(Progress, MovesTheBarBeforeTheTextAndLeavesItWithoutALength) {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    HWND bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_POPUP, 0, 0, 200, 20, nullptr, nullptr, nullptr, nullptr);
    HWND label = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 200, 20, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(bar && label);
    SendMessageW(bar, PBM_SETRANGE32, 0, 100);
    g_barProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SpyBar)));
    g_labelProc =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrW(label, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SpyLabel)));
    g_hwndProgress = bar;
    g_hwndStatus = label;

    wchar_t text[64];
    ShowDownloadProgress(524288, 1048576);
    EXPECT_EQ(g_seen, (std::vector<UINT>{PBM_SETPOS, WM_SETTEXT}));
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 50);
    GetWindowTextW(label, text, 64);
    EXPECT_STREQ(text, L"Baixando... 0.5 / 1.0 MB");

    g_seen.clear();
    ShowDownloadProgress(7340032, 0);
    EXPECT_EQ(g_seen, (std::vector<UINT>{WM_SETTEXT}));
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 50);
    GetWindowTextW(label, text, 64);
    EXPECT_STREQ(text, L"Baixando... 7.0 MB");

    g_hwndProgress = g_hwndStatus = nullptr;
    DestroyWindow(bar);
    DestroyWindow(label);
}

}  // namespace
