// Unshrink as the format's own recipe reads, step by step, for comparison with the
// production decoder, whose partial clearing works in two passes instead of three:
// here every code below Next free code is marked with bit 15 of its prefix, each takes
// the mark off its own prefix, and the marked ones are freed. The two must give the same
// bytes, sink calls, archive positions and end on every stream.
#pragma once

#include <stdint.h>
#include <string.h>

#include "codecs/entry_stream.h"

namespace reference {

// Same contract as Unshrink(): 0 at a normal end, -1 on corrupt data or a refused call.
inline int Unshrink(EntryStream& s, uint32_t size, uint8_t*) {
    static int32_t prefix[8193];
    static uint8_t suffix[8192];
    static uint8_t stack[8192];
    ResetBitReader(s);
    for (int c = 0; c < 8193; ++c) prefix[c] = c < 256 ? 0 : -1;
    memset(suffix, 0, sizeof suffix);
    for (int c = 0; c < 256; ++c) suffix[c] = uint8_t(c);
    if (size == 0) return 0;

    int previous = GetBits(s, 9);
    if (s.endOfInput) return 0;
    stack[8191] = uint8_t(previous);
    if (OutputSink(s, stack + 8191, 1) < 0) return -1;
    uint8_t first = stack[8191];
    int64_t left = int64_t(size) - 1;
    int codeSize = 9, nextFree = 257;
    while (left > 0 && !s.endOfInput) {
        const int code = GetBits(s, codeSize);
        if (s.endOfInput) return 0;
        if (code == 256) {
            const int sub = GetBits(s, codeSize);
            if (sub == 1) {
                if (++codeSize > 13) return -1;
            } else if (sub == 2) {
                if (nextFree > 257) {
                    for (int c = 257; c < nextFree; ++c) prefix[c] |= 0x8000;
                    for (int c = 257; c < nextFree; ++c) {
                        const int32_t p = prefix[c] & ~0x8000;
                        if (p >= 257) prefix[p] &= ~0x8000;
                    }
                    for (int c = 257; c < nextFree; ++c)
                        if (prefix[c] & 0x8000) prefix[c] = -1;
                }
                nextFree = 257;
                while (nextFree < 8192 && prefix[nextFree] != -1) ++nextFree;
            }
            continue;
        }
        int top = 8192;
        int walk = code;
        if (prefix[code] == -1) {
            stack[--top] = first;
            walk = previous;
        }
        while (walk > 256) {
            // Corrupt: a string longer than the stack, or one that reaches a code with
            // no prefix (free, or unmarked while free).
            if (top == 0 || prefix[walk] < 0) return -1;
            stack[--top] = suffix[walk];
            walk = prefix[walk];
        }
        if (top == 0) return -1;
        stack[--top] = suffix[walk];
        first = stack[top];
        if (OutputSink(s, stack + top, uint32_t(8192 - top)) < 0) return -1;
        left -= 8192 - top;
        if (nextFree < 8192) {
            prefix[nextFree] = previous;
            suffix[nextFree] = first;
            do ++nextFree;
            while (nextFree < 8192 && prefix[nextFree] != -1);
        }
        previous = code;
    }
    return 0;
}

}  // namespace reference
