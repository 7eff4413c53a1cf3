// Explode (method 6), in its four variants. Streams from the test encoder are first
// proven by Info-ZIP unzip, then decoded by ours; the step-by-step reference decoder
// checks that the production decoder's arithmetic tree search reads the same bits and
// makes the same sink calls, on sound, truncated and random input.
#include <gtest/gtest.h>

#include "explode_reference.h"
#include "legacy_encoders.h"
#include "legacy_harness.h"

namespace {

using legacy::BitWriter;
using legacy::Bytes;
using legacy::CallSizes;

struct Variant {
    const char* name;
    bool bigDictionary, literalTree;
    uint16_t Flags() const { return uint16_t((bigDictionary ? 2 : 0) | (literalTree ? 4 : 0)); }
    uint32_t MinMatch() const { return literalTree ? 3 : 2; }
    uint32_t MaxDistance() const { return bigDictionary ? 8192 : 4096; }
};

const Variant kVariants[] = {
    {"4 KiB, two trees", false, false},
    {"8 KiB, two trees", true, false},
    {"4 KiB, three trees", false, true},
    {"8 KiB, three trees", true, true},
};

Bytes PeerText() {
    Bytes bytes;
    legacy::RunCommand("unzip -p '" DUDORE_PEER_ARCHIVES "/Zip.deflate.zip' '*.txt'", &bytes);
    return bytes;
}

// Long runs with a period that the longest match covers whole, a far repeat at exactly
// the largest distance, and noise.
Bytes LongMatches(const Variant& v) {
    Bytes data = legacy::NoiseBytes(v.MaxDistance(), 21);
    const Bytes again(data.begin(), data.begin() + 400);  // at the largest distance
    data.insert(data.end(), again.begin(), again.end());
    data.insert(data.end(), 2000, 'x');  // long matches at distance 1
    const Bytes tail = legacy::RunsAndNoise(60000, 22);
    data.insert(data.end(), tail.begin(), tail.end());
    return data;
}

legacy::ZipItem ImplodedItem(const Variant& v, const Bytes& data, const Bytes& stream, const std::string& password = "") {
    return {"data.bin", 6, v.Flags(), stream, data, password};
}

int ReferenceExplode(EntryStream& s, const EntryRecord& e, uint8_t* work) {
    return reference::Explode(s, e.uncompressedSize, e.flags & 2, e.flags & 4, work);
}

int ProductionExplode(EntryStream& s, const EntryRecord& e, uint8_t* work) {
    return Explode(s, e.uncompressedSize, e.flags & 2, e.flags & 4, work);
}

void ExpectSameRun(const legacy::Decoded& ours, const legacy::Decoded& ref) {
    EXPECT_TRUE(ours.output == ref.output);
    EXPECT_TRUE(ours.calls == ref.calls) << "sink calls (size, archive position)";
    EXPECT_EQ(ours.result, ref.result);
    EXPECT_EQ(ours.endOfInput, ref.endOfInput);
    EXPECT_EQ(ours.endPosition, ref.endPosition);
}

TEST(Explode, EncoderStreamsPassUnzipAndDecodeToTheSameBytes) {
    struct Data {
        const char* name;
        Bytes bytes;
        legacy::ImplodeOptions options;
    };
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.name);
        const legacy::ImplodeOptions base{.bigDictionary = v.bigDictionary, .literalTree = v.literalTree};
        legacy::ImplodeOptions uniform = base, deep = base, literalsOnly = base;
        uniform.uniformTrees = true;
        deep.deepTrees = true;
        literalsOnly.matches = false;
        const Data cases[] = {
            {"empty", {}, base},
            {"one byte", {'z'}, base},
            {"text", legacy::TextLike(70000, 1), base},
            {"text, trees of one length (count byte 3, four bytes 0xF5)", legacy::TextLike(30000, 2), uniform},
            {"text, trees with codes of up to 16 bits", legacy::TextLike(30000, 9), deep},
            {"exactly two blocks: a last flush of 0 bytes", legacy::TextLike(32768, 3), base},
            {"noise: literals only", legacy::NoiseBytes(20000, 4), literalsOnly},
            {"long matches, the largest distance, flushes inside copies", LongMatches(v), base},
            {"the peer text file", PeerText(), base},
        };
        for (const Data& c : cases) {
            SCOPED_TRACE(c.name);
            const Bytes stream = legacy::Implode(c.bytes, c.options);
            const Bytes zip = legacy::BuildZip({ImplodedItem(v, c.bytes, stream)});
            const legacy::UnzipResult unzip = legacy::RunUnzip(zip, "data.bin");
            EXPECT_EQ(unzip.testStatus, 0) << "unzip -t";
            EXPECT_TRUE(unzip.extracted == c.bytes) << "unzip -p";

            const legacy::Decoded d = legacy::Decode(zip);
            ASSERT_TRUE(d.found);
            EXPECT_TRUE(d.output == c.bytes);
            EXPECT_EQ(d.runningCrc, legacy::Crc32Of(c.bytes));
            EXPECT_EQ(CallSizes(d), legacy::BlockCalls(c.bytes.size()));
            ExpectSameRun(d, legacy::Decode(zip, {}, ReferenceExplode));
        }
    }
}

