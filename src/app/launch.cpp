#include "app/launch.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <optional>

#include "app/arguments.h"
#include "app/elevation.h"
#include "app/single_instance.h"
#include "app/state.h"

std::wstring ClientFolder(const std::wstring& baseDir) { return baseDir + L"\\bin"; }

std::wstring ClientPath(const std::wstring& baseDir, const std::wstring& clientExe) {
    return ClientFolder(baseDir) + L"\\" + clientExe;
}

std::wstring MissingClientMessage(const std::wstring& clientPath) {
    return L"Execut\u00e1vel n\u00e3o encontrado:\n" + clientPath;
}

bool ClientInsideBin(const std::wstring& clientExe) {
    if (clientExe.empty() || clientExe.find(L':') != std::wstring::npos) return false;
    for (size_t start = 0; start <= clientExe.size();) {
        size_t end = clientExe.find_first_of(L"\\/", start);
        if (end == std::wstring::npos) end = clientExe.size();
        std::wstring part = clientExe.substr(start, end - start);
        part.erase(part.find_last_not_of(L". ") + 1);  // Windows drops trailing dots and blanks: "..." is ".."
        if (part.empty()) return false;
        start = end + 1;
    }
    return true;
}

bool StartClient(const std::wstring& clientExe) {
    if (!ClientInsideBin(clientExe)) return false;
    const std::wstring folder = ClientFolder(g_baseDir);
    const std::wstring exe = ClientPath(g_baseDir, clientExe);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi))
        return false;
    // The launcher never watches the client.
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return true;
}

void LaunchClient() {
    if (g_busy.load()) return;  // the worker may still rewrite ClientExe

    const std::wstring exe = ClientPath(g_baseDir, g_config.ClientExe);
    if (!PathFileExistsW(exe.c_str())) {
        MessageBoxW(g_hwndMain, MissingClientMessage(exe).c_str(), L"Erro", MB_OK | MB_ICONERROR);
        return;
    }
    // An elevated copy has the player's launcher start the game, which must never get our rights.
    const std::optional<bool> asked = AskPlayerLauncher(PlayerRequest::StartClient, g_config.ClientExe);
    if (!(asked ? *asked : StartClient(g_config.ClientExe))) {
        MessageBoxW(g_hwndMain, L"Falha ao iniciar o client!", L"Erro", MB_OK | MB_ICONERROR);
        return;
    }
    PostQuitMessage(0);
}

LRESULT OnPlayerRequest(const COPYDATASTRUCT& data) {
    if (ElevatedCopyId() == 0) return FALSE;  // only a launcher that started a copy listens
    const std::optional<std::wstring> text =
        RequestText(data.lpData ? std::wstring(static_cast<const wchar_t*>(data.lpData), data.cbData / sizeof(wchar_t))
                                : std::wstring(),
                    RequestKey());
    if (!text) return FALSE;
    switch (static_cast<PlayerRequest>(data.dwData)) {
    case PlayerRequest::StartClient:
        if (!StartClient(*text)) return FALSE;
        break;
    case PlayerRequest::StartHeir: {
        const std::optional<int32_t> build = BuildNumberOf(*text);
        if (!build || !StartHeir(ModulePath(), *build)) return FALSE;
        break;
    }
    case PlayerRequest::OpenSite: {
        const std::wstring site = SiteToOpen(*text);
        return !site.empty() && reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", site.c_str(), nullptr,
                                                                        nullptr, SW_SHOWNORMAL)) > 32;
    }
    default:
        return FALSE;
    }
    PostQuitMessage(0);  // the game or the new launcher runs now; the elevated copy closes too
    return TRUE;
}
