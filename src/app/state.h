// Process-wide launcher state and the small text helpers shared by every subsystem.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "app/text.h"

// The game's web site; also what the remote configuration may replace.
extern const wchar_t kDefaultSiteURL[];

struct LauncherConfig {
    std::wstring ServerName = L"Velmora";
    std::wstring ConfigURL;
    std::wstring VersionURL;
    std::wstring UpdateURL;
    std::wstring ClientExe = L"velmoraclient.exe";
    std::wstring SiteURL = kDefaultSiteURL;
    int32_t MinLauncherBuild = 0;
    // Update verification. The publisher's key comes only from the local INI; the archive's
    // digest and signature only from the remote configuration.
    std::wstring UpdatePublicKey;
    std::wstring UpdateSHA256;
    std::wstring UpdateSignature;
    std::wstring UpdateVersion;  // the version the signed configuration publishes
    // A newer launcher that replaces this one once MinLauncherBuild retires it (remote only).
    std::wstring LauncherURL;
    std::wstring LauncherSHA256;
    std::wstring LauncherSignature;
    // Remote only: the manifest of the archive, which lets an update fetch just what bin lacks.
    std::wstring UpdateManifest;
    std::wstring UpdateManifestSHA256;  // its digest, which lets it count without a key
    // Local only, the player's: a cap on every download of the pass, in KiB per second; 0: none.
    uint64_t MaxDownloadKBps = 0;
};

extern LauncherConfig g_config;
extern std::wstring g_baseDir;
extern std::wstring g_localVersion;
extern std::wstring g_remoteVersion;
extern std::atomic<bool> g_busy;

extern HBRUSH g_bgBrush;
extern HWND g_hwndMain;
extern HWND g_hwndTitle;
extern HWND g_hwndVersion;
extern HWND g_hwndStatus;
extern HWND g_hwndProgress;
extern HWND g_hwndPlay;
extern HFONT g_fontTitle;
extern HFONT g_fontText;
extern HFONT g_fontButton;

// Fills g_baseDir from the executable's location, then reads the local files.
void LoadLocalConfig();
// Reads launcher_config.ini and version.txt from g_baseDir into the globals.
void LoadConfigFiles();
// Full path of the running executable, however long it is.
std::wstring ModulePath();

// Owns a kernel handle (a file, a process); empty when the call that made it failed.
struct FileCloser {
    using pointer = HANDLE;
    void operator()(HANDLE h) const { CloseHandle(h); }
};
struct FileHandle : std::unique_ptr<HANDLE, FileCloser> {
    explicit FileHandle(HANDLE h) : unique_ptr(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
};

// The file's bytes; empty when it cannot be opened.
std::string ReadFileBytes(const std::wstring& path);
// The file's bytes through DecodeText.
std::wstring ReadTextFile(const std::wstring& path);
