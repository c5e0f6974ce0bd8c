// Looks at the launcher's window from outside, as a player would, and reports in JSON lines.
//   probe.exe <command> [args] [<command> [args] ...]   or   probe.exe serve (see wmain)
// Waits, each failing after MS milliseconds: wait-window MS, wait-gone MS, wait-enabled MS (Play),
// wait-focus MS (Play has the keyboard focus), wait-status MS TEXT (a final * matches any ending),
// msgbox MS [ok|yes|no] (a message box of the launcher: reports caption, text, icon and owner, then
// presses the named button and waits for the box to go), no-msgbox MS (fails if a box shows up meanwhile).
// Actions: dump (caption, title, version, status, play_enabled, play_focused, play_text, progress,
// style, x, y, width, height, minimized, foreground), click (posted, as every action is, so neither
// a box nor a busy launcher blocks the probe), command NOTIFY (WM_COMMAND from Play with that notification code),
// syscommand ID (a system-menu item chosen; Wine reads no other process's menus, so its state is
// not reported), close, minimize, sleep MS,
// folder PATH (later commands look only at launcher windows of a program in that folder: tests run
// side by side, each in folders of its own),
// move X (the window's left and top edge to X), pid (the launcher's process id),
// forge TEXT (asks the hidden launcher to start the client TEXT in the shown one's name, as a
// request of the right form with a guessed secret; reports whether it did).
// Exits 1 after an {"error": ...} line as soon as a wait runs out.
#include <windows.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

static void Out(const std::wstring& line) {
    const std::wstring s = line + L"\n";
    std::string u(WideCharToMultiByte(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.data(), int(s.size()), &u[0], int(u.size()), nullptr, nullptr);
    DWORD put;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), u.data(), DWORD(u.size()), &put, nullptr);
}

static std::wstring Json(const std::wstring& s) {
    std::wstring out = L"\"";
    for (wchar_t c : s) {
        wchar_t esc[8];
        swprintf(esc, 8, L"\\u%04x", unsigned(c));
        out += c == L'"' || c == L'\\' ? std::wstring{L'\\', c} : c < 0x20 ? esc : std::wstring(1, c);
    }
    return out + L"\"";
}

static std::wstring Bool(bool b) { return b ? L"true" : L"false"; }

static std::wstring Text(HWND h) {
    wchar_t buf[4096] = {};
    DWORD_PTR got = 0;
    SendMessageTimeoutW(h, WM_GETTEXT, 4096, LPARAM(buf), SMTO_ABORTIFHUNG, 5000, &got);
    return std::wstring(buf, got);
}

[[noreturn]] static void Fail(const std::wstring& what) {
    Out(L"{\"error\": " + Json(what) + L"}");
    ExitProcess(1);
}

// Each look costs the launcher and Wine's server a round of cross-process calls: when serving the
// tests, a wait past its first second looks less often. A one-off run keeps looking every 50 ms:
// the benchmarks time statuses by it.
static DWORD g_laterLookMs = 50;

// True once `pred` holds, false when it still does not after `ms` milliseconds.
template <class Pred>
static bool WaitFor(DWORD ms, Pred pred) {
    for (const DWORD start = GetTickCount(); !pred(); Sleep(GetTickCount() - start < 1000 ? 50 : g_laterLookMs))
        if (GetTickCount() - start > ms) return pred();
    return true;
}

static std::wstring g_folder;  // empty: any launcher window

static bool InFolder(HWND w) {
    if (g_folder.empty()) return true;
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    wchar_t path[32768];
    DWORD n = 32768;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    const bool named = process && QueryFullProcessImageNameW(process, 0, path, &n);
    if (process) CloseHandle(process);
    const std::wstring exe(path, named ? n : 0);
    const size_t slash = exe.rfind(L'\\');
    return slash != std::wstring::npos && CompareStringOrdinal(exe.c_str(), int(slash), g_folder.c_str(),
                                                               int(g_folder.size()), TRUE) == CSTR_EQUAL;
}

// The first top-level window `pick` accepts. EnumWindows takes the list at once: walking it with
// FindWindowEx from the last window seen fails when another test closes that window meanwhile.
template <class Pick>
static HWND FirstWindow(Pick pick) {
    struct Search {
        Pick& pick;
        HWND found;
    } search{pick, nullptr};
    EnumWindows(
        [](HWND w, LPARAM p) {
            auto& s = *reinterpret_cast<Search*>(p);
            if (!s.pick(w)) return TRUE;
            s.found = w;
            return FALSE;
        },
        LPARAM(&search));
    return search.found;
}

static bool OfClass(HWND w, const wchar_t* cls) {
    wchar_t name[32] = {};
    GetClassNameW(w, name, 32);
    return wcscmp(name, cls) == 0;
}

// The shown launcher window: one waiting hidden for its elevated copy is not what a player sees.
static HWND Launcher() {
    return FirstWindow([](HWND w) { return OfClass(w, L"VelmoraLauncher") && IsWindowVisible(w) && InFolder(w); });
}

