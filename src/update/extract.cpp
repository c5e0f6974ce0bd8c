#include "update/extract.h"

#include <memory>
#include <vector>

#include "update/tool_environment.h"

namespace {

constexpr wchar_t kPowerShell[] =
    L"powershell.exe -NoProfile -NoLogo -NonInteractive -ExecutionPolicy Bypass -Command \"";

bool IsPsSingleQuote(wchar_t c) { return c == L'\'' || (c >= 0x2018 && c <= 0x201B); }

// The job every tool runs in. Created once and never closed: its handle closes only when the
// launcher's process ends, however it ends, and the kill-on-close limit then ends every tool
// still running, so no unpacker goes on writing into bin behind a new launcher's back.
HANDLE ToolJob() {
    static const HANDLE job = [] {
        HANDLE created = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (created) SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
        return created;
    }();
    return job;
}

// Closes the child's handles, process first, on every way out of RunHidden.
struct ChildHandles {
    PROCESS_INFORMATION info = {};
    ~ChildHandles() {
        if (info.hProcess) CloseHandle(info.hProcess);
        if (info.hThread) CloseHandle(info.hThread);
    }
};

// This process's environment strings.
std::vector<std::wstring> CurrentEnvironment() {
    std::vector<std::wstring> entries;
    struct Free {
        void operator()(wchar_t* block) const { FreeEnvironmentStringsW(block); }
    };
    const std::unique_ptr<wchar_t, Free> block(GetEnvironmentStringsW());
    for (const wchar_t* at = block.get(); at && *at; at += entries.back().size() + 1) entries.emplace_back(at);
    return entries;
}

std::wstring WindowsFolder() {
    wchar_t buf[MAX_PATH];
    const UINT n = GetSystemWindowsDirectoryW(buf, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(buf, n) : std::wstring();
}

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

std::wstring SystemFolder() {
    wchar_t buf[MAX_PATH];
    const UINT n = GetSystemDirectoryW(buf, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(buf, n) : std::wstring();
}

std::wstring TarPath(const std::wstring& systemFolder) { return systemFolder + L"\\tar.exe"; }

std::wstring PowerShellPath(const std::wstring& systemFolder) {
    return systemFolder + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
}

int RunHidden(const std::wstring& commandLine, DWORD waitMs, const std::wstring& application) {
    // CreateProcessW may write into the command line, so it gets a private copy.
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    ChildHandles child;
    std::wstring environment = ToolEnvironment(CurrentEnvironment(), SystemFolder(), WindowsFolder());
    // Suspended until it is in the job, so not even its first instructions run outside it.
    if (!CreateProcessW(application.empty() ? nullptr : application.c_str(), buffer.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW | CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, &environment[0], nullptr,
                        &startup, &child.info))
        return -1;
    // A job the launcher was started in may refuse nesting; the update still goes ahead then.
    if (HANDLE job = ToolJob()) AssignProcessToJobObject(job, child.info.hProcess);
    ResumeThread(child.info.hThread);

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

bool ExtractUpdateArchive(const std::wstring& archive, const std::wstring& binFolder, DWORD waitMs,
                          const std::wstring& systemFolder) {
    if (systemFolder.empty()) return false;  // never fall back to a search that starts in our own folder
    const std::wstring tar = TarPath(systemFolder), powerShell = PowerShellPath(systemFolder);
    if (RunHidden(TarCommand(archive, binFolder), waitMs, tar) == 0) return true;
    if (RunHidden(ExpandArchiveCommand(archive, binFolder), waitMs, powerShell) == 0) return true;
    return RunHidden(ZipFileCommand(archive, binFolder), waitMs, powerShell) == 0;
}
