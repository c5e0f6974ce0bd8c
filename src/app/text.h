// Turning bytes from files and servers into text, and reading INI text saved as UTF-8.
// Pure functions: no file, window or system state is touched.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The text without its leading and trailing units at or below U+0020 (blanks, control codes).
std::wstring Trim(std::wstring text);
// The same for bytes: every byte at or below 0x20 goes from both ends.
std::string TrimBytes(std::string bytes);

// One unit per byte, by sign extension: 0x00..0x7F stay, 0x80..0xFF become U+FF80..U+FFFF.
std::wstring Widen(const std::string& bytes);

// Strict UTF-8: shortest forms only, no surrogate code points, nothing above U+10FFFF.
bool IsValidUtf8(const std::string& bytes);
bool HasUtf8Bom(const std::string& bytes);

// Valid UTF-8 is decoded, a leading byte-order mark dropped; anything else is widened byte by
// byte, so bytes in some other encoding still come back unchanged from the low byte of each unit.
std::wstring DecodeText(const std::string& bytes);

// True when an INI file of these bytes holds UTF-8 that the profile API would misread: valid
// UTF-8 with a byte-order mark or with any byte above 0x7F. Pure ASCII, UTF-16 and ANSI files
// are left to the profile API.
bool ReadsAsUtf8Ini(const std::string& bytes);

// The lines of the first `section` of an INI text (its name compared without letter case,
// blanks around it, inside the brackets too, dropped), comments and blank lines left out: each
// name and value with their blanks dropped, and whether the line had an "=". Nothing when
// there is no such section.
struct IniEntry {
    std::wstring key;
    std::wstring value;
    bool hasValue;
};
std::optional<std::vector<IniEntry>> IniSection(const std::wstring& text, const std::wstring& section);

// `key` of the first `section` in an INI text, the way GetPrivateProfileStringW returns it:
// names compared without letter case, blanks around names (inside the brackets too) and
// around the value dropped, one pair of enclosing quotes (double or single) removed, at most
// 2047 units. Nothing when the section or the key is missing, or the key's line has no "=".
std::optional<std::wstring> IniValue(const std::wstring& text, const std::wstring& section, const std::wstring& key);

// True for an http:// or https:// address (scheme in any letter case): the only kind the
// launcher will hand to the shell.
bool IsWebUrl(const std::wstring& url);

// What the outdated-launcher stage hands to the shell for a site address: a web address as
// it is, a bare host name (letters, digits, dots, hyphens; then optionally a port and a path)
// with "http://" in front, anything else nothing (empty).
std::wstring SiteToOpen(const std::wstring& site);
