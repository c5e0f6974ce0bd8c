#include "app/elevation.h"

#include <bcrypt.h>
#include <shellapi.h>

#include <atomic>

#include "app/arguments.h"
#include "app/single_instance.h"
#include "app/state.h"

namespace {

FileHandle g_elevatedCopy(nullptr);          // the worker thread's, to wait on
std::atomic<DWORD> g_elevatedCopyId{0};      // whose requests the window thread hears
constexpr UINT kRequestTimeoutMs = 15000;    // a start takes a moment; a hung launcher does not hold the copy

}  // namespace

const std::wstring& RequestKey() {
    // 128 random bits, made once: the elevated copy gets them on its command line, which no
    // process without administrator rights can read, and sends them with every request.
    static const std::wstring key = [] {
        unsigned char bytes[16] = {};
        std::wstring hex;
        if (BCryptGenRandom(nullptr, bytes, sizeof(bytes), BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) return hex;
        for (unsigned char b : bytes) hex += {L"0123456789abcdef"[b >> 4], L"0123456789abcdef"[b & 15]};
        return hex;
    }();
    return key;
}

std::optional<std::wstring> RequestText(const std::wstring& payload, const std::wstring& key) {
    if (key.empty() || payload.size() <= key.size() || payload.compare(0, key.size(), key) != 0 ||
        payload[key.size()] != L'\n')
        return std::nullopt;
    return payload.substr(key.size() + 1);
}

bool FolderWritable(const std::wstring& folder) {
    const std::wstring probe = folder + L"\\.velmora_write_check_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                               std::to_wstring(GetTickCount()) + L".tmp";
    {
        const FileHandle file(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY, nullptr));
        if (!file) return false;
    }
    return DeleteFileW(probe.c_str()) != FALSE;
}

bool RestartElevated() {
    const std::wstring exe = ModulePath();
    const std::wstring parameters =
        JoinArguments(HandoverArguments(CurrentArguments(), GetCurrentProcessId(), true, RequestKey(),
                                        CurrentArguments().installedFor));
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = g_hwndMain;
    info.lpVerb = L"runas";
    info.lpFile = exe.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = g_baseDir.c_str();
    info.nShow = SW_SHOWNORMAL;
    // The mutex stays ours all along, so no third launcher starts while the prompt is open.
    ShowWindow(g_hwndMain, SW_HIDE);
    if (!ShellExecuteExW(&info)) {
        ShowWindow(g_hwndMain, SW_SHOW);
        return false;
    }
    g_elevatedCopy.reset(info.hProcess);
    if (info.hProcess) g_elevatedCopyId = GetProcessId(info.hProcess);
    return true;
}

FolderAccess CheckInstallFolderAccess() {
    if (FolderWritable(g_baseDir)) return FolderAccess::Writable;
    if (CurrentArguments().elevated) return FolderAccess::Denied;  // asking again would only loop
    const int answer = MessageBoxW(g_hwndMain,
                                   L"O launcher precisa de permiss\u00e3o de administrador para atualizar o jogo nesta "
                                   L"pasta.\n\nReiniciar como administrador?",
                                   L"Permiss\u00e3o necess\u00e1ria", MB_YESNO | MB_ICONWARNING);
    if (answer == IDYES && RestartElevated()) return FolderAccess::Restarting;
    return FolderAccess::Denied;
}

void WaitForElevatedCopy() {
    if (g_elevatedCopy) WaitForSingleObject(g_elevatedCopy.get(), INFINITE);
}

std::optional<bool> AskPlayerLauncher(PlayerRequest request, const std::wstring& text) {
    const LaunchArguments& args = CurrentArguments();
    if (!args.elevated || args.predecessor == 0) return std::nullopt;
    const HWND player = LauncherWindowOf(args.predecessor);
    std::wstring payload = args.requestKey + L"\n" + text;
    COPYDATASTRUCT data = {static_cast<ULONG_PTR>(request), static_cast<DWORD>(payload.size() * sizeof(wchar_t)),
                           &payload[0]};
    DWORD_PTR done = FALSE;
    return player &&
           SendMessageTimeoutW(player, WM_COPYDATA, reinterpret_cast<WPARAM>(g_hwndMain),
                               reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, kRequestTimeoutMs, &done) &&
           done == TRUE;
}

DWORD ElevatedCopyId() { return g_elevatedCopyId.load(); }
