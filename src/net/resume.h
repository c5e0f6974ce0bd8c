// Receiving the update archive so that a dropped connection, a stalled server or a closed
// launcher costs only the missing part.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "net/transfer.h"

struct ResumePolicy {
    int maxResumes = 5;
    DWORD firstWaitMs = 1000;  // doubled before each further resumption: 1, 2, 4, 8, 16 s
    DWORD stallMs = 30000;     // no byte for this long counts as a dropped connection
};

struct ArchiveHooks {
    ProgressCallback progress;
    std::function<void(DWORD seconds)> waiting;  // before the pause that precedes a resumption
    std::function<void()> restarting;            // the file starts over from its first byte
    ChunkObserver chunk;                         // every byte of the final file, in order
    // Asked before an answer's body is written, with the bytes it will add to the disk; false
    // ends the download with nothing of it written (a part already there stays).
    std::function<bool(uint64_t bytesToCome)> room;
    // A write failed for lack of room, with the bytes the file still lacked; the part stays.
    std::function<void(uint64_t bytesMissing)> diskFull;
    uint64_t maxBytes = 0;  // a file announced or arriving longer fails; 0: no cap
    // A Google Drive host answered that the file's download quota is used up (for up to a day).
    std::function<void()> driveQuota;
};

// The other addresses the same archive is published at.
struct Mirrors {
    std::vector<std::wstring> others;
    // The whole is checked against a published digest at the end, so a part one of the others
    // left may be continued here. Without it, that part is left alone until this address answers
    // and the download starts over from it.
    bool digestPublished = false;
};

// The partly received archive and its record, beside `archivePath`.
std::wstring PartPath(const std::wstring& archivePath);
std::wstring PartInfoPath(const std::wstring& archivePath);

// Downloads `url` (the archive of remote `version`) to `archivePath`, through PartPath. When
// the first answer offers byte ranges and a validator, a body that ends early is asked for
// again from where it stopped, up to maxResumes times, and a part left by an earlier start
// for the same URL and version is continued. True only for a complete, non-empty, non-HTML
// body now at `archivePath`. On false, a part that can still be continued stays for the next
// start; anything else is removed.
bool DownloadArchive(const std::wstring& url, const std::wstring& version, const std::wstring& archivePath,
                     const ArchiveHooks& hooks, const ResumePolicy& policy = ResumePolicy(),
                     const Mirrors& mirrors = Mirrors());

// Forgets a partly received archive (the client is current, nothing is left to continue).
void DiscardPart(const std::wstring& archivePath);
