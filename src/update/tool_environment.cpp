#include "update/tool_environment.h"

#include <windows.h>

#include <algorithm>

namespace {

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) c = c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
    return text;
}

}  // namespace

std::wstring ToolEnvironment(const std::vector<std::wstring>& current, const std::wstring& systemFolder,
                             const std::wstring& windowsFolder) {
    std::vector<std::wstring> kept;
    for (const std::wstring& entry : current) {
        // "=C:=C:\..." entries (a drive's current folder) start with '=': the name is after it.
        const std::wstring name = Upper(entry.substr(0, entry.find(L'=', 1)));
        if (name == L"PSMODULEPATH" || name == L"PATH" || name.rfind(L"COR_", 0) == 0 || name.rfind(L"CORECLR_", 0) == 0 ||
            name.rfind(L"COMPLUS_", 0) == 0 || name.rfind(L"DOTNET_", 0) == 0)
            continue;
        kept.push_back(entry);
    }
    const std::wstring powerShell = systemFolder + L"\\WindowsPowerShell\\v1.0";
    kept.push_back(L"PSModulePath=" + powerShell + L"\\Modules");
    kept.push_back(L"Path=" + systemFolder + L";" + windowsFolder + L";" + systemFolder + L"\\Wbem;" + powerShell + L"\\");
    std::sort(kept.begin(), kept.end(), [](const std::wstring& a, const std::wstring& b) {
        return Upper(a.substr(0, a.find(L'=', 1))) < Upper(b.substr(0, b.find(L'=', 1)));
    });
    std::wstring block;
    for (const std::wstring& entry : kept) block += entry + L'\0';
    return block + L'\0';
}
