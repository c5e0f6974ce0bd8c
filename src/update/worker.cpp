#include "update/worker.h"

#include <windows.h>
#include <shlwapi.h>

#include <array>
#include <optional>
#include <thread>

#include "app/elevation.h"
#include "app/launch.h"
#include "app/state.h"
#include "app/window.h"
#include "net/disk_space.h"
#include "net/drive.h"
#include "net/progress.h"
#include "net/rate_limit.h"
#include "net/remote_text.h"
#include "net/resume.h"
#include "net/sources.h"
#include "patch/patch.h"
#include "patch/repair.h"
#include "patch/zip_file.h"
#include "patch/zip_format.h"
#include "update/client_lock.h"
#include "update/extract.h"
#include "update/remote_config.h"
#include "update/staging.h"
#include "update/version.h"
#include "verify/verification.h"
#include "verify/verify.h"

// Long enough for the player to read the announcement before the download takes the line.
constexpr DWORD kAnnouncePauseMs = 2000;
// How often a running client is looked at again while the update waits for it to close.
constexpr DWORD kClientPollMs = 2000;
// Long enough to read that the archive is now asked from its next address.
constexpr DWORD kSourceSwitchPauseMs = 1000;

// Every ending but the outdated launcher's hands Play back. The message goes before the flag
// is cleared, so Play is never accepted mid-pass.
static void End() {
    PostMessageW(g_hwndMain, WM_ENABLE_PLAY, 0, 0);
    g_busy.exchange(false);
}

static void Finish(const std::wstring& status) {
    SetStatus(status);
    End();
}

// Like Finish, but the broken archive goes only after the player has been told.
static void FinishAndDelete(const std::wstring& status, const std::wstring& archive) {
    SetStatus(status);
    DeleteFileW(archive.c_str());
    End();
}

