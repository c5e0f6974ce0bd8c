// Judging a downloaded launcher before it may replace this one: its PE headers and the build its
// version resource names. Pure functions over the file's bytes, which may be anything a server
// sent; nothing is loaded or run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// True for a PE32+ executable (not a DLL) for x86-64 whose subsystem is the Windows GUI.
bool IsWindowsGuiX64(std::string_view image);

// The bytes of the image's first RT_VERSION resource; nothing when it has none or the
// resource directory does not hold together.
std::optional<std::string_view> VersionResource(std::string_view image);

// The text of the string `key` in any string table of a VS_VERSIONINFO resource.
std::optional<std::wstring> VersionString(std::string_view resource, std::wstring_view key);

// The "LauncherBuild" string of the image's version resource as a number: decimal digits only,
// within the int32 range.
std::optional<int32_t> LauncherBuildOf(std::string_view image);

enum class LauncherVerdict {
    Accepted,     // a GUI program for x86-64 whose build is at least the minimum
    NotAProgram,  // not a PE32+ GUI executable for x86-64
    NoBuild,      // a program without a readable LauncherBuild
    TooOld,       // a launcher whose build is below the minimum
};
LauncherVerdict JudgeLauncher(std::string_view image, int32_t minBuild);
