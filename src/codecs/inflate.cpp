// Inflate: methods 8 and 9. See inflate.h.
//
// Two decisions shape this file:
//  - Input comes through the entry stream's Input feed (so it is deciphered in archive
//    order) into a buffer of our own, and the bit reader is a bit position in it: a
//    look-up loads one machine word wherever the position stands. Once the archive ends,
//    zeros follow the last byte, so a look-up may run past the end; only consuming bits
//    that are not there is an error.
//  - The progress report must show the position of a reader that fetches one byte each
//    time a look-up needs more bits than it holds. That reader has fetched exactly the
//    bytes that hold the furthest bit any look-up has asked for, so the decoder keeps
//    that bit (`needed`) and turns it into the stream's read-ahead before each sink call.
//
// The tables are those of the classic multi-level builder: its table sizes decide how
// many bits each look-up asks for, and with them the reported position.
//
// A fast path (DecodeFast) decodes most symbols: away from the ends of the input and of
// the window it takes each symbol from one refill of a 64-bit word (three of a 32-bit
// one) without counting the bits it holds, looks literal/length codes up in a table of
// 10 bits made from the first level and its links, copies matches sixteen bytes at a
// time, and settles the furthest bit asked for only on its way out. It returns to the
// careful loop for everything else.
#include "codecs/inflate.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "bit look-ups load little-endian words");

namespace {

constexpr uint32_t kSlidingWindowSize = 0x10000;
constexpr uint32_t kInputCapacity = 0x8000;
// Bytes readable past the bit position before a symbol: the longest symbol (length code,
// 16 extra bits, distance code, 14 extra bits) takes 8 bytes, and a look-up loads a word.
constexpr uint32_t kInputMargin = 32;
constexpr uint32_t kInputPadding = kInputMargin + 16;  // zeros behind the input's end
constexpr uint32_t kMaxCodeBits = 15;
constexpr uint32_t kMaxLiteralCodes = 288;
constexpr uint32_t kMaxDistanceCodes = 32;
constexpr uint32_t kCodeLengthCodes = 19;
constexpr uint32_t kLengthCodes = 31;  // 257 to 287
constexpr uint32_t kFirstLengthCode = 257;
constexpr uint32_t kEndOfBlock = 256;

// Order in which the code-length code's lengths are stored (RFC 1951, 3.2.7).
constexpr uint8_t kCodeLengthOrder[kCodeLengthCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                        11, 4,  12, 3, 13, 2, 14, 1, 15};

// Bases and extra bits of the length codes (by code - 257) and distance codes of one
// method (RFC 1951, 3.2.5; Deflate64 changes code 285 and adds distance codes 30 and 31).
struct MethodTables {
    uint16_t lengthBase[kLengthCodes];
    uint8_t lengthExtra[kLengthCodes];
    uint16_t distanceBase[kMaxDistanceCodes];
    uint8_t distanceExtra[kMaxDistanceCodes];
};

// Bases and extra bits that grow as the format's tables do: `group` codes of each extra
// bit count, twice as many of none, each base one past the previous code's last value.
void FillBases(uint16_t* base, uint8_t* extra, uint32_t count, uint32_t first, uint32_t group) {
    for (uint32_t i = 0; i < count; ++i) {
        extra[i] = uint8_t(i < 2 * group ? 0 : i / group - 1);
        base[i] = uint16_t(first);
        first += 1u << extra[i];
    }
}

void FillMethodTables(MethodTables& t, bool deflate64) {
    FillBases(t.lengthBase, t.lengthExtra, 28, 3, 4);  // codes 257 to 284
    FillBases(t.distanceBase, t.distanceExtra, kMaxDistanceCodes, 1, 2);
    t.lengthBase[28] = deflate64 ? 3 : 258;  // code 285
    t.lengthExtra[28] = deflate64 ? 16 : 0;
    t.lengthBase[29] = t.lengthBase[30] = 0;  // codes 286 and 287 never stand for a length
    t.lengthExtra[29] = t.lengthExtra[30] = kOpInvalid;
    if (!deflate64) t.distanceExtra[30] = t.distanceExtra[31] = kOpInvalid;
}

inline size_t Max(size_t a, size_t b) { return a > b ? a : b; }
inline uint32_t Mask(uint32_t bits) { return (1u << bits) - 1; }

// The bit reader's word: a machine word. (The tests also build this file with 32-bit
// words on 64-bit machines, for the 32-bit stub's sake.)
#ifndef DUDORE_INFLATE_WORD
#define DUDORE_INFLATE_WORD size_t
#endif
using BitWord = DUDORE_INFLATE_WORD;
constexpr uint32_t kWordBits = 8 * sizeof(BitWord);

// A build may leave the fast path out: the 32-bit stub image, until the bytes it costs are
// known to be spare (the careful loop alone is the whole decoder then).
#ifndef DUDORE_INFLATE_FAST_PATH
#define DUDORE_INFLATE_FAST_PATH 1
#endif
constexpr bool kFastPath = DUDORE_INFLATE_FAST_PATH;
// The fast path's literal/length codes come from a wider table than the first level (see
// WidenLiterals): 2^kWideBits entries.
constexpr uint32_t kWideBits = 10;
constexpr size_t kWideEntries = kFastPath ? size_t(1) << kWideBits : 0;
// It takes bits from the word without counting them. A refilled 64-bit word (57 bits or
// more) holds a whole symbol: the codes, 5 extra length bits and 14 extra distance bits
// at most. A 32-bit one (25 bits or more) is refilled for the literal/length code with
// its extra bits, again for the distance code, and again for the distance's extra bits;
// each of these leaves at least kWideBits for the next code's look-up.
constexpr uint32_t kSymbolBits = 2 * kMaxCodeBits + 5 + 14;
constexpr bool kWholeSymbol = kWordBits - 7 >= kSymbolBits;
static_assert(kWordBits - 7 >= kMaxCodeBits + kWideBits && kWordBits - 7 >= 14 + kWideBits,
              "a refill holds a code or the widest extra bits, and the next look-up's bits");

// The bits from bit position `pos` of `in` on, the first in bit 0: at least
// kWordBits - 7 of them.
inline BitWord PeekBits(const uint8_t* in, size_t pos) {
    BitWord word;
    memcpy(&word, in + (pos >> 3), sizeof word);
    return word >> (pos & 7);
}

// ---- Table builder --------------------------------------------------------------------

// The tables of one code, growing in one heap block as sub-tables are added.
struct TableSpace {
    HuffmanEntry* entries;
    uint32_t used, capacity;
};

// Appends a table of 2^bits entries, every one invalid until a code fills it. False when
// memory ran out.
bool AddTable(TableSpace& t, uint32_t bits, uint32_t& start) {
    const uint32_t size = 1u << bits;
    if (t.used + size > t.capacity) {
        uint32_t capacity = t.capacity ? t.capacity : 256;
        while (capacity < t.used + size) capacity *= 2;
        void* grown = realloc(t.entries, capacity * sizeof(HuffmanEntry));
        if (!grown) return false;
        t.entries = static_cast<HuffmanEntry*>(grown);
        t.capacity = capacity;
    }
    start = t.used;
    for (uint32_t i = 0; i < size; ++i) t.entries[start + i] = HuffmanEntry{kOpInvalid, 0, 0};
    t.used += size;
    return true;
}

}  // namespace

