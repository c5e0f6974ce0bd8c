// The zip format's record signatures and little-endian fields, for the reader and the writer alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// An archive below this size cannot hold a client; it is an error page or a stub.
constexpr uint64_t kMinArchiveBytes = 1000;

constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kDescriptorSignature = 0x08074b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint16_t kZip64ExtraTag = 0x0001;

// The `width`-byte little-endian number at `at` (the caller has checked the bytes are there).
inline uint64_t Little(std::string_view bytes, size_t at, size_t width) {
    uint64_t value = 0;
    for (size_t i = width; i-- > 0;) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    return value;
}
