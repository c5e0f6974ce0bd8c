#include "net/disk_space.h"

#include <windows.h>

namespace {
const uint64_t kMegabyte = uint64_t{1} << 20;
}  // namespace

std::wstring ShortfallText(uint64_t bytesNeeded) {
    const uint64_t megabytes = bytesNeeded / kMegabyte + (bytesNeeded % kMegabyte != 0 ? 1 : 0);
    return L"Espa\u00e7o insuficiente no disco (necess\u00e1rios " + std::to_wstring(megabytes) + L" MB).";
}

std::wstring FreeSpaceShortfall(const std::wstring& folder, uint64_t bytesNeeded) {
    ULARGE_INTEGER available = {};
    if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr) || available.QuadPart >= bytesNeeded)
        return std::wstring();
    return ShortfallText(bytesNeeded);
}
