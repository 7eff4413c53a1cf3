// CRC-32 against zlib's crc32 (the independent reference): every short length at every
// alignment, large buffers, chaining over random pieces, and the table the decryption
// keys step through. Where the processor folds, the table method alone (what other
// processors run) is checked beside it.
#include <stdint.h>
#include <zlib.h>

#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "archive/crc32.h"

namespace {

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (auto& b : bytes) b = uint8_t(random());
    return bytes;
}

uint32_t Zlib(const uint8_t* data, size_t size) { return uint32_t(crc32(0, data, uInt(size))); }
uint32_t ByTable(const uint8_t* data, size_t size) { return ~UpdateCrcByTable(0xFFFFFFFF, data, size); }

class Crc32 : public testing::Test {
protected:
    void SetUp() override { BuildCrcTable(); }
};

TEST_F(Crc32, KnownValues) {
    const struct {
        const char* text;
        uint32_t crc;
    } kCases[] = {
        {"", 0},
        {"a", 0xE8B7BE43},
        {"123456789", 0xCBF43926},  // the check value of CRC-32/ISO-HDLC
        {"The quick brown fox jumps over the lazy dog", 0x414FA339},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(UpdateCrc(0, reinterpret_cast<const uint8_t*>(c.text), strlen(c.text)), c.crc) << c.text;
}

TEST_F(Crc32, TableIsZlibs) {
    const z_crc_t* zlibTable = get_crc_table();
    for (int n = 0; n < 256; ++n) ASSERT_EQ(g_crcTable[n], uint32_t(zlibTable[n])) << n;
}

TEST_F(Crc32, EveryShortLengthAtEveryAlignment) {
    const std::vector<uint8_t> bytes = RandomBytes(320 + 16, 1);
    for (size_t align = 0; align < 16; ++align)
        for (size_t size = 0; size <= 320; ++size) {
            const uint32_t expected = Zlib(bytes.data() + align, size);
            ASSERT_EQ(UpdateCrc(0, bytes.data() + align, size), expected) << "size " << size << " at " << align;
            ASSERT_EQ(ByTable(bytes.data() + align, size), expected) << "size " << size << " at " << align;
        }
}

TEST_F(Crc32, SpecialBytePatterns) {
    for (uint8_t fill : {0x00, 0xFF, 0x80, 0x01}) {
        const std::vector<uint8_t> bytes(1000, fill);
        for (size_t size : {1, 7, 8, 9, 64, 128, 200, 999, 1000})
            EXPECT_EQ(UpdateCrc(0, bytes.data(), size), Zlib(bytes.data(), size)) << int(fill) << " x " << size;
    }
}

TEST_F(Crc32, LargeBuffers) {
    const std::vector<uint8_t> bytes = RandomBytes((16u << 20) + 5, 2);
    for (size_t size : {size_t(65536), size_t(1 << 20) + 3, bytes.size()})
        for (size_t align : {0, 1, 3})
            EXPECT_EQ(UpdateCrc(0, bytes.data() + align, size - align), Zlib(bytes.data() + align, size - align))
                << size << " at " << align;
}

TEST_F(Crc32, ChainedOverRandomPiecesEqualsOneCall) {
    std::mt19937 random(3);
    const std::vector<uint8_t> bytes = RandomBytes(200000, 4);
    const uint32_t whole = Zlib(bytes.data(), bytes.size());
    for (int round = 0; round < 50; ++round) {
        const size_t limit = size_t(1) << (random() % 17);  // pieces up to 1..64 KiB
        uint32_t crc = 0;
        size_t at = 0;
        while (at < bytes.size()) {
            size_t piece = random() % (limit + 1);  // zero-length pieces too
            if (piece > bytes.size() - at) piece = bytes.size() - at;
            const uint32_t before = crc;
            crc = UpdateCrc(crc, bytes.data() + at, piece);
            if (piece == 0) ASSERT_EQ(crc, before) << "an empty piece changes nothing";
            at += piece;
        }
        ASSERT_EQ(crc, whole) << "round " << round << ", pieces up to " << limit;
    }
}

TEST_F(Crc32, EmptyInputReturnsTheValueUnchanged) {
    const uint8_t byte = 0;
    for (uint32_t value : {0u, 1u, 0xFFFFFFFFu, 0xCBF43926u, 0x80000000u}) {
        EXPECT_EQ(UpdateCrc(value, nullptr, 0), value);
        EXPECT_EQ(UpdateCrc(value, &byte, 0), value);
    }
}

// The decryption keys run the raw register through CrcStep; it is the same CRC.
TEST_F(Crc32, CrcStepIsTheRawRegister) {
    const std::vector<uint8_t> bytes = RandomBytes(1000, 5);
    uint32_t reg = 0xFFFFFFFF;
    for (uint8_t b : bytes) reg = CrcStep(reg, b);
    EXPECT_EQ(~reg, Zlib(bytes.data(), bytes.size()));
}

TEST_F(Crc32, BuildingAgainChangesNothing) {
    const std::vector<uint8_t> bytes = RandomBytes(4096, 6);
    const uint32_t first = UpdateCrc(0, bytes.data(), bytes.size());
    BuildCrcTable();
    EXPECT_EQ(UpdateCrc(0, bytes.data(), bytes.size()), first);
}

}  // namespace
