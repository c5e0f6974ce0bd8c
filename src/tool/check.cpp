#include "tool/check.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "app/build.h"
#include "app/state.h"
#include "app/text.h"
#include "net/remote_text.h"
#include "net/sources.h"
#include "tool/hints.h"
#include "tool/requests.h"
#include "update/remote_config.h"
#include "verify/der.h"
#include "verify/signed_text.h"
#include "verify/verification.h"

namespace {

const std::vector<std::wstring> kIniKeys = {L"ServerName", L"ConfigURL", L"VersionURL",      L"UpdateURL",
                                            L"ClientExe",  L"SiteURL",   L"UpdatePublicKey", L"MaxDownloadKBps"};
const std::vector<std::wstring> kRemoteKeys = {
    L"ServerName",   L"VersionURL",      L"UpdateURL",     L"ClientExe",      L"SiteUrl",
    L"MinLauncherBuild", L"UpdateSHA256", L"UpdateSignature", L"UpdateVersion", L"UpdateManifest",
    L"UpdateManifestSHA256",
    L"LauncherURL",  L"LauncherSHA256",  L"LauncherSignature"};

// The remote configuration's UpdateManifest, when it applies.
std::wstring g_manifestUrl;

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
    return text;
}

std::wstring Joined(const std::vector<std::wstring>& items) {
    std::wstring out;
    for (const std::wstring& item : items) out += (out.empty() ? L"" : L", ") + item;
    return out.empty() ? L"nenhuma" : out;
}

std::wstring WithoutInvisible(std::wstring text) {
    text.erase(std::remove_if(text.begin(), text.end(), IsInvisible), text.end());
    return text;
}

// A folder under %TEMP% that takes the downloads and goes away with everything in it.
struct ScratchFolder {
    std::wstring path;
    ScratchFolder() {
        wchar_t base[MAX_PATH + 1] = {};
        if (!GetTempPathW(MAX_PATH + 1, base)) return;
        const std::wstring candidate = std::wstring(base) + L"VelmoraTool-" + std::to_wstring(GetCurrentProcessId()) +
                                       L"-" + std::to_wstring(GetTickCount64());
        if (CreateDirectoryW(candidate.c_str(), nullptr)) path = candidate;
    }
    ~ScratchFolder() {
        if (path.empty()) return;
        struct FindCloser {
            using pointer = HANDLE;
            void operator()(HANDLE h) const { FindClose(h); }
        };
        WIN32_FIND_DATAW found;
        {
            HANDLE first = FindFirstFileW((path + L"\\*").c_str(), &found);
            std::unique_ptr<HANDLE, FindCloser> search(first == INVALID_HANDLE_VALUE ? nullptr : first);
            for (bool more = search != nullptr; more; more = FindNextFileW(search.get(), &found))
                DeleteFileW((path + L"\\" + found.cFileName).c_str());
        }
        RemoveDirectoryW(path.c_str());
    }
};

// The INI's text as the launcher reads it: UTF-16 (which the profile API reads) decoded here,
// anything else through DecodeText (key names are ASCII, so an ANSI file reads the same).
std::wstring IniText(const std::string& bytes) {
    if (bytes.compare(0, 2, "\xFF\xFE") != 0) return DecodeText(bytes);
    std::wstring text((bytes.size() - 2) / 2, L'\0');
    std::memcpy(&text[0], bytes.data() + 2, text.size() * sizeof(wchar_t));
    return text;
}

void ReportUnknownKey(Report& report, const std::wstring& where, const std::wstring& key,
                      const std::vector<std::wstring>& known) {
    if (const std::optional<std::wstring> closest = ClosestKey(key, known))
        report(Mark::Error, where + L": chave desconhecida " + Quoted(key) + L" (ignorada): escreva " + Quoted(*closest));
    else
        report(Mark::Warning, where + L": chave desconhecida " + Quoted(key) + L" (ignorada): remova-a ou corrija o nome");
}

bool CheckUrlForm(Report& report, const std::wstring& name, const std::wstring& url) {
    if (IsWebUrl(url)) return true;
    report(Mark::Error, name + L" " + Quoted(url) + L" não começa com http:// ou https://: corrija o endereço");
    return false;
}

// Every address of UpdateURL, each reported.
bool CheckSourceForms(Report& report) {
    const std::vector<std::wstring> sources = SplitSources(g_config.UpdateURL);
    bool good = true;
    for (size_t i = 0; i < sources.size(); ++i)
        good = CheckUrlForm(report, SourceName(i, sources.size()), sources[i]) && good;
    return good;
}

