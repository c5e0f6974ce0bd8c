#include "net/request.h"

RequestObserver g_requestObserver = nullptr;

namespace {

const wchar_t kUserAgent[] = L"Mozilla/5.0 (Windows NT 10.0; Win64; x64) Velmora-Launcher/1.0";
// Always ask the origin, never keep a copy: a stale version text would hide an update.
const DWORD kBaseFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_PRAGMA_NOCACHE;
const DWORD kSecureFlags = kBaseFlags | INTERNET_FLAG_SECURE;
const DWORD kPageChunk = 8192;

void SetTimeouts(HINTERNET handle, const Timeouts& timeouts) {
    const std::pair<DWORD, DWORD> options[] = {{INTERNET_OPTION_CONNECT_TIMEOUT, timeouts.connect},
                                               {INTERNET_OPTION_RECEIVE_TIMEOUT, timeouts.receive},
                                               {INTERNET_OPTION_SEND_TIMEOUT, timeouts.send}};
    for (auto [option, value] : options) InternetSetOptionW(handle, option, &value, sizeof(value));
}

Response Send(HINTERNET session, const std::wstring& url, const Timeouts& timeouts, const std::wstring& headers) {
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
    if (!InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return {};
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return {};
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring object = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                          std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    object = object.substr(0, object.find(L'#'));  // a fragment is the browser's, never the server's
    if (object.empty()) object = L"/";

    Response response;
    // Time-outs go on the connection before anything is sent: that is where every WinINet
    // (Wine's included) takes them from for the reads that follow.
    response.connection.reset(InternetConnectW(session, host.c_str(), parts.nPort, nullptr, nullptr,
                                               INTERNET_SERVICE_HTTP, 0, 0));
    if (!response.connection) return {};
    SetTimeouts(response.connection.get(), timeouts);
    // An https scheme in any letter case still needs TLS, as the system's own URL opener gives it.
    const DWORD flags = RequestFlags(url) | (parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
    const wchar_t* accept[] = {L"*/*", nullptr};
    response.request.reset(
        HttpOpenRequestW(response.connection.get(), L"GET", object.c_str(), nullptr, nullptr, accept, flags, 0));
    if (!response.request) return {};
    if (!HttpSendRequestW(response.request.get(), headers.empty() ? nullptr : headers.c_str(),
                          static_cast<DWORD>(headers.size()), nullptr, 0))
        return {};
    return response;
}

}  // namespace

InternetHandle OpenSession() {
    return InternetHandle(InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
}

DWORD RequestFlags(const std::wstring& url) {
    return url.compare(0, 8, L"https://") == 0 ? kSecureFlags : kBaseFlags;
}

Response OpenUrl(HINTERNET session, const std::wstring& url, const Timeouts& timeouts, const std::wstring& headers) {
    Response response = Send(session, url, timeouts, headers);
    if (g_requestObserver) g_requestObserver(url, response.get());
    return response;
}

std::wstring QueryHeader(HINTERNET request, DWORD query) {
    wchar_t text[1024] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (!HttpQueryInfoW(request, query, text, &size, nullptr)) return std::wstring();
    return std::wstring(text);
}

std::wstring QueryContentType(HINTERNET request) {
    // A 512-byte buffer as the downloads always had: a longer value counts as none.
    wchar_t text[256] = {};
    DWORD size = sizeof(text);
    if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_TYPE, text, &size, nullptr)) return std::wstring();
    return std::wstring(text);
}

DWORD QueryStatus(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) return 0;
    return status;
}

bool AnswersHtml(HINTERNET request) { return QueryContentType(request).find(L"text/html") != std::wstring::npos; }

bool IsRefused(HINTERNET request) { return QueryStatus(request) >= 400 || AnswersHtml(request); }

bool ReadPiece(HINTERNET request, char* buffer, DWORD size, DWORD* got, const Deadline* deadline) {
    *got = 0;
    if (deadline) {
        // A read returns only once its buffer is full or the body ends, however slowly the bytes
        // come; asking what has arrived first lets the clock be looked at after every piece.
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request, &available, 0, 0)) return false;
        if (available == 0) return !deadline->Passed();
        if (available < size) size = available;
    }
    return InternetReadFile(request, buffer, size, got) && !(deadline && deadline->Passed());
}

std::string ReadAllResponse(HINTERNET request, size_t limit, const Deadline* deadline) {
    std::string page;
    char piece[kPageChunk];
    DWORD got = 0;
    while (page.size() < limit && ReadPiece(request, piece, kPageChunk, &got, deadline) && got > 0)
        page.append(piece, got < limit - page.size() ? got : limit - page.size());
    return page;
}
