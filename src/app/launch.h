// Starting the game client from the bin folder.
#pragma once

#include <string>

std::wstring ClientFolder(const std::wstring& baseDir);
std::wstring ClientPath(const std::wstring& baseDir, const std::wstring& clientExe);
std::wstring MissingClientMessage(const std::wstring& clientPath);

// Play handler: starts the client and ends the launcher, or explains why it cannot.
void LaunchClient();
