#include "fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

std::string BaseUrl() {
    const char* base = std::getenv("VELMORA_FIXTURE_URL");
    return base ? base : "";
}

// A request to the server's control endpoints; the response body, or "" on failure.
std::string Control(const char* verb, const std::string& path, const std::string& body) {
    const std::string base = BaseUrl();
    const size_t colon = base.rfind(':');
    if (colon == std::string::npos) return "";
    const INTERNET_PORT port = static_cast<INTERNET_PORT>(std::atoi(base.c_str() + colon + 1));
    InternetHandle internet(InternetOpenW(L"fixture-control", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    InternetHandle connection(
        InternetConnectW(internet.get(), L"127.0.0.1", port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    const std::wstring object(path.begin(), path.end());
    const std::wstring method(verb, verb + strlen(verb));
    InternetHandle request(HttpOpenRequestW(connection.get(), method.c_str(), object.c_str(), nullptr, nullptr,
                                            nullptr, INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
    if (!request) return "";
    const wchar_t headers[] = L"Content-Type: application/json\r\n";
    if (!HttpSendRequestW(request.get(), headers, static_cast<DWORD>(-1), const_cast<char*>(body.data()),
                          static_cast<DWORD>(body.size())))
        return "";
    return ReadAllResponse(request.get());
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

}  // namespace

std::wstring FixtureUrl(const std::string& path) {
    const std::string url = BaseUrl() + path;
    return std::wstring(url.begin(), url.end());
}

void Script(const std::string& path, const std::string& script) {
    ASSERT_EQ(Control("POST", "/__fixture/script?path=" + path, script), "ok") << path;
}

std::vector<RecordedRequest> Requests() {
    std::vector<RecordedRequest> out;
    for (const std::string& line : Split(Control("GET", "/__fixture/requests.tsv", ""), '\n')) {
        const std::vector<std::string> f = Split(line, '\t');
        if (f.size() == 5) out.push_back({f[0], f[1], f[2], f[3], f[4]});
    }
    return out;
}

void ResetRequests() { Control("POST", "/__fixture/reset", ""); }

std::string PatternBytes(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i & 0xFF);
    return bytes;
}
