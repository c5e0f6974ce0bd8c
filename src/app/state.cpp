#include "app/state.h"

#include <shlwapi.h>

#include <memory>
#include <vector>

const wchar_t kDefaultSiteURL[] = L"https://www.velmora.example/";

LauncherConfig g_config;
std::wstring g_baseDir;
std::wstring g_localVersion = L"0.0.0";
std::wstring g_remoteVersion;
std::atomic<bool> g_busy{false};

HBRUSH g_bgBrush = nullptr;
HWND g_hwndMain = nullptr;
HWND g_hwndTitle = nullptr;
HWND g_hwndVersion = nullptr;
HWND g_hwndStatus = nullptr;
HWND g_hwndProgress = nullptr;
HWND g_hwndPlay = nullptr;
HFONT g_fontTitle = nullptr;
HFONT g_fontText = nullptr;
HFONT g_fontButton = nullptr;

std::wstring ModulePath() {
    // A 260-unit buffer silently truncates long install paths; grow until the path fits.
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return std::wstring();
        if (n < buf.size()) return std::wstring(buf.data(), n);
        if (buf.size() >= 32768) return std::wstring(buf.data(), n);
        buf.resize(buf.size() * 2);
    }
}

void LoadLocalConfig() {
    std::wstring path = ModulePath();
    path.push_back(L'\0');  // PathRemoveFileSpecW edits in place and needs the terminator
    PathRemoveFileSpecW(&path[0]);
    g_baseDir = path.c_str();
    LoadConfigFiles();
}

static std::wstring ReadIniString(const std::wstring& iniPath, const wchar_t* key, const wchar_t* fallback) {
    wchar_t buf[2048];
    DWORD n = GetPrivateProfileStringW(L"Launcher", key, fallback, buf, 2048, iniPath.c_str());
    return std::wstring(buf, n);
}

void LoadConfigFiles() {
    const std::wstring ini = g_baseDir + L"\\launcher_config.ini";
    g_config.ServerName = ReadIniString(ini, L"ServerName", L"Velmora");
    g_config.ConfigURL = ReadIniString(ini, L"ConfigURL", L"");
    g_config.VersionURL = ReadIniString(ini, L"VersionURL", L"");
    g_config.UpdateURL = ReadIniString(ini, L"UpdateURL", L"");
    g_config.ClientExe = ReadIniString(ini, L"ClientExe", L"velmoraclient.exe");
    g_config.SiteURL = ReadIniString(ini, L"SiteURL", kDefaultSiteURL);
    g_config.UpdatePublicKey = ReadIniString(ini, L"UpdatePublicKey", L"");

    std::wstring version = Trim(ReadTextFile(g_baseDir + L"\\version.txt"));
    if (!version.empty()) g_localVersion = version;
}

std::wstring Trim(std::wstring text) {
    size_t first = 0;
    while (first < text.size() && static_cast<unsigned>(text[first]) <= 0x20) ++first;
    size_t last = text.size();
    while (last > first && static_cast<unsigned>(text[last - 1]) <= 0x20) --last;
    return text.substr(first, last - first);
}

std::string ReadFileBytes(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    char buf[4096];
    DWORD got = 0;
    while (file && ReadFile(file.get(), buf, sizeof(buf), &got, nullptr) && got > 0) bytes.append(buf, got);
    return bytes;
}

std::wstring ReadTextFile(const std::wstring& path) { return Widen(ReadFileBytes(path)); }

std::wstring Widen(const std::string& bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    // Sign extension keeps a byte recoverable from its unit: 0x80..0xFF map to U+FF80..U+FFFF.
    for (char c : bytes) out.push_back(static_cast<wchar_t>(static_cast<int16_t>(static_cast<signed char>(c))));
    return out;
}
