// The published launcher, judged as a retired launcher judges it before replacing itself.
#include <windows.h>

#include <optional>
#include <vector>

#include "app/state.h"
#include "net/resume.h"
#include "tool/check.h"
#include "tool/requests.h"
#include "verify/der.h"
#include "verify/launcher_image.h"
#include "verify/verification.h"
#include "verify/verify.h"

namespace {

void CheckDigestAndSignature(Report& report, const std::array<uint8_t, 32>& digest) {
    const std::wstring actual = FormatSha256Hex(digest);
    if (g_config.LauncherSHA256.empty())
        report(Mark::Error, L"LauncherSHA256 ausente: sem ele o launcher não se substitui; publique LauncherSHA256=" + actual);
    else if (CheckArchive(digest, g_config.LauncherSHA256, L"", L"") != ArchiveVerdict::Trusted)
        report(Mark::Error, L"LauncherSHA256 não confere com o arquivo (o launcher o recusa): publique LauncherSHA256=" + actual);
    else
        report(Mark::Ok, L"LauncherSHA256 confere com o arquivo");
    if (g_config.UpdatePublicKey.empty()) return;
    if (CheckArchive(digest, L"", g_config.LauncherSignature, g_config.UpdatePublicKey) == ArchiveVerdict::Trusted)
        report(Mark::Ok, L"LauncherSignature confere com UpdatePublicKey");
    else
        report(Mark::Error, std::wstring(g_config.LauncherSignature.empty() ? L"LauncherSignature ausente"
                                                                            : L"LauncherSignature não confere com UpdatePublicKey") +
                                L" (o launcher recusa o novo launcher): assine o exe com VelmoraTool sign");
}

}  // namespace

void CheckPublishedLauncher(Report& report) {
    const std::wstring path = g_baseDir + L"\\launcher.exe";
    Sha256 hash;
    ArchiveHooks hooks;
    hooks.restarting = [&hash]() { hash = Sha256(); };
    hooks.chunk = [&hash](const char* data, size_t size) { hash.Update(data, size); };
    const bool downloaded = DownloadArchive(g_config.LauncherURL, L"launcher", path, hooks, ResumePolicy{0, 0, 30000});
    const std::vector<SeenRequest> seen = TakeRequests();
    ReportRequests(report, L"LauncherURL", seen);
    const std::optional<std::array<uint8_t, 32>> digest = downloaded ? hash.Finish() : std::nullopt;
    if (!digest) {
        report(Mark::Error, L"LauncherURL: " + ExplainFailure(seen, false) + L" (o launcher mostra o aviso de desatualizado)");
        return;
    }
    CheckDigestAndSignature(report, *digest);
    const std::string image = ReadFileBytes(path);
    const std::wstring builds = L"MinLauncherBuild " + std::to_wstring(g_config.MinLauncherBuild);
    const std::optional<int32_t> build = LauncherBuildOf(image);
    switch (JudgeLauncher(image, g_config.MinLauncherBuild)) {
    case LauncherVerdict::NotAProgram:
        report(Mark::Error, L"LauncherURL: não é um programa Windows de 64 bits com janela (PE32+ GUI x86-64): publique o "
                            L"VelmoraLauncher.exe");
        break;
    case LauncherVerdict::NoBuild:
        report(Mark::Error, L"LauncherURL: o exe não tem LauncherBuild no recurso de versão: publique um VelmoraLauncher.exe");
        break;
    case LauncherVerdict::TooOld:
        report(Mark::Error, L"LauncherURL: build " + std::to_wstring(*build) + L", abaixo de " + builds +
                                L" (o launcher o recusa): publique o build novo");
        break;
    case LauncherVerdict::Accepted:
        report(Mark::Ok, L"LauncherURL: build " + std::to_wstring(*build) + L", " + builds + L": aceito");
        break;
    }
}
