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
constexpr int16_t kFree = -1;
// A free code that partial clearing took a mark off that it never had (see
// FreeLeafCodes): neither free nor usable.
constexpr int16_t kUnmarkedFree = -2;

// One code: the code of its string minus the last byte (0 to 8191, or negative: kFree,
// kUnmarkedFree), and that last byte. Together, so that a string walk loads one word.
struct Node {
    int16_t prefix;
    uint8_t suffix;
    uint8_t referenced;  // scratch for partial clearing, 0 outside it
};

// Tables in the Work buffer.
struct ShrinkTables {
    uint8_t stack[kTableSize];  // a string ends at the last byte and grows downwards
    Node code[kTableSize];
};
static_assert(sizeof(ShrinkTables) <= kWorkBufferSize, "tables fit the Work buffer");

void InitTables(ShrinkTables& t) {
    for (int code = 0; code < kTableSize; ++code)
        t.code[code] = {code < 256 ? int16_t(0) : kFree, uint8_t(code < 256 ? code : 0), 0};
}

int LowestFreeCode(const ShrinkTables& t, int from) {
    while (from < kTableSize && t.code[from].prefix != kFree) ++from;
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
    for (int code = kFirstFreeCode; code < nextFree; ++code) {
        const int prefix = t.code[code].prefix;
        // Literals and missing prefixes mark slot 0, which is never looked at.
        t.code[prefix >= kFirstFreeCode && prefix < nextFree ? prefix : 0].referenced = 1;
        if (prefix >= nextFree && t.code[prefix].prefix == kFree) t.code[prefix].prefix = kUnmarkedFree;
    }
    for (int code = kFirstFreeCode; code < nextFree; ++code) {
        Node& node = t.code[code];
        node.prefix = int16_t(node.prefix | (node.referenced - 1));  // kFree unless referenced
        node.referenced = 0;
    }
}

// Builds the string of `code` below `top` (which is at most kTableSize) and returns the
// index of its first byte, or -1 when the stream is corrupt: a string longer than the
// stack, or one that runs into a code without a prefix.
int BuildString(ShrinkTables& t, int code, int top) {
    while (code > kControlCode) {
        const Node node = t.code[code];
        if (top == 0 || node.prefix < 0) return -1;
        t.stack[--top] = node.suffix;
        code = node.prefix;
    }
    if (top == 0) return -1;
    t.stack[--top] = t.code[code].suffix;
    return top;
}

}  // namespace

int Unshrink(EntryStream& s, uint64_t uncompressedSize, uint8_t* work) {
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
    uint64_t left = uncompressedSize - 1;

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
        if (t.code[code].prefix == kFree) {
            *last = firstChar;
            start = BuildString(t, previous, kTableSize - 1);
        } else {
            start = BuildString(t, code, kTableSize);
        }
        if (start < 0) return -1;
        firstChar = t.stack[start];
        const uint32_t length = uint32_t(kTableSize - start);
        if (OutputSink(s, &t.stack[start], length) < 0) return -1;
        CountDown(left, length);

        if (nextFree < kTableSize) {
            t.code[nextFree].prefix = int16_t(previous);
            t.code[nextFree].suffix = firstChar;
            nextFree = LowestFreeCode(t, nextFree + 1);
        }
        previous = code;
    }
    return 0;
}
