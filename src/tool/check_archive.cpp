// The archive step of the check: UpdateURL fetched as the launcher fetches it (one attempt),
// then its size, zip directory, layout, digest and signature.
#include <windows.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "app/state.h"
#include "net/drive.h"
#include "net/headers.h"
#include "net/resume.h"
#include "net/sources.h"
#include "patch/zip_file.h"
#include "patch/zip_format.h"
#include "tool/check.h"
#include "tool/hints.h"
#include "tool/oem_names.h"
#include "tool/requests.h"
#include "tool/zip_listing.h"
#include "verify/der.h"
#include "verify/verification.h"
#include "verify/verify.h"

namespace {

std::string Utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

void CheckLayout(Report& report, const std::wstring& name, const ZipListing& zip) {
    uint64_t unpacked = 0;
    std::vector<std::wstring> escaping;
    for (const ZipEntry& entry : zip.entries) {
        unpacked += entry.size;
        if (EscapesFolder(entry.name)) escaping.push_back(DecodeForDisplay(entry.name));
    }
    report(Mark::Ok, name + L": zip com " + std::to_wstring(zip.entries.size()) + L" entradas, " +
                         std::to_wstring(unpacked) + L" bytes descompactados" + (zip.end.zip64 ? L", zip64" : L""));
    if (!escaping.empty())
        report(Mark::Error, name + L": " + std::to_wstring(escaping.size()) + L" entrada(s) com caminho absoluto ou "
                                L"'..' (ex.: " + Quoted(escaping.front()) + L"): refaça o zip com caminhos relativos");

    if (const std::wstring misread = MisreadNamesWarning(MisreadNames(zip.entries)); !misread.empty())
        report(Mark::Warning, L"UpdateURL: " + misread);

    const std::optional<std::string> folder = ClientFolderInZip(zip.entries, Utf8(g_config.ClientExe));
    if (!folder)
        report(Mark::Error, name + L": ClientExe " + Quoted(g_config.ClientExe) +
                                L" não está no zip: inclua-o ou corrija ClientExe");
    else if (!folder->empty()) {
        std::wstring shown = DecodeForDisplay(folder->substr(0, folder->size() - 1));
        std::replace(shown.begin(), shown.end(), L'/', L'\\');
        report(Mark::Error, name + L": ClientExe está sob a pasta " + Quoted(shown) + L" do zip e iria para bin\\" +
                                shown + L"\\: coloque os arquivos na raiz do zip");
    }
    else
        report(Mark::Ok, name + L": ClientExe " + Quoted(g_config.ClientExe) + L" na raiz do zip");
}

void CheckDigestAndSignature(Report& report, const std::array<uint8_t, 32>& digest) {
    const std::wstring actual = FormatSha256Hex(digest);
    if (g_config.UpdateSHA256.empty())
        report(Mark::Warning, L"UpdateSHA256 não publicado: o launcher não confere o arquivo; gere-o com VelmoraTool sign");
    else if (!ParseSha256Hex(g_config.UpdateSHA256))
        report(Mark::Error, L"UpdateSHA256 malformado: publique UpdateSHA256=" + actual);
    else if (CheckArchive(digest, g_config.UpdateSHA256, L"", L"") != ArchiveVerdict::Trusted)
        report(Mark::Error, L"UpdateSHA256 não confere com o arquivo (o launcher o recusa): publique UpdateSHA256=" + actual);
    else
        report(Mark::Ok, L"UpdateSHA256 confere com o arquivo");

    if (g_config.UpdatePublicKey.empty()) {
        if (!g_config.UpdateSignature.empty())
            report(Mark::Warning, L"UpdateSignature publicada, mas o INI não tem UpdatePublicKey: a assinatura não é "
                                  L"verificada; cole UpdatePublicKey no INI");
        else
            report(Mark::Ok, L"Assinatura não exigida (o INI não tem UpdatePublicKey)");
    } else if (CheckArchive(digest, L"", g_config.UpdateSignature, g_config.UpdatePublicKey) == ArchiveVerdict::Trusted) {
        report(Mark::Ok, L"UpdateSignature confere com UpdatePublicKey");
    } else {
        report(Mark::Error, std::wstring(g_config.UpdateSignature.empty() ? L"UpdateSignature ausente"
                                                                          : L"UpdateSignature não confere com UpdatePublicKey") +
                                L" (o launcher recusa a atualização): assine o zip com VelmoraTool sign");
    }
}

}  // namespace

