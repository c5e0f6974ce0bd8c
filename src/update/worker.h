// The one background pass that brings the client up to date.
#pragma once

#include <windows.h>

#include <string>

void UpdateWorker();
// The same pass chosen from the window's menu: a current client has every file hashed and the
// differing ones restored. The window has set g_busy already.
void CheckGameFiles();

// "Nova versão: <installed> -> <published>"
std::wstring AnnounceText(const std::wstring& local, const std::wstring& remote);
