// One launcher per install folder: a named mutex per folder, and finding the one that runs.
#pragma once

#include <string>

// "Local\VelmoraLauncher-" and 16 hex digits of a hash of the path with its letter case
// folded, so every spelling of one folder gives one name, usable as a kernel object name.
std::wstring InstanceMutexName(const std::wstring& folder);

// Takes the folder's mutex for the life of the process. False when another launcher of the
// same folder holds it, an elevated one included (its mutex cannot even be opened).
bool ClaimInstance(const std::wstring& folder);
// Lets the mutex go, so that a restarted copy of the launcher can take it.
void ReleaseInstance();

// Brings the window of the other launcher running from `folder` to the front, restored if it
// was minimised. Gives one that is still starting a few seconds to show its window.
void ShowRunningLauncher(const std::wstring& folder);
