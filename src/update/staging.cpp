#include "update/staging.h"

#include <memory>
#include <vector>

#include "app/state.h"
#include "app/text.h"
#include "update/extract.h"

namespace {

constexpr char kJournalMarker[] = "velmora-staging complete\n";
constexpr DWORD kRetryMs = 250;

struct FindCloser {
    using pointer = HANDLE;
    void operator()(HANDLE h) const { FindClose(h); }
};
using FindHandle = std::unique_ptr<HANDLE, FindCloser>;

struct Staged {
    std::wstring relative;
    bool folder = false;
};

// Everything under `root`, each folder before what it holds. Links are listed, not followed.
void Walk(const std::wstring& root, const std::wstring& relative, std::vector<Staged>& out) {
    WIN32_FIND_DATAW data;
    HANDLE first = FindFirstFileW(((relative.empty() ? root : root + L"\\" + relative) + L"\\*").c_str(), &data);
    if (first == INVALID_HANDLE_VALUE) return;
    const FindHandle found(first);
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = relative.empty() ? name : relative + L"\\" + name;
        const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        out.push_back({path, folder});
        if (folder && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) Walk(root, path, out);
    } while (FindNextFileW(found.get(), &data));
}

std::vector<Staged> Listing(const std::wstring& root) {
    std::vector<Staged> staged;
    Walk(root, L"", staged);
    return staged;
}

// The errors of a file another program holds open (or maps, as a running exe).
bool Held(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_USER_MAPPED_FILE;
}

// Tries `attempt` again while it fails the way a held file does, for up to `heldMs`.
template <class Attempt>
bool Retrying(DWORD heldMs, Attempt attempt) {
    for (const DWORD start = GetTickCount();;) {
        if (attempt()) return true;
        if (!Held(GetLastError()) || GetTickCount() - start >= heldMs) return false;
        Sleep(kRetryMs);
    }
}

// Nobody else has the file open: it opens with no sharing at all (or is not there).
bool Free(const std::wstring& path) {
    const FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (file) return true;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool MoveOne(const std::wstring& from, const std::wstring& to, DWORD heldMs) {
    // A read-only file in bin is replaced all the same, as an unpacking over it would.
    const DWORD attributes = GetFileAttributesW(to.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(to.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    return Retrying(heldMs, [&] {
        return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    });
}

void RemoveTree(const std::wstring& root) {
    const std::vector<Staged> staged = Listing(root);
    for (auto it = staged.rbegin(); it != staged.rend(); ++it) {
        const std::wstring path = root + L"\\" + it->relative;
        if (it->folder) {
            RemoveDirectoryW(path.c_str());
            continue;
        }
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);  // tools may stage read-only files
        DeleteFileW(path.c_str());
    }
    RemoveDirectoryW(root.c_str());
}

// The staged bytes reach the disk before the journal says the set is complete, and the journal
// appears whole or not at all.
bool MarkComplete(const std::wstring& baseDir, const std::string& versionBytes) {
    const std::wstring staging = StagingFolder(baseDir);
    for (const Staged& entry : Listing(staging)) {
        if (entry.folder) continue;
        const FileHandle file(CreateFileW((staging + L"\\" + entry.relative).c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                          0, nullptr));
        if (file) FlushFileBuffers(file.get());  // a read-only one cannot be opened so; the move still writes through
    }
    const std::wstring journal = StagingJournal(baseDir), written = journal + L".new";
    const std::string text = JournalText(versionBytes);
    {
        const FileHandle file(CreateFileW(written.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD done = 0;
        if (!file || !WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &done, nullptr) ||
            done != text.size() || !FlushFileBuffers(file.get()))
            return false;
    }
    return MoveFileExW(written.c_str(), journal.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

}  // namespace

std::wstring StagingFolder(const std::wstring& baseDir) { return baseDir + L"\\update_staging"; }

std::wstring StagingJournal(const std::wstring& baseDir) { return baseDir + L"\\update_staging.txt"; }

std::string JournalText(const std::string& versionBytes) { return kJournalMarker + versionBytes; }

std::optional<std::string> JournalVersion(const std::string& journal) {
    const std::string marker = kJournalMarker;
    if (journal.compare(0, marker.size(), marker) != 0) return std::nullopt;
    return journal.substr(marker.size());
}

namespace {

// Moves a file made beside the archive to its place in the staging folder, folders created.
bool StageFile(const std::wstring& staging, const std::wstring& from, std::wstring relative) {
    for (wchar_t& c : relative)
        if (c == L'/') c = L'\\';
    for (size_t slash = relative.find(L'\\'); slash != std::wstring::npos; slash = relative.find(L'\\', slash + 1))
        CreateDirectoryW((staging + L"\\" + relative.substr(0, slash)).c_str(), nullptr);
    return MoveFileExW(from.c_str(), (staging + L"\\" + relative).c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

}  // namespace

bool StageArchive(const std::wstring& archive, const std::wstring& baseDir, const std::string& versionBytes,
                  const std::vector<std::pair<std::wstring, std::string>>& made) {
    RemoveStaging(baseDir);  // what a stopped unpacking left is never finished
    const std::wstring staging = StagingFolder(baseDir);
    bool staged = CreateDirectoryW(staging.c_str(), nullptr) && (archive.empty() || ExtractUpdateArchive(archive, staging));
    for (const auto& [from, path] : made) staged = staged && StageFile(staging, from, DecodeText(path));
    if (staged && MarkComplete(baseDir, versionBytes)) return true;
    RemoveStaging(baseDir);
    return false;
}

void RemoveStaging(const std::wstring& baseDir) {
    DeleteFileW(StagingJournal(baseDir).c_str());
    DeleteFileW((StagingJournal(baseDir) + L".new").c_str());
    RemoveStagingFolder(baseDir);
}

void RemoveStagingFolder(const std::wstring& baseDir) {
    const std::wstring staging = StagingFolder(baseDir);
    if (GetFileAttributesW(staging.c_str()) != INVALID_FILE_ATTRIBUTES) RemoveTree(staging);
}

std::wstring MoveStagedIntoBin(const std::wstring& staging, const std::wstring& bin, DWORD heldMs) {
    const std::vector<Staged> staged = Listing(staging);
    for (const Staged& entry : staged)
        if (!entry.folder && !Retrying(heldMs, [&] { return Free(bin + L"\\" + entry.relative); })) return entry.relative;
    for (const Staged& entry : staged) {
        const std::wstring target = bin + L"\\" + entry.relative;
        if (entry.folder)
            CreateDirectoryW(target.c_str(), nullptr);  // one already there is fine; a failure shows in the moves under it
        else if (!MoveOne(staging + L"\\" + entry.relative, target, heldMs))
            return entry.relative;
    }
    return std::wstring();
}

std::wstring HeldFileText(const std::wstring& relative) {
    return L"O arquivo bin\\" + relative +
           L" est\u00e1 em uso por outro programa. A atualiza\u00e7\u00e3o ser\u00e1 conclu\u00edda no pr\u00f3ximo in\u00edcio.";
}
