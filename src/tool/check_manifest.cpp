// The patch manifest step of the check: UpdateManifest fetched as the launcher fetches it, its
// signature, whether it describes the archive UpdateURL serves, and whether that server
// answers the single-range requests a patch is made of.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "app/state.h"
#include "net/drive.h"
#include "net/headers.h"
#include "net/remote_text.h"
#include "net/request.h"
#include "net/sources.h"
#include "patch/manifest.h"
#include "tool/check.h"
#include "tool/hints.h"
#include "tool/requests.h"
#include "update/remote_config.h"
#include "verify/der.h"
#include "verify/signed_text.h"
#include "verify/verification.h"
#include "verify/verify.h"

namespace {

// Entries re-hashed through ranges: a few, and none so large that the check downloads it again.
const size_t kSampleEntries = 3;
const uint64_t kSampleLimit = uint64_t{64} << 20;

std::optional<std::string> FetchManifest(Report& report, const std::wstring& url) {
    // As the launcher reads it: its size limit, and the deadline of its other remote texts.
    std::optional<std::string> bytes = FetchRemoteBytes(url, kManifestBytes);
    const std::vector<SeenRequest> seen = TakeRequests();
    ReportRequests(report, L"UpdateManifest", seen);
    if (!bytes)
        report(Mark::Error, L"UpdateManifest: " + ExplainFailure(seen, false) + L" (o launcher baixa o arquivo inteiro)");
    return bytes;
}

void CheckSignature(Report& report, const std::string& bytes) {
    const std::wstring digest = FormatSha256Hex(Sha256Of(bytes).value_or(std::array<uint8_t, 32>{}));
    if (!g_config.UpdateManifestSHA256.empty()) {
        if (ManifestUsable(bytes, g_config.UpdateManifestSHA256, L"", L""))
            report(Mark::Ok, L"UpdateManifest: SHA-256 confere com UpdateManifestSHA256");
        else
            report(Mark::Error, L"UpdateManifest: SHA-256 " + digest + L" não confere com UpdateManifestSHA256 (o launcher "
                                L"o ignora e baixa o arquivo inteiro): publique UpdateManifestSHA256=" + digest);
    } else if (g_config.UpdatePublicKey.empty() && !g_config.UpdateSHA256.empty()) {
        report(Mark::Error, L"UpdateManifest: sem UpdatePublicKey, com UpdateSHA256 e sem UpdateManifestSHA256 (o launcher "
                            L"o ignora e baixa o arquivo inteiro): publique UpdateManifestSHA256=" + digest);
    }
    const bool isSigned = SplitSignedText(bytes).has_value();
    if (g_config.UpdatePublicKey.empty()) {
        if (isSigned) report(Mark::Ok, L"UpdateManifest: assinado (não verificado: o INI não tem UpdatePublicKey)");
    } else if (ConfigSignedBy(bytes, g_config.UpdatePublicKey)) {
        report(Mark::Ok, L"UpdateManifest: assinado, assinatura confere com UpdatePublicKey");
    } else {
        report(Mark::Error, std::wstring(L"UpdateManifest: ") +
                                (isSigned ? L"assinatura não confere com UpdatePublicKey" : L"não assinado") +
                                L" (o launcher o ignora e baixa o arquivo inteiro): assine-o com VelmoraTool sign-config");
    }
}

// Up to kSampleEntries entries spread over the archive, small enough to fetch again.
std::vector<const ManifestEntry*> Samples(const std::vector<ManifestEntry>& entries) {
    std::vector<const ManifestEntry*> small;
    for (const ManifestEntry& entry : entries)
        if (entry.rawLength <= kSampleLimit) small.push_back(&entry);
    std::vector<const ManifestEntry*> picked;
    for (size_t i = 0; i < kSampleEntries && i < small.size(); ++i) {
        const size_t at = small.size() == 1 ? 0 : i * (small.size() - 1) / std::min(kSampleEntries - 1, small.size() - 1);
        if (picked.empty() || picked.back() != small[at]) picked.push_back(small[at]);
    }
    return picked;
}

struct RangeAnswer {
    bool answered = false;
    DWORD status = 0;
    std::wstring contentRange;
    bool exact = false;  // a 206 for exactly the bytes asked, all of them received
    std::optional<std::array<uint8_t, 32>> digest;
};

// One single-range request, as a patch sends it: `If-Range` with the archive's validator.
RangeAnswer FetchRange(const std::wstring& url, uint64_t first, uint64_t length, uint64_t total,
                       const std::wstring& validator) {
    RangeAnswer answer;
    const uint64_t last = first + length - 1;
    std::wstring headers = L"Range: bytes=" + std::to_wstring(first) + L"-" + std::to_wstring(last) + L"\r\n";
    if (!validator.empty()) headers += L"If-Range: " + validator + L"\r\n";
    InternetHandle session = OpenSession();
    const Response response = session ? OpenUrl(session.get(), url, {15000, 15000, 15000}, headers) : Response();
    if (!response) return answer;
    answer.answered = true;
    answer.status = QueryStatus(response.get());
    answer.contentRange = QueryHeader(response.get(), HTTP_QUERY_CONTENT_RANGE);
    const std::optional<ContentRange> range = ParseContentRange(answer.contentRange);
    if (answer.status != 206 || !range || range->first != first || range->last != last || range->total != total)
        return answer;
    // The body is read only for the asked range, in pieces: an entry may be large.
    Sha256 hash;
    std::vector<char> piece(64 << 10);
    uint64_t received = 0;
    DWORD got = 0;
    while (received <= length && InternetReadFile(response.get(), piece.data(), static_cast<DWORD>(piece.size()), &got) &&
           got > 0) {
        hash.Update(piece.data(), got);
        received += got;
    }
    answer.exact = received == length;
    answer.digest = hash.Finish();
    return answer;
}

// One address a patch may take ranges from. With no entries to re-hash, one byte is asked for, to see
// whether ranges are served at all.
void CheckRangesOf(Report& report, const std::wstring& name, const std::wstring& url,
                   const std::vector<ManifestEntry>& entries, const ServedArchive& served) {
    // If-Range carries what this address said of the whole; another one's validator would not match,
    // and a patch never sends a weak ETag.
    const std::wstring validator = url == served.url ? RangeValidator(served.validator, L"") : std::wstring();
    std::vector<const ManifestEntry*> samples = Samples(entries);
    const ManifestEntry probe{"", false, 0, {}, 0, 1, {}, 0, 0};
    const bool onlyProbe = samples.empty();
    if (onlyProbe) samples.push_back(&probe);
    for (const ManifestEntry* entry : samples) {
        const RangeAnswer answer = FetchRange(url, entry->offset, entry->rawLength, served.size, validator);
        const std::vector<SeenRequest> seen = TakeRequests();
        const std::wstring asked = L"bytes " + std::to_wstring(entry->offset) + L"-" +
                                   std::to_wstring(entry->offset + entry->rawLength - 1);
        if (!answer.answered || answer.status != 206 || !answer.exact) {
            const std::wstring got = !answer.answered        ? L"sem resposta"
                                     : answer.status != 206 ? L"HTTP " + std::to_wstring(answer.status)
                                                            : L"206 com Content-Range " + Quoted(answer.contentRange) +
                                                                  L" ou corpo de outro tamanho";
            std::wstring line = name;
            line += L": pedido de Range (" + asked + L") respondido com ";
            line += got;
            line += L": os patches viram download completo; ative Range no servidor";
            if (!seen.empty()) line += L" (" + DescribeRequest(seen.back()) + L")";
            report(Mark::Warning, line);
            return;
        }
        if (!onlyProbe && answer.digest != entry->rawSha256) {
            report(Mark::Error, L"UpdateManifest: a entrada " + Quoted(DecodeText(entry->path)) + L" (" + asked +
                                    L") difere no servidor: publique o zip e o manifesto da mesma versão");
            return;
        }
    }
    report(Mark::Ok, name + L": Range atendido com 206" +
                         (onlyProbe ? std::wstring()
                                    : L"; " + std::to_wstring(samples.size()) + L" entrada(s) conferida(s) pelos bytes"));
}

void CheckRanges(Report& report, const std::vector<ManifestEntry>& entries, const ServedArchive& served) {
    const std::vector<std::wstring> sources = SplitSources(g_config.UpdateURL);
    bool any = false;
    for (size_t i = 0; i < sources.size(); ++i) {
        if (IsDriveUrl(sources[i])) continue;
        CheckRangesOf(report, SourceName(i, sources.size()), sources[i], entries, served);
        any = true;
    }
    if (!any)
        report(Mark::Warning, L"UpdateURL é um link do Google Drive, sem Range utilizável: o launcher sempre baixa o "
                              L"arquivo inteiro; hospede o zip num servidor web ou CDN para ter patches");
}

}  // namespace

