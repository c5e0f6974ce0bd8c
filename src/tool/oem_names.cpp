#include "tool/oem_names.h"

#include <windows.h>

#include "tool/hints.h"

namespace {

const uint16_t kUtf8Flag = 0x0800;
const size_t kNamed = 3;  // a few are enough to see the problem; the count tells the rest

// Nothing when the bytes are not valid in `codePage` (with `strict`).
std::wstring Decoded(const std::string& bytes, UINT codePage, bool strict) {
    const DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
    const int size = MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), &out[0], size);
    return out;
}

}  // namespace

std::vector<MisreadName> MisreadNames(const std::vector<ZipEntry>& entries) {
    std::vector<MisreadName> found;
    for (const ZipEntry& entry : entries) {
        if (entry.flags & kUtf8Flag) continue;
        bool ascii = true;
        for (char c : entry.name) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        if (ascii) continue;
        std::wstring meant = Decoded(entry.name, CP_UTF8, true);
        if (meant.empty()) meant = Decoded(entry.name, 437, false);
        found.push_back({meant, Decoded(entry.name, 850, false)});
    }
    return found;
}

std::wstring MisreadNamesWarning(const std::vector<MisreadName>& names) {
    if (names.empty()) return std::wstring();
    std::wstring text = std::to_wstring(names.size()) +
                        L" nome(s) fora de ASCII sem a marca UTF-8: o tar.exe do Windows os lê na página de código do "
                        L"sistema, e um Windows em português grava ";
    for (size_t i = 0; i < names.size() && i < kNamed; ++i)
        text += (i ? L", " : L"") + Quoted(names[i].meant) + L" como " + Quoted(names[i].brazilian);
    if (names.size() > kNamed) text += L" (e mais " + std::to_wstring(names.size() - kNamed) + L")";
    return text + L". Refaça o zip com o 7-Zip, que marca os nomes UTF-8 (pacotes sem compressão): cd Cliente && "
                  L"7z a -tzip -mx=0 ../cliente.zip '-ir!*.pak' && 7z a -tzip ../cliente.zip . '-xr!*.pak' "
                  L"(no Windows: -ir!*.pak e -xr!*.pak sem aspas, ..\\cliente.zip)";
}
