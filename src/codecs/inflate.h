// Inflate: method 8 (Deflate, RFC 1951) and method 9 (Deflate64, the APPNOTE's variant
// with a 64 KiB window, length code 285 as base 3 plus 16 extra bits, and distance codes
// 30 and 31). Reads the entry through the stream's input feed and writes a 64 KiB
// sliding window to the Output sink each time it fills, and once at the end.
#pragma once

#include <stdint.h>

#include "codecs/entry_stream.h"

// Results of the block loop and of the table builder.
constexpr int kInflateOk = 0;
constexpr int kInflateCancelled = -1;  // Cancel state set, or the Output sink refused
constexpr int kInflateBadData = 1;     // bad block, invalid code, incomplete code, input ran out
constexpr int kInflateBadCode = 2;     // over-subscribed code, block type 3
constexpr int kInflateNoMemory = 3;

// Decodes one entry from the archive's position. The result is not passed on: the Cancel
// state and the Running CRC judge the entry.
void Inflate(EntryStream& s, bool deflate64);

// The same, returning the block loop's result. Allocates the window and frees it.
int InflateBlocks(EntryStream& s, bool deflate64);

// ---- Decoding tables -------------------------------------------------------------------

// Operations of a table entry.
constexpr uint8_t kOpEndOfBlock = 31;
constexpr uint8_t kOpLiteral = 32;  // also a plain value (code-length codes)
constexpr uint8_t kOpLink = 32;     // 33 to 48: a sub-table indexed by (op - 32) more bits
constexpr uint8_t kOpInvalid = 99;
// Operations 0 to 16: a length or distance with that many extra bits.

struct HuffmanEntry {
    uint8_t op;
    uint8_t bits;    // bits this level consumes
    uint16_t value;  // symbol or base value; for a link, the sub-table's first entry
};

// A code's tables: the first-level table at entries[0], sub-tables after it, one block.
struct HuffmanTable {
    HuffmanEntry* entries;  // null for an empty code
    uint32_t lookupBits;    // size of the first-level table in bits
};

// Builds the tables of a canonical code from `count` code lengths (0 to 15, count at
// most 288). Values below `plainCount` decode to themselves (256 as end of block); value v
// above them to base[v - plainCount] with extra[v - plainCount] as its operation.
// `requestedBits` is the wished first-level size; the table's own is returned in it.
// Returns 0 complete, 1 incomplete (unless the longest length is 1), 2 over-subscribed,
// 3 out of memory. Tables of results 0 and 1 are to be freed.
int BuildHuffmanTable(const uint8_t* lengths, uint32_t count, uint32_t plainCount,
                      const uint16_t* base, const uint8_t* extra, uint32_t requestedBits,
                      HuffmanTable& table);
void FreeHuffmanTable(HuffmanTable& table);

// How many times the fixed tables were built since the process started (both methods).
uint32_t InflateFixedTableBuilds();
