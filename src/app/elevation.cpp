#include "app/elevation.h"

#include <windows.h>
#include <shellapi.h>

#include <memory>

#include "app/single_instance.h"
#include "app/state.h"

namespace {

// Marks the elevated copy; the launcher takes no other argument.
constexpr wchar_t kElevatedArgument[] = L"--elevated";

bool StartedElevated() {
    int count = 0;
    struct ArgvFree {
        void operator()(LPWSTR* argv) const { LocalFree(argv); }
    };
    const std::unique_ptr<LPWSTR, ArgvFree> argv(CommandLineToArgvW(GetCommandLineW(), &count));
    for (int i = 1; argv && i < count; ++i)
        if (lstrcmpW(argv.get()[i], kElevatedArgument) == 0) return true;
    return false;
}

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
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = g_hwndMain;
    info.lpVerb = L"runas";
    info.lpFile = exe.c_str();
    info.lpParameters = kElevatedArgument;
    info.lpDirectory = g_baseDir.c_str();
    info.nShow = SW_SHOWNORMAL;
    // The new copy must find the folder's launcher mutex free, or it would take itself for a
    // second start and quit.
    ReleaseInstance();
    if (ShellExecuteExW(&info)) return true;
    ClaimInstance(g_baseDir);
    return false;
}

FolderAccess CheckInstallFolderAccess() {
    if (FolderWritable(g_baseDir)) return FolderAccess::Writable;
    if (StartedElevated()) return FolderAccess::Denied;  // asking again would only loop
    const int answer = MessageBoxW(g_hwndMain,
                                   L"O launcher precisa de permiss\u00e3o de administrador para atualizar o jogo nesta "
                                   L"pasta.\n\nReiniciar como administrador?",
                                   L"Permiss\u00e3o necess\u00e1ria", MB_YESNO | MB_ICONWARNING);
    if (answer == IDYES && RestartElevated()) return FolderAccess::Restarting;
    return FolderAccess::Denied;
}
