#include "net/drive.h"

// Drive links are not recognised yet: every URL is requested as given.
bool IsDriveUrl(const std::wstring&) { return false; }
std::wstring ExtractDriveFileId(const std::wstring&) { return std::wstring(); }
std::wstring ResolveDriveTarget(HINTERNET, const std::wstring& url) { return url; }
HINTERNET RetryDriveDownload(HINTERNET, const std::wstring&, HINTERNET refused) {
    InternetCloseHandle(refused);
    return nullptr;
}
