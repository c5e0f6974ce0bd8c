// Scratch folders and byte-exact files shared by the unit tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/state.h"

namespace fs = std::filesystem;

// A fresh folder under %TEMP%, removed with its contents when the object goes away.
struct TempDir {
    fs::path path = fs::temp_directory_path() / ("velmora_ut_" + std::to_string(GetCurrentProcessId()) + "_" +
                                                 testing::UnitTest::GetInstance()->current_test_info()->name());
    TempDir() { fs::create_directories(path); }
    ~TempDir() { fs::remove_all(path); }
};

inline void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadBytes(const fs::path& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

// Every field of `c` in one line, "|"-separated, in declaration order.
inline std::wstring Fields(const LauncherConfig& c) {
    return c.ServerName + L"|" + c.ConfigURL + L"|" + c.VersionURL + L"|" + c.UpdateURL + L"|" + c.ClientExe + L"|" +
           c.SiteURL + L"|" + std::to_wstring(c.MinLauncherBuild);
}
