// Helpers for the mksfx tests: a scratch folder, running mksfx and the Info-ZIP tools as
// processes, a minimal PE image to stand in for the stub, a small writer of stored ZIP
// archives (for layouts the archivers will not make), and an independent reading of
// the end record and central directory of a finished file.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/config_block.h"
#include "zip_fixtures.h"

namespace mksfx_test {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

// ---- files --------------------------------------------------------------------------

inline Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline void WriteText(const std::string& path, const std::string& text) {
    WriteBytes(path, Bytes(text.begin(), text.end()));
}

inline Bytes Concat(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

inline uint32_t Crc32(const Bytes& bytes) {
    return uint32_t(crc32(0L, bytes.data(), uInt(bytes.size())));
}
inline uint32_t Crc32(const std::string& text) { return Crc32(Bytes(text.begin(), text.end())); }

inline uint32_t Get16(const Bytes& b, size_t at) { return b[at] | b[at + 1] << 8; }
inline uint32_t Get32(const Bytes& b, size_t at) { return Get16(b, at) | uint32_t(Get16(b, at + 2)) << 16; }
inline uint64_t Get64(const Bytes& b, size_t at) { return Get32(b, at) | uint64_t(Get32(b, at + 4)) << 32; }

// A fresh folder under $TMPDIR, removed with its contents at the end of the test.
class Scratch {
  public:
    Scratch() {
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/mksfx-XXXXXX";
        if (mkdtemp(pattern.data())) path_ = pattern;
        else ADD_FAILURE() << "mkdtemp " << pattern;
    }
    ~Scratch() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

    // The names in the folder, sorted.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

  private:
    std::string path_;
};

// ---- processes ----------------------------------------------------------------------

struct ProcessResult {
    int exitCode = -1;
    std::string out, err;

    // stderr's lines.
    std::vector<std::string> ErrLines() const {
        std::vector<std::string> lines;
        std::istringstream in(err);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
};

inline std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs `program` with `args` (and `environment`, "NAME=value" each), capturing stdout
// and stderr in files of `scratch`.
inline ProcessResult RunProgram(const Scratch& scratch, const std::string& program, const std::vector<std::string>& args,
                                const std::vector<std::string>& environment = {}) {
    std::string command = "env";
    for (const std::string& e : environment) command += " " + ShellQuote(e);
    command += " " + ShellQuote(program);
    for (const std::string& a : args) command += " " + ShellQuote(a);
    const std::string out = scratch / ".run-out", err = scratch / ".run-err";
    command += " >" + ShellQuote(out) + " 2>" + ShellQuote(err) + " </dev/null";
    const int status = system(command.c_str());
    ProcessResult run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const Bytes o = ReadBytes(out), e = ReadBytes(err);
    run.out.assign(o.begin(), o.end());
    run.err.assign(e.begin(), e.end());
    fs::remove(out);
    fs::remove(err);
    return run;
}

inline ProcessResult Mksfx(const Scratch& scratch, const std::vector<std::string>& args,
                           const std::vector<std::string>& environment = {}) {
    return RunProgram(scratch, DUDORE_MKSFX, args, environment);
}

inline bool HaveTool(const char* name) {
    return system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command inside the scratch folder; its exit status.
inline int Shell(const Scratch& scratch, const std::string& command) {
    const int status = system(("cd " + ShellQuote(scratch.path()) + " && { " + command + "; } >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ---- a stand-in stub image ----------------------------------------------------------

struct FakeStubPlan {
    std::vector<std::string> sections = {".text", ".data", ".rsrc"};
    size_t trailingBytes = 0;  // data behind the last section's raw data
    bool pe = true;            // false: an MZ file without a PE header
    Bytes code;                // placed at the start of the first section's raw data
};

// A minimal PE32 image: headers in the first 0x200 bytes, then 0x200 raw bytes per section.
inline Bytes FakeStub(const FakeStubPlan& plan = {}) {
    constexpr size_t kPe = 0x80, kOptionalHeaderSize = 224, kRaw = 0x200;
    Bytes image(kRaw, 0);
    image[0] = 'M';
    image[1] = 'Z';
    if (plan.pe) {
        image[0x3C] = uint8_t(kPe);
        memcpy(&image[kPe], "PE\0\0", 4);
        image[kPe + 4] = 0x4C;  // i386
        image[kPe + 5] = 0x01;
        image[kPe + 6] = uint8_t(plan.sections.size());
        image[kPe + 20] = uint8_t(kOptionalHeaderSize);
        image[kPe + 24] = 0x0B;  // PE32
        image[kPe + 25] = 0x01;
        for (size_t i = 0; i < plan.sections.size(); ++i) {
            uint8_t* h = &image[kPe + 24 + kOptionalHeaderSize + 40 * i];
            memcpy(h, plan.sections[i].data(), std::min<size_t>(8, plan.sections[i].size()));
            const uint32_t raw = uint32_t(kRaw * (i + 1));
            for (int k = 0; k < 4; ++k) {
                h[16 + k] = uint8_t(kRaw >> (8 * k));  // size of raw data
                h[20 + k] = uint8_t(raw >> (8 * k));   // pointer to raw data
            }
        }
    }
    image.resize(kRaw * (1 + plan.sections.size()), 0xCC);
    if (!plan.sections.empty()) std::copy(plan.code.begin(), plan.code.end(), image.begin() + kRaw);
    image.resize(image.size() + plan.trailingBytes, 0x5A);
    return image;
}

// ---- stored ZIP archives written by hand --------------------------------------------

struct ZipEntryPlan {
    std::string name;
    std::string data;
    uint16_t method = 0;  // as declared; the data is always stored as given
    uint32_t externalAttributes = 0x20;
};

struct ZipPlan {
    std::vector<ZipEntryPlan> entries;
    Bytes prefix;                        // bytes in front of the archive
    bool offsetsFromFileStart = false;   // false: from the archive's own start
    bool zip64 = false;                  // ZIP64 end records; the end record says all ones
    bool zip64Extras = false;            // local offsets in ZIP64 extra fields, all ones in the records
};

inline Bytes MakeZip(const ZipPlan& plan) {
    fixtures::HandArchive archive{.zip64End = plan.zip64,
                                  .prefix = std::string(plan.prefix.begin(), plan.prefix.end()),
                                  .offsetsFromArchive = !plan.offsetsFromFileStart};
    for (const ZipEntryPlan& e : plan.entries)
        archive.entries.push_back({.name = e.name, .data = e.data, .method = e.method, .attributes = e.externalAttributes});
    return fixtures::HandArchiveBytes(archive);
}

// ---- reading a finished file --------------------------------------------------------

// The length of a self-extracting file of `length` bytes once aligned for a signature.
inline size_t Aligned(size_t length) { return (length + 7) / 8 * 8; }

// Signing a file built on FakeStub: zeros to a multiple of 8, then a certificate table
// (that begins with `inside`, when given).
inline Bytes FakeSigned(Bytes file, const Bytes& inside = {}) {
    constexpr size_t kDirectories = 0x80 + 24 + 96, kTableSize = 0x5A8;
    file.resize(Aligned(file.size()), 0);
    const uint32_t fields[] = {16, uint32_t(file.size()), uint32_t(kTableSize)};  // count, then directory 4
    const size_t at[] = {kDirectories - 4, kDirectories + 32, kDirectories + 36};
    for (size_t i = 0; i < 3; ++i)
        for (size_t k = 0; k < 4; ++k) file[at[i] + k] = uint8_t(fields[i] >> (8 * k));
    const size_t table = file.size();
    file.resize(table + kTableSize, 0xA5);
    std::copy(inside.begin(), inside.end(), file.begin() + table);
    return file;
}

// The block of a self-extracting file whose stub image was `stubSize` bytes.
inline ConfigBlock BlockAt(const Bytes& file, size_t stubSize) {
    ConfigBlock block{};
    if (file.size() >= stubSize + sizeof block) memcpy(&block, &file[stubSize], sizeof block);
    return block;
}

// The central directory offset stored in the end record nearest the end of `file`, and
// the local header offsets of the central records it points at. Empty when the stored
// offsets do not lead to central records: the layout the archivers rely on.
struct CentralFields {
    std::string name;
    uint32_t flags, method, dosTime, externalAttributes;
};

struct StoredOffsets {
    bool endRecordFound = false;
    uint64_t centralOffset = 0;
    std::vector<uint64_t> localOffsets;
    std::vector<CentralFields> records;  // in the same order
};

inline StoredOffsets ReadStoredOffsets(const Bytes& file) {
    StoredOffsets result;
    if (file.size() < 22) return result;
    size_t end = file.size() - 22;
    while (end > 0 && memcmp(&file[end], "PK\5\6", 4) != 0) --end;
    if (memcmp(&file[end], "PK\5\6", 4) != 0) return result;
    result.endRecordFound = true;
    result.centralOffset = Get32(file, end + 16);
    const uint32_t count = Get16(file, end + 10);
    if (result.centralOffset == 0xFFFFFFFF && end >= 20 && memcmp(&file[end - 20], "PK\6\7", 4) == 0) {
        const uint64_t record = Get64(file, end - 20 + 8);
        if (record + 56 > file.size() || memcmp(&file[record], "PK\6\6", 4) != 0) return result;
        result.centralOffset = Get64(file, record + 48);
    }
    size_t at = size_t(result.centralOffset);
    for (uint32_t i = 0; i < count; ++i) {
        if (at + 46 > file.size() || memcmp(&file[at], "PK\1\2", 4) != 0) break;
        uint64_t local = Get32(file, at + 42);
        // In a ZIP64 extra field, the offset follows the sizes whose fields hold all ones.
        const size_t extra = at + 46 + Get16(file, at + 28);
        const size_t sizesFirst = 8 * ((Get32(file, at + 20) == 0xFFFFFFFF) + (Get32(file, at + 24) == 0xFFFFFFFF));
        if (local == 0xFFFFFFFF && Get16(file, at + 30) >= 12 && Get16(file, extra) == 1)
            local = Get64(file, extra + 4 + sizesFirst);
        result.localOffsets.push_back(local);
        const std::string name(file.begin() + long(at) + 46, file.begin() + long(at) + 46 + Get16(file, at + 28));
        result.records.push_back({name, Get16(file, at + 8), Get16(file, at + 10), Get32(file, at + 12),
                                  Get32(file, at + 38)});
        at += 46 + Get16(file, at + 28) + Get16(file, at + 30) + Get16(file, at + 32);
    }
    return result;
}

inline bool HasLocalHeaderAt(const Bytes& file, uint64_t offset) {
    return offset + 4 <= file.size() && memcmp(&file[offset], "PK\3\4", 4) == 0;
}

// The built stub images named in DUDORE_STUB_IMAGES (':'-separated), when set.
inline std::vector<std::string> StubImagesFromEnvironment() {
    std::vector<std::string> paths;
    const char* list = getenv("DUDORE_STUB_IMAGES");
    if (!list) return paths;
    std::istringstream in(list);
    for (std::string path; std::getline(in, path, ':');)
        if (!path.empty()) paths.push_back(path);
    return paths;
}

}  // namespace mksfx_test
