#include "app/single_instance.h"

#include <windows.h>

#include <cstdint>
#include <vector>

#include "app/state.h"
#include "app/window.h"

namespace {

HANDLE g_instanceMutex = nullptr;  // held until the process ends

constexpr int kWindowWaitTries = 30;  // times kWindowWaitStepMs: a launcher still starting
constexpr DWORD kWindowWaitStepMs = 100;
constexpr DWORD kHandoverWaitMs = 30000;  // a launcher that has started its heir closes at once

// The folder's full path as the file system resolves it (short names, links and letter case
// of the spelling used to start the launcher do not matter); the path itself when that fails.
std::wstring FolderIdentity(const std::wstring& folder) {
    const FileHandle dir(CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!dir) return folder;
    std::vector<wchar_t> buf(32768);  // the longest path there is
    const DWORD n = GetFinalPathNameByHandleW(dir.get(), buf.data(), static_cast<DWORD>(buf.size()), 0);
    return n > 0 && n < buf.size() ? std::wstring(buf.data(), n) : folder;
}

// Folder of the program a process runs; empty when it cannot be asked.
std::wstring ProcessFolder(HANDLE process) {
    std::vector<wchar_t> buf(32768);
    DWORD size = static_cast<DWORD>(buf.size());
    if (!QueryFullProcessImageNameW(process, 0, buf.data(), &size)) return std::wstring();
    const std::wstring image(buf.data(), size);
    const size_t slash = image.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : image.substr(0, slash);
}

std::wstring ProcessFolder(DWORD processId) {
    const FileHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));  // null on failure
    return process ? ProcessFolder(process.get()) : std::wstring();
}

bool SameFolder(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

HWND FindLauncherWindow(const std::wstring& identity) {
    for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, kWindowClass, nullptr)) != nullptr;) {
        DWORD processId = 0;
        GetWindowThreadProcessId(w, &processId);
        // A hidden window is a launcher waiting for its elevated copy, which shows its own.
        if (processId == GetCurrentProcessId() || !IsWindowVisible(w)) continue;
        const std::wstring folder = ProcessFolder(processId);
        if (!folder.empty() && SameFolder(FolderIdentity(folder), identity)) return w;
    }
    return nullptr;
}

// Whether the holder of the folder's mutex handed it to this launcher (see ClaimInstance). A
// predecessor that has ended already cannot be asked; its heir carries on, while an elevated
// copy needs the player's launcher alive.
bool HandedOver(const std::wstring& identity, const LaunchArguments& args) {
    if (args.predecessor == 0) return false;
    const FileHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, args.predecessor));
    if (!process || WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) return !args.elevated;
    const std::wstring folder = ProcessFolder(process.get());
    if (folder.empty() || !SameFolder(FolderIdentity(folder), identity)) return false;
    return args.elevated || WaitForSingleObject(process.get(), kHandoverWaitMs) == WAIT_OBJECT_0;
}

}  // namespace

std::wstring InstanceMutexName(const std::wstring& folder) {
    std::wstring folded = folder;
    if (!folded.empty()) CharUpperBuffW(&folded[0], static_cast<DWORD>(folded.size()));
    uint64_t hash = 0xcbf29ce484222325ull;  // 64-bit FNV-1a over the UTF-16 units
    for (wchar_t unit : folded) {
        hash = (hash ^ (unit & 0xFF)) * 0x100000001b3ull;
        hash = (hash ^ (unit >> 8)) * 0x100000001b3ull;
    }
    wchar_t hex[17];
    for (int i = 15; i >= 0; --i, hash >>= 4) hex[i] = L"0123456789abcdef"[hash & 0xF];
    hex[16] = L'\0';
    return std::wstring(L"Global\\VelmoraLauncher-") + hex;
}

bool ClaimInstance(const std::wstring& folder, const LaunchArguments& args) {
    const std::wstring identity = FolderIdentity(folder);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, InstanceMutexName(identity).c_str());
    const DWORD error = GetLastError();
    // A mutex we may not open belongs to a launcher all the same. Any other failure to make the
    // mutex is no reason to keep the player from the game.
    if (!mutex) return error != ERROR_ACCESS_DENIED;
    if (error == ERROR_ALREADY_EXISTS && !HandedOver(identity, args)) {
        CloseHandle(mutex);
        return false;
    }
    g_instanceMutex = mutex;
    return true;
}

bool StartHeir(const std::wstring& exe, int32_t installedFor) {
    std::wstring commandLine =
        JoinArguments({exe}) + L" " +
        JoinArguments(HandoverArguments(CurrentArguments(), GetCurrentProcessId(), false, std::wstring(), installedFor));
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    RECT window;
    if (g_hwndMain && GetWindowRect(g_hwndMain, &window)) {
        si.dwFlags = STARTF_USEPOSITION;
        si.dwX = static_cast<DWORD>(window.left);
        si.dwY = static_cast<DWORD>(window.top);
    }
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        g_baseDir.c_str(), &si, &pi))
        return false;
    const FileHandle process(pi.hProcess), thread(pi.hThread);
    // A copy of the mutex is the heir's before its first instruction: when this launcher ends, the
    // folder still has an owner, and a third launcher started meanwhile finds it taken.
    HANDLE inHeir = nullptr;
    if (g_instanceMutex)
        DuplicateHandle(GetCurrentProcess(), g_instanceMutex, process.get(), &inHeir, 0, FALSE, DUPLICATE_SAME_ACCESS);
    ResumeThread(thread.get());
    return true;
}

HWND LauncherWindowOf(DWORD processId) {
    for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, kWindowClass, nullptr)) != nullptr;) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == processId) return w;
    }
    return nullptr;
}

void ShowRunningLauncher(const std::wstring& folder) {
    const std::wstring identity = FolderIdentity(folder);
    for (int i = 0; i < kWindowWaitTries; ++i, Sleep(kWindowWaitStepMs)) {
        const HWND w = FindLauncherWindow(identity);
        if (!w) continue;
        if (IsIconic(w)) ShowWindow(w, SW_RESTORE);
        SetForegroundWindow(w);
        return;
    }
}
