#include "patch/patch.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <set>

#include "app/state.h"
#include "app/window.h"
#include "net/disk_space.h"
#include "net/progress.h"
#include "net/ranges.h"
#include "net/remote_text.h"
#include "net/request.h"
#include "net/resume.h"
#include "net/sources.h"
#include "net/transfer.h"
#include "patch/installed_files.h"
#include "patch/zip_format.h"
#include "patch/zip_writer.h"
#include "verify/der.h"
#include "verify/verification.h"
#include "verify/verify.h"

namespace {

// What a local header can take: 30 fixed bytes, a name and an extra field of up to 64 KiB each.
const uint64_t kLocalHeaderMax = 30 + 2 * 0xFFFF;
const DWORD kProgressIntervalMs = 100;

// The entries fetched whole, and apart from them the chunks fetched for files rebuilt in place.
std::wstring PartFile(const std::wstring& archive) { return archive + L".patch"; }
std::wstring ChunkPartFile(const std::wstring& archive) { return archive + L".chunks"; }
// A rebuilt file waits beside the archive, named after its entry, until it moves into bin.
std::wstring RebuiltFile(const std::wstring& archive, size_t entry) {
    return archive + L".rebuilt." + std::to_wstring(entry);
}

}  // namespace

// The manifest counts only when signed under a key or its own digest is published where the
// archive's is, and it must be made for the archive the configuration names: otherwise the patch
// would install what the full download refuses.
std::optional<Manifest> FetchManifest() {
    const std::optional<std::string> bytes = FetchRemoteBytes(g_config.UpdateManifest, kManifestBytes);
    if (!bytes) return std::nullopt;
    if (!ManifestUsable(*bytes, g_config.UpdateManifestSHA256, g_config.UpdateSHA256, g_config.UpdatePublicKey))
        return std::nullopt;
    std::optional<Manifest> manifest = ParseManifest(*bytes);
    if (!manifest || manifest->archiveSize < kMinArchiveBytes ||
        CheckArchive(manifest->archiveSha256, g_config.UpdateSHA256, g_config.UpdateSignature,
                     g_config.UpdatePublicKey) != ArchiveVerdict::Trusted)
        return std::nullopt;
    return manifest;
}

namespace {

// `diskFull` tells a write that failed for want of room from any other failure.
bool WriteWhole(HANDLE file, const std::string& bytes, bool& diskFull) {
    return WriteChunk(file, bytes.data(), static_cast<DWORD>(bytes.size()), diskFull);
}

// The digest of the next `length` bytes of `file`; nothing when they cannot all be read.
std::optional<std::array<uint8_t, 32>> HashNext(HANDLE file, uint64_t length) {
    std::vector<char> buffer(1 << 20);
    Sha256 hash;
    while (length > 0) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<uint64_t>(length, buffer.size()));
        if (!ReadFile(file, buffer.data(), want, &got, nullptr) || got == 0) return std::nullopt;
        hash.Update(buffer.data(), got);
        length -= got;
    }
    return hash.Finish();
}

bool Truncate(HANDLE file, uint64_t size) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// The part file: the raw bytes of complete entries one after the other, in the order of its
// record's list, then at most the beginning of the entry in flight.
struct Part {
    std::wstring path, recordPath;
    FileHandle file{nullptr};
    PatchPartRecord record;
    uint64_t size = 0;  // bytes of complete entries
};

