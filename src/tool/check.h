// `VelmoraTool check`: the launcher's update pass walked step by step against an install
// folder, reporting instead of installing. The folder is only read.
#pragma once

#include <string>

#include "tool/report.h"

// Returns the exit code: 0 when no step reported ERRO, 1 otherwise.
int RunCheck(const std::wstring& folder);

// The archive step: downloads UpdateURL (for remote `version`) into g_baseDir and checks it
// against g_config. Defined in check_archive.cpp.
void CheckUpdateArchive(Report& report, const std::wstring& version);

// The launcher LauncherURL publishes, fetched into g_baseDir: reachable, its digest and signature
// as published, a 64-bit GUI program, and its build against MinLauncherBuild. Defined in
// check_launcher.cpp.
void CheckPublishedLauncher(Report& report);
