// Explode (method 6): a 4 or 8 KiB sliding dictionary whose lengths, distance high parts
// and (optionally) literals are Shannon-Fano coded. Flag bit 1 chooses 7 low distance
// bits instead of 6; flag bit 2 adds the literal tree and raises the minimum match from
// 2 to 3.
//
// The trees are read as run lengths of bit lengths. Their codes come from sorting the
// entries by (bit length, value) and counting down from the longest; a symbol is the
// first entry, in that order, whose code equals the bits read so far, tried one bit
// longer at a time. Within one bit length the codes form an arithmetic sequence, so
// each length is tested with a little arithmetic instead of a scan, and a table by the
// next 9 bits answers the short codes at once. The answer, and the bits consumed, are
// those of the scan, over-full and incomplete trees included.
#include "codecs/legacy_decoders.h"

#include <string.h>

namespace {

constexpr int kMaxBits = 16;
constexpr int kLiteralSymbols = 256;
constexpr int kLengthSymbols = 64;    // also the distance tree
constexpr int kLongLengthCode = 63;   // followed by an 8-bit addition
constexpr int kFastBits = 9;

struct Tree {
    int maxBits;                        // longest code; a failed decode reads this many bits
    uint16_t count[kMaxBits + 1];       // entries of each bit length
    uint16_t firstCode[kMaxBits + 1];   // code (MSB first, in 16 bits) of the group's highest value
    uint16_t groupEnd[kMaxBits + 1];    // index in `values` just past the group
    uint8_t values[kLiteralSymbols];    // sorted by (bit length, value); length 0 left out
    // By the next kFastBits bits (first bit lowest): bit length << 8 | value for codes
    // of up to kFastBits bits, 0 when the symbol needs a longer look.
    uint16_t fast[1 << kFastBits];
};

struct ExplodeTables {
    Tree literal, length, distance;
    uint8_t bitLength[kLiteralSymbols];
};
static_assert(kWindowSize + sizeof(ExplodeTables) <= kWorkBufferSize, "trees fit the Work buffer");

// Reads a tree description for `symbols` entries. A byte of 0 bits length-minus-one in
// the low half and count-minus-one in the high half assigns the next values; values it
// never reaches keep bit length 0 and never match. False when it assigns too many.
bool ReadTree(EntryStream& s, Tree& tree, int symbols, uint8_t* bitLength) {
    memset(bitLength, 0, kLiteralSymbols);
    const int descriptionBytes = GetBits(s, 8) + 1;
    int next = 0;
    for (int i = 0; i < descriptionBytes; ++i) {
        const int bits = GetBits(s, 4) + 1;
        const int count = GetBits(s, 4) + 1;
        if (count > symbols - next) return false;
        memset(bitLength + next, bits, size_t(count));
        next += count;
    }

    memset(tree.count, 0, sizeof tree.count);
    tree.maxBits = 0;
    for (int value = 0; value < symbols; ++value) ++tree.count[bitLength[value]];
    tree.count[0] = 0;
    // Groups in order of bit length; values ascending inside each group.
    int end = 0;
    for (int bits = 1; bits <= kMaxBits; ++bits) {
        end += tree.count[bits];
        tree.groupEnd[bits] = uint16_t(end);
        if (tree.count[bits] != 0) tree.maxBits = bits;
    }
    uint16_t fill[kMaxBits + 1];
    for (int bits = 1; bits <= kMaxBits; ++bits) fill[bits] = uint16_t(tree.groupEnd[bits] - tree.count[bits]);
    for (int value = 0; value < symbols; ++value)
        if (bitLength[value] != 0) tree.values[fill[bitLength[value]]++] = uint8_t(value);

    // Codes are handed out from the last entry to the first: each adds the step of the
    // entry handed out before it, where a step is 1 << (16 - bit length), in 16 bits.
    uint16_t code = 0, step = 0;
    for (int bits = kMaxBits; bits >= 1; --bits) {
        if (tree.count[bits] == 0) continue;
        tree.firstCode[bits] = uint16_t(code + step);
        step = uint16_t(1u << (kMaxBits - bits));
        code = uint16_t(tree.firstCode[bits] + (tree.count[bits] - 1) * step);
    }
    return true;
}

// The group of `bits` holds codes firstCode + j * step (j = 0 for its highest value).
// Returns the value whose code is `read` (the bits so far, first bit highest), taking
// the lowest value when an over-full group wraps onto the same code twice; -1 if none.
int MatchInGroup(const Tree& tree, int bits, uint32_t read) {
    const uint32_t count = tree.count[bits];
    const uint32_t shift = uint32_t(kMaxBits - bits);
    const uint32_t first = tree.firstCode[bits];
    if (count == 0 || (first & ((1u << shift) - 1)) != 0) return -1;
    const uint32_t period = 1u << bits;
    const uint32_t j = (read - (first >> shift)) & (period - 1);
    if (j >= count) return -1;
    const uint32_t lastJ = j + (count - 1 - j) / period * period;
    return tree.values[tree.groupEnd[bits] - 1 - lastJ];
}

// The symbol at the start of `bits` (first bit lowest) and its bit length, trying each
// length up to `maxBits`: that many bits are consumed when nothing matches.
int MatchBits(const Tree& tree, uint32_t bits, int maxBits, int& length) {
    uint32_t read = 0;
    for (length = 1; length <= maxBits; ++length) {
        read = read << 1 | ((bits >> (length - 1)) & 1);
        const int symbol = MatchInGroup(tree, length, read);
        if (symbol >= 0) return symbol;
    }
    length = maxBits;
    return -1;
}

void FillFastTable(Tree& tree) {
    const int maxBits = tree.maxBits < kFastBits ? tree.maxBits : kFastBits;
    for (uint32_t bits = 0; bits < (1u << kFastBits); ++bits) {
        int length;
        const int symbol = MatchBits(tree, bits, maxBits, length);
        tree.fast[bits] = symbol < 0 ? 0 : uint16_t(length << 8 | symbol);
    }
}

// The bits the Bit reader holds (at most 15) followed by the next two bytes waiting in
// the input buffer: at least 16 bits that the stream will deliver next, looked at
// without reading anything. False near the end of the buffer or of the input.
bool PeekBits(const EntryStream& s, uint32_t& bits) {
    if (s.bitCount < 0 || s.inputEnd - s.inputPos < 2) return false;
    bits = s.bitBuffer | uint32_t(s.input[s.inputPos]) << s.bitCount |
           uint32_t(s.input[s.inputPos + 1]) << (s.bitCount + 8);
    return true;
}

// One symbol. When every bit it can need is in sight, it is matched in place and its
// bits consumed at once: as they exist, no read among them could meet the end of input,
// and the Bit reader fetches bytes by the count of bits consumed, however grouped.
// Otherwise, near the end of the input buffer or of the input, it is read one bit at a
// time, which is how the refills and the End-of-input flag are defined. -1 when no
// entry matches.
int DecodeSymbol(EntryStream& s, const Tree& tree) {
    uint32_t ahead;
    if (PeekBits(s, ahead)) {
        const uint16_t hit = tree.fast[ahead & ((1u << kFastBits) - 1)];
        int length = hit >> 8;
        const int symbol = hit ? hit & 0xFF : MatchBits(tree, ahead, tree.maxBits, length);
        TakeBits(s, length);
        return symbol;
    }
    uint32_t read = 0;
    for (int bits = 1; bits <= tree.maxBits; ++bits) {
        read = read << 1 | uint32_t(GetBits(s, 1));
        const int symbol = MatchInGroup(tree, bits, read);
        if (symbol >= 0) return symbol;
    }
    return -1;
}

}  // namespace

