#include "test_support.h"

#include <shellapi.h>

#include <atomic>
#include <fstream>
#include <iterator>

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    path = std::wstring(base) + L"velmora_ut_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::to_wstring(counter++);
    CreateDirectoryW(path.c_str(), nullptr);
}

TempDir::~TempDir() {
    std::wstring from = path;
    from.push_back(L'\0');  // SHFileOperation wants a double-terminated list
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    if (!in) return "<missing>";
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring ExeFolder() {
    wchar_t buf[32768];
    const std::wstring exe(buf, GetModuleFileNameW(nullptr, buf, 32768));
    return exe.substr(0, exe.find_last_of(L'\\'));
}

std::wstring FromUtf8(const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n);
    return out;
}

std::wstring Fields(const LauncherConfig& c) {
    return c.ServerName + L"|" + c.ConfigURL + L"|" + c.VersionURL + L"|" + c.UpdateURL + L"|" + c.ClientExe + L"|" +
           c.SiteURL + L"|" + std::to_wstring(c.MinLauncherBuild);
}