TEST(Explode, EncoderReachesTheEdgesOfEachVariant) {
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.name);
        legacy::ImplodeStats stats;
        legacy::Implode(LongMatches(v), {.bigDictionary = v.bigDictionary, .literalTree = v.literalTree}, &stats);
        EXPECT_EQ(stats.longestCopy, 63 + 255 + v.MinMatch()) << "length code 63 with 255 added";
        EXPECT_GT(stats.longLengthCodes, 0);
        EXPECT_EQ(stats.farthest, v.MaxDistance());
        EXPECT_GT(stats.crossesFlush, 0);
        legacy::ImplodeStats deep;
        legacy::Implode(legacy::TextLike(30000, 9),
                        {.bigDictionary = v.bigDictionary, .literalTree = v.literalTree, .deepTrees = true}, &deep);
        EXPECT_EQ(deep.longestCode, 16) << "16-bit codes in some tree";
    }
}

// The cleared window: a distance that reaches before the first byte copies zeros.
TEST(Explode, DistancesBeforeTheFirstByteCopyZeros) {
    Bytes data(5000, 0);
    const Bytes text = legacy::TextLike(3000, 5);
    data.insert(data.end(), text.begin(), text.end());
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.name);
        legacy::ImplodeStats stats;
        const Bytes stream = legacy::Implode(
            data, {.bigDictionary = v.bigDictionary, .literalTree = v.literalTree, .zeroHistory = true}, &stats);
        EXPECT_GT(stats.beforeStart, 0);
        const Bytes zip = legacy::BuildZip({ImplodedItem(v, data, stream)});
        const legacy::UnzipResult unzip = legacy::RunUnzip(zip, "data.bin");
        EXPECT_EQ(unzip.testStatus, 0) << "unzip -t";
        EXPECT_TRUE(unzip.extracted == data) << "unzip -p";
        EXPECT_TRUE(legacy::Decode(zip).output == data);
    }
}

TEST(Explode, EncryptedEntriesDecodeThroughTheCipher) {
    const Bytes data = legacy::TextLike(40000, 6);
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.name);
        const Bytes stream = legacy::Implode(data, {.bigDictionary = v.bigDictionary, .literalTree = v.literalTree});
        const Bytes zip = legacy::BuildZip({ImplodedItem(v, data, stream, "pa55")});
        const legacy::UnzipResult unzip = legacy::RunUnzip(zip, "data.bin", "pa55");
        EXPECT_EQ(unzip.testStatus, 0);
        EXPECT_TRUE(unzip.extracted == data);
        const legacy::Decoded d = legacy::Decode(zip, {.password = "pa55"});
        ASSERT_TRUE(d.passwordOk);
        EXPECT_TRUE(d.output == data);
        EXPECT_EQ(d.runningCrc, legacy::Crc32Of(data));
    }
}

// ---- hand-written trees ---------------------------------------------------------

// A description: (bit length, count) runs, each split into bytes of at most 16.
void PutDescription(BitWriter& w, std::initializer_list<std::pair<int, int>> runs) {
    std::vector<uint8_t> bytes;
    for (auto [bits, count] : runs) {
        for (; count > 0; count -= 16) bytes.push_back(uint8_t((bits - 1) | (std::min(count, 16) - 1) << 4));
    }
    w.Put(uint32_t(bytes.size() - 1), 8);
    for (uint8_t b : bytes) w.Put(b, 8);
}

legacy::Decoded ExplodeRaw(const Bytes& stream, uint32_t size, bool big, bool literal,
                           const legacy::Options& options = {}) {
    return legacy::DecodeRaw(
        stream,
        [=](EntryStream& s, const EntryRecord&, uint8_t* work) { return Explode(s, size, big, literal, work); },
        options);
}

legacy::Decoded ReferenceRaw(const Bytes& stream, uint32_t size, bool big, bool literal) {
    return legacy::DecodeRaw(stream, [=](EntryStream& s, const EntryRecord&, uint8_t* work) {
        return reference::Explode(s, size, big, literal, work);
    });
}

