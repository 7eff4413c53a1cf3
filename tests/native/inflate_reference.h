// A plain inflater to compare the real one with: it fetches one byte with fgetc each
// time a look-up needs more bits than it holds, deciphers byte by byte, copies matches
// in window pieces one at a time, and records every sink call with the file
// position at that moment. Its tables are built recursively from the canonical codes,
// a different construction from the decoder's own builder, with the same sizing rules.
//
// The end of the file: missing bytes read as zeros; consuming a bit that the file does
// not hold is an error (result 1, `overran`), found at the next look-up or sink call;
// `overran` is also set when decoding stopped on another error after such bits.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "archive/crc32.h"
#include "crypto/zip_crypto.h"

namespace inflate_reference {

struct SinkCall {
    uint32_t count;
    long position;        // archive position when the call was made
    uint32_t runningCrc;  // CRC-32 of everything written so far, this call included
    bool operator==(const SinkCall& o) const {
        return count == o.count && position == o.position && runningCrc == o.runningCrc;
    }
};

struct Outcome {
    int result = 0;
    bool overran = false;
    uint32_t longestMatch = 0, farthestDistance = 0;
    std::vector<SinkCall> calls;
    std::vector<uint8_t> output;
};

// ---- Tables ---------------------------------------------------------------------------

struct Table;
struct Slot {
    int op = 99;
    int bits = 0;
    int value = 0;
    Table* sub = nullptr;
};
struct Table {
    int bits = 0;
    std::vector<Slot> slots;
};

struct Code {
    uint32_t reversed;  // first bit in bit 0
    int length;
    int symbol;         // -1: a filler for an unused pattern
    int rankInLength;   // order among the codes of its length
};

struct Tables {
    std::vector<std::unique_ptr<Table>> owned;
    Table* root = nullptr;
    int lookupBits = 0;
};

inline uint32_t Reverse(uint32_t code, int length) {
    uint32_t r = 0;
    for (int i = 0; i < length; ++i) r |= ((code >> i) & 1u) << (length - 1 - i);
    return r;
}

struct Builder {
    std::vector<Code> codes;  // canonical order
    int count[17] = {};       // fillers included at the longest length
    int longest = 0, lookup = 0, endOfBlock = 16;
    int plain = 0;
    const uint16_t* base = nullptr;
    const uint8_t* extra = nullptr;
    Tables* out = nullptr;

    Slot Final(const Code& c, int bits) const {
        Slot s;
        s.bits = bits;
        if (c.symbol < 0) return s;  // op 99
        if (c.symbol < plain) {
            s.op = c.symbol < 256 ? 32 : 31;
            s.value = c.symbol;
        } else {
            s.op = extra[c.symbol - plain];
            s.value = base[c.symbol - plain];
        }
        return s;
    }

