// The ZIP structure reader against archives that Info-ZIP zip writes during the test
// and against the peer archives, with zipinfo's reading of the same files as the
// oracle; then the rules for damaged and hostile input, on patched or hand-built files.
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/zip_reader.h"
#include "codecs/decode_entry.h"
#include "zip_fixtures.h"

using namespace fixtures;

namespace {

bool IsPrintableAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

// Inflates raw deflate data; false when zlib refuses it.
bool Inflate(const uint8_t* data, size_t size, Bytes& out) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    z.next_in = const_cast<uint8_t*>(data);
    z.avail_in = uInt(size);
    uint8_t buffer[65536];
    int status;
    do {
        z.next_out = buffer;
        z.avail_out = sizeof buffer;
        status = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), buffer, buffer + (sizeof buffer - z.avail_out));
    } while (status == Z_OK);
    inflateEnd(&z);
    return status == Z_STREAM_END;
}

// The entry's data, where the reader says it lies, decodes to its CRC-32 and size.
// Only stored and deflated entries without encryption can be checked this way.
void ExpectDataMatches(const Bytes& file, const ScannedEntry& s) {
    const EntryRecord& e = s.entry;
    if ((e.flags & kFlagEncrypted) || (e.method != 0 && e.method != 8)) return;
    ASSERT_LE(size_t(s.dataStart) + e.compressedSize, file.size()) << e.name;
    const uint8_t* data = file.data() + s.dataStart;
    Bytes plain;
    if (e.method == 0) {
        plain.assign(data, data + e.compressedSize);
    } else {
        ASSERT_TRUE(Inflate(data, e.compressedSize, plain)) << e.name;
    }
    EXPECT_EQ(plain.size(), e.uncompressedSize) << e.name;
    EXPECT_EQ(crc32(0, plain.data(), uInt(plain.size())), e.crc32) << e.name;
}

// Every entry the reader hands out agrees with zipinfo's account of the archive.
void ExpectAgreesWithZipinfo(const std::string& path, size_t expectedEntries) {
    const Listing listing = RunZipinfo(path);
    const Scan scan = ScanPath(path);
    const Bytes file = ReadBytes(path);
    ASSERT_EQ(listing.entries.size(), expectedEntries) << "zipinfo listing of " << path;
    EXPECT_EQ(scan.centralOffset, listing.centralOffset + listing.shift) << "where the directory really begins";
    ASSERT_EQ(scan.entries.size(), expectedEntries);
    for (size_t i = 0; i < expectedEntries; ++i) {
        const EntryRecord& e = scan.entries[i].entry;
        const ListedEntry& l = listing.entries[i];
        SCOPED_TRACE("entry " + std::to_string(i) + " " + l.name);
        if (IsPrintableAscii(l.name)) EXPECT_EQ(std::string(e.name), l.name);
        EXPECT_EQ(e.nameLength, l.nameLength);
        // A Unicode Path field replaces the stored name by its UTF-8 form.
        if (!e.utf8Name) EXPECT_EQ(strlen(e.name), l.nameLength);
        EXPECT_EQ(e.method, l.method);
        EXPECT_EQ(e.versionNeeded, l.versionNeeded);
        EXPECT_EQ((e.flags & kFlagEncrypted) != 0, l.encrypted);
        EXPECT_EQ((e.flags & kFlagDataDescriptor) != 0, l.dataDescriptor);
        EXPECT_EQ(e.DosDateTime(), l.dosDateTime);
        EXPECT_EQ(e.crc32, l.crc32);
        EXPECT_EQ(e.compressedSize, l.compressedSize);
        EXPECT_EQ(e.uncompressedSize, l.uncompressedSize);
        EXPECT_EQ(e.attributes, l.dosAttributes & 0xF7);
        // The data starts behind the local header that zipinfo's offset points at.
        const size_t header = size_t(l.localHeaderOffset + listing.shift);
        ASSERT_TRUE(header + 4 <= file.size() && memcmp(file.data() + header, "PK\3\4", 4) == 0) << "no local header there";
        const uint32_t localExtra = Get16(file, header + local::kExtraLength);
        EXPECT_EQ(scan.entries[i].dataStart, long(header + local::kName + l.nameLength + localExtra));
        if (localExtra != 0) EXPECT_EQ(e.extraLength, localExtra);
        ExpectDataMatches(file, scan.entries[i]);
    }
}

#define REQUIRE_TOOLS_OR_SKIP() \
    if (!HaveTool("zip") || !HaveTool("zipinfo")) GTEST_SKIP() << "needs zip and zipinfo"

// The files that the archives of these tests hold.
void MakeSourceTree(const ScratchDir& dir) {
    std::string text;
    for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i) + " of a compressible text\n";
    WriteText(dir / "text.txt", text);
    WriteBytes(dir / "random.bin", PseudoRandomBytes(70000, 7, true));
    WriteText(dir / "empty.txt", "");
    ASSERT_EQ(mkdir((dir / "folder").c_str(), 0755), 0);
    WriteText(dir / "folder/inner.txt", "inside the folder\n");
    WriteText(dir / "readonly.txt", "read only\n");
    ASSERT_EQ(chmod((dir / "readonly.txt").c_str(), 0444), 0);
}

const char kTreeFiles[] = "text.txt random.bin empty.txt folder readonly.txt";
constexpr size_t kTreeEntries = 6;  // folder/ and folder/inner.txt count as two

// ---- archives written by zip ------------------------------------------------------

TEST(ZipReader, EntriesAgreeWithZipinfo) {
    REQUIRE_TOOLS_OR_SKIP();
    const std::string files = kTreeFiles;
    const struct {
        const char* what;
        std::string command;
    } kCases[] = {
        {"plain", "zip -q -r out.zip " + files},
        {"data descriptors (-fd)", "zip -q -r -fd out.zip " + files},
        {"written to a pipe", "zip -q -r - " + files + " | cat > out.zip"},
        {"stored only", "zip -q -r -0 out.zip " + files},
        {"no extra fields", "zip -q -r -X out.zip " + files},
        {"best compression", "zip -q -r -9 out.zip " + files},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        MakeSourceTree(dir);
        ASSERT_EQ(Shell(dir.path(), c.command), 0);
        ExpectAgreesWithZipinfo(dir / "out.zip", kTreeEntries);
    }
}

