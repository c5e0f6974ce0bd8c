// Patch updates: with a manifest of the archive published beside it, only the entries that bin
// lacks are fetched, as byte ranges of the same archive, and packed into a smaller
// update_temp.zip for the usual unpacking. Anything unexpected hands the update back to the
// full download.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "patch/installed_files.h"
#include "patch/manifest.h"
#include "patch/patch_plan.h"

enum class PatchResult {
    Full,       // no usable manifest, a patch would not pay, or the patch failed its checks
    Current,    // bin already holds every entry: only the version is left to record
    Assembled,  // update_temp.zip holds the entries bin lacks (and rebuilt files may wait beside it)
    Rebuilt,    // rebuilt files alone wait beside update_temp.zip, which is not there
    Failed,     // the connection could not be mended; what arrived waits for the next start
};

struct PatchState {
    std::optional<Manifest> manifest;  // accepted for this update
    PatchResult result = PatchResult::Full;
    std::vector<InstalledFile> untouched;  // intact files the assembled archive leaves alone
    std::set<std::string> packed;          // paths of the files the assembled archive holds
    bool repair = false;                   // mends the installed version: only what it restores is recorded anew
    bool describesArchive = false;         // the full archive received is the manifest's
    std::wstring shortfall;                // when it failed for want of disk space: what the player is told
    // Chunked files rebuilt whole and verified beside the archive, and where they go in bin.
    std::vector<std::pair<std::wstring, std::string>> rebuilt;
};

// The published archive's manifest, when it can be trusted as an update would trust it: under a
// key signed and naming the signed archive digest, and the published digest's wherever there is one.
std::optional<Manifest> FetchManifest();

// Fetches the entries `check.needed` names and assembles update_temp.zip from them, `heading` on
// the status line while they arrive; the intact files the archive leaves alone go to `untouched`.
PatchResult FetchNeeded(const std::wstring& archive, const std::wstring& bin, const InstalledCheck& check,
                        const std::wstring& heading, PatchState& state);

// On the worker thread, after the announcement: fetches and checks the manifest, finds what bin
// lacks and fetches it. Sets the status and the bar itself.
PatchResult PreparePatch(const std::wstring& archive, const std::wstring& bin, PatchState& state);

// Just before update_temp.zip is unpacked into bin: the record keeps only the files unpacking
// cannot touch.
void BeforeExtraction(const std::wstring& archive, PatchState& state);
// Once bin is complete: records the files whose content is now known. After a repair, the lines
// still vouched for and the files it restored: a file it left alone may be the player's.
void RecordInstall(const std::wstring& bin, const PatchState& state);

// Forgets a patch in progress (the client is current).
void DiscardPatchPart(const std::wstring& archive);
