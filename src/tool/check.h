// `VelmoraTool check`: the launcher's update pass walked step by step against an install
// folder, reporting instead of installing. The folder is only read.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "tool/report.h"

// Returns the exit code: 0 when no step reported ERRO, 1 otherwise.
int RunCheck(const std::wstring& folder);

// What the archive's server served: the whole body's size and digest, and its validator.
struct ServedArchive {
    std::wstring url;  // the address that served it
    uint64_t size = 0;
    std::array<uint8_t, 32> digest{};
    std::wstring validator;  // ETag, else Last-Modified; empty when the server sent neither
};

// How the report names address `index` (from 0) of an UpdateURL of `count`: "UpdateURL" alone,
// else "UpdateURL (2 de 3)".
std::wstring SourceName(size_t index, size_t count);

// The archive step: downloads every address of UpdateURL (for remote `version`) into g_baseDir,
// checks the first archive received against g_config and the others against it. Nothing when no
// archive was received. Defined in check_archive.cpp.
std::optional<ServedArchive> CheckUpdateArchive(Report& report, const std::wstring& version);

// The patch manifest at `url` (the remote UpdateManifest): reachable, signed under a key,
// describing the archive `served` (when one was received), and the archive's server answering
// single ranges. Defined in check_manifest.cpp.
void CheckPatchManifest(Report& report, const std::wstring& url, const std::optional<ServedArchive>& served);

// The launcher LauncherURL publishes, fetched into g_baseDir: reachable, its digest and signature
// as published, a 64-bit GUI program, and its build against MinLauncherBuild. Defined in
// check_launcher.cpp.
void CheckPublishedLauncher(Report& report);
