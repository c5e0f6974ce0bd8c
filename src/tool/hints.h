// Pure helpers that turn what the check finds into something an operator can act on: the
// key a misspelt one was meant to be, invisible characters made visible, encoding names.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The known key nearest to `key` (letter case ignored), when it is close enough to be a
// misspelling of it: at most 2 edits, or a third of the known key's length.
std::optional<std::wstring> ClosestKey(const std::wstring& key, const std::vector<std::wstring>& known);

// Characters that print as nothing or as blank space: controls, byte-order marks, zero-width
// and non-breaking spaces, the replacement character.
bool IsInvisible(wchar_t c);
// `text` with every invisible character (and the backslash) written as \uXXXX.
std::wstring EscapeInvisible(const std::wstring& text);

// `text` for a report line: in quotes, escaped, and cut after 60 characters.
std::wstring Quoted(const std::wstring& text);

enum class TextEncoding { Ascii, Utf8, Utf8Bom, Utf16, Other };
TextEncoding DetectEncoding(const std::string& bytes);
std::wstring EncodingName(TextEncoding encoding);
// The bytes as the launcher decodes them (DecodeText), but a leading byte-order mark kept as
// U+FEFF so it can be shown.
std::wstring DecodeForDisplay(const std::string& bytes);

// The text of an HTML page's <title>, blanks collapsed; empty when there is none.
std::wstring HtmlTitle(const std::string& page);