// The end record moves down by the comment's length; from a 235-byte comment on, it
// no longer lies in the last 256 bytes, and around 250-260 its offset field and its
// signature fall on different sides of a 256-byte boundary.
TEST(ZipReader, ArchiveCommentsOfEveryCriticalLength) {
    REQUIRE_TOOLS_OR_SKIP();
    std::vector<size_t> lengths = {0, 1, 100, 233, 234, 235, 236, 237, 300, 509, 510, 511, 512, 4000, 65535};
    for (size_t n = 250; n <= 260; ++n) lengths.push_back(n);
    ScratchDir dir;
    WriteText(dir / "a.txt", "entry behind a commented end record\n");
    WriteText(dir / "b.txt", "second entry\n");
    for (size_t n : lengths) {
        SCOPED_TRACE("comment of " + std::to_string(n) + " bytes");
        ASSERT_EQ(Shell(dir.path(), "rm -f c.zip && zip -q c.zip a.txt b.txt"), 0);
        // A comment made of "-": no signature bytes, no line ends for zip to convert. zip
        // breaks lines longer than 255 bytes, so longer comments are appended here.
        if (n > 0 && n <= 255) {
            WriteText(dir / "comment", std::string(n, '-'));
            ASSERT_EQ(Shell(dir.path(), "zip -q -z c.zip < comment"), 0);
        } else if (n > 255) {
            Bytes file = ReadBytes(dir / "c.zip");
            Put16(file, file.size() - 2, uint32_t(n));
            file.insert(file.end(), n, '-');
            WriteBytes(dir / "c.zip", file);
        }
        const Bytes file = ReadBytes(dir / "c.zip");
        ASSERT_EQ(Get16(file, file.size() - n - 2), n) << "zip wrote another comment length";
        ExpectAgreesWithZipinfo(dir / "c.zip", 2);
    }
}

// A self-extracting file: an image and a block in front of the archive. Unadjusted, the
// offsets count from the archive's start; zip -A makes them count from the file's start.
TEST(ZipReader, DataInFrontOfTheArchive) {
    REQUIRE_TOOLS_OR_SKIP();
    const struct {
        const char* what;
        size_t prefix;
        bool adjust;
    } kCases[] = {
        {"image and block, offsets from the archive", 37376 + 512, false},
        {"image and block, adjusted with zip -A", 37376 + 512, true},
        {"one byte, offsets from the archive", 1, false},
        {"one byte, adjusted", 1, true},
        {"less than the scan overlap", 19, false},
        {"a scan window and a bit", 1030, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        MakeSourceTree(dir);
        ASSERT_EQ(Shell(dir.path(), std::string("zip -q -r plain.zip ") + kTreeFiles), 0);
        Bytes file = PseudoRandomBytes(c.prefix, 11, true);
        const Bytes archive = ReadBytes(dir / "plain.zip");
        file.insert(file.end(), archive.begin(), archive.end());
        WriteBytes(dir / "sfx.zip", file);
        if (c.adjust) ASSERT_EQ(Shell(dir.path(), "zip -q -A sfx.zip"), 0);
        const Listing listing = RunZipinfo(dir / "sfx.zip");
        EXPECT_EQ(listing.shift, c.adjust ? 0 : long(c.prefix));
        ExpectAgreesWithZipinfo(dir / "sfx.zip", kTreeEntries);
    }
}

TEST(ZipReader, PeerArchives) {
    if (!HaveTool("zipinfo")) GTEST_SKIP() << "needs zipinfo";
    const struct {
        const char* file;
        size_t entries;  // entries the reader hands out
    } kCases[] = {
        {"Zip.deflate.zip", 6},       {"Zip.deflate64.zip", 6},
        {"Zip.deflate.dd.zip", 3},    {"Zip.none.datadescriptors.zip", 2},
        {"Zip.implode.zip", 3},       {"Zip.shrink.zip", 3},
        {"Zip.reduce1.zip", 3},       {"Zip.reduce2.zip", 3},
        {"Zip.reduce3.zip", 3},       {"Zip.reduce4.zip", 3},
        {"zipcrypto.zip", 8},         {"PrePostHeaders.zip", 4},
        {"Zip.LongComment.zip", 1},   {"Zip.EntryComment.zip", 1},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.file);
        ExpectAgreesWithZipinfo(std::string(DUDORE_PEER_ARCHIVES) + "/" + c.file, c.entries);
    }
}

TEST(ZipReader, EntriesOfAMethodNotTakenAreSkipped) {
    // Both entries are method 99 (AES): no local header is acceptable.
    const Scan scan = ScanPath(std::string(DUDORE_PEER_ARCHIVES) + "/Zip.none.encrypted.zip");
    EXPECT_NE(scan.centralOffset, 0);
    EXPECT_TRUE(scan.entries.empty());
}

TEST(ZipReader, PeerArchivesKnownChecksums) {
    // The same three files in every one of these archives (listed in their README).
    const uint32_t kExe = 0xcfb109c8, kJpg = 0x088814e3, kText = 0x9bd160fa;
    for (const char* name : {"Zip.deflate.dd.zip", "Zip.implode.zip", "Zip.shrink.zip", "Zip.reduce3.zip"}) {
        SCOPED_TRACE(name);
        const Scan scan = ScanPath(std::string(DUDORE_PEER_ARCHIVES) + "/" + name);
        std::vector<uint32_t> crcs;
        for (const auto& s : scan.entries) crcs.push_back(s.entry.crc32);
        std::sort(crcs.begin(), crcs.end());
        std::vector<uint32_t> expected = {kExe, kJpg, kText};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(crcs, expected);
    }
}

