// One stand-in program for every outside program the launcher starts: the game client,
// tar.exe and powershell.exe. Copied into a test install folder under those names.
//
// Every start appends one line to standin.log beside the exe:
//   <exe name> TAB <current folder> TAB <command line>   (UTF-8)
// What it then does comes from <exe name>.action beside it, else from its own arguments:
//   exit N     exit with code N (default 0)
//   hang       never exit
//   unzip      unpack the archive named on its command line (stored zip entries only),
//              the way the real tool would with the launcher's command line
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

static std::wstring ExeDir(std::wstring* name) {
    wchar_t buf[32768];
    DWORD n = GetModuleFileNameW(nullptr, buf, 32768);
    std::wstring path(buf, n);
    size_t slash = path.find_last_of(L'\\');
    if (name) *name = path.substr(slash + 1);
    return path.substr(0, slash);
}

static std::string Utf8(const std::wstring& w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &out[0], n, nullptr, nullptr);
    return out;
}

static std::string ReadAll(const std::wstring& path, bool* ok = nullptr) {
    std::string data;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (ok) *ok = h != INVALID_HANDLE_VALUE;
    if (h == INVALID_HANDLE_VALUE) return data;
    char buf[65536];
    DWORD got;
    while (ReadFile(h, buf, sizeof(buf), &got, nullptr) && got) data.append(buf, got);
    CloseHandle(h);
    return data;
}

static bool WriteAll(const std::wstring& path, const char* data, size_t size, bool append) {
    HANDLE h = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           append ? OPEN_ALWAYS : CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    bool ok = size == 0 || WriteFile(h, data, static_cast<DWORD>(size), &put, nullptr);
    CloseHandle(h);
    return ok;
}

static bool IsPsQuote(wchar_t c) { return c == L'\'' || (c >= 0x2018 && c <= 0x201B); }
static bool IsDoubleQuote(wchar_t c) { return c == L'"'; }

// The next quoted argument at or after `from`, with doubled quotes collapsed as PowerShell
// reads its single-quoted literals (a Windows path never holds a double quote); `from` moves
// past the closing quote.
static std::wstring Quoted(const std::wstring& s, size_t& from, bool (*isQuote)(wchar_t)) {
    size_t i = from;
    while (i < s.size() && !isQuote(s[i])) ++i;
    std::wstring out;
    for (++i; i < s.size(); ++i) {
        if (isQuote(s[i])) {
            if (i + 1 < s.size() && isQuote(s[i + 1])) {
                out += s[++i];
                continue;
            }
            break;
        }
        out += s[i];
    }
    from = i + 1;
    return out;
}

static std::wstring FromUtf8(const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n);
    return out;
}

static uint32_t Le(const std::string& d, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(d[at + i]);
    return v;
}

// Unpacks the stored (uncompressed) entries of a zip, creating folders as needed.
static int Unzip(const std::wstring& archive, const std::wstring& dest) {
    bool ok;
    std::string zip = ReadAll(archive, &ok);
    if (!ok || zip.size() < 4 || Le(zip, 0, 4) != 0x04034b50) return 2;
    size_t at = 0;
    while (at + 30 <= zip.size() && Le(zip, at, 4) == 0x04034b50) {
        uint32_t method = Le(zip, at + 8, 2), size = Le(zip, at + 18, 4);
        uint32_t nameLen = Le(zip, at + 26, 2), extraLen = Le(zip, at + 28, 2);
        if (method != 0) return 3;
        std::wstring name = FromUtf8(zip.substr(at + 30, nameLen));
        size_t data = at + 30 + nameLen + extraLen;
        if (data + size > zip.size()) return 4;
        for (auto& c : name)
            if (c == L'/') c = L'\\';
        std::wstring target = dest + L"\\" + name;
        for (size_t s = dest.size() + 1; (s = target.find(L'\\', s)) != std::wstring::npos; ++s)
            CreateDirectoryW(target.substr(0, s).c_str(), nullptr);
        if (!name.empty() && name.back() != L'\\' && !WriteAll(target, zip.data() + data, size, false)) return 5;
        at = data + size;
    }
    return 0;
}

int wmain() {
    std::wstring name;
    std::wstring dir = ExeDir(&name);
    std::wstring cmd = GetCommandLineW();
    wchar_t cwd[32768];
    DWORD cwdLen = GetCurrentDirectoryW(32768, cwd);
    std::string line = Utf8(name) + "\t" + Utf8(std::wstring(cwd, cwdLen)) + "\t" + Utf8(cmd) + "\n";
    WriteAll(dir + L"\\standin.log", line.data(), line.size(), true);

    bool haveAction;
    std::string action = ReadAll(dir + L"\\" + name + L".action", &haveAction);
    if (!haveAction) {
        size_t end = cmd[0] == L'"' ? cmd.find(L'"', 1) : cmd.find(L' ');
        action = end == std::wstring::npos ? "" : Utf8(cmd.substr(end + 1));
    }
    while (!action.empty() && (action[0] == ' ' || action[0] == '-')) action.erase(0, 1);

    if (action.rfind("hang", 0) == 0) {
        for (;;) Sleep(1000);
    }
    if (action.rfind("unzip", 0) == 0) {
        // tar names the archive and the folder in double quotes; both PowerShell forms, after
        // -Command, in single-quoted literals.
        const bool tar = cmd.find(L" -xf ") != std::wstring::npos;
        size_t at = cmd.find(tar ? L" -xf " : L"-Command");
        if (at == std::wstring::npos) return 6;
        std::wstring archive = Quoted(cmd, at, tar ? IsDoubleQuote : IsPsQuote);
        std::wstring folder = Quoted(cmd, at, tar ? IsDoubleQuote : IsPsQuote);
        return Unzip(archive, folder);
    }
    if (action.rfind("exit", 0) == 0) return static_cast<int>(std::strtoul(action.c_str() + 4, nullptr, 0));
    return 0;
}
