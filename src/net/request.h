// One HTTP(S) exchange over WinINet: opening a URL, reading its headers and pages.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <memory>
#include <string>

// Owns a WinINet handle (session, connection or request); closes it when it goes away.
struct InternetHandleCloser {
    using pointer = HINTERNET;
    void operator()(HINTERNET h) const { InternetCloseHandle(h); }
};
using InternetHandle = std::unique_ptr<void, InternetHandleCloser>;

// An opened request and the connection it runs on. Closing the connection would cut the
// request short, so it is declared first and goes last.
struct Response {
    InternetHandle connection;
    InternetHandle request;
    HINTERNET get() const { return request.get(); }
    explicit operator bool() const { return request != nullptr; }
};

// Set on every connection before its request is sent; a read that gets no byte for `receive`
// ms fails.
struct Timeouts {
    DWORD connect;
    DWORD send;
    DWORD receive;
};
constexpr Timeouts kDefaultTimeouts = {120000, 120000, 120000};

// A session with the launcher's user agent and the system's proxy settings.
InternetHandle OpenSession();

// Request flags for a URL: the secure set for "https://", the base set otherwise.
DWORD RequestFlags(const std::wstring& url);

// Sends a GET for `url` on `session`, with `headers` ("Name: value\r\n" lines) added. Redirects
// are followed. Empty when the URL cannot be parsed or nothing answers.
Response OpenUrl(HINTERNET session, const std::wstring& url, const Timeouts& timeouts = kDefaultTimeouts,
                 const std::wstring& headers = std::wstring());

// Called after every request the downloads send, with the URL asked for and the response (null
// when nothing answered). Unset in the launcher; the operator tool reports each request.
using RequestObserver = void (*)(const std::wstring& url, HINTERNET request);
extern RequestObserver g_requestObserver;

// A response header's raw text, or empty when absent or longer than 1023 units.
std::wstring QueryHeader(HINTERNET request, DWORD query);
// The response's Content-Type, or empty when absent or too long.
std::wstring QueryContentType(HINTERNET request);
DWORD QueryStatus(HINTERNET request);
// True when the response's Content-Type names an HTML page: never the file that was asked for.
bool AnswersHtml(HINTERNET request);
// Error pages are refused like HTML ones: a "Not Found" text must never become a version.
bool IsRefused(HINTERNET request);
// A total time budget for one fetch, counted from its creation.
struct Deadline {
    explicit Deadline(DWORD totalMs) : start(GetTickCount()), total(totalMs) {}
    bool Passed() const { return GetTickCount() - start >= total; }
    DWORD start;
    DWORD total;
};

// One InternetReadFile of at most `size` bytes. With a deadline, only what has arrived is read
// and a read that ends past the deadline fails: a server that sends a byte now and then cannot
// stretch the fetch beyond it by more than one receive time-out (which WinINet takes from the
// connection when the request is sent, and never again).
bool ReadPiece(HINTERNET request, char* buffer, DWORD size, DWORD* got, const Deadline* deadline);

// The remaining response body, read in 8192-byte pieces, at most `limit` bytes; what arrived
// before a failed read or the deadline.
std::string ReadAllResponse(HINTERNET request, size_t limit = SIZE_MAX, const Deadline* deadline = nullptr);
