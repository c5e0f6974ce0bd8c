#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <string>

#include "verify/der.h"
#include "verify/verify.h"

namespace {

// The base64 and hex texts here are plain ASCII.
std::wstring Ascii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Made once with OpenSSL 3.0: a P-256 key by `openssl genpkey`, its public key by `openssl ec
// -pubout -outform DER | base64 -w0`, signatures by `openssl dgst -sha256 -sign KEY` over
// kMessage; the point read off `openssl ec -text`, raw r||s from the DER integers.
const wchar_t kPubA[] =
    L"MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE0ZWR5n4up9e/SnAX5699MUCUfVfSRKtnd70Wn3SbjjpSJePUunnnf21z6cwAlI+TlgBrZWEoDQMt"
    L"5ScjmRa8bA==";
const std::string kPointA =
    "04d19591e67e2ea7d7bf4a7017e7af7d3140947d57d244ab6777bd169f749b8e3a5225e3d4ba79e77f6d73e9cc00948f9396006b6561280d"
    "032de527239916bc6c";
const std::string kMessage = "Velmora client 1.2.3\n";
const std::string kDigest = "39d3352c2dabdb3ad03dea0a1ee1e7843224b0812320b694f81b078a8167405e";
const std::string kR = "f3f164d3e8160fa80581fb7ee7f14f91570245e8a3fd4577849fed62079c0c70";
const std::string kS = "270841eaa0a437fec070fb92030674d25e693da0bddee030b18a153c7f59341f";
const std::string kSigA = "3045022100" + kR + "0220" + kS;
// A signature whose s has only 31 significant bytes.
const std::string kShortSigA =
    "30440221008fcfd9696ee55993ea8461bf93c53924b8cf9b623c60d265f27b3044e7b7bdfc021f0c778e834ac54ebe23b7e0c7c94a67414d"
    "31ee92fd215d7027f87b954de27b";
const std::string kShortRawA =
    "8fcfd9696ee55993ea8461bf93c53924b8cf9b623c60d265f27b3044e7b7bdfc000c778e834ac54ebe23b7e0c7c94a67414d31ee92fd215d"
    "7027f87b954de27b";

std::string Unhex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string Hex(std::string_view bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) out += {kDigits[c >> 4], kDigits[c & 15]};
    return out;
}

template <class Bytes>
std::string Hex(const std::optional<Bytes>& bytes) {
    return bytes ? Hex(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size())) : "<none>";
}

// `hex` with its first `from` replaced by `to`; a row whose edit finds nothing stays valid
// and so fails its expectation.
std::string Edit(std::string hex, const std::string& from, const std::string& to) {
    size_t at = hex.find(from);
    return at == std::string::npos ? hex : hex.replace(at, from.size(), to);
}

TEST(Der, Base64) {
    struct Case {
        const wchar_t* text;
        const char* plain;  // nullptr: rejected
    } cases[] = {
        {L"", ""}, {L"Zg==", "f"}, {L"Zm8=", "fo"}, {L"Zm9v", "foo"}, {L"Zm9vYg==", "foob"},
        {L"Zm9vYmE=", "fooba"}, {L"Zm9vYmFy", "foobar"}, {L"+/+/", "\xfb\xff\xbf"},
        {L"Zm9", nullptr}, {L"Zg=", nullptr}, {L"Z===", nullptr}, {L"Zm=v", nullptr}, {L"Zg==Zm9v", nullptr},
        {L"Zm9-", nullptr}, {L"Zm9_", nullptr}, {L"Zh==", nullptr}, {L"Zm9=", nullptr}, {L"Zm9v\u00a0", nullptr},
        {L"\u015am9v", nullptr},  // its low byte is 'Z'
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeBase64(c.text), c.plain ? std::optional<std::string>(c.plain) : std::nullopt)
            << testing::PrintToString(c.text);
        if (c.plain) {
            EXPECT_EQ(Ascii(EncodeBase64(c.plain)), c.text);
        }
    }
    EXPECT_EQ(DecodeBase64(L" Zm9v\r\n\tYmFy\v\f"), "foobar");
}

TEST(Der, Sha256Hex) {
    std::wstring lower = Ascii(kDigest), upper = lower, mixed = lower;
    for (size_t i = 0; i < 64; ++i) upper[i] = towupper(upper[i]), mixed[i] = i % 2 ? upper[i] : lower[i];
    for (const auto& text : {lower, upper, mixed}) {
        EXPECT_EQ(Hex(ParseSha256Hex(text)), kDigest) << text;
        EXPECT_EQ(FormatSha256Hex(ParseSha256Hex(text).value()), lower);
    }
    for (const auto& text : {lower.substr(1), lower + L"0", L" " + lower.substr(1), L"0x" + lower.substr(2),
                             Ascii(Edit(kDigest, "39", "g9")), lower.substr(1) + L"\uff10", std::wstring()})
        EXPECT_FALSE(ParseSha256Hex(text)) << text;
}

