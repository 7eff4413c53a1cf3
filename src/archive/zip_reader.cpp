// ZIP structure reader. See zip_reader.h for the search strategy.
//
// Places that go beyond a literal reading of the format's layout because real files
// need it: the end-record search overlaps its windows so that a signature straddling two
// of them is still found; an entry whose sizes follow its data (flag bit 3) takes its
// CRC-32 and sizes from the central record, since writers may leave placeholders in the
// local header; an empty local date-time is taken from the central record; and the
// central directory is taken where the end record's sizes put it when a record starts
// there, so an archive whose offsets count from its own start (behind a stub) is paired
// from its true first record.
#include "archive/zip_reader.h"

#include <string.h>

#include "archive/crc32.h"
#include "archive/file_position.h"

namespace {

constexpr size_t kEndWindow = 256;
constexpr size_t kEndRecordSize = 22;  // with its comment length
constexpr size_t kLocalHeaderSize = 26;
constexpr size_t kCentralHeaderSize = 42;
constexpr size_t kScanMargin = 21;  // a candidate signature starts this far before the central directory, at least
constexpr uint32_t kEscape32 = 0xFFFFFFFF;
constexpr uint16_t kTagZip64 = 0x0001;
constexpr uint16_t kTagUnicodePath = 0x7075;

// Fields are little-endian, as the machines we build for are: records are read as they
// lie, and fields at any alignment with one load each.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);
uint16_t Read16(const uint8_t* p) {
    uint16_t v;
    memcpy(&v, p, sizeof v);
    return v;
}
uint32_t Read32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, sizeof v);
    return v;
}
uint64_t Read64(const uint8_t* p) {
    uint64_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

// The end records from their signatures on, as stored; the end record up to its central
// directory offset.
struct __attribute__((packed)) EndRecord {
    uint8_t signature[4];
    uint16_t disk, centralDisk, entriesOnDisk, entries;
    uint32_t size, offset;
};
struct __attribute__((packed)) Zip64Locator {
    uint8_t signature[4];
    uint32_t endDisk;
    uint64_t endOffset;
    uint32_t disks;
};
// Without extensible data, as every writer makes it.
struct __attribute__((packed)) Zip64EndRecord {
    uint8_t signature[4];
    uint64_t recordSize;  // of what follows this field
    uint16_t versionMadeBy, versionNeeded;
    uint32_t disk, centralDisk;
    uint64_t entriesOnDisk, entries, size, offset;
};

bool IsSignature(const uint8_t* p, uint8_t a, uint8_t b) {
    return p[0] == 'P' && p[1] == 'K' && p[2] == a && p[3] == b;
}

bool ReadAll(FILE* file, void* buffer, size_t size) { return fread(buffer, 1, size, file) == size; }

bool ReadAt(FILE* file, uint64_t position, void* buffer, size_t size) {
    return SeekTo(file, position) && ReadAll(file, buffer, size);
}

bool SignatureAt(FILE* file, uint64_t position, uint8_t a, uint8_t b) {
    uint8_t signature[4];
    return ReadAt(file, position, signature, sizeof signature) && IsSignature(signature, a, b);
}

// Reads and drops `count` bytes. False if the file ends first.
bool Skip(FILE* file, uint32_t count) {
    uint8_t skipped[64];
    while (count != 0) {
        const uint32_t chunk = count < sizeof skipped ? count : uint32_t(sizeof skipped);
        if (!ReadAll(file, skipped, chunk)) return false;
        count -= chunk;
    }
    return true;
}

// ---- extra fields -------------------------------------------------------------------

// What a record's extra fields hold for the reader.
struct Extras {
    uint8_t zip64[32];  // the ZIP64 field's data (at most four values are defined)
    uint32_t zip64Size;
    bool unicodePath;  // a Unicode Path field matched the stored name: now in `name`
};

// Reads `length` bytes of extra fields from the current position. The ZIP64 field is
// kept; a Unicode Path field whose CRC-32 equals `storedNameCrc` puts its UTF-8 name into
// `name` (kUtf8NameSize). False if the file ends first.
bool ReadExtras(FILE* file, uint32_t length, uint32_t storedNameCrc, Extras& extras, char* name) {
    extras.zip64Size = 0;
    extras.unicodePath = false;
    while (length >= 4) {
        uint8_t header[5];
        if (!ReadAll(file, header, 4)) return false;
        length -= 4;
        const uint16_t tag = Read16(header);
        uint32_t size = Read16(header + 2) < length ? Read16(header + 2) : length;
        length -= size;
        if (tag == kTagZip64 && size <= sizeof extras.zip64) {
            extras.zip64Size = size;
            if (!ReadAll(file, extras.zip64, size)) return false;
            continue;
        }
        if (tag == kTagUnicodePath && size >= 5 && size - 5 < kUtf8NameSize && !extras.unicodePath) {
            // Version 1, the CRC-32 of the stored name, then the name in UTF-8. A CRC that
            // differs means the stored name was changed afterwards: the field is stale.
            if (!ReadAll(file, header, 5)) return false;
            size -= 5;
            if (header[0] == 1 && Read32(header + 1) == storedNameCrc) {
                if (!ReadAll(file, name, size)) return false;
                name[size] = 0;
                extras.unicodePath = strlen(name) == size;  // no zero inside the name
                continue;
            }
        }
        if (!Skip(file, size)) return false;
    }
    return Skip(file, length);
}

// The ZIP64 field holds a 64-bit value for each 32-bit field that is escaped, in the
// format's order: the uncompressed size, the compressed size, then offsets that the
// reader does not use. Each size that holds the escape (either with `both`) takes the
// next value; the others keep theirs.
void TakeZip64Sizes(const Extras& extras, uint64_t& uncompressed, uint64_t& compressed, bool both) {
    uint64_t* const sizes[] = {&uncompressed, &compressed};
    uint32_t at = 0;
    for (uint64_t* size : sizes) {
        if (!both && *size != kEscape32) continue;
        if (at + 8 > extras.zip64Size) return;
        *size = Read64(extras.zip64 + at);
        at += 8;
    }
}

// ---- central records ----------------------------------------------------------------

// The position of the first "PK a b" in [from, limit), or `limit` when there is none.
uint64_t FindSignature(FILE* file, uint64_t from, uint64_t limit, uint8_t a, uint8_t b) {
    uint8_t window[512];
    while (from + 4 <= limit) {
        const uint64_t room = limit - from;
        const size_t wanted = room < sizeof window ? size_t(room) : sizeof window;
        if (!SeekTo(file, from)) return limit;
        const size_t count = fread(window, 1, wanted, file);
        for (size_t i = 0; i + 4 <= count; ++i)
            if (IsSignature(window + i, a, b)) return from + i;
        if (count < wanted || count < 4) return limit;
        from += count - 3;  // a signature straddling two windows is found in the second
    }
    return limit;
}

// A local value that is 0 (or still escaped) comes from the central record.
[[gnu::noinline]] void TakeIfUnknown(uint64_t& local, uint64_t central) {
    if (local == 0 || local == kEscape32) local = central;
}

// Finds the next central record from the cursor and completes `entry` from it. Returns
// the attributes byte, or 0 (and the cursor becomes 0) when none is left. `scratch`
// (kUtf8NameSize) takes a Unicode Path field's name.
[[gnu::noinline]] uint32_t MatchCentralRecord(ZipReader& reader, EntryRecord& entry, uint32_t storedNameCrc, char* scratch) {
    if (reader.centralCursor == 0) return 0;
    FILE* file = reader.archive;
    const uint64_t record = FindSignature(file, reader.centralCursor, reader.end, 1, 2);
    CentralRecord c;
    if (record == reader.end || !ReadAt(file, record + 4, &c, kCentralHeaderSize)) {
        reader.centralCursor = 0;
        return 0;
    }
    reader.central = c;
    uint64_t uncompressed = c.uncompressedSize, compressed = c.compressedSize;
    // The extra fields follow the name; the next search starts after the name all the
    // same and passes over them byte by byte.
    const uint64_t afterName = record + 4 + kCentralHeaderSize + c.nameLength;
    Extras extras;
    if (SeekTo(file, afterName) && ReadExtras(file, c.extraLength, storedNameCrc, extras, scratch)) {
        TakeZip64Sizes(extras, uncompressed, compressed, false);
        if (extras.unicodePath && !entry.utf8Name) {
            memcpy(entry.name, scratch, strlen(scratch) + 1);
            entry.utf8Name = true;
        }
    }

    if (entry.extraLength == 0) entry.extraLength = c.extraLength;
    if (entry.crc32 == 0) entry.crc32 = c.crc32;
    TakeIfUnknown(entry.compressedSize, compressed);
    TakeIfUnknown(entry.uncompressedSize, uncompressed);
    // No valid DOS date is 0: some streaming writers leave the local date-time empty.
    if (entry.DosDateTime() == 0) {
        entry.time = uint16_t(c.dosDateTime);
        entry.date = uint16_t(c.dosDateTime >> 16);
    }
    if (entry.flags & kFlagDataDescriptor) {
        entry.crc32 = c.crc32;
        entry.compressedSize = compressed;
        entry.uncompressedSize = uncompressed;
    }
    reader.centralCursor = afterName;
    return c.externalAttributes & 0xF7;
}

// ---- local headers ------------------------------------------------------------------

// The file stands just after a "PK\3\4". True when the header is acceptable; the file is
// then back at the first byte of the entry's data. `stored` (kUtf8NameSize) is scratch.
[[gnu::noinline]] bool ParseLocalHeader(ZipReader& reader, EntryRecord& entry, char* stored) {
    FILE* file = reader.archive;
    if (!ReadAll(file, &entry.versionNeeded, kLocalHeaderSize)) return false;
    entry.attributes = 0;
    entry.utf8Name = (entry.flags & kFlagUtf8) != 0;

    if (entry.method > 9 || entry.method == 7) return false;
    if (entry.nameLength > kLongestName || !ReadAll(file, stored, entry.nameLength)) return false;
    memcpy(entry.name, stored, entry.nameLength);
    entry.name[entry.nameLength] = 0;
    if (strlen(entry.name) != entry.nameLength) return false;
    const uint32_t storedNameCrc = UpdateCrc(0, reinterpret_cast<const uint8_t*>(stored), entry.nameLength);

    Extras extras;
    if (!ReadExtras(file, entry.extraLength, storedNameCrc, extras, stored)) return false;
    if (extras.unicodePath) {
        memcpy(entry.name, stored, strlen(stored) + 1);
        entry.utf8Name = true;
    }
    // A local ZIP64 field holds both sizes, uncompressed first, whichever are escaped.
    entry.uncompressedSize = entry.storedUncompressedSize;
    entry.compressedSize = entry.storedCompressedSize;
    if (entry.storedUncompressedSize == kEscape32 || entry.storedCompressedSize == kEscape32)
        TakeZip64Sizes(extras, entry.uncompressedSize, entry.compressedSize, extras.zip64Size >= 16);

    const int64_t dataStart = PositionOf(file);
    if (dataStart < 0) return false;
    entry.attributes = uint16_t(MatchCentralRecord(reader, entry, storedNameCrc, stored));
    return SeekTo(file, uint64_t(dataStart));
}

// ---- end records --------------------------------------------------------------------

}  // namespace

