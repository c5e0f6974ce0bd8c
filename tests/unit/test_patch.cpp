#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "patch/chunk_rule.h"
#include "patch/installed_files.h"
#include "patch/manifest.h"
#include "patch/zip_writer.h"
#include "verify/verify.h"
#include "test_support.h"
#include "tool/zip_listing.h"

namespace {

std::array<uint8_t, 32> Filled(uint8_t byte) {
    std::array<uint8_t, 32> digest{};
    digest.fill(byte);
    return digest;
}

Manifest Sample() {
    Manifest m{10000, Filled(0xA1), {}};
    m.entries.push_back({"data/", true, 0, {}, 0, 36, Filled(0xB2), 0, 0});
    m.entries.push_back({"data/Pa\xC3\xA7o.pak", false, 5000, Filled(0xC3), 36, 2100, Filled(0xD4), 0xDEADBEEF, 2000});
    m.entries.push_back({"velmoraclient.exe", false, 0, Filled(0xE5), 2136, 47, Filled(0xF6), 0, 0});
    return m;
}

// Every line of the sample's text, with line `index` replaced (or removed when `line` is null).
std::string SampleWith(size_t index, const char* line, const Manifest& sample = Sample()) {
    const std::string text = FormatManifest(sample);
    std::string out;
    size_t at = 0;
    for (size_t i = 0; at < text.size(); ++i) {
        const size_t end = text.find('\n', at) + 1;
        out += i != index ? text.substr(at, end - at) : line ? std::string(line) + "\n" : "";
        at = end;
    }
    return out;
}

TEST(Manifest, ReadsBackWhatItWrites) {
    const std::string text = FormatManifest(Sample()) + ";sig=AAAA\n";
    const std::optional<Manifest> read = ParseManifest(text);
    ASSERT_TRUE(read);
    EXPECT_EQ(FormatManifest(*read), FormatManifest(Sample()));
    EXPECT_EQ(read->entries.at(1).crc32, 0xDEADBEEF);
    EXPECT_EQ(read->entries.at(1).contentSha256, Filled(0xC3));
    EXPECT_TRUE(read->entries.at(0).folder);
    std::string crlf;
    for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_TRUE(ParseManifest(crlf));
}

const std::string kHash(64, 'a');
const std::string kFileStart = "F\t5\t" + kHash + "\t3000\t40\t" + kHash + "\t00000000\t5\t";
const std::string kSecondFile = "F\t5\t" + kHash + "\t4000\t40\t" + kHash + "\t00000000\t5\t";

std::string Repeated(const std::string& piece, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

// Deep paths at the length limit fill the largest manifest a launcher reads; checking them must
// take time in proportion to the text (it once took hours). The bound is far above the expected.
TEST(Manifest, LargestManifestParsesQuickly) {
    std::string text = "velmora-manifest 1\narchive\t100000000\t" + kHash + "\n";
    for (size_t i = 0; text.size() < (size_t{16} << 20) - 40000; ++i)
        text += "F\t5\t" + kHash + "\t" + std::to_string(i * 40) + "\t40\t" + kHash + "\t00000000\t5\t" +
                Repeated("a/", 16370) + std::to_string(i) + "\n";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ParseManifest(text));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0);
}

