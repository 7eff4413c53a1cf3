// CRC-32, one byte at a time through the 256-entry table.
#include "archive/crc32.h"

uint32_t g_crcTable[256];

void BuildCrcTable() {
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t value = n;
        for (int bit = 0; bit < 8; ++bit) value = value & 1 ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        g_crcTable[n] = value;
    }
}

uint32_t UpdateCrc(uint32_t crc, const uint8_t* data, size_t size) {
    uint32_t reg = ~crc;
    for (size_t i = 0; i < size; ++i) reg = CrcStep(reg, data[i]);
    return ~reg;
}
