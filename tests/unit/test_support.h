// Scratch folders and byte-exact file helpers for tests that use the real file APIs.
#pragma once

#include <windows.h>

#include <string>

// A fresh folder under %TEMP%, removed with its contents when the object goes away.
struct TempDir {
    std::wstring path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::wstring operator/(const std::wstring& name) const { return path + L"\\" + name; }
};

void WriteBytes(const std::wstring& path, const std::string& bytes);
// The file's bytes, or "<missing>" when it cannot be opened.
std::string ReadBytes(const std::wstring& path);
bool Exists(const std::wstring& path);