// A manifest comes from a server: every deviation is refused whole.
TEST(Manifest, RefusesWhatItCannotTrust) {
    const struct {
        size_t line;
        std::string text;
        bool remove = false;
        std::string also;  // a line added at the end
    } cases[] = {
        {0, "velmora-manifest 3"},
        {1, "archive\t10000\t" + kHash.substr(1)},                 // a digest one digit short
        {1, "archive\t+10000\t" + kHash},
        {1, "archive\t18446744073709551616\t" + kHash},             // 2^64
        {3, kFileStart + "/etc/passwd"},
        {3, kFileStart + "C:/x"},
        {3, kFileStart + "a\\b"},
        {3, kFileStart + "a/../b"},
        {3, kFileStart + "a/./b"},
        {3, kFileStart + "a//b"},
        {3, kFileStart + "a\tb"},
        {3, kFileStart + "a\x7f"},
        {3, kFileStart + "nul.txt"},
        {3, kFileStart + "a./b"},
        {3, kFileStart + "data/x.pak."},
        {3, kFileStart + "data/x.pak "},
        {3, kFileStart + "con .txt"},
        {3, kFileStart + "CONIN$"},
        {3, kFileStart + "a/conout$.log"},
        {3, kFileStart + "COM\xC2\xB9"},                                // COM and a superscript one
        {3, kFileStart + "lpt\xC2\xB3.txt"},
        {3, kFileStart + "bin/PROGRA~1.DLL"},                         // another file's 8.3 alias
        {3, kFileStart + "$MFT"},
        {3, kFileStart + std::string(256, 'n')},                      // a name beyond 255 units
        {3, kFileStart + Repeated("a/", 16384) + "f"},                // 32769 units
        {3, "D\t3000\t40\t" + kHash + "\t00000000\t0\t" + Repeated(Repeated("\xE1\xBB\x87", 200) + "/", 110)},  // 66110 bytes
        {4, kFileStart + "\xE1\xBB\x86", false, kSecondFile + "\xE1\xBB\x87"},  // Vietnamese E with dot and circumflex
        {4, kFileStart + "\xEF\xBC\xA1", false, kSecondFile + "\xEF\xBD\x81"},  // fullwidth A
        {4, kFileStart + "\xC6\x80", false, kSecondFile + "\xC9\x83"},             // Latin Extended-B b with stroke
        {3, kFileStart + "bad\xC3"},                                // not UTF-8
        {3, kFileStart + "folder/"},                               // a file named as a folder
        {3, "D\t3000\t40\t" + kHash + "\t00000000\t0\tfolder"},    // and a folder as a file
        {3, kFileStart + "VELMORACLIENT.EXE"},                     // a repeat, letter case folded
        {4, kFileStart + "DATA/PA\xC3\x87O.PAK"},                  // also beyond ASCII
        {3, kFileStart + "velmoraclient.exe/x"},                   // under a file
        {3, kFileStart + "DATA"},                                  // a file where a folder is
        {3, "F\t5\t" + kHash + "\t9990\t11\t" + kHash + "\t00000000\t5\tx"},  // past the end
        {3, "F\t5\t" + kHash + "\t18446744073709551615\t40\t" + kHash + "\t00000000\t5\tx"},  // offset + length overflows
        {3, "F\t5\t" + kHash + "\t3000\t34\t" + kHash + "\t00000000\t5\tx"},  // no room for a header
        {3, "F\t5\t" + kHash + "\t2100\t40\t" + kHash + "\t00000000\t5\tx"},  // overlaps the one before
        {3, "F\t5\t" + kHash + "\t3000\t40\t" + kHash + "\t0000000g\t5\tx"},
        {3, "F\t5\t" + kHash + "\t3000\t40\t" + kHash + "\t00000000\tx"},     // a field missing
        {3, "X\t3000"},
        {3, ""},                                                    // a blank line
        {1, "", true},                                              // no archive line
    };
    for (const auto& c : cases) {
        const std::string text = SampleWith(c.line, c.remove ? nullptr : c.text.c_str());
        EXPECT_FALSE(ParseManifest(c.also.empty() ? text : text + c.also + "\n")) << c.text.substr(0, 80);
    }
    // The control rows pass: at the limits, and letters Windows does not fold together.
    for (const std::string& path : {std::string("data/sub/x"), std::string(255, 'n'), Repeated("a/", 16383) + "f",
                                    std::string("d/COM10"), std::string("d/~1.txt.bin")})
        EXPECT_TRUE(ParseManifest(SampleWith(3, (kFileStart + path).c_str()))) << path.substr(0, 80);
    EXPECT_TRUE(ParseManifest(SampleWith(3, ("D\t3000\t40\t" + kHash + "\t00000000\t0\t" +
                                             Repeated(Repeated("\xE1\xBB\x87", 200) + "/", 109)).c_str())));
    EXPECT_TRUE(ParseManifest(SampleWith(4, (kFileStart + "\xC3\x9F").c_str()) + kSecondFile + "ss\n"));
    // A leading "./", as tar writes it, is dropped; "./" alone is the top folder and lists nothing.
    for (const char* path : {"./data/sub/x", "././data/sub/x"}) {
        const std::optional<Manifest> read = ParseManifest(SampleWith(3, (kFileStart + path).c_str()));
        ASSERT_TRUE(read) << path;
        EXPECT_EQ(read->entries.at(1).path, "data/sub/x");
    }
    const std::optional<Manifest> top = ParseManifest(SampleWith(3, ("D\t3000\t40\t" + kHash + "\t00000000\t0\t./").c_str()));
    ASSERT_TRUE(top);
    EXPECT_EQ(top->entries.size(), 2u);
    EXPECT_FALSE(ParseManifest(""));
}

