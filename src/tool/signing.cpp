#include "tool/signing.h"

#include <windows.h>
#include <sddl.h>

#include <memory>
#include <vector>

#include "app/state.h"
#include "tool/keys.h"
#include "tool/report.h"
#include "verify/der.h"
#include "verify/signed_text.h"
#include "verify/verification.h"
#include "verify/verify.h"

namespace {

void Wipe(std::string& secret) {
    if (!secret.empty()) SecureZeroMemory(&secret[0], secret.size());
}

struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};
using LocalMemory = std::unique_ptr<void, LocalFreer>;

// A protected DACL with one entry: full control for the user running the tool. Nothing inherited
// from the folder, so nobody else on the machine may read the file.
LocalMemory OwnerOnlyDescriptor() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
    const FileHandle owned(token);
    std::vector<char> user(512);
    DWORD size = 0;
    wchar_t* sid = nullptr;
    if (!GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &size) ||
        !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid))
        return nullptr;
    const std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
    LocalFree(sid);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return nullptr;
    return LocalMemory(descriptor);
}

bool WriteNewFile(const std::wstring& path, const std::string& bytes, DWORD disposition,
                  void* descriptor = nullptr) {
    DWORD written = 0;
    {
        SECURITY_ATTRIBUTES security = {sizeof(security), descriptor, FALSE};
        FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, descriptor ? &security : nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        if (WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size())
            return true;
    }
    DeleteFileW(path.c_str());
    return false;
}

std::optional<PrivateKey> LoadKey(const std::wstring& keyPath) {
    std::string bytes = ReadFileBytes(keyPath);
    std::optional<PrivateKey> key = ParsePrivateKey(bytes);
    Wipe(bytes);
    if (!key) PrintError(L"Chave privada ilegível: " + keyPath + L" (use uma chave P-256 do keygen ou do openssl).");
    return key;
}

// The DER signature of `digest` in base64, as the launcher and openssl read it.
std::optional<std::string> SignatureBase64(const PrivateKey& key, const std::array<uint8_t, 32>& digest) {
    const std::optional<std::string> raw = SignDigestP256(key.d, key.point, digest);
    if (!raw) PrintError(L"Falha ao assinar: a chave pública não corresponde à privada.");
    return raw ? std::optional<std::string>(EncodeBase64(SignatureToDer(*raw))) : std::nullopt;
}

std::wstring Ascii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

PrivateKey::~PrivateKey() { Wipe(d); }

std::optional<PrivateKey> ParsePrivateKey(const std::string& fileBytes) {
    std::optional<std::string> der = fileBytes;
    if (fileBytes.find("-----BEGIN") != std::string::npos) {
        if (der) Wipe(*der);
        der = PemToDer(fileBytes, "PRIVATE KEY");
        if (!der) der = PemToDer(fileBytes, "EC PRIVATE KEY");
    }
    PrivateKey key;
    std::optional<std::string> d = der ? P256PrivateScalarFromDer(*der, &key.point) : std::nullopt;
    if (der) Wipe(*der);
    if (!d || key.point.empty()) {
        if (d) Wipe(*d);
        return std::nullopt;
    }
    key.d = *d;
    Wipe(*d);
    return key;
}

int Keygen(const std::wstring& keyPath) {
    PrivateKey key;
    if (!GenerateP256(&key.d, &key.point)) {
        PrintError(L"Falha ao gerar o par de chaves (CNG).");
        return 1;
    }
    std::string der = Pkcs8FromP256(key.d, key.point);
    std::string pem = DerToPem(der, "PRIVATE KEY");
    Wipe(der);
    Wipe(key.d);
    const LocalMemory ownerOnly = OwnerOnlyDescriptor();
    const bool written = ownerOnly && WriteNewFile(keyPath, pem, CREATE_NEW, ownerOnly.get());
    Wipe(pem);
    if (!written) {
        PrintError(!ownerOnly ? L"Não foi possível restringir a chave ao seu usuário; nada foi gravado."
                   : GetFileAttributesW(keyPath.c_str()) != INVALID_FILE_ATTRIBUTES
                       ? L"O arquivo já existe e não será sobrescrito: " + keyPath
                       : L"Não foi possível gravar a chave em " + keyPath);
        return 1;
    }
    PrintLine(L"UpdatePublicKey=" + Ascii(EncodeBase64(SpkiFromP256Point(key.point))));
    PrintError(L"Chave privada gravada em " + keyPath + L": guarde-a fora do servidor. Cole a linha acima no "
               L"launcher_config.ini.");
    return 0;
}

int SignArchive(const std::wstring& archivePath, const std::wstring& keyPath) {
    std::optional<PrivateKey> key = LoadKey(keyPath);
    if (!key) return 1;
    Sha256 hash;
    {
        FileHandle file(CreateFileW(archivePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file) {
            PrintError(L"Não foi possível abrir " + archivePath);
            return 1;
        }
        std::vector<char> buffer(1 << 20);
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
                // A signature of the part that could be read would be a valid release of a broken file.
                PrintError(MarkedLine(Mark::Error, L"Falha ao ler " + archivePath + L" (erro " +
                                                       std::to_wstring(GetLastError()) + L"): nada foi assinado."));
                return 1;
            }
            if (got == 0) break;
            hash.Update(buffer.data(), got);
        }
    }
    const std::optional<std::array<uint8_t, 32>> digest = hash.Finish();
    const std::optional<std::string> signature = digest ? SignatureBase64(*key, *digest) : std::nullopt;
    if (!signature) return 1;
    PrintLine(L"UpdateSHA256=" + FormatSha256Hex(*digest));
    PrintLine(L"UpdateSignature=" + Ascii(*signature));
    return 0;
}

int SignConfig(const std::wstring& configPath, const std::wstring& keyPath) {
    std::optional<PrivateKey> key = LoadKey(keyPath);
    if (!key) return 1;
    const std::string original = ReadFileBytes(configPath);
    if (original.empty()) {
        PrintError(L"Configuração vazia ou ilegível: " + configPath);
        return 1;
    }
    // What is signed is exactly what will precede the new signature line.
    const std::string body = SplitSignedText(WithSignatureLine(original, ""))->signedBytes;
    const std::optional<std::array<uint8_t, 32>> digest = Sha256Of(body);
    const std::optional<std::string> signature = digest ? SignatureBase64(*key, *digest) : std::nullopt;
    if (!signature) return 1;
    const std::string signedText = WithSignatureLine(original, *signature);
    const std::wstring publicKey = Ascii(EncodeBase64(SpkiFromP256Point(key->point)));
    const std::wstring staging = configPath + L".assinando";
    if (!ConfigSignedBy(signedText, publicKey) || !WriteNewFile(staging, signedText, CREATE_ALWAYS) ||
        !MoveFileExW(staging.c_str(), configPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(staging.c_str());
        PrintError(L"Não foi possível gravar a configuração assinada em " + configPath);
        return 1;
    }
    PrintError(L"Configuração assinada: " + configPath + L" (publique-a exatamente como está)");
    return 0;
}
