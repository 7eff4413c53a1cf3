// Shrunk, reduced and imploded archives written by other archivers decode byte for byte
// to the contents that Info-ZIP unzip takes out of the deflated copy of the same files;
// and no method writes past an entry's declared size.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "legacy_encoders.h"
#include "legacy_harness.h"

namespace {

using legacy::Bytes;

const std::string kPeers = DUDORE_PEER_ARCHIVES;

// The three files, keyed by size, from the deflated archive through unzip.
const std::map<uint32_t, Bytes>& References() {
    static std::map<uint32_t, Bytes> references = [] {
        std::map<uint32_t, Bytes> r;
        for (const char* name : {"exe/test.exe", "jpg/test.jpg", "*.txt"}) {
            Bytes bytes;
            legacy::RunCommand("unzip -p '" + kPeers + "/Zip.deflate.zip' '" + name + "'", &bytes);
            r[uint32_t(bytes.size())] = bytes;
        }
        return r;
    }();
    return references;
}

TEST(LegacyPeerArchives, ReferencesHaveTheKnownCrcs) {
    const std::map<uint32_t, uint32_t> known = {{45056, 0xcfb109c8}, {40372, 0x088814e3}, {15498, 0x9bd160fa}};
    ASSERT_EQ(References().size(), 3u) << "unzip -p on Zip.deflate.zip";
    for (const auto& [size, bytes] : References()) EXPECT_EQ(legacy::Crc32(bytes), known.at(size)) << size;
}

TEST(LegacyPeerArchives, EveryEntryDecodesToTheReference) {
    struct Case {
        const char* file;
        std::set<int> methods;  // must all occur among the entries
    };
    const Case cases[] = {
        {"Zip.shrink.zip", {0, 1}},  {"Zip.reduce1.zip", {1, 2}}, {"Zip.reduce2.zip", {1, 3}},
        {"Zip.reduce3.zip", {1, 4}}, {"Zip.reduce4.zip", {1, 5}}, {"Zip.implode.zip", {0, 6}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const Bytes archive = legacy::ReadFileBytes(kPeers + "/" + c.file);
        ASSERT_FALSE(archive.empty());
        std::set<int> seen;
        std::set<int> implodeVariants;
        for (int index = 0;; ++index) {
            const legacy::Decoded d = legacy::Decode(archive, {.entryIndex = index});
            if (!d.found) {
                EXPECT_EQ(index, 3) << "entries";
                break;
            }
            SCOPED_TRACE(d.entry.name);
            seen.insert(d.entry.method);
            if (d.entry.method == 6) implodeVariants.insert(d.entry.flags & 6);
            const auto reference = References().find(d.entry.uncompressedSize);
            ASSERT_NE(reference, References().end());
            EXPECT_TRUE(d.output == reference->second) << "method " << d.entry.method;
            EXPECT_EQ(d.runningCrc, d.entry.crc32);
        }
        EXPECT_EQ(seen, c.methods);
        // Both imploded entries: 4 KiB with two trees, 8 KiB with three.
        if (c.methods.count(6)) EXPECT_EQ(implodeVariants, (std::set<int>{0, 6}));
    }
}

}  // namespace

namespace {

// Every method: an entry whose data decodes to far more than it declares. The output
// never holds more than the declared size; Deflate and Deflate64 stop there at once (the
// overrun marks the entry failed), the older methods count down to it. The bound is
// cumulative: a size that only several writes pass, each smaller than it, holds too.
TEST(OutputBound, NoEntryWritesPastItsDeclaredSize) {
    const Bytes data = legacy::TextLike(100000, 7);
    Bytes stored64;  // stored blocks: a stream both Deflate and Deflate64 read alike
    for (size_t at = 0; at < data.size(); at += 60000) {
        stored64.push_back(at + 60000 >= data.size());
        const uint16_t n = uint16_t(std::min<size_t>(60000, data.size() - at));
        stored64.insert(stored64.end(), {uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)});
        stored64.insert(stored64.end(), data.begin() + long(at), data.begin() + long(at + n));
    }
    const struct {
        uint16_t method, flags;
        Bytes compressed;
        bool overrun;
        size_t declared = 10;
    } cases[] = {
        {0, 0, data, true},
        {1, 0, legacy::ShrinkEncoder({}).Encode(data), false},
        {3, 0, legacy::Reduce(data, {.factor = 2}), false},
        {6, 6, legacy::Implode(data, {.bigDictionary = true, .literalTree = true}), false},
        {8, 0, stored64, true},
        {9, 0, stored64, true},
        {0, 0, data, true, 70000},
        {8, 0, stored64, true, 70000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "method " << c.method << ", " << c.declared << " bytes declared");
        const Bytes declared(data.begin(), data.begin() + long(c.declared));
        const Bytes archive = legacy::BuildZip({{"big.txt", c.method, c.flags, c.compressed, declared}});
        const legacy::Decoded d = legacy::Decode(archive);
        ASSERT_TRUE(d.found);
        EXPECT_EQ(d.entry.uncompressedSize, c.declared);
        EXPECT_LE(d.output.size(), c.declared);
        if (c.declared == 10) {
            if (c.overrun) EXPECT_EQ(d.output.size(), 0u) << "the block that would pass the size is refused whole";
            continue;
        }
        // The writes that fit were made, each smaller than the size; the one that would
        // pass it is refused whole.
        EXPECT_FALSE(d.calls.empty());
        for (const legacy::SinkCall& call : d.calls) EXPECT_LT(call.size, c.declared);
        EXPECT_LT(d.output.size(), c.declared);
    }
}

}  // namespace
