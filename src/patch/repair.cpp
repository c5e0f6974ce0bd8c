#include "patch/repair.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "app/state.h"
#include "app/text.h"
#include "app/window.h"

namespace {

const wchar_t kRestoring[] = L"Restaurando arquivos do jogo...";

struct FindCloser {
    using pointer = HANDLE;
    void operator()(HANDLE h) const { FindClose(h); }
};
using FindHandle = std::unique_ptr<HANDLE, FindCloser>;

struct ViewCloser {
    void operator()(const char* view) const { UnmapViewOfFile(view); }
};

// A file's bytes, mapped rather than read: under Wine mapping a megabyte costs a tenth of reading
// it. Empty when the file is missing or empty.
class MappedFile {
public:
    explicit MappedFile(const std::wstring& path)
        : file_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)),
          mapping_(nullptr) {
        LARGE_INTEGER size{};
        if (!file_ || !GetFileSizeEx(file_.get(), &size) || size.QuadPart <= 0) return;
        mapping_.reset(CreateFileMappingW(file_.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        if (mapping_) view_.reset(static_cast<const char*>(MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, 0)));
        if (view_) size_ = static_cast<size_t>(size.QuadPart);
    }
    std::string_view Bytes() const { return {view_.get(), size_}; }

private:
    FileHandle file_;
    FileHandle mapping_;
    std::unique_ptr<const char, ViewCloser> view_;
    size_t size_ = 0;
};

uint64_t Join(DWORD high, DWORD low) { return (static_cast<uint64_t>(high) << 32) | low; }

// The files of one folder by name, with what the listing says of them.
std::unordered_map<std::wstring, FileStamp> ListFolder(const std::wstring& folder) {
    std::unordered_map<std::wstring, FileStamp> files;
    WIN32_FIND_DATAW data;
    const HANDLE first = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                          nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (first == INVALID_HANDLE_VALUE) return files;
    const FindHandle find(first);
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files[data.cFileName] = {Join(data.nFileSizeHigh, data.nFileSizeLow),
                                     Join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime)};
    } while (FindNextFileW(find.get(), &data));
    return files;
}

// What the file system says of each recorded file. One listing per folder: under Wine it costs
// about what a look at a single file by its path does. A listing confirms only a file as recorded;
// any other is looked at by its path, so a name in another letter case or a listing behind the
// file's last write costs one look more, never a wrong verdict. Folders are keyed by the record's
// own bytes and only a file's name is decoded: a big client's record has tens of thousands of lines.
std::vector<std::optional<FileStamp>> StampsOf(const std::wstring& bin, const std::vector<InstalledFile>& record) {
    std::unordered_map<std::string_view, std::unordered_map<std::wstring, FileStamp>> listings;
    const std::unordered_map<std::wstring, FileStamp>* listing = nullptr;
    std::string_view folder = "/";  // no folder's name: the first line looks its folder up
    std::vector<std::optional<FileStamp>> stamps;
    stamps.reserve(record.size());
    for (const InstalledFile& file : record) {
        const size_t slash = file.path.rfind('/');
        const std::string_view path = file.path, own = path.substr(0, slash == std::string::npos ? 0 : slash);
        if (own != folder) {  // lines come folder by folder
            folder = own;
            auto known = listings.find(folder);
            if (known == listings.end())
                known = listings.emplace(folder, ListFolder(folder.empty() ? bin : EntryPath(bin, std::string(folder))))
                            .first;
            listing = &known->second;
        }
        const auto found = listing->find(DecodeText(file.path.substr(slash + 1)));
        const bool asRecorded = found != listing->end() && found->second.size == file.stamp.size &&
                                found->second.writeTime == file.stamp.writeTime;
        stamps.push_back(asRecorded ? std::optional<FileStamp>(found->second) : StampOf(EntryPath(bin, file.path)));
    }
    return stamps;
}

}  // namespace

RecordLook LookAtRecord(std::vector<InstalledFile> record, const std::vector<std::optional<FileStamp>>& onDisk) {
    RecordLook look;
    look.vouched.reserve(record.size());
    for (size_t i = 0; i < record.size(); ++i) {
        const std::optional<FileStamp>& stamp = onDisk[i];
        if (!stamp) {
            // Its line stays until the file is back: it is what tells the next start to restore it.
            look.missing.push_back(record[i].path);
            look.vouched.push_back(std::move(record[i]));
        } else if (stamp->size == record[i].stamp.size && stamp->writeTime == record[i].stamp.writeTime) {
            look.vouched.push_back(std::move(record[i]));
        }
    }
    return look;
}

RecordLook QuickLook(const std::wstring& bin) {
    // Unmapped before the record may be written again below.
    std::optional<std::vector<InstalledFile>> record = ParseInstallRecord(MappedFile(InstallRecordPath()).Bytes());
    if (!record || record->empty()) return {};
    const size_t lines = record->size();
    const std::vector<std::optional<FileStamp>> stamps = StampsOf(bin, *record);
    RecordLook look = LookAtRecord(std::move(*record), stamps);
    if (look.vouched.size() != lines) WriteInstallRecord(look.vouched);
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
    const PatchResult fetched = FetchNeeded(archive, bin, check, kRestoring, state);
    if (fetched != PatchResult::Assembled && fetched != PatchResult::Rebuilt) state.result = PatchResult::Failed;
    return state.result;
}
