// The launcher's command line: the markers one launcher gives another it starts, and the rest,
// passed on unchanged.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct LaunchArguments {
    bool elevated = false;             // "--elevated": the copy the elevation offer started
    DWORD predecessor = 0;             // "--handover=<process id>": the launcher handing over the folder
    std::vector<std::wstring> others;  // anything else
};

// The arguments after the program's name. A marker that does not read as one counts as another
// argument.
LaunchArguments ParseArguments(const std::vector<std::wstring>& args);

// What a launcher started by this one gets: `current.others`, then the markers.
std::vector<std::wstring> HandoverArguments(const LaunchArguments& current, DWORD predecessor, bool elevated);

// `args` separated by blanks, each quoted so that CommandLineToArgvW gives it back unchanged.
std::wstring JoinArguments(const std::vector<std::wstring>& args);

// This process's arguments, read once.
const LaunchArguments& CurrentArguments();
