// Archive layout from the end record and the central directory. See zip_layout.h.
#include "zip_layout.h"

#include <string.h>

#include "file_io.h"

namespace {

constexpr size_t kEndRecordSize = 22;
constexpr size_t kMaxCommentSize = 0xFFFF;
constexpr size_t kLocatorSize = 20;
constexpr size_t kZip64EndRecordSize = 56;  // without extensible data
constexpr size_t kCentralRecordSize = 46;
constexpr uint16_t kZip64ExtraId = 0x0001;

uint32_t Read16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t Read32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint64_t Read64(const uint8_t* p) { return Read32(p) | uint64_t(Read32(p + 4)) << 32; }
void Write32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void Write64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}

bool IsSignature(const uint8_t* p, uint8_t a, uint8_t b) {
    return p[0] == 'P' && p[1] == 'K' && p[2] == a && p[3] == b;
}

// The end record in `window` (the file's last bytes): the last one whose comment ends
// exactly at the end of the file, else the last one that fits at all.
bool FindEndRecord(const std::vector<uint8_t>& window, size_t& at) {
    if (window.size() < kEndRecordSize) return false;
    bool found = false;
    for (size_t i = window.size() - kEndRecordSize + 1; i-- > 0;) {
        if (!IsSignature(&window[i], 5, 6)) continue;
        if (i + kEndRecordSize + Read16(&window[i + 20]) == window.size()) {
            at = i;
            return true;
        }
        if (!found) at = i;
        found = true;
    }
    return found;
}

// The ZIP64 end record in front of its locator at `locator`: the one whose size field
// says it ends where the locator begins.
bool FindZip64EndRecord(const std::vector<uint8_t>& window, size_t locator, size_t& at) {
    for (size_t i = locator >= kZip64EndRecordSize ? locator - kZip64EndRecordSize + 1 : 0; i-- > 0;) {
        if (IsSignature(&window[i], 6, 6) && Read64(&window[i + 4]) + 12 == locator - i) {
            at = i;
            return true;
        }
    }
    return false;
}

// Where the local header offset of a record lies when it is kept in the ZIP64 extra:
// that field lists, in this order, the values whose 32-bit fields are all ones.
void FindZip64LocalOffset(const uint8_t* record, const uint8_t* extra, size_t extraLength, CentralEntry& entry,
                          size_t extraAt) {
    size_t p = 0;
    while (p + 4 <= extraLength) {
        const uint32_t id = Read16(extra + p), size = Read16(extra + p + 2);
        if (p + 4 + size > extraLength) return;
        if (id == kZip64ExtraId) {
            entry.zip64Extra = true;
            size_t field = p + 4;
            if (Read32(record + 24) == kZip64Marker32) field += 8;
            if (Read32(record + 20) == kZip64Marker32) field += 8;
            if (entry.storedLocalOffset == kZip64Marker32 && field + 8 <= p + 4 + size) {
                entry.localOffset = Read64(extra + field);
                entry.localOffsetField = extraAt + field;
                entry.localOffsetFieldSize = 8;
            }
            return;
        }
        p += 4 + size;
    }
}

bool ReadCentralDirectory(ZipLayout& layout, std::string& error) {
    const std::vector<uint8_t>& tail = layout.tail;
    const size_t end = size_t(layout.centralSize);
    size_t p = 0;
    while (p < end) {
        if (p + kCentralRecordSize > end || !IsSignature(&tail[p], 1, 2)) {
            error = "no central directory record at offset " + std::to_string(layout.tailStart + p) +
                    ", where the end record places the central directory";
            return false;
        }
        const uint8_t* r = &tail[p];
        const size_t nameLength = Read16(r + 28), extraLength = Read16(r + 30), commentLength = Read16(r + 32);
        const size_t next = p + kCentralRecordSize + nameLength + extraLength + commentLength;
        if (next > end) {
            error = "central directory record at offset " + std::to_string(layout.tailStart + p) +
                    " runs past the central directory";
            return false;
        }
        CentralEntry e{};
        e.position = layout.tailStart + p;
        e.flags = uint16_t(Read16(r + 8));
        e.method = uint16_t(Read16(r + 10));
        e.crc32 = Read32(r + 16);
        e.compressedSize = Read32(r + 20);
        e.uncompressedSize = Read32(r + 24);
        e.nameLength = uint16_t(nameLength);
        e.externalAttributes = Read32(r + 38);
        e.storedLocalOffset = Read32(r + 42);
        e.localOffset = e.storedLocalOffset;
        e.localOffsetField = p + 42;
        e.localOffsetFieldSize = 4;
        e.name.assign(reinterpret_cast<const char*>(r + kCentralRecordSize), nameLength);
        const size_t extraAt = p + kCentralRecordSize + nameLength;
        FindZip64LocalOffset(r, &tail[extraAt], extraLength, e, extraAt);
        layout.entries.push_back(e);
        p = next;
    }
    return true;
}

}  // namespace

