// Test helper: trusts a test CA (the DER file named on the command line) in the current Wine
// prefix's local-machine ROOT store, removing earlier test CAs with the same subject so repeated
// runs do not pile up. Refuses to run outside Wine: it must never change a real machine's trust.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

static int Fail(const char* what) {
    std::fprintf(stderr, "trust_ca: %s (%lu)\n", what, GetLastError());
    return 1;
}

int wmain(int argc, wchar_t** argv) {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (argc != 2 || !ntdll || !GetProcAddress(ntdll, "wine_get_version")) {
        std::fprintf(stderr, "usage, under Wine only: trust_ca <ca.der>\n");
        return 2;
    }
    PCCERT_CONTEXT cert = nullptr;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, argv[1], CERT_QUERY_CONTENT_FLAG_CERT, CERT_QUERY_FORMAT_FLAG_BINARY,
                          0, nullptr, nullptr, nullptr, nullptr, nullptr, reinterpret_cast<const void**>(&cert)))
        return Fail("not a DER certificate");
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
    if (!store) return Fail("cannot open the ROOT store");
    // Earlier test CAs share the subject but not the key. The current one stays in place: deleting
    // and re-adding it in one session would drop it at the commit.
    std::vector<PCCERT_CONTEXT> stale;
    for (PCCERT_CONTEXT c = nullptr; (c = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME,
                                                                     &cert->pCertInfo->Subject, c));)
        if (!CertCompareCertificate(X509_ASN_ENCODING, c->pCertInfo, cert->pCertInfo))
            stale.push_back(CertDuplicateCertificateContext(c));
    for (PCCERT_CONTEXT old : stale) CertDeleteCertificateFromStore(old);  // frees `old`
    if (!CertAddCertificateContextToStore(store, cert, CERT_STORE_ADD_USE_EXISTING, nullptr))
        return Fail("adding failed");
    // Closing does not write the registry while any context still holds the store.
    if (!CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr)) return Fail("commit failed");
    return 0;
}
