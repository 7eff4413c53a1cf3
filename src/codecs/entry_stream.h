// Entry data stream: what every decoder shares.
//
//  - Input: compressed bytes of the current entry come from the archive through a refill
//    buffer, deciphered as they enter it when the entry is encrypted, so decryption runs
//    in archive order whatever a decoder does. The position reported to the user is that
//    of the bytes the decoders consumed, as if they had been read one at a time.
//  - Output sink: every decoded byte passes through it: Cancel state, Running CRC, the
//    output file, and a progress report.
//  - Bit reader: LSB-first, for unshrink, unreduce and explode (inflate has its own).
//  - Stored copy: method 0.
//
// Portable: the program around it supplies the Cancel state and the progress report
// through StreamHost, the one seam between the decoders and the Windows side.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "crypto/zip_crypto.h"

constexpr uint32_t kWorkBufferSize = 0x20000;  // scratch for the reader and the decoders
constexpr uint32_t kInputBufferSize = 0x4000;
constexpr uint32_t kStoredChunk = 0x10000;

// Filled by the program around the decoders.
struct StreamHost {
    // Non-zero once the user stopped or extraction failed; read without locks.
    const volatile int* cancelState;
    // Told the archive position, in KiB, after each block written. May be null.
    void (*reportProgress)(void* context, uint32_t kib);
    void* context;
};

struct EntryStream {
    FILE* archive;  // positioned by the caller at the entry's first compressed byte
    FILE* output;
    const StreamHost* host;
    Decryption decryption;
    uint32_t runningCrc;  // CRC-32 of every byte the sink accepted since the last reset
    int writeFailed;      // set by a short write: the file is incomplete whatever the CRC says
    // Set by DecodeEntry: no entry writes more than it declares. A block that would pass
    // `outputLeft` is refused whole and `overrun` set, so the output never holds more.
    int bounded;
    int overrun;
    uint64_t outputLeft;

    // Bit reader: bits not yet consumed, the next one in bit 0; bitCount may go negative
    // once the input has ended (missing bits read as 0).
    uint32_t bitBuffer;
    int bitCount;
    int endOfInput;

    // Input buffer. input[0, inputEnd) holds the archive's bytes from inputOffset on,
    // already deciphered; inputPos is the next one a decoder takes. The buffer comes last,
    // so that every other field is reached with a short offset.
    uint64_t inputOffset;
    uint32_t inputPos, inputEnd;
    // Bytes consumed from the buffer that a one-byte-at-a-time reader would not have
    // fetched yet; subtracted from the reported position. Decoders that read ahead set it.
    uint32_t readAhead;
    uint8_t input[kInputBufferSize];
};

bool IsCancelled(const EntryStream& s);

// Call once the archive stands at the entry's first compressed byte (behind the
// encryption header): empties the input buffer and remembers where the data starts.
void BeginEntryData(EntryStream& s);

// Archive offset of the next byte that a one-byte-at-a-time reader would fetch.
uint64_t ArchivePosition(const EntryStream& s);

// Reads up to `count` bytes of the archive (deciphered). Returns how many; 0 at the end.
uint32_t InputFeed(EntryStream& s, uint8_t* buffer, uint32_t count);

// Makes at least one byte available in the input buffer; false at the end of the archive.
bool RefillInput(EntryStream& s);

// Count on success, -1 on a cancel, a short write or a block past the declared size.
int OutputSink(EntryStream& s, const uint8_t* bytes, uint32_t count);

void ResetRunningCrc(EntryStream& s);
void ResetBitReader(EntryStream& s);
int GetBits(EntryStream& s, int n);  // n from 1 to 16

void StoredCopy(EntryStream& s, uint64_t count, uint8_t* work);
