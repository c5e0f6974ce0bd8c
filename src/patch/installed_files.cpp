#include "patch/installed_files.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <unordered_map>

#include "app/state.h"
#include "patch/chunk_scan.h"
#include "verify/verify.h"

namespace {

// Two chunk lists of one content: the same lengths and digests in the same order.
bool SameChunks(const std::vector<FileChunk>& a, const std::vector<FileChunk>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const FileChunk& x, const FileChunk& y) {
        return x.length == y.length && x.sha256 == y.sha256;
    });
}

uint64_t Join(DWORD high, DWORD low) { return (static_cast<uint64_t>(high) << 32) | low; }

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

std::optional<FileStamp> StampOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    return FileStamp{Join(data.nFileSizeHigh, data.nFileSizeLow),
                     Join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime)};
}

std::wstring InstallRecordPath() { return g_baseDir + L"\\installed_files.txt"; }

std::wstring EntryPath(const std::wstring& bin, const std::string& path) {
    std::wstring relative = DecodeText(path);  // manifest paths are valid UTF-8
    if (!relative.empty() && relative.back() == L'/') relative.pop_back();
    for (wchar_t& c : relative)
        if (c == L'/') c = L'\\';
    std::wstring full = bin + L"\\" + relative;
    // Past MAX_PATH the file functions take only the extended form; bin is already a full path.
    if (full.size() < MAX_PATH || full.compare(0, 4, L"\\\\?\\") == 0) return full;
    return full.compare(0, 2, L"\\\\") == 0 ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
}

bool FileHasher::Read(const std::wstring& path, const std::function<void(const uint8_t*, size_t)>& take,
                      const std::function<void(uint64_t hashed)>& hashed) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    uint64_t done = 0;
    DWORD got = 0;
    while (ReadFile(file.get(), buffer_.data(), static_cast<DWORD>(buffer_.size()), &got, nullptr)) {
        if (got == 0) return true;
        take(reinterpret_cast<const uint8_t*>(buffer_.data()), got);
        done += got;
        if (hashed) hashed(done);
    }
    return false;
}

std::optional<std::array<uint8_t, 32>> FileHasher::Hash(const std::wstring& path,
                                                        const std::function<void(uint64_t hashed)>& hashed) {
    Sha256 hash;
    if (!Read(path, [&hash](const uint8_t* data, size_t size) { hash.Update(data, size); }, hashed)) return std::nullopt;
    return hash.Finish();
}

std::optional<std::vector<FileChunk>> FileHasher::Chunks(const std::wstring& path,
                                                         const std::function<void(uint64_t hashed)>& hashed) {
    const FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return std::nullopt;
    // A window of several chunks, hashed two at a time; made at the first big file.
    if (window_.empty()) window_.resize(size_t{8} << 20);
    return ScanChunks(file.get(), window_, hashed);
}

InstalledCheck CheckInstalled(const Manifest& manifest, const std::wstring& bin, bool useRecord) {
    std::unordered_map<std::string, InstalledFile> recorded;
    for (InstalledFile& file : ParseInstallRecord(useRecord ? ReadFileBytes(InstallRecordPath()) : std::string())
                                   .value_or(std::vector<InstalledFile>()))
        recorded[file.path] = std::move(file);

    InstalledCheck check;
    std::vector<std::pair<size_t, FileStamp>> unknown;
    uint64_t toHash = 0;
    for (size_t i = 0; i < manifest.entries.size(); ++i) {
        const ManifestEntry& entry = manifest.entries[i];
        const std::wstring path = EntryPath(bin, entry.path);
        if (entry.folder) {
            if (!IsFolder(path)) check.needed.push_back(i);
            continue;
        }
        const std::optional<FileStamp> stamp = StampOf(path);
        const auto line = recorded.find(entry.path);
        const InstalledFile* known = line == recorded.end() ? nullptr : &line->second;
        FileVerdict verdict = JudgeInstalled(entry, stamp, known);
        if (verdict == FileVerdict::Differs && !entry.chunks.empty() && stamp) {
            // Another content: what of it can be kept is found from the record's chunks or by reading it.
            if (known && known->stamp.size == stamp->size && known->stamp.writeTime == stamp->writeTime &&
                !known->chunks.empty())
                check.oldChunks[i] = known->chunks;
            else
                verdict = FileVerdict::Unknown;
        }
        switch (verdict) {
        case FileVerdict::Same:
            check.intact.push_back({entry.path, *stamp, entry.contentSha256, entry.chunks});
            break;
        case FileVerdict::Differs:
            check.needed.push_back(i);
            break;
        case FileVerdict::Unknown:
            unknown.emplace_back(i, *stamp);
            toHash += stamp->size;
            break;
        }
    }

    FileHasher hasher;
    uint64_t before = 0;
    int shown = -1;
    const auto progress = [&](uint64_t done) {
        const int percent = toHash ? static_cast<int>((before + done) * 100 / toHash) : 100;
        if (percent != shown) SendMessageW(g_hwndProgress, PBM_SETPOS, static_cast<WPARAM>(shown = percent), 0);
    };
    for (const auto& [i, stamp] : unknown) {
        const ManifestEntry& entry = manifest.entries[i];
        const std::wstring path = EntryPath(bin, entry.path);
        bool intact = false;
        // A chunked file's chunks say whether it holds the manifest's content, and if not, which
        // bytes it can still give: one reading either way.
        if (!entry.chunks.empty()) {
            std::optional<std::vector<FileChunk>> chunks = hasher.Chunks(path, progress);
            intact = chunks && stamp.size == entry.size && SameChunks(*chunks, entry.chunks);
            if (chunks && !intact) check.oldChunks[i] = std::move(*chunks);
        } else {
            intact = hasher.Hash(path, progress) == entry.contentSha256;
        }
        before += stamp.size;
        if (intact)
            check.intact.push_back({entry.path, stamp, entry.contentSha256, entry.chunks});
        else
            check.needed.push_back(i);
    }
    return check;
}

std::vector<InstalledFile> ManifestFilesOnDisk(const Manifest& manifest, const std::wstring& bin) {
    std::vector<InstalledFile> files;
    for (const ManifestEntry& entry : manifest.entries) {
        if (entry.folder) continue;
        const std::optional<FileStamp> stamp = StampOf(EntryPath(bin, entry.path));
        if (stamp && stamp->size == entry.size) files.push_back({entry.path, *stamp, entry.contentSha256, entry.chunks});
    }
    return files;
}

void WriteInstallRecord(const std::vector<InstalledFile>& files) {
    const std::wstring target = InstallRecordPath();
    const std::wstring staging = target + L".new";
    if (files.empty()) {
        DeleteFileW(target.c_str());
        return;
    }
    const std::string bytes = FormatInstallRecord(files);
    bool written = false;
    {
        FileHandle file(CreateFileW(staging.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
        DWORD put = 0;
        written = file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
                  put == bytes.size();
    }
    // A record that cannot be replaced must not stay behind with claims about older files.
    if (!written || !MoveFileExW(staging.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(staging.c_str());
        DeleteFileW(target.c_str());
    }
}
