#include "app/elevation.h"

#include <shellapi.h>

#include <atomic>

#include "app/arguments.h"
#include "app/launch.h"
#include "app/single_instance.h"
#include "app/state.h"
#include "update/remote_config.h"

namespace {

FileHandle g_elevatedCopy(nullptr);          // the worker thread's, to wait on
std::atomic<DWORD> g_elevatedCopyId{0};      // whose requests the window thread hears
constexpr UINT kRequestTimeoutMs = 15000;    // a start takes a moment; a hung launcher does not hold the copy

}  // namespace

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
        JoinArguments(HandoverArguments(CurrentArguments(), GetCurrentProcessId(), true));
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
    COPYDATASTRUCT data = {static_cast<ULONG_PTR>(request), static_cast<DWORD>(text.size() * sizeof(wchar_t)),
                           const_cast<wchar_t*>(text.c_str())};
    DWORD_PTR done = FALSE;
    return player &&
           SendMessageTimeoutW(player, WM_COPYDATA, reinterpret_cast<WPARAM>(g_hwndMain),
                               reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, kRequestTimeoutMs, &done) &&
           done == TRUE;
}

LRESULT OnPlayerRequest(HWND sender, const COPYDATASTRUCT& data) {
    DWORD senderId = 0;
    GetWindowThreadProcessId(sender, &senderId);
    if (senderId == 0 || senderId != g_elevatedCopyId.load()) return FALSE;
    const std::wstring text = data.lpData ? std::wstring(static_cast<const wchar_t*>(data.lpData),
                                                         data.cbData / sizeof(wchar_t))
                                          : std::wstring();
    switch (static_cast<PlayerRequest>(data.dwData)) {
    case PlayerRequest::StartClient:
        if (!StartClient(text)) return FALSE;
        break;
    case PlayerRequest::StartHeir:
        if (!StartHeir(ModulePath())) return FALSE;
        break;
    case PlayerRequest::OpenSite: {
        const std::wstring site = SiteToOpen(text);
        return !site.empty() && reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", site.c_str(), nullptr,
                                                                        nullptr, SW_SHOWNORMAL)) > 32;
    }
    default:
        return FALSE;
    }
    PostQuitMessage(0);  // the game or the new launcher runs now; the elevated copy closes too
    return TRUE;
}
