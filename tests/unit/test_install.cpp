#include <gtest/gtest.h>
#include <windows.h>

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

// Only another user of the file counts: a missing or read-only client is not "in use".
TEST(ClientLock, OnlySharingConflictsCount) {
    TempDir dir;
    const std::wstring exe = dir.path / L"client.exe", readOnly = dir.path / L"readonly.exe";
    WriteBytes(exe, "MZ");
    WriteBytes(readOnly, "MZ");
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    for (const std::wstring& free : {(dir.path / L"missing.exe").wstring(), readOnly, exe})
        EXPECT_FALSE(ClientInUse(free)) << testing::PrintToString(free);
    for (DWORD share : {DWORD{FILE_SHARE_READ}, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE}}) {
        FileHandle held(CreateFileW(exe.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(held && ClientInUse(exe)) << share;
    }
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
