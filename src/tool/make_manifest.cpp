#include "tool/make_manifest.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

#include "app/state.h"
#include "patch/chunk_hasher.h"
#include "patch/manifest.h"
#include "patch/zip_file.h"
#include "patch/zip_format.h"
#include "patch/zip_writer.h"
#include "tool/hints.h"
#include "tool/inflate.h"
#include "tool/oem_names.h"
#include "tool/report.h"
#include "tool/zip_listing.h"
#include "verify/der.h"
#include "verify/verify.h"

namespace {

const uint16_t kEncryptedFlag = 0x0001;
const uint16_t kDescriptorFlag = 0x0008;
const uint16_t kUtf8Flag = 0x0800;
const uint16_t kStored = 0, kDeflated = 8;

// The archive read once from start to end, however large: every byte goes into the archive's
// digest, and while an entry's raw range is being read, into that entry's digest too.
class ArchiveReader {
public:
    explicit ArchiveReader(HANDLE file) : file_(file), buffer_(1 << 20) {}

    uint64_t Position() const { return position_; }
    void StartRaw() {
        raw_ = Sha256();
        inRaw_ = true;
    }
    std::optional<std::array<uint8_t, 32>> FinishRaw() {
        inRaw_ = false;
        return raw_.Finish();
    }
    std::optional<std::array<uint8_t, 32>> FinishArchive() { return archive_.Finish(); }

