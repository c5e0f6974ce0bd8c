// Google Drive share links: finding the file id and the real download address.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <optional>
#include <string>

bool IsDriveUrl(const std::wstring& url);
std::wstring ExtractDriveFileId(const std::wstring& url);

// Chooses the URL of the main request for a Drive link; may send one request of its own on
// `internet`. Never fails: at worst it returns `url`.
std::wstring ResolveDriveTarget(HINTERNET internet, const std::wstring& url);
// After the main response was refused: closes `refused` and returns a handle whose content is
// not HTML, or null.
HINTERNET RetryDriveDownload(HINTERNET internet, const std::wstring& url, HINTERNET refused);

// The fixed link forms built from a file id (the id is used as given, even when empty).
std::wstring DirectLink(const std::wstring& id);
std::wstring UserContentLink(const std::wstring& id);
std::wstring UserContentLinkWithAccount(const std::wstring& id);

// The link a confirmation page's form points at, "&amp;" unescaped and the page's uuid
// appended. Nothing when the page has no usable form; an empty action gives an empty or
// uuid-only link, which is returned as it is.
std::optional<std::wstring> FormLinkFromPage(const std::string& page);
