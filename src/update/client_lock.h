// Whether the game client is running (or otherwise held open) while an update wants to unpack.
#pragma once

#include <string>

// True when the file exists but cannot be opened for exclusive writing because another
// process uses it: a running exe, or one held open without write sharing. Any other failure
// (missing file, read-only file, no rights) is not "in use"; the unpacking reports those.
bool ClientInUse(const std::wstring& exePath);