// ---- the end-record search ----------------------------------------------------

// A file of `length` filler bytes with an end record at `at` whose offset field says
// `offset` (the record may be cut off by the end of the file).
Bytes FileWithEndRecord(size_t length, size_t at, uint32_t offset) {
    Bytes file = PseudoRandomBytes(length, uint32_t(length), true);
    Bytes record = {'P', 'K', 5, 6};
    record.resize(22, 0);
    Put32(record, 16, offset);
    for (size_t i = 0; i < record.size() && at + i < length; ++i) file[at + i] = record[i];
    return file;
}

// Where the end record is found in `bytes`, or -1.
long FindIn(const Bytes& bytes) {
    FILE* file = tmpfile();
    fwrite(bytes.data(), 1, bytes.size(), file);
    fflush(file);
    uint64_t position = 0;
    const bool found = FindEndRecord(file, bytes.size(), position);
    fclose(file);
    return found ? long(position) : -1;
}

// Whether the reader takes `bytes` for an archive it can read.
bool ReadableArchive(const Bytes& bytes) {
    FILE* file = tmpfile();
    fwrite(bytes.data(), 1, bytes.size(), file);
    fflush(file);
    ZipReader reader{};
    reader.archive = file;
    const bool found = FindCentralDirectory(reader);
    if (found) EXPECT_EQ(ftell(file), 0) << "the search leaves the file at offset 0";
    fclose(file);
    return found;
}

// Every position in files around the window sizes: the record is found wherever it
// lies in full, except in the first 20 bytes of a file of 256 bytes or fewer, which
// are never examined.
TEST(EndRecordSearch, FindsTheRecordAtEveryPosition) {
    for (size_t length : {22, 23, 40, 100, 255, 256, 257, 258, 259, 260, 300, 508, 509, 510, 511, 512, 513, 766, 1100}) {
        for (size_t at = 0; at + 4 <= length; ++at) {
            const long found = FindIn(FileWithEndRecord(length, at, 1000 + uint32_t(at)));
            const bool whole = at + 20 <= length;
            const bool examined = length > 256 || at >= 20;
            // A record whose offset field runs past the end is no record.
            ASSERT_EQ(found, whole && examined ? long(at) : -1) << "length " << length << " record at " << at;
        }
    }
}

TEST(EndRecordSearch, TheRecordNearestTheEndWinsAcrossWindows) {
    Bytes file = FileWithEndRecord(2000, 100, 111);
    const Bytes upper = FileWithEndRecord(2000, 1500, 222);
    std::copy(upper.begin() + 1500, upper.begin() + 1522, file.begin() + 1500);
    EXPECT_EQ(FindIn(file), 1500);
}

// Local and central signatures every 30 bytes, and no end record.
Bytes FileWithOtherSignatures() {
    Bytes file = PseudoRandomBytes(600, 5, true);
    for (size_t at = 0; at + 4 <= file.size(); at += 30) {
        const uint8_t kind = at % 60 ? 1 : 3;
        file[at] = 'P', file[at + 1] = 'K', file[at + 2] = kind, file[at + 3] = uint8_t(kind + 1);
    }
    return file;
}

TEST(EndRecordSearch, NoArchive) {
    const struct {
        const char* what;
        Bytes file;
    } kCases[] = {
        {"empty file", {}},
        {"three bytes", {'P', 'K', 5}},
        {"no signature", PseudoRandomBytes(5000, 3, true)},
        {"central directory offset 0", FileWithEndRecord(600, 578, 0)},
        {"small file, offset 0", FileWithEndRecord(100, 78, 0)},
        {"other signatures only", FileWithOtherSignatures()},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(ReadableArchive(c.file));
    }
}

TEST(EndRecordSearch, SmallArchivesFromZip) {
    REQUIRE_TOOLS_OR_SKIP();
    for (const char* content : {"", "x", "a few more bytes of content"}) {
        SCOPED_TRACE(std::string("content \"") + content + "\"");
        ScratchDir dir;
        WriteText(dir / "a", content);
        ASSERT_EQ(Shell(dir.path(), "zip -q -X small.zip a"), 0);
        ASSERT_LE(ReadBytes(dir / "small.zip").size(), 256u);
        ExpectAgreesWithZipinfo(dir / "small.zip", 1);
    }
}

TEST(EndRecordSearch, ZipArchiveWhoseOffsetFieldIsZero) {
    REQUIRE_TOOLS_OR_SKIP();
    ScratchDir dir;
    WriteText(dir / "a.txt", "content\n");
    ASSERT_EQ(Shell(dir.path(), "zip -q a.zip a.txt"), 0);
    Bytes file = ReadBytes(dir / "a.zip");
    Put32(file, file.size() - 22 + 16, 0);
    EXPECT_EQ(ScanBytes(file).centralOffset, 0);
}

// ---- local headers --------------------------------------------------------------

// outer.zip holds, stored, inner.zip (itself an archive of inner.txt) and second.txt.
// When outer's first header is refused, the scan moves on one byte and finds inner.txt
// inside the refused entry's data; when it is accepted, that data is skipped.
struct NestedArchive {
    ScratchDir dir;
    Bytes outer;
    NestedArchive() {
        WriteText(dir / "inner.txt", "inside the inner archive\n");
        WriteText(dir / "second.txt", "the second outer entry\n");
        EXPECT_EQ(Shell(dir.path(), "zip -q -0 -X inner.zip inner.txt && zip -q -0 -X outer.zip inner.zip second.txt"), 0);
        outer = ReadBytes(dir / "outer.zip");
    }
};

