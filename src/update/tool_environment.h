// The environment the unpacking tools run in. PowerShell loads its modules from the folders
// PSModulePath names (the first one, by default, the player's own Documents), searches PATH for
// commands, and .NET loads the profilers and hooks COR_*, COMPlus_* and DOTNET_* name: started
// from an elevated launcher, any of them would run the player's files as administrator.
#pragma once

#include <string>
#include <vector>

// `current` ("NAME=value" strings, as GetEnvironmentStringsW lists them) without the .NET
// loading variables, with PSModulePath naming only the system's module folder and PATH only
// the system's folders (`systemFolder`, `windowsFolder`). A Unicode environment block: sorted
// by name, each string NUL-terminated, one more NUL at the end.
std::wstring ToolEnvironment(const std::vector<std::wstring>& current, const std::wstring& systemFolder,
                             const std::wstring& windowsFolder);
