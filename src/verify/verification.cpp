#include "verify/verification.h"

#include <optional>

#include "verify/der.h"
#include "verify/signed_text.h"
#include "verify/verify.h"

namespace {

bool SignatureValid(const std::array<uint8_t, 32>& digest, const std::wstring& signatureBase64,
                    const std::wstring& publicKeyBase64) {
    const std::optional<std::string> key = DecodeBase64(publicKeyBase64);
    const std::optional<std::string> signature = DecodeBase64(signatureBase64);
    return key && signature && VerifyP256Signature(*key, digest, *signature);
}

}  // namespace

ArchiveVerdict CheckArchive(const std::array<uint8_t, 32>& digest, const std::wstring& expectedSha256,
                            const std::wstring& signatureBase64, const std::wstring& publicKeyBase64) {
    if (!expectedSha256.empty() && ParseSha256Hex(expectedSha256) != digest) return ArchiveVerdict::Corrupt;
    if (!publicKeyBase64.empty() && !SignatureValid(digest, signatureBase64, publicKeyBase64))
        return ArchiveVerdict::Unsigned;
    return ArchiveVerdict::Trusted;
}

bool ConfigSignedBy(const std::string& bytes, const std::wstring& publicKeyBase64) {
    const std::optional<SignedText> text = SplitSignedText(bytes);
    if (!text) return false;
    const std::optional<std::array<uint8_t, 32>> digest = Sha256Of(text->signedBytes);
    return digest && SignatureValid(*digest, std::wstring(text->signature.begin(), text->signature.end()),
                                    publicKeyBase64);
}

bool VersionIsPublished(const std::wstring& publicKeyBase64, const std::wstring& signedVersion,
                        const std::wstring& version) {
    return publicKeyBase64.empty() || (!signedVersion.empty() && signedVersion == version);
}

bool ManifestUsable(const std::string& bytes, const std::wstring& manifestSha256, const std::wstring& archiveSha256,
                    const std::wstring& publicKeyBase64) {
    const bool keyed = !publicKeyBase64.empty();
    if (keyed && (archiveSha256.empty() || !ConfigSignedBy(bytes, publicKeyBase64))) return false;
    if (!manifestSha256.empty()) {
        const std::optional<std::array<uint8_t, 32>> expected = ParseSha256Hex(manifestSha256);
        return expected && Sha256Of(bytes) == expected;
    }
    return keyed || archiveSha256.empty();
}
