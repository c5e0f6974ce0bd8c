// Text and DER forms of the update keys, digests and signatures (ECDSA P-256 / SHA-256).
// Pure byte work: no system calls, so every rule here is checked by plain unit tests.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Standard base64 with the usual "=" padding; ASCII whitespace anywhere is ignored (keys are
// pasted from PEM files and line-wrapped). Anything else, including padding bits that are not
// zero, gives nullopt.
std::optional<std::string> DecodeBase64(std::wstring_view text);
std::string EncodeBase64(std::string_view bytes);

// Exactly 64 hex digits in either case, nothing around them.
std::optional<std::array<uint8_t, 32>> ParseSha256Hex(std::wstring_view text);
// The 64 lower-case hex digits of a digest, as sha256sum prints them.
std::wstring FormatSha256Hex(const std::array<uint8_t, 32>& digest);

// The uncompressed point 0x04||X||Y (65 bytes) of a DER SubjectPublicKeyInfo for id-ecPublicKey
// on the named curve prime256v1; nullopt for any other key or any deviation from DER.
std::optional<std::string> P256PointFromSpki(std::string_view der);
// The SubjectPublicKeyInfo for a 65-byte uncompressed point; empty for anything else.
std::string SpkiFromP256Point(std::string_view point65);

// r||s, 32 bytes each, from a signature that is either already 64 raw bytes or a strict DER
// SEQUENCE { INTEGER r, INTEGER s } with positive values of at most 32 significant bytes.
std::optional<std::string> SignatureToRaw(std::string_view sig);
// The DER form of a 64-byte r||s (as openssl writes it); empty for any other length.
std::string SignatureToDer(std::string_view raw64);

// The 32-byte private scalar from a PKCS#8 PrivateKeyInfo or a SEC1 ECPrivateKey for P-256.
// When the key carries its public point and `point65` is given, the point is stored there
// (otherwise it is cleared).
std::optional<std::string> P256PrivateScalarFromDer(std::string_view der, std::string* point65 = nullptr);
// PKCS#8 PrivateKeyInfo laid out as `openssl genpkey` writes it; empty for bad sizes.
std::string Pkcs8FromP256(std::string_view d32, std::string_view point65);

// The DER inside the first "-----BEGIN <label>-----" block of a PEM text (other blocks, such
// as the EC PARAMETERS openssl puts before an EC PRIVATE KEY, are skipped).
std::optional<std::string> PemToDer(std::string_view pem, std::string_view label);
// A PEM block with 64-character lines, as openssl writes it.
std::string DerToPem(std::string_view der, std::string_view label);
