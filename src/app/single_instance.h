// One launcher per install folder on the whole machine: a named mutex per folder, handed from
// one launcher to the next without a moment in which nobody holds it, and finding the one that runs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "app/arguments.h"

// "Global\VelmoraLauncher-" and 16 hex digits of a hash of the path with its letter case
// folded, so every spelling of one folder gives one name, usable as a kernel object name. The
// global namespace reaches every login session, so two users cannot update one folder at once.
std::wstring InstanceMutexName(const std::wstring& folder);

// Takes the folder's mutex for the life of the process. False when another launcher of the
// folder holds it (one whose mutex cannot even be opened, another user's or an elevated one's,
// included), unless that launcher handed the folder over: `args` name it, it is a launcher of
// this folder, and either this is the elevated copy it waits for, or it ends within a bound.
bool ClaimInstance(const std::wstring& folder, const LaunchArguments& args);

// Starts `exe` from the install folder as this launcher's heir: this launcher's arguments and
// the handover marker, the folder's mutex in its hands before it runs, its window where this
// launcher's is, and the MinLauncherBuild it was installed to meet, so that one that still does
// not meet it does not replace itself again. The caller closes this launcher on success.
bool StartHeir(const std::wstring& exe, int32_t installedFor);

// The window of the launcher with this process id, shown or not.
HWND LauncherWindowOf(DWORD processId);

// Brings the shown window of the other launcher running from `folder` to the front, restored
// if it was minimised. Gives one that is still starting a few seconds to show its window.
void ShowRunningLauncher(const std::wstring& folder);