// launcher_config.ini exactly as the profile API reads it. False when there is none.
bool CheckIni(Report& report) {
    const std::wstring ini = g_baseDir + L"\\launcher_config.ini";
    if (GetFileAttributesW(ini.c_str()) == INVALID_FILE_ATTRIBUTES) {
        report(Mark::Error, L"INI: launcher_config.ini não encontrado em " + g_baseDir +
                                L": crie-o com a seção [Launcher] ao lado do launcher");
        return false;
    }
    const std::optional<std::vector<IniEntry>> names = IniSection(IniText(ReadFileBytes(ini)), L"Launcher");
    if (!names) {
        report(Mark::Error, L"INI: seção [Launcher] não encontrada: coloque as chaves sob uma linha [Launcher]");
        return true;
    }
    std::vector<std::wstring> found;
    for (const IniEntry& name : *names) {
        const auto known = std::find_if(kIniKeys.begin(), kIniKeys.end(),
                                        [&](const std::wstring& k) { return Lower(k) == Lower(name.key); });
        if (known == kIniKeys.end())
            ReportUnknownKey(report, L"INI", name.key, kIniKeys);
        else if (!name.hasValue)
            report(Mark::Error, L"INI: " + Quoted(name.key) + L" sem \"=\" (ignorada): escreva " + *known + L"=<valor>");
        else
            found.push_back(*known);
    }
    report(Mark::Ok, L"INI: chaves: " + Joined(found));
    if (!g_config.ConfigURL.empty()) CheckUrlForm(report, L"INI: ConfigURL", g_config.ConfigURL);
    if (!g_config.UpdatePublicKey.empty()) {
        const std::optional<std::string> spki = DecodeBase64(g_config.UpdatePublicKey);
        if (spki && P256PointFromSpki(*spki))
            report(Mark::Ok, L"INI: UpdatePublicKey é uma chave P-256 válida: atualizações e configuração remota "
                             L"precisam de assinatura");
        else
            report(Mark::Error, L"INI: UpdatePublicKey ilegível (o launcher recusará toda atualização): cole a linha "
                                L"que VelmoraTool keygen imprimiu");
    }
    return true;
}

// version.txt; returns how it reads when shown.
std::wstring CheckLocalVersion(Report& report) {
    const std::wstring path = g_baseDir + L"\\version.txt";
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        report(Mark::Warning, L"version.txt ausente: o launcher assume 0.0.0 e baixa o cliente no primeiro início");
        return g_localVersion;
    }
    std::wstring shown = Trim(DecodeForDisplay(ReadFileBytes(path)));
    if (std::any_of(shown.begin(), shown.end(), IsInvisible))
        report(Mark::Warning, L"version.txt: " + Quoted(shown) + L" tem caracteres invisíveis: salve só a versão, sem BOM");
    else
        report(Mark::Ok, L"version.txt: versão instalada " + Quoted(shown));
    return shown;
}

void CheckRemoteEntries(Report& report, const std::vector<RemoteEntry>& entries) {
    std::vector<std::wstring> found;
    for (const RemoteEntry& entry : entries) {
        if (!entry.inLauncher) {
            report(Mark::Warning, L"ConfigURL: " + Quoted(entry.key) + L" fora de [Launcher] (ignorada): mova-a para [Launcher]");
        } else if (std::find(kRemoteKeys.begin(), kRemoteKeys.end(), entry.key) == kRemoteKeys.end()) {
            ReportUnknownKey(report, L"ConfigURL", entry.key, kRemoteKeys);
        } else if (entry.value.empty()) {
            report(Mark::Warning, L"ConfigURL: " + Quoted(entry.key) + L" sem valor (ignorada): preencha-a ou remova-a");
        } else {
            found.push_back(entry.key);
        }
    }
    report(Mark::Ok, L"ConfigURL: chaves: " + Joined(found));
}

