// Starting the game client from the bin folder.
#pragma once

#include <string>

std::wstring ClientFolder(const std::wstring& baseDir);
std::wstring ClientPath(const std::wstring& baseDir, const std::wstring& clientExe);
std::wstring MissingClientMessage(const std::wstring& clientPath);

// Starts bin\<clientExe> in bin, with this process's rights; false when it did not start.
bool StartClient(const std::wstring& clientExe);

// Play handler: starts the client and ends the launcher, or explains why it cannot.
void LaunchClient();
