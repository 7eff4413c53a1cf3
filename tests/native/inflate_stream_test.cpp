// Inflate on raw streams: zlib's output of every kind, hand-made streams for what
// encoders never write, the window's edges, and agreement with the reference decoder on
// every sink call (size, archive position, running CRC).
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "inflate_test_support.h"

// The decoder built with 32-bit bit-reader words (inflate_word32_test.cpp): its fast path
// refills the word within a symbol, so the cases at that path's edges run through both.
namespace word32 {
int Word32InflateBlocks(EntryStream& s, bool deflate64);
}

namespace {

using namespace inflate_test;

// Expected sink calls for an output of `size` bytes: full windows, then the rest (even 0).
std::vector<uint32_t> WindowCalls(size_t size) {
    std::vector<uint32_t> calls(size / 0x10000, 0x10000);
    calls.push_back(uint32_t(size % 0x10000));
    return calls;
}

std::vector<uint32_t> Counts(const std::vector<SinkCall>& calls) {
    std::vector<uint32_t> counts;
    for (const SinkCall& c : calls) counts.push_back(c.count);
    return counts;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Text, random bytes, long runs and a repeated block, in turns.
Bytes Mixed(size_t n, uint64_t seed) {
    Bytes b;
    Random r(seed);
    while (b.size() < n) {
        const size_t part = 1000 + r.Below(60000);
        switch (r.Below(4)) {
            case 0: {
                const Bytes t = TextLike(part, r.Next());
                b.insert(b.end(), t.begin(), t.end());
                break;
            }
            case 1: {
                const Bytes t = RandomBytes(part, r.Next());
                b.insert(b.end(), t.begin(), t.end());
                break;
            }
            case 2:
                b.insert(b.end(), part, uint8_t(r.Next()));
                break;
            default:
                if (b.size() > 5000) {
                    const size_t from = r.Below(uint32_t(b.size() - 4000));
                    b.insert(b.end(), b.begin() + long(from), b.begin() + long(from + 4000));
                }
        }
    }
    b.resize(n);
    return b;
}

// ---- zlib streams ---------------------------------------------------------------------

struct ZlibCase {
    const char* name;
    std::function<Bytes()> input;
};

const std::vector<ZlibCase>& ZlibInputs() {
    static const std::vector<ZlibCase> cases = {
        {"empty", [] { return Bytes(); }},
        {"one byte", [] { return Bytes{'x'}; }},
        {"tiny text", [] { return TextLike(100, 1); }},
        {"text 300 KB", [] { return TextLike(300000, 2); }},
        {"random 200 KB", [] { return RandomBytes(200000, 3); }},
        {"runs 150 KB", [] { return Bytes(150000, 'a'); }},
        {"mixed 1 MB", [] { return Mixed(1 << 20, 4); }},
        {"exactly one window", [] { return TextLike(0x10000, 5); }},
        {"two windows and one byte", [] { return Mixed(0x20001, 6); }},
    };
    return cases;
}

// The file holds the stream and nothing else: its last code ends at the file's end.
void ExpectDecodes(const Bytes& input, const Bytes& stream, const std::string& what) {
    const Decoded ours = RunInflate(stream, false);
    EXPECT_EQ(ours.result, kInflateOk) << what;
    EXPECT_TRUE(ours.output == input) << what << ": output differs (" << ours.output.size() << " of "
                                      << input.size() << " bytes)";
    EXPECT_EQ(Counts(ours.calls), WindowCalls(input.size())) << what;
    ASSERT_FALSE(ours.calls.empty());
    EXPECT_EQ(ours.calls.back().runningCrc, Crc(input)) << what;
    const Decoded ref = RunReference(stream, false);
    EXPECT_EQ(Describe(ours.calls), Describe(ref.calls)) << what << ": positions differ from the reference";
}

TEST(InflateZlibStreams, EveryLevelDecodesByteIdentically) {
    for (const ZlibCase& c : ZlibInputs()) {
        const Bytes input = c.input();
        for (int level = 0; level <= 9; ++level)
            ExpectDecodes(input, RawDeflate(input, level), std::string(c.name) + ", level " + std::to_string(level));
    }
}

TEST(InflateZlibStreams, EveryStrategyDecodesByteIdentically) {
    const struct {
        const char* name;
        int strategy, memLevel;
    } kStrategies[] = {
        {"fixed", Z_FIXED, 8},          {"Huffman only", Z_HUFFMAN_ONLY, 8}, {"RLE", Z_RLE, 8},
        {"filtered", Z_FILTERED, 8},    {"small blocks", Z_DEFAULT_STRATEGY, 1},
        {"large blocks", Z_DEFAULT_STRATEGY, 9},
    };
    for (const ZlibCase& c : ZlibInputs()) {
        const Bytes input = c.input();
        for (const auto& s : kStrategies)
            ExpectDecodes(input, RawDeflate(input, 6, s.strategy, s.memLevel), std::string(c.name) + ", " + s.name);
    }
}

TEST(InflateZlibStreams, MultiMegabyteInputs) {
    const Bytes input = Mixed(5 << 20, 7);
    for (int level : {1, 6, 9}) ExpectDecodes(input, RawDeflate(input, level), "5 MB, level " + std::to_string(level));
}

// ---- The archive position at each sink call -----------------------------------------

// The position a reader fetching one byte at a time would report, at offsets that put
// each sink call on either side of a KiB boundary, with and without bytes after the stream.
TEST(InflatePositions, MatchTheReferenceAroundKiBBoundaries) {
    const Bytes input = Mixed(5 * 0x10000 + 777, 8);
    for (int level : {1, 6, 9}) {
        const Bytes stream = RawDeflate(input, level);
        const Decoded base = RunInflate(stream, false);
        ASSERT_EQ(base.result, kInflateOk);
        std::vector<long> offsets;
        for (const SinkCall& c : base.calls)
            for (long delta : {-2L, -1L, 0L, 1L}) offsets.push_back(((1024 - c.position % 1024) + delta + 2048) % 1024);
        for (long offset : offsets) {
            for (bool trailing : {false, true}) {
                Bytes image(size_t(offset), 0x55);
                image.insert(image.end(), stream.begin(), stream.end());
                if (trailing) image.insert(image.end(), {'P', 'K', 3, 4, 20, 0, 0, 0});
                Options o;
                o.offset = offset;
                ExpectSameAsReference(image, false, o,
                                      "level " + std::to_string(level) + ", offset " + std::to_string(offset));
            }
        }
    }
}

// Random streams, corrupted and cut at random places, over random trailing bytes: the
// decoders agree on every sink call and on the result, for both methods.
TEST(InflatePositions, CorruptedAndTruncatedStreamsMatchTheReference) {
    Random r(9);
    for (int round = 0; round < 400; ++round) {
        const Bytes input = round % 3 == 0 ? TextLike(20000 + r.Below(150000), r.Next()) : Mixed(20000 + r.Below(150000), r.Next());
        const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FIXED, Z_RLE, Z_HUFFMAN_ONLY};
        Bytes stream = RawDeflate(input, int(r.Below(10)), strategies[r.Below(4)], 1 + int(r.Below(9)));
        switch (r.Below(4)) {
            case 0:  // flipped bits
                for (uint32_t i = 0, n = 1 + r.Below(4); i < n; ++i)
                    stream[r.Below(uint32_t(stream.size()))] ^= uint8_t(1u << r.Below(8));
                break;
            case 1:  // cut short
                stream.resize(r.Below(uint32_t(stream.size())));
                break;
            case 2:  // both
                stream[r.Below(uint32_t(stream.size()))] ^= uint8_t(r.Next());
                stream.resize(stream.size() - r.Below(uint32_t(stream.size())));
                break;
            default:  // random bytes altogether
                stream = RandomBytes(1 + r.Below(3000), r.Next());
        }
        if (r.Below(2)) {
            const Bytes tail = RandomBytes(r.Below(40), r.Next());
            stream.insert(stream.end(), tail.begin(), tail.end());
        }
        const bool deflate64 = r.Below(2);
        ExpectSameAsReference(stream, deflate64, {}, "round " + std::to_string(round));
        if (HasFailure()) break;
    }
}

TEST(InflatePositions, EncryptedStreamMatchesTheReference) {
    BuildCrcTable();
    const Bytes input = Mixed(300000, 10);
    const Bytes plain = RawDeflate(input, 6);
    Decryption keys{};
    keys.active = 1;
    keys.key0 = 0x12345678;
    keys.key1 = 0x23456789;
    keys.key2 = 0x34567890;
    for (const char* p = "secret"; *p; ++p) UpdateKeys(keys, uint8_t(*p));
    Decryption writer = keys;
    Bytes cipher = plain;
    for (auto& b : cipher) {
        const uint8_t c = b ^ KeyStreamByte(writer);
        UpdateKeys(writer, b);
        b = c;
    }
    Options o;
    o.keys = &keys;
    const Decoded ours = RunInflate(cipher, false, o);
    EXPECT_EQ(ours.result, kInflateOk);
    EXPECT_TRUE(ours.output == input);
    ExpectSameAsReference(cipher, false, o, "encrypted");
}

// ---- Hand-made streams ----------------------------------------------------------------

struct HandMade {
    const char* name;
    bool deflate64;
    std::function<void(BitWriter&)> write;
    int result;
    const char* output;  // expected output when the result is 0 (nullptr: not checked)
};

// A dynamic block over literal/length lengths `lit` and distance lengths `dist`, then
// the given symbols (-1 ends the list) and the end-of-block code.
DynamicCodes Dynamic(std::vector<int> lit, std::vector<int> dist) {
    DynamicCodes d;
    d.literal = std::move(lit);
    d.distance = std::move(dist);
    return d;
}

std::vector<int> Lengths(size_t n, std::initializer_list<std::pair<int, int>> set) {
    std::vector<int> l(n, 0);
    for (auto [symbol, length] : set) l[size_t(symbol)] = length;
    return l;
}

// Codes as long as they go. Literal/length: 'A' 1 bit, 257..263 2 to 8 bits, 'K' 'L' 'M'
// 10 bits ('K' and 'L' alone behind their 9-bit prefix), 264..267 11 to 14, 256 and 284 15
// bits (a long end-of-block code keeps the first level at 9 bits). Of `distanceCodes`,
// code i takes 1 + i bits (i < 14) and the last two 15.
DynamicCodes LongestCodes(size_t distanceCodes) {
    std::vector<int> lit = Lengths(285, {{'A', 1}, {'K', 10}, {'L', 10}, {'M', 10}, {256, 15}, {284, 15}});
    for (int i = 0; i < 7; ++i) lit[size_t(257 + i)] = 2 + i;
    for (int i = 0; i < 4; ++i) lit[size_t(264 + i)] = 11 + i;
    std::vector<int> dist(distanceCodes, 15);
    for (int i = 0; i < 14; ++i) dist[size_t(i)] = 1 + i;
    for (size_t i = 14; i + 2 < distanceCodes; ++i) dist[i] = 0;
    return Dynamic(lit, dist);
}

// Bytes after the stream, as an archive has them: with 32 of them ahead of a symbol the
// decoder takes its fast path, which short streams would never reach.
void ArchiveGoesOn(BitWriter& w) {
    w.AlignToByte();
    for (int i = 0; i < 40; ++i) w.Bits(0x5A, 8);
}

const std::vector<HandMade>& HandMadeCases() {
    static const std::vector<HandMade> cases = {
        {"block type 3", false, [](BitWriter& w) { BlockHeader(w, true, 3); }, kInflateBadCode, nullptr},
        {"LEN and NLEN disagree", false,
         [](BitWriter& w) {
             BlockHeader(w, true, 0);
             w.AlignToByte();
             w.Bits(3, 16);
             w.Bits(0xFFFD, 16);  // ~3 would be 0xFFFC
             w.Bits('a', 8), w.Bits('b', 8), w.Bits('c', 8);
         },
         kInflateBadData, nullptr},
        {"stored block of length 0, then more", false,
         [](BitWriter& w) {
             StoredBlock(w, false, {});
             StoredBlock(w, true, {'a', 'b', 'c'});
         },
         kInflateOk, "abc"},
        {"over-subscribed literal/length code", false,
         [](BitWriter& w) { Dynamic(Lengths(257, {{'A', 1}, {'B', 1}, {256, 1}}), {1}).Header(w, true); },
         kInflateBadCode, nullptr},
        {"over-subscribed distance code", false,
         [](BitWriter& w) { Dynamic(Lengths(258, {{'A', 1}, {256, 2}, {257, 2}}), {1, 1, 1}).Header(w, true); },
         kInflateBadCode, nullptr},
        {"incomplete literal/length code", false,
         [](BitWriter& w) { Dynamic(Lengths(257, {{'A', 2}, {256, 2}}), {1}).Header(w, true); }, kInflateBadData,
         nullptr},
        {"literal/length code of one 1-bit code is accepted", false,
         [](BitWriter& w) {
             DynamicCodes d = Dynamic(Lengths(257, {{256, 1}}), {0});
             d.Header(w, true);
             d.Symbol(w, 256);
         },
         kInflateOk, ""},
        {"its unused pattern is an invalid code", false,
         [](BitWriter& w) {
             DynamicCodes d = Dynamic(Lengths(257, {{256, 1}}), {0});
             d.Header(w, true);
             w.Bits(1, 1);
         },
         kInflateBadData, nullptr},
        {"code lengths over-run the total", false,
         [](BitWriter& w) {
             DynamicCodes d = Dynamic(Lengths(257, {{'A', 1}, {256, 1}}), {1});
             d.Header(w, true, [](BitWriter& out, const std::vector<uint32_t>& cl, const std::vector<int>& cll) {
                 // 'A' (65) zeros, 1, then 138 + 56 zeros and the last repeat passes 258.
                 out.Code(cl[18], cll[18]), out.Bits(65 - 11, 7);
                 out.Code(cl[1], cll[1]);
                 out.Code(cl[18], cll[18]), out.Bits(127, 7);
                 out.Code(cl[18], cll[18]), out.Bits(127, 7);
             });
         },
         kInflateBadData, nullptr},
        {"repeat of the previous length at the start repeats zeros", false,
         [](BitWriter& w) {
             DynamicCodes d = Dynamic(Lengths(257, {{'A', 1}, {256, 1}}), {0});
             d.Header(w, true, [](BitWriter& out, const std::vector<uint32_t>& cl, const std::vector<int>& cll) {
                 out.Code(cl[16], cll[16]), out.Bits(3, 2);  // 6 times the previous length (0)
                 for (int i = 6; i < 65; ++i) out.Code(cl[0], cll[0]);
                 out.Code(cl[1], cll[1]);                     // 'A'
                 out.Code(cl[18], cll[18]), out.Bits(127, 7);  // 138 zeros: 66..203
                 out.Code(cl[18], cll[18]), out.Bits(41, 7);   // 52 zeros: 204..255
                 out.Code(cl[1], cll[1]);                     // 256
                 out.Code(cl[0], cll[0]);                     // the one distance length
             });
             d.Symbol(w, 'A');
             d.Symbol(w, 'A');
             d.Symbol(w, 256);
         },
         kInflateOk, "AA"},
        {"invalid code in the code-length code", false,
         [](BitWriter& w) {
             BlockHeader(w, true, 2);
             w.Bits(0, 5), w.Bits(0, 5), w.Bits(18 - 4, 4);
             for (int i = 0; i < 18; ++i) w.Bits(i == 17 ? 1 : 0, 3);  // only symbol 1, one bit long
             w.Bits(1, 1);                                                   // the unused pattern
         },
         kInflateBadData, nullptr},
        {"incomplete distance code is accepted", false,
         [](BitWriter& w) {
             DynamicCodes d = Dynamic(Lengths(258, {{'A', 1}, {256, 2}, {257, 2}}), {2});
             d.Header(w, true);
             d.Symbol(w, 'A');
             d.Symbol(w, 257);  // length 3
             d.Distance(w, 0);  // distance 1
             d.Symbol(w, 256);
         },
         kInflateOk, "AAAA"},
        {"no distance lengths with exactly 257 literal/length codes", false,
         [](BitWriter& w) {
             DynamicCodes d = Dynamic(Lengths(257, {{'A', 1}, {256, 1}}), {0});
             d.Header(w, true);
             d.Symbol(w, 'A');
             d.Symbol(w, 'A');
             d.Symbol(w, 256);
         },
         kInflateOk, "AA"},
        {"no distance lengths with 258 literal/length codes", false,
         [](BitWriter& w) { Dynamic(Lengths(258, {{'A', 1}, {256, 1}}), {0}).Header(w, true); }, kInflateBadData,
         nullptr},
        {"288 literal/length and 32 distance codes", false,
         [](BitWriter& w) {
             DynamicCodes d = Dynamic(Lengths(288, {{'A', 1}, {256, 2}, {257, 2}}), Lengths(32, {{0, 1}, {31, 1}}));
             d.Header(w, true);
             d.Symbol(w, 'A');
             d.Symbol(w, 257);
             d.Distance(w, 0);
             d.Symbol(w, 256);
         },
         kInflateOk, "AAAA"},
        {"literal/length code 286 is invalid", false,
         [](BitWriter& w) {
             DynamicCodes d = Dynamic(Lengths(287, {{'A', 1}, {256, 2}, {286, 2}}), {1});
             d.Header(w, true);
             d.Symbol(w, 'A');
             d.Symbol(w, 286);
         },
         kInflateBadData, nullptr},
        {"distance code 30 in method 8", false,
         [](BitWriter& w) {
             BlockHeader(w, true, 1);
             FixedSymbol(w, 'A');
             FixedSymbol(w, 257);
             w.Code(30, 5);
             w.Bits(0, 14);
             FixedSymbol(w, 256);
         },
         kInflateBadData, nullptr},
        {"Deflate64: a distance of 65,535 reads the cleared bytes just past a short match", true,
         [](BitWriter& w) {
             BlockHeader(w, true, 1);
             for (char c = 'a'; c <= 'j'; ++c) FixedSymbol(w, c);
             FixedMatch(w, 3, 8);  // copied a word at a time, past its end
             FixedSymbol(w, 264);  // length 10
             w.Code(31, 5);
             w.Bits(65535 - 49153, 14);
             FixedSymbol(w, 256);
             ArchiveGoesOn(w);
         },
         kInflateOk, nullptr},
        {"the longest symbol, then a 10-bit code whose last bit is 1", false,
         [](BitWriter& w) {
             DynamicCodes d = LongestCodes(30);
             d.Header(w, true);
             while (w.bitCount % 8 != 7) d.Symbol(w, 'A');
             d.Symbol(w, 284), w.Bits(30, 5);  // length 257
             d.Distance(w, 29), w.Bits(8191, 13);  // distance 32,768: 48 bits in all
             d.Symbol(w, 'L');
             d.Symbol(w, 256);
             ArchiveGoesOn(w);
         },
         kInflateOk, nullptr},
        {"Deflate64: 15-bit distance codes 30 and 31 with 14 extra bits, far into the output", true,
         [](BitWriter& w) {
             // Distance codes 30 and 31 the 15-bit ones: each starts at bit 7 of a byte behind
             // a 20-bit length, and a 10-bit code follows it. The output is long by then, so
             // that a misread distance would not wrap and hand the symbol back to the careful
             // path.
             DynamicCodes d = LongestCodes(32);
             d.Header(w, true);
             for (int code : {30, 31}) {
                 for (int i = 0; i < 33000; ++i) d.Symbol(w, i % 3 ? 'A' : 'L');
                 while (w.bitCount % 8 != 3) d.Symbol(w, 'A');
                 d.Symbol(w, 284), w.Bits(29, 5);  // length 256
                 d.Distance(w, code), w.Bits(code == 30 ? 5 : 16383, 14);  // 32,774 and 65,536
                 d.Symbol(w, code == 30 ? 'K' : 'M');
             }
             d.Symbol(w, 256);
             ArchiveGoesOn(w);
         },
         kInflateOk, nullptr},
        {"distance code 31 in method 8", false,
         [](BitWriter& w) {
             BlockHeader(w, true, 1);
             FixedSymbol(w, 'A');
             FixedSymbol(w, 257);
             w.Code(31, 5);
             w.Bits(0, 14);
             FixedSymbol(w, 256);
         },
         kInflateBadData, nullptr},
    };
    return cases;
}

TEST(InflateHandMade, ResultsAndOutputs) {
    for (const HandMade& c : HandMadeCases()) {
        BitWriter w;
        c.write(w);
        const Decoded ours = RunInflate(w.bytes, c.deflate64);
        EXPECT_EQ(ours.result, c.result) << c.name;
        if (c.result == kInflateOk) {
            ASSERT_FALSE(ours.calls.empty()) << c.name;
            if (c.output) EXPECT_EQ(std::string(ours.output.begin(), ours.output.end()), c.output) << c.name;
        } else {
            EXPECT_TRUE(ours.calls.empty()) << c.name << ": an entry that fails writes nothing of its last window";
        }
        ExpectSameAsReference(w.bytes, c.deflate64, {}, c.name);
        ExpectSameAsReference(w.bytes, c.deflate64, {}, c.name + std::string(" (32-bit words)"),
                              word32::Word32InflateBlocks);
    }
}

TEST(InflateHandMade, Length285InMethod8CopiesExactly258Bytes) {
    BitWriter w;
    BlockHeader(w, true, 1);
    FixedSymbol(w, 'a');
    FixedSymbol(w, 285);
    w.Code(0, 5);
    FixedSymbol(w, 'b');
    FixedSymbol(w, 256);
    const Decoded ours = RunInflate(w.bytes, false);
    EXPECT_EQ(ours.result, kInflateOk);
    EXPECT_EQ(std::string(ours.output.begin(), ours.output.end()), std::string(259, 'a') + "b");
}

TEST(InflateHandMade, DistanceBeforeTheStartReadsTheClearedWindow) {
    BitWriter w;
    BlockHeader(w, true, 1);
    FixedSymbol(w, 'x');
    FixedMatch(w, 5, 3);
    FixedSymbol(w, 256);
    const Decoded ours = RunInflate(w.bytes, false);
    EXPECT_EQ(ours.result, kInflateOk);
    EXPECT_EQ(ours.output, (Bytes{'x', 0, 0, 'x', 0, 0}));
}

// ---- The window's edges -----------------------------------------------------------------

// A simple LZ77 expansion for the expected outputs: literals, and (length, distance) pairs
// copied byte by byte, reading zeros before the start.
struct Op {
    int literal;  // -1 for a match
    int length, distance;
};
Bytes Expand(const std::vector<Op>& ops) {
    Bytes out;
    for (const Op& op : ops) {
        if (op.literal >= 0) {
            out.push_back(uint8_t(op.literal));
            continue;
        }
        for (int i = 0; i < op.length; ++i) {
            const long from = long(out.size()) - op.distance;
            out.push_back(from < 0 ? 0 : out[size_t(from)]);
        }
    }
    return out;
}

// Writes `data` as stored blocks (not the last block).
void StoredBlocks(BitWriter& w, const Bytes& data) {
    for (size_t at = 0; at < data.size(); at += 0xFFFF)
        StoredBlock(w, false, Bytes(data.begin() + long(at), data.begin() + long(std::min(data.size(), at + 0xFFFF))));
}

// A method 9 fixed-code match: code 285 (base 3, 16 extra bits) for long lengths.
void FixedMatch64(BitWriter& w, int length, int distance) {
    if (length > 257) {
        FixedSymbol(w, 285);
        w.Bits(uint32_t(length - 3), 16);
    } else {
        int code, bits, value;
        LengthCode(length, code, bits, value);
        FixedSymbol(w, code);
        w.Bits(uint32_t(value), bits);
    }
    int code, bits, value;
    DistanceCode(distance, code, bits, value);
    w.Code(uint32_t(code), 5);
    w.Bits(uint32_t(value), bits);
}

TEST(InflateWindow, AnEntryOfExactly64KiBMakesOneFullCallAndAnEmptyOne) {
    const Bytes data = RandomBytes(0x10000, 11);
    BitWriter w;
    StoredBlocks(w, data);
    BlockHeader(w, true, 1);
    FixedSymbol(w, 256);
    const Decoded ours = RunInflate(w.bytes, false);
    EXPECT_EQ(ours.result, kInflateOk);
    EXPECT_EQ(Counts(ours.calls), (std::vector<uint32_t>{0x10000, 0}));
    EXPECT_TRUE(ours.output == data);
    ExpectSameAsReference(w.bytes, false);
}

TEST(InflateWindow, AMatchAcrossTheWindowsEndIsSplitWithAFlushBetween) {
    const Bytes head = RandomBytes(0x10000 - 6, 12);
    BitWriter w;
    StoredBlocks(w, head);
    BlockHeader(w, true, 1);
    FixedMatch(w, 20, 1000);
    FixedMatch(w, 258, 7);  // overlapping, after the wrap
    FixedSymbol(w, 256);
    std::vector<Op> ops;
    for (uint8_t b : head) ops.push_back({b, 0, 0});
    ops.push_back({-1, 20, 1000});
    ops.push_back({-1, 258, 7});
    const Bytes expected = Expand(ops);
    const Decoded ours = RunInflate(w.bytes, false);
    EXPECT_EQ(ours.result, kInflateOk);
    EXPECT_EQ(Counts(ours.calls), (std::vector<uint32_t>{0x10000, 14 + 258}));
    EXPECT_TRUE(ours.output == expected);
    ExpectSameAsReference(w.bytes, false);
}

TEST(InflateWindow, Deflate64LengthCode285CopiesUpTo65538Bytes) {
    BitWriter w;
    BlockHeader(w, true, 1);
    FixedSymbol(w, 'x');
    FixedSymbol(w, 'y');
    FixedMatch64(w, 65538, 2);  // code 285, extra 65535
    FixedSymbol(w, 256);
    const Decoded ours = RunInflate(w.bytes, true);
    EXPECT_EQ(ours.result, kInflateOk);
    EXPECT_EQ(Counts(ours.calls), (std::vector<uint32_t>{0x10000, 4}));
    EXPECT_TRUE(ours.output == Expand({{'x', 0, 0}, {'y', 0, 0}, {-1, 65538, 2}}));
    ExpectSameAsReference(w.bytes, true);
}

// Distances beyond 32 KiB, up to 65,536 (the byte at the window position itself), with
// matches that wrap the window twice.
TEST(InflateWindow, Deflate64DistanceCodes30And31) {
    const Bytes head = RandomBytes(70000, 13);
    BitWriter w;
    StoredBlocks(w, head);
    BlockHeader(w, true, 1);
    std::vector<Op> ops;
    for (uint8_t b : head) ops.push_back({b, 0, 0});
    const std::vector<std::pair<int, int>> matches = {{10, 40000}, {300, 49153}, {5000, 65536}, {65538, 65536}, {9, 32769}};
    for (auto [length, distance] : matches) {
        FixedMatch64(w, length, distance);
        ops.push_back({-1, length, distance});
    }
    FixedSymbol(w, 256);
    const Bytes expected = Expand(ops);
    const Decoded ours = RunInflate(w.bytes, true);
    EXPECT_EQ(ours.result, kInflateOk);
    EXPECT_EQ(Counts(ours.calls), WindowCalls(expected.size()));
    EXPECT_TRUE(ours.output == expected);
    ExpectSameAsReference(w.bytes, true);

    // The same stream under method 8 stops at the first distance code 30: the full
    // window already flushed stays, the rest is never written.
    const Decoded deflate = RunInflate(w.bytes, false);
    EXPECT_EQ(deflate.result, kInflateBadData);
    EXPECT_EQ(Counts(deflate.calls), (std::vector<uint32_t>{0x10000}));
}

// Random literals and matches (lengths to 65,538, distances to 65,536) in stored, fixed
// and dynamic blocks of method 9, against a plain LZ77 expansion and the reference.
TEST(InflateWindow, RandomDeflate64StreamsMatchAnLZ77Model) {
    Random r(17);
    for (int round = 0; round < 24; ++round) {
        BitWriter w;
        std::vector<Op> ops;
        const int blocks = 1 + int(r.Below(6));
        for (int b = 0; b < blocks; ++b) {
            const bool last = b == blocks - 1;
            const uint32_t type = r.Below(3);
            if (type == 0) {
                const Bytes data = RandomBytes(r.Below(3000), r.Next());
                StoredBlock(w, last, data);
                for (uint8_t byte : data) ops.push_back({byte, 0, 0});
                continue;
            }
            // Dynamic: the lengths of a complete code over 0..285 (256 of 9 bits, 28 of 6,
            // 2 of 5), given to the symbols in a random order; 32 distance codes of 5 bits.
            DynamicCodes d;
            if (type == 2) {
                std::vector<int> shape(256, 9);
                shape.insert(shape.end(), 28, 6);
                shape.insert(shape.end(), 2, 5);
                for (size_t i = shape.size() - 1; i > 0; --i) std::swap(shape[i], shape[r.Below(uint32_t(i + 1))]);
                d.literal = shape;
                d.distance.assign(32, 5);
                d.Header(w, last);
            } else {
                BlockHeader(w, last, 1);
            }
            auto symbol = [&](int s) { type == 2 ? d.Symbol(w, s) : FixedSymbol(w, s); };
            auto distanceCode = [&](int c) { type == 2 ? d.Distance(w, c) : w.Code(uint32_t(c), 5); };
            for (uint32_t n = r.Below(400); n > 0; --n) {
                if (r.Below(3) == 0) {
                    const int literal = int(r.Below(256));
                    symbol(literal);
                    ops.push_back({literal, 0, 0});
                    continue;
                }
                const int length = r.Below(8) == 0 ? 3 + int(r.Below(65536)) : 3 + int(r.Below(256));
                const int distance = 1 + int(r.Below(r.Below(2) ? 65536 : 300));
                int code, bits, value;
                if (length > 257 || r.Below(10) == 0) {
                    code = 285, bits = 16, value = length - 3;
                } else {
                    LengthCode(length, code, bits, value);
                }
                symbol(code);
                w.Bits(uint32_t(value), bits);
                DistanceCode(distance, code, bits, value);
                distanceCode(code);
                w.Bits(uint32_t(value), bits);
                ops.push_back({-1, length, distance});
            }
            symbol(256);
        }
        const Bytes expected = Expand(ops);
        for (Decoder decode : {Decoder(InflateBlocks), Decoder(word32::Word32InflateBlocks)}) {
            const Decoded ours = RunInflate(w.bytes, true, {}, decode);
            const std::string what =
                "round " + std::to_string(round) + (decode == InflateBlocks ? "" : ", 32-bit words");
            EXPECT_EQ(ours.result, kInflateOk) << what;
            EXPECT_TRUE(ours.output == expected) << what;
            EXPECT_EQ(Counts(ours.calls), WindowCalls(expected.size())) << what;
            ExpectSameAsReference(w.bytes, true, {}, what, decode);
        }
        if (HasFailure()) break;
    }
}

// A stream cut short: an error, and no sink call after the point where bits ran out.
TEST(InflateWindow, AStreamCutShortEndsWithAnErrorAndNoFurtherCalls) {
    const Bytes input = Mixed(400000, 14);
    for (int level : {0, 1, 6}) {
        for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED}) {
            const Bytes stream = RawDeflate(input, level, strategy);
            const Decoded whole = RunInflate(stream, false);
            ASSERT_EQ(whole.result, kInflateOk);
            for (size_t cut : {size_t(0), size_t(1), stream.size() / 3, stream.size() / 2, stream.size() - 2,
                               stream.size() - 1}) {
                const Bytes part(stream.begin(), stream.begin() + long(cut));
                const Decoded ours = RunInflate(part, false);
                const std::string what = "level " + std::to_string(level) + ", cut at " + std::to_string(cut);
                EXPECT_GT(ours.result, 0) << what;
                ASSERT_LE(ours.calls.size(), whole.calls.size()) << what;
                for (size_t i = 0; i < ours.calls.size(); ++i) {
                    EXPECT_EQ(ours.calls[i].count, 0x10000u) << what;
                    EXPECT_EQ(ours.calls[i].runningCrc, whole.calls[i].runningCrc) << what;
                    EXPECT_LE(ours.calls[i].position, long(cut)) << what;
                }
                ExpectSameAsReference(part, false, {}, what);
            }
        }
    }
}

