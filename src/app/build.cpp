// The one piece of code that differs between builds: every program built on the core library
// links it once, compiled with the number the build was configured with.
#include "app/build.h"

int32_t LauncherBuild() { return VELMORA_LAUNCHER_BUILD; }
