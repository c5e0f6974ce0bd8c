// Where a download's answer comes from: a plain link's own answer, or the one a Google Drive
// link leads to; and whether that answer is taken at all.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

#include "net/request.h"

// The final accepted response for `url`: a plain URL's own answer, or for a Google Drive link
// the one its resolution and retry lead to. Empty when nothing acceptable answered. `headers`
// go with the request whose body is wanted, not with Drive's look-ahead. `refused` tells an
// answer that was turned down from no answer at all; `status` receives the final answer's
// status (0 when nothing answered), accepted or not; `quota` whether Google Drive refused it for
// the file's download quota.
Response OpenAccepted(HINTERNET session, const std::wstring& url, const Timeouts& timeouts = kDefaultTimeouts,
                      const std::wstring& headers = std::wstring(), bool* refused = nullptr,
                      DWORD* status = nullptr, bool* quota = nullptr);
