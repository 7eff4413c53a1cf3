// Unshrink (method 1). Streams from the test encoder are first proven by Info-ZIP unzip,
// then decoded by ours; hand-written code sequences pin the control codes, partial
// clearing and the corrupt-stream rules.
#include <gtest/gtest.h>

#include <functional>

#include "legacy_encoders.h"
#include "legacy_harness.h"
#include "unshrink_reference.h"

namespace {

using legacy::BitWriter;
using legacy::Bytes;
using legacy::CallSizes;

Bytes Concat(std::initializer_list<const char*> parts) {
    Bytes b;
    for (const char* p : parts) b.insert(b.end(), p, p + strlen(p));
    return b;
}

Bytes PeerExecutable() {
    Bytes bytes;
    legacy::RunCommand("unzip -p '" DUDORE_PEER_ARCHIVES "/Zip.deflate.zip' exe/test.exe", &bytes);
    return bytes;
}

struct EncoderCase {
    const char* name;
    Bytes data;
    legacy::ShrinkOptions options;
    std::function<bool(const legacy::ShrinkStats&)> reached;  // the edge case occurred
    bool unzipReads = true;  // Info-ZIP unzip stops at a code read while the table is full
};

std::vector<EncoderCase> EncoderCases() {
    using S = legacy::ShrinkStats;
    return {
        {"one byte: the first code is the only code", Concat({"A"}), {}, [](const S& s) { return s.stringLengths.size() == 1; }},
        {"empty entry", {}, {}, [](const S& s) { return s.stringLengths.empty(); }},
        {"zeros: KwKwK on every code", Bytes(40000, 0), {}, [](const S& s) { return s.kwkwk > 200; }},
        {"text: the table fills up to 8191 and decoding goes on with it", legacy::TextLike(150000, 1), {},
         [](const S& s) { return s.tableFilled && s.maxCodeSize == 13 && s.partialClears == 0; }, false},
        {"noise: clearing as soon as the table is full", legacy::NoiseBytes(60000, 2), {.clearAtNextFree = 8192},
         [](const S& s) { return s.tableFilled && s.partialClears >= 3 && s.reusedFreedCode > 0; }},
        {"text: clearing at 1000 reuses the lowest freed codes", legacy::TextLike(60000, 3), {.clearAtNextFree = 1000},
         [](const S& s) { return s.partialClears >= 10 && s.reusedFreedCode > 100; }},
        {"clearing every 300 codes, with codes in use above Next free", legacy::TextLike(80000, 4),
         {.clearEveryCodes = 300}, [](const S& s) { return s.clearsWithHoles > 0 && s.brokenCodes > 0; }},
        {"runs: clearing every 700 codes frees the previous code too", legacy::RunsAndNoise(150000, 3),
         {.clearAtNextFree = 8192, .clearEveryCodes = 700},
         [](const S& s) { return s.previousFreed > 0 && s.kwkwk > 0 && s.clearsWithHoles > 0; }},
        {"clearing only after a code that survives it", legacy::RunsAndNoise(60000, 6),
         {.clearEveryCodes = 500, .keepPrevious = true}, [](const S& s) { return s.partialClears > 5 && s.previousFreed == 0; }},
        {"sizes grown only when a code needs them, and sub-codes that mean nothing",
         legacy::TextLike(50000, 5), {.eagerSizeIncrease = false, .junkSubCodeEvery = 50},
         [](const S& s) { return s.junkSubCodes > 100 && s.maxCodeSize == 13; }, false},
        {"an executable, cleared as soon as the table is full", PeerExecutable(), {.clearAtNextFree = 8192},
         [](const S& s) { return s.partialClears > 0; }},
    };
}

legacy::ZipItem ShrunkItem(const Bytes& data, const Bytes& stream, const std::string& password = "") {
    return {"data.bin", 1, 0, stream, data, password};
}

TEST(Unshrink, EncoderStreamsPassUnzipAndDecodeToTheSameBytes) {
    for (const EncoderCase& c : EncoderCases()) {
        SCOPED_TRACE(c.name);
        legacy::ShrinkStats stats;
        const Bytes stream = legacy::ShrinkEncoder(c.options).Encode(c.data, &stats);
        EXPECT_TRUE(c.reached(stats)) << "the case did not reach its edge";
        const Bytes zip = legacy::BuildZip({ShrunkItem(c.data, stream)});

        if (c.unzipReads) {
            const legacy::UnzipResult unzip = legacy::RunUnzip(zip, "data.bin");
            EXPECT_EQ(unzip.testStatus, 0) << "unzip -t";
            EXPECT_TRUE(unzip.extracted == c.data) << "unzip -p";
        }

        const legacy::Decoded d = legacy::Decode(zip);
        ASSERT_TRUE(d.found);
        EXPECT_TRUE(d.output == c.data);
        EXPECT_EQ(d.runningCrc, legacy::Crc32Of(c.data));
        EXPECT_EQ(CallSizes(d), stats.stringLengths) << "one sink call per string";
    }
}

TEST(Unshrink, EncryptedEntryDecodesThroughTheCipher) {
    const Bytes data = legacy::TextLike(30000, 7);
    const Bytes stream = legacy::ShrinkEncoder({.clearAtNextFree = 2000}).Encode(data);
    const Bytes zip = legacy::BuildZip({ShrunkItem(data, stream, "s3cret")});
    const legacy::UnzipResult unzip = legacy::RunUnzip(zip, "data.bin", "s3cret");
    EXPECT_EQ(unzip.testStatus, 0);
    EXPECT_TRUE(unzip.extracted == data);

    const legacy::Decoded d = legacy::Decode(zip, {.password = "s3cret"});
    ASSERT_TRUE(d.passwordOk);
    EXPECT_TRUE(d.output == data);
    EXPECT_EQ(d.runningCrc, legacy::Crc32Of(data));
}

// ---- hand-written code sequences --------------------------------------------------

struct Code {
    uint32_t value;
    int bits;
};

Bytes Codes(std::initializer_list<Code> codes) {
    BitWriter w;
    for (const Code& c : codes) w.Put(c.value, c.bits);
    return w.bytes();
}

legacy::Decoded Unshrunk(const Bytes& stream, uint32_t size, const legacy::Options& options = {}) {
    return legacy::DecodeRaw(
        stream, [size](EntryStream& s, const EntryRecord&, uint8_t* work) { return Unshrink(s, size, work); },
        options);
}

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

TEST(Unshrink, HandWrittenCodeSequences) {
    constexpr uint32_t A = 'A', B = 'B', C = 'C';
    struct Case {
        const char* name;
        Bytes stream;
        uint32_t size;
        const char* output;
        std::vector<uint32_t> calls;
        int result;
        bool unzipStopsToo = true;  // unzip reads the whole stream, not only the size
    };
    const Case cases[] = {
        {"KwKwK: the code being defined is the previous string and its first byte",
         Codes({{A, 9}, {257, 9}, {258, 9}}), 6, "AAAAAA", {1, 2, 3}, 0},
        {"sub-code 1 twice takes the code size from 9 to 11",
         Codes({{A, 9}, {256, 9}, {1, 9}, {256, 10}, {1, 10}, {B, 11}, {257, 11}}), 4, "ABAB", {1, 1, 2}, 0},
        {"a sub-code other than 1 or 2 changes nothing",
         Codes({{A, 9}, {256, 9}, {3, 9}, {256, 9}, {0, 9}, {B, 9}, {257, 9}}), 4, "ABAB", {1, 1, 2}, 0},
        // 257=AB 258=BA 259=(257)C; clearing frees the leaves 258 and 259 but keeps 257,
        // the prefix of 259; then 258 becomes C+A and 259 becomes AB+C.
        {"partial clearing frees the leaves; the next codes take the lowest freed ones",
         Codes({{A, 9}, {B, 9}, {257, 9}, {C, 9}, {256, 9}, {2, 9}, {257, 9}, {258, 9}, {259, 9}}), 12,
         "ABABCABCAABC", {1, 1, 2, 1, 2, 2, 3}, 0},
        {"a code size above 13 ends the entry",
         Codes({{A, 9}, {256, 9}, {1, 9}, {256, 10}, {1, 10}, {256, 11}, {1, 11}, {256, 12}, {1, 12},
                {256, 13}, {1, 13}, {B, 14}}),
         2, "A", {1}, -1},
        // 257=AB is freed with 258 while it is the previous code, so the next code defines
        // 257 as 257 plus C: a string without end.
        {"a string that would run below the stack ends the entry",
         Codes({{A, 9}, {B, 9}, {257, 9}, {256, 9}, {2, 9}, {C, 9}, {257, 9}}), 100, "ABABC", {1, 1, 2, 1}, -1},
        // An undefined first code 300 writes its low byte and becomes the prefix of 257.
        {"a string that runs into a free code ends the entry",
         Codes({{300, 9}, {A, 9}, {257, 9}}), 100, ",A", {1, 1}, -1},
        // 257=AB 258=BC 259=CD 260=DE 261=ED 262=(260)F; the first clearing keeps 260, the
        // prefix of 262, and frees the rest; the second looks only below Next free code
        // (257), so 260 stays defined although no code uses it any more.
        {"codes at and above Next free code survive a clearing",
         Codes({{A, 9}, {B, 9}, {C, 9}, {'D', 9}, {'E', 9}, {260, 9}, {'F', 9}, {256, 9}, {2, 9}, {256, 9}, {2, 9},
                {'G', 9}, {'H', 9}, {'I', 9}, {'J', 9}, {260, 9}}),
         14, "ABCDEDEFGHIJDE", {1, 1, 1, 1, 1, 2, 1, 1, 1, 1, 1, 2}, 0},
        // The first clearing frees 258 while it is the previous code, so D defines 257 on
        // the free 258; the second clearing frees 257 and, taking the mark off its prefix,
        // leaves 258 neither free nor defined: E and F define 257 and 259.
        {"a free code that loses a mark is passed over by Next free code",
         Codes({{A, 9}, {B, 9}, {C, 9}, {258, 9}, {256, 9}, {2, 9}, {'D', 9}, {256, 9}, {2, 9}, {'E', 9}, {'F', 9},
                {259, 9}}),
         10, "ABCBCDEFEF", {1, 1, 1, 2, 1, 1, 1, 2}, 0},
        {"... and a string that reaches it is corrupt",
         Codes({{A, 9}, {B, 9}, {C, 9}, {258, 9}, {256, 9}, {2, 9}, {'D', 9}, {256, 9}, {2, 9}, {'E', 9}, {'F', 9},
                {258, 9}}),
         10, "ABCBCDEF", {1, 1, 1, 2, 1, 1, 1}, -1},
        {"the uncompressed size stops decoding, even inside a stream",
         Codes({{A, 9}, {B, 9}, {C, 9}}), 2, "AB", {1, 1}, 0, false},
        {"a last string longer than the bytes left is written whole",
         Codes({{A, 9}, {B, 9}, {257, 9}, {B, 9}}), 3, "ABAB", {1, 1, 2}, 0},
        {"the end of input after the first code", Codes({{A, 9}}), 5, "A", {1}, 0},
        {"a size of 2 GiB or more is still a count of bytes to come", Codes({{A, 9}, {B, 9}}), 0x80000000u, "AB",
         {1, 1}, 0, false},
        {"no input at all", {}, 5, "", {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const legacy::Decoded d = Unshrunk(c.stream, c.size);
        EXPECT_EQ(Text(d.output), c.output);
        EXPECT_EQ(CallSizes(d), c.calls);
        EXPECT_EQ(d.result, c.result);
        // Where the stream is sound and exactly fills the entry, unzip must agree.
        const Bytes expected(c.output, c.output + strlen(c.output));
        if (c.result == 0 && expected.size() == c.size && c.unzipStopsToo) {
            const legacy::UnzipResult unzip = legacy::RunUnzip(legacy::BuildZip({ShrunkItem(expected, c.stream)}), "data.bin");
            EXPECT_EQ(unzip.testStatus, 0) << "unzip -t";
            EXPECT_EQ(Text(unzip.extracted), c.output) << "unzip -p";
        }
    }
}

legacy::Decoded ReferenceUnshrunk(const Bytes& stream, uint32_t size) {
    return legacy::DecodeRaw(stream, [size](EntryStream& s, const EntryRecord&, uint8_t* work) {
        return reference::Unshrink(s, size, work);
    });
}

// Partial clearing works in two passes where the recipe has three; the step-by-step
// reference must agree on streams that clear often (freeing previous codes, unmarking
// free ones), on the same streams with bits flipped, and on noise.
TEST(Unshrink, MatchesTheReferenceOnAnyStream) {
    uint32_t x = 12345;
    auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    int previousFreed = 0, unmarkedFree = 0, corrupt = 0;
    for (int round = 0; round < 120; ++round) {
        SCOPED_TRACE(round);
        const Bytes data = round % 2 ? legacy::TextLike(1000 + next() % 6000, next()) : legacy::RunsAndNoise(1000 + next() % 6000, next());
        legacy::ShrinkStats stats;
        const legacy::ShrinkOptions options{.clearEveryCodes = int(2 + next() % 150), .keepPrevious = next() % 4 == 0,
                                            .eagerSizeIncrease = next() % 2 == 0};
        Bytes stream = legacy::ShrinkEncoder(options).Encode(data, &stats);
        previousFreed += stats.previousFreed;
        std::vector<Bytes> streams = {stream};
        for (int flips = 1; flips <= 3; ++flips) {
            Bytes flipped = stream;
            for (int i = 0; i < flips && !flipped.empty(); ++i) flipped[next() % flipped.size()] ^= uint8_t(1 << (next() % 8));
            streams.push_back(flipped);
        }
        streams.push_back(legacy::NoiseBytes(50 + next() % 2000, next()));
        for (const Bytes& input : streams) {
            const uint32_t size = input == stream ? uint32_t(data.size()) : uint32_t(next() % 20000);
            const legacy::Decoded d = Unshrunk(input, size);
            const legacy::Decoded r = ReferenceUnshrunk(input, size);
            EXPECT_TRUE(d.output == r.output);
            EXPECT_TRUE(d.calls == r.calls);
            EXPECT_EQ(d.result, r.result);
            EXPECT_EQ(d.endOfInput, r.endOfInput);
            EXPECT_EQ(d.endPosition, r.endPosition);
            if (input == stream) EXPECT_TRUE(d.output == data);
            if (d.result < 0) ++corrupt;
        }
        unmarkedFree += stats.unmarkedFreeCodes;
    }
    EXPECT_GT(previousFreed, 50);
    EXPECT_GT(unmarkedFree, 5);
    EXPECT_GT(corrupt, 50) << "flipped bits and noise should often be corrupt";
}

TEST(Unshrink, TruncatedStreamsStopAtTheEndOfInput) {
    const Bytes data = legacy::TextLike(20000, 11);
    legacy::ShrinkStats stats;
    const Bytes stream = legacy::ShrinkEncoder({.clearAtNextFree = 3000}).Encode(data, &stats);
    for (size_t cut = 0; cut < stream.size(); cut += cut < 40 ? 1 : 97) {
        SCOPED_TRACE(cut);
        const legacy::Decoded d = Unshrunk(Bytes(stream.begin(), stream.begin() + long(cut)), uint32_t(data.size()));
        EXPECT_EQ(d.endOfInput, 1);
        EXPECT_EQ(d.result, 0);
        EXPECT_NE(d.runningCrc, legacy::Crc32Of(data));
        // Whole codes decode as encoded; only the string of a code cut by the end may differ.
        const size_t sure = d.calls.empty() ? 0 : d.output.size() - d.calls.back().size;
        ASSERT_LT(sure, data.size());
        EXPECT_TRUE(std::equal(d.output.begin(), d.output.begin() + long(sure), data.begin()));
        EXPECT_LE(d.endPosition, long(cut));
    }
}

TEST(Unshrink, CancelAndRefusedWritesStopDecoding) {
    const Bytes data = legacy::TextLike(20000, 12);
    legacy::ShrinkStats stats;
    const Bytes stream = legacy::ShrinkEncoder().Encode(data, &stats);
    const Bytes zip = legacy::BuildZip({ShrunkItem(data, stream)});
    for (int after : {1, 2, 100, 1000}) {
        SCOPED_TRACE(after);
        const legacy::Decoded d = legacy::Decode(zip, {.cancelAfterCalls = after}, [](EntryStream& s, const EntryRecord& e, uint8_t* work) {
            return Unshrink(s, e.uncompressedSize, work);
        });
        ASSERT_EQ(d.calls.size(), size_t(after)) << "no call passes once the Cancel state is set";
        EXPECT_EQ(d.result, -1);
        size_t expected = 0;
        for (int i = 0; i < after; ++i) expected += stats.stringLengths[size_t(i)];
        EXPECT_TRUE(d.output == Bytes(data.begin(), data.begin() + long(expected)));
    }
    // A short write on the first string: decoding stops there, two bytes into the data.
    const legacy::Decoded refused = legacy::Decode(zip, {.readOnlyOutput = true}, [](EntryStream& s, const EntryRecord& e, uint8_t* work) {
        return Unshrink(s, e.uncompressedSize, work);
    });
    EXPECT_EQ(refused.result, -1);
    EXPECT_TRUE(refused.calls.empty());
    EXPECT_EQ(refused.endPosition, 30 + 8 + 2) << "header, name, then the two bytes of the first code";
}

}  // namespace
