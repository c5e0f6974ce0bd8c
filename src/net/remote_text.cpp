#include "net/remote_text.h"

#include <windows.h>

#include "app/state.h"
#include "net/download.h"

namespace {
// A version or a configuration is a few lines: a longer body than asked for is a wrong URL (the
// archive, say), not something to hold in memory. A dead server gives Play back within half a
// minute, and one that sends a byte now and then within 30 s and at most one more read time-out.
const Timeouts kTextTimeouts = {15000, 15000, 15000};
const DWORD kTextDeadlineMs = 30000;
}  // namespace

std::optional<std::string> FetchRemoteBytes(const std::wstring& url, uint64_t maxBytes) {
    const std::wstring path = g_baseDir + L"\\_tmp_version_check.txt";
    std::optional<std::string> bytes;
    if (DownloadFile(url, path, ProgressCallback(), {maxBytes, kTextTimeouts, kTextDeadlineMs}))
        bytes = ReadFileBytes(path);
    DeleteFileW(path.c_str());  // whatever a failed fetch left must not linger
    return bytes;
}

std::wstring DecodeRemoteText(const std::string& bytes) { return Trim(DecodeText(TrimBytes(bytes))); }

std::wstring FetchRemoteText(const std::wstring& url, std::string* trimmedBytes) {
    const std::optional<std::string> bytes = FetchRemoteBytes(url);
    if (trimmedBytes) *trimmedBytes = bytes ? TrimBytes(*bytes) : std::string();
    return bytes ? DecodeRemoteText(*bytes) : std::wstring();
}
