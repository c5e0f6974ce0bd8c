// VelmoraTool: the operator's companion to the launcher. Checks an install's whole update
// chain, and makes and uses the publisher's signing key.
#include <windows.h>

#include <string>

#include "tool/check.h"
#include "tool/make_manifest.h"
#include "tool/report.h"
#include "tool/signing.h"

namespace {

const wchar_t kUsage[] =
    L"Uso:\r\n"
    L"  VelmoraTool check [pasta]                  verifica a instalação e toda a cadeia de atualização\r\n"
    L"  VelmoraTool keygen <arquivo>               gera o par de chaves P-256 (grava a chave privada)\r\n"
    L"  VelmoraTool sign <arquivo.zip> <chave>     imprime UpdateSHA256= e UpdateSignature=\r\n"
    L"  VelmoraTool sign-config <arquivo> <chave>  assina a configuração remota ou o manifesto (linha ;sig=)\r\n"
    L"  VelmoraTool manifest <arquivo.zip> [manifesto]\r\n"
    L"                                             grava o manifesto de patch (padrão: <arquivo.zip>.manifest)\r\n"
    L"Código de saída: 0 tudo certo, 1 erro encontrado ou falha, 2 uso incorreto.";

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"check" && argc <= 3) return RunCheck(argc == 3 ? argv[2] : L".");
    if (command == L"keygen" && argc == 3) return Keygen(argv[2]);
    if (command == L"sign" && argc == 4) return SignArchive(argv[2], argv[3]);
    if (command == L"sign-config" && argc == 4) return SignConfig(argv[2], argv[3]);
    if (command == L"manifest" && (argc == 3 || argc == 4))
        return MakeManifest(argv[2], argc == 4 ? argv[3] : std::wstring(argv[2]) + L".manifest");
    PrintError(kUsage);
    return 2;
}
