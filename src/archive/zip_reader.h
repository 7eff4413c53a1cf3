// ZIP structure reader: finds the archive inside whatever file holds it and hands out
// its entries one after another.
//
// Nothing in the file is trusted to sit at an offset: the end record is found by a
// backward signature search, each local header by a forward search with validity rules,
// and each central record by a byte search from a cursor. Local headers and central
// records are paired by order, never by name. Portable: stdio only.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

constexpr size_t kNameSize = 260;         // the name buffer, terminator included
constexpr size_t kScanWindowSize = 1024;  // the caller's window for Next entry, at least
constexpr uint32_t kFlagEncrypted = 0x0001;
constexpr uint32_t kFlagImplode8K = 0x0002;
constexpr uint32_t kFlagImplodeLiteralTree = 0x0004;
constexpr uint32_t kFlagDataDescriptor = 0x0008;
constexpr uint32_t kAttributeFolder = 0x10;

// One entry: its local header, completed from the matched central record.
struct EntryRecord {
    uint16_t versionNeeded;
    uint16_t flags;
    uint16_t method;
    uint16_t time;  // time then date: together the DOS date-time, date in the high half
    uint16_t date;
    uint32_t crc32;
    uint32_t compressedSize;  // lowered by 12 once a password opened an encrypted entry
    uint32_t uncompressedSize;
    uint16_t nameLength;  // as stored (at most 260 is accepted)
    uint16_t extraLength;
    uint32_t attributes;  // low byte of the central external attributes, volume bit cleared
    char name[kNameSize];

    uint32_t DosDateTime() const { return uint32_t(date) << 16 | time; }
};
static_assert(offsetof(EntryRecord, date) == 8 && offsetof(EntryRecord, crc32) == 12 &&
              offsetof(EntryRecord, uncompressedSize) == 20 && offsetof(EntryRecord, extraLength) == 26);

// The central directory record matched last. Only flags, date-time and CRC-32 are used
// outside the reader (the password check byte comes from them).
struct CentralRecord {
    uint8_t versionMadeBy, hostSystem, versionNeeded, versionNeededHost;
    uint16_t flags;
    uint16_t method;
    uint32_t dosDateTime;  // time in the low half
    uint32_t crc32, compressedSize, uncompressedSize;
    uint16_t nameLength, extraLength, commentLength, diskNumberStart, internalAttributes;
    uint32_t externalAttributes;
    uint32_t localHeaderOffset;
};
// Up to the external attributes the record lies as the format stores it (little-endian).
static_assert(offsetof(CentralRecord, internalAttributes) == 32);

// The reader's state. `archive` is the one stream that the reader, the decryption and the
// decoders share; its position is theirs to move.
struct ZipReader {
    FILE* archive;
    int32_t centralCursor;  // next place to search for a central record; 0: none left
    CentralRecord central;  // kept from the last successful match
};

// Searches backwards from the end of the file for the end-of-central-directory record
// nearest to the end. Returns the central directory offset it holds (and sets the cursor
// to it, leaving the file at offset 0), or 0 when there is none or it says 0.
int32_t FindCentralDirectory(ZipReader& reader);

// Scans forward from the current position for the next acceptable local header, fills
// `entry` and leaves the file at the entry's first data byte: 1. No further entry: 0.
// `window` must hold at least kScanWindowSize bytes.
int NextEntry(ZipReader& reader, EntryRecord& entry, uint8_t* window);
