#include "tool/inflate.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace {

const size_t kWindow = 32768;     // the farthest a match reaches back
const size_t kChunk = 256 << 10;  // output handed on at a time
const size_t kMaxMatch = 258;
const int kMaxBits = 15;  // the longest Huffman code
const int kFastBits = 9;  // codes up to this long are found with one table look-up

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,    65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block lists the code lengths of its code-length code.
const uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Bits least significant first, as DEFLATE packs them, pulled from the input as needed.
class BitReader {
public:
    explicit BitReader(const InflateInput& input) : input_(input), buffer_(64 << 10) {}

    // At least `count` bits (at most 56) ready, or as many as the input still has; how many.
    int Fill(int count) {
        while (bitCount_ < count) {
            if (at_ == end_ && !Refill()) break;
            bits_ |= static_cast<uint64_t>(buffer_[at_++]) << bitCount_;
            bitCount_ += 8;
        }
        return bitCount_;
    }
    // The next `count` bits (the ones past the end read as zero).
    uint32_t Peek(int count) const { return static_cast<uint32_t>(bits_ & ((uint64_t{1} << count) - 1)); }
    void Drop(int count) {
        bits_ >>= count;
        bitCount_ -= count;
    }
    bool Take(int count, uint32_t* value) {
        if (Fill(count) < count) return false;
        *value = Peek(count);
        Drop(count);
        return true;
    }
    void SkipToByte() { Drop(bitCount_ % 8); }
    // Whole bytes, once the reader stands on a byte boundary.
    bool ReadBytes(uint8_t* out, size_t count) {
        for (; count > 0 && bitCount_ >= 8; --count, ++out) {
            *out = static_cast<uint8_t>(bits_);
            Drop(8);
        }
        while (count > 0) {
            if (at_ == end_ && !Refill()) return false;
            const size_t n = std::min(count, end_ - at_);
            std::memcpy(out, &buffer_[at_], n);
            at_ += n;
            out += n;
            count -= n;
        }
        return true;
    }

private:
    bool Refill() {
        at_ = 0;
        end_ = input_(buffer_.data(), buffer_.size());
        return end_ > 0;
    }
    const InflateInput& input_;
    std::vector<uint8_t> buffer_;
    size_t at_ = 0, end_ = 0;
    uint64_t bits_ = 0;
    int bitCount_ = 0;
};

// Which unused codes a code may leave: none, only when it has a single code (how a block with
// one distance is written), or any (the fixed distance code, which never uses its last two).
enum class Gaps { None, SingleCode, Any };

// A canonical Huffman code given by its code lengths.
class Huffman {
public:
    // False for lengths no code can have: more codes of some length than fit, or gaps where
    // `gaps` allows none.
    bool Build(const uint8_t* lengths, size_t symbols, Gaps gaps) {
        std::fill(std::begin(count_), std::end(count_), uint16_t{0});
        std::fill(std::begin(fast_), std::end(fast_), uint16_t{0});
        for (size_t s = 0; s < symbols; ++s) ++count_[lengths[s]];
        count_[0] = 0;
        int left = 1;
        for (int length = 1; length <= kMaxBits; ++length) {
            left = (left << 1) - count_[length];
            if (left < 0) return false;
        }
        const auto codes = static_cast<size_t>(std::count_if(lengths, lengths + symbols, [](uint8_t l) { return l != 0; }));
        if (left > 0 && (gaps == Gaps::None || (gaps == Gaps::SingleCode && codes > 1))) return false;
        uint16_t offset[kMaxBits + 2] = {};
        for (int length = 1; length <= kMaxBits; ++length) offset[length + 1] = offset[length] + count_[length];
        for (size_t s = 0; s < symbols; ++s)
            if (lengths[s] != 0) symbol_[offset[lengths[s]]++] = static_cast<uint16_t>(s);
        // The short codes, bit-reversed (the stream sends a code's first bit first), fill
        // every table slot whose low bits they are.
        uint32_t code = 0;
        size_t index = 0;
        for (int length = 1; length <= kFastBits; ++length, code <<= 1) {
            for (int k = 0; k < count_[length]; ++k, ++code, ++index) {
                uint32_t reversed = 0;
                for (int b = 0; b < length; ++b) reversed |= ((code >> b) & 1) << (length - 1 - b);
                for (uint32_t slot = reversed; slot < (1u << kFastBits); slot += 1u << length)
                    fast_[slot] = static_cast<uint16_t>(symbol_[index] | length << 9);
            }
        }
        return true;
    }