bool FindEndRecord(FILE* file, uint64_t length, uint64_t& found) {
    uint8_t window[kEndWindow + kEndRecordSize];
    const uint64_t floor = length > kEndWindow ? 0 : 20;
    bool any = false;
    for (uint64_t high = length; high >= floor + 4;) {
        const uint32_t span = high - floor > kEndWindow ? uint32_t(kEndWindow) : uint32_t(high - floor);
        const uint64_t low = high - span;
        const uint64_t tail = length - low;  // from the window's first byte to the end
        if (!SeekTo(file, low)) return any;
        const size_t count = fread(window, 1, span + kEndRecordSize, file);
        for (uint32_t p = span; p-- > 0;) {
            if (p + sizeof(EndRecord) > count || !IsSignature(window + p, 5, 6)) continue;
            // The record whose comment ends the archive is the archive's own; a signature in
            // a comment or in a stored archive near the end is not.
            if (p + kEndRecordSize <= count && p + kEndRecordSize + Read16(window + p + 20) == tail) {
                found = low + p;
                return true;
            }
            if (!any) found = low + p;
            any = true;
        }
        // No comment is longer than 65,535 bytes: below that, only the nearest counts.
        if (low == floor || (any && tail > kEndRecordSize + 0xFFFF)) break;
        high = low + 3;
    }
    return any;
}