TEST(InflateWindow, ACancelStopsDecodingWithMinusOne) {
    const Bytes input = Mixed(600000, 15);
    for (int level : {0, 6}) {
        for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED}) {
            const Bytes stream = RawDeflate(input, level, strategy);
            for (int after : {1, 3}) {
                Options o;
                o.cancelAfterCalls = after;
                const Decoded ours = RunInflate(stream, false, o);
                const std::string what = "level " + std::to_string(level) + ", cancel in call " + std::to_string(after);
                EXPECT_EQ(ours.result, kInflateCancelled) << what;
                EXPECT_EQ(ours.calls.size(), size_t(after)) << what;
                EXPECT_TRUE(Bytes(input.begin(), input.begin() + long(after) * 0x10000) == ours.output) << what;
                ExpectSameAsReference(stream, false, o, what);
            }
        }
    }
}

// ---- Fixed-table cache -----------------------------------------------------------------

TEST(InflateFixedTables, BuiltOncePerMethodAndShared) {
    BitWriter w;
    BlockHeader(w, false, 1);
    FixedSymbol(w, 'a');
    FixedSymbol(w, 256);
    BlockHeader(w, true, 1);
    FixedSymbol(w, 'b');
    FixedSymbol(w, 256);
    const uint32_t before = InflateFixedTableBuilds();
    EXPECT_LE(before, 2u) << "at most one build per method in a process";
    EXPECT_EQ(RunInflate(w.bytes, false).output, (Bytes{'a', 'b'}));
    const uint32_t afterFirst = InflateFixedTableBuilds();
    EXPECT_LE(afterFirst - before, 1u);
    EXPECT_EQ(RunInflate(w.bytes, false).output, (Bytes{'a', 'b'}));
    EXPECT_EQ(InflateFixedTableBuilds(), afterFirst) << "a second method 8 entry builds nothing";
    EXPECT_EQ(RunInflate(w.bytes, true).output, (Bytes{'a', 'b'}));
    const uint32_t afterOther = InflateFixedTableBuilds();
    EXPECT_EQ(RunInflate(w.bytes, true).output, (Bytes{'a', 'b'}));
    EXPECT_EQ(InflateFixedTableBuilds(), afterOther) << "a second method 9 entry builds nothing";
    EXPECT_EQ(afterOther, 2u) << "one build for each method";
}