TEST(LocalHeader, RefusedHeadersAreSteppedOverByOneByte) {
    REQUIRE_TOOLS_OR_SKIP();
    NestedArchive nested;
    const std::vector<std::string> kAccepted = {"inner.zip", "second.txt"};
    const std::vector<std::string> kRefused = {"inner.txt", "second.txt"};
    const struct {
        const char* what;
        std::function<void(Bytes&)> patch;
        std::vector<std::string> names;
    } kCases[] = {
        {"as written", [](Bytes&) {}, kAccepted},
        {"method 7", [](Bytes& b) { Put16(b, local::kMethod, 7); }, kRefused},
        {"method 10", [](Bytes& b) { Put16(b, local::kMethod, 10); }, kRefused},
        {"method 12", [](Bytes& b) { Put16(b, local::kMethod, 12); }, kRefused},
        {"method 99", [](Bytes& b) { Put16(b, local::kMethod, 99); }, kRefused},
        {"method 0xFFFF", [](Bytes& b) { Put16(b, local::kMethod, 0xFFFF); }, kRefused},
        {"method 0x0108", [](Bytes& b) { Put16(b, local::kMethod, 0x0108); }, kRefused},
        {"name with a zero byte first", [](Bytes& b) { b[local::kName] = 0; }, kRefused},
        {"name with a zero byte inside", [](Bytes& b) { b[local::kName + 5] = 0; }, kRefused},
        {"name with a zero byte last", [](Bytes& b) { b[local::kName + 8] = 0; }, kRefused},
        {"name length 1024", [](Bytes& b) { Put16(b, local::kNameLength, 1024); }, kRefused},
        {"name length 0xFFFF", [](Bytes& b) { Put16(b, local::kNameLength, 0xFFFF); }, kRefused},
        {"extra field past the end", [](Bytes& b) { Put16(b, local::kExtraLength, 0xFFFF); }, kRefused},
        {"signature broken", [](Bytes& b) { b[3] = 5; }, kRefused},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        Bytes file = nested.outer;
        c.patch(file);
        EXPECT_EQ(Names(ScanBytes(file)), c.names);
    }
}

TEST(LocalHeader, EveryMethodTakenIsAccepted) {
    REQUIRE_TOOLS_OR_SKIP();
    NestedArchive nested;
    for (uint32_t method = 0; method <= 12; ++method) {
        SCOPED_TRACE("method " + std::to_string(method));
        Bytes file = nested.outer;
        Put16(file, local::kMethod, method);
        const Scan scan = ScanBytes(file);
        const bool taken = method <= 9 && method != 7;
        ASSERT_FALSE(scan.entries.empty());
        EXPECT_EQ(std::string(scan.entries[0].entry.name), taken ? "inner.zip" : "inner.txt");
        if (taken) EXPECT_EQ(scan.entries[0].entry.method, method);
    }
}

TEST(LocalHeader, EmptyNameIsAccepted) {
    REQUIRE_TOOLS_OR_SKIP();
    NestedArchive nested;
    Bytes file = nested.outer;
    Put16(file, local::kNameLength, 0);
    const Scan scan = ScanBytes(file);
    ASSERT_EQ(scan.entries.size(), 2u);
    EXPECT_STREQ(scan.entries[0].entry.name, "");
    EXPECT_EQ(scan.entries[0].entry.nameLength, 0);
    EXPECT_EQ(scan.entries[0].dataStart, 30) << "the data starts right behind the header";
    EXPECT_STREQ(scan.entries[1].entry.name, "second.txt");
}

// Names of 259, 260 and 261 bytes, written by zip: each is taken whole, never cut (a cut
// name could become another entry's), and paired with its own central record.
TEST(LocalHeader, LongNames) {
    REQUIRE_TOOLS_OR_SKIP();
    ScratchDir dir;
    const std::string folder(200, 'd');
    ASSERT_EQ(mkdir((dir / folder).c_str(), 0755), 0);
    std::vector<std::string> paths;
    for (size_t length : {259, 260, 261}) {
        std::string path = folder + "/" + std::string(length - folder.size() - 1, char('a' + length - 259));
        WriteText(dir / path, "name of " + std::to_string(length) + " bytes\n");
        paths.push_back(path);
    }
    WriteText(dir / "after.txt", "behind the long names\n");
    ASSERT_EQ(Shell(dir.path(), "zip -q -0 -X -D long.zip " + paths[0] + " " + paths[1] + " " + paths[2] + " after.txt"), 0);
    const Listing listing = RunZipinfo(dir / "long.zip");
    ASSERT_EQ(listing.entries.size(), 4u);

    const Scan scan = ScanPath(dir / "long.zip");
    ASSERT_EQ(scan.entries.size(), 4u);
    paths.push_back("after.txt");
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(std::string(scan.entries[i].entry.name), paths[i]);
        EXPECT_EQ(scan.entries[i].central.nameLength, paths[i].size());
        EXPECT_EQ(scan.entries[i].entry.crc32, listing.entries[i].crc32);
    }
    EXPECT_FALSE(scan.recordsLeft);
}

