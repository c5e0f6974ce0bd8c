#include "net/sources.h"

#include <algorithm>

#include "net/drive.h"

std::vector<std::wstring> SplitSources(const std::wstring& value) {
    std::vector<std::wstring> sources;
    size_t at = 0;
    while (at < value.size()) {
        while (at < value.size() && value[at] <= L' ') ++at;
        const size_t start = at;
        while (at < value.size() && value[at] > L' ') ++at;
        if (at > start) sources.push_back(value.substr(start, at - start));
    }
    return sources;
}

std::vector<std::wstring> RangeSources(const std::wstring& value) {
    std::vector<std::wstring> sources = SplitSources(value);
    sources.erase(std::remove_if(sources.begin(), sources.end(), IsDriveUrl), sources.end());
    return sources;
}

bool DownloadFromSources(const std::vector<std::wstring>& sources, const std::wstring& version,
                         const std::wstring& archivePath, const ArchiveHooks& hooks, bool digestPublished,
                         const std::function<void(size_t failed, size_t count)>& nextSource,
                         const ResumePolicy& policy) {
    bool noRoom = false;
    ArchiveHooks mine = hooks;
    mine.room = [&](uint64_t bytes) {
        if (!hooks.room || hooks.room(bytes)) return true;
        noRoom = true;
        return false;
    };
    mine.diskFull = [&](uint64_t missing) {
        noRoom = true;
        if (hooks.diskFull) hooks.diskFull(missing);
    };
    for (size_t i = 0; i < sources.size(); ++i) {
        if (i > 0) {
            if (nextSource) nextSource(i, sources.size());
            // The next address feeds the chunk hook from the first byte again: a part it continues
            // is read back from the disk.
            if (hooks.restarting) hooks.restarting();
        }
        Mirrors mirrors;
        mirrors.digestPublished = digestPublished;
        for (size_t j = 0; j < sources.size(); ++j)
            if (j != i) mirrors.others.push_back(sources[j]);
        if (DownloadArchive(sources[i], version, archivePath, mine, policy, mirrors)) return true;
        if (noRoom) return false;
    }
    return false;
}
