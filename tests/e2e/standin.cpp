// One stand-in for every outside program the launcher starts: the game client, tar.exe and
// powershell.exe. Tests copy it under those names.
//
// Every start appends one line to standin.log in the current folder:
//   <exe name> TAB <current folder> TAB <command line>   (UTF-8)
// What it then does comes from <exe name>.action in the current folder, else from its arguments:
//   exit N     exit with code N (default 0)
//   hang       never exit
//   hold N     keep its own exe open without write sharing for N seconds, then exit with 0
//   unzip      unpack the archive its command line names (stored zip entries only) into the folder
//              it names, the way tar or PowerShell would with the launcher's command line;
//              "unzip hang" then never exits, as a tool stopped part-way
// As tar.exe with no action file it simulates nothing: the real tar (bsdtar.exe beside it) runs
// with the very same command line, and its exit code is this one's (also appended to
// bsdtar.log: a failure under load is then told apart). As powershell.exe with no
// action file it fails (exit 1): a fallback never passes for an unpacking it did not do.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

static std::string ReadAll(const fs::path& path) {
    std::ostringstream data;
    data << std::ifstream(path, std::ios::binary).rdbuf();
    return data.str();
}

// The next quoted text at or after `at`, quotes doubled inside it read as one (as PowerShell reads
// its single-quoted literals; a Windows path never holds a double quote); `at` moves past it.
template <class IsQuote>
static std::wstring Quoted(const std::wstring& s, size_t& at, IsQuote isQuote) {
    while (at < s.size() && !isQuote(s[at])) ++at;
    std::wstring out;
    for (++at; at < s.size() && (!isQuote(s[at]) || (at + 1 < s.size() && isQuote(s[at + 1]) && ++at)); ++at)
        out += s[at];
    ++at;
    return out;
}

static int Unzip(const fs::path& archive, const fs::path& folder) {
    const std::string zip = ReadAll(archive);
    auto le = [&](size_t at, int bytes) {
        uint32_t v = 0;
        while (bytes--) v = v << 8 | uint8_t(zip[at + bytes]);
        return v;
    };
    if (zip.size() < 4 || le(0, 4) != 0x04034b50) return 2;
    for (size_t at = 0; at + 30 <= zip.size() && le(at, 4) == 0x04034b50;) {
        const size_t nameLen = le(at + 26, 2), extra = at + 30 + nameLen, data = extra + le(at + 28, 2);
        size_t size = le(at + 18, 4);
        for (size_t x = extra; size == 0xFFFFFFFF && x + 12 <= data; x += 4 + le(x + 2, 2))
            if (le(x, 2) == 1) size = le(x + 4, 4) | size_t(le(x + 8, 4)) << 32;  // zip64: the first size in its record
        if (le(at + 8, 2) != 0 || data + size > zip.size()) return 3;
        const std::string name = zip.substr(at + 30, nameLen);
        const fs::path target = folder / fs::u8path(name);
        fs::create_directories(target.parent_path());
        std::ofstream out;
        if (name.back() != '/') out.open(target, std::ios::binary);
        for (size_t done = 0; out && done < size; done += 1 << 30)  // the C runtime writes less than 2 GiB a call
            out.write(&zip[data + done], std::streamsize(std::min<size_t>(size - done, 1 << 30)));
        at = data + size;
    }
    return 0;
}

static int RealTar(const fs::path& exe, std::wstring cmd) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW((exe.parent_path() / L"bsdtar.exe").c_str(), cmd.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &child)) {
        std::ofstream(L"bsdtar.log", std::ios::app) << "not started " << GetLastError() << '\n';
        return 9;
    }
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(child.hProcess, &code);
    std::ofstream(L"bsdtar.log", std::ios::app) << code << '\n';
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return int(code);
}

int wmain() {
    wchar_t buf[32768];
    const fs::path exe(std::wstring(buf, GetModuleFileNameW(nullptr, buf, 32768)));
    const std::wstring cmd = GetCommandLineW(), name = exe.filename().wstring();
    std::ofstream(L"standin.log", std::ios::app | std::ios::binary)
        << exe.filename().u8string() << '\t' << fs::current_path().u8string() << '\t' << fs::path(cmd).u8string()
        << '\n';

    std::string action = ReadAll(name + L".action");
    if (!fs::exists(name + L".action") && _wcsicmp(name.c_str(), L"tar.exe") == 0) return RealTar(exe, cmd);
    if (!fs::exists(name + L".action") && _wcsicmp(name.c_str(), L"powershell.exe") == 0) return 1;
    if (!fs::exists(name + L".action")) {
        const size_t end = cmd[0] == L'"' ? cmd.find(L'"', 1) : cmd.find(L' ');
        action = end == std::wstring::npos ? "" : fs::path(cmd.substr(end + 1)).u8string();
    }
    action.erase(0, action.find_first_not_of(" -"));
    const int number = std::atoi(action.c_str() + std::min(action.size(), action.find(' ')));

    if (action.rfind("hang", 0) == 0) Sleep(INFINITE);
    if (action.rfind("hold", 0) == 0) {
        HANDLE self = CreateFileW(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        Sleep(DWORD(number) * 1000);
        CloseHandle(self);
    }
    if (action.rfind("unzip", 0) == 0) {
        // tar names the archive and the folder in double quotes, both PowerShell forms in
        // single-quoted literals after -Command.
        const bool tar = cmd.find(L" -xf ") != std::wstring::npos;
        size_t at = cmd.find(tar ? L" -xf " : L"-Command");
        auto isQuote = [tar](wchar_t c) { return tar ? c == L'"' : c == L'\'' || (c >= 0x2018 && c <= 0x201B); };
        if (at == std::wstring::npos) return 6;
        const std::wstring archive = Quoted(cmd, at, isQuote);
        const int code = Unzip(archive, Quoted(cmd, at, isQuote));
        if (action.find("hang") != std::string::npos) Sleep(INFINITE);
        return code;
    }
    return action.rfind("exit", 0) == 0 ? int(std::strtoul(action.c_str() + 4, nullptr, 0)) : 0;
}
