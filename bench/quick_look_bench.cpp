// The quick look of every start over an install of many recorded files: the presence, size and
// write time of each, no content read. Makes the files and their record, then times the look.
//   quick_look_bench <folder> <files> <rounds>
// One line: the median, the fastest and the slowest round, in milliseconds.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/state.h"
#include "bench_clock.h"
#include "patch/repair.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "quick_look_bench <folder> <files> <rounds>\n");
        return 2;
    }
    g_baseDir = argv[1];
    const size_t count = std::wcstoul(argv[2], nullptr, 10), rounds = std::wcstoul(argv[3], nullptr, 10);
    const std::wstring bin = g_baseDir + L"\\bin";
    for (const std::wstring& folder : {g_baseDir, bin, bin + L"\\data"}) CreateDirectoryW(folder.c_str(), nullptr);

    // A hundred files a folder, as a client's data folders hold them.
    std::vector<InstalledFile> files;
    for (size_t i = 0; i < count; ++i) {
        const std::string folder = "data/d" + std::to_string(i / 100), path = folder + "/f" + std::to_string(i) + ".dat";
        if (i % 100 == 0) CreateDirectoryW(EntryPath(bin, folder).c_str(), nullptr);
        {
            FileHandle file(CreateFileW(EntryPath(bin, path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
            DWORD put = 0;
            if (!file || !WriteFile(file.get(), path.data(), static_cast<DWORD>(path.size()), &put, nullptr)) return 1;
        }
        files.push_back({path, *StampOf(EntryPath(bin, path)), {}});
    }
    WriteInstallRecord(files);

    std::vector<double> ms;
    for (size_t round = 0; round < rounds; ++round) {
        const double start = Now();
        const RecordLook look = QuickLook(bin);
        ms.push_back((Now() - start) * 1000);
        if (look.vouched.size() != count || !look.missing.empty()) {
            std::fprintf(stderr, "the look found %zu of %zu files\n", look.vouched.size(), count);
            return 1;
        }
    }
    std::sort(ms.begin(), ms.end());
    std::printf("quick look, %zu recorded files: median %.1f ms (fastest %.1f, slowest %.1f, %zu rounds)\n", count,
                ms[ms.size() / 2], ms.front(), ms.back(), ms.size());
    return 0;
}