bool SaveRecord(const Part& part, bool& diskFull) {
    const std::wstring staging = part.recordPath + L".new";
    bool written = false;
    {
        FileHandle file(CreateFileW(staging.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
        written = file && WriteWhole(file.get(), FormatPatchPart(part.record), diskFull);
    }
    return written && MoveFileExW(staging.c_str(), part.recordPath.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// Opens the part, keeping from an earlier start only the entries of this archive whose bytes
// still hash to the manifest's.
bool OpenPart(Part& part, const std::wstring& path, const Manifest& manifest, const std::map<uint64_t, size_t>& byOffset,
              bool& diskFull) {
    part.path = path;
    part.recordPath = path + L".txt";
    part.file.reset(CreateFileW(part.path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!part.file) return false;
    const std::optional<PatchPartRecord> saved = ParsePatchPart(ReadFileBytes(part.recordPath));
    part.record = {manifest.archiveSha256, {}};
    if (saved && saved->archiveSha256 == manifest.archiveSha256) {
        for (uint64_t offset : saved->done) {
            const auto found = byOffset.find(offset);
            if (found == byOffset.end()) break;
            const ManifestEntry& entry = manifest.entries[found->second];
            if (HashNext(part.file.get(), entry.rawLength) != entry.rawSha256) break;
            part.record.done.push_back(offset);
            part.size += entry.rawLength;
        }
    }
    if (!Truncate(part.file.get(), part.size)) {
        diskFull = IsDiskFull(GetLastError());  // Wine writes even to cut a file
        return false;
    }
    return SaveRecord(part, diskFull);
}

// Receives one request's entries into the part, each checked against its raw digest before it
// counts as complete.
class Receiver {
public:
    Receiver(const Manifest& manifest, Part& part, uint64_t& received, uint64_t expected)
        : manifest_(manifest), part_(part), received_(received), expected_(expected) {}

    RangeOutcome Fetch(HINTERNET session, const std::wstring& url, const RangeRequest& request,
                       std::wstring& validator) {
        EntrySplitter splitter(manifest_, request);
        const EntrySplitter::Piece piece = [this](size_t entry, const char* data, size_t size, bool ends) {
            return Take(entry, data, size, ends);
        };
        const ByteRange range = {request.first, request.last, manifest_.archiveSize};
        const RangeOutcome outcome = FetchRange(session, url, range, validator, ResumePolicy().stallMs,
                                                [&](const char* data, size_t size) {
                                                    return splitter.Feed(data, size, piece);
                                                });
        progress_(received_, expected_);
        hash_.reset();
        inFlight_ = 0;
        return outcome;
    }

    bool writeFailed = false;  // else a stop means a digest that differs
    bool diskFull = false;     // ... because the disk had no room left

private:
    bool Take(size_t index, const char* data, size_t size, bool ends) {
        if (!hash_) hash_.emplace();
        if (!WriteChunk(part_.file.get(), data, static_cast<DWORD>(size), diskFull)) {
            writeFailed = true;
            return false;
        }
        hash_->Update(data, size);
        inFlight_ += size;
        if (GetTickCount() - lastShown_ >= kProgressIntervalMs) {
            lastShown_ = GetTickCount();
            progress_(received_ + inFlight_, expected_);
        }
        if (!ends) return true;
        const ManifestEntry& entry = manifest_.entries[index];
        const bool same = hash_->Finish() == entry.rawSha256;
        hash_.reset();
        inFlight_ = 0;
        if (!same) return false;
        // Unrecorded, the entry is fetched again at the next start: it counts only once its line is saved.
        part_.record.done.push_back(entry.offset);
        if (!SaveRecord(part_, diskFull)) {
            part_.record.done.pop_back();
            writeFailed = true;
            return false;
        }
        part_.size += entry.rawLength;
        received_ += entry.rawLength;
        return true;
    }

    const Manifest& manifest_;
    Part& part_;
    uint64_t& received_;
    uint64_t expected_;
    const ProgressCallback progress_ = StatusProgress();
    std::optional<Sha256> hash_;
    uint64_t inFlight_ = 0;
    DWORD lastShown_ = 0;
};

// Appends the folders and a central directory for everything in the part, then makes it the
// archive. The paths of the entries it holds go to `packed`.
bool Assemble(Part& part, const std::wstring& archive, const Manifest& manifest,
              const std::map<uint64_t, size_t>& byOffset, const std::vector<size_t>& folders,
              std::set<std::string>& packed) {
    std::vector<CentralEntry> central;
    uint64_t at = 0;
    for (uint64_t offset : part.record.done) {
        const ManifestEntry& entry = manifest.entries[byOffset.at(offset)];
        std::string head(static_cast<size_t>(std::min(entry.rawLength, kLocalHeaderMax)), '\0');
        LARGE_INTEGER position;
        position.QuadPart = static_cast<LONGLONG>(at);
        DWORD got = 0;
        if (!SetFilePointerEx(part.file.get(), position, nullptr, FILE_BEGIN) ||
            !ReadFile(part.file.get(), head.data(), static_cast<DWORD>(head.size()), &got, nullptr))
            return false;
        const std::optional<LocalHeader> header = ReadLocalHeader(std::string_view(head.data(), got));
        if (!header) return false;
        central.push_back({*header, entry.crc32, entry.compressedSize, entry.size, at, false});
        packed.insert(entry.path);
        at += entry.rawLength;
    }
    std::string tail;
    for (size_t index : folders) {
        const std::string local = FolderLocalHeader(manifest.entries[index].path);
        central.push_back({*ReadLocalHeader(local), 0, 0, 0, at + tail.size(), true});
        tail += local;
    }
    tail += CentralDirectory(central, at + tail.size());
    bool diskFull = false;
    if (!Truncate(part.file.get(), at) || !WriteWhole(part.file.get(), tail, diskFull)) return false;
    part.file.reset();
    DeleteFileW(part.recordPath.c_str());
    return MoveFileExW(part.path.c_str(), archive.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

// What a part is filled from: the manifest's entries, or the chunks to fetch dressed as entries
// (their archive range and digest), so both travel the same way.
struct Lane {
    const Manifest& items;
    Part part;
    std::map<uint64_t, size_t> byOffset;
    std::vector<size_t> todo;
};

std::map<uint64_t, size_t> ByOffset(const Manifest& items) {
    std::map<uint64_t, size_t> byOffset;
    for (size_t i = 0; i < items.entries.size(); ++i) byOffset[items.entries[i].offset] = i;
    return byOffset;
}

// Fetches the entries `needed` names into the part, and the `chunks` into the chunk part.
// `rebuiltBytes` must fit on the disk too.
PatchResult FetchPatch(const std::wstring& archive, const Manifest& manifest, const std::vector<size_t>& needed,
                       const Manifest& chunks, uint64_t rebuiltBytes, const std::wstring& heading, Part& entryPart,
                       Part& chunkPart, std::vector<size_t>& folders, std::wstring& shortfall) {
    Lane lanes[] = {{manifest, {}, ByOffset(manifest), {}}, {chunks, {}, ByOffset(chunks), {}}};
    for (size_t i = 0; i < chunks.entries.size(); ++i) lanes[1].todo.push_back(i);
    for (size_t index : needed) (manifest.entries[index].folder ? folders : lanes[0].todo).push_back(index);
    // The room the patch needs: the parts grow by what is missing, the entries' then becomes
    // update_temp.zip where it lies, and each rebuilt file is written whole beside them.
    const auto room = [&lanes, rebuiltBytes] {
        uint64_t bytes = rebuiltBytes;
        for (const Lane& lane : lanes)
            for (size_t i : lane.todo) bytes += lane.items.entries[i].rawLength;
        return bytes;
    };
    uint64_t received = 0;
    const std::wstring paths[] = {PartFile(archive), ChunkPartFile(archive)};
    for (size_t k = 0; k < 2; ++k) {
        Lane& lane = lanes[k];
        bool diskFull = false;
        if (!OpenPart(lane.part, paths[k], lane.items, lane.byOffset, diskFull)) {
            if (diskFull) shortfall = ShortfallText(room());  // not even a record fits
            return PatchResult::Failed;
        }
        const std::set<uint64_t> done(lane.part.record.done.begin(), lane.part.record.done.end());
        lane.todo.erase(std::remove_if(lane.todo.begin(), lane.todo.end(),
                                       [&](size_t i) { return done.count(lane.items.entries[i].offset) > 0; }),
                        lane.todo.end());
        received += lane.part.size;
    }
    const uint64_t missing = room(), expected = received + missing - rebuiltBytes;
    shortfall = FreeSpaceShortfall(g_baseDir, missing);
    if (!shortfall.empty()) return PatchResult::Failed;

    SetStatus(heading);
    const InternetHandle session = OpenSession();
    if (!session) return PatchResult::Failed;
    const ResumePolicy policy;
    const std::vector<std::wstring> sources = RangeSources(g_config.UpdateURL);
    size_t source = 0;
    std::wstring validator;  // the current address's
    Receiver receivers[] = {{manifest, lanes[0].part, received, expected}, {chunks, lanes[1].part, received, expected}};
    bool answered = false;  // as the archive download, only a server that has answered is waited for
    for (int resumes = 0;;) {
        RangeOutcome outcome = RangeOutcome::Complete;
        for (size_t k = 0; k < 2 && outcome == RangeOutcome::Complete; ++k) {
            for (const RangeRequest& request : PlanRequests(lanes[k].items, lanes[k].todo)) {
                outcome = receivers[k].Fetch(session.get(), sources[source], request, validator);
                if (outcome != RangeOutcome::Complete) break;
                answered = true;
            }
        }
        bool left = false;
        for (size_t k = 0; k < 2; ++k) {
            if (receivers[k].writeFailed) {
                if (receivers[k].diskFull) shortfall = ShortfallText(expected - received + rebuiltBytes);
                return PatchResult::Failed;
            }
            Lane& lane = lanes[k];
            const std::set<uint64_t> now(lane.part.record.done.begin(), lane.part.record.done.end());
            lane.todo.erase(std::remove_if(lane.todo.begin(), lane.todo.end(),
                                           [&](size_t i) { return now.count(lane.items.entries[i].offset) > 0; }),
                            lane.todo.end());
            left = left || !lane.todo.empty();
        }
        if (!left) break;
        // A drop costs only the entry or chunk in flight: each part goes back to what is complete in it.
        if (!Truncate(lanes[0].part.file.get(), lanes[0].part.size) ||
            !Truncate(lanes[1].part.file.get(), lanes[1].part.size))
            return PatchResult::Failed;
        // Another address may give what this one would not; every range is verified all the same.
        if (outcome != RangeOutcome::Dropped && source + 1 < sources.size()) {
            ++source;
            validator.clear();
            answered = false;
            continue;
        }
        if (outcome == RangeOutcome::Refused || outcome == RangeOutcome::Stopped) return PatchResult::Full;
        answered = answered || outcome == RangeOutcome::Dropped;
        if (!answered || resumes == policy.maxResumes) return PatchResult::Failed;
        const DWORD waitMs = policy.firstWaitMs << resumes++;
        SetStatus(ResumeWaitText((waitMs + 999) / 1000));
        Sleep(waitMs);
    }
    entryPart = std::move(lanes[0].part);
    chunkPart = std::move(lanes[1].part);
    return PatchResult::Assembled;
}

// Copies `length` bytes from `offset` of `from` to the end of `to`, through `hash`.
bool Copy(HANDLE from, uint64_t offset, uint64_t length, HANDLE to, Sha256& hash, std::vector<char>& buffer,
          bool& diskFull) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(from, at, nullptr, FILE_BEGIN)) return false;
    while (length > 0) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<uint64_t>(length, buffer.size()));
        if (!ReadFile(from, buffer.data(), want, &got, nullptr) || got == 0 || !WriteChunk(to, buffer.data(), got, diskFull))
            return false;
        hash.Update(buffer.data(), got);
        length -= got;
    }
    return true;
}

using ChunkKey = std::pair<std::array<uint8_t, 32>, uint64_t>;  // digest and length

// Writes a chunked entry's new content to `target` from the old file's chunks and the fetched
// ones, in order, one buffer at a time: true only when it hashes to the manifest's digest.
bool Rebuild(const ManifestEntry& entry, const std::vector<std::optional<uint64_t>>& reuse, const std::wstring& oldPath,
             HANDLE fetched, const std::map<ChunkKey, uint64_t>& inPart, const std::wstring& target, bool& diskFull) {
    const FileHandle old(CreateFileW(oldPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    bool written = false;
    Sha256 hash;
    {
        const FileHandle out(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        std::vector<char> buffer(1 << 20);
        written = old && out;
        for (size_t i = 0; written && i < entry.chunks.size(); ++i) {
            const FileChunk& chunk = entry.chunks[i];
            const auto stored = inPart.find({chunk.sha256, chunk.length});
            if (reuse[i])
                written = Copy(old.get(), *reuse[i], chunk.length, out.get(), hash, buffer, diskFull);
            else
                written = stored != inPart.end() &&
                          Copy(fetched, stored->second, chunk.length, out.get(), hash, buffer, diskFull);
        }
    }
    if (written && hash.Finish() == entry.contentSha256) return true;
    DeleteFileW(target.c_str());
    return false;
}

// Where each fetched chunk lies in the chunk part: the part holds them one after the other in
// its record's order.
std::map<ChunkKey, uint64_t> ChunksInPart(const Part& part, const Manifest& chunks) {
    const std::map<uint64_t, size_t> byOffset = ByOffset(chunks);
    std::map<ChunkKey, uint64_t> at;
    uint64_t position = 0;
    for (uint64_t offset : part.record.done) {
        const ManifestEntry& chunk = chunks.entries[byOffset.at(offset)];
        at.emplace(ChunkKey{chunk.rawSha256, chunk.rawLength}, position);
        position += chunk.rawLength;
    }
    return at;
}

}  // namespace

namespace {

// What bin lacks, as it will be fetched: a changed chunked file whose old file is in bin is rebuilt
// from it and the chunks it lacks; every other entry comes whole. A chunk wanted twice is fetched once.
struct FetchPlan {
    Manifest chunks;
    std::vector<size_t> whole;
    std::vector<std::pair<size_t, std::vector<std::optional<uint64_t>>>> rebuilds;
    uint64_t neededRaw = 0, rebuiltBytes = 0;
};

FetchPlan PlanFetch(const Manifest& manifest, const InstalledCheck& check) {
    FetchPlan plan{{manifest.archiveSize, manifest.archiveSha256, {}}, {}, {}};
    std::map<ChunkKey, size_t> wanted;
    for (size_t index : check.needed) {
        const ManifestEntry& entry = manifest.entries[index];
        const auto old = check.oldChunks.find(index);
        if (old == check.oldChunks.end()) {
            plan.whole.push_back(index);
            if (!entry.folder) plan.neededRaw += entry.rawLength;
            continue;
        }
        plan.rebuilds.emplace_back(index, FindReusable(entry.chunks, old->second));
        plan.rebuiltBytes += entry.size;
        for (size_t i = 0; i < entry.chunks.size(); ++i) {
            const FileChunk& chunk = entry.chunks[i];
            if (plan.rebuilds.back().second[i] || !wanted.emplace(ChunkKey{chunk.sha256, chunk.length}, i).second)
                continue;
            plan.chunks.entries.push_back(
                {"", false, 0, {}, entry.dataOffset + chunk.offset, chunk.length, chunk.sha256, 0, 0});
            plan.neededRaw += chunk.length;
        }
    }
    return plan;
}

PatchResult FetchPlanned(const std::wstring& archive, const std::wstring& bin, const InstalledCheck& check,
                         const FetchPlan& plan, const std::wstring& heading, PatchState& state) {
    Part entryPart, chunkPart;
    std::vector<size_t> folders;
    state.result = FetchPatch(archive, *state.manifest, plan.whole, plan.chunks, plan.rebuiltBytes, heading, entryPart,
                              chunkPart, folders, state.shortfall);
    // The rebuilt files first: a file that does not come out as the manifest says ends as the full
    // download, as an entry that differs does. A disk another program filled meanwhile is no such
    // file: the parts stay for the next start, which writes the rebuilt files again.
    const std::map<ChunkKey, uint64_t> inPart = ChunksInPart(chunkPart, plan.chunks);
    bool diskFull = false;
    for (const auto& [index, reuse] : plan.rebuilds) {
        if (state.result != PatchResult::Assembled) break;
        const ManifestEntry& entry = state.manifest->entries[index];
        const std::wstring target = RebuiltFile(archive, index);
        if (Rebuild(entry, reuse, EntryPath(bin, entry.path), chunkPart.file.get(), inPart, target, diskFull)) {
            state.rebuilt.emplace_back(target, entry.path);
            state.packed.insert(entry.path);  // written by this update, as a packed entry is
        } else {
            state.result = diskFull ? PatchResult::Failed : PatchResult::Full;
        }
    }
    chunkPart.file.reset();
    if (state.result == PatchResult::Assembled && entryPart.record.done.empty() && folders.empty()) {
        entryPart.file.reset();  // nothing for the unpacking: the rebuilt files are the update
        state.result = PatchResult::Rebuilt;
    } else if (state.result == PatchResult::Assembled &&
               !Assemble(entryPart, archive, *state.manifest, ByOffset(*state.manifest), folders, state.packed)) {
        state.result = PatchResult::Full;
    }
    if (diskFull) state.shortfall = ShortfallText(plan.rebuiltBytes);
    if (state.result == PatchResult::Full) DiscardPatchPart(archive);
    for (const InstalledFile& file : check.intact)
        if (!state.packed.count(file.path)) state.untouched.push_back(file);
    return state.result;
}

}  // namespace

PatchResult PreparePatch(const std::wstring& archive, const std::wstring& bin, PatchState& state) {
    if (g_config.UpdateManifest.empty() || RangeSources(g_config.UpdateURL).empty())
        return state.result = PatchResult::Full;
    state.manifest = FetchManifest();
    if (!state.manifest) return state.result = PatchResult::Full;

    SetStatus(L"Verificando arquivos instalados...");
    SetBar(0);
    const InstalledCheck check = CheckInstalled(*state.manifest, bin);
    if (check.needed.empty()) {
        DiscardPatchPart(archive);  // bin was mended some other way since
        return state.result = PatchResult::Current;
    }
    const FetchPlan plan = PlanFetch(*state.manifest, check);
    SetBar(0);
    if (PatchPays(plan.neededRaw, state.manifest->archiveSize))
        return FetchPlanned(archive, bin, check, plan, L"Baixando atualiza\u00e7\u00e3o...", state);
    DiscardPatchPart(archive);
    return state.result = PatchResult::Full;
}

PatchResult FetchNeeded(const std::wstring& archive, const std::wstring& bin, const InstalledCheck& check,
                        const std::wstring& heading, PatchState& state) {
    return FetchPlanned(archive, bin, check, PlanFetch(*state.manifest, check), heading, state);
}

void BeforeExtraction(const std::wstring& archive, PatchState& state) {
    // A repair's record already lists no file the unpacking writes but the missing ones, whose
    // lines stay until they are back.
    if (state.repair) return;
    if (state.result == PatchResult::Assembled || state.result == PatchResult::Rebuilt) {
        WriteInstallRecord(state.untouched);
        return;
    }
    WriteInstallRecord({});
    // A full archive is the manifest's when its size and digest are: the download checked the
    // digest already where one is published.
    if (!state.manifest) return;
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    state.describesArchive =
        GetFileAttributesExW(archive.c_str(), GetFileExInfoStandard, &data) &&
        ((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) == state.manifest->archiveSize &&
        (!g_config.UpdateSHA256.empty() || FileHasher().Hash(archive) == state.manifest->archiveSha256);
}

void RecordInstall(const std::wstring& bin, const PatchState& state) {
    if (state.repair && state.manifest) {
        std::vector<InstalledFile> files = state.untouched;
        for (const ManifestEntry& entry : state.manifest->entries) {
            const std::optional<FileStamp> stamp =
                state.packed.count(entry.path) ? StampOf(EntryPath(bin, entry.path)) : std::nullopt;
            if (stamp && stamp->size == entry.size) files.push_back({entry.path, *stamp, entry.contentSha256});
        }
        WriteInstallRecord(files);
        return;
    }
    if (state.manifest && (state.result != PatchResult::Full || state.describesArchive))
        WriteInstallRecord(ManifestFilesOnDisk(*state.manifest, bin));
}

void DiscardPatchPart(const std::wstring& archive) {
    for (const std::wstring& part : {PartFile(archive), ChunkPartFile(archive)}) {
        DeleteFileW(part.c_str());
        DeleteFileW((part + L".txt").c_str());
    }
    const std::wstring pattern = RebuiltFile(archive, 0);
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((pattern.substr(0, pattern.size() - 1) + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    const std::wstring folder = archive.substr(0, archive.find_last_of(L'\\') + 1);
    do {
        DeleteFileW((folder + found.cFileName).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}
