#include "update/worker.h"

#include <windows.h>

#include "app/state.h"
#include "app/window.h"

// Each ending posts its message before clearing the flag, so Play is never accepted mid-pass.
static void Finish(const wchar_t* status) {
    if (status) SetWindowTextW(g_hwndStatus, status);
    PostMessageW(g_hwndMain, WM_ENABLE_PLAY, 0, 0);
    g_busy.exchange(false);
}

void UpdateWorker() {
    g_busy.exchange(true);
    if (g_config.VersionURL.empty() || g_config.UpdateURL.empty()) {
        Finish(L"Configure as URLs no launcher_config.ini");
        return;
    }
    Finish(nullptr);
}
