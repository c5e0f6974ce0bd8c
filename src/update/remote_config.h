// Remote [Launcher] overrides of the local configuration, and the launcher-build gate.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/state.h"

// One "key=value" line of a remote configuration, key and value trimmed. Only entries inside
// [Launcher] with a non-empty value are applied; the others are kept so they can be shown.
struct RemoteEntry {
    std::wstring key;
    std::wstring value;
    bool inLauncher;
};
std::vector<RemoteEntry> ReadRemoteEntries(const std::wstring& text);

// `config` with the [Launcher] entries of a remote configuration text applied, line by line.
LauncherConfig ApplyRemoteConfigText(LauncherConfig config, const std::wstring& text);

// A MinLauncherBuild value: optional sign and leading digits, the rest ignored. A value that
// does not start with a number is 0; one beyond the 32-bit range is clamped to its limit.
int32_t ParseBuildNumber(const std::wstring& value);

// Text of the box that tells the user this launcher is outdated.
std::wstring OutdatedMessage(const std::wstring& siteUrl);

// True for an http:// or https:// address (scheme in any letter case): the only kind the
// launcher will hand to the shell.
bool IsWebUrl(const std::wstring& url);

// What the outdated-launcher stage hands to the shell for a site address: a web address as
// it is, a bare host name (letters, digits, dots, hyphens; then optionally a port and a path)
// with "http://" in front, anything else nothing (empty).
std::wstring SiteToOpen(const std::wstring& site);

// The remote-configuration stage of the update pass, on the worker thread. When ConfigURL is
// set: shows the loading status, fetches and applies the remote text, retitles the
// window and checks the build. Returns true when the pass goes on. Returns false when this
// launcher is outdated: it has been replaced and the new one started, or the user has been
// told and the site opened; WM_CLOSE is posted and g_busy cleared, so the caller only has to
// return.
bool ApplyRemoteConfig();
