#include "tool/report.h"

#include <windows.h>

namespace {

void Write(DWORD which, std::wstring text) {
    text += L"\r\n";
    const HANDLE out = GetStdHandle(which);
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

std::wstring MarkedLine(Mark mark, const std::wstring& text) {
    const wchar_t* prefix = mark == Mark::Ok ? L"OK    " : mark == Mark::Warning ? L"AVISO " : L"ERRO  ";
    return prefix + text;
}

void PrintLine(const std::wstring& text) { Write(STD_OUTPUT_HANDLE, text); }

void PrintError(const std::wstring& text) { Write(STD_ERROR_HANDLE, text); }

void Report::operator()(Mark mark, const std::wstring& text) {
    if (mark == Mark::Error) ++errors;
    if (mark == Mark::Warning) ++warnings;
    PrintLine(MarkedLine(mark, text));
}