// One stored file of 8 MiB in three chunks, its content 50 bytes into its raw range.
Manifest ChunkedSample() {
    const uint64_t MiB = 1 << 20;
    Manifest m{20 * MiB, Filled(0xA1), {}};
    m.entries.push_back({"big.pak", false, 8 * MiB, Filled(1), 0, 8 * MiB + 100, Filled(2), 0, 8 * MiB, 50, {}});
    m.entries[0].chunks = {{0, 3 * MiB, Filled(3)}, {3 * MiB, 4 * MiB, Filled(4)}, {7 * MiB, MiB, Filled(5)}};
    return m;
}

TEST(Manifest, ChunkLinesReadBackAndAnyDeviationIsRefused) {
    const std::string text = FormatManifest(ChunkedSample());
    const std::optional<Manifest> read = ParseManifest(text);
    ASSERT_TRUE(read && read->entries.at(0).chunks.size() == 3);
    EXPECT_EQ(FormatManifest(*read), text);
    EXPECT_EQ(read->entries[0].dataOffset, 50u);
    const std::string digest(64, 'a'), file = "F\t8388608\t" + digest + "\t0\t8388708\t" + digest + "\t00000000\t";
    const struct {
        size_t line;
        std::string text;
        bool remove = false;
    } cases[] = {
        {0, "velmora-manifest 1"},                          // the old format lists no chunks
        {3, "S\t20"},                                       // content inside the local header
        {3, "S\t101"},                                      // content past the raw range
        {3, "", true},                                      // chunks with no content offset
        {2, file + "8388607\tbig.pak"},                     // not stored
        {4, "C\t1\t3145728\t" + digest},                    // not from the start
        {5, "C\t3145728\t4194305\t" + digest},              // longer than the longest chunk
        {6, "C\t7340032\t1048575\t" + digest},              // short of the file's end
        {6, "C\t7340032\t0\t" + digest},
        {6, "C\t7340032\t1048576\t" + digest.substr(1)},
        {6, "C\t7340032\t1048576\t" + digest + "\nC\t8388608\t1\t" + digest},  // past the file's end
    };
    for (const auto& c : cases)
        EXPECT_FALSE(ParseManifest(SampleWith(c.line, c.remove ? nullptr : c.text.c_str(), ChunkedSample()))) << c.text;
}

// The boundaries of `data` fed to the cutter `piece` bytes at a time.
std::vector<uint64_t> Cuts(const std::string& data, size_t piece) {
    ChunkCutter cutter;
    std::vector<uint64_t> cuts;
    for (size_t at = 0; at < data.size(); at += piece) {
        std::vector<size_t> found;
        FindCuts(cutter, reinterpret_cast<const uint8_t*>(data.data()) + at, std::min(piece, data.size() - at), found);
        for (size_t cut : found) cuts.push_back(at + cut);
    }
    return cuts;
}

