// Scratch folders, byte-exact file helpers and small conversions shared by the tests.
#pragma once

#include <windows.h>

#include <string>

#include "app/state.h"

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

// The folder of the running test program, found without the code under test.
std::wstring ExeFolder();
std::wstring FromUtf8(const std::string& s);
// Every field of `c` in one line, "|"-separated, in declaration order.
std::wstring Fields(const LauncherConfig& c);
