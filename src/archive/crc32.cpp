// CRC-32, eight bytes at a time ("slicing by 8").
//
// s_slices[k][n] is the register change that byte n causes when k + 1 more bytes
// follow it, so eight lookups fold eight bytes at once; what is left over goes a byte
// at a time through g_crcTable. The result equals the byte-at-a-time CRC on every
// input. The extra tables live in zero-filled memory and are built with the main one,
// so they cost code bytes only, not image bytes.
#include "archive/crc32.h"

#include <string.h>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "UpdateCrc loads words as little-endian"
#endif

uint32_t g_crcTable[256];
static uint32_t s_slices[7][256];

void BuildCrcTable() {
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t value = n;
        for (int bit = 0; bit < 8; ++bit) value = value & 1 ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        g_crcTable[n] = value;
    }
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t value = g_crcTable[n];
        for (int k = 0; k < 7; ++k) {
            value = (value >> 8) ^ g_crcTable[value & 0xFF];
            s_slices[k][n] = value;
        }
    }
}

// Little-endian load from any alignment (every target we build for is little-endian).
static inline uint32_t Load32(const uint8_t* p) {
    uint32_t value;
    memcpy(&value, p, sizeof value);
    return value;
}

uint32_t UpdateCrc(uint32_t crc, const uint8_t* data, size_t size) {
    uint32_t reg = ~crc;
    for (; size >= 8; size -= 8, data += 8) {
        const uint32_t low = reg ^ Load32(data), high = Load32(data + 4);
        reg = s_slices[6][low & 0xFF] ^ s_slices[5][(low >> 8) & 0xFF] ^ s_slices[4][(low >> 16) & 0xFF] ^
              s_slices[3][low >> 24] ^ s_slices[2][high & 0xFF] ^ s_slices[1][(high >> 8) & 0xFF] ^
              s_slices[0][(high >> 16) & 0xFF] ^ g_crcTable[high >> 24];
    }
    for (; size != 0; --size) reg = CrcStep(reg, *data++);
    return ~reg;
}
