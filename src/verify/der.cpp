#include "verify/der.h"

#include <cstring>
#include <type_traits>

using namespace std::string_view_literals;

namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// AlgorithmIdentifier { id-ecPublicKey, prime256v1 } and the curve OID alone.
constexpr std::string_view kEcP256AlgId =
    "\x30\x13\x06\x07\x2a\x86\x48\xce\x3d\x02\x01\x06\x08\x2a\x86\x48\xce\x3d\x03\x01\x07"sv;
constexpr std::string_view kP256Oid = kEcP256AlgId.substr(11);
// A P-256 SubjectPublicKeyInfo up to the point: SEQUENCE, the algorithm, BIT STRING with no
// unused bits. DER allows exactly one encoding of that structure, so comparing bytes is a full
// parse of it.
constexpr std::string_view kSpkiHead = "\x30\x59"sv;
constexpr std::string_view kSpkiPointHead = "\x03\x42\x00"sv;
constexpr size_t kSpkiSize = 2 + 21 + 3 + 65;

// The order n of the P-256 group: a private scalar lies in [1, n-1].
constexpr uint8_t kOrder[32] = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF,
                                0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xBC, 0xE6, 0xFA, 0xAD, 0xA7, 0x17,
                                0x9E, 0x84, 0xF3, 0xB9, 0xCA, 0xC2, 0xFC, 0x63, 0x25, 0x51};

uint8_t Byte(char c) { return static_cast<uint8_t>(c); }

