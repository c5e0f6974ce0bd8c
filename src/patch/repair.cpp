#include "patch/repair.h"

#include <algorithm>
#include <unordered_set>

#include "app/state.h"
#include "app/window.h"

namespace {

const wchar_t kRestoring[] = L"Restaurando arquivos do jogo...";

}  // namespace

RecordLook LookAtRecord(const std::vector<InstalledFile>& record, const std::vector<std::optional<FileStamp>>& onDisk) {
    RecordLook look;
    for (size_t i = 0; i < record.size(); ++i) {
        const std::optional<FileStamp>& stamp = onDisk[i];
        if (!stamp) {
            // Its line stays until the file is back: it is what tells the next start to restore it.
            look.vouched.push_back(record[i]);
            look.missing.push_back(record[i].path);
        } else if (stamp->size == record[i].stamp.size && stamp->writeTime == record[i].stamp.writeTime) {
            look.vouched.push_back(record[i]);
        }
    }
    return look;
}

RecordLook QuickLook(const std::wstring& bin) {
    const std::optional<std::vector<InstalledFile>> record = ParseInstallRecord(ReadFileBytes(InstallRecordPath()));
    if (!record || record->empty()) return {};
    std::vector<std::optional<FileStamp>> onDisk;
    onDisk.reserve(record->size());
    for (const InstalledFile& file : *record) onDisk.push_back(StampOf(EntryPath(bin, file.path)));
    RecordLook look = LookAtRecord(*record, onDisk);
    if (look.vouched.size() != record->size()) WriteInstallRecord(look.vouched);
    // The caller restores the missing files; the lines it keeps are the present ones.
    std::unordered_set<std::string> gone(look.missing.begin(), look.missing.end());
    look.vouched.erase(std::remove_if(look.vouched.begin(), look.vouched.end(),
                                      [&gone](const InstalledFile& file) { return gone.count(file.path) > 0; }),
                       look.vouched.end());
    return look;
}

PatchResult PrepareRepair(const std::wstring& archive, const std::wstring& bin, const RecordLook* look,
                          PatchState& state, size_t& restoring) {
    state.repair = true;
    SetStatus(look ? kRestoring : L"Verificando arquivos instalados...");
    SetBar(0);
    state.manifest = FetchManifest();
    if (!state.manifest) return state.result = PatchResult::Failed;

    InstalledCheck check;
    if (look) {
        const std::unordered_set<std::string> gone(look->missing.begin(), look->missing.end());
        for (size_t i = 0; i < state.manifest->entries.size(); ++i)
            if (!state.manifest->entries[i].folder && gone.count(state.manifest->entries[i].path)) check.needed.push_back(i);
        check.intact = look->vouched;
    } else {
        check = CheckInstalled(*state.manifest, bin, false);
        WriteInstallRecord(check.intact);  // a file that differs keeps no line, even when it cannot be restored
    }
    restoring = check.needed.size();
    if (check.needed.empty()) {
        DiscardPatchPart(archive);
        state.untouched = check.intact;
        return state.result = PatchResult::Current;
    }
    SetStatus(kRestoring);
    SetBar(0);
    // A restore has no full download to fall back on: the installed version's files are fetched
    // one by one or not at all.
    if (FetchNeeded(archive, check, kRestoring, state) != PatchResult::Assembled) state.result = PatchResult::Failed;
    return state.result;
}
