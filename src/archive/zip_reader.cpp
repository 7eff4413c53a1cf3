// ZIP structure reader. See zip_reader.h for the search strategy.
//
// Three places go beyond a literal reading of the format's layout because real files
// need it: the end-record search overlaps its windows so that a signature straddling two
// of them is still found; an entry whose sizes follow its data (flag bit 3) takes its
// CRC-32 and sizes from the central record, since writers may leave placeholders in the
// local header; and an empty local date-time is taken from the central record.
#include "archive/zip_reader.h"

#include <string.h>

namespace {

constexpr size_t kEndWindow = 256;
constexpr size_t kEndOffsetField = 16;  // central directory offset, from the signature
constexpr size_t kLocalHeaderSize = 26;
constexpr size_t kCentralHeaderSize = 42;
constexpr size_t kScratchSize = 2048;
constexpr uint32_t kMaxStoredName = 260;
constexpr size_t kScanOverlap = 20;  // a window's last bytes start the next window

// Fields are little-endian, as the machines we build for are: one load each.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);
uint32_t Read32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

bool IsSignature(const uint8_t* p, uint8_t a, uint8_t b) {
    return p[0] == 'P' && p[1] == 'K' && p[2] == a && p[3] == b;
}

long FileLength(FILE* file) {
    if (fseek(file, 0, SEEK_END) != 0) return -1;
    return ftell(file);
}

// Reads `size` bytes from the current position and drops them. False if the file ends.
bool SkipBytes(FILE* file, uint32_t size) {
    uint8_t scratch[kScratchSize];
    while (size > 0) {
        const size_t chunk = size < sizeof scratch ? size : sizeof scratch;
        if (fread(scratch, 1, chunk, file) != chunk) return false;
        size -= uint32_t(chunk);
    }
    return true;
}

// Reads forward from the cursor to the next "PK\1\2" and the 42 bytes behind it.
// Returns the attributes byte, or 0 (and the cursor becomes 0) when none is left.
uint32_t MatchCentralRecord(ZipReader& reader, EntryRecord& entry) {
    if (reader.centralCursor == 0) return 0;
    FILE* file = reader.archive;
    if (fseek(file, reader.centralCursor, SEEK_SET) != 0) {
        reader.centralCursor = 0;
        return 0;
    }
    // The signature is stored inverted: the stub's own image lies in front of the
    // archive, this search may start inside it, and a plain "PK\1\2" there would be
    // taken for a central record.
    static const uint8_t kInverted[4] = {uint8_t(~'P'), uint8_t(~'K'), uint8_t(~1), uint8_t(~2)};
    int matched = 0;
    while (matched < 4) {
        uint8_t c;
        if (fread(&c, 1, 1, file) != 1) break;
        if (c == uint8_t(~kInverted[matched])) {
            ++matched;
        } else {
            // The breaking byte may itself start a signature ("PPK\1\2").
            matched = c == 'P' ? 1 : 0;
        }
    }
    uint8_t h[kCentralHeaderSize];
    if (matched < 4 || fread(h, 1, sizeof h, file) != sizeof h) {
        reader.centralCursor = 0;
        return 0;
    }
    CentralRecord& c = reader.central;
    memcpy(&c, h, offsetof(CentralRecord, externalAttributes));
    c.externalAttributes = Read32(h + 34);
    c.localHeaderOffset = Read32(h + 38);

    if (entry.extraLength == 0) entry.extraLength = c.extraLength;
    if (entry.crc32 == 0) entry.crc32 = c.crc32;
    if (entry.compressedSize == 0) entry.compressedSize = c.compressedSize;
    if (entry.uncompressedSize == 0) entry.uncompressedSize = c.uncompressedSize;
    // No valid DOS date is 0: some streaming writers leave the local date-time empty.
    if (entry.DosDateTime() == 0) {
        entry.time = uint16_t(c.dosDateTime);
        entry.date = uint16_t(c.dosDateTime >> 16);
    }
    if (entry.flags & kFlagDataDescriptor) {
        entry.crc32 = c.crc32;
        entry.compressedSize = c.compressedSize;
        entry.uncompressedSize = c.uncompressedSize;
    }
    // The extra field and comment are not skipped: the next search passes over them.
    reader.centralCursor = int32_t(ftell(file) + long(c.nameLength));
    return c.externalAttributes & 0xF7;
}

// The file stands just after a "PK\3\4". True when the header is acceptable; the file is
// then back at the first byte of the entry's data.
bool ParseLocalHeader(ZipReader& reader, EntryRecord& entry) {
    FILE* file = reader.archive;
    uint8_t h[kLocalHeaderSize];
    if (fread(h, 1, sizeof h, file) != sizeof h) return false;
    // Three runs of fields lie in the record as in the header (little-endian, aligned).
    memcpy(&entry.versionNeeded, h, 10);
    memcpy(&entry.crc32, h + 10, 12);
    memcpy(&entry.nameLength, h + 22, 4);
    entry.attributes = 0;

    if (entry.method > 9 || entry.method == 7) return false;
    if (entry.nameLength > kMaxStoredName) return false;
    char name[kMaxStoredName];
    if (fread(name, 1, entry.nameLength, file) != entry.nameLength) return false;
    const size_t kept = entry.nameLength < kNameSize - 1 ? entry.nameLength : kNameSize - 1;
    memcpy(entry.name, name, kept);
    entry.name[kept] = 0;
    if (strlen(entry.name) != kept) return false;
    if (entry.extraLength != 0 && !SkipBytes(file, entry.extraLength)) return false;

    const long dataStart = ftell(file);
    entry.attributes = MatchCentralRecord(reader, entry);
    return fseek(file, dataStart, SEEK_SET) == 0;
}

}  // namespace

