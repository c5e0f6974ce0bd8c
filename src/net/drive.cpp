#include "net/drive.h"

#include "app/state.h"

namespace {

const wchar_t kDriveHost[] = L"drive.google.com";
const wchar_t kDocsHost[] = L"docs.google.com";
const wchar_t kUserContentHost[] = L"drive.usercontent.google.com";

// A real confirmation page is a few kilobytes; a server that keeps talking past this is not
// allowed to fill the memory.
const size_t kConfirmationPageLimit = 1 << 20;
// And one that sends it a byte now and then is not allowed to hold the download for days.
const DWORD kConfirmationPageMs = 30000;

const char kUuidMarker[] = "name=\"uuid\" value=\"";
const char* const kQuotaMarkers[] = {"Quota exceeded", "Too many users have viewed or downloaded"};
const char kActionMarker[] = "action=\"";

// The text from right after `marker` up to the next double quote; nothing when the marker or
// the closing quote is missing.
std::optional<std::string> QuotedValueAfter(const std::string& page, const char* marker) {
    const size_t at = page.find(marker);
    if (at == std::string::npos) return std::nullopt;
    const size_t start = at + std::char_traits<char>::length(marker);
    const size_t end = page.find('"', start);
    if (end == std::string::npos) return std::nullopt;
    return page.substr(start, end - start);
}

// One left-to-right pass: what a replacement produces is not looked at again.
std::string UnescapeAmp(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (text.compare(i, 5, "&amp;") == 0) {
            out.push_back('&');
            i += 5;
        } else {
            out.push_back(text[i++]);
        }
    }
    return out;
}

}  // namespace

bool IsDriveUrl(const std::wstring& url) {
    return url.find(kDriveHost) != std::wstring::npos || url.find(kDocsHost) != std::wstring::npos;
}

std::wstring ExtractDriveFileId(const std::wstring& url) {
    size_t at = url.find(L"id=");
    if (at != std::wstring::npos) {
        const size_t start = at + 3;
        const size_t end = url.find(L'&', start);
        return url.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    }
    at = url.find(L"/d/");
    if (at != std::wstring::npos) {
        const size_t start = at + 3;
        const size_t end = url.find(L'/', start);
        return url.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    }
    return std::wstring();
}

std::wstring DirectLink(const std::wstring& id) {
    return std::wstring(L"https://") + kDriveHost + L"/uc?export=download&confirm=t&id=" + id;
}

std::wstring UserContentLink(const std::wstring& id) {
    return std::wstring(L"https://") + kUserContentHost + L"/download?id=" + id + L"&export=download&confirm=t";
}

std::wstring UserContentLinkWithAccount(const std::wstring& id) {
    return std::wstring(L"https://") + kUserContentHost + L"/download?id=" + id +
           L"&export=download&authuser=0&confirm=t";
}

std::optional<std::wstring> FormLinkFromPage(const std::string& page) {
    const std::optional<std::string> action = QuotedValueAfter(page, kActionMarker);
    if (!action) return std::nullopt;
    std::string link = UnescapeAmp(*action);
    const std::string uuid = QuotedValueAfter(page, kUuidMarker).value_or(std::string());
    if (!uuid.empty()) link += "&uuid=" + uuid;
    return Widen(link);
}

bool IsDriveQuotaPage(const std::string& page) {
    for (const char* marker : kQuotaMarkers)
        if (page.find(marker) != std::string::npos) return true;
    return false;
}

namespace {

// Chooses the URL of the main request: may look at the direct link once. Never fails: at worst
// it returns `url`.
std::wstring ResolveTarget(HINTERNET session, const std::wstring& url, const Timeouts& timeouts, bool& quota) {
    const std::wstring id = ExtractDriveFileId(url);
    if (id.empty()) return url;

    std::wstring direct = DirectLink(id);
    std::string page;
    {
        const Deadline deadline(kConfirmationPageMs);
        Response look = OpenUrl(session, direct, timeouts);
        if (!look) return url;
        if (!AnswersHtml(look.get())) return direct;
        page = ReadAllResponse(look.get(), kConfirmationPageLimit, &deadline);
    }
    quota = IsDriveQuotaPage(page);
    return FormLinkFromPage(page).value_or(UserContentLink(id));
}

}  // namespace

Response OpenDriveAnswer(HINTERNET session, const std::wstring& url, const Timeouts& timeouts,
                         const std::wstring& headers, bool* quota) {
    bool saidQuota = false;
    const std::wstring target = ResolveTarget(session, url, timeouts, saidQuota);
    Response response = OpenUrl(session, target, timeouts, headers);
    if (!response && target != url) response = OpenUrl(session, url, timeouts, headers);
    if (!response) return {};
    if (!IsRefused(response.get())) return response;

    // One retry through the user-content host, signed-in form; the refused answer goes first.
    response = {};
    response = OpenUrl(session, UserContentLinkWithAccount(ExtractDriveFileId(url)), timeouts, headers);
    if (quota && response && IsRefused(response.get())) {
        if (!saidQuota && AnswersHtml(response.get())) {
            const Deadline deadline(kConfirmationPageMs);
            saidQuota = IsDriveQuotaPage(ReadAllResponse(response.get(), kConfirmationPageLimit, &deadline));
        }
        *quota = saidQuota;
    }
    return response;
}