int BuildHuffmanTable(const uint8_t* lengths, uint32_t count, uint32_t plainCount,
                      const uint16_t* base, const uint8_t* extra, uint32_t requestedBits,
                      HuffmanTable& table) {
    table.entries = nullptr;
    table.lookupBits = 0;
    uint32_t perLength[kMaxCodeBits + 1] = {};
    for (uint32_t i = 0; i < count; ++i) ++perLength[lengths[i]];
    if (perLength[0] == count) return kInflateOk;  // no codes at all: an empty table

    uint32_t shortest = 1;
    while (perLength[shortest] == 0) ++shortest;
    uint32_t longest = kMaxCodeBits;
    while (perLength[longest] == 0) --longest;
    const uint32_t rootBits = requestedBits < shortest ? shortest : requestedBits > longest ? longest : requestedBits;
    table.lookupBits = rootBits;

    // Patterns that no code takes, length by length; those left at the longest length
    // become invalid codes of that length, so that every table slot is defined.
    int32_t unused = 1 << shortest;
    for (uint32_t len = shortest; len < longest; ++len, unused <<= 1)
        if ((unused -= int32_t(perLength[len])) < 0) return kInflateBadCode;
    if ((unused -= int32_t(perLength[longest])) < 0) return kInflateBadCode;

    // Symbols by code length, then by value: the canonical order.
    uint32_t nextOfLength[kMaxCodeBits + 1];
    nextOfLength[1] = 0;
    for (uint32_t len = 1; len < kMaxCodeBits; ++len) nextOfLength[len + 1] = nextOfLength[len] + perLength[len];
    uint16_t sorted[kMaxLiteralCodes];
    for (uint32_t i = 0; i < count; ++i)
        if (lengths[i]) sorted[nextOfLength[lengths[i]]++] = uint16_t(i);
    const uint32_t realCodes = count - perLength[0];
    perLength[longest] += uint32_t(unused);

    // A first-level table that would reach past the end-of-block code is cut where that
    // code ends, so that decoding it never asks for bits behind it.
    const uint32_t endOfBlockBits = count > kEndOfBlock ? lengths[kEndOfBlock] : kMaxCodeBits + 1;

    // The stack of open tables: level 0 is the first-level table. levelBits[-1] is 0.
    uint32_t levelBitsStore[kMaxCodeBits + 2];
    uint32_t* const levelBits = levelBitsStore + 1;
    levelBits[-1] = 0;
    uint32_t levelStart[kMaxCodeBits + 1];
    uint32_t levelPrefix[kMaxCodeBits + 1];  // the code bits that lead to the table
    int level = -1;
    uint32_t depth = 0;  // bits decoded before the table at `level`
    uint32_t code = 0;   // the next code, its first bit in bit 0
    uint32_t placed = 0;
    TableSpace space = {};

    for (uint32_t len = shortest; len <= longest; ++len) {
        for (uint32_t left = perLength[len]; left-- > 0;) {  // `left`: codes of this length after this one
            // Open tables until the code ends within the deepest one.
            while (len > depth + levelBits[level]) {
                depth += levelBits[level];
                ++level;
                // The smallest table that the codes it will hold fill, up to the first
                // level's size and the longest code.
                const uint32_t limit = longest - depth < rootBits ? longest - depth : rootBits;
                uint32_t bits = len - depth;
                uint32_t spare = 1u << bits;
                if (spare > left + 1) {
                    spare -= left + 1;
                    for (uint32_t l = len; ++bits < limit;) {
                        spare <<= 1;
                        if (spare <= perLength[++l]) break;
                        spare -= perLength[l];
                    }
                }
                if (depth + bits > endOfBlockBits && depth < endOfBlockBits) bits = endOfBlockBits - depth;
                levelBits[level] = bits;
                if (!AddTable(space, bits, levelStart[level])) {
                    free(space.entries);
                    return kInflateNoMemory;
                }
                if (level > 0) {
                    levelPrefix[level] = code & Mask(depth);
                    const uint32_t parentBits = levelBits[level - 1];
                    const uint32_t slot = (code & Mask(depth)) >> (depth - parentBits);
                    space.entries[levelStart[level - 1] + slot] =
                        HuffmanEntry{uint8_t(kOpLink + bits), uint8_t(parentBits), uint16_t(levelStart[level])};
                }
            }

            HuffmanEntry entry = {kOpInvalid, uint8_t(len - depth), 0};
            if (placed < realCodes) {
                const uint32_t symbol = sorted[placed++];
                if (symbol < plainCount) {
                    entry.op = symbol < kEndOfBlock ? kOpLiteral : kOpEndOfBlock;
                    entry.value = uint16_t(symbol);
                } else {
                    entry.op = extra[symbol - plainCount];
                    entry.value = base[symbol - plainCount];
                }
            }
            // The code's slots: every index whose low bits are the code's remaining bits.
            const uint32_t tableSize = 1u << levelBits[level];
            for (uint32_t i = code >> depth; i < tableSize; i += 1u << (len - depth))
                space.entries[levelStart[level] + i] = entry;

            // The next code of this length, counting with the first bit as the highest.
            uint32_t bit = 1u << (len - 1);
            while (code & bit) {
                code ^= bit;
                bit >>= 1;
            }
            code ^= bit;
            // Close the tables that are full.
            while (level > 0 && (code & Mask(depth)) != levelPrefix[level]) {
                --level;
                depth -= levelBits[level];
            }
        }
    }
    table.entries = space.entries;
    table.lookupBits = levelBits[0];
    return unused != 0 && longest != 1 ? kInflateBadData : kInflateOk;
}

