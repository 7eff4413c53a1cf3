// Helpers shared by the reader and decryption tests: scratch folders, running the
// archivers that make test archives, reading an archive the way the extraction loop
// does, zipinfo's account of the same archive, and little-endian byte patching.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>

#include <string>
#include <vector>

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
};

// Finds the central directory, then takes entry after entry, moving from each entry's
// data start over its compressed size. The walk stops (with a test failure) if it ever
// fails to move forward.
inline Scan ScanFile(FILE* file) {
    Scan scan;
    BuildCrcTable();
    ZipReader reader{};
    reader.archive = file;
    if (!FindCentralDirectory(reader)) return scan;
    scan.centralOffset = int64_t(reader.centralStart);
    EXPECT_EQ(ftell(file), 0) << "the end-record search leaves the file at offset 0";
    static uint8_t window[kScanWindowSize];
    EntryRecord entry;
    long previous = -1;
    while (NextEntry(reader, entry, window)) {
        const long dataStart = ftell(file);
        if (dataStart <= previous) {
            ADD_FAILURE() << "the entry walk went backwards at " << dataStart;
            break;
        }
        previous = dataStart;
        scan.entries.push_back({entry, dataStart, reader.central});
        fseek(file, dataStart + long(entry.compressedSize), SEEK_SET);
    }
    return scan;
}

inline Scan ScanPath(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) {
        ADD_FAILURE() << "cannot open " << path;
        return {};
    }
    Scan scan = ScanFile(file);
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
