// Renaming the launcher's exe for its own update. A running program can be renamed but its name
// cannot be taken over, so the swap is two renames in one folder: between them (a moment, each
// written through) a crash leaves only "<exe>.old" and "<exe>.new", which the operator guide
// tells the player to rename back. Every failure the launcher sees puts the old exe back.
#pragma once

#include <string>

// The running `self` becomes `old` and the checked `fresh` takes its name. False when it did not
// (`fresh` removed or held open meanwhile): then `self` is the old launcher again.
bool SwapInLauncher(const std::wstring& self, const std::wstring& fresh, const std::wstring& old);

// After a swap whose heir did not start: the old launcher goes back under its name whatever
// became of the new one (moved back to `fresh` when it can be). Only a new one that cannot be
// moved or replaced stays, and it is a launcher under the player's name too.
void SwapBackLauncher(const std::wstring& self, const std::wstring& fresh, const std::wstring& old);
