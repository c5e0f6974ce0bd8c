#include <gtest/gtest.h>
#include <windows.h>

#include "app/elevation.h"
#include "app/single_instance.h"
#include "test_support.h"
#include "update/client_lock.h"

namespace {

// One name per folder whatever the letter case; a valid object name in the Local namespace.
TEST(SingleInstance, MutexNamePerFolder) {
    const std::wstring name = InstanceMutexName(L"C:\\Jogos\\Velmora \u00c1vila");
    EXPECT_EQ(name.size(), 38u);
    EXPECT_EQ(name.rfind(L"Local\\VelmoraLauncher-", 0), 0u);
    EXPECT_EQ(name.find_first_not_of(L"0123456789abcdef", 22), std::wstring::npos);
    EXPECT_EQ(InstanceMutexName(L"c:\\JOGOS\\velmora \u00e1VILA"), name);
    for (const wchar_t* other : {L"C:\\Jogos\\Velmora Avila", L"D:\\Jogos\\Velmora \u00c1vila", L"C:\\Jogos"})
        EXPECT_NE(InstanceMutexName(other), name) << testing::PrintToString(other);
}

// The claim covers the folder under any spelling and is free again once released.
TEST(SingleInstance, ClaimAndRelease) {
    TempDir dir;
    std::wstring upper = dir.path;
    CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
    ASSERT_TRUE(ClaimInstance(dir.path));
    EXPECT_FALSE(ClaimInstance(upper));
    ReleaseInstance();
    EXPECT_TRUE(ClaimInstance(upper));
    ReleaseInstance();
}

TEST(WriteCheck, ProbeLeavesNothingBehind) {
    TempDir dir;
    const std::wstring folder = dir / L"install";
    EXPECT_FALSE(FolderWritable(folder));
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_TRUE(FolderWritable(folder));
    EXPECT_TRUE(RemoveDirectoryW(folder.c_str()));  // only an empty folder can be removed
}

// Only another user of the file counts: a missing or read-only client is not "in use".
TEST(ClientLock, OnlySharingConflictsCount) {
    TempDir dir;
    const std::wstring exe = dir / L"client.exe", readOnly = dir / L"readonly.exe";
    WriteBytes(exe, "MZ");
    WriteBytes(readOnly, "MZ");
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    for (const std::wstring& free : {dir / L"missing.exe", readOnly, exe}) EXPECT_FALSE(ClientInUse(free)) << free;
    for (DWORD share : {DWORD{FILE_SHARE_READ}, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE}}) {
        FileHandle held(CreateFileW(exe.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(held && ClientInUse(exe)) << share;
    }
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
