#include "net/resume.h"

#include <algorithm>
#include <vector>

#include "app/state.h"
#include "net/accepted.h"
#include "net/download.h"
#include "net/headers.h"
#include "net/part_info.h"
#include "net/request.h"

namespace {

enum class Outcome { Complete, Broken, Failed };

struct Transfer {
    std::wstring url, part, record;
    PartInfo info;
    uint64_t have = 0;        // bytes of the part that belong to `info`
    bool retryable = false;   // the server offered ranges and a validator: a break can be mended
    bool onDiskSeen = false;  // the bytes already on disk went through the chunk hook
    bool crossing = false;    // continuing another address's part: its validator means nothing here
    bool ours = true;         // false while the part on disk is another address's, left for it
};

uint64_t FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string ReadSmallFile(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (file && bytes.size() < 65536 && ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    return bytes;
}

bool WriteSmallFile(const std::wstring& path, const std::string& bytes) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD put = 0;
    return file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
           put == bytes.size();
}

// Feeds the part's first `size` bytes to the hook, once, before more are appended.
bool ReplayOnDisk(const std::wstring& path, uint64_t size, const ChunkObserver& chunk) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    std::vector<char> buffer(1 << 20);
    while (size > 0) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(size < buffer.size() ? size : buffer.size());
        if (!ReadFile(file.get(), buffer.data(), want, &got, nullptr) || got == 0) return false;
        chunk(buffer.data(), got);
        size -= got;
    }
    return true;
}

void Forget(Transfer& t) {
    DeleteFileW(t.part.c_str());
    DeleteFileW(t.record.c_str());
    t.have = 0;
    t.ours = true;
}

std::wstring AnswerValidator(HINTERNET response) {
    return ResumeValidator(QueryHeader(response, HTTP_QUERY_ETAG), QueryHeader(response, HTTP_QUERY_LAST_MODIFIED));
}

