// Test driver: one DownloadFile call with no progress callable. Prints "DownloadFile=1" or
// "DownloadFile=0" and exits with 0 or 1 accordingly.
#include <cstdio>

#include "net/download.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: fetch <url> <destination>\n");
        return 2;
    }
    const bool ok = DownloadFile(argv[1], argv[2], {});
    std::printf("DownloadFile=%d\n", ok ? 1 : 0);
    return ok ? 0 : 1;
}
