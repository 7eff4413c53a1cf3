// Unreduce (methods 2 to 5): probabilistic follower sets turn bits into bytes, and a
// DLE-escaped copy encoding (byte 144) turns those bytes into output. The compression
// factor (1 to 4) splits the byte after a DLE between the copy length and the high part
// of the distance. Also home of the Output window that Explode shares.
#include "codecs/legacy_decoders.h"

#include <string.h>

// ---- Output window ----------------------------------------------------------------

void OpenWindow(OutputWindow& w, EntryStream& s, uint8_t* work) {
    w.stream = &s;
    w.bytes = work;
    w.pos = 0;
    memset(work, 0, kWindowSize);
}

bool FlushFullWindow(OutputWindow& w) {
    w.pos = 0;
    return OutputSink(*w.stream, w.bytes, kWindowSize) >= 0;
}

bool CopyMatch(OutputWindow& w, uint32_t distance, uint32_t length) {
    uint32_t from = (w.pos - distance) & (kWindowSize - 1);
    while (length > 0) {
        // A stretch in which neither index wraps, copied forwards byte by byte.
        uint32_t run = length;
        if (run > kWindowSize - w.pos) run = kWindowSize - w.pos;
        if (run > kWindowSize - from) run = kWindowSize - from;
        for (uint32_t i = 0; i < run; ++i) w.bytes[w.pos + i] = w.bytes[from + i];
        w.pos += run;
        from = (from + run) & (kWindowSize - 1);
        length -= run;
        if (w.pos == kWindowSize && !FlushFullWindow(w)) return false;
    }
    return true;
}

int FlushWindow(OutputWindow& w) {
    return OutputSink(*w.stream, w.bytes, w.pos) < 0 ? -1 : 0;
}

void CountDown(uint64_t& left, uint32_t done) { left = done >= left ? 0 : left - done; }

// ---- Unreduce ---------------------------------------------------------------------

namespace {

constexpr int kDle = 144;
constexpr int kSetCapacity = 64;  // a set holds at most 63 bytes; slot 63 stays zero

// Follower sets in the Work buffer, behind the Output window. Cleared for each entry, so
// that an index at or above a set's size reads zero.
struct FollowerSets {
    uint8_t followers[256][kSetCapacity];
    uint8_t size[256];
    uint8_t indexBits[256];  // bits of an index into the set: enough for 0 .. size - 1
};
static_assert(kWindowSize + sizeof(FollowerSets) <= kWorkBufferSize, "sets fit the Work buffer");

int IndexBits(int setSize) {
    int bits = 1;
    while ((1 << bits) < setSize) ++bits;
    return bits;
}

// Read from byte value 255 down to 0: a 6-bit size, then that many 8-bit followers.
void LoadFollowerSets(EntryStream& s, FollowerSets& f) {
    memset(&f, 0, sizeof f);
    for (int value = 255; value >= 0; --value) {
        const int size = GetBits(s, 6);
        f.size[value] = uint8_t(size);
        f.indexBits[value] = uint8_t(IndexBits(size));
        for (int i = 0; i < size; ++i) f.followers[value][i] = uint8_t(GetBits(s, 8));
    }
}

// The next byte of the DLE stream: a flag bit says whether it is a plain 8-bit value or
// an index into the follower set of the byte before it. An empty set has no flag bit.
int NextByte(EntryStream& s, const FollowerSets& f, int last) {
    if (f.size[last] == 0 || TakeBits(s, 1)) return TakeBits(s, 8);
    return f.followers[last][TakeBits(s, f.indexBits[last])];
}

}  // namespace

int Unreduce(EntryStream& s, uint64_t uncompressedSize, int factor, uint8_t* work) {
    OutputWindow w;
    OpenWindow(w, s, work);
    ResetBitReader(s);
    FollowerSets& f = *reinterpret_cast<FollowerSets*>(work + kWindowSize);
    LoadFollowerSets(s, f);

    // The byte after a DLE: its low (8 - factor) bits are the length, its high bits
    // the distance's high part; a length of all ones takes one more byte.
    const int lengthMask = (1 << (8 - factor)) - 1;
    const int distanceShift = 8 - factor;

    enum { kLiteral, kAfterDle, kLengthByte, kDistanceByte } state = kLiteral;
    int last = 0;
    int copyValue = 0;
    int copyLength = 0;
    uint64_t left = uncompressedSize;
    while (!s.endOfInput && left > 0) {
        const int x = NextByte(s, f, last);
        last = x;
        int literal = -1;
        switch (state) {
            case kLiteral:
                if (x == kDle) {
                    state = kAfterDle;
                } else {
                    literal = x;
                }
                break;
            case kAfterDle:
                if (x == 0) {  // DLE 0 is the byte 144 itself
                    literal = kDle;
                    state = kLiteral;
                    break;
                }
                copyValue = x;
                copyLength = x & lengthMask;
                state = copyLength == lengthMask ? kLengthByte : kDistanceByte;
                break;
            case kLengthByte:
                copyLength += x;
                state = kDistanceByte;
                break;
            case kDistanceByte: {
                const uint32_t distance = uint32_t((copyValue >> distanceShift) << 8) + uint32_t(x) + 1;
                const uint32_t length = uint32_t(copyLength) + 3;
                if (!CopyMatch(w, distance, length)) return -1;
                CountDown(left, length);
                state = kLiteral;
                break;
            }
        }
        if (literal >= 0) {
            if (!PutByte(w, uint8_t(literal))) return -1;
            --left;
        }
    }
    return FlushWindow(w);
}