TEST(Explode, HandWrittenTrees) {
    struct Case {
        const char* name;
        Bytes stream;
        uint32_t size;
        bool literalTree;
        Bytes output;
        int result;
    };
    std::vector<Case> cases;
    {
        // 64 codes of 6 bits: value 63 has code 000000 and value 0 code 111111.
        BitWriter w;
        PutDescription(w, {{6, 64}});
        PutDescription(w, {{6, 64}});
        w.Put(1, 1), w.Put('a', 8);
        w.Put(0, 1), w.Put(0, 6), w.PutMsbFirst(63, 6), w.PutMsbFirst(63 - 1, 6);  // distance 1, length 1 + 2
        w.Put(0, 1), w.Put(1, 6), w.PutMsbFirst(63, 6), w.PutMsbFirst(0, 6), w.Put(255, 8);  // distance 2, length 63 + 255 + 2
        cases.push_back({"a complete tree of 6-bit codes; length code 63 adds a byte", w.bytes(), 1 + 3 + 320, false,
                         {}, 0});
        Bytes& out = cases.back().output;
        out.assign(4, 'a');
        for (int i = 0; i < 320; ++i) out.push_back(out[out.size() - 2]);
    }
    {
        // Only values 0 and 1 are described (1 bit each); the other 62 never match.
        BitWriter w;
        PutDescription(w, {{1, 2}});
        PutDescription(w, {{1, 2}});
        w.Put(1, 1), w.Put('q', 8);
        w.Put(0, 1), w.Put(0, 6), w.PutMsbFirst(1, 1), w.PutMsbFirst(0, 1);  // distance 0 + 1, length 1 + 2
        cases.push_back({"a description of fewer entries: the rest never match", w.bytes(), 4, false, {'q', 'q', 'q', 'q'}, 0});
    }
    {
        BitWriter w;
        PutDescription(w, {{6, 64}});
        PutDescription(w, {{6, 64}});
        w.Put(1, 1), w.Put('x', 8), w.Put(1, 1), w.Put('y', 8);
        // Then the input ends inside a match whose bits read as zeros: high distance 63,
        // length code 63 with 0 added, so 65 bytes from 4033 back: zeros.
        Bytes out = {'x', 'y'};
        out.resize(2 + 65, 0);
        cases.push_back({"a size of 2 GiB or more is still a count of bytes to come", w.bytes(), 0x80000000u, false,
                         out, 0});
    }
    {
        BitWriter w;
        PutDescription(w, {{6, 64}, {2, 1}});
        cases.push_back({"a description of more entries than the tree holds ends the entry", w.bytes(), 10, false, {}, -1});
    }
    {
        // Literal tree: two codes of 1 bit (values 0 and 1); the bits 1 then 0 find value 1.
        BitWriter w;
        PutDescription(w, {{1, 2}});
        PutDescription(w, {{6, 64}});
        PutDescription(w, {{6, 64}});
        w.Put(1, 1), w.PutMsbFirst(0, 1), w.Put(1, 1), w.PutMsbFirst(1, 1);
        cases.push_back({"a literal tree of two entries", w.bytes(), 2, true, {1, 0}, 0});
    }
    {
        // Lengths 1 and 2 for values 0 and 1: an incomplete tree whose codes 1 and 11
        // match nothing.
        BitWriter w;
        PutDescription(w, {{1, 1}, {2, 1}});
        PutDescription(w, {{6, 64}});
        PutDescription(w, {{6, 64}});
        w.Put(1, 1), w.PutMsbFirst(3, 2);
        cases.push_back({"bits that match no entry end the entry", w.bytes(), 5, true, {}, -1});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const legacy::Decoded d = ExplodeRaw(c.stream, c.size, false, c.literalTree);
        EXPECT_TRUE(d.output == c.output) << d.output.size() << " bytes";
        EXPECT_EQ(d.result, c.result);
        if (c.result < 0) EXPECT_TRUE(d.calls.empty()) << "an error writes nothing more";
        ExpectSameRun(d, ReferenceRaw(c.stream, c.size, false, c.literalTree));
    }
}

// ---- against the reference, on input of every kind ---------------------------------

