#include "app/launch.h"

#include <windows.h>
#include <shlwapi.h>

#include <optional>

#include "app/elevation.h"
#include "app/state.h"

std::wstring ClientFolder(const std::wstring& baseDir) { return baseDir + L"\\bin"; }

std::wstring ClientPath(const std::wstring& baseDir, const std::wstring& clientExe) {
    return ClientFolder(baseDir) + L"\\" + clientExe;
}

std::wstring MissingClientMessage(const std::wstring& clientPath) {
    return L"Execut\u00e1vel n\u00e3o encontrado:\n" + clientPath;
}

bool StartClient(const std::wstring& clientExe) {
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