    // The table for `members`: the codes, in canonical order, whose first `depth` bits
    // are the same and that are longer than `depth`.
    Table* Make(const std::vector<const Code*>& members, int depth) {
        const Code& first = *members.front();
        // Size: start at what the first code needs; grow while the codes of the lengths
        // the table covers (all of them, anywhere) leave patterns unused.
        const int limit = std::min(longest - depth, lookup);
        int bits = first.length - depth;
        const int sameLengthLeft = count[first.length] - first.rankInLength;
        int spare = 1 << bits;
        if (spare > sameLengthLeft) {
            spare -= sameLengthLeft;
            int len = first.length;
            while (++bits < limit) {
                spare <<= 1;
                if (spare <= count[++len]) break;
                spare -= count[len];
            }
        }
        if (depth + bits > endOfBlock && depth < endOfBlock) bits = endOfBlock - depth;

        out->owned.push_back(std::make_unique<Table>());
        Table* t = out->owned.back().get();
        t->bits = bits;
        t->slots.assign(size_t(1) << bits, Slot{});
        std::vector<std::vector<const Code*>> longer(size_t(1) << bits);
        for (const Code* c : members) {
            const uint32_t index = c->reversed >> depth;
            if (c->length <= depth + bits) {
                for (uint32_t i = index; i < t->slots.size(); i += 1u << (c->length - depth))
                    t->slots[i] = Final(*c, c->length - depth);
            } else {
                longer[index & ((1u << bits) - 1)].push_back(c);
            }
        }
        for (size_t slot = 0; slot < longer.size(); ++slot) {
            if (longer[slot].empty()) continue;
            Table* sub = Make(longer[slot], depth + bits);
            Slot link;
            link.op = 32 + sub->bits;
            link.bits = bits;
            link.sub = sub;
            t->slots[slot] = link;
        }
        return t;
    }
};

// 0 complete, 1 incomplete (longest length not 1), 2 over-subscribed; tables in `out`.
inline int Build(const uint8_t* lengths, int n, int plain, const uint16_t* base, const uint8_t* extra,
                 int request, Tables& out) {
    Builder b;
    for (int i = 0; i < n; ++i) b.count[lengths[i]]++;
    out.root = nullptr;
    out.lookupBits = 0;
    if (b.count[0] == n) return 0;
    int shortest = 1;
    while (!b.count[shortest]) ++shortest;
    b.longest = 16;
    while (!b.count[b.longest]) --b.longest;
    b.lookup = std::max(shortest, std::min(request, b.longest));
    out.lookupBits = b.lookup;
    // Kraft sum in units of the longest length.
    long used = 0;
    for (int len = 1; len <= b.longest; ++len) used += long(b.count[len]) << (b.longest - len);
    for (int len = shortest; len <= b.longest; ++len) {  // over-subscribed at some length
        long prefix = 0;
        for (int l = 1; l <= len; ++l) prefix += long(b.count[l]) << (len - l);
        if (prefix > (1L << len)) return 2;
    }
    const long fillers = (1L << b.longest) - used;
    // Canonical codes (RFC 1951, 3.2.2), the fillers after the real codes of the longest length.
    std::vector<uint32_t> first(17, 0);
    uint32_t next = 0;
    for (int len = 1; len <= 16; ++len) {
        first[len] = next;
        next = (next + uint32_t(b.count[len] + (len == b.longest ? fillers : 0))) << 1;
    }
    for (int len = 1; len <= b.longest; ++len) {
        int rank = 0;
        for (int sym = 0; sym < n; ++sym)
            if (lengths[sym] == len) b.codes.push_back({Reverse(first[len] + uint32_t(rank), len), len, sym, rank}), ++rank;
        if (len == b.longest)
            for (long f = 0; f < fillers; ++f)
                b.codes.push_back({Reverse(first[len] + uint32_t(rank), len), len, -1, rank}), ++rank;
    }
    b.count[b.longest] += int(fillers);
    b.endOfBlock = n > 256 ? lengths[256] : 16;
    b.plain = plain;
    b.base = base;
    b.extra = extra;
    b.out = &out;
    std::vector<const Code*> all;
    for (const Code& c : b.codes) all.push_back(&c);
    out.root = b.Make(all, 0);
    out.lookupBits = out.root->bits;
    return fillers != 0 && b.longest != 1 ? 1 : 0;
}

// ---- Decoder ----------------------------------------------------------------------------

struct Inflater {
    FILE* file;
    Decryption* keys = nullptr;  // deciphers when set and active
    bool deflate64 = false;
    const volatile int* cancel = nullptr;
    std::function<void(const SinkCall&)> onSink;  // after each accepted call

    uint32_t buffer = 0;  // bits not yet consumed, the next in bit 0
    uint32_t held = 0;    // how many
    long fetched = 0;     // bytes the file gave
    long consumed = 0;    // bits consumed
    bool ended = false;

    std::vector<uint8_t> window = std::vector<uint8_t>(0x10000, 0);
    uint32_t pos = 0;
    uint16_t lengthBase[31];
    uint8_t lengthExtra[31];
    uint16_t distBase[32];
    uint8_t distExtra[32];
    Outcome out;

    bool Overran() const { return ended && consumed > fetched * 8; }

    bool Need(uint32_t n) {
        if (Overran()) return false;
        while (held < n) {
            int c = fgetc(file);
            if (c == EOF) {
                ended = true;
                c = 0;
            } else {
                ++fetched;
                if (keys && keys->active) c = DecryptByte(*keys, uint8_t(c));
            }
            buffer |= uint32_t(c) << held;
            held += 8;
        }
        return true;
    }
    void Drop(uint32_t n) {
        buffer >>= n;
        held -= n;
        consumed += n;
    }
    static uint32_t Mask(uint32_t n) { return (1u << n) - 1; }

