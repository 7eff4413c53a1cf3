// The three older PKWARE methods: Unshrink (1), Unreduce (2 to 5) and Explode (6).
//
// All three read bits through the entry stream's Bit reader, so decryption and the
// archive position seen by the progress report stay exactly those of a reader that
// fetches one byte at a time, and they keep every table in the caller's Work buffer.
// Each returns 0 when it ended normally (every byte out, or the input ended: the
// Running CRC judges what was written) and -1 when it stopped on corrupt data or on a
// refused sink call. No input, however hostile, makes them touch memory outside the
// Work buffer.
#pragma once

#include <stdint.h>

#include "codecs/entry_stream.h"

// Writes each decoded string with one sink call.
int Unshrink(EntryStream& s, uint64_t uncompressedSize, uint8_t* work);

// `factor` is 1 to 4 (method - 1).
int Unreduce(EntryStream& s, uint64_t uncompressedSize, int factor, uint8_t* work);

// `bigDictionary`: 8 KiB window (flag bit 1); `literalTree`: three trees (flag bit 2).
int Explode(EntryStream& s, uint64_t uncompressedSize, bool bigDictionary, bool literalTree,
            uint8_t* work);

// Get bits (n) of the Bit reader, with its common case inline: when the Bit buffer
// already holds n bits, they are taken there exactly as GetBits would take them.
inline int TakeBits(EntryStream& s, int n) {
    if (s.bitCount < n) return GetBits(s, n);
    const int bits = int(s.bitBuffer & ((1u << n) - 1));
    s.bitBuffer >>= n;
    s.bitCount -= n;
    return bits;
}

// ---- Output window shared by Unreduce and Explode ---------------------------------
// A 16 KiB circular buffer at the Work buffer's start, cleared for each entry so that a
// distance reaching before the entry's first byte copies zeros. The whole buffer goes to
// the sink whenever its last byte is written; the rest goes by FlushWindow at the end.
constexpr uint32_t kWindowSize = 0x4000;

struct OutputWindow {
    EntryStream* stream;
    uint8_t* bytes;  // kWindowSize bytes
    uint32_t pos;    // next byte to write, always below kWindowSize
};

void OpenWindow(OutputWindow& w, EntryStream& s, uint8_t* work);

// Passes the whole window to the sink and starts again at its first byte.
bool FlushFullWindow(OutputWindow& w);

// False once the sink refused a block: decoding must stop.
inline bool PutByte(OutputWindow& w, uint8_t byte) {
    w.bytes[w.pos] = byte;
    return ++w.pos < kWindowSize || FlushFullWindow(w);
}

// Copies `length` bytes from `distance` back (1 to kWindowSize), one at a time, so that
// a copy overlapping its own output repeats it.
bool CopyMatch(OutputWindow& w, uint32_t distance, uint32_t length);

// Passes the bytes written since the last full block, even none. 0, or -1 if refused.
int FlushWindow(OutputWindow& w);

// Bytes still expected, counted down without going below zero: a string or copy longer
// than what remains is still written whole, and decoding then stops. (A single byte is
// counted with --left: the decoders write one only while some are expected.)
void CountDown(uint64_t& left, uint32_t done);
