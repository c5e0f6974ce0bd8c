// Fetching the small remote texts (configuration, latest version) and recording version.txt.
#pragma once

#include <optional>
#include <string>

// The body at `url` exactly as received; nothing when the fetch failed or the body was longer
// than 64 KiB. The temporary file it goes through never stays behind.
std::optional<std::string> FetchRemoteBytes(const std::wstring& url);

// A remote text as the launcher reads it: widened byte for byte, then trimmed.
std::wstring DecodeRemoteText(const std::string& bytes);

// The text at `url`, trimmed; empty when the fetch failed or the resource was empty.
std::wstring FetchRemoteText(const std::wstring& url);

// Stores g_localVersion in version.txt, one byte per unit (its low 8 bits), through a staging
// file moved over the old one. Failures leave the previous version.txt in place.
void CommitVersionFile();
