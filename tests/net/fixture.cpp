#include "fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "app/state.h"
#include "net/download.h"

namespace {

const std::string kBase = std::getenv("VELMORA_FIXTURE_URL") ? std::getenv("VELMORA_FIXTURE_URL") : "";

// A request to the server's control endpoints; the response body, or "" on failure.
std::string Control(const wchar_t* method, const std::string& path, const std::string& body) {
    const INTERNET_PORT port = static_cast<INTERNET_PORT>(std::atoi(kBase.c_str() + kBase.rfind(':') + 1));
    InternetHandle internet(InternetOpenW(L"fixture-control", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    InternetHandle connection(
        InternetConnectW(internet.get(), L"127.0.0.1", port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    InternetHandle request(HttpOpenRequestW(connection.get(), method, std::wstring(path.begin(), path.end()).c_str(),
                                            nullptr, nullptr, nullptr, INTERNET_FLAG_RELOAD, 0));
    if (!request || !HttpSendRequestW(request.get(), L"Content-Type: application/json\r\n", static_cast<DWORD>(-1),
                                      const_cast<char*>(body.data()), static_cast<DWORD>(body.size())))
        return "";
    return ReadAllResponse(request.get());
}

}  // namespace

std::wstring FixtureUrl(const std::string& path) { return Widen(kBase + path); }

void Script(const std::string& path, const std::string& script) {
    ASSERT_EQ(Control(L"POST", "/__fixture/script?path=" + path, script), "ok") << path;
}

std::vector<std::string> Requests() {
    std::istringstream tsv(Control(L"GET", "/__fixture/requests.tsv", ""));
    std::vector<std::string> lines;
    for (std::string line; std::getline(tsv, line);) lines.push_back(line);
    return lines;
}

void ResetRequests() { Control(L"POST", "/__fixture/reset", ""); }

std::string PatternBytes(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i & 0xFF);
    return bytes;
}
