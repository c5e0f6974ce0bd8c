#include "update/client_lock.h"

#include "app/state.h"

bool ClientInUse(const std::wstring& exePath) {
    const HANDLE opened =
        CreateFileW(exePath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = GetLastError();
    const FileHandle file(opened);
    return !file && (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION);
}
