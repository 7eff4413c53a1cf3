// Helpers for the inflate tests: a bit writer for hand-made streams, zlib raw streams,
// and runners that decode a file image with the real decoder and with the reference one,
// recording every sink call the same way.
#pragma once

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <memory>
#include <string>
#include <vector>

#include "archive/crc32.h"
#include "codecs/entry_stream.h"
#include "codecs/inflate.h"
#include "inflate_reference.h"

namespace inflate_test {

using Bytes = std::vector<uint8_t>;
using inflate_reference::SinkCall;

// ---- Hand-made streams --------------------------------------------------------------

// Writes bits LSB-first, as the format stores them.
struct BitWriter {
    Bytes bytes;
    uint32_t bitCount = 0;

    void Bits(uint32_t value, int n) {
        for (int i = 0; i < n; ++i) {
            if (bitCount % 8 == 0) bytes.push_back(0);
            if ((value >> i) & 1) bytes.back() |= uint8_t(1u << (bitCount % 8));
            ++bitCount;
        }
    }
    // A Huffman code: its first bit is its most significant one.
    void Code(uint32_t code, int length) {
        for (int i = length - 1; i >= 0; --i) Bits((code >> i) & 1, 1);
    }
    void AlignToByte() { bitCount = (bitCount + 7) & ~7u; }
};

// Canonical codes for the lengths (RFC 1951, 3.2.2).
inline std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths) {
    int count[17] = {};
    for (int l : lengths) count[l]++;
    count[0] = 0;
    uint32_t next[17] = {};
    uint32_t code = 0;
    for (int len = 1; len <= 16; ++len) {
        code = (code + uint32_t(count[len - 1])) << 1;
        next[len] = code;
    }
    std::vector<uint32_t> codes(lengths.size(), 0);
    for (size_t i = 0; i < lengths.size(); ++i)
        if (lengths[i]) codes[i] = next[lengths[i]]++;
    return codes;
}

// Block header bits.
inline void BlockHeader(BitWriter& w, bool last, int type) {
    w.Bits(last, 1);
    w.Bits(uint32_t(type), 2);
}

inline void StoredBlock(BitWriter& w, bool last, const Bytes& data) {
    BlockHeader(w, last, 0);
    w.AlignToByte();
    w.Bits(uint32_t(data.size()), 16);
    w.Bits(~uint32_t(data.size()) & 0xFFFF, 16);
    for (uint8_t b : data) w.Bits(b, 8);
}

// Literal/length symbol in the fixed code.
inline void FixedSymbol(BitWriter& w, int symbol) {
    if (symbol < 144) w.Code(0x30 + uint32_t(symbol), 8);
    else if (symbol < 256) w.Code(0x190 + uint32_t(symbol - 144), 9);
    else if (symbol < 280) w.Code(uint32_t(symbol - 256), 7);
    else w.Code(0xC0 + uint32_t(symbol - 280), 8);
}

// The length code and extra bits of a length 3..258 (Deflate's table).
inline void LengthCode(int length, int& code, int& extraBits, int& extraValue) {
    static const int kBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int kExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    int i = 28;
    while (kBase[i] > length) --i;
    if (length == 258) i = 28;
    else if (i == 28) i = 27;
    code = 257 + i;
    extraBits = kExtra[i];
    extraValue = length - kBase[i];
}

inline void DistanceCode(int distance, int& code, int& extraBits, int& extraValue) {
    int base = 1;
    for (int i = 0; i < 32; ++i) {
        const int extra = i < 4 ? 0 : i / 2 - 1;
        if (distance < base + (1 << extra)) {
            code = i;
            extraBits = extra;
            extraValue = distance - base;
            return;
        }
        base += 1 << extra;
    }
    ADD_FAILURE() << "distance out of range: " << distance;
}

// A fixed-code match (lengths up to 258, Deflate's length table).
inline void FixedMatch(BitWriter& w, int length, int distance) {
    int code, bits, value;
    LengthCode(length, code, bits, value);
    FixedSymbol(w, code);
    w.Bits(uint32_t(value), bits);
    DistanceCode(distance, code, bits, value);
    w.Code(uint32_t(code), 5);
    w.Bits(uint32_t(value), bits);
}

