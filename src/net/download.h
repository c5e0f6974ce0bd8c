// Fetching one URL into a local file over WinINet.
#pragma once

#include <cstdint>
#include <string>

#include "net/request.h"
#include "net/transfer.h"

struct FetchLimits {
    uint64_t maxBytes = 0;  // a longer body is a failure; 0: no limit
    Timeouts timeouts = kDefaultTimeouts;
    DWORD deadlineMs = 0;  // the whole fetch, from the first request to the body's end; 0: none
};

// True only for a complete, non-empty, non-HTML body saved at `destination`, in one request.
bool DownloadFile(const std::wstring& url, const std::wstring& destination, const ProgressCallback& progress,
                  const FetchLimits& limits = FetchLimits());

// True when the file's first 14 bytes (up to a NUL) hold an HTML marker: an error page saved
// in place of the file.
bool HasHtmlHead(const std::wstring& path);
