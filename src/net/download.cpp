#include "net/download.h"

#include <cstring>

#include "app/state.h"
#include "net/drive.h"

namespace {

const wchar_t kUserAgent[] = L"Mozilla/5.0 (Windows NT 10.0; Win64; x64) Velmora-Launcher/1.0";
const DWORD kTimeoutMs = 120000;
// Always ask the origin, never keep a copy: a stale version text would hide an update.
const DWORD kBaseFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_PRAGMA_NOCACHE;
const DWORD kSecureFlags = kBaseFlags | INTERNET_FLAG_SECURE;
const DWORD kBodyChunk = 65536;
const DWORD kPageChunk = 8192;
const DWORD kProgressIntervalMs = 100;
const size_t kHeadBytes = 14;

// Error pages are refused like HTML ones: a "Not Found" text must never become a version.
bool IsRefused(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) &&
        status >= 400)
        return true;
    return AnswersHtml(request);
}

// The stated body length at full width, so bodies of 4 GiB and more are judged correctly.
bool StatedLength(HINTERNET request, uint64_t* length) {
    wchar_t text[32] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return false;
    uint64_t value = 0;
    const wchar_t* p = text;
    while (*p == L' ') ++p;
    if (*p < L'0' || *p > L'9') return false;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        const uint64_t digit = static_cast<uint64_t>(*p - L'0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    while (*p == L' ') ++p;
    if (*p != L'\0') return false;
    *length = value;
    return true;
}

struct Transfer {
    bool written = false;  // a response was accepted and every chunk read was written
    bool complete = false;  // the body ended cleanly and is at least as long as stated
    uint64_t received = 0;
};

// Opens the response and streams its body into `destination`. Every handle is closed when this
// returns, so the caller may reopen or delete the file.
Transfer Receive(const std::wstring& url, const std::wstring& destination, const ProgressCallback& progress) {
    Transfer result;
    InternetHandle internet(InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet) return result;
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT}) {
        DWORD timeout = kTimeoutMs;
        InternetSetOptionW(internet.get(), option, &timeout, sizeof(timeout));
    }

    // A Drive share link names a page, not the file: the Drive steps pick the real address
    // and get one more try when the answer is refused.
    std::wstring target = url;
    if (IsDriveUrl(url)) target = ResolveDriveTarget(internet.get(), url);

    InternetHandle request(OpenUrl(internet.get(), target));
    if (!request && target != url) request.reset(OpenUrl(internet.get(), url));
    if (!request) return result;

    if (IsRefused(request.get())) {
        if (!IsDriveUrl(url)) return result;
        request.reset(RetryDriveDownload(internet.get(), url, request.release()));
        if (!request || IsRefused(request.get())) return result;
    }

    uint64_t stated = 0;
    const bool hasStated = StatedLength(request.get(), &stated);
    const uint32_t expected = static_cast<uint32_t>(stated);  // what the 32-bit progress counters can carry

    FileHandle file(CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!file) return result;

    char buffer[kBodyChunk];
    DWORD lastTick = 0;
    bool readFailed = false;
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request.get(), buffer, kBodyChunk, &got)) {
            readFailed = true;
            break;
        }
        if (got == 0) break;
        DWORD written = 0;
        if (!WriteFile(file.get(), buffer, got, &written, nullptr)) return result;
        result.received += got;
        if (progress) {
            const DWORD now = GetTickCount();
            if (now - lastTick >= kProgressIntervalMs) {
                lastTick = now;
                progress(static_cast<uint32_t>(result.received), expected);
            }
        }
    }
    if (progress) progress(static_cast<uint32_t>(result.received), expected);
    result.written = true;
    // A dropped connection may look like a clean end; only the stated length tells them apart.
    result.complete = !readFailed && (!hasStated || result.received >= stated);
    return result;
}

bool HasHtmlHead(const std::wstring& path) {
    char head[kHeadBytes + 1] = {};
    {
        FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        DWORD got = 0;
        if (!ReadFile(file.get(), head, kHeadBytes, &got, nullptr)) return false;
    }
    for (const char* marker : {"<!DOC", "<html", "<HTML"})
        if (std::strstr(head, marker)) return true;
    return false;
}

}  // namespace

DWORD RequestFlags(const std::wstring& url) {
    return url.compare(0, 8, L"https://") == 0 ? kSecureFlags : kBaseFlags;
}

HINTERNET OpenUrl(HINTERNET internet, const std::wstring& url) {
    return InternetOpenUrlW(internet, url.c_str(), nullptr, 0, RequestFlags(url), 0);
}

std::wstring QueryContentType(HINTERNET request) {
    wchar_t text[256] = {};
    DWORD size = sizeof(text);
    if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_TYPE, text, &size, nullptr)) return std::wstring();
    return std::wstring(text);
}

bool AnswersHtml(HINTERNET request) { return QueryContentType(request).find(L"text/html") != std::wstring::npos; }

std::string ReadAllResponse(HINTERNET request, size_t limit) {
    std::string page;
    char piece[kPageChunk];
    DWORD got = 0;
    while (page.size() < limit && InternetReadFile(request, piece, kPageChunk, &got) && got > 0)
        page.append(piece, got < limit - page.size() ? got : limit - page.size());
    return page;
}

bool DownloadFile(const std::wstring& url, const std::wstring& destination, const ProgressCallback& progress) {
    const Transfer transfer = Receive(url, destination, progress);
    if (!transfer.written || !transfer.complete || transfer.received == 0) return false;
    if (HasHtmlHead(destination)) {
        DeleteFileW(destination.c_str());
        return false;
    }
    return true;
}