// ---- Table builder ------------------------------------------------------------------

// Compares the builder's tables with the reference's recursive construction, entry by
// entry down every link.
void ExpectSameTables(const HuffmanTable& ours, uint32_t start, uint32_t bits, const inflate_reference::Table& ref,
                      const std::string& what) {
    ASSERT_EQ(int(bits), ref.bits) << what;
    for (uint32_t i = 0; i < (1u << bits); ++i) {
        const HuffmanEntry& e = ours.entries[start + i];
        const inflate_reference::Slot& s = ref.slots[i];
        ASSERT_EQ(int(e.op), s.op) << what << " slot " << i;
        ASSERT_EQ(int(e.bits), s.bits) << what << " slot " << i;
        if (e.op > kOpLink && e.op != kOpInvalid)
            ExpectSameTables(ours, e.value, e.op - kOpLink, *s.sub, what + " > " + std::to_string(i));
        else if (e.op != kOpInvalid)
            ASSERT_EQ(int(e.value), s.value) << what << " slot " << i;
    }
}

// A complete code: leaves of a random binary tree (by splitting random leaves) given to
// random symbols.
std::vector<uint8_t> CompleteCode(Random& r, uint32_t n, uint32_t maxLength) {
    std::vector<uint8_t> leaves = {1, 1};
    const uint32_t wanted = 2 + r.Below(n - 1);
    for (int tries = 0; leaves.size() < wanted && tries < 2000; ++tries) {
        const size_t i = r.Below(uint32_t(leaves.size()));
        if (leaves[i] >= maxLength) continue;
        ++leaves[i];
        leaves.push_back(leaves[i]);
    }
    std::vector<uint8_t> lengths(n, 0);
    for (uint8_t l : leaves) {
        uint32_t s = r.Below(n);
        while (lengths[s]) s = (s + 1) % n;
        lengths[s] = l;
    }
    return lengths;
}

