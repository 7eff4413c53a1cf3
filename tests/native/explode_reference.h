// Explode as the format's own recipe reads, step by step, for comparison with the
// production decoder: entries Shell-sorted by (bit length, value), codes counted up from
// the last entry and bit-reversed, each symbol found by a linear scan one bit at a time,
// every bit read with its own call. Slow and plain; the production decoder must give the
// same bytes, the same sink calls at the same archive positions, and the same end.
#pragma once

#include <stdint.h>
#include <string.h>

#include "codecs/entry_stream.h"

namespace reference {

struct Entry {
    uint16_t code;
    uint8_t value;
    uint8_t bits;
};

struct Tree {
    Entry entries[256];
    int n;
};

inline bool Before(const Entry& a, const Entry& b) {
    return a.bits != b.bits ? a.bits < b.bits : a.value < b.value;
}

inline bool BuildTree(EntryStream& s, Tree& t, int n) {
    t.n = n;
    for (int i = 0; i < n; ++i) t.entries[i] = {0, uint8_t(i), 0};
    const int bytes = GetBits(s, 8) + 1;
    int next = 0;
    for (int i = 0; i < bytes; ++i) {
        const int bits = GetBits(s, 4) + 1;
        const int count = GetBits(s, 4) + 1;
        for (int k = 0; k < count; ++k) {
            if (next >= n) return false;
            t.entries[next++].bits = uint8_t(bits);
        }
    }
    // Shell sort, gaps n/2 .. 1, each pass repeated until it exchanges nothing.
    for (int gap = n / 2; gap > 0; gap /= 2) {
        bool exchanged = true;
        while (exchanged) {
            exchanged = false;
            for (int i = 0; i + gap < n; ++i) {
                if (Before(t.entries[i + gap], t.entries[i])) {
                    const Entry e = t.entries[i];
                    t.entries[i] = t.entries[i + gap];
                    t.entries[i + gap] = e;
                    exchanged = true;
                }
            }
        }
    }
    uint32_t code = 0, increment = 0;
    int lastBits = 0;
    for (int i = n - 1; i >= 0; --i) {
        code = (code + increment) & 0xFFFF;
        t.entries[i].code = uint16_t(code);
        if (t.entries[i].bits != lastBits) {
            lastBits = t.entries[i].bits;
            increment = 1u << (16 - lastBits);
        }
    }
    for (int i = 0; i < n; ++i) {
        uint32_t reversed = 0;
        for (int b = 0; b < 16; ++b) reversed |= ((t.entries[i].code >> b) & 1u) << (15 - b);
        t.entries[i].code = uint16_t(reversed);
    }
    return true;
}

inline int DecodeSymbol(EntryStream& s, const Tree& t) {
    uint32_t value = 0;
    int count = 0, index = 0;
    for (;;) {
        value |= uint32_t(GetBits(s, 1)) << count;
        const int bits = count + 1;
        while (index < t.n && t.entries[index].bits < bits) ++index;
        if (index >= t.n) return -1;
        while (index < t.n && t.entries[index].bits == bits) {
            if (t.entries[index].code == value) return t.entries[index].value;
            ++index;
        }
        if (index >= t.n) return -1;
        count = bits;
    }
}

struct Window {
    EntryStream* s;
    uint8_t* bytes;
    uint32_t pos;
    bool Put(uint8_t b) {
        bytes[pos] = b;
        if (pos == 16383) {
            pos = 0;
            return OutputSink(*s, bytes, 16384) >= 0;
        }
        ++pos;
        return true;
    }
};

// Same contract as Explode(): 0 at a normal end, -1 on corrupt data or a refused call.
inline int Explode(EntryStream& s, uint32_t size, bool bigDictionary, bool literalTree, uint8_t* work) {
    Window w{&s, work, 0};
    memset(work, 0, 16384);
    ResetBitReader(s);
    static Tree literal, length, distance;
    if (literalTree && !BuildTree(s, literal, 256)) return -1;
    if (!BuildTree(s, length, 64)) return -1;
    if (!BuildTree(s, distance, 64)) return -1;
    const int lowBits = bigDictionary ? 7 : 6;
    const int64_t minimum = literalTree ? 3 : 2;
    int64_t left = size;
    while (!s.endOfInput && left > 0) {
        if (GetBits(s, 1)) {
            const int b = literalTree ? DecodeSymbol(s, literal) : GetBits(s, 8);
            if (b < 0) return -1;
            if (!w.Put(uint8_t(b))) return -1;
            left -= 1;
        } else {
            const int low = GetBits(s, lowBits);
            const int high = DecodeSymbol(s, distance);
            if (high < 0) return -1;
            int code = DecodeSymbol(s, length);
            if (code < 0) return -1;
            if (code == 63) code += GetBits(s, 8);
            const int64_t len = code + minimum;
            const uint32_t dist = uint32_t((high << lowBits) | low) + 1;
            for (int64_t i = 0; i < len; ++i)
                if (!w.Put(w.bytes[(w.pos + 16384 - dist) % 16384])) return -1;
            left -= len;
        }
    }
    return OutputSink(s, w.bytes, w.pos) < 0 ? -1 : 0;
}

}  // namespace reference
