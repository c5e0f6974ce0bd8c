// Unpacking the update archive with the archive tools Windows ships, each run as a hidden child.
#pragma once

#include <windows.h>

#include <string>

// How long one tool may run before it is given up on: 30 minutes. Expand-Archive is slow
// (tens of MB/s at best) and a full client archive of several GB on a busy hard disk or a
// scanned-on-write folder can take well over ten minutes; half an hour leaves a wide margin
// while still handing the Play button back to a user whose tool has hung.
constexpr DWORD kToolWaitMs = 30 * 60 * 1000;

// What RunHidden returns for a tool it had to terminate after kToolWaitMs: the wait's own
// time-out code (WAIT_TIMEOUT, 258). Like every non-zero result it counts as a failed attempt.
constexpr int kToolTimedOut = static_cast<int>(WAIT_TIMEOUT);

// The Windows system folder (GetSystemDirectoryW), without a trailing backslash.
std::wstring SystemFolder();
// Where the tools live inside the system folder.
std::wstring TarPath(const std::wstring& systemFolder);
std::wstring PowerShellPath(const std::wstring& systemFolder);

// Runs a command line as a hidden child (no console, no window) and waits for it. The child
// is `application` when given, else the program the command line names, found by the
// system's search. It runs in the launcher's tool job, so it ends when the launcher does.
// Returns its exit code; -1 when it cannot be started (a child exit code of 0xFFFFFFFF reads
// the same); 1 when the exit code cannot be read; kToolTimedOut when it outlived `waitMs`
// and was terminated. `waitMs` is shortened by tests only.
int RunHidden(const std::wstring& commandLine, DWORD waitMs = kToolWaitMs, const std::wstring& application = L"");

// Unpacks `archive` into `binFolder` with tar.exe, then PowerShell's Expand-Archive, then the
// .NET ZipFile class, stopping at the first tool that exits with 0. False when none does.
// The tools are taken from `systemFolder` only (tests pass a folder of stand-ins): never from
// the launcher's own or the current folder, where anyone could drop a program of that name.
bool ExtractUpdateArchive(const std::wstring& archive, const std::wstring& binFolder, DWORD waitMs = kToolWaitMs,
                          const std::wstring& systemFolder = SystemFolder());

// `text` made safe between apostrophes in a PowerShell single-quoted literal: every
// apostrophe and every typographic single quote (U+2018..U+201B), which PowerShell also
// takes as string delimiters, is doubled.
std::wstring PsEscape(const std::wstring& text);

// The three unpacking command lines, in the order they are tried.
std::wstring TarCommand(const std::wstring& archive, const std::wstring& binFolder);
std::wstring ExpandArchiveCommand(const std::wstring& archive, const std::wstring& binFolder);
std::wstring ZipFileCommand(const std::wstring& archive, const std::wstring& binFolder);