// A dynamic block's codes. The header stores the code lengths through a complete
// code-length code (4 bits for 3..15, 5 bits for 0, 1, 2, 16, 17, 18).
struct DynamicCodes {
    std::vector<int> literal, distance;  // code lengths
    std::vector<uint32_t> literalCodes, distanceCodes;

    static std::vector<int> CodeLengthLengths() {
        std::vector<int> l(19, 4);
        for (int s : {0, 1, 2, 16, 17, 18}) l[size_t(s)] = 5;
        return l;
    }

    // Writes every length as its own code-length symbol.
    void Header(BitWriter& w, bool last) {
        Header(w, last, [&](BitWriter& out, const std::vector<uint32_t>& cl, const std::vector<int>& cll) {
            for (int l : literal) out.Code(cl[size_t(l)], cll[size_t(l)]);
            for (int l : distance) out.Code(cl[size_t(l)], cll[size_t(l)]);
        });
    }
    // `writeLengths(w, codes, lengths)` writes the code-length symbols itself.
    template <typename WriteLengths>
    void Header(BitWriter& w, bool last, WriteLengths writeLengths) {
        static const int kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        BlockHeader(w, last, 2);
        w.Bits(uint32_t(literal.size() - 257), 5);
        w.Bits(uint32_t(distance.size() - 1), 5);
        w.Bits(19 - 4, 4);
        const std::vector<int> cll = CodeLengthLengths();
        for (int i = 0; i < 19; ++i) w.Bits(uint32_t(cll[size_t(kOrder[i])]), 3);
        const std::vector<uint32_t> cl = CanonicalCodes(cll);
        writeLengths(w, cl, cll);
        literalCodes = CanonicalCodes(literal);
        distanceCodes = CanonicalCodes(distance);
    }
    void Symbol(BitWriter& w, int symbol) const { w.Code(literalCodes[size_t(symbol)], literal[size_t(symbol)]); }
    void Distance(BitWriter& w, int code) const { w.Code(distanceCodes[size_t(code)], distance[size_t(code)]); }
};

// ---- zlib -------------------------------------------------------------------------

inline Bytes RawDeflate(const Bytes& input, int level, int strategy = Z_DEFAULT_STRATEGY, int memLevel = 8) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, memLevel, strategy), Z_OK);
    Bytes out(deflateBound(&z, uLong(input.size())) + 64);
    z.next_in = const_cast<Bytes::value_type*>(input.data());
    z.avail_in = uInt(input.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

inline uint32_t Crc(const Bytes& b) { return uint32_t(crc32(0, b.data(), uInt(b.size()))); }

// Deterministic test data.
struct Random {
    uint64_t state;
    explicit Random(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t Next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return uint32_t(state >> 16);
    }
    uint32_t Below(uint32_t n) { return Next() % n; }
};

inline Bytes RandomBytes(size_t n, uint64_t seed) {
    Random r(seed);
    Bytes b(n);
    for (auto& x : b) x = uint8_t(r.Next());
    return b;
}

// Words from a small vocabulary with some numbers: compresses like text.
inline Bytes TextLike(size_t n, uint64_t seed) {
    static const char* kWords[] = {"the ", "archive ", "entry ", "window ", "of ", "and ", "data ", "\n",
                                   "stub ", "folder ", "Deflate ", "bytes ", ", ", ". ", "code ", "table "};
    Random r(seed);
    Bytes b;
    while (b.size() < n) {
        if (r.Below(9) == 0) {
            const std::string num = std::to_string(r.Below(100000)) + " ";
            b.insert(b.end(), num.begin(), num.end());
        } else {
            const char* w = kWords[r.Below(16)];
            b.insert(b.end(), w, w + strlen(w));
        }
    }
    b.resize(n);
    return b;
}

// ---- Runners ------------------------------------------------------------------------

struct Decoded {
    int result = 0;
    bool overran = false;  // reference only
    uint32_t longestMatch = 0, farthestDistance = 0;  // reference only
    std::vector<SinkCall> calls;
    Bytes output;
};

inline FILE* FileWith(const Bytes& image) {
    FILE* f = tmpfile();
    if (!f) return nullptr;
    if (!image.empty()) fwrite(image.data(), 1, image.size(), f);
    rewind(f);
    return f;
}

inline Bytes ReadAll(FILE* f) {
    Bytes b;
    rewind(f);
    uint8_t chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) b.insert(b.end(), chunk, chunk + got);
    return b;
}

