// The launcher's command line: the markers one launcher gives another it starts, and the rest,
// passed on unchanged.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct LaunchArguments {
    bool elevated = false;             // "--elevated": the copy the elevation offer started
    DWORD predecessor = 0;             // "--handover=<process id>": the launcher handing over the folder
    std::wstring requestKey;           // "--request-key=<hex>": what an elevated copy's requests must carry
    std::optional<int32_t> installedFor;  // "--installed-for=<n>": installed to meet MinLauncherBuild n
    std::vector<std::wstring> others;  // anything else
};

// The arguments after the program's name. A marker that does not read as one counts as another
// argument.
LaunchArguments ParseArguments(const std::vector<std::wstring>& args);

// What a launcher started by this one gets: `current.others`, then the markers (an empty key and
// no build are left out).
std::vector<std::wstring> HandoverArguments(const LaunchArguments& current, DWORD predecessor, bool elevated,
                                            const std::wstring& requestKey = std::wstring(),
                                            std::optional<int32_t> installedFor = std::nullopt);

// A build number as the markers and requests carry it: an optional '-' and decimal digits within
// 32 bits; nothing for anything else.
std::optional<int32_t> BuildNumberOf(const std::wstring& text);

// `args` separated by blanks, each quoted so that CommandLineToArgvW gives it back unchanged.
std::wstring JoinArguments(const std::vector<std::wstring>& args);

// This process's arguments, read once.
const LaunchArguments& CurrentArguments();
