// The update is unpacked into a staging folder beside bin and moved over bin's files only once
// a tool has unpacked all of it, so bin never holds a half-written client. A journal beside the
// folder marks a staged set complete; a launcher stopped while moving finishes at its next start.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

// How long a target file held open by another program (an antivirus scan, a crash reporter) is
// waited for before the move is left to the next start.
constexpr DWORD kHeldWaitMs = 5000;

// update_staging beside bin: the same volume, so every move is a rename.
std::wstring StagingFolder(const std::wstring& baseDir);
// update_staging.txt: present and whole only while a complete set waits to be moved.
std::wstring StagingJournal(const std::wstring& baseDir);

// The journal's text: a marker line, then the bytes version.txt holds once the set is in bin.
std::string JournalText(const std::string& versionBytes);
// The version bytes of a complete set's journal; nothing for any other text.
std::optional<std::string> JournalVersion(const std::string& journal);

// Unpacks `archive` (none when empty) with the usual tools into a fresh staging folder, moves the
// `made` files (file, path in bin with '/') into it and marks the set complete with `versionBytes`.
// False, with the folder gone, when no tool unpacked it or a file could not be moved.
bool StageArchive(const std::wstring& archive, const std::wstring& baseDir, const std::string& versionBytes,
                  const std::vector<std::pair<std::wstring, std::string>>& made = {});

// The journal first (a set without one is never moved), then the folder's tree.
void RemoveStaging(const std::wstring& baseDir);
// Only the folder's tree, emptied by the moves: the journal stays until the version is recorded.
void RemoveStagingFolder(const std::wstring& baseDir);

// Moves every staged file over bin's, replacing and writing through, creating folders as needed.
// Before any move, every target already in bin must be free, waited for up to `heldMs`, so that a
// file held open leaves bin as it was. Empty when all moved; otherwise the path, relative to bin,
// of the file that could not be replaced (what was not moved stays staged).
std::wstring MoveStagedIntoBin(const std::wstring& staging, const std::wstring& bin, DWORD heldMs = kHeldWaitMs);

// What the player reads when a file stayed held.
std::wstring HeldFileText(const std::wstring& relative);
