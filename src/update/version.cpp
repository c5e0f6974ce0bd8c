#include "update/version.h"

#include <windows.h>

#include "app/state.h"

bool CommitVersionFile(const std::string& bytes) {
    const std::wstring staging = g_baseDir + L"\\version.txt.new";
    const std::wstring target = g_baseDir + L"\\version.txt";
    {
        FileHandle file(CreateFileW(staging.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        DWORD written = 0;
        if (!bytes.empty() &&
            (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
             written != bytes.size()))
            return false;
    }
    // Moving only a complete staging file keeps version.txt whole: old version or new, never half.
    return MoveFileExW(staging.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}
