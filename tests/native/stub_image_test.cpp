// The built stub images carry their block where the stub looks for it and depend on
// nothing but system DLLs. The PE headers and import table are parsed here, apart from
// the code under test; only the block offset is also computed with FindBlockOffset, which
// is the stub's own way of finding its block.
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/config_block.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Section {
    std::string name;
    uint32_t virtualSize, virtualAddress, rawSize, rawPointer;
};

// What the test reads from an image's headers.
struct Image {
    uint16_t machine = 0, magic = 0;
    uint32_t symbolTable = 0, entryPoint = 0;
    uint32_t importRva = 0, tlsRva = 0, tlsSize = 0, relocRva = 0, relocSize = 0, imageSize = 0;
    uint32_t exceptionRva = 0, exceptionSize = 0;
    uint16_t dllCharacteristics = 0;
    uint64_t imageBase = 0;
    std::vector<Section> sections;
};

uint32_t U16(const Bytes& b, size_t at) { return at + 2 <= b.size() ? b[at] | b[at + 1] << 8 : 0; }
uint32_t U32(const Bytes& b, size_t at) { return at + 4 <= b.size() ? U16(b, at) | U16(b, at + 2) << 16 : 0; }

bool ParseImage(const Bytes& file, Image& image) {
    if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') return false;
    const size_t pe = U32(file, 0x3C);
    if (pe + 24 > file.size() || memcmp(&file[pe], "PE\0\0", 4) != 0) return false;
    const size_t header = pe + 4;
    image.machine = uint16_t(U16(file, header));
    const uint32_t sectionCount = U16(file, header + 2);
    image.symbolTable = U32(file, header + 8);
    const size_t optional = header + 20;
    const size_t optionalSize = U16(file, header + 16);
    image.magic = uint16_t(U16(file, optional));
    image.entryPoint = U32(file, optional + 16);
    // The data directories follow the fixed part: 96 bytes in PE32, 112 in PE32+.
    const size_t directories = optional + (image.magic == 0x20B ? 112 : 96);
    image.importRva = U32(file, directories + 1 * 8);
    image.imageBase = image.magic == 0x20B ? U32(file, optional + 24) | uint64_t(U32(file, optional + 28)) << 32
                                           : U32(file, optional + 28);
    image.imageSize = U32(file, optional + 56);
    image.dllCharacteristics = uint16_t(U16(file, optional + 70));
    image.relocRva = U32(file, directories + 5 * 8);
    image.relocSize = U32(file, directories + 5 * 8 + 4);
    image.exceptionRva = U32(file, directories + 3 * 8);
    image.exceptionSize = U32(file, directories + 3 * 8 + 4);
    image.tlsRva = U32(file, directories + 9 * 8);
    image.tlsSize = U32(file, directories + 9 * 8 + 4);
    const size_t table = optional + optionalSize;
    for (uint32_t i = 0; i < sectionCount; ++i) {
        const size_t h = table + 40 * i;
        if (h + 40 > file.size()) return false;
        image.sections.push_back({std::string(reinterpret_cast<const char*>(&file[h]), strnlen(reinterpret_cast<const char*>(&file[h]), 8)),
                                  U32(file, h + 8), U32(file, h + 12), U32(file, h + 16), U32(file, h + 20)});
    }
    return true;
}

// File offset of a relative virtual address; 0 when no section's raw data holds it.
size_t FileOffset(const Image& image, uint32_t rva) {
    for (const Section& s : image.sections)
        if (rva >= s.virtualAddress && rva < s.virtualAddress + s.rawSize) return rva - s.virtualAddress + s.rawPointer;
    return 0;
}

std::vector<std::string> ImportedDlls(const Bytes& file, const Image& image) {
    std::vector<std::string> names;
    size_t descriptor = FileOffset(image, image.importRva);
    if (descriptor == 0) return names;
    for (; descriptor + 20 <= file.size(); descriptor += 20) {
        const uint32_t nameRva = U32(file, descriptor + 12);
        if (nameRva == 0 && U32(file, descriptor + 16) == 0) break;  // the all-zero terminator
        const size_t at = FileOffset(image, nameRva);
        names.push_back(at ? std::string(reinterpret_cast<const char*>(&file[at]), strnlen(reinterpret_cast<const char*>(&file[at]), file.size() - at))
                           : "(name outside the image)");
    }
    return names;
}