// Random lengths: incomplete, over-subscribed or empty codes too.
std::vector<uint8_t> AnyCode(Random& r, uint32_t n, uint32_t maxLength) {
    std::vector<uint8_t> lengths(n, 0);
    const uint32_t density = 1 + r.Below(8);
    for (auto& l : lengths)
        if (r.Below(density) == 0) l = uint8_t(1 + r.Below(maxLength));
    return lengths;
}

TEST(HuffmanTableBuilder, MatchesTheRecursiveConstruction) {
    Random r(16);
    uint16_t base[32];
    uint8_t extra[32];
    for (int i = 0; i < 32; ++i) base[i] = uint16_t(1000 + i), extra[i] = uint8_t(i % 17);
    for (int round = 0; round < 3000; ++round) {
        const uint32_t n = round % 3 == 0 ? 19 : round % 3 == 1 ? 30 + r.Below(3) : 257 + r.Below(32);
        const uint32_t maxLength = 1 + r.Below(15);
        std::vector<uint8_t> lengths = round % 2 ? CompleteCode(r, n, maxLength) : AnyCode(r, n, maxLength);
        if (n > 256 && r.Below(4) == 0) std::swap(lengths[256], lengths[r.Below(n)]);  // moves the end-of-block cut
        const uint32_t plain = n == 19 ? 19 : n < 257 ? 0 : 257;
        const uint32_t request = 1 + r.Below(12);
        HuffmanTable ours;
        const int result = BuildHuffmanTable(lengths.data(), n, plain, base, extra, request, ours);
        inflate_reference::Tables ref;
        const int refResult =
            inflate_reference::Build(lengths.data(), int(n), int(plain), base, extra, int(request), ref);
        const std::string what = "round " + std::to_string(round);
        ASSERT_EQ(result, refResult) << what;
        ASSERT_EQ(int(ours.lookupBits), ref.lookupBits) << what;
        if (result <= kInflateBadData && ours.entries) ExpectSameTables(ours, 0, ours.lookupBits, *ref.root, what);
        if (result <= kInflateBadData) FreeHuffmanTable(ours);
        if (HasFailure()) break;
    }
}