    // The next symbol; -1 when the bits are no code or the input ends inside one.
    int Decode(BitReader& bits) const {
        const int ready = bits.Fill(kMaxBits);
        const uint16_t entry = fast_[bits.Peek(kFastBits)];
        if (entry != 0 && (entry >> 9) <= ready) {
            bits.Drop(entry >> 9);
            return entry & 0x1FF;
        }
        // A longer code, walked one bit at a time: codes of each length are consecutive numbers.
        const uint32_t peeked = bits.Peek(kMaxBits);
        int code = 0, first = 0, index = 0;
        for (int length = 1; length <= std::min(ready, kMaxBits); ++length) {
            code |= static_cast<int>((peeked >> (length - 1)) & 1);
            if (code - first < count_[length]) {
                bits.Drop(length);
                return symbol_[index + code - first];
            }
            index += count_[length];
            first = (first + count_[length]) << 1;
            code <<= 1;
        }
        return -1;
    }

private:
    uint16_t count_[kMaxBits + 1] = {};
    uint16_t symbol_[288] = {};
    uint16_t fast_[1 << kFastBits] = {};  // symbol | length << 9; 0 for codes longer than kFastBits
};

// The output with the last 32 KiB kept for matches to copy from.
class Window {
public:
    Window(const InflateOutput& output, uint64_t limit) : output_(output), limit_(limit), buffer_(kWindow + kChunk) {}

    // Room for `count` more bytes (at most a match's length) within the limit.
    bool Reserve(size_t count) {
        if (count > limit_ - total_) return false;
        if (pos_ + count <= buffer_.size()) return true;
        if (!Flush()) return false;
        std::memmove(buffer_.data(), &buffer_[pos_ - kWindow], kWindow);
        pos_ = flushed_ = kWindow;
        return true;
    }
    void Literal(uint8_t byte) {
        buffer_[pos_++] = byte;
        ++total_;
    }
    bool Match(size_t distance, size_t length) {
        if (distance > total_ || distance > kWindow) return false;
        for (size_t i = 0; i < length; ++i, ++pos_) buffer_[pos_] = buffer_[pos_ - distance];  // may overlap itself
        total_ += length;
        return true;
    }
    // Room for up to `count` bytes read straight in; how many fit.
    uint8_t* Space(size_t count, size_t* fits) {
        *fits = 0;
        if (!Reserve(std::min(count, kMaxMatch))) return nullptr;
        *fits = std::min(count, buffer_.size() - pos_);
        return &buffer_[pos_];
    }
    bool Wrote(size_t count) {
        if (count > limit_ - total_) return false;
        pos_ += count;
        total_ += count;
        return true;
    }
    bool Flush() {
        const bool ok = pos_ == flushed_ || output_(&buffer_[flushed_], pos_ - flushed_);
        flushed_ = pos_;
        return ok;
    }

private:
    const InflateOutput& output_;
    uint64_t limit_;
    std::vector<uint8_t> buffer_;
    size_t pos_ = 0, flushed_ = 0;
    uint64_t total_ = 0;
};

bool StoredBlock(BitReader& bits, Window& window) {
    bits.SkipToByte();
    uint32_t length = 0, complement = 0;
    if (!bits.Take(16, &length) || !bits.Take(16, &complement) || (length ^ 0xFFFF) != complement) return false;
    while (length > 0) {
        size_t fits = 0;
        uint8_t* space = window.Space(length, &fits);
        if (!space || !bits.ReadBytes(space, fits) || !window.Wrote(fits)) return false;
        length -= static_cast<uint32_t>(fits);
    }
    return true;
}

