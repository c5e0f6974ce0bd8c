#include "app/arguments.h"

#include <shellapi.h>

#include <memory>

namespace {

constexpr wchar_t kElevated[] = L"--elevated";
constexpr wchar_t kHandover[] = L"--handover=";

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
        const DWORD id = arg.compare(0, wcslen(kHandover), kHandover) == 0 ? ProcessIdOf(arg.substr(wcslen(kHandover))) : 0;
        if (arg == kElevated)
            parsed.elevated = true;
        else if (id != 0)
            parsed.predecessor = id;
        else
            parsed.others.push_back(arg);
    }
    return parsed;
}

std::vector<std::wstring> HandoverArguments(const LaunchArguments& current, DWORD predecessor, bool elevated) {
    std::vector<std::wstring> args = current.others;
    if (elevated) args.emplace_back(kElevated);
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
