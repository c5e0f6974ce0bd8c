// SHA-256 and ECDSA P-256 signature checks for update archives, done by Windows' CNG (SHA-256
// on the processor's SHA extensions where it has them).
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
    // `useCng` forces the system's implementation even where the SHA extensions are there.
    explicit Sha256(bool useCng = false);
    bool Update(const void* data, size_t size);
    std::optional<std::array<uint8_t, 32>> Finish();

private:
    struct HashDeleter {
        void operator()(void* hash) const;
    };
    std::unique_ptr<void, HashDeleter> hash_;  // CNG's state, when CNG hashes
    // Our own state, when the SHA extensions hash: a partial block waits in `block_`.
    bool own_ = false;
    uint32_t state_[8] = {};
    uint8_t block_[64] = {};
    size_t filled_ = 0;
    uint64_t length_ = 0;
};

std::optional<std::array<uint8_t, 32>> Sha256Of(std::string_view bytes);

// True only when `signature` (DER or raw r||s) is a valid ECDSA P-256 signature of `digest`
// under the key in `spkiDer` (a DER SubjectPublicKeyInfo). A malformed key or signature is
// simply false.
bool VerifyP256Signature(std::string_view spkiDer, const std::array<uint8_t, 32>& digest,
                         std::string_view signature);