    // 0, -1 refused, 1 overran.
    int Sink(uint32_t count) {
        if (Overran()) {
            out.overran = true;
            return 1;
        }
        if (cancel && *cancel) return -1;
        out.output.insert(out.output.end(), window.begin(), window.begin() + count);
        SinkCall call{count, ftell(file), UpdateCrc(out.calls.empty() ? 0 : out.calls.back().runningCrc, window.data(), count)};
        out.calls.push_back(call);
        if (onSink) onSink(call);
        return 0;
    }
    bool Cancelled() const { return cancel && *cancel; }

#define REF_NEED(n)                 \
    do {                            \
        if (!Need(n)) {             \
            out.overran = true;     \
            return 1;               \
        }                           \
    } while (0)

    int Put(uint8_t byte) {
        window[pos] = byte;
        if (pos == 0xFFFF) {
            pos = 0;
            return Sink(0x10000);
        }
        ++pos;
        return 0;
    }

    int Stored() {
        Drop(held & 7);
        REF_NEED(16);
        const uint32_t len = buffer & 0xFFFF;
        Drop(16);
        REF_NEED(16);
        const uint32_t nlen = buffer & 0xFFFF;
        Drop(16);
        if (len != (~nlen & 0xFFFF)) return 1;
        for (uint32_t i = 0; i < len; ++i) {
            if (Cancelled()) return -1;
            REF_NEED(8);
            const uint8_t byte = uint8_t(buffer);
            Drop(8);
            if (int r = Put(byte)) return r;
        }
        return 0;
    }

    int Codes(const Tables& lit, const Tables& dist) {
        for (;;) {
            if (Cancelled()) return -1;
            REF_NEED(uint32_t(lit.lookupBits));
            const Slot* t = &lit.root->slots[buffer & Mask(lit.lookupBits)];
            for (;;) {
                Drop(t->bits);
                if (t->op == 99) return 1;
                if (t->op < 32 || t->op == 32) break;
                const uint32_t e = uint32_t(t->op - 32);
                REF_NEED(e);
                t = &t->sub->slots[buffer & Mask(e)];
            }
            if (t->op == 32) {
                if (int r = Put(uint8_t(t->value))) return r;
                continue;
            }
            if (t->op == 31) return 0;
            REF_NEED(uint32_t(t->op));
            uint32_t length = uint32_t(t->value) + (buffer & Mask(t->op));
            Drop(t->op);
            REF_NEED(uint32_t(dist.lookupBits));
            const Slot* d = &dist.root->slots[buffer & Mask(dist.lookupBits)];
            for (;;) {
                Drop(d->bits);
                if (d->op == 99) return 1;
                if (d->op < 32) break;
                const uint32_t e = uint32_t(d->op - 32);
                REF_NEED(e);
                d = &d->sub->slots[buffer & Mask(e)];
            }
            REF_NEED(uint32_t(d->op));
            const uint32_t distance = uint32_t(d->value) + (buffer & Mask(d->op));
            Drop(d->op);
            out.longestMatch = std::max(out.longestMatch, length);
            out.farthestDistance = std::max(out.farthestDistance, distance);
            uint32_t src = (pos - distance) & 0xFFFF;
            while (length > 0) {
                uint32_t piece = 0x10000 - std::max(src, pos);
                if (piece > length) piece = length;
                if (pos - src >= piece) {
                    memmove(&window[pos], &window[src], piece);
                } else {
                    for (uint32_t i = 0; i < piece; ++i) window[pos + i] = window[src + i];
                }
                pos += piece;
                src = (src + piece) & 0xFFFF;
                length -= piece;
                if (pos == 0x10000) {
                    pos = 0;
                    if (int r = Sink(0x10000)) return r;
                }
            }
        }
    }

