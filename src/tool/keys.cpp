#include "tool/keys.h"

#include <windows.h>

#include <bcrypt.h>

#include <memory>

#include "verify/der.h"
#include "verify/verify.h"

namespace {

struct ProviderDeleter {
    void operator()(void* provider) const { BCryptCloseAlgorithmProvider(provider, 0); }
};
struct KeyDeleter {
    void operator()(void* key) const { BCryptDestroyKey(key); }
};
using Provider = std::unique_ptr<void, ProviderDeleter>;
using Key = std::unique_ptr<void, KeyDeleter>;

// The tool signs once per run, so each call opens its own provider.
Provider OpenEcdsaP256() {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (BCryptOpenAlgorithmProvider(&handle, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != 0) return nullptr;
    return Provider(handle);
}

// BCRYPT_ECCPRIVATE_BLOB: header, X, Y, d.
constexpr ULONG kPrivateBlobSize = sizeof(BCRYPT_ECCKEY_BLOB) + size_t{3} * 32;

}  // namespace

bool GenerateP256(std::string* d32, std::string* point65) {
    Provider provider = OpenEcdsaP256();
    BCRYPT_KEY_HANDLE handle = nullptr;
    if (!provider || BCryptGenerateKeyPair(provider.get(), &handle, 256, 0) != 0) return false;
    Key key(handle);
    UCHAR blob[kPrivateBlobSize];
    ULONG size = 0;
    if (BCryptFinalizeKeyPair(key.get(), 0) != 0 ||
        BCryptExportKey(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob, sizeof(blob), &size, 0) != 0 ||
        size != kPrivateBlobSize)
        return false;
    const char* bytes = reinterpret_cast<const char*>(blob) + sizeof(BCRYPT_ECCKEY_BLOB);
    *point65 = std::string(1, '\x04') + std::string(bytes, 64);
    d32->assign(bytes + 64, 32);
    SecureZeroMemory(blob, sizeof(blob));
    return true;
}

std::optional<std::string> SignDigestP256(std::string_view d32, std::string_view point65,
                                          const std::array<uint8_t, 32>& digest) {
    std::string spki = SpkiFromP256Point(point65);
    Provider provider = OpenEcdsaP256();
    if (d32.size() != 32 || spki.empty() || !provider) return std::nullopt;

    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32};
    std::string blob(reinterpret_cast<const char*>(&header), sizeof(header));
    blob.append(point65.substr(1));
    blob.append(d32);
    BCRYPT_KEY_HANDLE handle = nullptr;
    NTSTATUS status = BCryptImportKeyPair(provider.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, &handle,
                                          reinterpret_cast<PUCHAR>(&blob[0]), static_cast<ULONG>(blob.size()), 0);
    SecureZeroMemory(&blob[0], blob.size());
    if (status != 0) return std::nullopt;
    Key key(handle);

    std::array<uint8_t, 32> hash = digest;  // CNG takes non-const buffers
    std::string raw(64, '\0');
    ULONG size = 0;
    if (BCryptSignHash(key.get(), nullptr, hash.data(), 32, reinterpret_cast<PUCHAR>(&raw[0]), 64, &size, 0) != 0 ||
        size != 64)
        return std::nullopt;
    // Wine's CNG imports a point that does not belong to d and signs with d all the same; such a
    // signature would fail in every launcher, so it is never handed out.
    if (!VerifyP256Signature(spki, digest, raw)) return std::nullopt;
    return raw;
}