// The remote configuration, applied to g_config when the launcher would apply it.
void CheckRemoteConfig(Report& report) {
    if (g_config.ConfigURL.empty()) {
        report(Mark::Ok, L"ConfigURL não definida (opcional): valem só as chaves do INI");
        return;
    }
    const std::optional<std::string> bytes = FetchRemoteBytes(g_config.ConfigURL);
    const std::vector<SeenRequest> seen = TakeRequests();
    ReportRequests(report, L"ConfigURL", seen);
    if (!bytes) {
        report(Mark::Error, L"ConfigURL: " + ExplainFailure(seen, true) + L" (o launcher segue só com o INI)");
        return;
    }
    const TextEncoding encoding = DetectEncoding(*bytes);
    const Mark encodingMark = encoding == TextEncoding::Ascii || encoding == TextEncoding::Utf8 ? Mark::Ok
                              : encoding == TextEncoding::Utf16                               ? Mark::Error
                                                                                              : Mark::Warning;
    report(encodingMark, L"ConfigURL: " + std::to_wstring(bytes->size()) + L" bytes, codificação " +
                             EncodingName(encoding) + (encodingMark == Mark::Ok ? L"" : L": salve em UTF-8 sem BOM"));

    bool applies = true;
    const bool isSigned = SplitSignedText(*bytes).has_value();
    if (!g_config.UpdatePublicKey.empty()) {
        applies = ConfigSignedBy(*bytes, g_config.UpdatePublicKey);
        if (applies)
            report(Mark::Ok, L"ConfigURL: assinada, assinatura confere com UpdatePublicKey");
        else
            report(Mark::Error, std::wstring(L"ConfigURL: ") +
                                    (isSigned ? L"assinatura não confere com UpdatePublicKey" : L"não assinada") +
                                    L", e o launcher a ignora inteira: assine-a com VelmoraTool sign-config");
    } else if (isSigned) {
        report(Mark::Ok, L"ConfigURL: assinada (não verificada: o INI não tem UpdatePublicKey)");
    }

    const std::wstring text = DecodeRemoteText(*bytes);
    const std::vector<RemoteEntry> entries = ReadRemoteEntries(text);
    if (std::none_of(entries.begin(), entries.end(), [](const RemoteEntry& e) { return e.inLauncher; })) {
        const bool oneLine = text.find(L'\n') == std::wstring::npos && text.find(L'=') == std::wstring::npos;
        report(Mark::Error, L"ConfigURL: nenhuma chave dentro de [Launcher] (texto ignorado): " +
                                (oneLine ? L"o texto " + Quoted(Trim(DecodeForDisplay(*bytes))) +
                                               L" parece uma versão; ConfigURL e VersionURL estão trocadas?"
                                         : std::wstring(L"comece o texto com a linha [Launcher]")));
        return;
    }
    CheckRemoteEntries(report, entries);
    if (!applies) return;
    g_config = ApplyRemoteConfigText(g_config, text);
    for (const RemoteEntry& entry : entries)
        if (entry.inLauncher && entry.key == L"UpdateManifest" && !entry.value.empty()) g_manifestUrl = entry.value;
    const bool gated = std::any_of(entries.begin(), entries.end(),
                                   [](const RemoteEntry& e) { return e.inLauncher && e.key == L"MinLauncherBuild"; });
    const std::wstring builds = L"MinLauncherBuild " + std::to_wstring(g_config.MinLauncherBuild) + L", este launcher é o build " +
                                std::to_wstring(LauncherBuild());
    const bool replaces = !g_config.LauncherURL.empty() && !g_config.LauncherSHA256.empty();
    if (g_config.MinLauncherBuild > LauncherBuild() && replaces)
        report(Mark::Ok, L"ConfigURL: " + builds + L": ele se substitui pelo launcher de LauncherURL");
    else if (g_config.MinLauncherBuild > LauncherBuild())
        report(Mark::Error, L"ConfigURL: " + builds + L": ele se declara desatualizado; baixe o valor ou distribua o launcher novo");
    else if (gated)
        report(Mark::Ok, L"ConfigURL: " + builds + L": aceito");
    if (!g_config.LauncherURL.empty()) CheckPublishedLauncher(report);
}