    int Fixed() {
        uint8_t l[320];
        memset(l, 8, 144);
        memset(l + 144, 9, 112);
        memset(l + 256, 7, 24);
        memset(l + 280, 8, 8);
        Tables lit, dist;
        Build(l, 288, 257, lengthBase, lengthExtra, 7, lit);
        memset(l, 5, 32);
        Build(l, 32, 0, distBase, distExtra, 5, dist);
        return Codes(lit, dist);
    }

    int Dynamic() {
        static const int kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        REF_NEED(5);
        const int nl = 257 + int(buffer & 31);
        Drop(5);
        REF_NEED(5);
        const int nd = 1 + int(buffer & 31);
        Drop(5);
        REF_NEED(4);
        const int ncl = 4 + int(buffer & 15);
        Drop(4);
        uint8_t l[320] = {};
        for (int i = 0; i < ncl; ++i) {
            if (Cancelled()) return -1;
            REF_NEED(3);
            l[kOrder[i]] = uint8_t(buffer & 7);
            Drop(3);
        }
        Tables cl;
        int r = Build(l, 19, 19, nullptr, nullptr, 7, cl);
        if (r != 0 || cl.lookupBits == 0) return r ? r : 1;
        const int total = nl + nd;
        int previous = 0;
        for (int i = 0; i < total;) {
            if (Cancelled()) return -1;
            REF_NEED(uint32_t(cl.lookupBits));
            const Slot& s = cl.root->slots[buffer & Mask(cl.lookupBits)];
            Drop(s.bits);
            if (s.op == 99) return 1;  // an invalid code in the code-length code
            const int v = s.value;
            int repeat = 0, value = 0;
            if (v < 16) {
                l[i++] = uint8_t(previous = v);
                continue;
            }
            if (v == 16) {
                REF_NEED(2);
                repeat = 3 + int(buffer & 3);
                Drop(2);
                value = previous;
            } else if (v == 17) {
                REF_NEED(3);
                repeat = 3 + int(buffer & 7);
                Drop(3);
            } else {
                REF_NEED(7);
                repeat = 11 + int(buffer & 127);
                Drop(7);
            }
            previous = value;
            if (i + repeat > total) return 1;
            for (int k = 0; k < repeat; ++k) l[i++] = uint8_t(value);
        }
        Tables lit, dist;
        r = Build(l, nl, 257, lengthBase, lengthExtra, 9, lit);
        if (r != 0 || lit.lookupBits == 0) return r ? r : 1;
        r = Build(l + nl, nd, 0, distBase, distExtra, 6, dist);
        if (r == 1) r = 0;
        if (r == 0 && dist.lookupBits == 0 && nl > 257) r = 1;
        if (r) return r;
        return Codes(lit, dist);
    }

    Outcome Run() {
        // Method tables, written out as RFC 1951 lists them, then Deflate64's changes.
        static const uint16_t kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                              31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
        static const uint8_t kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                              2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        static const uint16_t kDistBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                               49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                               2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
        static const uint8_t kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                               7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
        memcpy(lengthBase, kLenBase, sizeof kLenBase);
        memcpy(lengthExtra, kLenExtra, sizeof kLenExtra);
        lengthBase[29] = lengthBase[30] = 0;
        lengthExtra[29] = lengthExtra[30] = 99;
        if (deflate64) {
            lengthBase[28] = 3;
            lengthExtra[28] = 16;
        }
        memcpy(distBase, kDistBase, sizeof kDistBase);
        memcpy(distExtra, kDistExtra, sizeof kDistExtra);
        if (!deflate64) distExtra[30] = distExtra[31] = 99;

        out.result = Blocks();
        if (Overran()) out.overran = true;  // consumed past the end, then stopped on something else
        return out;
    }

    int Blocks() {
        for (;;) {
            REF_NEED(1);
            const uint32_t last = buffer & 1;
            Drop(1);
            REF_NEED(2);
            const uint32_t type = buffer & 3;
            Drop(2);
            int r = 2;
            if (type == 0) r = Stored();
            if (type == 1) r = Fixed();
            if (type == 2) r = Dynamic();
            if (r) return r;
            if (Cancelled()) return -1;
            if (last) break;
        }
        return Sink(pos);
    }
#undef REF_NEED
};

}  // namespace inflate_reference
