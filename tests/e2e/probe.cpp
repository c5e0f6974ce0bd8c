// Looks at the launcher's window from outside, as a player would, and reports in JSON lines.
//
//   probe.exe <command> [args] [<command> [args] ...]
//
//   wait-window MS          until the launcher window exists
//   wait-status MS TEXT     until the status line reads TEXT (a final * matches any ending)
//   wait-enabled MS         until Play is enabled
//   wait-focus MS           until Play has the keyboard focus (it gets it right after being enabled)
//   dump                    {"caption","title","version","status","play_enabled","play_focused",
//                            "progress","style","x","y","width","height"}
//   click                   presses Play (posted, so a message box does not block the probe)
//   command NOTIFY          posts WM_COMMAND for Play with the given notification code
//   msgbox MS [ok]          waits for a message box of the launcher, reports caption, text and icon,
//                           and presses its first button when "ok" is given
//   no-msgbox MS            fails if a message box of the launcher shows up within MS
//   close                   asks the window to close
//   wait-gone MS            until the launcher window no longer exists
//   sleep MS
//
// Exits 1 (after an {"error": ...} line) as soon as a wait runs out.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <utility>

static void Out(const std::wstring& line) {
    std::wstring s = line + L"\n";
    int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string u(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &u[0], n, nullptr, nullptr);
    DWORD put;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), u.data(), static_cast<DWORD>(u.size()), &put, nullptr);
}

static std::wstring Json(const std::wstring& s) {
    std::wstring out = L"\"";
    for (wchar_t c : s) {
        if (c == L'"' || c == L'\\') {
            out += L'\\';
            out += c;
        } else if (c < 0x20) {
            wchar_t buf[8];
            swprintf(buf, 8, L"\\u%04x", static_cast<unsigned>(c));
            out += buf;
        } else {
            out += c;
        }
    }
    return out + L"\"";
}

static std::wstring Text(HWND h) {
    wchar_t buf[4096] = {};
    DWORD_PTR got = 0;
    SendMessageTimeoutW(h, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 5000, &got);
    return std::wstring(buf, got);
}

static HWND Launcher() { return FindWindowW(L"VelmoraLauncher", nullptr); }

template <class Pred>
static bool WaitFor(int ms, Pred pred) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < static_cast<DWORD>(ms); Sleep(50))
        if (pred()) return true;
    return pred();
}

static void Fail(const std::wstring& what) {
    Out(L"{\"error\": " + Json(what) + L"}");
    ExitProcess(1);
}

// The visible message box of the launcher's process, if any.
static HWND MsgBoxOf(HWND launcher) {
    DWORD pid = 0, owner = 0;
    GetWindowThreadProcessId(launcher, &pid);
    for (HWND h = nullptr; (h = FindWindowExW(nullptr, h, L"#32770", nullptr)) != nullptr;)
        if (GetWindowThreadProcessId(h, &owner) && owner == pid && IsWindowVisible(h)) return h;
    return nullptr;
}

// Icon handles are per process, so the box's icon is told by its pixels: each standard icon is
// drawn on the captured background and compared with what the screen shows.
static std::wstring IconName(HWND box) {
    RECT r;
    HWND icon = GetDlgItem(box, 1088);  // the message box's icon control
    if (!icon || !IsWindowVisible(icon) || !GetWindowRect(icon, &r)) return L"none";
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr), shown = CreateCompatibleDC(screen), drawn = CreateCompatibleDC(screen);
    HBITMAP shot = CreateCompatibleBitmap(screen, w, h), test = CreateCompatibleBitmap(screen, w, h);
    SelectObject(shown, shot);
    SelectObject(drawn, test);
    BitBlt(shown, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    std::wstring best = L"other";
    for (auto [id, name] : {std::pair{IDI_ERROR, L"error"}, std::pair{IDI_WARNING, L"warning"}}) {
        HBRUSH background = CreateSolidBrush(GetPixel(shown, 0, 0));
        RECT all = {0, 0, w, h};
        FillRect(drawn, &all, background);
        DeleteObject(background);
        DrawIconEx(drawn, 0, 0, LoadIconW(nullptr, id), 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE);
        int differ = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) differ += GetPixel(drawn, x, y) != GetPixel(shown, x, y);
        if (differ < w * h / 10) best = name;  // a little anti-aliasing is tolerated
    }
    DeleteDC(shown);
    DeleteDC(drawn);
    DeleteObject(shot);
    DeleteObject(test);
    ReleaseDC(nullptr, screen);
    return best;
}

static bool PlayFocused(HWND w) {
    GUITHREADINFO gti = {};
    gti.cbSize = sizeof(gti);
    return GetGUIThreadInfo(GetWindowThreadProcessId(w, nullptr), &gti) && gti.hwndFocus == GetDlgItem(w, 101);
}

