// Updating needs a writable install folder: the check, and restarting the launcher elevated.
#pragma once

#include <string>

enum class FolderAccess {
    Writable,    // the pass goes on
    Restarting,  // an elevated copy has started and takes over; this launcher closes
    Denied,      // no update this time; the installed client can still be played
};

// Creates and deletes a uniquely named probe file in `folder`; true when both work.
bool FolderWritable(const std::wstring& folder);

// Starts this launcher again elevated ("runas"), marked so that it does not ask again, after
// handing over the single-instance claim. False when it did not start (elevation refused or
// failed); the claim is then taken back.
bool RestartElevated();

// The update pass's first stage, on the worker thread: when the install folder cannot be
// written, asks the player whether to restart as administrator and does so on Yes. A copy
// that was itself restarted elevated does not ask again.
FolderAccess CheckInstallFolderAccess();
