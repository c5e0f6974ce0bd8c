#include "app/window.h"

#include <commctrl.h>

#include "app/arguments.h"
#include "app/elevation.h"
#include "app/launch.h"
#include "app/state.h"

POINT CentredOrigin(int screenWidth, int screenHeight) {
    return POINT{(screenWidth - kWindowWidth) / 2, (screenHeight - kWindowHeight) / 2};
}

std::wstring MainCaption(const std::wstring& serverName) { return serverName + L" - Launcher"; }

std::wstring VersionLabel(const std::wstring& version) { return L"Vers\u00e3o: " + version; }

void SetStatus(const std::wstring& text) { SetWindowTextW(g_hwndStatus, text.c_str()); }

void SetBar(int position) { SendMessageW(g_hwndProgress, PBM_SETPOS, static_cast<WPARAM>(position), 0); }

static void (*g_startFileCheck)() = nullptr;

void SetFileCheck(void (*start)()) { g_startFileCheck = start; }

// The menu's file check is offered when Play is: never while a pass runs.
static void OfferFileCheck(HWND hwnd, bool offer) {
    EnableMenuItem(GetSystemMenu(hwnd, FALSE), IDM_CHECK_FILES, MF_BYCOMMAND | (offer ? MF_ENABLED : MF_GRAYED));
}

static HFONT MakeFont(int height, int weight) {
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI");
}

static HWND MakeControl(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w,
                        int h, int id) {
    return CreateWindowExW(0, cls, text, style, x, y, w, h, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

static void SetFont(HWND control, HFONT font) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), 1);
}

static void CreateControls(HWND hwnd) {
    g_fontTitle = MakeFont(34, FW_BOLD);
    g_fontText = MakeFont(16, FW_NORMAL);
    g_fontButton = MakeFont(24, FW_BOLD);

    const DWORD label = WS_CHILD | WS_VISIBLE | SS_CENTER;
    g_hwndTitle = MakeControl(hwnd, L"STATIC", g_config.ServerName.c_str(), label, 30, 15, 424, 42, IDC_TITLE);
    SetFont(g_hwndTitle, g_fontTitle);
    g_hwndVersion =
        MakeControl(hwnd, L"STATIC", VersionLabel(g_localVersion).c_str(), label, 30, 63, 424, 20, IDC_VERSION);
    SetFont(g_hwndVersion, g_fontText);
    g_hwndStatus = MakeControl(hwnd, L"STATIC", L"Iniciando...", label, 30, 93, 424, 22, IDC_STATUS);
    SetFont(g_hwndStatus, g_fontText);
    g_hwndProgress =
        MakeControl(hwnd, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE | PBS_SMOOTH, 30, 123, 424, 24, IDC_PROGRESS);
    SendMessageW(g_hwndProgress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    g_hwndPlay = MakeControl(hwnd, L"BUTTON", L"JOGAR", WS_CHILD | WS_VISIBLE | WS_DISABLED | BS_PUSHBUTTON, 132, 159,
                             220, 50, IDC_PLAY);
    SetFont(g_hwndPlay, g_fontButton);

    HMENU menu = GetSystemMenu(hwnd, FALSE);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING | MF_GRAYED, IDM_CHECK_FILES, L"Verificar arquivos do jogo");
}

static void DeleteIfSet(HGDIOBJ object) {
    if (object) DeleteObject(object);
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE:
        CreateControls(hwnd);
        return 0;
    case WM_DESTROY:
        DeleteIfSet(g_fontTitle);
        DeleteIfSet(g_fontText);
        DeleteIfSet(g_fontButton);
        DeleteIfSet(g_bgBrush);
        g_fontTitle = g_fontText = g_fontButton = nullptr;
        g_bgBrush = nullptr;
        PostQuitMessage(0);
        return 0;
    case WM_ERASEBKGND: {
        RECT rc;
        GetClientRect(hwnd, &rc);
        FillRect(reinterpret_cast<HDC>(wParam), &rc, g_bgBrush);
        return 1;
    }
    case WM_COMMAND:
        // Any notification from the Play button counts as a press.
        if (LOWORD(wParam) == IDC_PLAY && !g_busy.load()) LaunchClient();
        return 0;
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkColor(dc, kBackgroundColour);
        SetTextColor(dc, reinterpret_cast<HWND>(lParam) == g_hwndTitle ? kTitleColour : kTextColour);
        return reinterpret_cast<LRESULT>(g_bgBrush);
    }
    case WM_COPYDATA:
        return OnPlayerRequest(*reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) != IDM_CHECK_FILES) return DefWindowProcW(hwnd, msg, wParam, lParam);
        // A command sent while a pass runs (the item is greyed then) is dropped, as Play's press is.
        if (g_startFileCheck && !g_busy.exchange(true)) {
            EnableWindow(g_hwndPlay, FALSE);
            OfferFileCheck(hwnd, false);
            g_startFileCheck();
        }
        return 0;
    case WM_ENABLE_PLAY:
        OfferFileCheck(hwnd, true);
        EnableWindow(g_hwndPlay, TRUE);
        SetFocus(g_hwndPlay);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

bool RegisterMainClass(HINSTANCE instance) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    if (!wc.hIcon) wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = g_bgBrush;
    wc.lpszClassName = kWindowClass;
    return RegisterClassExW(&wc) != 0;
}

HWND CreateMainWindow(HINSTANCE instance) {
    POINT origin = CentredOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    // A launcher taking over from another opens where the player left that one's window.
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    GetStartupInfoW(&si);
    if (CurrentArguments().predecessor != 0 && (si.dwFlags & STARTF_USEPOSITION))
        origin = POINT{static_cast<LONG>(si.dwX), static_cast<LONG>(si.dwY)};
    return CreateWindowExW(0, kWindowClass, MainCaption(g_config.ServerName).c_str(),
                           WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, origin.x, origin.y, kWindowWidth, kWindowHeight,
                           nullptr, nullptr, instance, nullptr);
}
