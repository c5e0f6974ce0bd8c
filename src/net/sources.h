// The archive published at several addresses (mirrors), tried one after the other.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "net/resume.h"

// The addresses of an UpdateURL value, in order: an address never holds a raw space, so blanks
// (any run of units at or below U+0020) separate them. Empty for a blank value.
std::vector<std::wstring> SplitSources(const std::wstring& value);
// Those a patch may take byte ranges from: a Google Drive link answers none.
std::vector<std::wstring> RangeSources(const std::wstring& value);

// Downloads the archive from `sources` in order until one delivers it; `nextSource(failed,
// count)` runs before each further address is tried (`failed` counts from 1). A disk with no
// room ends the download at once: another address would not change that. With
// `digestPublished`, a part an earlier address left is continued from the next one.
bool DownloadFromSources(const std::vector<std::wstring>& sources, const std::wstring& version,
                         const std::wstring& archivePath, const ArchiveHooks& hooks, bool digestPublished,
                         const std::function<void(size_t failed, size_t count)>& nextSource,
                         const ResumePolicy& policy = ResumePolicy());