// Flag bit 3: the sizes and CRC follow the data, so the local header may hold zeros or
// placeholders; the central record's values are the ones to use. Without bit 3, only
// zeros are replaced.
TEST(LocalHeader, DataDescriptorValuesComeFromTheCentralRecord) {
    REQUIRE_TOOLS_OR_SKIP();
    ScratchDir dir;
    MakeSourceTree(dir);
    ASSERT_EQ(Shell(dir.path(), "zip -q -fd -X dd.zip text.txt random.bin"), 0);
    const Bytes original = ReadBytes(dir / "dd.zip");
    const Listing listing = RunZipinfo(dir / "dd.zip");
    ASSERT_EQ(listing.entries.size(), 2u);
    ASSERT_TRUE(listing.entries[0].dataDescriptor);

    const uint32_t kCrc = 0xDEADBEEF, kCompressed = 7, kUncompressed = 9;
    const struct {
        const char* what;
        bool bit3;
        bool placeholders;
        bool centralValues;  // else the patched local values stay
    } kCases[] = {
        {"bit 3, as zip wrote it", true, false, true},
        {"bit 3, placeholders", true, true, true},
        {"no bit 3, zeros", false, false, true},
        {"no bit 3, other values", false, true, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        Bytes file = original;
        for (const ListedEntry& l : listing.entries) {
            const size_t at = size_t(l.localHeaderOffset);
            const uint32_t flags = Get16(file, at + local::kFlags);
            Put16(file, at + local::kFlags, c.bit3 ? flags | kFlagDataDescriptor : flags & ~kFlagDataDescriptor);
            if (c.placeholders) {
                Put32(file, at + local::kCrc, kCrc);
                Put32(file, at + local::kCompressed, kCompressed);
                Put32(file, at + local::kUncompressed, kUncompressed);
            } else if (!c.bit3) {
                Put32(file, at + local::kCrc, 0);
                Put32(file, at + local::kCompressed, 0);
                Put32(file, at + local::kUncompressed, 0);
            }
        }
        const Scan scan = ScanBytes(file);
        ASSERT_GE(scan.entries.size(), 1u);
        const EntryRecord& e = scan.entries[0].entry;
        if (c.centralValues) {
            ASSERT_EQ(scan.entries.size(), 2u);
            for (size_t i = 0; i < 2; ++i) {
                EXPECT_EQ(scan.entries[i].entry.crc32, listing.entries[i].crc32);
                EXPECT_EQ(scan.entries[i].entry.compressedSize, listing.entries[i].compressedSize);
                EXPECT_EQ(scan.entries[i].entry.uncompressedSize, listing.entries[i].uncompressedSize);
                ExpectDataMatches(file, scan.entries[i]);
            }
        } else {
            EXPECT_EQ(e.crc32, kCrc);
            EXPECT_EQ(e.compressedSize, kCompressed);
            EXPECT_EQ(e.uncompressedSize, kUncompressed);
        }
    }
}

// ---- central records ---------------------------------------------------------------

TEST(CentralRecord, AttributesByte) {
    REQUIRE_TOOLS_OR_SKIP();
    ScratchDir dir;
    WriteText(dir / "a.txt", "attributes\n");
    ASSERT_EQ(Shell(dir.path(), "zip -q -X a.zip a.txt"), 0);
    const Bytes original = ReadBytes(dir / "a.zip");
    const size_t record = FindSignatures(original, 1, 2).at(0);
    const struct {
        uint32_t external;
        uint32_t attributes;
    } kCases[] = {
        {0x00, 0x00}, {0x01, 0x01}, {0x02, 0x02}, {0x08, 0x00}, {0x10, 0x10}, {0x18, 0x10},
        {0x20, 0x20}, {0x27, 0x27}, {0xFF, 0xF7}, {0x81A40020, 0x20}, {0x41ED0010, 0x10},
        {0xFFFFFF08, 0x00},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(testing::Message() << "external attributes 0x" << std::hex << c.external);
        Bytes file = original;
        Put32(file, record + central::kExternal, c.external);
        const Scan scan = ScanBytes(file);
        ASSERT_EQ(scan.entries.size(), 1u);
        EXPECT_EQ(scan.entries[0].entry.attributes, c.attributes);
    }
}

TEST(CentralRecord, FolderAndReadOnlyFromZip) {
    REQUIRE_TOOLS_OR_SKIP();
    ScratchDir dir;
    MakeSourceTree(dir);
    ASSERT_EQ(Shell(dir.path(), "zip -q -r a.zip folder readonly.txt"), 0);
    const Scan scan = ScanPath(dir / "a.zip");
    ASSERT_EQ(scan.entries.size(), 3u);
    EXPECT_STREQ(scan.entries[0].entry.name, "folder/");
    EXPECT_EQ(scan.entries[0].entry.attributes, kAttributeFolder);
    EXPECT_EQ(scan.entries[1].entry.attributes, 0u);
    EXPECT_STREQ(scan.entries[2].entry.name, "readonly.txt");
    EXPECT_EQ(scan.entries[2].entry.attributes, 0x01u);
}

// When the central directory runs out before the local headers do, the later entries
// get attributes 0 and none of the central values, and the Central record keeps the
// last record matched.
TEST(CentralRecord, FewerCentralRecordsThanLocalHeaders) {
    REQUIRE_TOOLS_OR_SKIP();
    for (const char* options : {"-q -r", "-q -r -fd"}) {
        SCOPED_TRACE(options);
        ScratchDir dir;
        MakeSourceTree(dir);
        ASSERT_EQ(Shell(dir.path(), std::string("zip ") + options + " a.zip folder readonly.txt text.txt"), 0);
        const Listing listing = RunZipinfo(dir / "a.zip");
        ASSERT_EQ(listing.entries.size(), 4u);
        Bytes file = ReadBytes(dir / "a.zip");
        const std::vector<size_t> records = FindSignatures(file, 1, 2);
        ASSERT_EQ(records.size(), 4u);
        file[records[3]] = 'X';  // the last central record is gone

        const Scan scan = ScanBytes(file);
        ASSERT_EQ(scan.entries.size(), 4u);
        EXPECT_EQ(scan.entries[0].entry.attributes, 0x10u);
        EXPECT_EQ(scan.entries[2].entry.attributes, 0x01u);
        const ScannedEntry& last = scan.entries[3];
        EXPECT_STREQ(last.entry.name, "text.txt");
        EXPECT_EQ(last.entry.attributes, 0u);
        EXPECT_EQ(last.central.crc32, listing.entries[2].crc32) << "the Central record is the one before";
        const size_t header = size_t(listing.entries[3].localHeaderOffset);
        EXPECT_EQ(last.entry.crc32, Get32(file, header + local::kCrc)) << "the local value stays";
        EXPECT_EQ(last.entry.compressedSize, Get32(file, header + local::kCompressed));
    }
}

// A local header the walk cannot take, while the directory lists it: the walk says so
// (a central record is left), so the entries after it are never lost in silence.
TEST(CentralRecord, RecordsLeftWhenALocalHeaderIsNotTaken) {
    REQUIRE_TOOLS_OR_SKIP();
    ScratchDir dir;
    MakeSourceTree(dir);
    ASSERT_EQ(Shell(dir.path(), "zip -q -X a.zip text.txt readonly.txt empty.txt"), 0);
    const Bytes archive = ReadBytes(dir / "a.zip");
    const std::vector<size_t> headers = FindSignatures(archive, 3, 4);
    ASSERT_EQ(headers.size(), 3u);
    const struct {
        const char* what;
        size_t header;  // which local header is patched
        std::function<void(Bytes&, size_t)> patch;
        size_t entries;
        bool left;
    } kCases[] = {
        {"as written", 0, [](Bytes&, size_t) {}, 3, false},
        {"first: method 7", 0, [](Bytes& b, size_t at) { Put16(b, at + local::kMethod, 7); }, 2, true},
        {"middle: signature broken", 1, [](Bytes& b, size_t at) { b[at + 3] = 5; }, 2, true},
        {"last: name past the end", 2, [](Bytes& b, size_t at) { Put16(b, at + local::kNameLength, 0xFFFF); }, 2, true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        Bytes file = archive;
        c.patch(file, headers[c.header]);
        const Scan scan = ScanBytes(file);
        EXPECT_EQ(scan.entries.size(), c.entries);
        EXPECT_EQ(scan.recordsLeft, c.left);
    }
}

// A wrong central directory offset: the directory is still found where the end record's
// size puts it. With the size wrong too, the directory is not there: no archive.
TEST(CentralRecord, CentralDirectoryOffsetPastTheEnd) {
    REQUIRE_TOOLS_OR_SKIP();
    ScratchDir dir;
    MakeSourceTree(dir);
    ASSERT_EQ(Shell(dir.path(), "zip -q -r a.zip folder readonly.txt"), 0);
    Bytes file = ReadBytes(dir / "a.zip");
    Put32(file, file.size() - 22 + 16, uint32_t(file.size() + 1000));
    const Scan scan = ScanBytes(file);
    ASSERT_EQ(scan.entries.size(), 3u);
    EXPECT_EQ(scan.entries[0].entry.attributes, 0x10u);
    Put32(file, file.size() - 22 + 12, 7);
    EXPECT_FALSE(ReadableArchive(file));
}

// "PPK\1\2": the byte that breaks a partial match may start the signature itself.
TEST(CentralRecord, SignatureBehindABrokenPartialMatch) {
    REQUIRE_TOOLS_OR_SKIP();
    ScratchDir dir;
    WriteText(dir / "a.txt", "content\n");
    ASSERT_EQ(Shell(dir.path(), "zip -q -X -0 a.zip a.txt"), 0);
    const Bytes original = ReadBytes(dir / "a.zip");
    const size_t record = FindSignatures(original, 1, 2).at(0);
    for (const char* junk : {"P", "PK", "PK\1", "PPK", "PKPK\1"}) {
        SCOPED_TRACE(testing::Message() << "junk of " << strlen(junk) << " bytes before the record");
        Bytes file = original;
        file.insert(file.begin() + long(record), junk, junk + strlen(junk));
        Put32(file, file.size() - 22 + 16, uint32_t(record));  // the offset points at the junk
        const Scan scan = ScanBytes(file);
        ASSERT_EQ(scan.entries.size(), 1u);
        EXPECT_EQ(scan.entries[0].central.nameLength, 5u);
        EXPECT_EQ(scan.entries[0].central.crc32, Get32(original, record + central::kCrc));
    }
}

// The cursor moves past the matched record's name, so a "PK\1\2" inside a name is
// never taken for the next record.
TEST(CentralRecord, SignatureInsideANameIsPassedOver) {
    REQUIRE_TOOLS_OR_SKIP();
    ScratchDir dir;
    const std::string hostile = std::string("name PK\1\2") + std::string(42, 'x');
    WriteText(dir / hostile, "first\n");
    WriteText(dir / "second.txt", "second\n");
    ASSERT_EQ(Shell(dir.path(), "zip -q -X a.zip '" + hostile + "' second.txt"), 0);
    const Listing listing = RunZipinfo(dir / "a.zip");
    ASSERT_EQ(listing.entries.size(), 2u);
    const Scan scan = ScanPath(dir / "a.zip");
    ASSERT_EQ(scan.entries.size(), 2u);
    EXPECT_EQ(std::string(scan.entries[0].entry.name), hostile);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(scan.entries[i].central.nameLength, listing.entries[i].nameLength) << i;
        EXPECT_EQ(scan.entries[i].central.crc32, listing.entries[i].crc32) << i;
    }
}

// A hand-built archive: one stored entry whose local extra field is empty while its
// central one is not. The extra-field length then comes from the central record; the
// data still starts right behind the local header's own (empty) extra field.
TEST(CentralRecord, ExtraLengthFallsBackWhenLocalIsZero) {
    const std::string name = "x.txt", data = "stored data";
    const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytes::value_type*>(data.data()), uInt(data.size())));
    for (uint32_t localExtra : {0u, 4u}) {
        SCOPED_TRACE("local extra length " + std::to_string(localExtra));
        Bytes file = {'P', 'K', 3, 4};
        Append16(file, 10), Append16(file, 0), Append16(file, 0), Append32(file, 0x5A216000);
        Append32(file, crc), Append32(file, uint32_t(data.size())), Append32(file, uint32_t(data.size()));
        Append16(file, uint32_t(name.size())), Append16(file, localExtra);
        AppendText(file, name);
        file.insert(file.end(), localExtra, 0xEE);
        const long dataStart = long(file.size());
        AppendText(file, data);
        const uint32_t centralAt = uint32_t(file.size());
        file.insert(file.end(), {'P', 'K', 1, 2});
        Append16(file, 20), Append16(file, 10), Append16(file, 0), Append16(file, 0), Append32(file, 0x5A216000);
        Append32(file, crc), Append32(file, uint32_t(data.size())), Append32(file, uint32_t(data.size()));
        Append16(file, uint32_t(name.size())), Append16(file, 9), Append16(file, 0), Append16(file, 0);
        Append16(file, 0), Append32(file, 0x20), Append32(file, 0);
        AppendText(file, name);
        file.insert(file.end(), 9, 0xCC);
        const uint32_t centralSize = uint32_t(file.size()) - centralAt;
        file.insert(file.end(), {'P', 'K', 5, 6});
        Append32(file, 0), Append16(file, 1), Append16(file, 1), Append32(file, centralSize);
        Append32(file, centralAt), Append16(file, 0);

        const Scan scan = ScanBytes(file);
        ASSERT_EQ(scan.entries.size(), 1u);
        EXPECT_EQ(scan.entries[0].entry.extraLength, localExtra ? localExtra : 9u);
        EXPECT_EQ(scan.entries[0].dataStart, dataStart);
        EXPECT_EQ(scan.entries[0].entry.attributes, 0x20u);
        ExpectDataMatches(file, scan.entries[0]);
    }
}

