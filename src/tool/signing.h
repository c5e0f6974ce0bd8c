// The publisher's commands: a key pair, the archive's release lines, a signed remote
// configuration. Each returns the process exit code (0 done, 1 failed) and says why on stderr.
#pragma once

#include <optional>
#include <string>

// The scalar is wiped from memory when the key goes (copies are wiped by their own end).
struct PrivateKey {
    std::string d;      // 32-byte scalar
    std::string point;  // 65-byte uncompressed public point
    PrivateKey() = default;
    PrivateKey(const PrivateKey&) = default;
    PrivateKey& operator=(const PrivateKey&) = default;
    ~PrivateKey();
};
// A P-256 private key file as keygen or openssl writes it: PEM or DER, PKCS#8 or SEC1 ("EC
// PRIVATE KEY"). Nothing when it is none of these or lacks the public point.
std::optional<PrivateKey> ParsePrivateKey(const std::string& fileBytes);

int Keygen(const std::wstring& keyPath);
int SignArchive(const std::wstring& archivePath, const std::wstring& keyPath);
int SignConfig(const std::wstring& configPath, const std::wstring& keyPath);
