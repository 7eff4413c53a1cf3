// CRC-32, two ways to the same result.
//
//  - Folding with carry-less multiplication, on x86 processors that have it (chosen at
//    run time): the data is read as four 16-byte lanes, and each lane is multiplied
//    forward by 64 bytes and added to the data there, which keeps its remainder modulo
//    the CRC polynomial. The whole buffer thus shrinks to 64 bytes that leave the same
//    register, and those go through the table: one pair of constants, no reduction step.
//    64-bit builds fold four 32-byte lanes, 128 bytes at a time, where the processor
//    multiplies 256-bit vectors so (twice as fast; about 450 bytes of code).
//  - The table, a byte at a time, for what is left and on other processors. (Slicing by
//    8 would make those four times faster for about 200 more bytes of code.)
//
// The table and the constants live in zero-filled memory and are built at run time, so
// they cost code bytes only, not image bytes.
#include "archive/crc32.h"

#include <string.h>

#if defined(__i386__) || defined(__x86_64__)
#define DUDORE_CRC_FOLDING 1
#include <cpuid.h>
#include <immintrin.h>
#endif
#if defined(__x86_64__)
#define DUDORE_CRC_WIDE_FOLDING 1  // 64-bit images only: the 32-bit one stays as small as it is
#endif

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "UpdateCrc loads words as little-endian"
#endif

uint32_t g_crcTable[256];

// The register times x: one bit through the reflected polynomial.
static uint32_t TimesX(uint32_t value) { return value & 1 ? (value >> 1) ^ 0xEDB88320u : value >> 1; }

#ifdef DUDORE_CRC_FOLDING
// The multipliers of a fold over 512 bits: the earlier 8 bytes of a lane move forward by
// x^(512+64), the later by x^512, modulo P. A product of reflected values comes out one
// bit off and the register is 32 bits wide, so each is stored as x^(power-33) mod P,
// reflected. Zero where the processor cannot multiply carry-less.
alignas(16) static uint32_t s_fold[4];  // two 64-bit multipliers, low halves first
#endif
#ifdef DUDORE_CRC_WIDE_FOLDING
// The same for a fold over 1024 bits, in both halves of a 256-bit vector: where the
// processor multiplies those carry-less and the system keeps them, four 32-byte lanes
// fold 128 bytes at a time. Zero otherwise.
alignas(32) static uint32_t s_wideFold[8];

__attribute__((target("xsave"))) static bool SystemKeepsVectors() { return (_xgetbv(0) & 6) == 6; }
#endif

void BuildCrcTable() {
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t value = n;
        for (int bit = 0; bit < 8; ++bit) value = TimesX(value);
        g_crcTable[n] = value;
    }
#ifdef DUDORE_CRC_FOLDING
    // Leaf 1 exists on every processor the program runs on.
    unsigned eax, ebx, ecx, edx;
    __cpuid(1, eax, ebx, ecx, edx);
    if ((ecx & bit_PCLMUL) && (edx & bit_SSE2)) {
        uint32_t value = 0x80000000u;  // x^0, reflected; each step multiplies by x
        for (uint32_t power = 1; power <= 512 + 64 - 33; ++power) {
            value = TimesX(value);
            if (power == 512 - 33) s_fold[2] = value;
        }
        s_fold[0] = value;
#ifdef DUDORE_CRC_WIDE_FOLDING
        if ((ecx & bit_OSXSAVE) && (ecx & bit_AVX) && SystemKeepsVectors()) {
            __cpuid_count(7, 0, eax, ebx, ecx, edx);  // a processor with AVX has leaf 7
            if ((ebx & bit_AVX2) && (ecx & bit_VPCLMULQDQ)) {
                for (uint32_t power = 512 + 64 - 33 + 1; power <= 1024 + 64 - 33; ++power) {
                    value = TimesX(value);
                    if (power == 1024 - 33) s_wideFold[2] = s_wideFold[6] = value;
                }
                s_wideFold[0] = s_wideFold[4] = value;
            }
        }
#endif
    }
#endif
}

// Little-endian load from any alignment (every target we build for is little-endian).
static inline uint32_t Load32(const uint8_t* p) {
    uint32_t value;
    memcpy(&value, p, sizeof value);
    return value;
}

uint32_t UpdateCrcByTable(uint32_t reg, const uint8_t* data, size_t size) {
    for (; size != 0; --size) reg = CrcStep(reg, *data++);
    return reg;
}

#ifdef DUDORE_CRC_FOLDING
// Folds `blocks` blocks of 64 bytes from `data` on into lanes[0, 64), which holds the
// bytes before them.
__attribute__((target("sse2,pclmul"))) static void FoldBlocks(uint8_t* lanes, const uint8_t* data, size_t blocks) {
    const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(s_fold));
    for (; blocks != 0; --blocks, data += 64) {
        for (int i = 0; i < 64; i += 16) {
            __m128i* const lane = reinterpret_cast<__m128i*>(lanes + i);
            const __m128i x = _mm_loadu_si128(lane);
            const __m128i ahead = _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
            _mm_storeu_si128(lane, _mm_xor_si128(ahead, _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i))));
        }
    }
}
#endif

#ifdef DUDORE_CRC_WIDE_FOLDING
// Folds `blocks` blocks of 128 bytes from `data` on into lanes[0, 128), which holds the
// bytes before them.
__attribute__((target("avx2,vpclmulqdq"))) static void FoldWideBlocks(uint8_t* lanes, const uint8_t* data,
                                                                       size_t blocks) {
    const __m256i k = _mm256_load_si256(reinterpret_cast<const __m256i*>(s_wideFold));
    __m256i x[4];
    for (int i = 0; i < 4; ++i) x[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes + 32 * i));
    for (; blocks != 0; --blocks, data += 128) {
        for (int i = 0; i < 4; ++i) {
            const __m256i ahead = _mm256_xor_si256(_mm256_clmulepi64_epi128(x[i], k, 0x00),
                                                   _mm256_clmulepi64_epi128(x[i], k, 0x11));
            x[i] = _mm256_xor_si256(ahead, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + 32 * i)));
        }
    }
    for (int i = 0; i < 4; ++i) _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes + 32 * i), x[i]);
}
#endif

uint32_t UpdateCrc(uint32_t crc, const uint8_t* data, size_t size) {
    uint32_t reg = ~crc;
#ifdef DUDORE_CRC_WIDE_FOLDING
    if (s_wideFold[0] != 0 && size >= 256) {
        // 128 bytes of lanes; their second half then folds into the first like any data.
        uint8_t lanes[128];
        memcpy(lanes, data, sizeof lanes);
        const uint32_t first = Load32(lanes) ^ reg;
        memcpy(lanes, &first, sizeof first);
        FoldWideBlocks(lanes, data + 128, size / 128 - 1);
        FoldBlocks(lanes, lanes + 64, 1);
        reg = UpdateCrcByTable(0, lanes, 64);
        data += size & ~size_t(127);
        size &= 127;
    }
#endif
#ifdef DUDORE_CRC_FOLDING
    if (s_fold[0] != 0 && size >= 128) {
        uint8_t lanes[64];
        memcpy(lanes, data, sizeof lanes);
        const uint32_t first = Load32(lanes) ^ reg;  // the register enters as the first bytes
        memcpy(lanes, &first, sizeof first);
        FoldBlocks(lanes, data + 64, size / 64 - 1);
        reg = UpdateCrcByTable(0, lanes, sizeof lanes);
        data += size & ~size_t(63);
        size &= 63;
    }
#endif
    return ~UpdateCrcByTable(reg, data, size);
}
