#include "update/extract.h"

#include <vector>

namespace {

constexpr wchar_t kPowerShell[] =
    L"powershell.exe -NoProfile -NoLogo -NonInteractive -ExecutionPolicy Bypass -Command \"";

bool IsPsSingleQuote(wchar_t c) { return c == L'\'' || (c >= 0x2018 && c <= 0x201B); }

// Closes the child's handles, process first, on every way out of RunHidden.
struct ChildHandles {
    PROCESS_INFORMATION info = {};
    ~ChildHandles() {
        if (info.hProcess) CloseHandle(info.hProcess);
        if (info.hThread) CloseHandle(info.hThread);
    }
};

}  // namespace

std::wstring PsEscape(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        // Inside a single-quoted literal PowerShell reads a pair of quote characters as one.
        if (IsPsSingleQuote(c)) out.push_back(c);
        out.push_back(c);
    }
    return out;
}

std::wstring TarCommand(const std::wstring& archive, const std::wstring& binFolder) {
    // Double quotes cannot occur in a Windows path, so the tar form needs no escaping.
    return L"tar.exe -xf \"" + archive + L"\" -C \"" + binFolder + L"\"";
}

std::wstring ExpandArchiveCommand(const std::wstring& archive, const std::wstring& binFolder) {
    return std::wstring(kPowerShell) + L"Expand-Archive -LiteralPath '" + PsEscape(archive) +
           L"' -DestinationPath '" + PsEscape(binFolder) + L"' -Force\"";
}

std::wstring ZipFileCommand(const std::wstring& archive, const std::wstring& binFolder) {
    return std::wstring(kPowerShell) +
           L"Add-Type -AssemblyName System.IO.Compression.FileSystem; "
           L"[System.IO.Compression.ZipFile]::ExtractToDirectory('" +
           PsEscape(archive) + L"', '" + PsEscape(binFolder) + L"', $true)\"";
}

int RunHidden(const std::wstring& commandLine, DWORD waitMs) {
    // CreateProcessW may write into the command line, so it gets a private copy.
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    ChildHandles child;
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &child.info))
        return -1;

    if (WaitForSingleObject(child.info.hProcess, waitMs) != WAIT_OBJECT_0) {
        // A tool that never exits must not hold the update pass; it may still be writing into
        // bin, so give the termination a moment to take effect before the next tool starts.
        TerminateProcess(child.info.hProcess, static_cast<UINT>(kToolTimedOut));
        WaitForSingleObject(child.info.hProcess, 5000);
        return kToolTimedOut;
    }
    DWORD code = 1;
    GetExitCodeProcess(child.info.hProcess, &code);
    return static_cast<int>(code);
}

bool ExtractUpdateArchive(const std::wstring& archive, const std::wstring& binFolder, DWORD waitMs) {
    if (RunHidden(TarCommand(archive, binFolder), waitMs) == 0) return true;
    if (RunHidden(ExpandArchiveCommand(archive, binFolder), waitMs) == 0) return true;
    return RunHidden(ZipFileCommand(archive, binFolder), waitMs) == 0;
}