// ---- ZIP64, large archives, what lies after the directory, UTF-8 names ------------

constexpr uint64_t k4GiB = uint64_t(1) << 32;

// Sizes and offsets from ZIP64 fields: from zip -fz, hand-built, behind a 5 GiB hole,
// an entry past 4 GiB, 70,000 entries, and a central field without the offset. Holes
// are sparse; the scan starts behind them.
TEST(Zip64, SizesAndOffsetsFromTheirExtraFields) {
    REQUIRE_TOOLS_OR_SKIP();
    ScratchDir dir;
    WriteText(dir / "a.txt", "hello world\n");
    ASSERT_EQ(Shell(dir.path(), "zip -q -fz fz.zip a.txt"), 0);
    ExpectAgreesWithZipinfo(dir / "fz.zip", 1);

    struct Case {
        const char* what;
        HandArchive archive;
        uint64_t scanFrom;
    } cases[] = {
        {"ZIP64 fields", {.entries = {{.name = "a", .data = "one", .zip64 = true}, {.name = "b/", .attributes = 0x10, .zip64 = true}}, .zip64End = true}, 0},
        {"behind 5 GiB", {.hole = 5 * k4GiB / 4, .entries = {{.name = "far", .data = "x", .zip64 = true}}, .zip64End = true}, 5 * k4GiB / 4},
        {"an entry past 4 GiB", {.entries = {{.name = "big", .data = "d", .hole = k4GiB + 5, .zip64 = true}, {.name = "next", .data = "n"}}, .zip64End = true}, 0},
        {"70,000 entries", {.zip64End = true}, 0},
        {"a central field of the two sizes only",
         {.entries = {{.name = "a", .data = "one", .zip64 = true, .zip64Offset = false}, {.name = "b", .data = "two"}}}, 0},
    };
    for (int i = 0; i < 70000; ++i) cases[3].archive.entries.push_back({.name = std::to_string(i), .data = "e"});
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        const uint64_t directory = WriteHandArchive(dir / "hand.zip", c.archive);
        const Scan scan = ScanPath(dir / "hand.zip", c.scanFrom);
        EXPECT_EQ(uint64_t(scan.centralOffset), directory);
        ASSERT_EQ(scan.entries.size(), c.archive.entries.size());
        for (size_t e = 0; e < scan.entries.size(); e += 997) {
            const HandEntry& want = c.archive.entries[e];
            EXPECT_EQ(scan.entries[e].entry.name, want.name);
            EXPECT_EQ(scan.entries[e].entry.compressedSize, want.data.size() + want.hole);
            EXPECT_EQ(scan.entries[e].entry.uncompressedSize, want.data.size() + want.hole);
            EXPECT_EQ(scan.entries[e].entry.crc32, want.crc);
            EXPECT_EQ(scan.entries[e].entry.attributes, want.attributes);
        }
        EXPECT_EQ(scan.entries.back().entry.name, c.archive.entries.back().name);
    }
}