// The published version as the launcher reads it; nothing when it cannot be had.
std::optional<std::wstring> CheckVersion(Report& report, const std::wstring& localShown) {
    const std::optional<std::string> bytes = FetchRemoteBytes(g_config.VersionURL);
    const std::vector<SeenRequest> seen = TakeRequests();
    ReportRequests(report, L"VersionURL", seen);
    const std::wstring remote = bytes ? DecodeRemoteText(*bytes) : std::wstring();
    if (remote.empty()) {
        report(Mark::Error, L"VersionURL: " + (bytes ? L"texto vazio: publique o número da versão" : ExplainFailure(seen, true)) +
                                L" (o launcher mostra \"Sem conexão. Jogue offline.\")");
        return std::nullopt;
    }
    const std::wstring shown = Trim(DecodeForDisplay(*bytes));
    if (shown.find(L'\n') != std::wstring::npos || shown.find(L"[Launcher]") != std::wstring::npos)
        report(Mark::Error, L"VersionURL devolveu várias linhas (" + Quoted(shown) +
                                L"): publique só a versão; ConfigURL e VersionURL estão trocadas?");
    else if (std::any_of(remote.begin(), remote.end(), IsInvisible))
        report(Mark::Error, L"VersionURL: a versão " + Quoted(shown) +
                                L" tem caracteres invisíveis: salve só a versão, sem BOM nem espaços especiais");
    else if (std::any_of(shown.begin(), shown.end(), IsInvisible))
        report(Mark::Warning, L"VersionURL: a versão " + Quoted(shown) +
                                  L" começa com BOM, que este launcher ignora (builds antigos não): salve sem BOM");
    else
        report(Mark::Ok, L"VersionURL: versão publicada " + Quoted(shown));

    if (remote == g_localVersion)
        report(Mark::Ok, L"Versão publicada igual à instalada: o launcher não baixaria nada (o arquivo é conferido mesmo assim)");
    else if (WithoutInvisible(shown) == WithoutInvisible(localShown))
        report(Mark::Error, L"As versões só diferem em caracteres invisíveis: o launcher baixaria o cliente a cada "
                            L"início; salve version.txt e a versão publicada sem BOM");
    else
        report(Mark::Ok, L"Instalada " + Quoted(localShown) + L", publicada " + Quoted(shown) +
                             L": o launcher baixaria a atualização");
    if (remote != g_localVersion && !VersionIsPublished(g_config.UpdatePublicKey, g_config.UpdateVersion, remote))
        report(Mark::Error, L"UpdateVersion " +
                                (g_config.UpdateVersion.empty() ? std::wstring(L"ausente") : Quoted(g_config.UpdateVersion)) +
                                L" na configuração assinada, e a versão publicada é " + Quoted(shown) +
                                L": o launcher recusa a atualização; publique UpdateVersion=<versão> e assine de novo");
    return remote;
}

}  // namespace

int RunCheck(const std::wstring& folder) {
    Report report;
    wchar_t full[MAX_PATH * 4] = {};
    const DWORD length = GetFullPathNameW(folder.c_str(), MAX_PATH * 4, full, nullptr);
    g_baseDir = length > 0 && length < MAX_PATH * 4 ? full : folder;
    while (g_baseDir.size() > 3 && g_baseDir.back() == L'\\') g_baseDir.pop_back();
    report(Mark::Ok, L"Instalação: " + g_baseDir);

    LoadConfigFiles();
    const bool haveIni = CheckIni(report);
    const std::wstring localShown = CheckLocalVersion(report);
    ScratchFolder scratch;
    if (haveIni && scratch.path.empty()) {
        report(Mark::Error, L"Não foi possível criar uma pasta temporária para os downloads: confira %TEMP%");
    } else if (haveIni) {
        g_baseDir = scratch.path;  // every download from here on lands there, never in the install
        StartRecording();
        CheckRemoteConfig(report);
        if (g_config.VersionURL.empty() || g_config.UpdateURL.empty()) {
            report(Mark::Error, L"VersionURL ou UpdateURL vazia (o launcher mostra \"Configure as URLs no "
                                L"launcher_config.ini\"): defina-as no INI ou na configuração remota");
        } else if (CheckUrlForm(report, L"VersionURL", g_config.VersionURL) &&
                   CheckSourceForms(report)) {
            const std::optional<std::wstring> remote = CheckVersion(report, localShown);
            const std::optional<ServedArchive> served = remote ? CheckUpdateArchive(report, *remote) : std::nullopt;
            if (remote && !g_manifestUrl.empty()) CheckPatchManifest(report, g_manifestUrl, served);
        }
    }
    const std::wstring counts = std::to_wstring(report.errors) + L" erro(s), " + std::to_wstring(report.warnings) + L" aviso(s)";
    PrintLine(MarkedLine(report.errors ? Mark::Error : Mark::Ok, L"Resultado: " + counts));
    return report.errors ? 1 : 0;
}
