#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <functional>

#include "app/build.h"
#include "app/state.h"
#include "test_support.h"
#include "verify/launcher_image.h"

namespace {

void Put16(std::string& image, size_t at, uint16_t value) { std::memcpy(&image[at], &value, 2); }  // little-endian

size_t PeAt(const std::string& image) { return static_cast<uint8_t>(image[0x3C]) | static_cast<uint8_t>(image[0x3D]) << 8; }

void Rename(std::string& image, const wchar_t* from, const wchar_t* to) {
    const std::string a(reinterpret_cast<const char*>(from), wcslen(from) * 2);
    const size_t at = image.rfind(a);  // the resource section comes last; the code holds these names too
    ASSERT_NE(at, std::string::npos);
    image.replace(at, a.size(), std::string(reinterpret_cast<const char*>(to), wcslen(to) * 2));
}

struct Row {  // minAbove: MinLauncherBuild minus this launcher's build
    const char* name;
    std::function<void(std::string&)> change;
    int32_t minAbove;
    LauncherVerdict verdict;
};

TEST(LauncherImage, Judged) {
    // The launcher this build made, beside the tests' folder.
    const std::string launcher = ReadBytes(fs::path(ModulePath()).parent_path().parent_path() / "VelmoraLauncher.exe");
    ASSERT_GT(launcher.size(), 4096u);
    EXPECT_EQ(LauncherBuildOf(launcher), LauncherBuild());
    const Row rows[] = {
        {"as built", [](std::string&) {}, 0, LauncherVerdict::Accepted},
        {"a newer build is wanted", [](std::string&) {}, 1, LauncherVerdict::TooOld},
        {"x86", [](std::string& i) { Put16(i, PeAt(i) + 4, 0x14C); }, 0, LauncherVerdict::NotAProgram},
        {"PE32", [](std::string& i) { Put16(i, PeAt(i) + 24, 0x10B); }, 0, LauncherVerdict::NotAProgram},
        {"console", [](std::string& i) { Put16(i, PeAt(i) + 24 + 68, 3); }, 0, LauncherVerdict::NotAProgram},
        {"DLL", [](std::string& i) { i[PeAt(i) + 23] |= 0x20; }, 0, LauncherVerdict::NotAProgram},
        {"headers beyond the end", [](std::string& i) { i[0x3F] = 0x7F; }, 0, LauncherVerdict::NotAProgram},
        {"an HTML page", [](std::string& i) { i = "<!DOCTYPE html><html>MZ</html>"; }, 0, LauncherVerdict::NotAProgram},
        {"cut after the headers", [](std::string& i) { i.resize(1024); }, 0, LauncherVerdict::NoBuild},
        {"no LauncherBuild", [](std::string& i) { Rename(i, L"LauncherBuild", L"LauncherBuilt"); }, 0,
         LauncherVerdict::NoBuild},
        {"no version resource", [](std::string& i) { Rename(i, L"VS_VERSION_INFO", L"VS_VERSION_INFX"); }, 0,
         LauncherVerdict::NoBuild},
    };
    for (const Row& row : rows) {
        std::string image = launcher;
        row.change(image);
        EXPECT_EQ(JudgeLauncher(image, LauncherBuild() + row.minAbove), row.verdict) << row.name;
    }
}

}  // namespace