bool ReadZipLayout(FILE* file, uint64_t fileSize, ZipLayout& layout, std::string& error) {
    layout = ZipLayout{};
    layout.fileSize = fileSize;
    const size_t windowSize = size_t(
        fileSize < kEndRecordSize + kMaxCommentSize + kLocatorSize + kZip64EndRecordSize + 256
            ? fileSize
            : kEndRecordSize + kMaxCommentSize + kLocatorSize + kZip64EndRecordSize + 256);
    const uint64_t windowStart = fileSize - windowSize;
    std::vector<uint8_t> window(windowSize);
    size_t end = 0;
    if (!ReadAt(file, windowStart, window.data(), window.size()) || !FindEndRecord(window, end)) {
        error = "not a ZIP archive: no end-of-central-directory record";
        return false;
    }
    layout.endRecord = windowStart + end;
    layout.storedCentralOffset = Read32(&window[end + 16]);
    layout.centralOffset = layout.storedCentralOffset;
    layout.centralSize = Read32(&window[end + 12]);
    uint64_t directoryEnd = layout.endRecord;  // the central directory ends here

    if (end >= kLocatorSize && IsSignature(&window[end - kLocatorSize], 6, 7)) {
        size_t zip64 = 0;
        if (!FindZip64EndRecord(window, end - kLocatorSize, zip64)) {
            error = "ZIP64 end-of-central-directory locator without its record";
            return false;
        }
        layout.zip64 = true;
        layout.zip64Locator = windowStart + end - kLocatorSize;
        layout.zip64EndRecord = windowStart + zip64;
        layout.centralSize = Read64(&window[zip64 + 40]);
        layout.centralOffset = Read64(&window[zip64 + 48]);
        directoryEnd = layout.zip64EndRecord;
    }
    if (layout.centralSize > directoryEnd) {
        error = "the end record gives a central directory larger than the archive";
        return false;
    }
    layout.centralStart = directoryEnd - layout.centralSize;
    layout.shift = int64_t(layout.centralStart) - int64_t(layout.centralOffset);

    layout.tailStart = layout.centralStart;
    layout.tail.resize(size_t(fileSize - layout.tailStart));
    if (!ReadAt(file, layout.tailStart, layout.tail.data(), layout.tail.size())) {
        error = "cannot read the central directory";
        return false;
    }
    return ReadCentralDirectory(layout, error);
}

// ---- Moving the offsets ------------------------------------------------------------

namespace {

// Writes `value` into a 4- or 8-byte field of the tail. False when it does not fit
// (a 32-bit field must stay below the all-ones ZIP64 marker).
bool WriteOffset(ZipLayout& layout, size_t at, size_t width, int64_t value) {
    if (value < 0) return false;
    if (width == 4) {
        if (uint64_t(value) >= kZip64Marker32) return false;
        Write32(&layout.tail[at], uint32_t(value));
    } else {
        Write64(&layout.tail[at], uint64_t(value));
    }
    return true;
}

}  // namespace

bool MoveOffsets(ZipLayout& layout, uint64_t prefixSize, std::string& error) {
    const int64_t prefix = int64_t(prefixSize);
    for (CentralEntry& e : layout.entries) {
        if (e.localOffsetFieldSize == 4 && e.storedLocalOffset == kZip64Marker32) continue;  // no ZIP64 value found
        const int64_t moved = int64_t(LocalHeaderPosition(layout, e)) + prefix;
        if (!WriteOffset(layout, e.localOffsetField, e.localOffsetFieldSize, moved)) {
            error = "the local header offset of \"" + e.name +
                    "\" passes 4 GiB once moved, and its record has no ZIP64 field for it (--keep-offsets "
                    "leaves the offsets as they are)";
            return false;
        }
    }
    const size_t end = size_t(layout.endRecord - layout.tailStart);
    const int64_t central = int64_t(layout.centralStart) + prefix;
    // Past 4 GiB the ZIP64 end record carries the offset, and the 32-bit field says so.
    const bool fits = uint64_t(central) < kZip64Marker32;
    if (layout.storedCentralOffset != kZip64Marker32 && fits) WriteOffset(layout, end + 16, 4, central);
    else if (layout.zip64) Write32(&layout.tail[end + 16], kZip64Marker32);
    if (!fits && !layout.zip64) {
        error = "the central directory passes 4 GiB once moved, and the archive has no ZIP64 end record for its "
                "offset (--keep-offsets leaves the offsets as they are)";
        return false;
    }
    if (layout.zip64) {
        WriteOffset(layout, size_t(layout.zip64EndRecord - layout.tailStart) + 48, 8, central);
        WriteOffset(layout, size_t(layout.zip64Locator - layout.tailStart) + 8, 8,
                    int64_t(layout.zip64EndRecord) + prefix);
    }
    return true;
}
