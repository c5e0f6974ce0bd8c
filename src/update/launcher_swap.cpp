#include "update/launcher_swap.h"

#include <windows.h>

bool SwapInLauncher(const std::wstring& self, const std::wstring& fresh, const std::wstring& old) {
    if (!MoveFileExW(self.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return false;
    if (MoveFileExW(fresh.c_str(), self.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    MoveFileExW(old.c_str(), self.c_str(), MOVEFILE_WRITE_THROUGH);
    return false;
}

void SwapBackLauncher(const std::wstring& self, const std::wstring& fresh, const std::wstring& old) {
    MoveFileExW(self.c_str(), fresh.c_str(), MOVEFILE_REPLACE_EXISTING);  // fails when a scanner removed it
    MoveFileExW(old.c_str(), self.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}