static HWND Need() {
    if (HWND w = Launcher()) return w;
    Fail(L"no launcher window");
}

// The visible message box of the launcher's process, if any.
static HWND MsgBoxOf(HWND launcher) {
    DWORD pid = 0;
    GetWindowThreadProcessId(launcher, &pid);
    return FirstWindow([pid](HWND h) {
        DWORD owner = 0;
        return OfClass(h, L"#32770") && GetWindowThreadProcessId(h, &owner) && owner == pid && IsWindowVisible(h);
    });
}

// Icon handles are per process, so the box's icon is told as a player tells it, by its colour on
// the screen: the error icon is red, the warning icon amber.
static std::wstring IconName(HWND box) {
    RECT r;
    HWND icon = GetDlgItem(box, 1088);  // the message box's icon control
    if (!icon || !IsWindowVisible(icon) || !GetWindowRect(icon, &r)) return L"none";
    // One copy of the area, not a GetPixel per pixel: each of those is a round trip to the X server.
    const int width = r.right - r.left, height = r.bottom - r.top;
    BITMAPINFO info = {{sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    std::vector<RGBQUAD> pixels(size_t(width) * size_t(height));
    HDC screen = GetDC(nullptr), copy = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(copy, bitmap);
    BitBlt(copy, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(copy, previous);
    GetDIBits(copy, bitmap, 0, UINT(height), pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(copy);
    ReleaseDC(nullptr, screen);
    int red = 0, amber = 0;
    for (const RGBQUAD& c : pixels) {
        const int g = c.rgbGreen, b = c.rgbBlue;
        red += c.rgbRed > 180 && g < 160 && g - b < 40 && b - g < 40;
        amber += c.rgbRed > 180 && g > b + 60;
    }
    const int tenth = width * height / 10;
    return red > tenth && red > amber ? L"error" : amber > tenth ? L"warning" : L"other";
}

static bool PlayFocused(HWND w) {
    GUITHREADINFO gti = {sizeof(gti)};
    return GetGUIThreadInfo(GetWindowThreadProcessId(w, nullptr), &gti) && gti.hwndFocus == GetDlgItem(w, 101);
}

static void Dump(HWND w) {
    RECT r;
    GetWindowRect(w, &r);
    HWND play = GetDlgItem(w, 101);
    const LRESULT progress = SendMessageW(GetDlgItem(w, 102), 0x0408 /* PBM_GETPOS */, 0, 0);
    Out(L"{\"caption\": " + Json(Text(w)) + L", \"title\": " + Json(Text(GetDlgItem(w, 105))) + L", \"version\": " +
        Json(Text(GetDlgItem(w, 104))) + L", \"status\": " + Json(Text(GetDlgItem(w, 103))) +
        L", \"play_enabled\": " + Bool(IsWindowEnabled(play)) + L", \"play_focused\": " + Bool(PlayFocused(w)) +
        L", \"play_text\": " + Json(Text(play)) + L", \"progress\": " + std::to_wstring(progress) +
        L", \"style\": " + std::to_wstring(GetWindowLongW(w, GWL_STYLE) & 0xFFFF0000u) + L", \"x\": " +
        std::to_wstring(r.left) + L", \"y\": " + std::to_wstring(r.top) + L", \"width\": " +
        std::to_wstring(r.right - r.left) + L", \"height\": " + std::to_wstring(r.bottom - r.top) +
        L", \"minimized\": " + Bool(IsIconic(w)) + L", \"foreground\": " + Bool(GetForegroundWindow() == w) + L"}");
}

static void Run(const std::vector<std::wstring>& argv) {
    const size_t argc = argv.size();
    g_folder.clear();
    for (size_t i = 0; i < argc; ++i) {
        const std::wstring cmd = argv[i];
        auto arg = [&]() -> std::wstring {
            if (i + 1 >= argc) Fail(L"missing argument for " + cmd);
            return argv[++i];
        };
        if (cmd == L"folder") {
            g_folder = arg();
            continue;
        }
        const bool bare = cmd == L"forge" || cmd == L"dump" || cmd == L"click" || cmd == L"close" || cmd == L"minimize" || cmd == L"pid";
        const DWORD n = bare ? 0 : _wtoi(arg().c_str());
        if (cmd == L"sleep") {
            Sleep(n);
            continue;
        }
        if (cmd == L"wait-window" || cmd == L"wait-gone") {
            const bool there = cmd == L"wait-window";
            if (!WaitFor(n, [&] { return (Launcher() != nullptr) == there; }))
                Fail(there ? L"window did not appear" : L"window still there");
            continue;
        }
        // The window and its controls are looked up at each look: the window may be found before it
        // has made them, and a launcher that hands over to its elevated copy hides its own.
        HWND w = Need(), box = nullptr;
        auto shown = [&w] {
            if (HWND now = Launcher()) w = now;
            return w;
        };
        auto play = [&] { return GetDlgItem(shown(), 101); };
        auto status = [&] { return Text(GetDlgItem(shown(), 103)); };
        if (cmd == L"wait-status") {
            std::wstring want = arg();
            const size_t prefix = !want.empty() && want.back() == L'*' ? (want.pop_back(), want.size()) : -1;
            if (!WaitFor(n, [&] { return status().compare(0, prefix, want) == 0; })) Fail(L"status stayed " + status());
        } else if (cmd == L"wait-enabled") {
            if (!WaitFor(n, [&] { return IsWindowEnabled(play()) != FALSE; })) Fail(L"Play stayed disabled");
        } else if (cmd == L"wait-focus") {
            if (!WaitFor(n, [&] { return PlayFocused(shown()); })) Fail(L"Play did not get the focus");
        } else if (cmd == L"dump") {
            Dump(w);
        } else if (cmd == L"click") {
            PostMessageW(play(), BM_CLICK, 0, 0);
        } else if (cmd == L"command") {
            PostMessageW(w, WM_COMMAND, MAKEWPARAM(101, n), LPARAM(play()));
        } else if (cmd == L"syscommand") {
            PostMessageW(w, WM_SYSCOMMAND, n, 0);
        } else if (cmd == L"close") {
            PostMessageW(w, WM_CLOSE, 0, 0);
        } else if (cmd == L"move") {
            SetWindowPos(w, nullptr, int(n), int(n), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_ASYNCWINDOWPOS);
        } else if (cmd == L"pid") {
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            Out(L"{\"pid\": " + std::to_wstring(pid) + L"}");
        } else if (cmd == L"forge") {
            std::wstring text = std::wstring(32, L'0') + L"\n" + arg();
            const HWND hidden = FirstWindow([](HWND h) { return OfClass(h, L"VelmoraLauncher") && !IsWindowVisible(h) && InFolder(h); });
            COPYDATASTRUCT data = {1, DWORD(text.size() * sizeof(wchar_t)), &text[0]};
            DWORD_PTR done = FALSE;
            SendMessageTimeoutW(hidden, WM_COPYDATA, WPARAM(w), LPARAM(&data), SMTO_ABORTIFHUNG, 5000, &done);
            Out(L"{\"accepted\": " + Bool(hidden && done) + L"}");
        } else if (cmd == L"minimize") {
            ShowWindowAsync(w, SW_MINIMIZE);
        } else if (cmd == L"no-msgbox") {
            if (WaitFor(n, [&] { return (box = MsgBoxOf(w)) != nullptr; }))
                Fail(L"unexpected message box: " + Text(GetDlgItem(box, 0xFFFF)));
        } else if (cmd == L"msgbox") {
            if (!WaitFor(n, [&] { return (box = MsgBoxOf(w)) != nullptr; })) Fail(L"no message box");
            const std::wstring next = i + 1 < argc ? argv[i + 1] : L"";
            const int button = next == L"ok" ? IDOK : next == L"yes" ? IDYES : next == L"no" ? IDNO : 0;
            i += button != 0;
            // A box that has just appeared may not be painted yet, and another test's window may cover it.
            std::wstring icon;
            WaitFor(2000, [&] {
                SetWindowPos(box, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
                return (icon = IconName(box)) != L"other";
            });
            Out(L"{\"box_caption\": " + Json(Text(box)) + L", \"box_text\": " + Json(Text(GetDlgItem(box, 0xFFFF))) +
                L", \"box_icon\": " + Json(icon) + L", \"box_owner_is_launcher\": " +
                Bool(GetWindow(box, GW_OWNER) == w) + L"}");
            if (!button) continue;
            // Done once the box has gone, so that the next look does not find it still there.
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), LPARAM(GetDlgItem(box, button)));
            if (!WaitFor(5000, [&] { return !IsWindowVisible(box); })) Fail(L"the message box stayed");
        } else {
            Fail(L"unknown command " + cmd);
        }
    }
}

// `serve`: a request per line of standard input, its commands separated by tabs, each answered by
// its records and {"done": true}; a Wine process start costs more than most requests take.
int wmain(int argc, wchar_t** argv) {
    if (argc < 2 || wcscmp(argv[1], L"serve") != 0) {
        Run(std::vector<std::wstring>(argv + 1, argv + argc));
        return 0;
    }
    g_laterLookMs = 250;
    for (std::string line; std::getline(std::cin, line);) {
        std::wstring request(size_t(MultiByteToWideChar(CP_UTF8, 0, line.data(), int(line.size()), nullptr, 0)), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, line.data(), int(line.size()), &request[0], int(request.size()));
        std::wistringstream fields(request);
        std::vector<std::wstring> args;
        for (std::wstring arg; std::getline(fields, arg, L'\t');) args.push_back(arg);
        Run(args);
        Out(L"{\"done\": true}");
    }
    return 0;
}
