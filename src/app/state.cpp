#include "app/state.h"

#include <shlwapi.h>

#include <algorithm>
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

namespace {

// Whole KiB per second; anything but digits means no cap. Kept far from where bytes overflow.
uint64_t ParseKBps(const std::wstring& text) {
    const uint64_t kMostKBps = uint64_t{1} << 40;
    uint64_t value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') return 0;
        value = std::min(value * 10 + static_cast<uint64_t>(c - L'0'), kMostKBps);
    }
    return value;
}

}  // namespace

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
    g_baseDir = path.substr(0, path.find(L'\0'));  // up to the terminator it wrote
    LoadConfigFiles();
}

void LoadConfigFiles() {
    const std::wstring ini = g_baseDir + L"\\launcher_config.ini";
    // The profile API reads ANSI and UTF-16 files; UTF-8 that it would misread is decoded here.
    const std::string bytes = ReadFileBytes(ini);
    const bool utf8 = ReadsAsUtf8Ini(bytes);
    const std::wstring text = utf8 ? DecodeText(bytes) : std::wstring();
    const auto ReadIni = [&](const wchar_t* key, const wchar_t* fallback) {
        if (utf8) return IniValue(text, L"Launcher", key).value_or(fallback);
        wchar_t buf[2048];
        DWORD n = GetPrivateProfileStringW(L"Launcher", key, fallback, buf, 2048, ini.c_str());
        return std::wstring(buf, n);
    };
    g_config.ServerName = ReadIni(L"ServerName", L"Velmora");
    g_config.ConfigURL = ReadIni(L"ConfigURL", L"");
    g_config.VersionURL = ReadIni(L"VersionURL", L"");
    g_config.UpdateURL = ReadIni(L"UpdateURL", L"");
    g_config.ClientExe = ReadIni(L"ClientExe", L"velmoraclient.exe");
    g_config.SiteURL = ReadIni(L"SiteURL", kDefaultSiteURL);
    g_config.UpdatePublicKey = ReadIni(L"UpdatePublicKey", L"");
    g_config.MaxDownloadKBps = ParseKBps(ReadIni(L"MaxDownloadKBps", L""));

    std::wstring version = Trim(ReadTextFile(g_baseDir + L"\\version.txt"));
    if (!version.empty()) g_localVersion = version;
}

std::string ReadFileBytes(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    if (!file) return bytes;
    // Straight into the string, in one read when the size is known: under Wine each read is a call
    // into the system, and the install record of a big client is some megabytes.
    LARGE_INTEGER size{};
    const bool sized = GetFileSizeEx(file.get(), &size) && size.QuadPart < (LONGLONG{1} << 28);
    const size_t piece = std::max(size_t{1} << 16, sized ? static_cast<size_t>(size.QuadPart) + 1 : 0);
    for (DWORD got = 0;; bytes.resize(bytes.size() - piece + got)) {
        bytes.resize(bytes.size() + piece);
        if (!ReadFile(file.get(), &bytes[bytes.size() - piece], static_cast<DWORD>(piece), &got, nullptr) || got == 0) {
            bytes.resize(bytes.size() - piece);
            return bytes;
        }
    }
}

std::wstring ReadTextFile(const std::wstring& path) { return DecodeText(ReadFileBytes(path)); }