    // Up to `count` (at most 1 MiB) bytes ahead, not consumed yet; fewer at the end of the file.
    std::string_view Peek(size_t count) {
        Load(count);
        return std::string_view(reinterpret_cast<const char*>(&buffer_[begin_]), std::min(count, end_ - begin_));
    }
    // Consumes `count` bytes that Peek showed.
    void Consume(size_t count) {
        archive_.Update(&buffer_[begin_], count);
        if (inRaw_) raw_.Update(&buffer_[begin_], count);
        begin_ += count;
        position_ += count;
    }
    // Up to `count` next bytes, consumed; 0 only at the end of the file (or a read failure).
    size_t Take(uint8_t* out, size_t count) {
        if (count == 0 || !Load(1)) return 0;
        const size_t n = std::min(count, end_ - begin_);
        std::memcpy(out, &buffer_[begin_], n);
        Consume(n);
        return n;
    }
    bool Skip(uint64_t count) {
        while (count > 0) {
            if (!Load(1)) return false;
            const size_t n = static_cast<size_t>(std::min<uint64_t>(count, end_ - begin_));
            Consume(n);
            count -= n;
        }
        return true;
    }

private:
    // At least `count` bytes in the buffer, unless the file ends first.
    bool Load(size_t count) {
        if (end_ - begin_ >= count) return true;
        std::memmove(buffer_.data(), &buffer_[begin_], end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
        while (end_ < count) {
            DWORD got = 0;
            if (!ReadFile(file_, &buffer_[end_], static_cast<DWORD>(buffer_.size() - end_), &got, nullptr) || got == 0)
                return false;
            end_ += got;
        }
        return true;
    }
    HANDLE file_;
    std::vector<uint8_t> buffer_;
    size_t begin_ = 0, end_ = 0;
    uint64_t position_ = 0;
    Sha256 archive_, raw_;
    bool inRaw_ = false;
};

// True when a local header (`header`, of `length` bytes) carries a zip64 extra field: its data
// descriptor then holds 8-byte sizes, whatever the sizes are.
bool HasZip64Extra(std::string_view header, uint64_t length) {
    for (size_t at = 30 + static_cast<size_t>(Little(header, 26, 2)); at + 4 <= length;) {
        if (Little(header, at, 2) == 0x0001) return true;
        at += 4 + static_cast<size_t>(Little(header, at + 2, 2));
    }
    return false;
}

// The data descriptor after an entry's data: 12 to 24 bytes, with or without its signature,
// sizes in 4 or 8 bytes. Its length is that of the form whose values match the central
// directory's, tried first in the width the zip64 fields suggest; when several forms match,
// the one that ends where the next record starts. 0 when none matches.
size_t DescriptorLength(std::string_view after, const ZipEntry& central, bool wide, uint64_t toNext) {
    size_t found = 0;
    for (size_t width : {wide ? size_t{8} : size_t{4}, wide ? size_t{4} : size_t{8}}) {
        for (bool signature : {true, false}) {
            const size_t at = signature ? 4 : 0, length = at + 4 + 2 * width;
            if (length > after.size() || (signature && Little(after, 0, 4) != kDescriptorSignature)) continue;
            if (Little(after, at, 4) != central.crc32 || Little(after, at + 4, width) != central.compressedSize ||
                Little(after, at + 4 + width, width) != central.size)
                continue;
            if (length == toNext) return length;
            if (found == 0) found = length;
        }
    }
    return found;
}

// Streams the entry's data through `sink`: as it is when stored, inflated when deflated.
// Empty on success, else what went wrong.
std::wstring ReadContent(ArchiveReader& reader, const ZipEntry& central, const InflateOutput& sink) {
    uint64_t left = central.compressedSize;
    if (central.method == kStored) {
        if (central.compressedSize != central.size) return L"tamanhos do diretório central não conferem";
        std::vector<uint8_t> buffer(1 << 16);
        while (left > 0) {
            const size_t got = reader.Take(buffer.data(), static_cast<size_t>(std::min<uint64_t>(left, buffer.size())));
            if (got == 0) return L"dados cortados (o arquivo termina antes)";
            sink(buffer.data(), got);
            left -= got;
        }
        return std::wstring();
    }
    if (central.method != kDeflated)
        return L"método de compressão " + std::to_wstring(central.method) +
               L" não suportado: refaça o zip com deflate ou sem compressão";
    const InflateInput input = [&reader, &left](uint8_t* buffer, size_t capacity) {
        const size_t got = reader.Take(buffer, static_cast<size_t>(std::min<uint64_t>(left, capacity)));
        left -= got;
        return got;
    };
    if (!Inflate(input, sink, central.size)) return L"dados comprimidos inválidos ou maiores que o tamanho declarado";
    return reader.Skip(left) ? std::wstring() : L"dados cortados (o arquivo termina antes)";
}

// One entry, read from its local header through any data descriptor. Empty on success, else
// what went wrong.
std::wstring ReadEntry(ArchiveReader& reader, const ZipEntry& central, uint64_t nextStart, ManifestEntry* entry) {
    if (central.flags & kEncryptedFlag) return L"entrada criptografada: refaça o zip sem senha";
    reader.StartRaw();
    const std::string_view fixed = reader.Peek(30);
    const std::optional<LocalHeader> local =
        fixed.size() < 30 ? std::nullopt : ReadLocalHeader(reader.Peek(30 + Little(fixed, 26, 2) + Little(fixed, 28, 2)));
    if (!local) return L"cabeçalho local ausente ou cortado na posição " + std::to_wstring(central.offset);
    // A patch copies the local header as it is and names the entry after it.
    if (local->name != central.name || local->method != central.method || ((local->flags ^ central.flags) & kUtf8Flag))
        return L"o cabeçalho local não confere com o diretório central (nome ou método)";
    const bool wide = central.zip64 || HasZip64Extra(reader.Peek(local->headerLength), local->headerLength);
    reader.Consume(static_cast<size_t>(local->headerLength));

    Sha256 content;
    uint32_t crc = 0;
    uint64_t produced = 0;
    // A big stored file is listed by its chunks too: a patch can then fetch only those that change.
    const bool chunked = central.method == kStored && central.size >= kChunkedFileBytes;
    ChunkHasher chunks;
    const InflateOutput sink = [&](const uint8_t* data, size_t size) {
        content.Update(data, size);
        if (chunked) chunks.Update(data, size);
        crc = Crc32(crc, data, size);
        produced += size;
        return true;
    };
    std::wstring failure = ReadContent(reader, central, sink);
    if (!failure.empty()) return failure;
    if (produced != central.size)
        return L"tamanho descompactado " + std::to_wstring(produced) + L" difere do declarado (" +
               std::to_wstring(central.size) + L")";
    if (crc != central.crc32) return L"CRC-32 não confere: o zip está corrompido";
    if (local->flags & kDescriptorFlag) {
        const size_t length = DescriptorLength(reader.Peek(24), central, wide, nextStart - reader.Position());
        if (length == 0) return L"descritor de dados ausente ou diferente do diretório central";
        reader.Consume(length);
    }
    const std::optional<std::array<uint8_t, 32>> raw = reader.FinishRaw(), digest = content.Finish();
    if (!raw || !digest) return L"falha ao calcular SHA-256";
    entry->path = WithoutLeadingDotSlash(EntryNameUtf8(central));  // "./" alone leaves it empty: dropped below
    entry->folder = !entry->path.empty() && entry->path.back() == '/';
    if (entry->folder && central.size != 0) return L"pasta com conteúdo";
    entry->size = central.size;
    if (!entry->folder) entry->contentSha256 = *digest;
    entry->offset = central.offset;
    entry->rawLength = reader.Position() - central.offset;
    entry->rawSha256 = *raw;
    entry->crc32 = central.crc32;
    entry->compressedSize = central.compressedSize;
    if (chunked && !entry->folder) {
        std::optional<std::vector<FileChunk>> list = chunks.Finish();
        if (!list) return L"falha ao calcular SHA-256";
        entry->dataOffset = central.offset + local->headerLength;
        entry->chunks = std::move(*list);
    }
    return std::wstring();
}

int Fail(const std::wstring& text) {
    PrintError(MarkedLine(Mark::Error, text));
    return 1;
}

std::wstring Shown(const std::string& utf8) { return Quoted(DecodeText(utf8)); }

// The first entry that makes the manifest unreadable with those before it (a repeated name,
// a file where a folder is): the failing prefixes are found by halving.
size_t FirstConflict(const Manifest& manifest) {
    size_t good = 0, bad = manifest.entries.size();
    while (bad - good > 1) {
        const size_t middle = good + (bad - good) / 2;
        Manifest prefix{manifest.archiveSize, manifest.archiveSha256,
                        {manifest.entries.begin(), manifest.entries.begin() + static_cast<std::ptrdiff_t>(middle)}};
        (ParseManifest(FormatManifest(prefix)) ? good : bad) = middle;
    }
    return bad - 1;
}

std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH * 4] = {};
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
    return length > 0 && length < MAX_PATH * 4 ? full : path;
}

