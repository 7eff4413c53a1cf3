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

static uint32_t Read16(const uint8_t* p) { return p[0] | (p[1] << 8); }
static uint32_t Read32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
}

uint32_t FindBlockOffset(const uint8_t* headers, size_t size) {
    constexpr size_t kFileHeaderSize = 20, kSectionHeaderSize = 40;
    if (size < 0x40) return 0;
    const size_t pe = Read16(headers + 0x3C);  // only the low 16 bits, as the loader's stub does
    if (pe + 4 + kFileHeaderSize > size || memcmp(headers + pe, "PE\0\0", 4) != 0) return 0;
    const uint32_t sections = Read16(headers + pe + 6);
    const size_t table = pe + 4 + kFileHeaderSize + Read16(headers + pe + 20);
    if (sections == 0 || table + sections * kSectionHeaderSize > size) return 0;

    // Counting dotted names from the second header until the count reaches the number of
    // sections, and never walking past the table, always ends at the last header.
    const uint8_t* last = headers + table + (sections - 1) * kSectionHeaderSize;
    return Read32(last + 20) + Read32(last + 16);
}