struct Options {
    long offset = 0;                 // where the stream starts in the image
    const Decryption* keys = nullptr;  // initial decryption state
    int cancelAfterCalls = 0;        // set the Cancel state during this sink call (0: never)
};

struct Recorder {
    EntryStream* stream;
    std::vector<SinkCall>* calls;
    long lastSize;
    volatile int* cancel;
    int cancelAfter;
    bool kibMatches = true;
};

inline void RecordProgress(void* context, uint32_t kib) {
    Recorder& r = *static_cast<Recorder*>(context);
    const long size = ftell(r.stream->output);
    const long position = long(ArchivePosition(*r.stream));
    if (long(kib) != position / 1024) r.kibMatches = false;
    r.calls->push_back({uint32_t(size - r.lastSize), position, r.stream->runningCrc});
    r.lastSize = size;
    if (int(r.calls->size()) == r.cancelAfter) *r.cancel = 100;
}

using Decoder = int (*)(EntryStream&, bool);

// The decoder under test, through the entry stream as the worker drives it.
inline Decoded RunInflate(const Bytes& image, bool deflate64, const Options& o = {}, Decoder decode = InflateBlocks) {
    BuildCrcTable();
    Decoded d;
    FILE* archive = FileWith(image);
    FILE* output = tmpfile();
    if (!archive || !output) {
        ADD_FAILURE() << "tmpfile";
        return d;
    }
    fseek(archive, o.offset, SEEK_SET);
    volatile int cancel = 0;
    auto s = std::make_unique<EntryStream>();
    Recorder rec{s.get(), &d.calls, 0, &cancel, o.cancelAfterCalls};
    StreamHost host{&cancel, RecordProgress, &rec};
    s->archive = archive;
    s->output = output;
    s->host = &host;
    if (o.keys) s->decryption = *o.keys;
    ResetRunningCrc(*s);
    BeginEntryData(*s);
    d.result = decode(*s, deflate64);
    EXPECT_TRUE(rec.kibMatches) << "progress in KiB differs from the archive position";
    d.output = ReadAll(output);
    fclose(output);
    fclose(archive);
    return d;
}

inline Decoded RunReference(const Bytes& image, bool deflate64, const Options& o = {}) {
    BuildCrcTable();
    Decoded d;
    FILE* archive = FileWith(image);
    if (!archive) return d;
    fseek(archive, o.offset, SEEK_SET);
    volatile int cancel = 0;
    Decryption keys{};
    inflate_reference::Inflater ref;
    ref.file = archive;
    ref.deflate64 = deflate64;
    ref.cancel = &cancel;
    if (o.keys) {
        keys = *o.keys;
        ref.keys = &keys;
    }
    int calls = 0;
    ref.onSink = [&](const SinkCall&) {
        if (++calls == o.cancelAfterCalls) cancel = 100;
    };
    inflate_reference::Outcome out = ref.Run();
    fclose(archive);
    d.result = out.result;
    d.overran = out.overran;
    d.longestMatch = out.longestMatch;
    d.farthestDistance = out.farthestDistance;
    d.calls = out.calls;
    d.output = out.output;
    return d;
}

inline std::string Describe(const std::vector<SinkCall>& calls) {
    std::string s;
    for (const SinkCall& c : calls)
        s += "(" + std::to_string(c.count) + " @" + std::to_string(c.position) + ") ";
    return s;
}

// Both decoders agree: the same sink calls (sizes, positions, running CRC) and result.
inline void ExpectSameAsReference(const Bytes& image, bool deflate64, const Options& o = {},
                                  const std::string& what = "", Decoder decode = InflateBlocks) {
    const Decoded ours = RunInflate(image, deflate64, o, decode);
    const Decoded ref = RunReference(image, deflate64, o);
    EXPECT_EQ(Describe(ours.calls), Describe(ref.calls)) << what;
    EXPECT_TRUE(ours.calls == ref.calls) << what << " (running CRC differs)";
    if (ref.overran) EXPECT_EQ(ours.result, kInflateBadData) << what << " (input ran out)";
    else EXPECT_EQ(ours.result, ref.result) << what;
}

}  // namespace inflate_test
