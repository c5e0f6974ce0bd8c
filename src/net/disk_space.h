// Whether a download fits on the disk of the folder it goes to, and what the player is told
// when it does not.
#pragma once

#include <cstdint>
#include <string>

// "Espaço insuficiente no disco (necessários N MB).": N is `bytesNeeded` in MB of 1048576
// bytes, rounded up, so the figure is never less than what must be freed.
std::wstring ShortfallText(uint64_t bytesNeeded);

// Empty when `bytesNeeded` more bytes fit in the free space the volume holding `folder` leaves
// this user (or that space cannot be read: the writes will tell); else ShortfallText.
std::wstring FreeSpaceShortfall(const std::wstring& folder, uint64_t bytesNeeded);
