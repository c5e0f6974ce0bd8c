#include "update/remote_config.h"

#include <windows.h>
#include <shellapi.h>

#include <limits>
#include <optional>

#include "app/arguments.h"
#include "app/build.h"
#include "app/elevation.h"
#include "app/window.h"
#include "net/remote_text.h"
#include "update/self_update.h"
#include "verify/verification.h"

namespace {

void ApplyEntry(LauncherConfig& config, const std::wstring& key, const std::wstring& value) {
    if (key == L"ServerName") config.ServerName = value;
    else if (key == L"VersionURL") config.VersionURL = value;
    else if (key == L"UpdateURL") config.UpdateURL = value;
    else if (key == L"ClientExe") config.ClientExe = value;
    else if (key == L"SiteUrl") config.SiteURL = value;  // remote spelling differs from the INI's
    else if (key == L"MinLauncherBuild") config.MinLauncherBuild = ParseBuildNumber(value);
    else if (key == L"UpdateSHA256") config.UpdateSHA256 = value;
    else if (key == L"UpdateSignature") config.UpdateSignature = value;
    else if (key == L"UpdateManifest") config.UpdateManifest = value;
    else if (key == L"UpdateManifestSHA256") config.UpdateManifestSHA256 = value;
    else if (key == L"UpdateVersion") config.UpdateVersion = value;
    else if (key == L"LauncherURL") config.LauncherURL = value;
    else if (key == L"LauncherSHA256") config.LauncherSHA256 = value;
    else if (key == L"LauncherSignature") config.LauncherSignature = value;
}

}  // namespace

std::vector<RemoteEntry> ReadRemoteEntries(const std::wstring& text) {
    std::vector<RemoteEntry> entries;
    bool inside = false;  // entries before the first header are not ours
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring line = Trim(text.substr(start, end - start));
        start = end + 1;

        if (line.empty() || line[0] == L';') continue;
        if (line[0] == L'[') {
            inside = line.find(L"[Launcher]") != std::wstring::npos;
            continue;
        }
        const size_t eq = line.find(L'=');
        if (eq != std::wstring::npos) entries.push_back({Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)), inside});
    }
    return entries;
}

LauncherConfig ApplyRemoteConfigText(LauncherConfig config, const std::wstring& text) {
    for (const RemoteEntry& entry : ReadRemoteEntries(text))
        if (entry.inLauncher && !entry.value.empty()) ApplyEntry(config, entry.key, entry.value);
    return config;
}

int32_t ParseBuildNumber(const std::wstring& value) {
    size_t i = 0;
    bool negative = false;
    if (i < value.size() && (value[i] == L'+' || value[i] == L'-')) negative = value[i++] == L'-';
    // Accumulate toward the sign's limit and stop there, so no digit count can overflow.
    const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min())
                                   : std::numeric_limits<int32_t>::max();
    int64_t magnitude = 0;
    for (; i < value.size() && value[i] >= L'0' && value[i] <= L'9'; ++i) {
        magnitude = magnitude * 10 + (value[i] - L'0');
        if (magnitude >= limit) {
            magnitude = limit;
            break;
        }
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

std::wstring OutdatedMessage(const std::wstring& siteUrl) {
    return L"Este launcher est\u00e1 desatualizado e n\u00e3o pode ser usado.\n\n"
           L"Por favor, exclua o launcher atual e baixe a vers\u00e3o mais recente no nosso site:\n\n" +
           siteUrl + L"\n\nApenas clique em OK e o site ser\u00e1 aberto automaticamente.";
}

bool ApplyRemoteConfig() {
    if (g_config.ConfigURL.empty()) return true;
    SetWindowTextW(g_hwndStatus, L"Carregando configura\u00e7\u00e3o...");

    const std::optional<std::string> bytes = FetchRemoteBytes(g_config.ConfigURL);
    if (!bytes) return true;  // no remote configuration: the local one stands
    // With a publisher key, only a configuration the publisher signed may steer the launcher;
    // anything else is ignored whole, and the update it would have allowed is refused later.
    if (!g_config.UpdatePublicKey.empty() && !ConfigSignedBy(*bytes, g_config.UpdatePublicKey)) return true;
    const std::wstring text = DecodeRemoteText(*bytes);
    if (text.empty()) return true;

    g_config = ApplyRemoteConfigText(g_config, text);
    SetWindowTextW(g_hwndTitle, g_config.ServerName.c_str());
    SetWindowTextW(g_hwndMain, MainCaption(g_config.ServerName).c_str());

    if (g_config.MinLauncherBuild <= LauncherBuild()) return true;
    // Installed to meet this minimum and still short of it (its version text claimed more than it
    // was built as): replacing it again would only loop.
    const std::optional<int32_t> installedFor = CurrentArguments().installedFor;
    if (!(installedFor && *installedFor >= g_config.MinLauncherBuild) && ReplaceLauncher()) {  // the new launcher has started and takes over
        PostMessageW(g_hwndMain, WM_CLOSE, 0, 0);
        g_busy.exchange(false);
        return false;
    }

    const std::wstring message = OutdatedMessage(g_config.SiteURL);
    SetWindowTextW(g_hwndStatus, L"Launcher desatualizado! Acesse o site.");
    MessageBoxW(g_hwndMain, message.c_str(), L"Launcher Desatualizado", MB_OK | MB_ICONWARNING);
    const std::wstring site = SiteToOpen(g_config.SiteURL);
    // An elevated copy has the player's launcher open it: a browser must not get our rights.
    if (!site.empty() && !AskPlayerLauncher(PlayerRequest::OpenSite, site).has_value())
        ShellExecuteW(nullptr, L"open", site.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    PostMessageW(g_hwndMain, WM_CLOSE, 0, 0);
    g_busy.exchange(false);
    return false;
}
