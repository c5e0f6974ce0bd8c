// Mending the installed client from the manifest of its own archive: the quick look of every
// start at the files the install record lists, and the player's full check. Both restore what
// they find by the patch path.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "patch/patch.h"

// The record held against the disk: the lines still true, and the recorded files that are gone.
struct RecordLook {
    std::vector<InstalledFile> vouched;
    std::vector<std::string> missing;
};
// `onDisk` is what the file system says of each line's file, in the record's order.
RecordLook LookAtRecord(std::vector<InstalledFile> record, const std::vector<std::optional<FileStamp>>& onDisk);

// Presence, size and write time of every recorded file, no content read. The line of a file that
// changed leaves the record at once: the player may have rewritten it, and nothing vouches for it.
RecordLook QuickLook(const std::wstring& bin);

// Fetches the manifest and the entries to restore into update_temp.zip: the look's missing files,
// or, without a look, every file of the manifest that a hash finds missing or different (the
// record ignored, and rewritten with what the hash found intact). `restoring` is the count of
// entries to restore. Sets the status and the bar.
PatchResult PrepareRepair(const std::wstring& archive, const std::wstring& bin, const RecordLook* look,
                          PatchState& state, size_t& restoring);
