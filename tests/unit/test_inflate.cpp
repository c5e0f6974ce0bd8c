#include <gtest/gtest.h>

#include <string>

#include "tool/inflate.h"

namespace {

// A DEFLATE stream assembled by hand: fields least significant bit first, Huffman codes
// most significant bit first.
struct Bits {
    std::string bytes;
    int used = 8;
    Bits& Field(uint32_t value, int count) {
        for (int i = 0; i < count; ++i, ++used) {
            if (used == 8) bytes.push_back('\0'), used = 0;
            bytes.back() = static_cast<char>(bytes.back() | ((value >> i) & 1) << used);
        }
        return *this;
    }
    Bits& Align() {
        used = 8;
        return *this;
    }
    Bits& Code(uint32_t code, int count) {
        for (int i = count - 1; i >= 0; --i) Field(code >> i, 1);
        return *this;
    }
};

// What Inflate makes of `stream` handed over in pieces of `piece` bytes; nothing on failure.
std::optional<std::string> Inflated(const std::string& stream, uint64_t limit = 1 << 20, size_t piece = 3) {
    size_t at = 0;
    std::string out;
    const bool ok = Inflate(
        [&](uint8_t* buffer, size_t capacity) {
            const size_t n = std::min({piece, capacity, stream.size() - at});
            std::copy(stream.begin() + static_cast<std::ptrdiff_t>(at), stream.begin() + static_cast<std::ptrdiff_t>(at + n), buffer);
            at += n;
            return n;
        },
        [&](const uint8_t* data, size_t size) {
            out.append(reinterpret_cast<const char*>(data), size);
            return true;
        },
        limit);
    return ok ? std::optional<std::string>(out) : std::nullopt;
}

// zlib's raw stream (level 9, one dynamic block) of the text below.
const std::string kDynamic(
    "\x85\x93\x3b\x0e\xc3\x30\x0c\x43\xaf\xe2\x23\x58\xb6\xfc\x43\x4f\x63\x34\x1e\x0a\xa4\x09\x10\x04\x3d\x7f\x97\xae"
    "\xe5\x9b\x09\x9a\xd2\x33\xb5\x8e\xfb\x9a\xdb\x0c\x31\x6c\x67\x78\xee\xaf\x75\xdc\x2b\x7c\xd6\xfe\x3e\xaf\xf9\x08"
    "\xeb\xa7\x9a\x54\x5d\xaa\x43\xbf\x5c\xa5\x9c\x8a\x94\xb3\x76\xbb\xce\xae\x7a\xf0\xae\xb7\xb6\x08\xcc\x12\xf8\xdd"
    "\x81\x0c\x90\x1b\x80\x0e\xd8\xa5\x02\xfe\xae\xf3\x73\x72\xf8\x1b\x68\x0d\xf0\x73\x07\x7f\xd7\xf9\x25\xe9\xf9\x4b"
    "\xd3\xfb\x57\xe0\x57\xc1\xdf\x20\xbf\xc1\xfc\x1d\xf6\x1f\xc0\x6f\x54\xea\x2f\x7c\xa0\x45\x68\x80\x19\x54\xc8\xa8"
    "\x83\x96\xa0\xc4\x96\xe9\x0a\x9c\xce\xa8\xfc\xb9\xc3\x2f",
    154);

std::string DynamicText() {
    std::string text;
    for (int i = 0; i < 40; ++i) text += "entrada " + std::to_string(i * i) + " do cliente velmora; ";
    return text;
}

TEST(Inflate, AWholeStreamAndNoShorterOne) {
    const std::string text = DynamicText();
    EXPECT_EQ(Inflated(kDynamic).value_or("<failed>"), text);
    EXPECT_EQ(Inflated(kDynamic, text.size(), 1 << 16).value_or("<failed>"), text);
    EXPECT_FALSE(Inflated(kDynamic, text.size() - 1));  // one byte over the limit
    for (size_t cut = 0; cut < kDynamic.size(); ++cut) EXPECT_FALSE(Inflated(kDynamic.substr(0, cut))) << cut;
}

// Streams an archive writer would never make: each fails, none reads out of bounds.
TEST(Inflate, MalformedStreamsFail) {
    const auto fixed = [] { return Bits().Field(1, 1).Field(1, 2); };    // final, fixed codes
    const auto dynamic = [] { return Bits().Field(1, 1).Field(2, 2); };  // final, dynamic codes
    const std::pair<const char*, std::string> cases[] = {  // label, stream
        {"reserved block type", Bits().Field(1, 1).Field(3, 2).bytes},
        {"stored length and its complement differ", Bits().Field(1, 3).Align().Field(5, 16).Field(5, 16).bytes},
        {"stored block cut short", Bits().Field(1, 3).Align().Field(5, 16).Field(0xFFFA, 16).bytes + "ab"},
        {"no final block", Bits().Field(0, 1).Field(1, 2).Code(0, 7).bytes},
        {"match before any output", fixed().Code(1, 7).Code(0, 5).Code(0, 7).bytes},
        {"match reaching before the output", fixed().Code(0x30 + 'a', 8).Code(1, 7).Code(1, 5).Code(0, 7).bytes},
        {"distance code 30", fixed().Code(0x30 + 'a', 8).Code(1, 7).Code(30, 5).Code(0, 7).bytes},
        {"length code 286", fixed().Code(0xC6, 8).bytes},
        {"more than 286 length codes", dynamic().Field(30, 5).Field(0, 5).Field(0, 4).bytes},
        {"code-length code over-subscribed", dynamic().Field(0, 5).Field(0, 5).Field(0, 4).Field(1, 3).Field(1, 3).Field(1, 3).Field(1, 3).bytes},
        // Code-length codes 0 -> "0" and 16 -> "1" (order 16, 17, 18, 0), then a repeat with nothing before it.
        {"repeat with nothing to repeat", dynamic().Field(0, 5).Field(0, 5).Field(0, 4).Field(1, 3).Field(0, 3).Field(0, 3).Field(1, 3).Code(1, 1).Field(0, 2).bytes},
        // Codes 0 -> "0" and 18 -> "1": 138 + 138 zeros for 258 lengths.
        {"zeros past the last length", dynamic().Field(0, 5).Field(0, 5).Field(0, 4).Field(0, 3).Field(0, 3).Field(1, 3).Field(1, 3).Code(1, 1).Field(127, 7).Code(1, 1).Field(127, 7).bytes},
        // 138 + 120 zeros: every length zero, so no end-of-block code.
        {"no end-of-block code", dynamic().Field(0, 5).Field(0, 5).Field(0, 4).Field(0, 3).Field(0, 3).Field(1, 3).Field(1, 3).Code(1, 1).Field(127, 7).Code(1, 1).Field(109, 7).bytes},
    };
    for (const auto& [label, stream] : cases) EXPECT_FALSE(Inflated(stream)) << label;
    // The control: the fixed-code stream the match rows build on is itself sound.
    EXPECT_EQ(Inflated(fixed().Code(0x30 + 'a', 8).Code(1, 7).Code(0, 5).Code(0, 7).bytes).value_or("<failed>"), "aaaa");
}

}  // namespace
