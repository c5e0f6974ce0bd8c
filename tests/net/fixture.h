// Talking to the scripted loopback server that run_net_tests.py starts for this program.
#pragma once

#include <string>
#include <vector>

// The server's address for `path`, e.g. L"http://127.0.0.1:40000/plain".
std::wstring FixtureUrl(const std::string& path);
// Makes `path` answer as the JSON `script` says (see fixture_server.py for the keys).
void Script(const std::string& path, const std::string& script);
// The requests served since the last reset, one tab-separated line each: method, path, user agent,
// cache-control, pragma.
std::vector<std::string> Requests();
void ResetRequests();
// The bytes fixture_server.py generates for a "size" script.
std::string PatternBytes(size_t size);
