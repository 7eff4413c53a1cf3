// Unshrink (method 1): dynamic LZW with 9- to 13-bit codes, code 256 as the control code
// (sub-code 1 grows the code size, 2 frees the leaf codes), and no output window: each
// string is built backwards on a stack and handed to the sink in one call.
#include "codecs/legacy_decoders.h"

#include <string.h>

namespace {

constexpr int kFirstCodeSize = 9;
constexpr int kMaxCodeSize = 13;
constexpr int kControlCode = 256;
constexpr int kFirstFreeCode = 257;
constexpr int kTableSize = 8192;  // codes 0 to 8191; 8192 as Next free code means full
constexpr int32_t kFree = -1;
constexpr int32_t kMark = 0x8000;  // partial clearing: codes to free
constexpr int32_t kUnmarkedFree = kFree & ~kMark;  // see FreeLeafCodes

// Tables in the Work buffer.
struct ShrinkTables {
    uint8_t stack[kTableSize];  // a string ends at the last byte and grows downwards
    uint8_t suffix[kTableSize];
    // The code of the string minus its last byte (0 to 8191); kFree; or, after partial
    // clearing took the mark off a free code, negative too (see FreeLeafCodes).
    int32_t prefix[kTableSize];
    uint8_t referenced[kTableSize];  // scratch for partial clearing
};
static_assert(sizeof(ShrinkTables) <= kWorkBufferSize, "tables fit the Work buffer");

void InitTables(ShrinkTables& t) {
    memset(t.suffix, 0, sizeof t.suffix);
    for (int code = 0; code < kTableSize; ++code) t.prefix[code] = code < 256 ? 0 : kFree;
    for (int code = 0; code < 256; ++code) t.suffix[code] = uint8_t(code);
}

int LowestFreeCode(const ShrinkTables& t, int from) {
    while (from < kTableSize && t.prefix[from] != kFree) ++from;
    return from;
}

// Frees the leaf codes among 257 .. Next free code - 1, as the decoders that these
// streams were made for do: each code of that range is marked with bit 15 of its prefix,
// every code of the range takes the mark off its own prefix, and what is still marked
// is freed. Codes above the range are left alone, and so is a quirk: taking the mark off
// a free code (a prefix left behind when the previous code was freed) makes it neither
// free nor usable until a later clearing frees it; Next free code passes over it, and a
// string that reaches it is corrupt. Done here in two passes with the same outcome.
void FreeLeafCodes(ShrinkTables& t, int nextFree) {
    memset(t.referenced, 0, sizeof t.referenced);
    for (int code = kFirstFreeCode; code < nextFree; ++code) {
        const int32_t prefix = t.prefix[code];
        // Literals and missing prefixes mark slot 0, which is never looked at.
        t.referenced[prefix >= kFirstFreeCode ? prefix : 0] = 1;
        if (prefix >= nextFree && t.prefix[prefix] == kFree) t.prefix[prefix] = kUnmarkedFree;
    }
    for (int code = kFirstFreeCode; code < nextFree; ++code)
        t.prefix[code] |= int32_t(t.referenced[code]) - 1;  // kFree unless referenced
}

// Builds the string of `code` below `top` (which is at most kTableSize) and returns the
// index of its first byte, or -1 when the stream is corrupt: a string longer than the
// stack, or one that runs into a code without a prefix.
int BuildString(ShrinkTables& t, int code, int top) {
    while (code > kControlCode) {
        if (top == 0 || t.prefix[code] < 0) return -1;
        t.stack[--top] = t.suffix[code];
        code = t.prefix[code];
    }
    if (top == 0) return -1;
    t.stack[--top] = t.suffix[code];
    return top;
}

}  // namespace

int Unshrink(EntryStream& s, uint32_t uncompressedSize, uint8_t* work) {
    ShrinkTables& t = *reinterpret_cast<ShrinkTables*>(work);
    ResetBitReader(s);
    InitTables(t);
    // An empty entry has no codes to read: what follows belongs to the archive.
    if (uncompressedSize == 0) return 0;

    int previous = GetBits(s, kFirstCodeSize);
    if (s.endOfInput) return 0;
    uint8_t* last = &t.stack[kTableSize - 1];
    *last = uint8_t(previous);
    if (OutputSink(s, last, 1) < 0) return -1;
    uint8_t firstChar = *last;
    uint32_t left = uncompressedSize - 1;

    int codeSize = kFirstCodeSize;
    int nextFree = kFirstFreeCode;
    while (left > 0 && !s.endOfInput) {
        const int code = TakeBits(s, codeSize);
        if (s.endOfInput) return 0;
        if (code == kControlCode) {
            const int subCode = GetBits(s, codeSize);
            if (subCode == 1 && ++codeSize > kMaxCodeSize) return -1;
            if (subCode == 2) {
                if (nextFree > kFirstFreeCode) FreeLeafCodes(t, nextFree);
                nextFree = LowestFreeCode(t, kFirstFreeCode);
            }
            continue;  // any other sub-code changes nothing
        }

        // A code not yet defined can only be the one being defined now (KwKwK): the
        // previous string followed by its own first byte.
        int start;
        if (t.prefix[code] == kFree) {
            *last = firstChar;
            start = BuildString(t, previous, kTableSize - 1);
        } else {
            start = BuildString(t, code, kTableSize);
        }
        if (start < 0) return -1;
        firstChar = t.stack[start];
        const uint32_t length = uint32_t(kTableSize - start);
        if (OutputSink(s, &t.stack[start], length) < 0) return -1;
        left = CountDown(left, length);

        if (nextFree < kTableSize) {
            t.prefix[nextFree] = previous;
            t.suffix[nextFree] = firstChar;
            nextFree = LowestFreeCode(t, nextFree + 1);
        }
        previous = code;
    }
    return 0;
}