// One request: continues the part when the server agrees, else starts it over from the answer.
Outcome Attempt(HINTERNET session, Transfer& t, const ArchiveHooks& hooks, const ResumePolicy& policy) {
    const Timeouts timeouts = {kDefaultTimeouts.connect, kDefaultTimeouts.send, policy.stallMs};
    const bool resuming = t.have > 0;
    bool refused = false, quota = false;
    DWORD status = 0;
    Response response = OpenAccepted(
        session, t.url, timeouts,
        resuming ? ResumeHeaders(t.have, t.crossing ? std::wstring() : t.info.validator) : std::wstring(), &refused,
        &status, &quota);
    if (!response) {
        // 416: the file is shorter than the part, so the part is not of this file. Anything else
        // (an error status, a maintenance page, no answer) may pass: the part waits for a later try.
        if (refused && resuming && status == 416) Forget(t);
        if (quota && hooks.driveQuota) hooks.driveQuota();
        // Drive's quota lasts hours: the pauses before resuming would not outlast it.
        return t.retryable && !quota ? Outcome::Broken : Outcome::Failed;
    }
    if (!resuming && status == 206) return Outcome::Failed;  // a piece of the file, asked for whole

    // A part is continued only by a 206 that starts where it ends, of the file it was started
    // from (a server that ignores If-Range sends a changed file's piece all the same); a 200
    // sends the file whole (If-Range found it changed).
    std::optional<ContentRange> range;
    if (resuming && status == 206) {
        range = ParseContentRange(QueryHeader(response.get(), HTTP_QUERY_CONTENT_RANGE));
        const std::wstring validator = AnswerValidator(response.get());
        const bool sameFile = validator.empty() || validator == t.info.validator || t.crossing;
        if (!range || range->first != t.have || (t.info.length != 0 && range->total != t.info.length) || !sameFile) {
            Forget(t);  // the next try starts from zero
            return Outcome::Broken;
        }
    } else if (resuming && status != 200) {
        return Outcome::Broken;  // neither the rest nor the whole: the part waits for a later try
    }
    const bool continues = range.has_value();
    if (!continues) Forget(t);  // a fresh start, or the file changed on the server

    // What the answer adds to the disk, checked before a byte of it is written; one byte past
    // the stated end is a failure.
    const uint64_t length = continues ? (t.info.length != 0 ? t.info.length : range->total)
                                      : ParseByteCount(QueryHeader(response.get(), HTTP_QUERY_CONTENT_LENGTH)).value_or(0);
    const uint64_t end = continues ? range->last + 1 : length;
    if (hooks.maxBytes != 0 && end > hooks.maxBytes) return Outcome::Failed;
    if (hooks.room && end > t.have && !hooks.room(end - t.have)) return Outcome::Failed;

    FileHandle file(nullptr);
    if (continues) {
        if (hooks.chunk && !t.onDiskSeen && !ReplayOnDisk(t.part, t.have, hooks.chunk)) {
            Forget(t);
            return Outcome::Broken;
        }
        t.onDiskSeen = true;
        t.info.length = length;
        if (t.crossing) {  // this address takes the part over, and resumes it by its own validator
            t.info.url = t.url;
            const std::wstring validator = AnswerValidator(response.get());
            if (!validator.empty()) {
                t.info.validator = validator;
                t.crossing = false;
            }
            if (!WriteSmallFile(t.record, FormatPartInfo(t.info))) DeleteFileW(t.record.c_str());
        }
        file.reset(CreateFileW(t.part.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
    } else {
        if (hooks.restarting) hooks.restarting();
        t.onDiskSeen = true;
        t.crossing = false;
        t.info.validator = AnswerValidator(response.get());
        t.info.length = length;
        t.retryable = !t.info.validator.empty() &&
                      OffersByteRanges(QueryHeader(response.get(), HTTP_QUERY_ACCEPT_RANGES));
        file.reset(CreateFileW(t.part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
        if (file && (!t.retryable || !WriteSmallFile(t.record, FormatPartInfo(t.info)))) DeleteFileW(t.record.c_str());
    }
    if (!file) return Outcome::Failed;

    const Streamed body =
        StreamBody(response.get(), file.get(), t.have, t.info.length, end != 0 ? end : hooks.maxBytes, hooks.progress,
                   hooks.chunk);
    t.have += body.written;
    if (body.writeFailed) {
        if (body.diskFull && hooks.diskFull) hooks.diskFull(t.info.length > t.have ? t.info.length - t.have : 0);
        return Outcome::Failed;  // what was written stays for the next start
    }
    if (body.overLimit) {
        // A body longer than its server said cannot be trusted for any of its bytes; a range may
        // be a server's error that the whole file is not.
        Forget(t);
        return continues ? Outcome::Broken : Outcome::Failed;
    }
    if (!body.readFailed && (t.info.length == 0 || t.have >= t.info.length)) return Outcome::Complete;
    return t.retryable ? Outcome::Broken : Outcome::Failed;
}

}  // namespace

std::wstring PartPath(const std::wstring& archivePath) { return archivePath + L".part"; }

std::wstring PartInfoPath(const std::wstring& archivePath) { return archivePath + L".part.txt"; }

void DiscardPart(const std::wstring& archivePath) {
    DeleteFileW(PartPath(archivePath).c_str());
    DeleteFileW(PartInfoPath(archivePath).c_str());
}

bool DownloadArchive(const std::wstring& url, const std::wstring& version, const std::wstring& archivePath,
                     const ArchiveHooks& hooks, const ResumePolicy& policy, const Mirrors& mirrors) {
    Transfer t;
    t.url = url;
    t.part = PartPath(archivePath);
    t.record = PartInfoPath(archivePath);
    t.info.url = url;
    t.info.version = version;
    // A part from an earlier start is continued only for the same URL and version, and only
    // while the server still calls the file by the same validator (If-Range checks that).
    // Another address's part is continued here only where the digest checks the whole at the end.
    const std::optional<PartInfo> saved = ParsePartInfo(ReadSmallFile(t.record));
    const bool usable = saved && saved->version == version && !saved->validator.empty();
    const bool sibling = usable && saved->url != url &&
                         std::find(mirrors.others.begin(), mirrors.others.end(), saved->url) != mirrors.others.end();
    if (usable && (saved->url == url || (sibling && mirrors.digestPublished))) {
        t.info = *saved;
        t.have = FileSize(t.part);
        t.retryable = t.have > 0 && (t.info.length == 0 || t.have < t.info.length);
        t.crossing = sibling;
    }
    if (sibling && !mirrors.digestPublished)
        t.ours = false;
    else if (!t.retryable)
        Forget(t);

    InternetHandle session = OpenSession();
    if (!session) return false;
    Outcome outcome = Attempt(session.get(), t, hooks, policy);
    for (int resumes = 0; outcome == Outcome::Broken && resumes < policy.maxResumes; ++resumes) {
        const DWORD waitMs = policy.firstWaitMs << resumes;
        if (hooks.waiting) hooks.waiting((waitMs + 999) / 1000);
        Sleep(waitMs);
        outcome = Attempt(session.get(), t, hooks, policy);
    }
    if (outcome != Outcome::Complete) {
        if (t.ours && (!t.retryable || t.have == 0)) Forget(t);  // nothing a later start could continue
        return false;
    }
    DeleteFileW(t.record.c_str());
    if (t.have == 0 || HasHtmlHead(t.part) ||
        !MoveFileExW(t.part.c_str(), archivePath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(t.part.c_str());
        return false;
    }
    return true;
}