// Random trees, mostly complete, now and then over-full (even within one bit length),
// incomplete, short of entries or with one entry too many, followed by random bits.
Bytes RandomStream(uint32_t seed, bool literalTree) {
    uint32_t x = seed * 2654435761u + 7;
    auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    BitWriter w;
    for (int tree = literalTree ? 0 : 1; tree < 3; ++tree) {
        std::vector<uint64_t> freq(tree == 0 ? 256 : 64);
        for (auto& f : freq) f = 1 + next() % (1u << (next() % 20));
        std::vector<int> lengths = legacy::LimitedCodeLengths(freq, 16);
        if (next() % 4 == 0) {
            int& l = lengths[next() % lengths.size()];
            l = std::clamp(l + (next() % 2 ? 1 : -1), 1, 16);
        }
        if (next() % 6 == 0) {  // more codes of one short length than that length has
            lengths.assign(lengths.size(), 1 + int(next() % 5));
            if (next() % 2) lengths[next() % lengths.size()] = 1 + int(next() % 16);
        }
        if (next() % 8 == 0) lengths.resize(1 + next() % lengths.size());
        if (next() % 16 == 0) lengths.push_back(5);
        legacy::PutTreeDescription(w, lengths);
    }
    const Bytes body = legacy::NoiseBytes(200 + next() % 3000, seed);
    for (uint8_t b : body) w.Put(b, 8);
    return w.bytes();
}

TEST(Explode, MatchesTheReferenceOnTruncatedAndRandomInput) {
    int decodedSomething = 0;
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.name);
        const Bytes data = legacy::TextLike(9000, 31);
        const Bytes stream = legacy::Implode(data, {.bigDictionary = v.bigDictionary, .literalTree = v.literalTree});
        for (size_t cut = 0; cut <= stream.size(); cut += cut < 700 ? 1 : 37) {
            SCOPED_TRACE(cut);
            const Bytes part(stream.begin(), stream.begin() + long(cut));
            const legacy::Decoded d = ExplodeRaw(part, uint32_t(data.size()), v.bigDictionary, v.literalTree);
            ExpectSameRun(d, ReferenceRaw(part, uint32_t(data.size()), v.bigDictionary, v.literalTree));
            if (cut < stream.size()) EXPECT_NE(d.runningCrc, legacy::Crc32Of(data));
        }
        // Longer than the input buffer, with codes of up to 16 bits, cut within its second
        // fill: behind the last byte lie stale bytes of the first fill, never the stream's,
        // and a cut one byte into a long code must not read them as its next bits.
        const Bytes longData = legacy::TextLike(60000, 31);
        const Bytes deep =
            legacy::Implode(longData, {.bigDictionary = v.bigDictionary, .literalTree = v.literalTree, .deepTrees = true});
        ASSERT_GT(deep.size(), kInputBufferSize + 32);
        for (size_t cut = kInputBufferSize + 1; cut <= kInputBufferSize + 32; ++cut) {
            SCOPED_TRACE(testing::Message() << "deep trees, cut at " << cut);
            const Bytes part(deep.begin(), deep.begin() + long(cut));
            const legacy::Decoded d = ExplodeRaw(part, uint32_t(longData.size()), v.bigDictionary, v.literalTree);
            ExpectSameRun(d, ReferenceRaw(part, uint32_t(longData.size()), v.bigDictionary, v.literalTree));
        }
        for (uint32_t seed = 1; seed <= 400; ++seed) {
            SCOPED_TRACE(seed);
            const Bytes random = RandomStream(seed, v.literalTree);
            const uint32_t size = 1 + seed * 97 % 40000;
            const legacy::Decoded d = ExplodeRaw(random, size, v.bigDictionary, v.literalTree);
            ExpectSameRun(d, ReferenceRaw(random, size, v.bigDictionary, v.literalTree));
            if (d.output.size() > 100) ++decodedSomething;
        }
    }
    EXPECT_GT(decodedSomething, 100) << "random trees should often decode a while";
}

TEST(Explode, CancelAndRefusedWritesStopDecoding) {
    const Bytes data = legacy::TextLike(100000, 8);
    const Variant& v = kVariants[3];
    const Bytes zip = legacy::BuildZip({ImplodedItem(v, data, legacy::Implode(data, {.bigDictionary = true, .literalTree = true}))});
    for (int after : {1, 3}) {
        SCOPED_TRACE(after);
        const legacy::Decoded d = legacy::Decode(zip, {.cancelAfterCalls = after}, ProductionExplode);
        EXPECT_EQ(d.calls.size(), size_t(after));
        EXPECT_EQ(d.result, -1);
        EXPECT_TRUE(d.output == Bytes(data.begin(), data.begin() + 16384 * after));
    }
    const legacy::Decoded refused = legacy::Decode(zip, {.readOnlyOutput = true}, ProductionExplode);
    EXPECT_EQ(refused.result, -1);
    EXPECT_TRUE(refused.calls.empty());
    EXPECT_LT(refused.endPosition, 20000) << "decoding stopped at the first block";
}

}  // namespace
