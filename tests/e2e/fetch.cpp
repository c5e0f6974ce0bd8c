// Test driver: one DownloadFile call without a progress callable; exits with 0 when it succeeds,
// 1 when it fails.
#include "net/download.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;  // usage: fetch <url> <destination>
    return DownloadFile(argv[1], argv[2], {}) ? 0 : 1;
}
