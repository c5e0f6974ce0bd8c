// Talking to the scripted loopback server that run_net_tests.py starts for this program.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "net/download.h"

// The server's address for `path`, e.g. L"http://127.0.0.1:40000/plain".
std::wstring FixtureUrl(const std::string& path);
// Makes `path` answer as the JSON `script` says (see fixture_server.py for the keys).
void Script(const std::string& path, const std::string& script);

struct RecordedRequest {
    std::string method, path, userAgent, cacheControl, pragma;
};
std::vector<RecordedRequest> Requests();
void ResetRequests();

// Every progress call DownloadFile makes, with the tick it was made at.
struct ProgressLog {
    struct Call {
        uint32_t received, expected;
        DWORD tick;
    };
    std::vector<Call> calls;
    ProgressCallback Callback() {
        return [this](uint32_t received, uint32_t expected) { calls.push_back({received, expected, GetTickCount()}); };
    }
};

// The bytes fixture_server.py generates for a "size" script.
std::string PatternBytes(size_t size);
