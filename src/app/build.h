// This launcher's build number, set when the program is configured (VELMORA_LAUNCHER_BUILD) and
// carried by its version resource too, where a newer launcher's build is read before it runs.
#pragma once

#include <cstdint>

// A remote MinLauncherBuild above it retires this launcher.
int32_t LauncherBuild();