int Base64Value(uint32_t c) {
    if (c >= 'A' && c <= 'Z') return static_cast<int>(c - 'A');
    if (c >= 'a' && c <= 'z') return static_cast<int>(c - 'a') + 26;
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0') + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Shared by the wide config values and the narrow PEM text.
template <typename Char>
std::optional<std::string> Base64Decode(std::basic_string_view<Char> text) {
    std::string symbols;
    for (Char ch : text) {
        auto c = static_cast<uint32_t>(static_cast<std::make_unsigned_t<Char>>(ch));
        if (c == ' ' || (c >= '\t' && c <= '\r')) continue;
        if (c > 0x7F) return std::nullopt;
        symbols.push_back(static_cast<char>(c));
    }
    if (symbols.size() % 4 != 0) return std::nullopt;
    size_t pad = 0;
    if (!symbols.empty() && symbols.back() == '=') pad = symbols[symbols.size() - 2] == '=' ? 2 : 1;

    std::string out;
    out.reserve(symbols.size() / 4 * 3);
    uint32_t acc = 0;
    for (size_t i = 0; i < symbols.size() - pad; ++i) {
        int v = Base64Value(Byte(symbols[i]));  // '=' anywhere but the end fails here
        if (v < 0) return std::nullopt;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        if (i % 4 == 3) {
            out.push_back(static_cast<char>(acc >> 16));
            out.push_back(static_cast<char>(acc >> 8));
            out.push_back(static_cast<char>(acc));
            acc = 0;
        }
    }
    // The bits the padding leaves over must be zero, so each byte string has one encoding.
    if (pad == 1) {
        if (acc & 0x3) return std::nullopt;
        out.push_back(static_cast<char>(acc >> 10));
        out.push_back(static_cast<char>(acc >> 2));
    } else if (pad == 2) {
        if (acc & 0xF) return std::nullopt;
        out.push_back(static_cast<char>(acc >> 4));
    }
    return out;
}

int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Reads DER elements one after another, accepting only definite, shortest-form lengths.
struct Reader {
    std::string_view rest;

    bool Next(uint8_t tag, std::string_view* content) {
        if (rest.size() < 2 || Byte(rest[0]) != tag) return false;
        size_t len = Byte(rest[1]), head = 2;
        if (len & 0x80) {
            size_t count = len & 0x7F;
            if (count == 0 || count > 2 || rest.size() < 2 + count) return false;
            len = 0;
            for (size_t i = 0; i < count; ++i) len = (len << 8) | Byte(rest[2 + i]);
            if (len < 0x80 || (count == 2 && len < 0x100)) return false;
            head += count;
        }
        if (rest.size() - head < len) return false;
        *content = rest.substr(head, len);
        rest.remove_prefix(head + len);
        return true;
    }
    bool Peek(uint8_t tag) const { return !rest.empty() && Byte(rest[0]) == tag; }
    bool AtEnd() const { return rest.empty(); }
};

// The content of `der` when it is exactly one element with `tag`.
std::optional<std::string_view> Only(std::string_view der, uint8_t tag) {
    Reader r{der};
    std::string_view content;
    if (!r.Next(tag, &content) || !r.AtEnd()) return std::nullopt;
    return content;
}

std::string Tlv(uint8_t tag, std::string_view content) {
    std::string out(1, static_cast<char>(tag));
    size_t n = content.size();
    if (n >= 0x100) {
        out += {'\x82', static_cast<char>(n >> 8), static_cast<char>(n)};
    } else if (n >= 0x80) {
        out += {'\x81', static_cast<char>(n)};
    } else {
        out.push_back(static_cast<char>(n));
    }
    out += content;
    return out;
}

// One signature INTEGER as 32 big-endian bytes. A leading zero byte is only allowed to keep a
// set top bit from reading as a sign; zero and negative values are no valid r or s.
bool ReadSignatureInteger(Reader& r, std::string* out) {
    std::string_view v;
    if (!r.Next(0x02, &v) || v.empty() || (Byte(v[0]) & 0x80)) return false;
    if (v[0] == 0) {
        if (v.size() == 1 || !(Byte(v[1]) & 0x80)) return false;
        v.remove_prefix(1);
    }
    if (v.size() > 32) return false;
    out->append(32 - v.size(), '\0');
    out->append(v);
    return true;
}

std::string DerInteger(std::string_view bigEndian) {
    size_t skip = 0;
    while (skip + 1 < bigEndian.size() && bigEndian[skip] == 0) ++skip;
    std::string v(bigEndian.substr(skip));
    if (Byte(v[0]) & 0x80) v.insert(v.begin(), '\0');
    return Tlv(0x02, v);
}

bool IsPoint(std::string_view point65) { return point65.size() == 65 && point65[0] == 0x04; }

bool IsScalar(std::string_view d) {
    static const char kZero[32] = {};
    return d.size() == 32 && std::memcmp(d.data(), kZero, 32) != 0 && std::memcmp(d.data(), kOrder, 32) < 0;
}

// SEC1 ECPrivateKey: SEQUENCE { INTEGER 1, OCTET STRING d, [0] curve OID OPTIONAL,
// [1] BIT STRING point OPTIONAL }.
std::optional<std::string> ScalarFromSec1(std::string_view der, std::string* point65) {
    auto seq = Only(der, 0x30);
    if (!seq) return std::nullopt;
    Reader r{*seq};
    std::string_view version, d, field;
    if (!r.Next(0x02, &version) || version != "\x01"sv || !r.Next(0x04, &d) || !IsScalar(d)) return std::nullopt;
    if (r.Peek(0xA0) && (!r.Next(0xA0, &field) || field != kP256Oid)) return std::nullopt;
    std::string point;
    if (r.Peek(0xA1)) {
        std::optional<std::string_view> bits;
        if (!r.Next(0xA1, &field) || !(bits = Only(field, 0x03)) || bits->empty() || (*bits)[0] != 0 ||
            !IsPoint(bits->substr(1)))
            return std::nullopt;
        point = bits->substr(1);
    }
    if (!r.AtEnd()) return std::nullopt;
    if (point65) *point65 = point;
    return std::string(d);
}

// PKCS#8 PrivateKeyInfo: SEQUENCE { INTEGER 0, AlgorithmIdentifier, OCTET STRING holding the
// SEC1 key, [0] attributes OPTIONAL }.
std::optional<std::string> ScalarFromPkcs8(std::string_view der, std::string* point65) {
    auto seq = Only(der, 0x30);
    if (!seq) return std::nullopt;
    Reader r{*seq};
    std::string_view version, alg, inner, attributes;
    if (!r.Next(0x02, &version) || version != "\x00"sv || !r.Next(0x30, &alg) ||
        Tlv(0x30, alg) != kEcP256AlgId || !r.Next(0x04, &inner))
        return std::nullopt;
    if (r.Peek(0xA0) && !r.Next(0xA0, &attributes)) return std::nullopt;
    if (!r.AtEnd()) return std::nullopt;
    return ScalarFromSec1(inner, point65);
}

}  // namespace

