// Updating needs a writable install folder: the check, and restarting the launcher elevated. The
// player's launcher stays, unseen, while its elevated copy runs the pass: whatever that copy
// would start (the game, the web site, a new launcher) the player's launcher starts instead, so
// nothing runs elevated because of us.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

enum class FolderAccess {
    Writable,    // the pass goes on
    Restarting,  // an elevated copy has started and takes over; this launcher waits for it to end
    Denied,      // no update this time; the installed client can still be played
};

// Creates and deletes a uniquely named probe file in `folder`; true when both work.
bool FolderWritable(const std::wstring& folder);

// Starts this launcher again elevated ("runas"), marked so that it does not ask again and knows
// this launcher as its predecessor, and hides this launcher's window; the folder's mutex stays
// held. False when it did not start (elevation refused or failed); the window shows again.
bool RestartElevated();

// The update pass's first stage, on the worker thread: when the install folder cannot be
// written, asks the player whether to restart as administrator and does so on Yes. A copy
// that was itself restarted elevated does not ask again.
FolderAccess CheckInstallFolderAccess();

// In the player's launcher after Restarting: returns once the elevated copy has ended.
void WaitForElevatedCopy();

enum class PlayerRequest : ULONG_PTR {
    StartClient = 1,  // the text is ClientExe
    OpenSite,         // the text is the web address to open
    StartHeir,        // the launcher's exe has been replaced: start it; the text is the MinLauncherBuild it meets
};

// In an elevated copy the elevation offer started: has the player's launcher carry out
// `request`, and says whether it did. Nothing when this launcher is no such copy, so the
// caller does it itself.
std::optional<bool> AskPlayerLauncher(PlayerRequest request, const std::wstring& text);

// The secret the player's launcher hands its elevated copy; empty when none could be made (then
// no request is heard).
const std::wstring& RequestKey();

// The request's text when `payload` (what the copy sent) starts with `key` and a line break:
// the window handle a message names is the sender's own word, so the secret is what is checked.
std::optional<std::wstring> RequestText(const std::wstring& payload, const std::wstring& key);

// The process id of the elevated copy this launcher started; 0 when none.
DWORD ElevatedCopyId();