int32_t FindCentralDirectory(ZipReader& reader) {
    FILE* file = reader.archive;
    const long length = FileLength(file);
    if (length < 0) return 0;

    // Positions [low, high - 4] are examined in each pass, lowest first; the next pass ends
    // three bytes into this one, so every position is examined exactly once.
    uint8_t window[kEndWindow + kEndOffsetField];
    const long floor = length > long(kEndWindow) ? 0 : 20;
    long high = length;
    while (high - floor >= 4) {
        const long low = high - long(kEndWindow) > floor ? high - long(kEndWindow) : floor;
        if (fseek(file, low, SEEK_SET) != 0) return 0;
        const size_t wanted = size_t(high - low) + kEndOffsetField;
        const size_t count = fread(window, 1, wanted, file);
        if (count == 0) return 0;
        for (long p = 0; p + 4 <= high - low && size_t(p) + 4 <= count; ++p) {
            if (!IsSignature(window + p, 5, 6)) continue;
            if (size_t(p) + kEndOffsetField + 4 > count) continue;  // record cut off by the end
            const int32_t offset = int32_t(Read32(window + p + kEndOffsetField));
            fseek(file, 0, SEEK_SET);
            reader.centralCursor = offset;
            return offset;
        }
        if (low == floor) break;
        high = low + 3;
    }
    return 0;
}

int NextEntry(ZipReader& reader, EntryRecord& entry, uint8_t* window) {
    FILE* file = reader.archive;
    for (;;) {
        const long start = ftell(file);
        if (start < 0) return 0;
        memset(window, 0, kScanWindowSize);
        const size_t count = fread(window, 1, kScanWindowSize, file);
        if (count <= kScanOverlap) return 0;
        const long afterRead = start + long(count);
        for (size_t i = 0; i + kScanOverlap < count; ++i) {
            if (!IsSignature(window + i, 3, 4)) continue;
            if (fseek(file, start + long(i) + 4, SEEK_SET) != 0) return 0;
            if (ParseLocalHeader(reader, entry)) return 1;
            fseek(file, afterRead, SEEK_SET);
        }
        if (fseek(file, afterRead - long(kScanOverlap), SEEK_SET) != 0) return 0;
    }
}