// Downloads the archive from its addresses in turn and checks it. The status of the ending when
// that fails (the last address's reason); empty when the archive is there, big enough and, where
// the publisher asks for it, verified.
static std::wstring FetchArchive(const std::wstring& archive) {
    // The digest is taken while the bytes arrive, so a multi-GB archive is not read twice.
    const bool verify = !g_config.UpdateSHA256.empty() || !g_config.UpdatePublicKey.empty();
    std::optional<Sha256> hash;
    ArchiveHooks hooks;
    hooks.progress = StatusProgress();
    if (verify) {
        hash.emplace();  // a part continued from an earlier start is fed in before any restart
        hooks.restarting = [&hash]() { hash.emplace(); };
        hooks.chunk = [&hash](const char* data, size_t size) { hash->Update(data, size); };
    }
    hooks.waiting = [](DWORD seconds) {
        SetStatus(ResumeWaitText(seconds));
    };
    std::wstring shortfall;  // set when the disk has no room for the rest of the archive
    hooks.room = [&shortfall](uint64_t bytes) { return (shortfall = FreeSpaceShortfall(g_baseDir, bytes)).empty(); };
    hooks.diskFull = [&shortfall](uint64_t bytes) { shortfall = ShortfallText(bytes); };
    bool quota = false;  // the address tried last was a Drive link out of its download quota
    hooks.driveQuota = [&quota]() { quota = true; };
    const auto nextSource = [&quota](size_t failed, size_t count) {
        quota = false;
        SetStatus(NextSourceText(failed, count));
        Sleep(kSourceSwitchPauseMs);
    };
    // The digest checks the whole at the end, so a part one address left may be finished by another.
    if (!DownloadFromSources(SplitSources(g_config.UpdateURL), g_remoteVersion, archive, hooks,
                             !g_config.UpdateSHA256.empty(), nextSource)) {
        if (!shortfall.empty()) return shortfall;
        return quota ? L"Limite de downloads do Google Drive atingido. Tente mais tarde."
                     : L"Erro ao baixar. Verifique a URL/link.";
    }

    WIN32_FILE_ATTRIBUTE_DATA info;
    if (GetFileAttributesExW(archive.c_str(), GetFileExInfoStandard, &info) &&
        ((static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow) < kMinArchiveBytes)
        return L"Download inv\u00e1lido (arquivo muito pequeno).";
    if (!verify) return std::wstring();

    const std::optional<std::array<uint8_t, 32>> digest = hash->Finish();
    switch (digest ? CheckArchive(*digest, g_config.UpdateSHA256, g_config.UpdateSignature, g_config.UpdatePublicKey)
                   : ArchiveVerdict::Corrupt) {
    case ArchiveVerdict::Corrupt:
        return L"Download corrompido (verifica\u00e7\u00e3o falhou). Tente novamente.";
    case ArchiveVerdict::Unsigned:
        return L"Atualiza\u00e7\u00e3o sem assinatura v\u00e1lida. Contate o suporte.";
    case ArchiveVerdict::Trusted:
        break;
    }
    return std::wstring();
}

// The tools cannot replace the files of a running client; the player is asked to close it.
// Closing the launcher ends this wait with the process.
static void WaitForClientToClose(const std::wstring& client) {
    if (!ClientInUse(client)) return;
    SetStatus(L"Feche o jogo para concluir a atualiza\u00e7\u00e3o.");
    while (ClientInUse(client)) Sleep(kClientPollMs);
}

// The room the staged files take: the archive's uncompressed total, from its central directory.
// Empty when it fits, or when the directory cannot be read (the tools then judge the archive).
static std::wstring UnpackShortfall(const std::wstring& archive) {
    const std::optional<ZipListing> listing = ListZip(archive);
    if (!listing) return std::wstring();
    uint64_t total = 0;
    for (const ZipEntry& entry : listing->entries) total += entry.size;
    return FreeSpaceShortfall(g_baseDir, total);
}

enum class StagedEnd { Installed, Held, ClientMissing };

// Moves a complete staged set over bin; the staging folder goes, then, with the client there, the
// files and the version are recorded. The journal goes last: a launcher stopped anywhere before
// leaves a set the next start finishes. `held` names a file that stayed in use (the set stays).
static StagedEnd InstallStaged(const std::wstring& bin, const std::string& versionBytes, const PatchState* patch,
                               bool& recorded, std::wstring& held) {
    held = MoveStagedIntoBin(StagingFolder(g_baseDir), bin);
    if (!held.empty()) return StagedEnd::Held;
    RemoveStagingFolder(g_baseDir);
    const bool client = PathFileExistsW(ClientPath(g_baseDir, g_config.ClientExe).c_str()) != FALSE;
    if (client) {
        if (patch) RecordInstall(bin, *patch);
        recorded = CommitVersionFile(versionBytes);
    }
    DeleteFileW(StagingJournal(g_baseDir).c_str());
    return client ? StagedEnd::Installed : StagedEnd::ClientMissing;
}

// A launcher stopped while moving left a complete set: it goes into bin before the version check.
// An incomplete set is thrown away. False when the pass ends here, a file still being held.
static bool FinishLeftoverSet(const std::wstring& bin) {
    const std::optional<std::string> version = JournalVersion(ReadFileBytes(StagingJournal(g_baseDir)));
    if (!version) {
        RemoveStaging(g_baseDir);
        return true;
    }
    WaitForClientToClose(ClientPath(g_baseDir, g_config.ClientExe));
    bool recorded = false;
    std::wstring held;
    if (InstallStaged(bin, *version, nullptr, recorded, held) == StagedEnd::Held) {
        Finish(HeldFileText(held));
        return false;
    }
    if (recorded) {  // read back as at start-up
        g_localVersion = Trim(ReadTextFile(g_baseDir + L"\\version.txt"));
        SetWindowTextW(g_hwndVersion, VersionLabel(g_localVersion).c_str());
    }
    return true;  // without the client the version stays unrecorded and the pass updates again
}

std::wstring AnnounceText(const std::wstring& local, const std::wstring& remote) {
    return L"Nova vers\u00e3o: " + local + L" -> " + remote;
}

const wchar_t kIncomplete[] =
    L"Extra\u00e7\u00e3o incompleta: execut\u00e1vel n\u00e3o encontrado em bin/. Tente novamente.";

// Unpacks update_temp.zip into bin through the staging folder, `status` on the line, once the
// client no longer runs: bin is untouched until a tool has unpacked everything. The ending's
// status when it fails (the archive stays when the room is short or every tool failed); empty once
// bin holds the set, `recorded` telling whether version.txt now holds `versionBytes`.
static std::wstring Unpack(const std::wstring& archive, const std::wstring& bin, PatchState& patch, const wchar_t* status,
                           const std::string& versionBytes, bool& recorded) {
    WaitForClientToClose(ClientPath(g_baseDir, g_config.ClientExe));
    SetStatus(status);
    if (std::wstring shortfall = UnpackShortfall(archive); !shortfall.empty()) return shortfall;
    BeforeExtraction(archive, patch);
    // Files rebuilt beside the archive join the set, so they reach bin with it or not at all.
    const bool zip = patch.result != PatchResult::Rebuilt;
    if (!StageArchive(zip ? archive : std::wstring(), g_baseDir, versionBytes, patch.rebuilt))
        return L"Falha ao extrair. Extraia update_temp.zip manualmente.";
    DiscardPatchPart(archive);  // what the set was made of
    DeleteFileW(archive.c_str());
    std::wstring held;
    switch (InstallStaged(bin, versionBytes, &patch, recorded, held)) {
    case StagedEnd::Installed:
        break;
    case StagedEnd::Held:
        return HeldFileText(held);
    case StagedEnd::ClientMissing:
        return kIncomplete;
    }
    return std::wstring();
}

// The installed client is the published one. A start's quick look restores the recorded files
// that are gone; the player's check restores every file of the manifest that differs. Both need
// the manifest, and ranges of the archive, which a Drive link does not answer. The ending's status.
static std::wstring MendClient(const std::wstring& archive, const std::wstring& bin, bool checkAll,
                               const RecordLook& look, const std::string& versionBytes) {
    const wchar_t* const current = L"Client atualizado!";
    if (g_config.UpdateManifest.empty() || IsDriveUrl(g_config.UpdateURL) || (!checkAll && look.missing.empty())) {
        DiscardPatchPart(archive);  // a half-received older update has nothing left to finish
        return checkAll ? L"Verifica\u00e7\u00e3o indispon\u00edvel: o servidor n\u00e3o publica um manifesto." : current;
    }
    PatchState patch;
    size_t restoring = 0;
    switch (PrepareRepair(archive, bin, checkAll ? nullptr : &look, patch, restoring)) {
    case PatchResult::Assembled:
    case PatchResult::Rebuilt: {
        SetBar(100);
        // The version stays: version.txt is written again with its own bytes, and a set left by a
        // launcher stopped mid-move names them too.
        std::string version = ReadFileBytes(g_baseDir + L"\\version.txt");
        if (version.empty()) version = versionBytes;
        bool recorded = false;
        if (std::wstring failure = Unpack(archive, bin, patch, L"Restaurando arquivos do jogo...", version, recorded);
            !failure.empty())
            return failure;
        break;
    }
    case PatchResult::Current:
        RecordInstall(bin, patch);
        break;
    default:  // what arrived is continued at the next try
        return patch.shortfall.empty() ? L"Erro ao baixar. Verifique a URL/link." : patch.shortfall;
    }
    if (!checkAll) return current;
    return restoring ? L"Arquivos verificados: " + std::to_wstring(restoring) + L" restaurado(s)."
                     : L"Arquivos verificados: nenhum problema.";
}

// The pass of every start, and again of the player's file check, which ends, when the installed
// client is the published one, in a hash of every file instead of the quick look.
static void RunPass(bool checkAll) {
    g_busy.exchange(true);
    SetDownloadCap(g_config.MaxDownloadKBps * 1024);  // the launcher's own download included

    // Before anything is written: the remote texts' temporary file already needs the folder.
    switch (CheckInstallFolderAccess()) {
    case FolderAccess::Writable:
        break;
    case FolderAccess::Restarting:  // the elevated copy takes over; this one waits unseen, Play off, then closes
        WaitForElevatedCopy();
        PostMessageW(g_hwndMain, WM_CLOSE, 0, 0);
        g_busy.exchange(false);
        return;
    case FolderAccess::Denied:
        Finish(L"Sem permiss\u00e3o para gravar na pasta do jogo.");
        return;
    }

    if (!ApplyRemoteConfig()) return;  // outdated launcher: the window is closing

    const std::wstring archive = g_baseDir + L"\\update_temp.zip";
    const std::wstring bin = ClientFolder(g_baseDir);
    if (PathFileExistsW(archive.c_str())) DeleteFileW(archive.c_str());
    if (!FinishLeftoverSet(bin)) return;

    if (g_config.VersionURL.empty() || g_config.UpdateURL.empty()) {
        Finish(L"Configure as URLs no launcher_config.ini");
        return;
    }

    SetStatus(L"Verificando atualiza\u00e7\u00f5es...");
    // The start's quick look needs only the disk: it runs while the version is asked for.
    RecordLook look;
    std::thread looking;
    if (!checkAll) looking = std::thread([&look, &bin] { look = QuickLook(bin); });
    std::string remoteBytes;  // what version.txt must hold once this version is installed
    g_remoteVersion = FetchRemoteText(g_config.VersionURL, &remoteBytes);
    if (looking.joinable()) looking.join();
    if (g_remoteVersion.empty()) {
        Finish(L"Sem conex\u00e3o. Jogue offline.");
        return;
    }
    if (g_remoteVersion == g_localVersion) {
        DiscardPart(archive);  // a half-received older update has nothing left to finish
        Finish(MendClient(archive, bin, checkAll, look, remoteBytes));
        return;
    }
    // Under a key, the signed configuration names the version its archive is: a version text
    // served beside an older signed set would otherwise be recorded over an older client.
    if (!VersionIsPublished(g_config.UpdatePublicKey, g_config.UpdateVersion, g_remoteVersion)) {
        Finish(L"Atualiza\u00e7\u00e3o sem assinatura v\u00e1lida. Contate o suporte.");
        return;
    }

    SetStatus(AnnounceText(g_localVersion, g_remoteVersion));
    Sleep(kAnnouncePauseMs);

    CreateDirectoryW(bin.c_str(), nullptr);
    PatchState patch;
    const PatchResult patched = PreparePatch(archive, bin, patch);
    if (patched == PatchResult::Failed) {
        // What arrived is continued at the next start.
        Finish(patch.shortfall.empty() ? L"Erro ao baixar. Verifique a URL/link." : patch.shortfall);
        return;
    }
    if (patched == PatchResult::Full) {
        SetStatus(L"Baixando atualiza\u00e7\u00e3o...");
        SetBar(0);
        if (const std::wstring failure = FetchArchive(archive); !failure.empty()) {
            FinishAndDelete(failure, archive);  // the next start downloads again
            return;
        }
    }

    SetBar(100);
    bool recorded = false;
    if (patched == PatchResult::Current) {
        if (!PathFileExistsW(ClientPath(g_baseDir, g_config.ClientExe).c_str())) {
            Finish(kIncomplete);
            return;
        }
        RecordInstall(bin, patch);
        recorded = CommitVersionFile(remoteBytes);
    } else if (const std::wstring failure = Unpack(archive, bin, patch, L"Extraindo arquivos...", remoteBytes, recorded);
               !failure.empty()) {
        Finish(failure);
        return;
    }
    g_localVersion = g_remoteVersion;
    SetWindowTextW(g_hwndVersion, VersionLabel(g_localVersion).c_str());
    // Unrecorded, the next start takes the installed client for the old one and updates again.
    SetStatus(recorded ? L"Atualiza\u00e7\u00e3o conclu\u00edda!"
                       : L"Atualiza\u00e7\u00e3o instalada, mas o version.txt n\u00e3o p\u00f4de ser gravado.");
    SetBar(100);
    End();
}

void UpdateWorker() { RunPass(false); }

void CheckGameFiles() { RunPass(true); }
