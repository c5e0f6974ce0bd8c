// The one background pass that brings the client up to date.
#pragma once

#include <windows.h>

#include <string>

void UpdateWorker();

// "Nova versão: <installed> -> <published>"
std::wstring AnnounceText(const std::wstring& local, const std::wstring& remote);
