// Unreduce (methods 2 to 5). Info-ZIP unzip cannot check reduce, so the test encoder is
// trusted only through our decoder, which first has to pass every reduced peer archive
// (legacy_peer_test.cpp); hand-written streams pin the details one by one.
#include <gtest/gtest.h>

#include "legacy_encoders.h"
#include "legacy_harness.h"

namespace {

using legacy::BitWriter;
using legacy::Bytes;
using legacy::CallSizes;

Bytes PeerExecutable() {
    Bytes bytes;
    legacy::RunCommand("unzip -p '" DUDORE_PEER_ARCHIVES "/Zip.deflate.zip' exe/test.exe", &bytes);
    return bytes;
}

legacy::ZipItem ReducedItem(int factor, const Bytes& data, const Bytes& stream, const std::string& password = "") {
    return {"data.bin", uint16_t(factor + 1), 0, stream, data, password};
}

int LengthMask(int factor) { return (1 << (8 - factor)) - 1; }

TEST(Unreduce, EncoderStreamsDecodeToTheSameBytes) {
    Bytes leadingZeros(3000, 0);
    const Bytes text = legacy::TextLike(5000, 1);
    leadingZeros.insert(leadingZeros.end(), text.begin(), text.end());
    for (int factor = 1; factor <= 4; ++factor) {
        SCOPED_TRACE(factor);
        struct Case {
            const char* name;
            Bytes data;
            legacy::ReduceOptions options;
        };
        const Case cases[] = {
            {"empty", {}, {.factor = factor}},
            {"one DLE byte", {144}, {.factor = factor}},
            {"text, sets of up to 32", legacy::TextLike(60000, 2), {.factor = factor}},
            {"runs, DLE bytes and noise, sets of 63", legacy::RunsAndNoise(80000, 3), {.factor = factor, .maxSetSize = 63}},
            {"sets of every size 0 to 63", legacy::RunsAndNoise(50000, 4), {.factor = factor, .maxSetSize = 63, .varySetSizes = true}},
            {"every follower set empty", legacy::TextLike(30000, 5), {.factor = factor, .maxSetSize = 0}},
            {"copies that reach before the first byte", leadingZeros, {.factor = factor, .zeroHistory = true}},
            {"exactly one block: a last flush of 0 bytes", legacy::TextLike(16384, 6), {.factor = factor}},
            {"an executable", PeerExecutable(), {.factor = factor}},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            const Bytes zip = legacy::BuildZip({ReducedItem(factor, c.data, legacy::Reduce(c.data, c.options))});
            const legacy::Decoded d = legacy::Decode(zip);
            ASSERT_TRUE(d.found);
            EXPECT_EQ(d.entry.method, factor + 1);
            EXPECT_TRUE(d.output == c.data);
            EXPECT_EQ(d.runningCrc, legacy::Crc32Of(c.data));
            EXPECT_EQ(CallSizes(d), legacy::BlockCalls(c.data.size()));
        }
    }
}

TEST(Unreduce, EncoderReachesTheEdgesOfEachFactor) {
    for (int factor = 1; factor <= 4; ++factor) {
        SCOPED_TRACE(factor);
        legacy::ReduceStats runs, zeros;
        legacy::Reduce(legacy::RunsAndNoise(80000, 3), {.factor = factor, .maxSetSize = 63}, &runs);
        EXPECT_GT(runs.dleLiterals, 0);
        EXPECT_GT(runs.longLengths, 0);
        EXPECT_EQ(runs.longestCopy, uint32_t(LengthMask(factor) + 255 + 3));
        EXPECT_GT(runs.crossesFlush, 0);
        Bytes data(3000, 0);
        data.push_back(1);
        legacy::Reduce(data, {.factor = factor, .zeroHistory = true}, &zeros);
        EXPECT_GT(zeros.beforeStart, 0);
    }
}

TEST(Unreduce, EncryptedEntryDecodesThroughTheCipher) {
    const Bytes data = legacy::RunsAndNoise(40000, 7);
    for (int factor = 1; factor <= 4; ++factor) {
        SCOPED_TRACE(factor);
        const Bytes zip = legacy::BuildZip({ReducedItem(factor, data, legacy::Reduce(data, {.factor = factor}), "k3y")});
        const legacy::Decoded d = legacy::Decode(zip, {.password = "k3y"});
        ASSERT_TRUE(d.passwordOk);
        EXPECT_TRUE(d.output == data);
        EXPECT_EQ(d.runningCrc, legacy::Crc32Of(data));
    }
}

// ---- hand-written streams -----------------------------------------------------------

// Follower sets: `sets` lists (byte value, followers); every other set is empty.
BitWriter WithSets(std::initializer_list<std::pair<int, Bytes>> sets) {
    BitWriter w;
    for (int v = 255; v >= 0; --v) {
        const Bytes* followers = nullptr;
        for (const auto& [value, bytes] : sets)
            if (value == v) followers = &bytes;
        w.Put(followers ? uint32_t(followers->size()) : 0, 6);
        if (followers)
            for (uint8_t b : *followers) w.Put(b, 8);
    }
    return w;
}

// Plain 8-bit bytes, for a stream whose sets are all empty.
Bytes Plain(std::initializer_list<uint8_t> bytes) {
    BitWriter w = WithSets({});
    for (uint8_t b : bytes) w.Put(b, 8);
    return w.bytes();
}

legacy::Decoded UnreduceRaw(const Bytes& stream, uint32_t size, int factor, const legacy::Options& options = {}) {
    return legacy::DecodeRaw(
        stream, [=](EntryStream& s, const EntryRecord&, uint8_t* work) { return Unreduce(s, size, factor, work); },
        options);
}

TEST(Unreduce, HandWrittenStreams) {
    struct Case {
        const char* name;
        Bytes stream;
        uint32_t size;
        int factor;
        Bytes output;
    };
    std::vector<Case> cases = {
        {"DLE then 0 is the byte 144", Plain({'a', 144, 0, 'b'}), 3, 1, {'a', 144, 'b'}},
        {"a copy of 1 + 3 bytes at distance 1 repeats the last byte",
         Plain({'q', 144, 0x01, 0x00}), 5, 2, {'q', 'q', 'q', 'q', 'q'}},
        {"the smallest copy, 3 bytes, from before the first byte: zeros",
         Plain({'q', 144, 0x80, 0x00}), 4, 1, {'q', 0, 0, 0}},
        {"the largest distance of factor 4 reaches 4096 back", Plain({'r', 144, 0xF1, 0xFF}), 5, 4, {'r', 0, 0, 0, 0}},
        {"a copy longer than the bytes left is written whole",
         Plain({'z', 144, 0x05, 0x00}), 3, 1, Bytes(1 + 8, 'z')},
        {"the end of input stops before the size", Plain({'a', 'b'}), 10, 1, {'a', 'b', 0}},
        {"a size of 2 GiB or more is still a count of bytes to come", Plain({'a', 'b'}), 0x80000000u, 1, {'a', 'b', 0}},
    };
    for (int factor = 1; factor <= 4; ++factor) {
        // A length part of all ones takes the next byte: mask + 200 + 3 bytes.
        const uint32_t length = uint32_t(LengthMask(factor)) + 200 + 3;
        cases.push_back({"a length of all ones reads one more byte", Plain({'x', 144, uint8_t(LengthMask(factor)), 200, 0}),
                         1 + length, factor, Bytes(1 + length, 'x')});
    }
    {
        // Value 0's set holds A B C (2-bit indexes); index 3 is past its end and reads 0.
        BitWriter w = WithSets({{0, {'A', 'B', 'C'}}});
        w.Put(0, 1), w.Put(3, 2);   // last 0: index 3 -> 0
        w.Put(0, 1), w.Put(1, 2);   // last 0: index 1 -> B
        w.Put('Z', 8);              // B's set is empty: 8 bits, no flag
        cases.push_back({"an index at or past the set size reads zero", w.bytes(), 3, 1, {0, 'B', 'Z'}});
    }
    {
        // Value 'a' has 33 followers (6-bit indexes); the flag bit 1 escapes to 8 bits.
        Bytes followers;
        for (int i = 0; i < 33; ++i) followers.push_back(uint8_t('0' + i));
        BitWriter w = WithSets({{'a', followers}});
        w.Put('a', 8);              // last 0: empty set
        w.Put(0, 1), w.Put(32, 6);  // last a: index 32
        w.Put('a', 8);              // last '0'+32: empty set
        w.Put(1, 1), w.Put('!', 8); // last a: escaped
        cases.push_back({"a set of 33 takes 6-bit indexes; flag 1 escapes to 8 bits", w.bytes(), 4, 3,
                         {'a', uint8_t('0' + 32), 'a', '!'}});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SCOPED_TRACE(c.factor);
        const legacy::Decoded d = UnreduceRaw(c.stream, c.size, c.factor);
        EXPECT_TRUE(d.output == c.output) << d.output.size() << " bytes";
        EXPECT_EQ(d.result, 0);
        EXPECT_EQ(CallSizes(d), legacy::BlockCalls(d.output.size()));
    }
}

TEST(Unreduce, TruncatedStreamsStopAtTheEndOfInput) {
    const Bytes data = legacy::RunsAndNoise(30000, 9);
    for (int factor = 1; factor <= 4; ++factor) {
        SCOPED_TRACE(factor);
        const Bytes stream = legacy::Reduce(data, {.factor = factor, .maxSetSize = 40});
        for (size_t cut = 0; cut < stream.size(); cut += cut < 300 ? 1 : 211) {
            SCOPED_TRACE(cut);
            const legacy::Decoded d = UnreduceRaw(Bytes(stream.begin(), stream.begin() + long(cut)), uint32_t(data.size()), factor);
            EXPECT_EQ(d.endOfInput, 1);
            EXPECT_EQ(d.result, 0);
            EXPECT_NE(d.runningCrc, legacy::Crc32Of(data));
            EXPECT_EQ(CallSizes(d), legacy::BlockCalls(d.output.size()));
            // All but the steps taken at the end of input decode as encoded: a copy and a
            // byte at most, from bits that ran past the end and read as zeros.
            const size_t longest = size_t(LengthMask(factor)) + 258 + 1;
            const size_t sure = d.output.size() > longest ? d.output.size() - longest : 0;
            ASSERT_LE(sure, data.size());
            EXPECT_TRUE(std::equal(d.output.begin(), d.output.begin() + long(sure), data.begin()));
            EXPECT_LE(d.endPosition, long(cut));
        }
    }
}

TEST(Unreduce, CancelAndRefusedWritesStopDecoding) {
    const Bytes data = legacy::TextLike(70000, 10);
    const Bytes zip = legacy::BuildZip({ReducedItem(2, data, legacy::Reduce(data, {.factor = 2}))});
    auto run = [](EntryStream& s, const EntryRecord& e, uint8_t* work) {
        return Unreduce(s, e.uncompressedSize, e.method - 1, work);
    };
    for (int after : {1, 2}) {
        SCOPED_TRACE(after);
        const legacy::Decoded d = legacy::Decode(zip, {.cancelAfterCalls = after}, run);
        EXPECT_EQ(d.calls.size(), size_t(after));
        EXPECT_EQ(d.result, -1);
        EXPECT_TRUE(d.output == Bytes(data.begin(), data.begin() + 16384 * after));
    }
    const legacy::Decoded refused = legacy::Decode(zip, {.readOnlyOutput = true}, run);
    EXPECT_EQ(refused.result, -1);
    EXPECT_TRUE(refused.calls.empty());
    EXPECT_LT(refused.endPosition, 15000) << "decoding stopped at the first block";
}

}  // namespace