namespace {

// Reads the end record at `at` (and the ZIP64 records it leads to) into `z`, the plain
// record's fields widened into the ZIP64 form; `recordStart` becomes the position of the
// end record, or of the ZIP64 end record before it. False for an archive that cannot be
// read: split or spanned, or a ZIP64 form that is not there.
bool ReadDirectory(FILE* file, uint64_t at, Zip64EndRecord& z, uint64_t& recordStart) {
    EndRecord e;
    if (!ReadAt(file, at, &e, sizeof e)) return false;
    Zip64Locator locator;
    if (at >= sizeof locator && ReadAt(file, at - sizeof locator, &locator, sizeof locator) &&
        IsSignature(locator.signature, 6, 7)) {
        // The ZIP64 end record lies right before its locator; its own offset may count
        // from the archive's start, so it is looked for where it must be.
        const uint64_t locatorAt = at - sizeof locator;
        if (locatorAt < sizeof z || !ReadAt(file, locatorAt - sizeof z, &z, sizeof z) || !IsSignature(z.signature, 6, 6) ||
            z.recordSize != sizeof z - 12 || locator.disks > 1)
            return false;
        recordStart = locatorAt - sizeof z;
    } else {
        if (e.offset == kEscape32) return false;  // a ZIP64 archive whose ZIP64 records are missing
        z.disk = e.disk;
        z.centralDisk = e.centralDisk;
        z.entries = e.entries;
        z.size = e.size;
        z.offset = e.offset;
        recordStart = at;
    }
    return z.disk == 0 && z.centralDisk == 0;
}

}  // namespace