void FreeHuffmanTable(HuffmanTable& table) {
    free(table.entries);
    table.entries = nullptr;
}

namespace {

// ---- Decoder state ----------------------------------------------------------------

struct Inflater {
    EntryStream* stream;
    const volatile int* cancelState;  // the stream's, as IsCancelled reads it
    uint8_t* window;                  // kSlidingWindowSize bytes, the input buffer behind them
    uint32_t windowPos;               // where the next output byte goes; below the window's size
                                      // between symbols
    // Input. in[0, inEnd) are archive bytes from the first one not yet consumed (or a few
    // before it); once the archive has ended, kInputPadding zeros follow them.
    uint8_t* in;
    uint32_t inEnd;
    bool inputEnded;
    size_t bitPos;  // bits of in[] consumed; beyond 8 * inEnd only when the input ran out
    size_t needed;  // the furthest bit of in[] a look-up has asked for; never below bitPos
    uint32_t readAheadBefore;  // the stream's read-ahead when the entry began
    bool deflate64;
    MethodTables tables;
    HuffmanEntry* wideLiterals;  // kWideEntries: the fast path's table of the current block
};

bool Overran(const Inflater& z) { return z.inputEnded && z.bitPos > size_t(z.inEnd) * 8; }

// Makes kInputMargin bytes readable from the bit position, reading on when the buffer
// runs low. False once bits past the end of the input were consumed.
bool Fill(Inflater& z) {
    if ((z.bitPos >> 3) + kInputMargin <= z.inEnd) return true;
    if (!z.inputEnded) {
        const uint32_t start = uint32_t(z.bitPos >> 3);
        const uint32_t kept = z.inEnd - start;
        memmove(z.in, z.in + start, kept);
        z.bitPos -= size_t(start) * 8;
        z.needed -= size_t(start) * 8;
        const uint32_t wanted = kInputCapacity - kept;
        const uint32_t got = InputFeed(*z.stream, z.in + kept, wanted);
        z.inEnd = kept + got;
        if (got < wanted) {  // the feed stops short only at the end of the archive
            z.inputEnded = true;
            memset(z.in + z.inEnd, 0, kInputPadding);
        }
    }
    return !Overran(z);
}

// Reads `bits` (up to 16) bits; 0 without consuming anything once the input ran out.
uint32_t ReadBits(Inflater& z, uint32_t bits) {
    if (!Fill(z)) return 0;
    const uint32_t value = uint32_t(PeekBits(z.in, z.bitPos)) & Mask(bits);
    z.bitPos += bits;
    z.needed = Max(z.needed, z.bitPos);
    return value;
}

// Hands window[0, count) to the Output sink. 0; -1 when the sink refused; 1, and nothing
// written, when bits past the end of the input were consumed.
int Flush(Inflater& z, uint32_t count) {
    if (Overran(z)) return kInflateBadData;
    const size_t fetched = (z.needed + 7) >> 3;
    z.stream->readAhead = z.readAheadBefore + z.inEnd - uint32_t(fetched < z.inEnd ? fetched : z.inEnd);
    return OutputSink(*z.stream, z.window, count) < 0 ? kInflateCancelled : kInflateOk;
}

// A full window goes to the sink, and filling starts again at its start.
int FlushIfFull(Inflater& z) {
    if (z.windowPos != kSlidingWindowSize) return kInflateOk;
    z.windowPos = 0;
    return Flush(z, kSlidingWindowSize);
}

// ---- Blocks -----------------------------------------------------------------------

// Copies `count` bytes forward as if one by one: a source that overlaps the destination
// from behind repeats the bytes just written. Writes nothing outside to[0, count).
inline void CopyForward(uint8_t* to, const uint8_t* from, uint32_t count) {
    const ptrdiff_t gap = to - from;
    if (gap >= 8 || gap <= -8) {
        // Whole words, each read before it is written; the last one may overlap the one
        // before it, which rewrites the same bytes.
        if (count >= 8) {
            uint64_t word;
            for (uint32_t done = 0; done + 8 <= count; done += 8) {
                memcpy(&word, from + done, 8);
                memcpy(to + done, &word, 8);
            }
            memcpy(&word, from + count - 8, 8);
            memcpy(to + count - 8, &word, 8);
            return;
        }
        if (count >= 4) {
            uint32_t head, tail;
            memcpy(&head, from, 4);
            memcpy(&tail, from + count - 4, 4);
            memcpy(to, &head, 4);
            memcpy(to + count - 4, &tail, 4);
            return;
        }
    } else if (gap == 1) {
        memset(to, *from, count);
        return;
    }
    while (count-- > 0) *to++ = *from++;
}

// Copies a match into the window in pieces that end at the window's end, flushing the
// full window between them. z.bitPos and z.needed must be current.
int CopyMatch(Inflater& z, uint32_t distance, uint32_t length) {
    uint32_t from = (z.windowPos - distance) & (kSlidingWindowSize - 1);
    while (length > 0) {
        uint32_t piece = kSlidingWindowSize - (from > z.windowPos ? from : z.windowPos);
        if (piece > length) piece = length;
        CopyForward(z.window + z.windowPos, z.window + from, piece);
        z.windowPos += piece;
        from = (from + piece) & (kSlidingWindowSize - 1);
        length -= piece;
        if (const int result = FlushIfFull(z); result != kInflateOk) return result;
    }
    return kInflateOk;
}

// The bit reader's state while a block's codes are decoded: `bits` holds the `valid`
// bits from bit position `pos` on, the next one in bit 0. A refill loads a word at the
// position, so any request up to kWordBits - 7 bits is met.
struct BitCursor {
    const uint8_t* in;
    size_t pos, needed;
    BitWord bits;
    uint32_t valid;