TEST(HuffmanTableBuilder, LookupBitsFollowTheCodes) {
    const struct {
        const char* name;
        std::vector<std::pair<int, int>> lengths;  // symbol, length; a literal/length code
        uint32_t request, lookupBits;
    } kCases[] = {
        {"raised to the shortest code",
         {{0, 4}, {1, 4}, {2, 4}, {3, 4}, {4, 4}, {5, 4}, {6, 4}, {7, 4}, {8, 4}, {9, 4}, {10, 4}, {11, 4}, {12, 4}, {13, 4}, {14, 4}, {15, 4}},
         2, 4},
        {"lowered to the longest code", {{0, 1}, {1, 2}, {2, 3}, {3, 3}}, 9, 3},
        {"as requested", {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}, {6, 7}, {7, 8}, {8, 9}, {9, 10}, {10, 10}}, 6, 6},
        {"cut where the end-of-block code ends",
         {{0, 1}, {256, 2}, {1, 3}, {2, 4}, {3, 5}, {4, 6}, {5, 7}, {6, 8}, {7, 9}, {8, 9}}, 9, 2},
        {"end-of-block code longer than the table",
         {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}, {6, 7}, {7, 8}, {8, 9}, {9, 10}, {256, 11}, {10, 11}}, 9, 9},
    };
    for (const auto& c : kCases) {
        std::vector<uint8_t> lengths(257, 0);
        for (auto [symbol, length] : c.lengths) lengths[size_t(symbol)] = uint8_t(length);
        HuffmanTable t;
        EXPECT_EQ(BuildHuffmanTable(lengths.data(), 257, 257, nullptr, nullptr, c.request, t), kInflateOk) << c.name;
        EXPECT_EQ(t.lookupBits, c.lookupBits) << c.name;
        FreeHuffmanTable(t);
    }
}

TEST(HuffmanTableBuilder, Results) {
    const struct {
        const char* name;
        std::vector<uint8_t> lengths;
        int result;
    } kCases[] = {
        {"complete", {1, 2, 3, 3}, kInflateOk},
        {"incomplete", {2, 2, 2}, kInflateBadData},
        {"incomplete with longest length 1", {1, 0, 0}, kInflateOk},
        {"over-subscribed", {1, 1, 1}, kInflateBadCode},
        {"over-subscribed at a short length", {1, 1, 2, 5}, kInflateBadCode},
        {"all zero", {0, 0, 0, 0}, kInflateOk},
    };
    for (const auto& c : kCases) {
        HuffmanTable t;
        EXPECT_EQ(BuildHuffmanTable(c.lengths.data(), uint32_t(c.lengths.size()), 19, nullptr, nullptr, 7, t), c.result)
            << c.name;
        if (c.result == kInflateBadCode) EXPECT_EQ(t.entries, nullptr) << c.name;
        FreeHuffmanTable(t);
    }
}

}  // namespace
