// Configuration block: validity, bounded field copies, reading it from a file, and
// finding where it starts behind the PE image.
#include "app/config_block.h"

#include <string.h>

#include "archive/file_position.h"

bool IsValidBlock(const ConfigBlock& block) {
    return memcmp(block.magic, kBlockMagic, kBlockMagicCompared) == 0;
}

void CopyField(char* out, size_t outSize, const char* field, size_t fieldSize) {
    if (outSize == 0) return;
    size_t n = 0;
    while (n < fieldSize && n + 1 < outSize && field[n] != 0) {
        out[n] = field[n];
        ++n;
    }
    out[n] = 0;
}

bool ReadBlockAt(FILE* file, uint64_t offset, ConfigBlock& block) {
    bool valid = false;
    if (SeekTo(file, offset)) valid = fread(&block, 1, sizeof block, file) == sizeof block && IsValidBlock(block);
    SeekTo(file, 0);
    return valid;
}

// ---- PE headers ----------------------------------------------------------------

// Little-endian fields at any alignment (the targets are little-endian, as the block is).
static uint32_t Read16(const uint8_t* p) {
    uint16_t v;
    memcpy(&v, p, sizeof v);
    return v;
}
static uint32_t Read32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

constexpr size_t kFileHeaderSize = 20;

// Offset of the PE signature, with the file header behind it inside `size`; 0 when
// there is none.
[[gnu::noinline]] static size_t FindPeSignature(const uint8_t* headers, size_t size) {
    if (size < 0x40) return 0;
    const size_t pe = Read16(headers + 0x3C);  // only the low 16 bits, as the loader's stub does
    if (pe + 4 + kFileHeaderSize > size || memcmp(headers + pe, "PE\0\0", 4) != 0) return 0;
    return pe;
}

uint32_t FindBlockOffset(const uint8_t* headers, size_t size) {
    constexpr size_t kSectionHeaderSize = 40;
    const size_t pe = FindPeSignature(headers, size);
    if (pe == 0) return 0;
    const uint32_t sections = Read16(headers + pe + 6);
    const size_t table = pe + 4 + kFileHeaderSize + Read16(headers + pe + 20);
    if (sections == 0 || table + sections * kSectionHeaderSize > size) return 0;

    // Counting dotted names from the second header until the count reaches the number of
    // sections, and never walking past the table, always ends at the last header.
    const uint8_t* last = headers + table + (sections - 1) * kSectionHeaderSize;
    return Read32(last + 20) + Read32(last + 16);
}

bool FindCertificateTable(const uint8_t* headers, size_t size, CertificateTable& table) {
    constexpr size_t kSecurityDirectory = 4, kDirectorySize = 8, kCertificateHeaderSize = 8;
    // The directory count and the directories follow the fixed fields, 16 bytes longer in PE32+.
    constexpr size_t kPe32Directories = 96, kPe32PlusDirectories = 112;
    constexpr size_t kEntryEnd = (kSecurityDirectory + 1) * kDirectorySize;
    const size_t pe = FindPeSignature(headers, size);
    const size_t optional = pe + 4 + kFileHeaderSize;
    if (pe == 0 || optional + kPe32PlusDirectories + kEntryEnd > size) return false;  // room for either kind
    const uint32_t magic = Read16(headers + optional);
    const size_t directories = magic == 0x10B ? kPe32Directories : kPe32PlusDirectories;
    if ((magic != 0x10B && magic != 0x20B) || directories + kEntryEnd > Read16(headers + pe + 20)) return false;
    if (Read32(headers + optional + directories - 4) <= kSecurityDirectory) return false;
    table.offset = Read32(headers + optional + directories + kEntryEnd - kDirectorySize);
    table.size = Read32(headers + optional + directories + kEntryEnd - kDirectorySize + 4);
    return table.offset != 0 && table.size >= kCertificateHeaderSize;
}

uint64_t SelfCheckEnd(const uint8_t* headers, size_t size, uint64_t archiveStart, uint64_t fileLength) {
    CertificateTable table;
    if (FindCertificateTable(headers, size, table) && table.End() == fileLength && table.offset >= archiveStart)
        return table.offset;
    return fileLength;
}
