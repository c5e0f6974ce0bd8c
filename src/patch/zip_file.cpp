#include "patch/zip_file.h"

#include "app/state.h"

std::optional<std::string> ReadFileRange(HANDLE file, uint64_t offset, uint64_t size) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (size > (256u << 20) || !SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) return std::nullopt;
    std::string bytes(static_cast<size_t>(size), '\0');
    for (size_t done = 0; done < bytes.size();) {
        DWORD got = 0;
        if (!ReadFile(file, &bytes[done], static_cast<DWORD>(bytes.size() - done), &got, nullptr) || got == 0)
            return std::nullopt;
        done += got;
    }
    return bytes;
}

std::optional<ZipListing> ListZip(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !GetFileSizeEx(file.get(), &size)) return std::nullopt;
    const uint64_t fileSize = static_cast<uint64_t>(size.QuadPart);
    const uint64_t tailOffset = fileSize > kZipTailBytes ? fileSize - kZipTailBytes : 0;
    const std::optional<std::string> tail = ReadFileRange(file.get(), tailOffset, fileSize - tailOffset);
    const std::optional<ZipEnd> end = tail ? FindZipEnd(*tail, tailOffset) : std::nullopt;
    const std::optional<std::string> directory =
        end ? ReadFileRange(file.get(), end->directoryOffset, end->directorySize) : std::nullopt;
    std::optional<std::vector<ZipEntry>> entries = directory ? ReadZipDirectory(*directory, end->entryCount) : std::nullopt;
    if (!entries) return std::nullopt;
    return ZipListing{*end, std::move(*entries), fileSize};
}