std::wstring SourceName(size_t index, size_t count) {
    if (count == 1) return L"UpdateURL";
    return L"UpdateURL (" + std::to_wstring(index + 1) + L" de " + std::to_wstring(count) + L")";
}

namespace {

// One address: what it serves, and the zip's layout, digest and signature for the `first` archive
// received; a later address's archive must be that one.
std::optional<ServedArchive> CheckSource(Report& report, const std::wstring& name, const std::wstring& url,
                                         const std::wstring& version, const std::optional<ServedArchive>& first) {
    const std::wstring archive = g_baseDir + L"\\update_temp.zip";
    Sha256 hash;
    ArchiveHooks hooks;
    hooks.restarting = [&hash]() { hash = Sha256(); };
    hooks.chunk = [&hash](const char* data, size_t size) { hash.Update(data, size); };
    bool quota = false;
    hooks.driveQuota = [&quota]() { quota = true; };
    // One attempt: a drop or a stall is what the operator needs to hear about, not to ride out.
    const bool downloaded = DownloadArchive(url, version, archive, hooks, ResumePolicy{0, 0, 30000});
    const std::vector<SeenRequest> seen = TakeRequests();
    ReportRequests(report, name, seen);
    // A followed confirmation form is the only way to a second request other than the user-content link.
    if (IsDriveUrl(url) && seen.size() > 1 && Refused(seen[0]) && seen[1].url != UserContentLink(ExtractDriveFileId(url)))
        report(Mark::Warning, name + L": o Google Drive pediu confirmação (arquivo grande); o launcher a segue, mas o "
                                     L"Drive limita downloads por dia: prefira um servidor web ou CDN");
    if (!downloaded) {
        report(Mark::Error, name + L": " + ExplainFailure(seen, false) + L" (o launcher mostra \"" +
                                (quota ? L"Limite de downloads do Google Drive atingido. Tente mais tarde."
                                       : L"Erro ao baixar. Verifique a URL/link.") +
                                L"\")");
        return std::nullopt;
    }
    const SeenRequest& last = seen.back();
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(archive.c_str(), GetFileExInfoStandard, &data);
    const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    report(Mark::Ok, name + L": recebido " + std::to_wstring(size) + L" bytes, " + std::to_wstring(last.status) + L", " +
                         (last.type.empty() ? L"sem Content-Type" : last.type));
    std::wstring missing;
    if (!OffersByteRanges(last.acceptRanges)) missing = L"Accept-Ranges: bytes";
    if (last.validator.empty()) missing += (missing.empty() ? L"" : L" nem ") + std::wstring(L"ETag/Last-Modified");
    if (missing.empty())
        report(Mark::Ok, name + L": retomada possível (Accept-Ranges e validador " + last.validator + L")");
    else
        report(Mark::Warning, name + L": o servidor não oferece " + missing +
                                  L", e uma queda recomeça do zero: ative-os no servidor");
    const std::optional<std::array<uint8_t, 32>> digest = hash.Finish();
    if (first) {
        if (digest && first->size == size && first->digest == *digest) {
            report(Mark::Ok, name + L": o mesmo arquivo da primeira fonte");
            return ServedArchive{url, size, *digest, last.validator};
        }
        report(Mark::Error, name + L": serve outro arquivo que a primeira fonte (" + std::to_wstring(size) +
                                L" bytes): publique o mesmo zip em todas as fontes");
        return std::nullopt;
    }
    if (size < kMinArchiveBytes) {
        report(Mark::Error, name + L": só " + std::to_wstring(size) + L" bytes (o launcher mostra \"Download inválido "
                                L"(arquivo muito pequeno).\"): confira o link");
        return std::nullopt;
    }
    const std::optional<ZipListing> zip = ListZip(archive);
    if (zip)
        CheckLayout(report, name, *zip);
    else
        report(Mark::Error, name + L": não é um zip legível (incompleto, ou .rar/.7z): publique um arquivo .zip");
    if (!digest) return std::nullopt;
    CheckDigestAndSignature(report, *digest);
    return ServedArchive{url, size, *digest, last.validator};
}

}  // namespace

std::optional<ServedArchive> CheckUpdateArchive(Report& report, const std::wstring& version) {
    // The launcher turns to the next address when one fails: each is walked as if it were the last.
    const std::vector<std::wstring> sources = SplitSources(g_config.UpdateURL);
    std::optional<ServedArchive> first;
    for (size_t i = 0; i < sources.size(); ++i) {
        const std::optional<ServedArchive> served =
            CheckSource(report, SourceName(i, sources.size()), sources[i], version, first);
        if (!first) first = served;
    }
    return first;
}
