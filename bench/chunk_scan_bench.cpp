// The launcher's cutting and hashing of one old pack, as a start without the install record does
// it, alone in its process: the same reading and chunking code, timed from outside the update pass.
//   chunk_scan_bench <file>
// One line: the file's bytes and the seconds the cutting and hashing took.
#include <windows.h>

#include <cstdio>

#include "bench_clock.h"
#include "patch/installed_files.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "chunk_scan_bench <file>\n");
        return 2;
    }
    const double start = Now();
    const std::optional<std::vector<FileChunk>> chunks = FileHasher().Chunks(argv[1]);
    const double seconds = Now() - start;
    if (!chunks || chunks->empty()) return 1;
    const FileChunk& last = chunks->back();
    std::printf("%llu %.6f\n", static_cast<unsigned long long>(last.offset + last.length),
                seconds);
    return 0;
}
