#include "net/download.h"

#include <cstring>
#include <optional>

#include "app/state.h"
#include "net/accepted.h"
#include "net/headers.h"

bool HasHtmlHead(const std::wstring& path) {
    char head[15] = {};
    {
        FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        DWORD got = 0;
        if (!ReadFile(file.get(), head, sizeof(head) - 1, &got, nullptr)) return false;
    }
    for (const char* marker : {"<!DOC", "<html", "<HTML"})
        if (std::strstr(head, marker)) return true;
    return false;
}

bool DownloadFile(const std::wstring& url, const std::wstring& destination, const ProgressCallback& progress,
                  const FetchLimits& limits) {
    Streamed body;
    std::optional<uint64_t> stated;
    {
        const Deadline deadline(limits.deadlineMs);
        InternetHandle session = OpenSession();
        if (!session) return false;
        Response response = OpenAccepted(session.get(), url, limits.timeouts);
        // Nothing here asks for a range: a piece of the file is not the file.
        if (!response || QueryStatus(response.get()) == 206) return false;
        stated = ParseByteCount(QueryHeader(response.get(), HTTP_QUERY_CONTENT_LENGTH));
        // A body announced too long is refused before anything reaches the disk.
        if (limits.maxBytes != 0 && stated && *stated > limits.maxBytes) return false;
        FileHandle file(CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        // One byte past the stated length is a failure, whatever the framing let through.
        body = StreamBody(response.get(), file.get(), 0, stated.value_or(0), stated ? *stated : limits.maxBytes,
                          progress, ChunkObserver(), limits.deadlineMs != 0 ? &deadline : nullptr);
    }
    if (body.writeFailed || body.overLimit || body.readFailed || body.written == 0) return false;
    // A dropped connection may look like a clean end; only the stated length tells them apart.
    if (stated && body.written != *stated) return false;
    if (HasHtmlHead(destination)) {
        DeleteFileW(destination.c_str());
        return false;
    }
    return true;
}
