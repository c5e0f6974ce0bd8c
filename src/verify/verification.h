// Whether what arrived from the network is what the publisher released.
#pragma once

#include <array>
#include <cstdint>
#include <string>

enum class ArchiveVerdict {
    Trusted,   // nothing was required, or everything required checked out
    Corrupt,   // the digest differs from the published UpdateSHA256 (or that value is malformed)
    Unsigned,  // a publisher key is set and the signature is missing, wrong or unreadable
};

// The verdict on an archive whose SHA-256 is `digest`. An empty `expectedSha256` requires no
// digest; an empty `publicKeyBase64` no signature. A malformed key fails closed.
ArchiveVerdict CheckArchive(const std::array<uint8_t, 32>& digest, const std::wstring& expectedSha256,
                            const std::wstring& signatureBase64, const std::wstring& publicKeyBase64);

// True when the remote configuration `bytes`, exactly as received, ends with a ";sig=" line
// that the key signed over every byte before that line.
bool ConfigSignedBy(const std::string& bytes, const std::wstring& publicKeyBase64);

// True when no key is set, or the signed configuration's UpdateVersion is exactly `version`:
// under a key an archive is installed only as the version its signed configuration names.
bool VersionIsPublished(const std::wstring& publicKeyBase64, const std::wstring& signedVersion,
                        const std::wstring& version);

// Whether a fetched patch manifest, `bytes` as received, may decide what is fetched. Under a key
// it must be signed and the signed configuration must publish the archive's digest. A published
// `manifestSha256` must be its digest. Without a key a published archive digest is worth only
// what the manifest is: an unsigned manifest whose digest is not published would let whoever
// serves it name any content, so the full download, which the archive digest covers, is taken.
bool ManifestUsable(const std::string& bytes, const std::wstring& manifestSha256, const std::wstring& archiveSha256,
                    const std::wstring& publicKeyBase64);
