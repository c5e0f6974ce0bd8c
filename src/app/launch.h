// Starting the game client from the bin folder, and what an elevated copy asks the player's
// launcher to start in its stead.
#pragma once

#include <windows.h>

#include <string>

std::wstring ClientFolder(const std::wstring& baseDir);
std::wstring ClientPath(const std::wstring& baseDir, const std::wstring& clientExe);
std::wstring MissingClientMessage(const std::wstring& clientPath);

// Starts bin\<clientExe> in bin, with this process's rights; false when it did not start.
bool StartClient(const std::wstring& clientExe);

// Play handler: starts the client and ends the launcher, or explains why it cannot.
void LaunchClient();

// The player's launcher's side (WM_COPYDATA from `sender`): TRUE when the request was carried
// out. Only its own elevated copy is heard. After a start, this launcher closes.
LRESULT OnPlayerRequest(HWND sender, const COPYDATASTRUCT& data);