// A stored entry of 4 GiB and more, behind more than 4 GiB, through the entry stream:
// every byte reaches the sink and the CRC. Minutes of reading: DUDORE_LARGE_TESTS=1 only.
TEST(Zip64, LargeEntryThroughTheStream) {
    if (!getenv("DUDORE_LARGE_TESTS")) GTEST_SKIP() << "set DUDORE_LARGE_TESTS=1";
    ScratchDir dir;
    BuildCrcTable();
    HandArchive archive{.hole = k4GiB + 7, .entries = {{.name = "big", .data = "start", .hole = k4GiB + 3, .zip64 = true}}, .zip64End = true};
    WriteHandArchive(dir / "big.zip", archive);
    FILE* file = fopen((dir / "big.zip").c_str(), "rb");
    ZipReader reader{};
    reader.archive = file;
    ASSERT_TRUE(FindCentralDirectory(reader));
    fseeko(file, off_t(archive.hole), SEEK_SET);
    static uint8_t work[kWorkBufferSize];
    EntryRecord entry;
    ASSERT_TRUE(NextEntry(reader, entry));
    FILE* sink = fopen("/dev/null", "wb");
    int cancel = 0;
    StreamHost host{&cancel, nullptr, nullptr};
    EntryStream s{};
    s.archive = file, s.output = sink, s.host = &host;
    BeginEntryData(s);
    DecodeEntry(s, entry, work);
    EXPECT_EQ(s.runningCrc, archive.entries[0].crc);
    EXPECT_EQ(s.outputLeft, 0u);
    EXPECT_FALSE(s.overrun || s.writeFailed);
    EXPECT_EQ(ArchivePosition(s), archive.hole + 30 + 3 + 20 + 5 + k4GiB + 3);
    fclose(sink);
    fclose(file);
}

