#include "update/version.h"

#include <windows.h>

#include "app/state.h"
#include "net/download.h"

namespace {
// A version or a configuration is a few lines: a longer body is a wrong URL (the archive, say),
// not something to hold in memory. A dead server gives Play back within half a minute, and one
// that sends a byte now and then within 30 s and at most one more read time-out.
const FetchLimits kTextLimits = {uint64_t{64} * 1024, {15000, 15000, 15000}, 30000};
}  // namespace

std::optional<std::string> FetchRemoteBytes(const std::wstring& url) {
    const std::wstring path = g_baseDir + L"\\_tmp_version_check.txt";
    std::optional<std::string> bytes;
    if (DownloadFile(url, path, ProgressCallback(), kTextLimits)) bytes = ReadFileBytes(path);
    DeleteFileW(path.c_str());  // whatever a failed fetch left must not linger
    return bytes;
}

std::wstring DecodeRemoteText(const std::string& bytes) { return Trim(DecodeText(TrimBytes(bytes))); }

std::wstring FetchRemoteText(const std::wstring& url, std::string* trimmedBytes) {
    const std::optional<std::string> bytes = FetchRemoteBytes(url);
    if (trimmedBytes) *trimmedBytes = bytes ? TrimBytes(*bytes) : std::string();
    return bytes ? DecodeRemoteText(*bytes) : std::wstring();
}

bool CommitVersionFile(const std::string& bytes) {
    const std::wstring staging = g_baseDir + L"\\version.txt.new";
    const std::wstring target = g_baseDir + L"\\version.txt";
    {
        FileHandle file(CreateFileW(staging.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        DWORD written = 0;
        if (!bytes.empty() &&
            (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
             written != bytes.size()))
            return false;
    }
    // Moving only a complete staging file keeps version.txt whole: old version or new, never half.
    return MoveFileExW(staging.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}
