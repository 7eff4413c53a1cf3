// The Configuration block: reading it from a file, bounded field copies, and finding
// where it starts behind a PE image. Blocks and headers are written byte by byte at
// the format's offsets, not through the struct, so a layout slip shows.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/config_block.h"
#include "zip_fixtures.h"

using namespace fixtures;

namespace {

TEST(ConfigBlock, MagicComparesSevenBytes) {
    ConfigBlock b{};
    memcpy(b.magic, "KESTRA3X", 8);
    EXPECT_TRUE(IsValidBlock(b));
    b.magic[6] = '4';
    EXPECT_FALSE(IsValidBlock(b));
}

// ---- reading the block ----------------------------------------------------------------

// A block with every field set, laid out by the documented offsets.
Bytes SampleBlock() {
    Bytes b(kBlockSize, 0);
    memcpy(b.data(), "KESTRA3", 8);
    const std::string destination = "%Desktop%\\Sample Folder";
    const std::string command = "setup.exe /quiet";
    memcpy(b.data() + 8, destination.data(), destination.size());
    memcpy(b.data() + 268, command.data(), command.size());
    Put32(b, 396, 1);
    Put32(b, 400, 0x01020304);
    Put32(b, 404, 0xFFFFFFFF);
    Put32(b, 408, 7);
    Put32(b, 412, 0xCBF43926);
    memcpy(b.data() + 416, "Question title", 14);
    memcpy(b.data() + 448, "Extract now?", 12);
    return b;
}

FILE* FileWith(const Bytes& bytes) {
    FILE* file = tmpfile();
    fwrite(bytes.data(), 1, bytes.size(), file);
    fflush(file);
    return file;
}

TEST(ConfigBlock, ReadBlockAt) {
    const Bytes block = SampleBlock();
    const Bytes image = PseudoRandomBytes(1536, 1);
    const Bytes archive = PseudoRandomBytes(300, 2);
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    auto with = [&](size_t at, uint8_t value) {
        Bytes b = block;
        b[at] = value;
        return b;
    };
    const struct {
        const char* what;
        Bytes file;
        long offset;
        bool valid;
    } kCases[] = {
        {"image, block, archive", join({image, block, archive}), 1536, true},
        {"block at the very start", join({block, archive}), 0, true},
        {"block ends the file", join({image, block}), 1536, true},
        {"eighth byte not zero", join({image, with(7, 'X'), archive}), 1536, true},
        {"eighth byte 0xFF", join({image, with(7, 0xFF), archive}), 1536, true},
        {"first byte wrong", join({image, with(0, 'k'), archive}), 1536, false},
        {"seventh byte wrong", join({image, with(6, '4'), archive}), 1536, false},
        {"all zero", join({image, Bytes(kBlockSize, 0), archive}), 1536, false},
        {"one byte short", join({image, Bytes(block.begin(), block.end() - 1)}), 1536, false},
        {"only the magic", join({image, Bytes(block.begin(), block.begin() + 8)}), 1536, false},
        {"offset at the end", image, 1536, false},
        {"offset past the end", image, 5000, false},
        {"offset one early", join({image, block, archive}), 1535, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        FILE* file = FileWith(c.file);
        fseek(file, 77, SEEK_SET);
        ConfigBlock read;
        memset(&read, 0xAB, sizeof read);
        EXPECT_EQ(ReadBlockAt(file, c.offset, read), c.valid);
        EXPECT_EQ(ftell(file), 0) << "the file goes back to offset 0 either way";
        if (c.valid) {
            // Every byte as it lies in the file, through the struct's fields.
            EXPECT_EQ(memcmp(&read, c.file.data() + c.offset, kBlockSize), 0);
            EXPECT_STREQ(read.destination, "%Desktop%\\Sample Folder");
            EXPECT_STREQ(read.command, "setup.exe /quiet");
            EXPECT_EQ(read.overwriteWithoutAsking, 1u);
            EXPECT_EQ(read.openExplorer, 0x01020304u);
            EXPECT_EQ(read.deleteAfterCommand, 0xFFFFFFFFu);
            EXPECT_EQ(read.skipDestinationDialog, 7u);
            EXPECT_EQ(read.expectedCrc, 0xCBF43926u);
            EXPECT_STREQ(read.questionTitle, "Question title");
            EXPECT_STREQ(read.questionText, "Extract now?");
        }
        fclose(file);
    }
}

// ---- copying a field -------------------------------------------------------------

// The field lives in a heap block of exactly its size, so that the sanitizer sees a
// read past it; the output has guard bytes behind the size it is given.
TEST(ConfigBlock, CopyFieldStaysInsideBothBuffers) {
    const struct {
        const char* what;
        std::string field;  // its bytes; the field is exactly this long
        size_t outSize;
        std::string expected;
    } kCases[] = {
        {"terminated, short", std::string("abc\0zzzz", 8), 16, "abc"},
        {"terminated at the first byte", std::string("\0abcdefg", 8), 16, ""},
        {"terminator at the last byte", std::string("abcdefg\0", 8), 16, "abcdefg"},
        {"no terminator: up to the field's end", "abcdefgh", 16, "abcdefgh"},
        {"no terminator, output just fits", "abcdefgh", 9, "abcdefgh"},
        {"no terminator, output one short", "abcdefgh", 8, "abcdefg"},
        {"output of one byte", "abcdefgh", 1, ""},
        {"bytes after the terminator are not read", std::string("ab\0cd", 5), 16, "ab"},
        {"empty field", "", 4, ""},
        {"high bytes kept", "\x95\x5c\x81\x40", 16, "\x95\x5c\x81\x40"},
    };
    constexpr size_t kGuard = 8;
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        char* field = static_cast<char*>(malloc(c.field.size() ? c.field.size() : 1));
        if (!c.field.empty()) memcpy(field, c.field.data(), c.field.size());
        std::vector<char> out(c.outSize + kGuard, '#');
        CopyField(out.data(), c.outSize, field, c.field.size());
        EXPECT_EQ(std::string(out.data()), c.expected);
        for (size_t i = c.outSize; i < out.size(); ++i) ASSERT_EQ(out[i], '#') << "written past the output at " << i;
        free(field);
    }
}

TEST(ConfigBlock, CopyFieldIntoNothingWritesNothing) {
    char out = '#';
    CopyField(&out, 0, "abc", 3);
    EXPECT_EQ(out, '#');
}

// ---- where the block starts --------------------------------------------------------

struct Section {
    std::string name;
    uint32_t rawSize;
    uint32_t rawPointer;
};

// DOS header, PE signature, file header, an optional header of `optionalSize` bytes and
// the section table, in a buffer of `size` bytes (zeros behind).
Bytes PeHeaders(uint32_t lfanew, uint16_t optionalSize, const std::vector<Section>& sections,
                size_t size = 4096, uint16_t declaredCount = 0) {
    Bytes b(std::max<size_t>(size, 0x40), 0);
    b[0] = 'M', b[1] = 'Z';
    Put32(b, 0x3C, lfanew);
    const size_t pe = lfanew & 0xFFFF;
    Bytes h = {'P', 'E', 0, 0};
    Append16(h, optionalSize == 240 ? 0x8664 : 0x14C);
    Append16(h, declaredCount ? declaredCount : uint32_t(sections.size()));
    h.resize(4 + 16, 0);
    Append16(h, optionalSize);
    Append16(h, 0x102);
    Bytes optional(optionalSize, 0x5A);  // not zero: a table read from a wrong place shows
    Put16(optional, 0, optionalSize == 240 ? 0x20B : 0x10B);
    h.insert(h.end(), optional.begin(), optional.end());
    for (const Section& s : sections) {
        Bytes header(40, 0);
        memcpy(header.data(), s.name.data(), std::min<size_t>(8, s.name.size()));
        Put32(header, 8, s.rawSize);  // virtual size: anything
        Put32(header, 16, s.rawSize);
        Put32(header, 20, s.rawPointer);
        h.insert(h.end(), header.begin(), header.end());
    }
    for (size_t i = 0; i < h.size() && pe + i < b.size(); ++i) b[pe + i] = h[i];
    b.resize(size);
    return b;
}

// The headers in a heap block of exactly `size` bytes: a read past it is a sanitizer error.
uint32_t FindIn(const Bytes& headers) {
    uint8_t* exact = static_cast<uint8_t*>(malloc(headers.size() ? headers.size() : 1));
    if (!headers.empty()) memcpy(exact, headers.data(), headers.size());
    const uint32_t offset = FindBlockOffset(exact, headers.size());
    free(exact);
    return offset;
}

TEST(ConfigBlock, FindBlockOffset) {
    const std::vector<Section> kStub = {{".text", 0x6000, 0x400}, {".data", 0x200, 0x6400}, {".rsrc", 0x2E00, 0x6600}};
    const std::vector<Section> kMingw32 = {{".text", 0x2A00, 0x400}, {".data", 0x200, 0x2E00}, {".rdata", 0x600, 0x3000},
                                           {".eh_fram", 0x200, 0x3600}, {".idata", 0x600, 0x3800}, {".rsrc", 0x1400, 0x3E00},
                                           {".reloc", 0x200, 0x5200}};
    const struct {
        const char* what;
        Bytes headers;
        uint32_t offset;
    } kCases[] = {
        {"32-bit, three sections", PeHeaders(0x80, 224, kStub), 0x9400},
        {"64-bit optional header (240 bytes)", PeHeaders(0x80, 240, kStub), 0x9400},
        {"seven sections", PeHeaders(0x80, 224, kMingw32), 0x5400},
        {"PE signature right after the DOS header", PeHeaders(0x40, 224, kStub), 0x9400},
        {"only the low 16 bits of the PE offset", PeHeaders(0x12340080, 224, kStub), 0x9400},
        {"a name without a dot in the middle",
         PeHeaders(0x80, 224, {{".text", 0x200, 0x400}, {"CODE", 0x200, 0x600}, {".rsrc", 0x400, 0x800}}), 0xC00},
        {"the last name without a dot",
         PeHeaders(0x80, 224, {{".text", 0x200, 0x400}, {".data", 0x200, 0x600}, {"RSRC", 0x400, 0x800}}), 0xC00},
        {"no dotted names at all",
         PeHeaders(0x80, 224, {{"CODE", 0x200, 0x400}, {"DATA", 0x200, 0x600}, {"BSS", 0, 0}, {"RES", 0x400, 0x800}}), 0xC00},
        {"a single section", PeHeaders(0x80, 224, {{".text", 0x1000, 0x400}}), 0x1400},
        {"two sections", PeHeaders(0x80, 224, {{".text", 0x1000, 0x400}, {".rsrc", 0x200, 0x1400}}), 0x1600},
        {"section table ends at the buffer's end", PeHeaders(0x80, 224, kStub, 0x80 + 24 + 224 + 3 * 40), 0x9400},
        {"section table one byte past the buffer", PeHeaders(0x80, 224, kStub, 0x80 + 24 + 224 + 3 * 40 - 1), 0},
        {"section count walks past the headers", PeHeaders(0x80, 224, kStub, 512, 40), 0},
        {"section count 0xFFFF", PeHeaders(0x80, 224, kStub, 4096, 0xFFFF), 0},
        {"no sections", PeHeaders(0x80, 224, {}), 0},
        {"optional header size pushes the table out", PeHeaders(0x80, 0xFFFF, kStub, 4096), 0},
        {"PE offset past the buffer", PeHeaders(0x1000, 224, kStub, 4096), 0},
        {"file header cut by the buffer's end", PeHeaders(4096 - 10, 224, kStub, 4096), 0},
        {"too short for a DOS header", Bytes(0x3F, 0), 0},
        {"nothing", Bytes(), 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(FindIn(c.headers), c.offset);
    }
}

TEST(ConfigBlock, FindBlockOffsetRefusesWhatIsNotPE) {
    Bytes headers = PeHeaders(0x80, 224, {{".text", 0x1000, 0x400}});
    for (size_t at = 0x80; at < 0x84; ++at) {
        Bytes broken = headers;
        broken[at] ^= 0x20;
        EXPECT_EQ(FindIn(broken), 0u) << "signature byte " << at - 0x80;
    }
}

// A real image: for a stripped executable from the cross compilers, nothing follows
// the last section's raw data, so the block offset is the file's length.
TEST(ConfigBlock, FindBlockOffsetOnImagesFromTheCrossCompilers) {
    bool any = false;
    for (const char* compiler : {"i686-w64-mingw32-gcc", "x86_64-w64-mingw32-gcc"}) {
        if (!HaveTool(compiler)) continue;
        any = true;
        SCOPED_TRACE(compiler);
        ScratchDir dir;
        WriteText(dir / "t.c", "int main(void) { return 0; }\n");
        ASSERT_EQ(Shell(dir.path(), std::string(compiler) + " -s -O2 -o t.exe t.c"), 0);
        const Bytes image = ReadBytes(dir / "t.exe");
        ASSERT_GT(image.size(), 4096u);
        const Bytes headers(image.begin(), image.begin() + 4096);
        EXPECT_EQ(FindIn(headers), image.size());
    }
    if (!any) GTEST_SKIP() << "no mingw-w64 compiler";
}

// ---- the certificate table of a signed image ---------------------------------------

// Headers with `count` data directories, the security one saying `offset` and `size`.
Bytes SignedHeaders(uint16_t optionalSize, uint32_t count, uint32_t offset, uint32_t size, size_t bytes = 4096,
                    uint16_t magic = 0) {
    Bytes h = PeHeaders(0x80, optionalSize, {{".text", 0x1000, 0x400}}, bytes);
    if (magic) Put16(h, 0x80 + 24, magic);
    const size_t directories = 0x80 + 24 + (optionalSize == 240 ? 112 : 96);
    if (directories + 40 > h.size()) return h;
    Put32(h, directories - 4, count);
    Put32(h, directories + 4 * 8, offset);
    Put32(h, directories + 4 * 8 + 4, size);
    return h;
}

TEST(ConfigBlock, CertificateTableAndWhereTheSelfCheckEnds) {
    constexpr uint64_t kArchive = 0x1600;
    const struct {
        const char* what;
        Bytes headers;
        uint64_t fileLength;
        bool found;
        uint64_t checkEnd;
    } kCases[] = {
        {"32-bit, the table ends the file", SignedHeaders(224, 16, 0x2000, 0x5A8), 0x25A8, true, 0x2000},
        {"64-bit, the table ends the file", SignedHeaders(240, 16, 0x2000, 0x5A8), 0x25A8, true, 0x2000},
        {"the table right behind the block", SignedHeaders(224, 16, kArchive, 8), kArchive + 8, true, kArchive},
        {"the table ends past 4 GiB", SignedHeaders(224, 16, 0xFFFFFFF8, 0x100), 0x1000000F8, true, 0xFFFFFFF8},
        {"something follows the table", SignedHeaders(224, 16, 0x2000, 0x5A8), 0x2600, true, 0x2600},
        {"the table begins inside the archive's prefix", SignedHeaders(224, 16, 0x800, 0x5A8), 0xDA8, true, 0xDA8},
        {"unsigned: the directory is empty", SignedHeaders(224, 16, 0, 0), 0x2000, false, 0x2000},
        {"a table smaller than one certificate header", SignedHeaders(224, 16, 0x2000, 7), 0x2007, false, 0x2007},
        {"only four directories", SignedHeaders(224, 4, 0x2000, 0x5A8), 0x25A8, false, 0x25A8},
        {"the optional header ends before the directory", SignedHeaders(120, 16, 0x2000, 0x5A8), 0x25A8, false, 0x25A8},
        {"the buffer ends inside the directory", SignedHeaders(224, 16, 0x2000, 0x5A8, 0x80 + 24 + 96 + 39), 0x25A8,
         false, 0x25A8},
        {"an optional header of another kind", SignedHeaders(224, 16, 0x2000, 0x5A8, 4096, 0x107), 0x25A8, false, 0x25A8},
        {"not a PE image", Bytes(4096, 0), 0x25A8, false, 0x25A8},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        CertificateTable table{};
        EXPECT_EQ(FindCertificateTable(c.headers.data(), c.headers.size(), table), c.found);
        EXPECT_EQ(SelfCheckEnd(c.headers.data(), c.headers.size(), kArchive, c.fileLength), c.checkEnd);
    }
}

}  // namespace