void CheckPatchManifest(Report& report, const std::wstring& url, const std::optional<ServedArchive>& served) {
    if (!IsWebUrl(url)) {
        report(Mark::Error, L"UpdateManifest " + Quoted(url) + L" não começa com http:// ou https://: corrija o endereço");
        return;
    }
    const std::optional<std::string> bytes = FetchManifest(report, url);
    if (!bytes) return;
    CheckSignature(report, *bytes);
    const std::optional<Manifest> manifest = ParseManifest(*bytes);
    if (!manifest) {
        report(Mark::Error, L"UpdateManifest: ilegível (não é um manifesto, ou foi editado): gere-o de novo com "
                            L"VelmoraTool manifest");
        return;
    }
    const auto chunked = std::count_if(manifest->entries.begin(), manifest->entries.end(),
                                       [](const ManifestEntry& e) { return !e.chunks.empty(); });
    report(Mark::Ok, L"UpdateManifest: " + std::to_wstring(manifest->entries.size()) + L" entrada(s), " +
                         std::to_wstring(chunked) + L" em trechos, arquivo de " + std::to_wstring(manifest->archiveSize) +
                         L" bytes");
    const std::wstring digest = FormatSha256Hex(manifest->archiveSha256);
    if (!served) {
        // Nothing received to compare with: what the launcher compares under a key is UpdateSHA256.
        const std::optional<std::array<uint8_t, 32>> published = ParseSha256Hex(g_config.UpdateSHA256);
        if (published && *published != manifest->archiveSha256)
            report(Mark::Error, L"UpdateManifest: descreve o arquivo de SHA-256 " + digest +
                                    L", não o de UpdateSHA256 (o launcher o ignora): gere-o do zip publicado");
        return;
    }
    if (served->size != manifest->archiveSize || served->digest != manifest->archiveSha256) {
        report(Mark::Error, L"UpdateManifest: descreve outro arquivo (" + std::to_wstring(manifest->archiveSize) +
                                L" bytes, SHA-256 " + digest + L"), não o que UpdateURL serve (" +
                                std::to_wstring(served->size) + L" bytes; o launcher o ignora): gere-o de novo a "
                                L"partir do zip publicado");
        CheckRanges(report, {}, *served);
        return;
    }
    report(Mark::Ok, L"UpdateManifest: descreve o arquivo que UpdateURL serve (tamanho e SHA-256 conferem)");
    CheckRanges(report, manifest->entries, *served);
}
