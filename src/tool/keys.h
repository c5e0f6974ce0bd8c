// Key pairs and release signatures for the operator tool (ECDSA P-256 through Windows' CNG).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A fresh key pair: the 32-byte private scalar and the 65-byte uncompressed public point.
bool GenerateP256(std::string* d32, std::string* point65);

// The raw r||s signature of `digest`. The public point is required: Wine's CNG will not
// import a private key without it, and it lets the signature be checked before it is handed
// out, so a point that does not belong to `d32` gives nullopt instead of a useless release.
std::optional<std::string> SignDigestP256(std::string_view d32, std::string_view point65,
                                          const std::array<uint8_t, 32>& digest);
