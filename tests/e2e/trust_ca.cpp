// Test helper: trusts a test CA (DER file named on the command line) inside the current Wine
// prefix by adding it to the local machine's ROOT store. Earlier test CAs with the same subject
// are removed, so repeated runs do not pile up. Refuses to run outside Wine: it must never
// change the trust of a real Windows machine.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

struct StoreCloser {
    using pointer = HCERTSTORE;
    void operator()(HCERTSTORE s) const { CertCloseStore(s, 0); }
};
struct CertFreer {
    void operator()(PCCERT_CONTEXT c) const { CertFreeCertificateContext(c); }
};

bool UnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

std::string ReadFileBytes(const wchar_t* path) {
    std::string data;
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return data;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof(buf), &got, nullptr) && got) data.append(buf, got);
    CloseHandle(h);
    return data;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: trust_ca <ca.der>\n");
        return 2;
    }
    if (!UnderWine()) {
        std::fprintf(stderr, "trust_ca: refusing to run outside Wine\n");
        return 3;
    }
    const std::string der = ReadFileBytes(argv[1]);
    const auto* bytes = reinterpret_cast<const BYTE*>(der.data());
    std::unique_ptr<const CERT_CONTEXT, CertFreer> cert(
        CertCreateCertificateContext(X509_ASN_ENCODING, bytes, static_cast<DWORD>(der.size())));
    if (!cert) {
        std::fprintf(stderr, "trust_ca: not a DER certificate\n");
        return 1;
    }
    std::unique_ptr<void, StoreCloser> store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                                           CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT"));
    if (!store) {
        std::fprintf(stderr, "trust_ca: cannot open the ROOT store (%lu)\n", GetLastError());
        return 1;
    }
    // Earlier test CAs share the subject but not the key; the current one is left in place, since
    // deleting and re-adding it in one session would drop it at the commit.
    std::vector<PCCERT_CONTEXT> stale;
    PCCERT_CONTEXT found = nullptr;
    while ((found = CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME,
                                               &cert->pCertInfo->Subject, found))) {
        if (!CertCompareCertificate(X509_ASN_ENCODING, found->pCertInfo, cert->pCertInfo))
            stale.push_back(CertDuplicateCertificateContext(found));
    }
    for (PCCERT_CONTEXT old : stale) CertDeleteCertificateFromStore(old);  // frees `old`
    if (!CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, bytes, static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_USE_EXISTING, nullptr)) {
        std::fprintf(stderr, "trust_ca: adding failed (%lu)\n", GetLastError());
        return 1;
    }
    // Closing does not write the registry while any context still holds the store.
    if (!CertControlStore(store.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
        std::fprintf(stderr, "trust_ca: commit failed (%lu)\n", GetLastError());
        return 1;
    }
    return 0;
}