static void Dump(HWND w) {
    RECT r;
    GetWindowRect(w, &r);
    HWND play = GetDlgItem(w, 101);
    Out(L"{\"caption\": " + Json(Text(w)) + L", \"title\": " + Json(Text(GetDlgItem(w, 105))) +
        L", \"version\": " + Json(Text(GetDlgItem(w, 104))) + L", \"status\": " + Json(Text(GetDlgItem(w, 103))) +
        L", \"play_enabled\": " + (IsWindowEnabled(play) ? L"true" : L"false") +
        L", \"play_focused\": " + (PlayFocused(w) ? L"true" : L"false") +
        L", \"play_text\": " + Json(Text(play)) +
        L", \"progress\": " + std::to_wstring(SendMessageW(GetDlgItem(w, 102), 0x0408 /* PBM_GETPOS */, 0, 0)) +
        L", \"style\": " + std::to_wstring(GetWindowLongW(w, GWL_STYLE) & 0xFFFF0000u) +
        L", \"x\": " + std::to_wstring(r.left) + L", \"y\": " + std::to_wstring(r.top) +
        L", \"width\": " + std::to_wstring(r.right - r.left) + L", \"height\": " + std::to_wstring(r.bottom - r.top) +
        L"}");
}

int wmain(int argc, wchar_t** argv) {
    HWND w = nullptr;
    auto need = [&]() {
        w = Launcher();
        if (!w) Fail(L"no launcher window");
        return w;
    };
    for (int i = 1; i < argc; ++i) {
        std::wstring cmd = argv[i];
        auto arg = [&]() -> std::wstring {
            if (i + 1 >= argc) Fail(L"missing argument for " + cmd);
            return argv[++i];
        };
        if (cmd == L"wait-window") {
            int ms = _wtoi(arg().c_str());
            if (!WaitFor(ms, [] { return Launcher() != nullptr; })) Fail(L"window did not appear");
        } else if (cmd == L"wait-status") {
            int ms = _wtoi(arg().c_str());
            std::wstring want = arg();
            need();
            const bool prefix = !want.empty() && want.back() == L'*';
            if (prefix) want.pop_back();
            auto matches = [&] {
                std::wstring now = Text(GetDlgItem(w, 103));
                return prefix ? now.compare(0, want.size(), want) == 0 : now == want;
            };
            if (!WaitFor(ms, matches))
                Fail(L"status stayed " + Text(GetDlgItem(w, 103)));
        } else if (cmd == L"wait-enabled") {
            int ms = _wtoi(arg().c_str());
            need();
            if (!WaitFor(ms, [&] { return IsWindowEnabled(GetDlgItem(w, 101)) != FALSE; }))
                Fail(L"Play stayed disabled");
        } else if (cmd == L"wait-focus") {
            int ms = _wtoi(arg().c_str());
            need();
            if (!WaitFor(ms, [&] { return PlayFocused(w); })) Fail(L"Play did not get the focus");
        } else if (cmd == L"dump") {
            Dump(need());
        } else if (cmd == L"click") {
            PostMessageW(GetDlgItem(need(), 101), BM_CLICK, 0, 0);
        } else if (cmd == L"command") {
            WPARAM code = static_cast<WPARAM>(_wtoi(arg().c_str()));
            PostMessageW(need(), WM_COMMAND, MAKEWPARAM(101, code), reinterpret_cast<LPARAM>(GetDlgItem(w, 101)));
        } else if (cmd == L"msgbox") {
            int ms = _wtoi(arg().c_str());
            bool press = i + 1 < argc && std::wstring(argv[i + 1]) == L"ok" && ++i;
            HWND box = nullptr;
            if (!WaitFor(ms, [&] { return (box = MsgBoxOf(need())) != nullptr; })) Fail(L"no message box");
            std::wstring icon;  // a box that has just appeared may not be painted yet
            WaitFor(2000, [&] { return (icon = IconName(box)) != L"other"; });
            Out(L"{\"box_caption\": " + Json(Text(box)) + L", \"box_text\": " + Json(Text(GetDlgItem(box, 0xFFFF))) +
                L", \"box_icon\": " + Json(icon) +
                L", \"box_owner_is_launcher\": " + (GetWindow(box, GW_OWNER) == w ? L"true" : L"false") + L"}");
            if (press) PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        } else if (cmd == L"no-msgbox") {
            HWND box = nullptr;
            if (WaitFor(_wtoi(arg().c_str()), [&] { return (box = MsgBoxOf(need())) != nullptr; }))
                Fail(L"unexpected message box: " + Text(GetDlgItem(box, 0xFFFF)));
        } else if (cmd == L"close") {
            PostMessageW(need(), WM_CLOSE, 0, 0);
        } else if (cmd == L"wait-gone") {
            int ms = _wtoi(arg().c_str());
            if (!WaitFor(ms, [] { return Launcher() == nullptr; })) Fail(L"window still there");
        } else if (cmd == L"sleep") {
            Sleep(_wtoi(arg().c_str()));
        } else {
            Fail(L"unknown command " + cmd);
        }
    }
    return 0;
}
