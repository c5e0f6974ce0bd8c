// Google Drive share links: finding the file id and the real download address.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

bool IsDriveUrl(const std::wstring& url);
std::wstring ExtractDriveFileId(const std::wstring& url);

// Chooses the URL of the main request for a Drive link; may send one request of its own on
// `internet`. Never fails: at worst it returns `url`.
std::wstring ResolveDriveTarget(HINTERNET internet, const std::wstring& url);
// After the main response was refused: closes `refused` and returns a handle whose content is
// not HTML, or null.
HINTERNET RetryDriveDownload(HINTERNET internet, const std::wstring& url, HINTERNET refused);
