// Fetching the small remote texts (configuration, latest version) and recording version.txt.
#pragma once

#include <string>

// The text at `url`, trimmed; empty when the fetch failed, the resource was empty or longer
// than 64 KiB. The temporary file it goes through never stays behind.
std::wstring FetchRemoteText(const std::wstring& url);

// Stores g_localVersion in version.txt, one byte per unit (its low 8 bits), through a staging
// file moved over the old one. Failures leave the previous version.txt in place.
void CommitVersionFile();
