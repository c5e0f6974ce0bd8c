// Test driver: one download, then one JSON line with its result, every progress call as
// [received, expected, milliseconds since the start], and for the archive the pauses announced
// before resumptions, the restarts from zero, the SHA-256 of the bytes seen and whether a Drive host
// said its quota was used up.
//   fetch.exe <url> <destination>                                  DownloadFile
//   fetch.exe <urls> <archive> <version> <first wait ms> <stall ms> [digest]
//                        DownloadFromSources; "digest": as with a published digest
#include <cstdio>
#include <optional>

#include "net/download.h"
#include "net/resume.h"
#include "net/sources.h"
#include "verify/der.h"
#include "verify/verify.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 && argc != 6 && argc != 7) return 2;
    const DWORD start = GetTickCount();
    std::string calls, waits, digest;
    const auto progress = [&](uint64_t received, uint64_t expected) {
        calls += (calls.empty() ? "[" : ", [") + std::to_string(received) + ", " + std::to_string(expected) + ", " +
                 std::to_string(GetTickCount() - start) + "]";
    };
    if (argc == 3) {
        const bool ok = DownloadFile(argv[1], argv[2], progress);
        std::printf("{\"ok\": %s, \"calls\": [%s]}\n", ok ? "true" : "false", calls.c_str());
        return 0;
    }
    std::optional<Sha256> hash(std::in_place);
    int restarts = 0;
    bool quota = false;
    ArchiveHooks hooks;
    hooks.driveQuota = [&] { quota = true; };
    hooks.progress = progress;
    hooks.waiting = [&](DWORD seconds) { waits += (waits.empty() ? "" : ", ") + std::to_string(seconds); };
    hooks.restarting = [&] { hash.emplace(), ++restarts; };
    hooks.chunk = [&](const char* data, size_t size) { hash->Update(data, size); };
    const ResumePolicy policy = {5, static_cast<DWORD>(_wtoi(argv[4])), static_cast<DWORD>(_wtoi(argv[5]))};
    const bool ok = DownloadFromSources(SplitSources(argv[1]), argv[3], argv[2], hooks, argc == 7, nullptr, policy);
    for (wchar_t c : FormatSha256Hex(hash->Finish().value_or(std::array<uint8_t, 32>{}))) digest += static_cast<char>(c);
    std::printf("{\"ok\": %s, \"calls\": [%s], \"waits\": [%s], \"restarts\": %d, \"sha256\": \"%s\", "
                "\"quota\": %s}\n",
                ok ? "true" : "false", calls.c_str(), waits.c_str(), restarts, digest.c_str(),
                quota ? "true" : "false");
    return 0;
}
