// The launcher replacing itself with a newer build the remote configuration publishes
// (LauncherURL, LauncherSHA256, and LauncherSignature under a publisher key).
#pragma once

// On the worker thread, once MinLauncherBuild has retired this launcher: downloads the new
// exe beside the running one as "<exe>.new" (the status says so, the bar follows), checks its
// digest, its signature under a key, that it is a 64-bit GUI program, and that its build meets
// MinLauncherBuild; then moves the running exe to "<exe>.old", the new one into its place, and
// starts it as this launcher's heir. True when the heir runs and this launcher must close.
// False, with "<exe>.new" gone and the exe as it was, when the keys are missing or any step
// fails: the outdated ending follows.
bool ReplaceLauncher();

// At start: deletes the "<exe>.old" a replacement left, quietly (it stays while a launcher
// still runs from it, until a later start).
void RemoveRetiredLauncher();
