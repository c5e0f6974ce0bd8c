// Google Drive share links: finding the file id and the real download address.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <optional>
#include <string>

#include "net/request.h"

bool IsDriveUrl(const std::wstring& url);
std::wstring ExtractDriveFileId(const std::wstring& url);

// The final answer for a Drive share link: the file id's direct link is looked at first, a
// confirmation page's form is followed, and a refused answer gets one retry through the
// user-content host. At most four requests; empty when the last one got no answer. Whether
// that answer is accepted is the caller's one check. `headers` go only with the requests whose
// body would be taken. `quota`, when given, tells whether a refused end came with Drive saying
// the file's download quota is used up.
Response OpenDriveAnswer(HINTERNET session, const std::wstring& url, const Timeouts& timeouts,
                         const std::wstring& headers, bool* quota = nullptr);

// The fixed link forms built from a file id (the id is used as given, even when empty).
std::wstring DirectLink(const std::wstring& id);
std::wstring UserContentLink(const std::wstring& id);
std::wstring UserContentLinkWithAccount(const std::wstring& id);

// The link a confirmation page's form points at, "&amp;" unescaped and the page's uuid
// appended. Nothing when the page has no usable form; an empty action gives an empty or
// uuid-only link, which is returned as it is.
std::optional<std::wstring> FormLinkFromPage(const std::string& page);

// True for Drive's page that the file's download quota is exceeded ("Too many users have viewed or
// downloaded this file recently"), told by its title and that sentence's stable start.
bool IsDriveQuotaPage(const std::string& page);
