#include "update/self_update.h"

#include <windows.h>

#include <optional>

#include "app/elevation.h"
#include "app/single_instance.h"
#include "app/state.h"
#include "app/window.h"
#include "net/disk_space.h"
#include "net/progress.h"
#include "net/resume.h"
#include "update/launcher_swap.h"
#include "verify/launcher_image.h"
#include "verify/verification.h"
#include "verify/verify.h"

namespace {

// A launcher is well under a megabyte: anything much larger is not one, and is not read into memory.
constexpr ULONGLONG kMaxLauncherBytes = 64ull << 20;

// Downloads the new launcher to `fresh`; true when it may replace this one.
bool FetchLauncher(const std::wstring& fresh) {
    Sha256 hash;
    ArchiveHooks hooks;
    hooks.progress = [](uint64_t received, uint64_t expected) {
        const ProgressView view = FormatProgress(received, expected);
        if (view.movesBar) SetBar(view.position);
    };
    hooks.restarting = [&hash]() { hash = Sha256(); };
    hooks.chunk = [&hash](const char* data, size_t size) { hash.Update(data, size); };
    // Capped while it arrives at what is accepted afterwards, and held against the disk's room.
    hooks.maxBytes = kMaxLauncherBytes;
    hooks.room = [](uint64_t bytes) { return FreeSpaceShortfall(g_baseDir, bytes).empty(); };
    // The digest stands for the version: a part an earlier start left is continued for the same file only.
    if (!DownloadArchive(g_config.LauncherURL, L"launcher " + g_config.LauncherSHA256, fresh, hooks)) return false;
    const std::optional<std::array<uint8_t, 32>> digest = hash.Finish();
    if (!digest || CheckArchive(*digest, g_config.LauncherSHA256, g_config.LauncherSignature,
                                g_config.UpdatePublicKey) != ArchiveVerdict::Trusted)
        return false;
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(fresh.c_str(), GetFileExInfoStandard, &info) || info.nFileSizeHigh != 0 ||
        info.nFileSizeLow > kMaxLauncherBytes)
        return false;
    // A build below the minimum is never started: a wrong publication must not restart in a loop.
    return JudgeLauncher(ReadFileBytes(fresh), g_config.MinLauncherBuild) == LauncherVerdict::Accepted;
}

}  // namespace

bool ReplaceLauncher() {
    if (g_config.LauncherURL.empty() || g_config.LauncherSHA256.empty()) return false;
    const std::wstring self = ModulePath(), fresh = self + L".new", old = self + L".old";
    SetWindowTextW(g_hwndStatus, L"Atualizando o launcher...");
    SetBar(0);
    if (FetchLauncher(fresh) && SwapInLauncher(self, fresh, old)) {
        // An elevated copy has the player's launcher start the new one, which then asks for itself.
        const int32_t build = g_config.MinLauncherBuild;
        const std::optional<bool> asked = AskPlayerLauncher(PlayerRequest::StartHeir, std::to_wstring(build));
        if (asked ? *asked : StartHeir(self, build)) return true;
        SwapBackLauncher(self, fresh, old);  // as it was: nothing new runs
    }
    DeleteFileW(fresh.c_str());
    DiscardPart(fresh);
    return false;
}

void RemoveRetiredLauncher() { DeleteFileW((ModulePath() + L".old").c_str()); }
