// What the library's downloads asked the network, recorded through g_requestObserver so the
// check can show each request (Drive's resolution included) and say why a fetch failed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tool/report.h"

struct SeenRequest {
    std::wstring url;
    bool answered = false;
    DWORD status = 0;
    std::wstring type;          // Content-Type
    std::wstring length;        // Content-Length, as sent
    std::wstring acceptRanges;  // Accept-Ranges
    std::wstring validator;     // as a resumption names the file (ResumeValidator)
};

// From now on every request is recorded; TakeRequests hands over those since the last call.
void StartRecording();
std::vector<SeenRequest> TakeRequests();

// Turned down the way the launcher turns answers down: an error status or an HTML page.
bool Refused(const SeenRequest& request);
// "GET <url> -> 200, text/plain, 12 bytes" or "GET <url> -> sem resposta".
std::wstring DescribeRequest(const SeenRequest& request);

// Why a fetch that went through `requests` failed, with what to do about it. `page` is the
// body of the last answer when it was refused (an HTML error page says what went wrong).
std::wstring FailureReason(const std::vector<SeenRequest>& requests, const std::string& page, bool isText);

// One line per request (AVISO for a refused answer); the caller gives the verdict.
void ReportRequests(Report& report, const std::wstring& step, const std::vector<SeenRequest>& requests);

// FailureReason for a failed fetch; a refused last answer is asked for once more (not
// recorded) to read its page.
std::wstring ExplainFailure(const std::vector<SeenRequest>& requests, bool isText);
