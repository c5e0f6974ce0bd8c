#include "net/accepted.h"

#include "net/drive.h"

Response OpenAccepted(HINTERNET session, const std::wstring& url, const Timeouts& timeouts,
                      const std::wstring& headers, bool* refused, DWORD* status, bool* quota) {
    if (quota) *quota = false;
    Response response = IsDriveUrl(url) ? OpenDriveAnswer(session, url, timeouts, headers, quota)
                                        : OpenUrl(session, url, timeouts, headers);
    const bool turnedDown = response && IsRefused(response.get());
    if (refused) *refused = turnedDown;
    if (status) *status = response ? QueryStatus(response.get()) : 0;
    if (turnedDown) response = {};
    return response;
}
