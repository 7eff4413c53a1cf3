// ZIP structure reader: finds the archive inside whatever file holds it and hands out
// its entries one after another.
//
// Nothing in the file is trusted to sit at an offset: the end record is found by a
// backward signature search, each local header by a forward search with validity rules,
// and each central record by a byte search from a cursor. Local headers and central
// records are paired by order, never by name. Positions and sizes are 64-bit: ZIP64
// records and extra fields are read, and archives past 4 GiB are read like any other.
// Only what lies before the central directory is ever handed out as an entry.
// Portable: stdio only.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

// Stored names are taken whole or not at all, UTF-8 or not: up to 1023 bytes, a longer one
// refuses the header. None is ever cut, so no cut can make a name another entry's.
constexpr size_t kUtf8NameSize = 1024;
constexpr size_t kLongestName = kUtf8NameSize - 1;
constexpr uint32_t kFlagEncrypted = 0x0001;
constexpr uint32_t kFlagImplode8K = 0x0002;
constexpr uint32_t kFlagImplodeLiteralTree = 0x0004;
constexpr uint32_t kFlagDataDescriptor = 0x0008;
constexpr uint32_t kFlagUtf8 = 0x0800;
constexpr uint32_t kAttributeFolder = 0x10;

// One entry: its local header, completed from the matched central record.
struct EntryRecord {
    uint16_t attributes;  // low byte of the central external attributes, volume bit cleared
    // The local header's 26 bytes behind its signature, as stored: read in one piece.
    uint16_t versionNeeded;
    uint16_t flags;
    uint16_t method;
    uint16_t time;  // time then date: together the DOS date-time, date in the high half
    uint16_t date;
    uint32_t crc32;
    uint32_t storedCompressedSize;  // 0xFFFFFFFF: the size is in the ZIP64 field
    uint32_t storedUncompressedSize;
    uint16_t nameLength;  // as stored
    uint16_t extraLength;
    // The sizes themselves: stored, from the ZIP64 field, or from the central record.
    uint64_t compressedSize;  // lowered by 12 once a password opened an encrypted entry
    uint64_t uncompressedSize;
    // The name holds UTF-8 (flag bit 11, or an Info-ZIP Unicode Path field that matched
    // the stored name), or else the stored bytes of the code page: up to 1023 bytes either
    // way, for the program around the reader to convert.
    bool utf8Name;
    char name[kUtf8NameSize];

    uint32_t DosDateTime() const { return uint32_t(date) << 16 | time; }
};
static_assert(offsetof(EntryRecord, extraLength) + 2 - offsetof(EntryRecord, versionNeeded) == 26, "as stored");

// The central directory record matched last: its 42 bytes behind the signature, as
// stored. Only flags, date-time and CRC-32 are used outside the reader (the password
// check byte comes from them).
struct CentralRecord {
    uint8_t versionMadeBy, hostSystem, versionNeeded, versionNeededHost;
    uint16_t flags;
    uint16_t method;
    uint32_t dosDateTime;  // time in the low half
    uint32_t crc32;
    uint32_t compressedSize, uncompressedSize;  // 0xFFFFFFFF: in the ZIP64 field
    uint16_t nameLength, extraLength, commentLength, diskNumberStart, internalAttributes;
    uint32_t externalAttributes __attribute__((packed));  // at offset 34, as stored
    uint32_t localHeaderOffset __attribute__((packed));
};
static_assert(offsetof(CentralRecord, localHeaderOffset) + 4 == 42, "as stored");

// The reader's state. `archive` is the one stream that the reader, the decryption and the
// decoders share; its position is theirs to move.
struct ZipReader {
    FILE* archive;
    // The archive's bytes end here: set by the caller before the search (the start of a
    // signed image's certificate table), or 0 for the end of the file.
    uint64_t end;
    uint64_t centralStart;   // the first central record: no entry starts at or after it
    uint64_t centralEnd;     // where the end record (or the ZIP64 end record) begins
    uint64_t centralCursor;  // next place to search for a central record; 0: none left
    uint64_t entryStart;     // where the local header of the entry handed out last begins
    CentralRecord central;   // kept from the last successful match
};

// Position of the end-of-central-directory record, searched backwards from `length` in
// windows that overlap by three bytes: the one whose comment ends exactly at `length`,
// else the one nearest to it. A record whose fields up to the central directory offset do
// not all lie before `length` is no record.
bool FindEndRecord(FILE* file, uint64_t length, uint64_t& position);

// Searches backwards from the end for the end-of-central-directory record nearest to it,
// follows a ZIP64 locator, and finds the first central record. True when the archive can
// be read: the cursor and the central start are then set and the file is at offset 0.
// False when there is no end record, its offset is 0, the archive is split or spanned, a
// ZIP64 form cannot be read, or the central directory it names is not there.
bool FindCentralDirectory(ZipReader& reader);

// Scans forward from the current position for the next acceptable local header before
// the central directory, fills `entry` and leaves the file at the entry's first data
// byte: 1. No further entry: 0. Every position is tried in turn, so a refused header
// never hides one inside it; a signature in the last 20 bytes before the central
// directory starts none. The CRC-32 table must be built (a Unicode Path field is checked
// against the stored name).
int NextEntry(ZipReader& reader, EntryRecord& entry);

// After the last entry: true when a central record was left unmatched, so the directory
// lists an entry whose local header was never handed out (refused, or covered by the data
// of an entry before it). The archive is damaged then; nothing of it may be lost in silence.
bool CentralRecordsLeft(ZipReader& reader);
