#include "tool/requests.h"

#include <mutex>

#include "net/headers.h"
#include "net/request.h"
#include "tool/hints.h"

namespace {

// A remote text's limit in the launcher, and as much of an error page as is worth reading.
constexpr size_t kTextLimit = size_t{64} * 1024;
constexpr DWORD kPageDeadlineMs = 10000;

std::vector<SeenRequest> g_seen;
std::mutex g_seenLock;  // a remote text's fetch given up on may still record its request later

void Record(const std::wstring& url, HINTERNET request) {
    SeenRequest seen;
    seen.url = url;
    seen.answered = request != nullptr;
    if (request) {
        seen.status = QueryStatus(request);
        seen.type = QueryContentType(request);
        seen.length = QueryHeader(request, HTTP_QUERY_CONTENT_LENGTH);
        seen.acceptRanges = QueryHeader(request, HTTP_QUERY_ACCEPT_RANGES);
        seen.validator = ResumeValidator(QueryHeader(request, HTTP_QUERY_ETAG),
                                         QueryHeader(request, HTTP_QUERY_LAST_MODIFIED));
    }
    const std::lock_guard<std::mutex> hold(g_seenLock);
    g_seen.push_back(seen);
}

bool Contains(const std::string& page, const char* text) { return page.find(text) != std::string::npos; }

}  // namespace

void StartRecording() { g_requestObserver = Record; }

std::vector<SeenRequest> TakeRequests() {
    std::vector<SeenRequest> seen;
    const std::lock_guard<std::mutex> hold(g_seenLock);
    seen.swap(g_seen);
    return seen;
}

bool Refused(const SeenRequest& request) {
    return request.status >= 400 || request.type.find(L"text/html") != std::wstring::npos;
}

std::wstring DescribeRequest(const SeenRequest& request) {
    std::wstring text = L"GET " + request.url + L" -> ";
    if (!request.answered) return text + L"sem resposta";
    text += std::to_wstring(request.status) + L", " + (request.type.empty() ? L"sem Content-Type" : request.type);
    return text + L", " + (request.length.empty() ? L"tamanho não informado" : request.length + L" bytes");
}

std::wstring FailureReason(const std::vector<SeenRequest>& requests, const std::string& page, bool isText) {
    if (requests.empty() || !requests.back().answered)
        return L"sem resposta (servidor fora do ar ou parado, nome ou porta errados): confira a URL e o servidor";
    const SeenRequest& last = requests.back();
    const std::wstring title = HtmlTitle(page);
    const std::wstring named = title.empty() ? std::wstring() : L" \u00ab" + title + L"\u00bb";
    if (Contains(page, "Quota exceeded") || Contains(page, "Too many users"))
        return L"o Google Drive atingiu a cota de downloads do arquivo" + named +
               L": aguarde até 24 h, ponha outra fonte em UpdateURL (um espelho, uma cópia do arquivo) ou hospede-o "
               L"num servidor web ou CDN";
    if (last.status >= 400)
        return L"HTTP " + std::to_wstring(last.status) + named +
               L": o arquivo não está acessível nesse endereço; corrija a URL ou publique o arquivo";
    if (Refused(last) && last.url.find(L".google.com/") != std::wstring::npos)
        return L"o Google Drive respondeu uma página" + named +
               L" em vez do arquivo: compartilhe-o como \"Qualquer pessoa com o link\"";
    if (Refused(last))
        return L"o servidor respondeu uma página HTML" + named + L" em vez do arquivo: use o link direto do arquivo";
    const std::optional<uint64_t> length = ParseByteCount(last.length);
    if (isText && length && *length > kTextLimit)
        return L"resposta de " + last.length + L" bytes, mais que os 64 KiB de um texto: a URL aponta para o arquivo errado";
    return L"a transferência parou antes do fim (queda ou servidor sem enviar dados): confira o servidor e tente de novo";
}

void ReportRequests(Report& report, const std::wstring& step, const std::vector<SeenRequest>& requests) {
    for (const SeenRequest& request : requests)
        report(request.answered && !Refused(request) ? Mark::Ok : Mark::Warning,
               step + L": " + DescribeRequest(request));
}

std::wstring ExplainFailure(const std::vector<SeenRequest>& requests, bool isText) {
    std::string page;
    if (!requests.empty() && requests.back().answered && Refused(requests.back())) {
        const RequestObserver observer = g_requestObserver;
        g_requestObserver = nullptr;
        {
            // Read for its title and words only: a page trickled byte by byte must not hold the check.
            const Deadline deadline(kPageDeadlineMs);
            InternetHandle session = OpenSession();
            Response response = session ? OpenUrl(session.get(), requests.back().url, {15000, 15000, 15000}) : Response();
            if (response) page = ReadAllResponse(response.get(), kTextLimit, &deadline);
        }
        g_requestObserver = observer;
    }
    return FailureReason(requests, page, isText);
}
