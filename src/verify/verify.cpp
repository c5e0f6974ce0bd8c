#include "verify/verify.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <climits>
#include <string>

#include "verify/der.h"
#include "verify/sha256_blocks.h"

namespace {

// One algorithm provider per process: opening one costs far more than hashing a 64 KiB chunk.
// (The BCRYPT_*_ALG_HANDLE pseudo-handles would avoid this, but Windows 7 lacks them.)
class Provider {
public:
    explicit Provider(const wchar_t* algorithm) {
        if (BCryptOpenAlgorithmProvider(&handle_, algorithm, nullptr, 0) != 0) handle_ = nullptr;
    }
    ~Provider() {
        if (handle_) BCryptCloseAlgorithmProvider(handle_, 0);
    }
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;
    BCRYPT_ALG_HANDLE get() const { return handle_; }

private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
};

BCRYPT_ALG_HANDLE Sha256Algorithm() {
    static const Provider provider(BCRYPT_SHA256_ALGORITHM);
    return provider.get();
}

BCRYPT_ALG_HANDLE EcdsaP256Algorithm() {
    static const Provider provider(BCRYPT_ECDSA_P256_ALGORITHM);
    return provider.get();
}

struct KeyDeleter {
    void operator()(void* key) const { BCryptDestroyKey(key); }
};
using Key = std::unique_ptr<void, KeyDeleter>;

}  // namespace

void Sha256::HashDeleter::operator()(void* hash) const { BCryptDestroyHash(hash); }

Sha256::Sha256(bool useCng) {
    // Wine's CNG hashes at a fraction of what the SHA extensions do, slower than a fast
    // download arrives; where the processor has them, the blocks go to them instead.
    if (!useCng && Sha256BlocksAvailable()) {
        own_ = true;
        const uint32_t initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
        std::copy(initial, initial + 8, state_);
        return;
    }
    // No object buffer: CNG allocates the hash state itself.
    BCRYPT_HASH_HANDLE hash = nullptr;
    BCRYPT_ALG_HANDLE algorithm = Sha256Algorithm();
    if (algorithm && BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0) hash_.reset(hash);
}

bool Sha256::Update(const void* data, size_t size) {
    if (own_) {
        auto bytes = static_cast<const uint8_t*>(data);
        length_ += size;
        if (filled_ > 0) {
            const size_t take = std::min(size, sizeof(block_) - filled_);
            std::copy(bytes, bytes + take, block_ + filled_);
            filled_ += take;
            bytes += take;
            size -= take;
            if (filled_ < sizeof(block_)) return true;
            Sha256Blocks(state_, block_, 1);
            filled_ = 0;
        }
        Sha256Blocks(state_, bytes, size / 64);
        std::copy(bytes + size / 64 * 64, bytes + size, block_);
        filled_ = size % 64;
        return true;
    }
    if (!hash_) return false;
    auto bytes = static_cast<PUCHAR>(const_cast<void*>(data));
    while (size > 0) {
        ULONG chunk = size > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(size);
        if (BCryptHashData(hash_.get(), bytes, chunk, 0) != 0) {
            hash_.reset();
            return false;
        }
        bytes += chunk;
        size -= chunk;
    }
    return true;
}

std::optional<std::array<uint8_t, 32>> Sha256::Finish() {
    if (own_) {
        // Padding: 0x80, zeros up to 56 bytes into a block, then the length in bits, big-endian.
        own_ = false;  // finished: later calls fail like CNG's
        const uint64_t bits = length_ * 8;
        block_[filled_++] = 0x80;
        if (filled_ > 56) {
            std::fill(block_ + filled_, block_ + 64, 0);
            Sha256Blocks(state_, block_, 1);
            filled_ = 0;
        }
        std::fill(block_ + filled_, block_ + 56, 0);
        for (int i = 0; i < 8; ++i) block_[56 + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
        Sha256Blocks(state_, block_, 1);
        std::array<uint8_t, 32> digest{};
        for (int i = 0; i < 32; ++i) digest[i] = static_cast<uint8_t>(state_[i / 4] >> (24 - 8 * (i % 4)));
        return digest;
    }
    if (!hash_) return std::nullopt;
    std::array<uint8_t, 32> digest{};
    NTSTATUS status = BCryptFinishHash(hash_.get(), digest.data(), 32, 0);
    // A finished CNG hash may not be fed again; dropping it makes later calls fail plainly.
    hash_.reset();
    if (status != 0) return std::nullopt;
    return digest;
}

std::optional<std::array<uint8_t, 32>> Sha256Of(std::string_view bytes) {
    Sha256 hash;
    if (!hash.Update(bytes.data(), bytes.size())) return std::nullopt;
    return hash.Finish();
}

bool VerifyP256Signature(std::string_view spkiDer, const std::array<uint8_t, 32>& digest,
                         std::string_view signature) {
    auto point = P256PointFromSpki(spkiDer);
    auto raw = SignatureToRaw(signature);
    BCRYPT_ALG_HANDLE algorithm = EcdsaP256Algorithm();
    if (!point || !raw || !algorithm) return false;

    // BCRYPT_ECCPUBLIC_BLOB: the header, then X and Y without the 0x04 marker.
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::string blob(reinterpret_cast<const char*>(&header), sizeof(header));
    blob.append(*point, 1, 64);
    BCRYPT_KEY_HANDLE handle = nullptr;
    if (BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &handle, reinterpret_cast<PUCHAR>(&blob[0]),
                            static_cast<ULONG>(blob.size()), 0) != 0)
        return false;
    Key key(handle);
    std::array<uint8_t, 32> hash = digest;  // CNG takes non-const buffers
    return BCryptVerifySignature(key.get(), nullptr, hash.data(), 32, reinterpret_cast<PUCHAR>(&(*raw)[0]), 64, 0) == 0;
}