TEST(ChunkRule, BoundariesFollowTheContentAndKeepTheirLengths) {
    std::mt19937_64 random(26);
    std::string data(12 << 20, '\0');
    for (char& c : data) c = static_cast<char>(random());
    const std::vector<uint64_t> cuts = Cuts(data, 1 << 20);
    const struct {
        size_t shift;  // bytes put before the data
        size_t piece;
    } cases[] = {{0, 1}, {0, 65543}, {1, 1 << 20}, {100 << 10, 4096}, {5 << 20, 1 << 20}};
    for (const auto& c : cases) {
        const std::vector<uint64_t> shifted = Cuts(data.substr(data.size() - c.shift) + data, c.piece);
        // Once the chunks fall back into step, every boundary of the data is one of the shifted data's.
        for (size_t i = cuts.size() - 4; i < cuts.size(); ++i)
            EXPECT_TRUE(std::count(shifted.begin(), shifted.end(), cuts[i] + c.shift)) << c.shift << " " << c.piece;
    }
    for (const std::string& bytes : {data, std::string(9 << 20, '\0')}) {
        uint64_t last = 0;
        for (uint64_t cut : Cuts(bytes, 1 << 20)) {
            EXPECT_GE(cut - last, kChunkMinBytes);
            EXPECT_LE(cut - last, kChunkMaxBytes);
            last = cut;
        }
        EXPECT_GT(last, bytes.size() - kChunkMaxBytes);
    }
    EXPECT_LE(data.size() / cuts.size(), uint64_t{1} << 20);  // the average length
}

// An old file's scan hashes its chunks on two threads, a window at a time: they are the rule's
// whatever crosses a window's edge (random bytes; zeros, whose 4 MiB chunks end on the edge).
TEST(ChunkRule, AFileScanFindsTheRulesChunks) {
    const TempDir dir;
    std::mt19937_64 random(27);
    std::string noise(12 << 20, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    for (const std::string& bytes : {noise, std::string(9 << 20, '\0')}) {
        WriteBytes(dir.path / "pack.pak", bytes);
        const std::optional<std::vector<FileChunk>> chunks = FileHasher().Chunks((dir.path / "pack.pak").wstring());
        ASSERT_TRUE(chunks);
        std::vector<uint64_t> ends, cuts = Cuts(bytes, 1 << 20);
        if (cuts.back() != bytes.size()) cuts.push_back(bytes.size());
        for (const FileChunk& chunk : *chunks) {
            EXPECT_EQ(chunk.offset, ends.empty() ? 0 : ends.back());
            EXPECT_EQ(chunk.sha256, Sha256Of(std::string_view(bytes).substr(chunk.offset, chunk.length)));
            ends.push_back(chunk.offset + chunk.length);
        }
        EXPECT_EQ(ends, cuts);
    }
}

std::string StoredLocalHeader(const std::string& name, uint32_t crc, uint32_t size) {
    std::string raw = FolderLocalHeader(name);
    for (int i = 0; i < 4; ++i) raw[14 + i] = static_cast<char>(crc >> (8 * i));
    for (int field : {18, 22})
        for (int i = 0; i < 4; ++i) raw[field + i] = static_cast<char>(size >> (8 * i));
    return raw;
}

TEST(ZipWriter, LocalHeaders) {
    const std::string folder = FolderLocalHeader("M\xC3\xBAsica/");
    const std::optional<LocalHeader> read = ReadLocalHeader(folder + "data after it");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->name, "M\xC3\xBAsica/");
    EXPECT_EQ(read->headerLength, folder.size());
    EXPECT_EQ(read->flags & 0x0800, 0x0800);  // the UTF-8 name flag
    EXPECT_EQ(ReadLocalHeader(FolderLocalHeader("plain/"))->flags, 0);
    EXPECT_FALSE(ReadLocalHeader(folder.substr(0, folder.size() - 1)));  // name cut short
    EXPECT_FALSE(ReadLocalHeader(std::string(folder).replace(2, 1, "\x01")));
}

