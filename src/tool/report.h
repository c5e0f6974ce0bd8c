// The tool's output: marked lines for the check, plain lines for what is to be pasted.
#pragma once

#include <string>

enum class Mark { Ok, Warning, Error };

// "OK    text", "AVISO text" or "ERRO  text": the mark first, so a line can be read alone.
std::wstring MarkedLine(Mark mark, const std::wstring& text);

// One line on standard output (or standard error): UTF-16 to a console, UTF-8 to a pipe or file.
void PrintLine(const std::wstring& text);
void PrintError(const std::wstring& text);

// Prints marked lines and counts them.
struct Report {
    int errors = 0;
    int warnings = 0;
    void operator()(Mark mark, const std::wstring& text);
};