[[gnu::noinline]] bool FindCentralDirectory(ZipReader& reader) {
    FILE* file = reader.archive;
    if (reader.end == 0) {
        const int64_t length = LengthOf(file);
        if (length < 0) return false;
        reader.end = uint64_t(length);
    }
    uint64_t endRecord, start;
    Zip64EndRecord d;
    if (!FindEndRecord(file, reader.end, endRecord) || !ReadDirectory(file, endRecord, d, start)) return false;
    const uint64_t size = d.size, offset = d.offset;
    if (offset == 0) return false;
    // Where the directory must begin if its size is right; otherwise the first record
    // from the stated offset on.
    uint64_t first = start;
    if (size <= start && SignatureAt(file, start - size, 1, 2)) {
        first = start - size;
    } else if (offset < start) {
        first = FindSignature(file, offset, start, 1, 2);
    }
    if (first == start) {
        // No central record: an empty archive has nothing to extract, any other has lost
        // its directory.
        if (d.entries != 0) return false;
        first = 0;
    }
    reader.centralStart = reader.centralCursor = first;
    reader.centralEnd = start;
    return SeekTo(file, 0);
}

int NextEntry(ZipReader& reader, EntryRecord& entry) {
    FILE* file = reader.archive;
    char stored[kUtf8NameSize];  // the stored name and a Unicode Path field's name
    const int64_t start = PositionOf(file);
    if (start < 0 || reader.centralStart < kScanMargin) return 0;
    const uint64_t limit = reader.centralStart - kScanMargin + 4;
    for (uint64_t candidate = uint64_t(start);; ++candidate) {
        candidate = FindSignature(file, candidate, limit, 3, 4);
        if (candidate == limit || !SeekTo(file, candidate + 4)) return 0;
        reader.entryStart = candidate;
        if (ParseLocalHeader(reader, entry, stored)) return 1;
    }
}

bool CentralRecordsLeft(ZipReader& reader) {
    return reader.centralCursor != 0 &&
           FindSignature(reader.archive, reader.centralCursor, reader.centralEnd, 1, 2) != reader.centralEnd;
}
