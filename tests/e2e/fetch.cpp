// Test driver: one DownloadFile call, then one JSON line with its result and every progress call
// as [received, expected, milliseconds since the call began].
//   fetch.exe <url> <destination>
#include <cstdio>

#include "net/download.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    const DWORD start = GetTickCount();
    std::string calls;
    const bool ok = DownloadFile(argv[1], argv[2], [&](uint32_t received, uint32_t expected) {
        calls += (calls.empty() ? "[" : ", [") + std::to_string(received) + ", " + std::to_string(expected) + ", " +
                 std::to_string(GetTickCount() - start) + "]";
    });
    std::printf("{\"ok\": %s, \"calls\": [%s]}\n", ok ? "true" : "false", calls.c_str());
    return 0;
}
