// The one background pass that brings the client up to date.
#pragma once

#include <windows.h>

#include <string>

// An archive below this size cannot hold a client; it is an error page or a stub.
constexpr ULONGLONG kMinArchiveBytes = 1000;

void UpdateWorker();

// "Nova versão: <installed> -> <published>"
std::wstring AnnounceText(const std::wstring& local, const std::wstring& remote);