bool WriteWhole(const std::wstring& path, const std::string& bytes) {
    const std::wstring staging = path + L".gravando";
    bool written = false;
    {
        FileHandle file(CreateFileW(staging.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD done = 0;
        written = file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) &&
                  done == bytes.size();
    }
    if (written && MoveFileExW(staging.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    DeleteFileW(staging.c_str());
    return false;
}

}  // namespace

int MakeManifest(const std::wstring& archivePath, const std::wstring& manifestPath) {
    if (CompareStringOrdinal(FullPath(archivePath).c_str(), -1, FullPath(manifestPath).c_str(), -1, TRUE) == CSTR_EQUAL)
        return Fail(L"O manifesto não pode ser gravado sobre o próprio zip: " + manifestPath);
    const std::optional<ZipListing> zip = ListZip(archivePath);
    if (!zip) return Fail(L"Não é um zip legível (ou não foi possível abrir): " + archivePath);
    Manifest manifest;
    manifest.archiveSize = zip->fileSize;
    manifest.entries.resize(zip->entries.size());
    // Read in the order the entries lie in the file, so the archive is read once, front to back.
    std::vector<size_t> order(zip->entries.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return zip->entries[a].offset < zip->entries[b].offset; });
    FileHandle file(CreateFileW(archivePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return Fail(L"Não foi possível abrir " + archivePath);
    ArchiveReader reader(file.get());
    for (size_t i = 0; i < order.size(); ++i) {
        const size_t index = order[i];
        const ZipEntry& central = zip->entries[index];
        const uint64_t nextStart = i + 1 < order.size() ? zip->entries[order[i + 1]].offset : zip->end.directoryOffset;
        const std::wstring name = L"Entrada " + Shown(EntryNameUtf8(central)) + L": ";
        if (central.offset < reader.Position())
            return Fail(name + L"sobrepõe a anterior no arquivo (zip malformado)");
        if (!reader.Skip(central.offset - reader.Position()))
            return Fail(name + L"começa além do fim do arquivo");
        const std::wstring failure = ReadEntry(reader, central, nextStart, &manifest.entries[index]);
        if (!failure.empty()) return Fail(name + failure);
        if (!manifest.entries[index].path.empty() && !IsSafeManifestPath(manifest.entries[index].path))
            return Fail(name + L"caminho que o launcher recusa (absoluto, com '..', '\\', ':', "
                                              L"caracteres de controle ou nome reservado do Windows): renomeie-a");
    }
    manifest.entries.erase(std::remove_if(manifest.entries.begin(), manifest.entries.end(),
                                          [](const ManifestEntry& e) { return e.path.empty(); }),
                           manifest.entries.end());
    if (!reader.Skip(manifest.archiveSize - reader.Position())) return Fail(L"Falha ao ler " + archivePath);
    const std::optional<std::array<uint8_t, 32>> digest = reader.FinishArchive();
    if (!digest) return Fail(L"Falha ao calcular SHA-256 de " + archivePath);
    manifest.archiveSha256 = *digest;

    // A deflated file cannot be cut into ranges: a patch that changes it fetches it whole.
    for (size_t index : order) {
        const ZipEntry& central = zip->entries[index];
        if (central.method == kDeflated && central.size >= kChunkedFileBytes && !manifest.entries[index].folder)
            PrintLine(MarkedLine(Mark::Warning, L"Entrada " + Shown(manifest.entries[index].path) + L": comprimida (" +
                                                    std::to_wstring(central.size >> 20) +
                                                    L" MB): um patch que a altere a baixa inteira; guarde-a sem "
                                                    L"compressão para baixar só os trechos alterados (zip -n .pak, "
                                                    L"7-Zip -mx=0 ou \"Armazenar\")"));
    }
    const std::string text = FormatManifest(manifest);
    if (!ParseManifest(text))
        return Fail(L"Entrada " + Shown(manifest.entries[FirstConflict(manifest)].path) +
                    L": repete o nome de outra (maiúsculas e minúsculas contam igual no Windows) ou fica sob um arquivo "
                    L"de mesmo nome: renomeie-a");
    if (!WriteWhole(manifestPath, text)) return Fail(L"Não foi possível gravar " + manifestPath);
    const auto folders = std::count_if(manifest.entries.begin(), manifest.entries.end(), [](const ManifestEntry& e) { return e.folder; });
    const auto chunked = std::count_if(manifest.entries.begin(), manifest.entries.end(),
                                       [](const ManifestEntry& e) { return !e.chunks.empty(); });
    PrintLine(MarkedLine(Mark::Ok, L"Manifesto gravado em " + manifestPath + L": " +
                                       std::to_wstring(manifest.entries.size() - static_cast<size_t>(folders)) +
                                       L" arquivo(s), " + std::to_wstring(folders) + L" pasta(s), " +
                                       std::to_wstring(chunked) + L" em trechos"));
    if (const std::wstring misread = MisreadNamesWarning(MisreadNames(zip->entries)); !misread.empty())
        PrintLine(MarkedLine(Mark::Warning, misread));
    PrintError(L"Publique-o ao lado do zip e aponte UpdateManifest= para ele; com UpdatePublicKey, assine-o antes com "
               L"VelmoraTool sign-config. Sem UpdatePublicKey e com UpdateSHA256, publique também:");
    PrintLine(L"UpdateManifestSHA256=" + FormatSha256Hex(Sha256Of(text).value_or(std::array<uint8_t, 32>{})));
    return 0;
}