// Archives the reader cannot read are refused, never taken for empty ones.
TEST(Zip64, UnreadableFormsAreRefused) {
    ScratchDir dir;
    HandArchive archive{.entries = {{.name = "a", .data = "one", .zip64 = true}}, .zip64End = true};
    WriteHandArchive(dir / "a.zip", archive);
    const Bytes zip64 = ReadBytes(dir / "a.zip");
    const size_t end = zip64.size() - 22, locator = end - 20, record = locator - 56;
    const struct {
        const char* what;
        size_t at;
        uint32_t value;
    } patches[] = {
        {"ZIP64 end record missing", record, 0},
        {"ZIP64 locator missing", locator, 0},
        {"split: the ZIP64 record's disk", record + 16, 1},
        {"spanned over two disks", locator + 16, 2},
    };
    EXPECT_TRUE(ReadableArchive(zip64));
    for (const auto& p : patches) {
        Bytes file = zip64;
        Put32(file, p.at, p.value);
        EXPECT_FALSE(ReadableArchive(file)) << p.what;
    }
    // Plain end records, and no ZIP64 field anywhere.
    archive = {.entries = {{.name = "a", .data = "one"}}};
    WriteHandArchive(dir / "b.zip", archive);
    const Bytes plain = ReadBytes(dir / "b.zip");
    const struct {
        const char* what;
        size_t at;
        uint32_t value;
    } plainPatches[] = {
        {"split: the end record's disk", plain.size() - 22 + 4, 1},
        {"an escaped directory offset without ZIP64 records", plain.size() - 22 + 16, 0xFFFFFFFF},
    };
    EXPECT_TRUE(ReadableArchive(plain));
    for (const auto& p : plainPatches) {
        Bytes file = plain;
        Put32(file, p.at, p.value);
        EXPECT_FALSE(ReadableArchive(file)) << p.what;
    }
}

// A local header behind the central directory (appended, or hidden in whatever follows
// it) is never an entry; data before and between entries changes nothing.
TEST(LocalHeader, NothingAtOrAfterTheCentralDirectory) {
    ScratchDir dir;
    HandArchive inner{.entries = {{.name = "setup.exe", .data = "planted"}}};
    WriteHandArchive(dir / "inner.zip", inner);
    const Bytes planted = ReadBytes(dir / "inner.zip");
    HandArchive archive{.entries = {{.name = "setup.exe", .data = "real"}, {.name = "b", .data = "PK\3\4 within"}},
                        .afterDirectory = std::string(planted.begin(), planted.end())};
    WriteHandArchive(dir / "a.zip", archive);
    EXPECT_EQ(Names(ScanPath(dir / "a.zip")), (std::vector<std::string>{"setup.exe", "b"}));
}

// A Unicode Path field names the entry in UTF-8 when its CRC-32 is that of the stored
// name; a stale one is ignored. Flag bit 11 marks a UTF-8 name, which may be long.
TEST(LocalHeader, Utf8Names) {
    const std::string stored = "caf\x82.txt", utf8 = "caf\xC3\xA9.txt", longName(600, 'n');
    const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(stored.data()), uInt(stored.size())));
    auto unicodePath = [&](uint32_t nameCrc) {
        Bytes field = {1};
        Append32(field, nameCrc);
        AppendText(field, utf8);
        return ExtraField(0x7075, std::string(field.begin(), field.end()));
    };
    const struct {
        const char* what;
        HandEntry entry;
        std::string name;
        bool utf8;
    } cases[] = {
        {"no marker", {.name = stored}, stored, false},
        {"Unicode Path, local", {.name = stored, .localExtra = unicodePath(crc)}, utf8, true},
        {"Unicode Path, central", {.name = stored, .centralExtra = unicodePath(crc)}, utf8, true},
        {"Unicode Path, stale", {.name = stored, .localExtra = unicodePath(crc ^ 1)}, stored, false},
        {"flag bit 11", {.name = utf8, .flags = 0x800}, utf8, true},
        {"flag bit 11, 600 bytes", {.name = longName, .flags = 0x800}, longName, true},
        {"600 bytes without the flag", {.name = longName}, longName, false},  // whole, as UTF-8's are
        {"1024 bytes with the flag", {.name = std::string(1024, 'n'), .flags = 0x800}, "", false},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HandArchive archive{.entries = {c.entry}};
        WriteHandArchive(dir / "a.zip", archive);
        const Scan scan = ScanPath(dir / "a.zip");
        if (c.name.empty()) {
            EXPECT_TRUE(scan.entries.empty());
            continue;
        }
        ASSERT_EQ(scan.entries.size(), 1u);
        EXPECT_EQ(scan.entries[0].entry.name, c.name);
        EXPECT_EQ(scan.entries[0].entry.utf8Name, c.utf8);
    }
}

}  // namespace

namespace {

// The local-header scan starts at the file's first byte, and with offsets counted from
// the archive's start the central-record search starts inside the image: no signature
// may appear in the stub itself, or a piece of code would be taken for a record.
TEST(StubImage, HoldsNoRecordSignature) {
    const char* images = getenv("DUDORE_STUB_IMAGES");
    if (!images || !*images) GTEST_SKIP() << "DUDORE_STUB_IMAGES names no stub image";
    std::string list = images;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        const std::string path = list.substr(start, end - start);
        start = end + 1;
        if (path.empty()) continue;
        SCOPED_TRACE(path);
        const Bytes image = ReadBytes(path);
        ASSERT_FALSE(image.empty());
        for (uint8_t kind : {1, 3, 5, 7})
            EXPECT_EQ(FindSignatures(image, kind, uint8_t(kind + 1)), std::vector<size_t>{}) << "PK" << int(kind) << int(kind + 1);
    }
}

}  // namespace