TEST(Der, PublicKeyInfo) {
    const std::string pub = Hex(DecodeBase64(kPubA));
    EXPECT_EQ(Hex(P256PointFromSpki(Unhex(pub))), kPointA);
    EXPECT_EQ(Hex(SpkiFromP256Point(Unhex(kPointA))), pub);
    const std::pair<const char*, std::string> rejected[] = {  // name, hex
        {"other curve (prime239v1)", Edit(pub, "3d030107", "3d030104")},
        {"RSA key", "305c300d06092a864886f70d0101010500034b0030480241009b03121fcda38bcee02a97e5b1099dec86030c94d22daa"
                    "a06aa258d968fb36ddace7a7b767efeca987ebfd5523a7517cde564a5e3cc3267682a1d3ece51e48650203010001"},
        {"compressed point (ec -conv_form compressed)",
         "3039301306072a8648ce3d020106082a8648ce3d03010703220002d19591e67e2ea7d7bf4a7017e7af7d3140947d57d244ab6777bd16"
         "9f749b8e3a"},
        {"truncated", pub.substr(0, pub.size() - 2)},
        {"trailing byte", pub + "00"},
        {"unused bits in the BIT STRING", Edit(pub, "03420004", "03420104")},
        {"point marker", Edit(pub, "03420004", "03420005")},
        {"empty", ""},
    };
    for (const auto& [name, hex] : rejected) EXPECT_FALSE(P256PointFromSpki(Unhex(hex))) << name;
}

TEST(Der, Signatures) {
    const std::tuple<const char*, std::string, std::string> cases[] = {  // name, signature, raw ("": rejected)
        {"DER with a sign byte", kSigA, kR + kS},
        {"DER with a short s", kShortSigA, kShortRawA},
        {"raw passes through", kR + kS, kR + kS},
        {"truncated", kSigA.substr(0, kSigA.size() - 2), ""},
        {"trailing byte", kSigA + "00", ""},
        {"not a SEQUENCE", "31" + kSigA.substr(2), ""},
        {"long length form where short fits", "308145" + kSigA.substr(4), ""},
        {"33-byte r with a non-zero top byte", "3045022101" + kR + "0220" + kS, ""},
        {"negative r", "30440220" + kR + "0220" + kS, ""},
        {"needless zero byte", "3045022100" + kS + "0220" + kS, ""},
        {"zero r", "30250201000220" + kS, ""},
        {"s missing", "3023022100" + kR, ""},
        {"65 raw bytes", kR + kS + "00", ""},
    };
    for (const auto& [name, sig, raw] : cases) EXPECT_EQ(Hex(SignatureToRaw(Unhex(sig))), raw.empty() ? "<none>" : raw) << name;
    EXPECT_EQ(Hex(SignatureToDer(Unhex(kR + kS))), kSigA);
    EXPECT_EQ(Hex(SignatureToDer(Unhex(kShortRawA))), kShortSigA);
}

// Both ways of hashing — the SHA extensions where the processor has them, and CNG — give the
// same digests, fed whole or in uneven pieces that straddle block ends and the padding's edge.
TEST(Sha256, KnownDigestsBothWays) {
    std::string big(1 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i % 251);
    struct Case {
        std::string input, digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {kMessage, kDigest},
        // Python's hashlib over the same bytes.
        {big, "631b84027d6b9e52b539c4e8373622d23032dfadc64d60af87339c9037e4f769"},
    };
    for (bool cng : {false, true}) {
        for (const auto& c : cases) {
            Sha256 pieces(cng);
            const size_t sizes[] = {1, 63, 4096, 65537, 3};
            for (size_t at = 0, k = 0; at < c.input.size(); ++k) {
                const size_t n = std::min(sizes[k % 5], c.input.size() - at);
                ASSERT_TRUE(pieces.Update(c.input.data() + at, n));
                at += n;
            }
            EXPECT_EQ(Hex(pieces.Finish()), c.digest) << cng << " " << c.input.size();
            EXPECT_FALSE(pieces.Update("x", 1));
            EXPECT_FALSE(pieces.Finish());
        }
    }
    for (size_t size : {55, 56, 57, 63, 64, 65, 119, 120, 128}) {
        Sha256 own(false), system(true);
        own.Update(big.data(), size);
        system.Update(big.data(), size);
        EXPECT_EQ(Hex(own.Finish()), Hex(system.Finish())) << size;
    }
}

}  // namespace