bool HuffmanBlock(BitReader& bits, Window& window, const Huffman& literals, const Huffman& distances) {
    for (;;) {
        const int symbol = literals.Decode(bits);
        if (symbol < 0 || symbol > 285) return false;
        if (symbol == 256) return true;
        if (symbol < 256) {
            if (!window.Reserve(1)) return false;
            window.Literal(static_cast<uint8_t>(symbol));
            continue;
        }
        uint32_t lengthExtra = 0, distanceExtra = 0;
        if (!bits.Take(kLengthExtra[symbol - 257], &lengthExtra)) return false;
        const size_t length = kLengthBase[symbol - 257] + lengthExtra;
        const int code = distances.Decode(bits);
        if (code < 0 || code > 29 || !bits.Take(kDistanceExtra[code], &distanceExtra)) return false;
        if (!window.Reserve(length) || !window.Match(kDistanceBase[code] + distanceExtra, length)) return false;
    }
}

bool FixedCodes(Huffman* literals, Huffman* distances) {
    uint8_t lengths[288];
    std::fill(lengths, lengths + 144, uint8_t{8});
    std::fill(lengths + 144, lengths + 256, uint8_t{9});
    std::fill(lengths + 256, lengths + 280, uint8_t{7});
    std::fill(lengths + 280, lengths + 288, uint8_t{8});
    const uint8_t distanceLengths[30] = {5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5,
                                         5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5};
    return literals->Build(lengths, 288, Gaps::None) && distances->Build(distanceLengths, 30, Gaps::Any);
}

bool DynamicCodes(BitReader& bits, Huffman* literals, Huffman* distances) {
    uint32_t literalCount = 0, distanceCount = 0, codeLengthCount = 0;
    if (!bits.Take(5, &literalCount) || !bits.Take(5, &distanceCount) || !bits.Take(4, &codeLengthCount)) return false;
    literalCount += 257;
    distanceCount += 1;
    codeLengthCount += 4;
    if (literalCount > 286 || distanceCount > 30) return false;
    uint8_t codeLengths[19] = {};
    for (uint32_t i = 0; i < codeLengthCount; ++i) {
        uint32_t length = 0;
        if (!bits.Take(3, &length)) return false;
        codeLengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(length);
    }
    Huffman codeLengthCode;
    if (!codeLengthCode.Build(codeLengths, 19, Gaps::None)) return false;
    std::array<uint8_t, 286 + 30> lengths{};
    for (uint32_t i = 0; i < literalCount + distanceCount;) {
        const int symbol = codeLengthCode.Decode(bits);
        if (symbol < 0) return false;
        if (symbol < 16) {
            lengths[i++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint32_t repeat = 0;
        uint8_t value = 0;
        if (symbol == 16) {
            if (i == 0 || !bits.Take(2, &repeat)) return false;
            value = lengths[i - 1];
            repeat += 3;
        } else if (!bits.Take(symbol == 17 ? 3 : 7, &repeat)) {
            return false;
        } else {
            repeat += symbol == 17 ? 3 : 11;
        }
        if (i + repeat > literalCount + distanceCount) return false;
        for (; repeat > 0; --repeat) lengths[i++] = value;
    }
    if (lengths[256] == 0) return false;  // a block with no end
    return literals->Build(lengths.data(), literalCount, Gaps::SingleCode) &&
           distances->Build(lengths.data() + literalCount, distanceCount, Gaps::SingleCode);
}

const std::array<uint32_t, 256>& CrcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320 ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return table;
}

}  // namespace

bool Inflate(const InflateInput& input, const InflateOutput& output, uint64_t limit) {
    BitReader bits(input);
    Window window(output, limit);
    Huffman literals, distances;
    for (uint32_t last = 0; last == 0;) {
        uint32_t type = 0;
        if (!bits.Take(1, &last) || !bits.Take(2, &type)) return false;
        bool ok = false;
        if (type == 0)
            ok = StoredBlock(bits, window);
        else if (type == 1)
            ok = FixedCodes(&literals, &distances) && HuffmanBlock(bits, window, literals, distances);
        else if (type == 2)
            ok = DynamicCodes(bits, &literals, &distances) && HuffmanBlock(bits, window, literals, distances);
        if (!ok) return false;
    }
    return window.Flush();
}

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size) {
    const std::array<uint32_t, 256>& table = CrcTable();
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}
