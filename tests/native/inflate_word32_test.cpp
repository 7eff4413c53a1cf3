// The decoder built with 32-bit bit-reader words, fast path included (the 32-bit stub has
// such words, and leaves the fast path out for now), run here on a 64-bit machine: every
// sink call (size, archive position, running CRC) and every result agree with the
// reference decoder.
#include <gtest/gtest.h>

#include "inflate_test_support.h"

// The same source again, in its own namespace, its public names changed so that calls on
// the shared types do not also find the real ones.
#define DUDORE_INFLATE_WORD uint32_t
#define Inflate Word32Inflate
#define InflateBlocks Word32InflateBlocks
#define BuildHuffmanTable Word32BuildHuffmanTable
#define FreeHuffmanTable Word32FreeHuffmanTable
#define InflateFixedTableBuilds Word32InflateFixedTableBuilds
namespace word32 {
#include "codecs/inflate.cpp"
}
#undef Inflate
#undef InflateBlocks
#undef BuildHuffmanTable
#undef FreeHuffmanTable
#undef InflateFixedTableBuilds
static_assert(sizeof(word32::BitWord) == 4 && word32::kWordBits == 32, "the 32-bit variant");

namespace {

using namespace inflate_test;

TEST(InflateWord32, ZlibStreamsMatchTheReference) {
    const Bytes inputs[] = {Bytes(), TextLike(300000, 31), RandomBytes(100000, 32), Bytes(200000, 'r'),
                            TextLike(0x10000, 33)};
    for (const Bytes& input : inputs) {
        for (int level : {0, 1, 6, 9}) {
            for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_RLE, Z_HUFFMAN_ONLY}) {
                const Bytes stream = RawDeflate(input, level, strategy);
                const std::string what = std::to_string(input.size()) + " bytes, level " + std::to_string(level) +
                                         ", strategy " + std::to_string(strategy);
                const Decoded ours = RunInflate(stream, false, {}, word32::Word32InflateBlocks);
                EXPECT_EQ(ours.result, kInflateOk) << what;
                EXPECT_TRUE(ours.output == input) << what;
                ExpectSameAsReference(stream, false, {}, what, word32::Word32InflateBlocks);
            }
        }
    }
}

TEST(InflateWord32, CorruptedStreamsMatchTheReference) {
    Random r(34);
    for (int round = 0; round < 300; ++round) {
        Bytes stream = RawDeflate(TextLike(5000 + r.Below(100000), r.Next()), int(r.Below(10)),
                                  r.Below(2) ? Z_DEFAULT_STRATEGY : Z_FIXED);
        for (uint32_t i = 0, n = r.Below(4); i < n; ++i) stream[r.Below(uint32_t(stream.size()))] ^= uint8_t(r.Next());
        if (r.Below(2)) stream.resize(r.Below(uint32_t(stream.size())));
        if (r.Below(4) == 0) stream = RandomBytes(1 + r.Below(2000), r.Next());
        ExpectSameAsReference(stream, r.Below(2), {}, "round " + std::to_string(round), word32::Word32InflateBlocks);
        if (HasFailure()) break;
    }
}

// Deflate64's widest fields: 16 extra length bits and 14 extra distance bits.
TEST(InflateWord32, Deflate64WideFields) {
    BitWriter w;
    StoredBlock(w, false, RandomBytes(40000, 35));
    BlockHeader(w, true, 1);
    FixedSymbol(w, 'x');
    FixedSymbol(w, 285);
    w.Bits(65535, 16);  // length 65,538
    w.Code(31, 5);
    w.Bits(16383, 14);  // distance 65,536
    FixedSymbol(w, 285);
    w.Bits(1000, 16);
    w.Code(30, 5);
    w.Bits(1234, 14);
    FixedSymbol(w, 256);
    const Decoded ours = RunInflate(w.bytes, true, {}, word32::Word32InflateBlocks);
    EXPECT_EQ(ours.result, kInflateOk);
    EXPECT_TRUE(ours.output == RunInflate(w.bytes, true).output);
    ExpectSameAsReference(w.bytes, true, {}, "wide fields", word32::Word32InflateBlocks);
}

}  // namespace
