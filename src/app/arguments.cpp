#include "app/arguments.h"

#include <shellapi.h>

#include <memory>

namespace {

constexpr wchar_t kElevated[] = L"--elevated";
constexpr wchar_t kHandover[] = L"--handover=";
constexpr wchar_t kRequestKey[] = L"--request-key=";
constexpr wchar_t kInstalledFor[] = L"--installed-for=";

bool StartsWith(const std::wstring& text, const wchar_t* prefix) { return text.compare(0, wcslen(prefix), prefix) == 0; }

// A process id in decimal; 0 (no process has it) for anything else.
DWORD ProcessIdOf(const std::wstring& text) {
    if (text.empty() || text.size() > 10) return 0;
    unsigned long long id = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return 0;
        id = id * 10 + static_cast<unsigned>(c - L'0');
    }
    return id > MAXDWORD ? 0 : static_cast<DWORD>(id);
}

// The quoting rules of CommandLineToArgvW: backslashes count only before a quote.
std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    for (size_t i = 0;; ++i) {
        size_t backslashes = 0;
        for (; i < arg.size() && arg[i] == L'\\'; ++i) ++backslashes;
        if (i == arg.size()) {
            out.append(backslashes * 2, L'\\');
            break;
        }
        out.append(arg[i] == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        out.push_back(arg[i]);
    }
    return out + L"\"";
}

}  // namespace

LaunchArguments ParseArguments(const std::vector<std::wstring>& args) {
    LaunchArguments parsed;
    for (const std::wstring& arg : args) {
        const DWORD id = StartsWith(arg, kHandover) ? ProcessIdOf(arg.substr(wcslen(kHandover))) : 0;
        const std::optional<int32_t> build =
            StartsWith(arg, kInstalledFor) ? BuildNumberOf(arg.substr(wcslen(kInstalledFor))) : std::nullopt;
        if (arg == kElevated)
            parsed.elevated = true;
        else if (id != 0)
            parsed.predecessor = id;
        else if (StartsWith(arg, kRequestKey) && arg.size() > wcslen(kRequestKey))
            parsed.requestKey = arg.substr(wcslen(kRequestKey));
        else if (build)
            parsed.installedFor = build;
        else
            parsed.others.push_back(arg);
    }
    return parsed;
}

std::optional<int32_t> BuildNumberOf(const std::wstring& text) {
    const bool negative = !text.empty() && text[0] == L'-';
    const std::wstring digits = text.substr(negative ? 1 : 0);
    if (digits.empty() || digits.size() > 10) return std::nullopt;
    int64_t value = 0;
    for (wchar_t c : digits) {
        if (c < L'0' || c > L'9') return std::nullopt;
        value = value * 10 + (c - L'0');
    }
    value = negative ? -value : value;
    if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(value);
}

std::vector<std::wstring> HandoverArguments(const LaunchArguments& current, DWORD predecessor, bool elevated,
                                            const std::wstring& requestKey, std::optional<int32_t> installedFor) {
    std::vector<std::wstring> args = current.others;
    if (elevated) args.emplace_back(kElevated);
    if (!requestKey.empty()) args.push_back(kRequestKey + requestKey);
    if (installedFor) args.push_back(kInstalledFor + std::to_wstring(*installedFor));
    args.push_back(kHandover + std::to_wstring(predecessor));
    return args;
}

std::wstring JoinArguments(const std::vector<std::wstring>& args) {
    std::wstring line;
    for (const std::wstring& arg : args) line += (line.empty() ? L"" : L" ") + Quoted(arg);
    return line;
}

const LaunchArguments& CurrentArguments() {
    static const LaunchArguments current = [] {
        struct ArgvFree {
            void operator()(LPWSTR* argv) const { LocalFree(argv); }
        };
        int count = 0;
        const std::unique_ptr<LPWSTR, ArgvFree> argv(CommandLineToArgvW(GetCommandLineW(), &count));
        std::vector<std::wstring> args;
        for (int i = 1; argv && i < count; ++i) args.emplace_back(argv.get()[i]);
        return ParseArguments(args);
    }();
    return current;
}
