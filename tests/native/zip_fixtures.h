// Helpers shared by the reader and decryption tests: scratch folders, running the
// archivers that make test archives, reading an archive the way the extraction loop
// does, zipinfo's account of the same archive, and little-endian byte patching.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>

#include <algorithm>
#include <string>
#include <vector>

#include <zlib.h>

#include <gtest/gtest.h>

#include "archive/crc32.h"
#include "archive/zip_reader.h"

namespace fixtures {

using Bytes = std::vector<uint8_t>;

// ---- files and tools ----------------------------------------------------------

// A fresh folder under $TMPDIR, removed with its contents when the test ends.
class ScratchDir {
public:
    ScratchDir() {
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/dudore-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back(0);
        if (mkdtemp(buffer.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp " << pattern;
            return;
        }
        path_ = buffer.data();
    }
    ~ScratchDir() {
        if (!path_.empty()) (void)!system(("rm -rf '" + path_ + "'").c_str());
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline bool HaveTool(const char* name) {
    return system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs `command` with /bin/sh inside `dir`; its exit status.
inline int Shell(const std::string& dir, const std::string& command) {
    const int status = system(("cd '" + dir + "' && { " + command + "; } >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Standard output of `command`, run inside `dir`.
inline std::string ShellOutput(const std::string& dir, const std::string& command) {
    std::string out;
    FILE* pipe = popen(("cd '" + dir + "' && " + command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
    pclose(pipe);
    return out;
}

inline Bytes ReadBytes(const std::string& path) {
    Bytes bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) {
        ADD_FAILURE() << "cannot open " << path;
        return bytes;
    }
    uint8_t buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
    fclose(file);
    return bytes;
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    fclose(file);
}

inline void WriteText(const std::string& path, const std::string& text) {
    WriteBytes(path, Bytes(text.begin(), text.end()));
}

// Deterministic filler (xorshift), optionally without any 'P' so that it can never
// hold a signature.
inline Bytes PseudoRandomBytes(size_t size, uint32_t seed, bool withoutP = false) {
    Bytes bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x >> 11);
        if (withoutP && b == 'P') b = 'Q';
    }
    return bytes;
}

// ---- little-endian access -------------------------------------------------------

inline uint32_t Get16(const Bytes& b, size_t at) { return b.at(at) | b.at(at + 1) << 8; }
inline uint32_t Get32(const Bytes& b, size_t at) { return Get16(b, at) | Get16(b, at + 2) << 16; }
inline void Put16(Bytes& b, size_t at, uint32_t v) {
    b.at(at) = uint8_t(v);
    b.at(at + 1) = uint8_t(v >> 8);
}
inline void Put32(Bytes& b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}
inline void Append16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void Append32(Bytes& b, uint32_t v) {
    Append16(b, v & 0xFFFF);
    Append16(b, v >> 16);
}
inline void AppendText(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

inline void Append64(Bytes& b, uint64_t v) {
    Append32(b, uint32_t(v));
    Append32(b, uint32_t(v >> 32));
}

// ---- hand-built archives --------------------------------------------------------
// Laid out byte by byte as the format has it, with the fields tests vary as members. A
// stretch of zeros (a hole) may stand in front of the archive or behind an entry's data:
// written as a sparse file, offsets and sizes past 4 GiB cost no disk.

struct HandEntry {
    std::string name;
    std::string data;           // stored as given, then `hole` zeros
    uint64_t hole = 0;
    uint16_t method = 0, flags = 0;
    uint32_t attributes = 0x20;
    bool zip64 = false;         // sizes and offset escaped into ZIP64 extra fields
    bool zip64Offset = true;    // with zip64; false: the central field holds the sizes only
    std::string localExtra, centralExtra;  // further extra fields, as stored
    uint32_t crc = 0;           // of data and hole; WriteHandArchive fills it in
};

struct HandArchive {
    uint64_t hole = 0;          // zeros in front of the archive
    std::vector<HandEntry> entries;
    bool zip64End = false;      // ZIP64 end records, the end record's fields escaped
    std::string afterDirectory; // bytes between the central directory and the end records
    std::string prefix;         // bytes behind the hole, in front of the archive
    bool offsetsFromArchive = false;  // offsets count from behind the prefix, not the file's start
};

// An extra field of `tag` holding `data`.
inline std::string ExtraField(uint16_t tag, const std::string& data) {
    Bytes b;
    Append16(b, tag), Append16(b, uint32_t(data.size()));
    AppendText(b, data);
    return std::string(b.begin(), b.end());
}

// Writes `a` to `file` (sparse where it has holes); returns where its central directory begins.
inline uint64_t WriteHandArchive(FILE* file, HandArchive& a) {
    uint64_t at = a.hole;
    Bytes central, chunk(a.prefix.begin(), a.prefix.end());
    const uint64_t base = a.offsetsFromArchive ? a.hole + a.prefix.size() : 0;
    auto emit = [&](const Bytes& bytes, uint64_t hole) {
        fseeko(file, off_t(at), SEEK_SET);
        fwrite(bytes.data(), 1, bytes.size(), file);
        at += bytes.size() + hole;
    };
    auto escaped = [](bool zip64, uint64_t v) { return zip64 ? 0xFFFFFFFFu : uint32_t(v); };
    emit(chunk, 0);  // the prefix
    for (HandEntry& e : a.entries) {
        static const Bytes kZeros(1 << 20);
        uLong crc = crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), uInt(e.data.size()));
        for (uint64_t left = e.hole; left > 0; left -= std::min<uint64_t>(left, kZeros.size()))
            crc = crc32(crc, kZeros.data(), uInt(std::min<uint64_t>(left, kZeros.size())));
        e.crc = uint32_t(crc);
        const uint64_t size = e.data.size() + e.hole, offset = at - base;
        Bytes sizes;
        Append64(sizes, size), Append64(sizes, size);
        const std::string localExtra = (e.zip64 ? ExtraField(1, std::string(sizes.begin(), sizes.end())) : "") + e.localExtra;
        chunk = {'P', 'K', 3, 4};
        Append16(chunk, 45), Append16(chunk, e.flags), Append16(chunk, e.method), Append32(chunk, 0x5A6B3C00);
        Append32(chunk, e.crc), Append32(chunk, escaped(e.zip64, size)), Append32(chunk, escaped(e.zip64, size));
        Append16(chunk, uint32_t(e.name.size())), Append16(chunk, uint32_t(localExtra.size()));
        AppendText(chunk, e.name), AppendText(chunk, localExtra), AppendText(chunk, e.data);
        emit(chunk, e.hole);
        const bool offsetEscaped = e.zip64 && e.zip64Offset;
        if (offsetEscaped) Append64(sizes, offset);
        const std::string centralExtra = (e.zip64 ? ExtraField(1, std::string(sizes.begin(), sizes.end())) : "") + e.centralExtra;
        central.insert(central.end(), {'P', 'K', 1, 2});
        Append16(central, 45), Append16(central, 45), Append16(central, e.flags), Append16(central, e.method);
        Append32(central, 0x5A6B3C00), Append32(central, e.crc);
        Append32(central, escaped(e.zip64, size)), Append32(central, escaped(e.zip64, size));
        Append16(central, uint32_t(e.name.size())), Append16(central, uint32_t(centralExtra.size()));
        Append16(central, 0), Append16(central, 0), Append16(central, 0), Append32(central, e.attributes);
        Append32(central, escaped(offsetEscaped, offset));
        AppendText(central, e.name), AppendText(central, centralExtra);
    }
    const uint64_t directory = at - base, count = a.entries.size();
    AppendText(central, a.afterDirectory);
    emit(central, 0);
    chunk.clear();
    if (a.zip64End) {
        const uint64_t record = at - base;
        chunk = {'P', 'K', 6, 6};
        Append64(chunk, 44), Append16(chunk, 45), Append16(chunk, 45), Append32(chunk, 0), Append32(chunk, 0);
        Append64(chunk, count), Append64(chunk, count), Append64(chunk, central.size()), Append64(chunk, directory);
        chunk.insert(chunk.end(), {'P', 'K', 6, 7});
        Append32(chunk, 0), Append64(chunk, record), Append32(chunk, 1);
    }
    chunk.insert(chunk.end(), {'P', 'K', 5, 6});
    Append32(chunk, 0), Append16(chunk, escaped(a.zip64End, count) & 0xFFFF), Append16(chunk, escaped(a.zip64End, count) & 0xFFFF);
    Append32(chunk, escaped(a.zip64End, central.size())), Append32(chunk, escaped(a.zip64End, directory)), Append16(chunk, 0);
    emit(chunk, 0);
    return directory + base;
}

inline uint64_t WriteHandArchive(const std::string& path, HandArchive& a) {
    FILE* file = fopen(path.c_str(), "wb");
    EXPECT_NE(file, nullptr) << path;
    if (!file) return 0;
    const uint64_t directory = WriteHandArchive(file, a);
    fclose(file);
    return directory;
}

// The archive's bytes (without holes of any size).
inline Bytes HandArchiveBytes(HandArchive a) {
    FILE* file = tmpfile();
    WriteHandArchive(file, a);
    Bytes bytes(size_t(ftello(file)));
    rewind(file);
    bytes.resize(fread(bytes.data(), 1, bytes.size(), file));
    fclose(file);
    return bytes;
}

// Offsets of every occurrence of "PK" a b.
inline std::vector<size_t> FindSignatures(const Bytes& b, uint8_t a, uint8_t c) {
    std::vector<size_t> at;
    for (size_t i = 0; i + 4 <= b.size(); ++i)
        if (b[i] == 'P' && b[i + 1] == 'K' && b[i + 2] == a && b[i + 3] == c) at.push_back(i);
    return at;
}

// Field offsets inside the records, counted from the signature.
namespace local {
constexpr size_t kFlags = 6, kMethod = 8, kCrc = 14, kCompressed = 18, kUncompressed = 22,
                 kNameLength = 26, kExtraLength = 28, kName = 30;
}
namespace central {
constexpr size_t kFlags = 8, kTime = 12, kCrc = 16, kCompressed = 20, kUncompressed = 24,
                 kExternal = 38;
}

// ---- reading as the extraction loop does -----------------------------------------

struct ScannedEntry {
    EntryRecord entry;
    long dataStart;
    CentralRecord central;  // the reader's Central record right after this entry
};

struct Scan {
    int64_t centralOffset = 0;  // where the reader takes the central directory to begin; 0: none
    std::vector<ScannedEntry> entries;
    bool recordsLeft = false;  // a central record matched no entry handed out
};

// Finds the central directory, then takes entry after entry, moving from each entry's
// data start over its compressed size. The walk stops (with a test failure) if it ever
// fails to move forward.
// The scan starts at `start` (past a hole in a sparse archive, where nothing lies).
inline Scan ScanFile(FILE* file, uint64_t start = 0) {
    Scan scan;
    BuildCrcTable();
    ZipReader reader{};
    reader.archive = file;
    if (!FindCentralDirectory(reader)) return scan;
    scan.centralOffset = int64_t(reader.centralStart);
    EXPECT_EQ(ftell(file), 0) << "the end-record search leaves the file at offset 0";
    fseeko(file, off_t(start), SEEK_SET);
    EntryRecord entry;
    long previous = -1;
    while (NextEntry(reader, entry)) {
        const long dataStart = ftell(file);
        if (dataStart <= previous) {
            ADD_FAILURE() << "the entry walk went backwards at " << dataStart;
            break;
        }
        previous = dataStart;
        scan.entries.push_back({entry, dataStart, reader.central});
        fseek(file, dataStart + long(entry.compressedSize), SEEK_SET);
    }
    scan.recordsLeft = CentralRecordsLeft(reader);
    return scan;
}

inline Scan ScanPath(const std::string& path, uint64_t start = 0) {
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) {
        ADD_FAILURE() << "cannot open " << path;
        return {};
    }
    Scan scan = ScanFile(file, start);
    fclose(file);
    return scan;
}

inline Scan ScanBytes(const Bytes& bytes) {
    FILE* file = tmpfile();
    if (!file) {
        ADD_FAILURE() << "tmpfile";
        return {};
    }
    fwrite(bytes.data(), 1, bytes.size(), file);
    fflush(file);
    rewind(file);
    Scan scan = ScanFile(file);
    fclose(file);
    return scan;
}

inline std::vector<std::string> Names(const Scan& scan) {
    std::vector<std::string> names;
    for (const auto& e : scan.entries) names.push_back(e.entry.name);
    return names;
}

// ---- zipinfo's account ---------------------------------------------------------

struct ListedEntry {
    std::string name;
    long localHeaderOffset = -1;  // from the archive's start, as zipinfo counts it
    uint32_t versionNeeded = 0;   // 10 * major + minor
    int method = -1;
    bool encrypted = false;
    bool dataDescriptor = false;
    uint32_t dosDateTime = 0;     // date in the high half
    uint32_t crc32 = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint32_t nameLength = 0;
    uint32_t dosAttributes = 0;   // low byte of the external attributes
};

struct Listing {
    long centralOffset = -1;      // as the end record states it
    long shift = 0;               // bytes in front of the archive that its offsets ignore
    std::vector<ListedEntry> entries;
};

namespace detail {
inline bool After(const std::string& line, const char* key, std::string& value) {
    const size_t at = line.find(key);
    if (at == std::string::npos) return false;
    size_t start = at + strlen(key);
    while (start < line.size() && line[start] == ' ') ++start;
    value = line.substr(start);
    return true;
}
inline int MethodFromText(const std::string& text) {
    static const struct { const char* text; int method; } kMethods[] = {
        {"none (stored)", 0}, {"shrunk", 1}, {"reduced (factor 1)", 2}, {"reduced (factor 2)", 3},
        {"reduced (factor 3)", 4}, {"reduced (factor 4)", 5}, {"imploded", 6},
        {"deflated (enhanced-64k)", 9}, {"deflated", 8},
    };
    for (const auto& m : kMethods)
        if (text.rfind(m.text, 0) == 0) return m.method;
    if (text.rfind("unknown (", 0) == 0) return atoi(text.c_str() + 9);
    return -1;
}
inline uint32_t DosDateTimeFromText(const std::string& text) {
    static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int year = 0, day = 0, hour = 0, minute = 0, second = 0;
    char month[4] = {};
    if (sscanf(text.c_str(), "%d %3s %d %d:%d:%d", &year, month, &day, &hour, &minute, &second) != 6)
        return 0;
    int m = 0;
    while (m < 12 && strcmp(kMonths[m], month) != 0) ++m;
    const uint32_t date = uint32_t(year - 1980) << 9 | uint32_t(m + 1) << 5 | uint32_t(day);
    const uint32_t time = uint32_t(hour) << 11 | uint32_t(minute) << 5 | uint32_t(second / 2);
    return date << 16 | time;
}
}  // namespace detail

// zipinfo -v, parsed: what Info-ZIP reads from the central directory.
inline Listing RunZipinfo(const std::string& path) {
    Listing listing;
    const std::string text = ShellOutput("/", "zipinfo -v '" + path + "'");
    long actualEnd = -1, expectedEnd = -1;
    ListedEntry* entry = nullptr;
    bool wantName = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        std::string v;
        if (line.rfind("Central directory entry #", 0) == 0) {
            listing.entries.emplace_back();
            entry = &listing.entries.back();
            wantName = true;
            continue;
        }
        if (entry == nullptr) {
            if (detail::After(line, "Actual end-cent-dir record offset:", v)) actualEnd = atol(v.c_str());
            if (detail::After(line, "Expected end-cent-dir record offset:", v)) expectedEnd = atol(v.c_str());
            if (line.find("offset in bytes from the beginning of the zipfile") != std::string::npos) {
                // the number is on the next line: "  is 5194 (...)."
                size_t next = text.find('\n', pos);
                if (next == std::string::npos) next = text.size();
                const std::string numberLine = text.substr(pos, next - pos);
                const size_t is = numberLine.find("is ");
                if (is != std::string::npos) listing.centralOffset = atol(numberLine.c_str() + is + 3);
            }
            continue;
        }
        if (wantName) {
            if (line.empty() || line[0] == '-' || line.find("There are an extra") != std::string::npos) continue;
            entry->name = line.substr(2);
            wantName = false;
            continue;
        }
        if (detail::After(line, "offset of local header from start of archive:", v))
            entry->localHeaderOffset = atol(v.c_str());
        else if (detail::After(line, "minimum software version required to extract:", v))
            entry->versionNeeded = uint32_t(atoi(v.c_str()) * 10 + atoi(v.c_str() + v.find('.') + 1));
        else if (detail::After(line, "compression method:", v))
            entry->method = detail::MethodFromText(v);
        else if (detail::After(line, "file security status:", v))
            entry->encrypted = v.rfind("encrypted", 0) == 0;
        else if (detail::After(line, "extended local header:", v))
            entry->dataDescriptor = v.rfind("yes", 0) == 0;
        else if (detail::After(line, "file last modified on (DOS date/time):", v))
            entry->dosDateTime = detail::DosDateTimeFromText(v);
        else if (detail::After(line, "32-bit CRC value (hex):", v))
            entry->crc32 = uint32_t(strtoul(v.c_str(), nullptr, 16));
        else if (detail::After(line, "  compressed size:", v))
            entry->compressedSize = uint32_t(strtoul(v.c_str(), nullptr, 10));
        else if (detail::After(line, "uncompressed size:", v))
            entry->uncompressedSize = uint32_t(strtoul(v.c_str(), nullptr, 10));
        else if (detail::After(line, "length of filename:", v))
            entry->nameLength = uint32_t(atoi(v.c_str()));
        else if (detail::After(line, "MS-DOS file attributes (", v))
            entry->dosAttributes = uint32_t(strtoul(v.c_str(), nullptr, 16));
    }
    if (actualEnd >= 0 && expectedEnd >= 0) listing.shift = actualEnd - expectedEnd;
    return listing;
}

}  // namespace fixtures