// An archive laid out by the writer is read back by the tool's reader, value for value.
TEST(ZipWriter, DirectoryReadsBack) {
    const uint64_t k4G = 0x100000000;
    const struct {
        const char* label;
        uint64_t offset, size, directoryOffset;
        size_t count;
    } cases[] = {
        {"small", 0, 5, 0, 2},
        {"size beyond 4 GiB", 0, 5 * k4G, 5 * k4G + 100, 2},
        {"offset beyond 4 GiB", 6 * k4G, 5, 6 * k4G + 100, 2},
        {"offset at the 32-bit marker", 0xFFFFFFFF, 5, 0xFFFFFFFF + 100, 2},
        {"65535 entries", 0, 5, 0, 65535},
    };
    for (const auto& c : cases) {
        std::vector<CentralEntry> entries;
        for (size_t i = 0; i < c.count; ++i) {
            const bool folder = i % 2 == 0;
            const std::string name = folder ? "d" + std::to_string(i) + "/" : "f" + std::to_string(i) + ".bin";
            CentralEntry e;
            e.header = *ReadLocalHeader(folder ? FolderLocalHeader(name) : StoredLocalHeader(name, 0, 0));
            e.folder = folder;
            e.crc32 = folder ? 0 : 0x12345678 + static_cast<uint32_t>(i);
            e.size = folder ? 0 : c.size;
            e.compressedSize = folder ? 0 : c.size - 1;
            e.offset = c.offset + i * 1000;
            entries.push_back(e);
        }
        const std::string tail = CentralDirectory(entries, c.directoryOffset);
        const std::optional<ZipEnd> end = FindZipEnd(tail, c.directoryOffset);
        ASSERT_TRUE(end) << c.label;
        EXPECT_EQ(end->directoryOffset, c.directoryOffset) << c.label;
        EXPECT_EQ(end->entryCount, c.count) << c.label;
        EXPECT_EQ(end->zip64, c.directoryOffset >= 0xFFFFFFFF || c.count >= 0xFFFF) << c.label;
        const auto read = ReadZipDirectory(tail.substr(0, end->directorySize), end->entryCount);
        ASSERT_TRUE(read) << c.label;
        for (size_t i = 0; i < c.count; ++i) {
            const ZipEntry& got = read->at(i);
            EXPECT_EQ(got.name, entries[i].header.name) << c.label;
            EXPECT_EQ(got.size, entries[i].size) << c.label;
            EXPECT_EQ(got.compressedSize, entries[i].compressedSize) << c.label;
            EXPECT_EQ(got.offset, entries[i].offset) << c.label;
            EXPECT_EQ(got.crc32, entries[i].crc32) << c.label;
            EXPECT_EQ(got.externalAttributes, entries[i].folder ? 0x10u : 0u) << c.label;
            EXPECT_EQ(got.versionNeeded >= 45, got.zip64) << c.label;
        }
    }
}

// A zip64 locator is followed only to a record inside the bytes read, whatever offset it names.
TEST(ZipWriter, Zip64LocatorStaysInside) {
    const std::string record = std::string("PK\x06\x06", 4) + std::string(52, '\0');  // an empty directory at 0
    for (const uint64_t offset : {uint64_t{0}, ~uint64_t{0} - 55, ~uint64_t{0}, uint64_t{1}}) {
        std::string bytes = record + record + std::string("PK\x06\x07\0\0\0\0", 8);  // a copy before the bytes read
        for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<char>(offset >> (8 * i)));
        bytes += std::string("\x01\0\0\0PK\x05\x06", 8) + std::string(18, '\0');
        EXPECT_EQ(FindZipEnd(std::string_view(bytes).substr(56), 0).has_value(), offset == 0) << offset;
    }
}

}  // namespace
