// Fetching the small remote texts: the latest version, the remote configuration, a manifest.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What a version or a configuration may weigh: a few lines, far below this.
constexpr uint64_t kRemoteTextBytes = uint64_t{64} * 1024;

// The body at `url` exactly as received; nothing when the fetch failed or the body was longer
// than `maxBytes`. The temporary file it goes through never stays behind.
std::optional<std::string> FetchRemoteBytes(const std::wstring& url, uint64_t maxBytes = kRemoteTextBytes);

// A remote text as the launcher reads it: blanks and control bytes trimmed from the body,
// DecodeText, trimmed again.
std::wstring DecodeRemoteText(const std::string& bytes);

// The text at `url` (DecodeText of its bytes), trimmed; empty when the fetch failed or the
// resource was empty. `trimmedBytes`, when given, receives the body as received with bytes at
// or below 0x20 trimmed from both ends: what version.txt must hold for this text to read back.
std::wstring FetchRemoteText(const std::wstring& url, std::string* trimmedBytes = nullptr);
