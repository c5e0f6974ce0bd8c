#include <windows.h>
#include <commctrl.h>

#include <system_error>
#include <thread>

#include "app/arguments.h"
#include "app/single_instance.h"
#include "app/state.h"
#include "app/window.h"
#include "update/self_update.h"
#include "update/worker.h"

// Starts a background pass: the start's, or the player's file check. If the system refuses a
// thread, the launcher stays usable without updates: the player can still start the installed client.
static void StartPass(void (*pass)()) {
    try {
        std::thread(pass).detach();
    } catch (const std::system_error&) {
        SetWindowTextW(g_hwndStatus, L"N\u00e3o foi poss\u00edvel verificar atualiza\u00e7\u00f5es.");
        PostMessageW(g_hwndMain, WM_ENABLE_PLAY, 0, 0);
        g_busy.exchange(false);  // the file check set it before
    }
}

#ifdef VELMORA_COVERAGE
extern "C" void __gcov_dump();  // ExitProcess skips the exit handlers where the counts are written
#endif

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int nShowCmd) {
    LoadLocalConfig();
    // One launcher per install folder: a second start shows the first one and leaves at once,
    // before it could touch a file the first one is working on.
    if (!ClaimInstance(g_baseDir, CurrentArguments())) {
        ShowRunningLauncher(g_baseDir);
        return 0;
    }
    RemoveRetiredLauncher();
    g_bgBrush = CreateSolidBrush(kBackgroundColour);

    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    RegisterMainClass(hInstance);
    g_hwndMain = CreateMainWindow(hInstance);
    ShowWindow(g_hwndMain, nShowCmd);
    UpdateWindow(g_hwndMain);

    SetFileCheck([] { StartPass(CheckGameFiles); });
    StartPass(UpdateWorker);

    MSG msg = {};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    // The worker may still be mid-download. Ending the process here, before static destructors run,
    // stops it without ever letting it see destroyed globals.
#ifdef VELMORA_COVERAGE
    __gcov_dump();
#endif
    ExitProcess(static_cast<UINT>(msg.wParam));
}