// Every base relocation names an address-sized field that holds an address inside the
// image: so loaded elsewhere (ASLR), the image is moved whole. Returns how many there are.
size_t CheckRelocations(const Bytes& file, const Image& image) {
    size_t count = 0;
    const bool is64 = image.magic == 0x20B;
    for (uint32_t at = 0; at + 8 <= image.relocSize;) {
        const size_t block = FileOffset(image, image.relocRva + at);
        const uint32_t page = U32(file, block), size = U32(file, block + 4);
        if (block == 0 || size < 8 || at + size > image.relocSize) {
            ADD_FAILURE() << "a broken relocation block at " << at;
            break;
        }
        for (uint32_t entry = 8; entry + 2 <= size; entry += 2) {
            const uint32_t value = U16(file, block + entry), type = value >> 12;
            if (type == 0) continue;  // padding
            EXPECT_EQ(type, is64 ? 10u : 3u) << "relocation type";
            const size_t field = FileOffset(image, page + (value & 0xFFF));
            const uint64_t address = is64 ? U32(file, field) | uint64_t(U32(file, field + 4)) << 32 : U32(file, field);
            EXPECT_TRUE(field && address >= image.imageBase && address < image.imageBase + image.imageSize)
                << "relocated field at " << std::hex << page + (value & 0xFFF) << " holds " << address;
            ++count;
        }
        at += size;
    }
    return count;
}

std::vector<std::string> StubImages() {
    std::vector<std::string> paths;
    std::istringstream in(getenv("DUDORE_STUB_IMAGES"));
    for (std::string path; std::getline(in, path, ':');)
        if (!path.empty()) paths.push_back(path);
    return paths;
}

}  // namespace

TEST(StubImage, BlockFollowsTheImageAndOnlySystemDllsAreImported) {
    if (getenv("DUDORE_STUB_IMAGES") == nullptr)
        GTEST_SKIP() << "DUDORE_STUB_IMAGES is not set: it names the built stub images (':'-separated) to check";
    const std::vector<std::string> paths = StubImages();
    ASSERT_FALSE(paths.empty()) << "DUDORE_STUB_IMAGES names no file";
    static const std::set<std::string> kSystemDlls = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll",
                                                      "shell32.dll",  "advapi32.dll", "ole32.dll", "msvcrt.dll"};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        std::ifstream in(path, std::ios::binary);
        ASSERT_TRUE(in) << "cannot open the image";
        const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        Image image;
        ASSERT_TRUE(ParseImage(file, image)) << "not a PE image";

        EXPECT_EQ(FindBlockOffset(file.data(), file.size()), file.size()) << "the block would not follow the image";
        ASSERT_FALSE(image.sections.empty());
        uint32_t rawEnd = 0;
        for (const Section& s : image.sections) {
            EXPECT_EQ(s.name[0], '.') << "section " << s.name;
            rawEnd = std::max(rawEnd, s.rawPointer + s.rawSize);
        }
        EXPECT_EQ(rawEnd, file.size()) << "data after the sections";
        EXPECT_EQ(image.symbolTable, 0u) << "a symbol table follows the sections";

        const Section& code = image.sections.front();
        EXPECT_GE(image.entryPoint, code.virtualAddress);
        EXPECT_LT(image.entryPoint, code.virtualAddress + code.virtualSize) << "entry point outside " << code.name;

        const std::vector<std::string> dlls = ImportedDlls(file, image);
        EXPECT_FALSE(dlls.empty());
        for (std::string dll : dlls) {
            for (char& c : dll) c = char(tolower(static_cast<unsigned char>(c)));
            EXPECT_TRUE(kSystemDlls.count(dll)) << "imports " << dll;
        }
        EXPECT_EQ(image.dllCharacteristics & 0x8140, 0x8140) << "dynamic base (ASLR), NX and Terminal-Server aware";
        EXPECT_GT(CheckRelocations(file, image), 0u) << "no relocations: the image cannot move";
        EXPECT_EQ(image.tlsRva, 0u) << "a TLS directory: static constructors or TLS callbacks";
        EXPECT_EQ(image.tlsSize, 0u);

        const std::string name = path.substr(path.find_last_of('/') + 1);  // npos + 1 is 0
        const bool is64 = name.find("64") != std::string::npos;
        if (is64) {
            EXPECT_EQ(image.magic, 0x20B) << "PE32+";
            EXPECT_EQ(image.machine, 0x8664) << "AMD64";
            // Unwind data: one sorted function entry (begin, end, unwind info) covers the entry.
            const size_t table = FileOffset(image, image.exceptionRva);
            ASSERT_TRUE(table != 0 && image.exceptionSize >= 12 && image.exceptionSize % 12 == 0) << "no unwind data";
            bool entryCovered = false;
            for (uint32_t at = 0, previousEnd = 0; at < image.exceptionSize; at += 12) {
                const uint32_t begin = U32(file, table + at), end = U32(file, table + at + 4);
                EXPECT_TRUE(begin >= previousEnd && begin < end && FileOffset(image, U32(file, table + at + 8)))
                    << "function entry at " << at;
                entryCovered |= image.entryPoint >= begin && image.entryPoint < end;
                previousEnd = end;
            }
            EXPECT_TRUE(entryCovered) << "the entry point has no unwind data";
        } else {
            EXPECT_EQ(image.magic, 0x10B) << "PE32";
            EXPECT_EQ(image.machine, 0x14C) << "i386";
        }
    }
}
