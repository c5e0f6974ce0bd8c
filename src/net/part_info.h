// The small record beside a partly received archive that says which transfer it belongs to.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct PartInfo {
    std::wstring url;        // the URL asked for, before any Drive resolution or redirect
    std::wstring version;    // the remote version the archive was fetched for
    std::wstring validator;  // the first answer's ETag, else its Last-Modified
    uint64_t length = 0;     // the whole archive's length; 0 when the server did not say
};

// One "key=value" line per field, ASCII only: units outside '!'..'~' and '%' itself are
// written as '%' and four hex digits, so any URL or version survives the round trip.
std::string FormatPartInfo(const PartInfo& info);
// Nothing when a field is missing or malformed.
std::optional<PartInfo> ParsePartInfo(const std::string& text);