std::optional<std::string> DecodeBase64(std::wstring_view text) { return Base64Decode(text); }

std::string EncodeBase64(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
        uint32_t acc = static_cast<uint32_t>(Byte(bytes[i])) << 16;
        if (n > 1) acc |= static_cast<uint32_t>(Byte(bytes[i + 1])) << 8;
        if (n > 2) acc |= Byte(bytes[i + 2]);
        for (size_t k = 0; k < 4; ++k) out.push_back(k <= n ? kBase64Alphabet[(acc >> (18 - 6 * k)) & 0x3F] : '=');
    }
    return out;
}

std::optional<std::array<uint8_t, 32>> ParseSha256Hex(std::wstring_view text) {
    if (text.size() != 64) return std::nullopt;
    std::array<uint8_t, 32> digest{};
    for (size_t i = 0; i < 32; ++i) {
        int hi = HexValue(text[2 * i]), lo = HexValue(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        digest[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    return digest;
}

std::wstring FormatSha256Hex(const std::array<uint8_t, 32>& digest) {
    static const wchar_t kHex[] = L"0123456789abcdef";
    std::wstring out;
    for (uint8_t byte : digest) {
        out.push_back(kHex[byte >> 4]);
        out.push_back(kHex[byte & 0xF]);
    }
    return out;
}

std::optional<std::string> P256PointFromSpki(std::string_view der) {
    if (der.size() != kSpkiSize || SpkiFromP256Point(der.substr(kSpkiSize - 65)) != der) return std::nullopt;
    return std::string(der.substr(kSpkiSize - 65));
}

std::string SpkiFromP256Point(std::string_view point65) {
    if (!IsPoint(point65)) return {};
    std::string out(kSpkiHead);
    out += kEcP256AlgId;
    out += kSpkiPointHead;
    out += point65;
    return out;
}

std::optional<std::string> SignatureToRaw(std::string_view sig) {
    if (sig.size() == 64) return std::string(sig);
    auto seq = Only(sig, 0x30);
    if (!seq) return std::nullopt;
    Reader r{*seq};
    std::string raw;
    if (!ReadSignatureInteger(r, &raw) || !ReadSignatureInteger(r, &raw) || !r.AtEnd()) return std::nullopt;
    return raw;
}

std::string SignatureToDer(std::string_view raw64) {
    if (raw64.size() != 64) return {};
    return Tlv(0x30, DerInteger(raw64.substr(0, 32)) + DerInteger(raw64.substr(32)));
}

std::optional<std::string> P256PrivateScalarFromDer(std::string_view der, std::string* point65) {
    if (point65) point65->clear();
    if (auto d = ScalarFromPkcs8(der, point65)) return d;
    return ScalarFromSec1(der, point65);
}

std::string Pkcs8FromP256(std::string_view d32, std::string_view point65) {
    if (!IsScalar(d32) || !IsPoint(point65)) return {};
    std::string bits(1, '\0');
    bits += point65;
    std::string sec1 = Tlv(0x30, std::string("\x02\x01\x01") + Tlv(0x04, d32) + Tlv(0xA1, Tlv(0x03, bits)));
    return Tlv(0x30, std::string("\x02\x01\x00"sv) + std::string(kEcP256AlgId) + Tlv(0x04, sec1));
}

std::optional<std::string> PemToDer(std::string_view pem, std::string_view label) {
    std::string begin = "-----BEGIN " + std::string(label) + "-----";
    std::string end = "-----END " + std::string(label) + "-----";
    size_t from = pem.find(begin);
    if (from == std::string_view::npos) return std::nullopt;
    from += begin.size();
    size_t to = pem.find(end, from);
    if (to == std::string_view::npos) return std::nullopt;
    return Base64Decode(pem.substr(from, to - from));
}

std::string DerToPem(std::string_view der, std::string_view label) {
    std::string body = EncodeBase64(der);
    std::string out = "-----BEGIN " + std::string(label) + "-----\n";
    for (size_t i = 0; i < body.size(); i += 64) out += body.substr(i, 64) + "\n";
    return out + "-----END " + std::string(label) + "-----\n";
}
