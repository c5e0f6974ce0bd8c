// Starting the game client from the bin folder, and what an elevated copy asks the player's
// launcher to start in its stead.
#pragma once

#include <windows.h>

#include <string>

std::wstring ClientFolder(const std::wstring& baseDir);
std::wstring ClientPath(const std::wstring& baseDir, const std::wstring& clientExe);
std::wstring MissingClientMessage(const std::wstring& clientPath);

// True when `clientExe` names a file inside bin: relative, no drive or stream, no "." or ".."
// component (nor one Windows reads as such).
bool ClientInsideBin(const std::wstring& clientExe);

// Starts bin\<clientExe> in bin, with this process's rights; false when it did not start or the
// name leads out of bin.
bool StartClient(const std::wstring& clientExe);

// Play handler: starts the client and ends the launcher, or explains why it cannot.
void LaunchClient();

// The player's launcher's side (WM_COPYDATA): TRUE when the request was carried out. Only its
// own elevated copy is heard, known by the secret it was started with. After a start, this
// launcher closes.
LRESULT OnPlayerRequest(const COPYDATASTRUCT& data);
