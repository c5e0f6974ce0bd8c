// Fetching one URL into a local file over WinINet.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Owns a WinINet handle (Internet or URL handle); closes it when it goes away.
struct InternetHandleCloser {
    using pointer = HINTERNET;
    void operator()(HINTERNET h) const { InternetCloseHandle(h); }
};
using InternetHandle = std::unique_ptr<void, InternetHandleCloser>;

// Called with body bytes written so far and the response's Content-Length (0 when absent).
using ProgressCallback = std::function<void(uint32_t received, uint32_t expected)>;

// True only for a complete, non-empty, non-HTML body saved at `destination`.
bool DownloadFile(const std::wstring& url, const std::wstring& destination, const ProgressCallback& progress);

// Request flags for a URL: the secure set for "https://", the base set otherwise.
DWORD RequestFlags(const std::wstring& url);
// Opens a URL on the Internet handle with the launcher's request flags; null on failure.
HINTERNET OpenUrl(HINTERNET internet, const std::wstring& url);
// The response's Content-Type, or empty when absent or too long.
std::wstring QueryContentType(HINTERNET request);
// True when the response's Content-Type names an HTML page: never the file that was asked for.
bool AnswersHtml(HINTERNET request);
// The remaining response body, read in 8192-byte pieces, at most `limit` bytes.
std::string ReadAllResponse(HINTERNET request, size_t limit = SIZE_MAX);
