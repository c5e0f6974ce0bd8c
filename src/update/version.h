// Fetching the small remote texts (configuration, latest version) and recording version.txt.
#pragma once

#include <string>

// The text at `url`, trimmed; empty when the fetch failed or the resource was empty.
std::wstring FetchRemoteText(const std::wstring& url);

// Stores g_localVersion in version.txt, one byte per unit (its low 8 bits), through a staging
// file moved over the old one. Failures leave the previous version.txt in place.
void CommitVersionFile();