int Explode(EntryStream& s, uint64_t uncompressedSize, bool bigDictionary, bool literalTree,
            uint8_t* work) {
    OutputWindow w;
    OpenWindow(w, s, work);
    ResetBitReader(s);
    ExplodeTables& t = *reinterpret_cast<ExplodeTables*>(work + kWindowSize);
    if (literalTree && !ReadTree(s, t.literal, kLiteralSymbols, t.bitLength)) return -1;
    if (!ReadTree(s, t.length, kLengthSymbols, t.bitLength)) return -1;
    if (!ReadTree(s, t.distance, kLengthSymbols, t.bitLength)) return -1;
    if (literalTree) FillFastTable(t.literal);
    FillFastTable(t.length);
    FillFastTable(t.distance);

    const int lowDistanceBits = bigDictionary ? 7 : 6;
    const uint32_t minMatch = literalTree ? 3 : 2;
    uint64_t left = uncompressedSize;
    while (!s.endOfInput && left > 0) {
        if (TakeBits(s, 1)) {
            const int literal = literalTree ? DecodeSymbol(s, t.literal) : TakeBits(s, 8);
            if (literal < 0) return -1;
            if (!PutByte(w, uint8_t(literal))) return -1;
            --left;
            continue;
        }
        const int low = TakeBits(s, lowDistanceBits);
        const int high = DecodeSymbol(s, t.distance);
        if (high < 0) return -1;
        int lengthCode = DecodeSymbol(s, t.length);
        if (lengthCode < 0) return -1;
        if (lengthCode == kLongLengthCode) lengthCode += TakeBits(s, 8);
        const uint32_t distance = uint32_t(high << lowDistanceBits | low) + 1;
        const uint32_t length = uint32_t(lengthCode) + minMatch;
        if (!CopyMatch(w, distance, length)) return -1;
        CountDown(left, length);
    }
    return FlushWindow(w);
}
