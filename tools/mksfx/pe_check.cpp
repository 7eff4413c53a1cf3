// Stub image checks. The block offset comes from the same code the stub runs
// (FindBlockOffset); the rest only explains a refusal.
#include "pe_check.h"

#include <string.h>

#include "app/config_block.h"

namespace {

constexpr size_t kPeOffsetField = 0x3C;
constexpr size_t kFileHeaderSize = 20;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kHeaderPage = 4096;
// Enough for any header: PE offset below 64 KiB, optional header below 64 KiB, and at
// most 65535 section headers.
constexpr size_t kMaxHeaderBytes = 0x10000 + 4 + kFileHeaderSize + 0x10000 + 0xFFFF * kSectionHeaderSize;

uint32_t Read16(const uint8_t* p) { return p[0] | (p[1] << 8); }

// The section table, or false when the headers do not hold one.
bool FindSectionTable(const std::vector<uint8_t>& image, size_t& table, uint32_t& count) {
    if (image.size() < kPeOffsetField + 2) return false;
    const size_t pe = Read16(image.data() + kPeOffsetField);
    if (pe + 4 + kFileHeaderSize > image.size()) return false;
    if (memcmp(image.data() + pe, "PE\0\0", 4) != 0) return false;
    count = Read16(image.data() + pe + 6);
    table = pe + 4 + kFileHeaderSize + Read16(image.data() + pe + 20);
    return table + count * kSectionHeaderSize <= image.size();
}

}  // namespace

std::string CheckStubImage(const std::vector<uint8_t>& image) {
    if (image.size() < 2 || image[0] != 'M' || image[1] != 'Z') return "not a Windows executable (no MZ header)";
    size_t table = 0;
    uint32_t count = 0;
    if (!FindSectionTable(image, table, count)) return "not a PE image (no PE header or section table)";
    if (count == 0) return "the PE image has no sections";
    for (uint32_t i = 0; i < count; ++i) {
        const char* name = reinterpret_cast<const char*>(image.data() + table + i * kSectionHeaderSize);
        if (name[0] != '.')
            return "section " + std::to_string(i + 1) + " (\"" + std::string(name, strnlen(name, 8)) +
                   "\") has a name without a leading '.'; the stub would not find its block";
    }
    const uint32_t blockOffset = FindBlockOffset(image.data(), image.size());
    if (blockOffset != image.size())
        return "the last section's raw data ends at byte " + std::to_string(blockOffset) + " but the file has " +
               std::to_string(image.size()) + " bytes (symbols, an appended block or other data follow the image)";
    return std::string();
}

uint32_t LocateBlock(FILE* file, uint64_t fileSize) {
    const size_t wanted = size_t(fileSize < kMaxHeaderBytes ? fileSize : kMaxHeaderBytes);
    std::vector<uint8_t> headers(wanted);
    if (wanted < 2 || fseek(file, 0, SEEK_SET) != 0) return 0;
    if (fread(headers.data(), 1, wanted, file) != wanted) return 0;
    if (headers[0] != 'M' || headers[1] != 'Z') return 0;
    return FindBlockOffset(headers.data(), headers.size());
}

std::vector<uint8_t> HeaderPage(FILE* file) {
    std::vector<uint8_t> page(kHeaderPage, 0);
    if (fseek(file, 0, SEEK_SET) == 0 && fread(page.data(), 1, page.size(), file) == 0) page.assign(kHeaderPage, 0);
    return page;
}