    void Ensure(uint32_t n) {
        if (valid >= n) return;
        bits = PeekBits(in, pos);
        valid = kWordBits - uint32_t(pos & 7);
    }
    void Consume(uint32_t n) {
        bits >>= n;
        valid -= n;
        pos += n;
    }
    uint32_t Take(uint32_t n) {
        Ensure(n);
        const uint32_t value = uint32_t(bits) & Mask(n);
        Consume(n);
        return value;
    }
    // Looks up the code at the position, following links (their bits consumed); the
    // final entry's bits are left to the caller. No code is longer than kMaxCodeBits.
    HuffmanEntry LookUp(const HuffmanTable& table) {
        Ensure(kMaxCodeBits);
        uint32_t width = table.lookupBits;
        uint32_t start = 0;
        for (;;) {
            needed = Max(needed, pos + width);
            const HuffmanEntry e = table.entries[start + (uint32_t(bits) & Mask(width))];
            if (e.op <= kOpLink || e.op == kOpInvalid) return e;
            Consume(e.bits);
            width = e.op - kOpLink;
            start = e.value;
        }
    }
};

// ---- The fast path ------------------------------------------------------------------

// Room in the window for the longest match the fast path copies and the 16 bytes that
// its copy may write past it.
constexpr uint32_t kMatchRoom = 258 + 16;

// Copies a match of `length` (3 to 258) from `from`, at least a word behind `to`, sixteen
// bytes at a time: it writes up to 15 bytes past the match, which must be in the window.
inline void CopyAhead(uint8_t* to, const uint8_t* from, uint32_t length) {
    uint8_t* const end = to + length;
    uint64_t word;
    do {
        // Each word is read after the words before it are written: the source lies a word
        // or more behind, so it reads only finished bytes.
        memcpy(&word, from, 8);
        memcpy(to, &word, 8);
        memcpy(&word, from + 8, 8);
        memcpy(to + 8, &word, 8);
        to += 16;
        from += 16;
    } while (to < end);
}

// An entry read as one little-endian word: its operation in the low byte, the bits it
// consumes above it, its value on top.
using Entry = uint32_t;
inline Entry EntryAt(const HuffmanEntry* entries, uint32_t index) {
    Entry e;
    memcpy(&e, entries + index, sizeof e);
    return e;
}
inline uint32_t EntryOp(Entry e) { return e & 0xFF; }
inline uint32_t EntryBits(Entry e) { return (e >> 8) & 0xFF; }
inline uint32_t EntryValue(Entry e) { return e >> 16; }

// Follows links from entry `e` of the code at `bits` to the code's own entry, their bits
// consumed, as BitCursor::LookUp does.
inline Entry FastDeeper(const HuffmanEntry* entries, Entry e, BitWord& bits, size_t& pos, size_t& needed) {
    while (EntryOp(e) > kOpLink && EntryOp(e) != kOpInvalid) {
        bits >>= EntryBits(e);
        pos += EntryBits(e);
        const uint32_t width = EntryOp(e) - kOpLink;
        needed = Max(needed, pos + width);
        e = EntryAt(entries, EntryValue(e) + (uint32_t(bits) & Mask(width)));
    }
    return e;
}

// Fills the fast path's literal/length table: entry i is the first-level entry for the
// low bits of i, except where that is a link that one sub-table resolves within
// kWideBits: there it is the code's own entry, its bits the code's whole length. Codes
// longer than that keep the link. (The reported position stays that of the first-level
// table: a longer code asks for fewer bits past itself than the next code's look-up.)
void WidenLiterals(const HuffmanTable& literals, HuffmanEntry* wide) {
    const uint32_t rootBits = literals.lookupBits;
    for (uint32_t i = 0; i < kWideEntries; ++i) {
        HuffmanEntry e = literals.entries[i & Mask(rootBits)];
        if (e.op > kOpLink && e.op != kOpInvalid && rootBits + (e.op - kOpLink) <= kWideBits) {
            const HuffmanEntry leaf = literals.entries[e.value + ((i >> rootBits) & Mask(e.op - kOpLink))];
            if (leaf.op <= kOpLink || leaf.op == kOpInvalid) e = {leaf.op, uint8_t(rootBits + leaf.bits), leaf.value};
        }
        wide[i] = e;
    }
}

// Decodes symbols while the input holds kInputMargin bytes past the position and the
// window kMatchRoom bytes past `out`: then no symbol needs a test of either edge, and one
// refill of the bit word per symbol serves it whole. Each code is looked up from the bits
// left by the symbol before it, while the word is refilled, so the refill stays off the
// path from one code to the next. Returns at the first symbol left to the careful path
// (the end of the block, an invalid code, Deflate64's long lengths, a match whose source
// wraps), its bits not consumed; `c` and `windowPos` are brought up to date.
//
// The furthest bit asked for is brought up to date on the way out: the first-level
// look-ups of one table all ask for as many bits from a position that only grows, so the
// last of each counts, and that of the literal/length code was at the position returned.
// Links are counted as they come. Nothing in between needs the value.
[[gnu::noinline]] void DecodeFast(Inflater& z, const HuffmanTable& literals, const HuffmanTable& distances,
                                  BitCursor& c, uint32_t& windowPos) {
    uint8_t* const window = z.window;
    const uint8_t* const in = z.in;
    const HuffmanEntry* const literalEntries = literals.entries;
    const HuffmanEntry* const wide = z.wideLiterals;
    const HuffmanEntry* const distanceEntries = distances.entries;
    const uint32_t literalBits = literals.lookupBits, distanceBits = distances.lookupBits;
    const uint32_t wideMask = Mask(kWideBits), distanceMask = Mask(distanceBits);
    const size_t inLimit = z.inEnd - kInputMargin;  // the caller saw the margin there
    const bool deflate64 = z.deflate64;
    size_t pos = c.pos, needed = c.needed;
    uint32_t out = windowPos;  // locals, which the bytes stored cannot alias
    size_t distanceAt = 0;  // the last distance code's position; 0: none yet (one follows a length code)
    Entry e = EntryAt(wide, uint32_t(PeekBits(in, pos)) & wideMask);
    while ((pos >> 3) <= inLimit && out <= kSlidingWindowSize - kMatchRoom) {
        // `e` is the wide table's entry at `pos`. A refilled 64-bit word holds a whole
        // symbol (48 bits at most, 49 with Deflate64's distance codes 30 and 31), and
        // after most symbols still the next code's kWideBits.
        const size_t start = pos;
        BitWord bits = PeekBits(in, pos);
        if (EntryOp(e) > kOpLiteral) e = FastDeeper(literalEntries, e, bits, pos, needed);
        bits >>= EntryBits(e);
        pos += EntryBits(e);
        if (EntryOp(e) == kOpLiteral) {
            window[out++] = uint8_t(EntryValue(e));
            e = EntryAt(wide, uint32_t(bits) & wideMask);
            continue;
        }
        const uint32_t lengthExtra = EntryOp(e);
        if (lengthExtra > 5) {  // the end of the block, an invalid code, or Deflate64's code 285
            pos = start;
            break;
        }
        const uint32_t length = EntryValue(e) + (uint32_t(bits) & Mask(lengthExtra));
        bits >>= lengthExtra;
        pos += lengthExtra;
        distanceAt = pos;
        if (!kWholeSymbol) bits = PeekBits(in, pos);
        Entry d = EntryAt(distanceEntries, uint32_t(bits) & distanceMask);
        if (EntryOp(d) > kOpLiteral) d = FastDeeper(distanceEntries, d, bits, pos, needed);
        bits >>= EntryBits(d);
        pos += EntryBits(d);
        const uint32_t distanceExtra = EntryOp(d);
        if (distanceExtra == kOpInvalid) {
            pos = start;
            break;
        }
        if (!kWholeSymbol) bits = PeekBits(in, pos);
        const uint32_t distance = EntryValue(d) + (uint32_t(bits) & Mask(distanceExtra));
        const uint32_t from = (out - distance) & (kSlidingWindowSize - 1);
        if (from + length > kSlidingWindowSize) {  // the source wraps: in pieces, carefully
            pos = start;
            break;
        }
        pos += distanceExtra;
        bits >>= distanceExtra;
        // Only the longest symbols leave a 64-bit word too few bits for the next look-up.
        if (kWholeSymbol && __builtin_expect(kWordBits - (start & 7) - (pos - start) < kWideBits, 0))
            bits = PeekBits(in, pos);
        e = EntryAt(wide, uint32_t(bits) & wideMask);
        if (distance < 8) {
            CopyForward(window + out, window + from, length);
        } else if (!deflate64) {
            CopyAhead(window + out, window + from, length);
        } else {
            // A later Deflate64 distance may reach the bytes just ahead of the match, which
            // hold the window's older bytes: they are put back after the copy.
            uint8_t ahead[16];
            memcpy(ahead, window + out + length, 16);
            CopyAhead(window + out, window + from, length);
            memcpy(window + out + length, ahead, 16);
        }
        out += length;
    }
    needed = Max(needed, pos + literalBits);
    if (distanceAt != 0) needed = Max(needed, distanceAt + distanceBits);
    windowPos = out;
    c.pos = pos;
    c.needed = needed;
    c.valid = 0;  // the careful path reloads its word
}

// ---- Codes --------------------------------------------------------------------------

// Decodes literal/length and distance codes up to the end-of-block code: the fast path
// while it can, then one symbol with every test. The fast path leaves the Cancel state to
// this loop, to which it returns before every window handed to the sink.
int DecodeCodes(Inflater& z, const HuffmanTable& literals, const HuffmanTable& distances) {
    uint8_t* const window = z.window;
    BitCursor c = {z.in, z.bitPos, z.needed, 0, 0};
    uint32_t out = z.windowPos;
    int result = kInflateOk;
    if (kFastPath) WidenLiterals(literals, z.wideLiterals);
    for (;;) {
        if (*z.cancelState != 0) {
            result = kInflateCancelled;
            break;
        }
        if ((c.pos >> 3) + kInputMargin > z.inEnd) {
            z.bitPos = c.pos;
            z.needed = c.needed;
            const bool filled = Fill(z);
            c.pos = z.bitPos;
            c.needed = z.needed;
            c.valid = 0;
            if (!filled) {
                result = kInflateBadData;
                break;
            }
        } else if (kFastPath) {
            DecodeFast(z, literals, distances, c, out);
        }
        HuffmanEntry e = c.LookUp(literals);
        c.Consume(e.bits);
        if (e.op == kOpLiteral) {
            window[out++] = uint8_t(e.value);
            if (out == kSlidingWindowSize) {
                z.bitPos = c.pos;
                z.needed = c.needed;
                result = Flush(z, kSlidingWindowSize);
                if (result != kInflateOk) break;
                out = 0;
            }
            continue;
        }
        if (e.op == kOpEndOfBlock) break;
        if (e.op == kOpInvalid) {
            result = kInflateBadData;
            break;
        }
        const uint32_t length = e.value + c.Take(e.op);
        e = c.LookUp(distances);
        c.Consume(e.bits);
        if (e.op == kOpInvalid) {
            result = kInflateBadData;
            break;
        }
        const uint32_t distance = e.value + c.Take(e.op);
        c.needed = Max(c.needed, c.pos);
        const uint32_t from = (out - distance) & (kSlidingWindowSize - 1);
        if (out + length < kSlidingWindowSize && from + length <= kSlidingWindowSize) {
            CopyForward(window + out, window + from, length);  // one piece, the window not yet full
            out += length;
            continue;
        }
        z.bitPos = c.pos;
        z.needed = c.needed;
        z.windowPos = out;
        result = CopyMatch(z, distance, length);
        out = z.windowPos;
        if (result != kInflateOk) break;
    }
    z.bitPos = c.pos;
    z.needed = c.needed;
    z.windowPos = out;
    return result;
}

[[gnu::noinline]] int StoredBlock(Inflater& z) {
    z.bitPos = (z.bitPos + 7) & ~size_t(7);  // to the next byte boundary, within bytes fetched
    z.needed = Max(z.needed, z.bitPos);
    const uint32_t length = ReadBits(z, 16);
    const uint32_t check = ReadBits(z, 16);
    if (Overran(z) || length != (~check & 0xFFFF)) return kInflateBadData;
    for (uint32_t left = length; left > 0;) {
        if (*z.cancelState != 0) return kInflateCancelled;
        Fill(z);
        const uint32_t start = uint32_t(z.bitPos >> 3);
        uint32_t chunk = z.inEnd - start;
        if (chunk == 0) return kInflateBadData;  // the input ended inside the block
        if (chunk > left) chunk = left;
        if (chunk > kSlidingWindowSize - z.windowPos) chunk = kSlidingWindowSize - z.windowPos;
        memcpy(z.window + z.windowPos, z.in + start, chunk);
        z.bitPos += size_t(chunk) * 8;
        z.needed = Max(z.needed, z.bitPos);
        z.windowPos += chunk;
        left -= chunk;
        if (const int result = FlushIfFull(z); result != kInflateOk) return result;
    }
    return kInflateOk;
}

// Builds a block's literal/length and distance tables from their code lengths, one after
// the other in `lengths`. An incomplete distance code is accepted, an incomplete or empty
// literal/length code is not, nor a missing distance code where length codes exist. On
// failure both tables are left empty.
int BuildBlockTables(const Inflater& z, const uint8_t* lengths, uint32_t literalCount, uint32_t distanceCount,
                     uint32_t literalBits, uint32_t distanceBits, HuffmanTable& literals, HuffmanTable& distances) {
    distances = {};
    int result = BuildHuffmanTable(lengths, literalCount, kFirstLengthCode, z.tables.lengthBase,
                                   z.tables.lengthExtra, literalBits, literals);
    if (result == kInflateOk && literals.lookupBits == 0) result = kInflateBadData;
    if (result == kInflateOk) {
        result = BuildHuffmanTable(lengths + literalCount, distanceCount, 0, z.tables.distanceBase,
                                   z.tables.distanceExtra, distanceBits, distances);
        if (result == kInflateBadData) result = kInflateOk;
        if (result == kInflateOk && distances.lookupBits == 0 && literalCount > kFirstLengthCode)
            result = kInflateBadData;
    }
    if (result != kInflateOk) {
        FreeHuffmanTable(distances);
        FreeHuffmanTable(literals);
    }
    return result;
}

// Fixed-table cache: the fixed codes' tables of each method, built the first time a
// fixed block of that method comes and kept until the process ends. Only the thread
// that decodes touches it.
struct FixedTables {
    HuffmanTable literals, distances;
};
FixedTables g_fixedTables[2];  // [0] method 8, [1] method 9
uint32_t g_fixedTableBuilds;

int FixedBlock(Inflater& z) {
    FixedTables& fixed = g_fixedTables[z.deflate64];
    if (!fixed.literals.entries) {
        uint8_t lengths[kMaxLiteralCodes + kMaxDistanceCodes];
        for (uint32_t i = 0; i < sizeof lengths; ++i)
            lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : i < kMaxLiteralCodes ? 8 : 5;
        const int result =
            BuildBlockTables(z, lengths, kMaxLiteralCodes, kMaxDistanceCodes, 7, 5, fixed.literals, fixed.distances);
        if (result != kInflateOk) return result;
        ++g_fixedTableBuilds;
    }
    return DecodeCodes(z, fixed.literals, fixed.distances);
}

// Reads the code lengths of a dynamic block through its code-length code.
int ReadCodeLengths(Inflater& z, const HuffmanTable& lengthCode, uint8_t* lengths, uint32_t total) {
    uint32_t previous = 0;
    for (uint32_t i = 0; i < total;) {
        if (*z.cancelState != 0) return kInflateCancelled;
        if (!Fill(z)) return kInflateBadData;
        BitCursor c = {z.in, z.bitPos, z.needed, 0, 0};
        const HuffmanEntry e = c.LookUp(lengthCode);
        z.bitPos = c.pos + e.bits;
        z.needed = c.needed;
        if (e.op == kOpInvalid) return kInflateBadData;
        if (e.value < 16) {
            lengths[i++] = uint8_t(previous = e.value);
            continue;
        }
        uint32_t repeat;
        uint32_t value = 0;
        if (e.value == 16) {
            repeat = 3 + ReadBits(z, 2);
            value = previous;
        } else if (e.value == 17) {
            repeat = 3 + ReadBits(z, 3);
        } else {
            repeat = 11 + ReadBits(z, 7);
        }
        previous = value;
        if (repeat > total - i) return kInflateBadData;
        memset(lengths + i, int(value), repeat);
        i += repeat;
    }
    return Overran(z) ? kInflateBadData : kInflateOk;
}

[[gnu::noinline]] int DynamicBlock(Inflater& z) {
    const uint32_t literalCount = kFirstLengthCode + ReadBits(z, 5);
    const uint32_t distanceCount = 1 + ReadBits(z, 5);
    const uint32_t lengthCodeCount = 4 + ReadBits(z, 4);
    uint8_t lengths[kMaxLiteralCodes + kMaxDistanceCodes] = {};
    for (uint32_t i = 0; i < lengthCodeCount; ++i) {
        if (*z.cancelState != 0) return kInflateCancelled;
        lengths[kCodeLengthOrder[i]] = uint8_t(ReadBits(z, 3));
    }
    if (Overran(z)) return kInflateBadData;

    HuffmanTable lengthCode;
    int result = BuildHuffmanTable(lengths, kCodeLengthCodes, kCodeLengthCodes, nullptr, nullptr, 7, lengthCode);
    if (result == kInflateOk && lengthCode.lookupBits == 0) result = kInflateBadData;
    if (result == kInflateOk) result = ReadCodeLengths(z, lengthCode, lengths, literalCount + distanceCount);
    FreeHuffmanTable(lengthCode);
    if (result != kInflateOk) return result;

    HuffmanTable literals, distances;
    result = BuildBlockTables(z, lengths, literalCount, distanceCount, 9, 6, literals, distances);
    if (result == kInflateOk) result = DecodeCodes(z, literals, distances);
    FreeHuffmanTable(distances);
    FreeHuffmanTable(literals);
    return result;
}

int RunBlocks(Inflater& z) {
    for (;;) {
        const uint32_t last = ReadBits(z, 1);
        const uint32_t type = ReadBits(z, 2);
        if (Overran(z)) return kInflateBadData;
        int result = kInflateBadCode;  // type 3
        if (type == 0) result = StoredBlock(z);
        if (type == 1) result = FixedBlock(z);
        if (type == 2) result = DynamicBlock(z);
        if (result != kInflateOk) return result;
        if (*z.cancelState != 0) return kInflateCancelled;
        if (last) return Flush(z, z.windowPos);  // the rest, even when it is nothing
    }
}

}  // namespace

int InflateBlocks(EntryStream& s, bool deflate64) {
    // The window is cleared so that a distance reaching before the entry's first byte
    // copies zeros.
    constexpr size_t kBlockSize =
        kSlidingWindowSize + kInputCapacity + kInputPadding + kWideEntries * sizeof(HuffmanEntry);
    uint8_t* const block = static_cast<uint8_t*>(malloc(kBlockSize));
    if (!block) return kInflateNoMemory;
    memset(block, 0, kBlockSize);
    Inflater z = {};
    z.stream = &s;
    z.cancelState = s.host->cancelState;
    z.window = block;
    z.in = block + kSlidingWindowSize;
    if (kFastPath) z.wideLiterals = reinterpret_cast<HuffmanEntry*>(z.in + kInputCapacity + kInputPadding);
    z.readAheadBefore = s.readAhead;
    z.deflate64 = deflate64;
    FillMethodTables(z.tables, deflate64);
    const int result = RunBlocks(z);
    free(block);
    return result;
}

void Inflate(EntryStream& s, bool deflate64) { InflateBlocks(s, deflate64); }

uint32_t InflateFixedTableBuilds() { return g_fixedTableBuilds; }
