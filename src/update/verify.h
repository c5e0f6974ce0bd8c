// SHA-256 and ECDSA P-256 signature checks for update archives, done by Windows' CNG.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

// Incremental SHA-256, cheap enough to feed every chunk of a download. After Finish, or once
// any step has failed, Update returns false and Finish nullopt.
struct Sha256 {
public:
    Sha256();
    bool Update(const void* data, size_t size);
    std::optional<std::array<uint8_t, 32>> Finish();

private:
    struct HashDeleter {
        void operator()(void* hash) const;
    };
    std::unique_ptr<void, HashDeleter> hash_;
};

std::optional<std::array<uint8_t, 32>> Sha256Of(std::string_view bytes);

// True only when `signature` (DER or raw r||s) is a valid ECDSA P-256 signature of `digest`
// under the key in `spkiDer` (a DER SubjectPublicKeyInfo). A malformed key or signature is
// simply false.
bool VerifyP256Signature(std::string_view spkiDer, const std::array<uint8_t, 32>& digest,
                         std::string_view signature);
