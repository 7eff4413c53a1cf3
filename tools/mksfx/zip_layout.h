// The archive's structure as its offsets describe it: end record, optional ZIP64 end
// records, and the central directory read record by record.
//
// The stub never trusts these offsets; mksfx reads them for two reasons: to move them
// when the archive goes behind the stub and block, and to know which entries the
// archive holds, so it can tell when the stub's own reader would miss one.
//
// Every position here is a position in the file read. `shift` is how far the archive's
// stored offsets lie from those positions: 0 when the offsets count from the file's
// start, the length of whatever precedes the archive when they count from its own start.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

constexpr uint32_t kZip64Marker32 = 0xFFFFFFFF;

struct CentralEntry {
    uint64_t position;  // of the central record's signature
    uint16_t flags;
    uint16_t method;
    uint32_t crc32, compressedSize, uncompressedSize;
    uint32_t externalAttributes;
    uint32_t storedLocalOffset;      // as the record says (0xFFFFFFFF: in the ZIP64 extra)
    uint64_t localOffset;            // from the ZIP64 extra when needed, else the stored one
    size_t localOffsetField;         // where that value lies, counted from `tailStart`
    size_t localOffsetFieldSize;     // 4, or 8 in a ZIP64 extra
    bool zip64Extra;                 // the record has a ZIP64 extended information field
    uint16_t nameLength;
    std::string name;                // as stored, bytes unchanged
};

struct ZipLayout {
    uint64_t fileSize = 0;
    uint64_t endRecord = 0;          // position of the end-of-central-directory record
    uint32_t storedCentralOffset = 0;  // the end record's 32-bit central directory offset
    uint64_t centralOffset = 0;      // the offset that counts (ZIP64 record when present)
    uint64_t centralSize = 0;
    uint64_t centralStart = 0;       // where the central directory really begins
    int64_t shift = 0;               // centralStart - centralOffset
    bool zip64 = false;
    uint64_t zip64Locator = 0;       // positions of the ZIP64 records when `zip64`
    uint64_t zip64EndRecord = 0;
    std::vector<CentralEntry> entries;

    // The bytes from centralStart to the end of the file: central directory, end records
    // and comment. Offsets are moved in this copy.
    uint64_t tailStart = 0;
    std::vector<uint8_t> tail;
};

// Reads the layout of the archive in `file`. False with a one-line reason when the file
// holds no archive whose central directory can be found through its end record.
bool ReadZipLayout(FILE* file, uint64_t fileSize, ZipLayout& layout, std::string& error);

// Moves every stored offset in `layout.tail` so that it counts from the start of a file
// in which `prefixSize` bytes precede this one: each becomes its real position plus
// `prefixSize`. False when a moved offset would not fit its field.
bool MoveOffsets(ZipLayout& layout, uint64_t prefixSize, std::string& error);

// True when the stored offsets already count from the start of the file read.
inline bool OffsetsCountFromFileStart(const ZipLayout& layout) { return layout.shift == 0; }

// Position in the file of the local header that `entry` names.
inline uint64_t LocalHeaderPosition(const ZipLayout& layout, const CentralEntry& entry) {
    return uint64_t(int64_t(entry.localOffset) + layout.shift);
}
