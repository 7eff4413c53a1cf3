// Traditional decryption against archives that Info-ZIP zip and 7-Zip encrypt during
// the test, and the peer archive zipcrypto.zip: the original files are the oracle.
// Then the password rules, on real encryption headers, and the one-byte check's
// statistics for wrong passwords.
#include <zlib.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/crc32.h"
#include "codecs/entry_stream.h"
#include "crypto/zip_crypto.h"
#include "zip_fixtures.h"

using namespace fixtures;

namespace {

const char kPassword[] = "Secret pass";

// The archive open as the worker has it: the reader, and a stream for entry data.
class OpenArchive {
public:
    explicit OpenArchive(const std::string& path) {
        BuildCrcTable();
        file_ = fopen(path.c_str(), "rb");
        EXPECT_NE(file_, nullptr) << path;
        reader_.archive = file_;
        if (file_) EXPECT_NE(FindCentralDirectory(reader_), 0) << path;
    }
    ~OpenArchive() {
        if (file_) fclose(file_);
    }
    FILE* file() const { return file_; }
    ZipReader& reader() { return reader_; }

    // The next entry; the file stands at its data. `dataEnd` is where the entry ends.
    bool Next(EntryRecord& entry) {
        if (!file_) return false;
        if (dataEnd_ >= 0) fseek(file_, dataEnd_, SEEK_SET);
        if (!NextEntry(reader_, entry)) return false;
        dataEnd_ = ftell(file_) + long(entry.compressedSize);
        return true;
    }
    // The entry called `name`, skipping those before it.
    bool Find(const char* name, EntryRecord& entry) {
        while (Next(entry))
            if (strcmp(entry.name, name) == 0) return true;
        return false;
    }

private:
    FILE* file_ = nullptr;
    ZipReader reader_{};
    long dataEnd_ = -1;
};

volatile int g_cancel = 0;
const StreamHost kHost = {&g_cancel, nullptr, nullptr};

struct Decoded {
    bool ok = false;  // the data could be decoded (stored, or deflate that zlib accepted)
    Bytes bytes;
    uint32_t crc = 0;
};

// Decodes the entry's data from the archive's position through an EntryStream whose
// decryption is `d`: stored entries with StoredCopy into the sink, deflated ones
// through the Input feed and zlib.
Decoded Decode(FILE* archive, const Decryption& d, const EntryRecord& entry) {
    Decoded out;
    auto s = std::make_unique<EntryStream>();
    memset(s.get(), 0, sizeof *s);
    s->archive = archive;
    s->host = &kHost;
    s->decryption = d;
    FILE* sink = tmpfile();
    s->output = sink;
    BeginEntryData(*s);
    ResetRunningCrc(*s);
    std::vector<uint8_t> work(kWorkBufferSize);
    if (entry.method == 0) {
        StoredCopy(*s, entry.compressedSize, work.data());
        fflush(sink);
        rewind(sink);
        uint8_t buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, sink)) > 0) out.bytes.insert(out.bytes.end(), buffer, buffer + got);
        out.crc = s->runningCrc;
        out.ok = true;
    } else if (entry.method == 8) {
        Bytes compressed(entry.compressedSize);
        compressed.resize(InputFeed(*s, compressed.data(), uint32_t(compressed.size())));
        z_stream z{};
        inflateInit2(&z, -15);
        z.next_in = compressed.data();
        z.avail_in = uInt(compressed.size());
        int status;
        do {
            uint8_t buffer[65536];
            z.next_out = buffer;
            z.avail_out = sizeof buffer;
            status = inflate(&z, Z_NO_FLUSH);
            out.bytes.insert(out.bytes.end(), buffer, buffer + (sizeof buffer - z.avail_out));
        } while (status == Z_OK);
        inflateEnd(&z);
        out.ok = status == Z_STREAM_END;
        out.crc = UpdateCrc(0, out.bytes.data(), out.bytes.size());
    }
    fclose(sink);
    return out;
}

// The files every encrypted archive here holds, with their contents.
struct SourceFiles {
    ScratchDir dir;
    std::vector<std::pair<std::string, Bytes>> files;
    SourceFiles() {
        std::string text;
        for (int i = 0; i < 300; ++i) text += "line " + std::to_string(i) + ": compressible text for deflate\n";
        Add("text.txt", Bytes(text.begin(), text.end()));
        Add("random.bin", PseudoRandomBytes(3000, 21));
        Add("small.txt", {'h', 'i', '\n'});
        Add("empty.txt", {});
    }
    void Add(const std::string& name, const Bytes& bytes) {
        WriteBytes(dir / name, bytes);
        files.emplace_back(name, bytes);
    }
    std::string Names() const {
        std::string names;
        for (const auto& f : files) names += " " + f.first;
        return names;
    }
    const Bytes* Content(const char* name) const {
        for (const auto& f : files)
            if (f.first == name) return &f.second;
        return nullptr;
    }
};

// ---- archives encrypted by other tools -------------------------------------------

TEST(Decryption, ArchivesFromOtherTools) {
    const bool zip = HaveTool("zip"), sevenZip = HaveTool("7z");
    if (!zip && !sevenZip) GTEST_SKIP() << "needs zip or 7z";
    SourceFiles source;
    const std::string pw = std::string("'") + kPassword + "'";
    const struct {
        const char* what;
        bool available;
        std::string command;
        bool checkFromTime;  // flag bit 3 set: the check byte is the time's high byte
    } kCases[] = {
        {"zip -P", zip, "zip -q -P " + pw + " out.zip" + source.Names(), true},
        {"zip -P, stored", zip, "zip -q -0 -P " + pw + " out.zip" + source.Names(), true},
        {"zip -P to a pipe", zip, "zip -q -P " + pw + " -" + source.Names() + " | cat > out.zip", true},
        {"zip -P -fd", zip, "zip -q -fd -P " + pw + " out.zip" + source.Names(), true},
        {"7z ZipCrypto", sevenZip, "7z a -tzip -mem=ZipCrypto -p" + pw + " out.zip" + source.Names(), false},
        {"7z ZipCrypto, stored", sevenZip, "7z a -tzip -mx=0 -mem=ZipCrypto -p" + pw + " out.zip" + source.Names(), false},
    };
    for (const auto& c : kCases) {
        if (!c.available) continue;
        SCOPED_TRACE(c.what);
        Shell(source.dir.path(), "rm -f out.zip");
        ASSERT_EQ(Shell(source.dir.path(), c.command), 0);
        OpenArchive archive(source.dir / "out.zip");
        EntryRecord entry;
        size_t seen = 0;
        while (archive.Next(entry)) {
            SCOPED_TRACE(entry.name);
            ++seen;
            const Bytes* original = source.Content(entry.name);
            ASSERT_NE(original, nullptr);
            ASSERT_TRUE(entry.flags & kFlagEncrypted);
            EXPECT_EQ((archive.reader().central.flags & kFlagDataDescriptor) != 0, c.checkFromTime);
            const uint32_t storedSize = entry.compressedSize;
            const long dataStart = ftell(archive.file());
            Decryption d{};
            ASSERT_EQ(CheckPassword(d, archive.file(), kPassword, entry, archive.reader().central), 1);
            EXPECT_EQ(d.active, 1);
            EXPECT_EQ(entry.compressedSize, storedSize - kEncryptionHeaderSize);
            EXPECT_EQ(ftell(archive.file()), dataStart + long(kEncryptionHeaderSize));
            const Decoded decoded = Decode(archive.file(), d, entry);
            ASSERT_TRUE(decoded.ok);
            EXPECT_EQ(decoded.bytes, *original);
            EXPECT_EQ(decoded.crc, entry.crc32);
        }
        EXPECT_EQ(seen, source.files.size());
    }
}

// Encrypted and plain entries in one archive: each plain one is read without
// decryption after an encrypted one switched it on.
TEST(Decryption, PlainEntryAfterAnEncryptedOne) {
    if (!HaveTool("zip")) GTEST_SKIP() << "needs zip";
    SourceFiles source;
    ASSERT_EQ(Shell(source.dir.path(), std::string("zip -q -0 -P '") + kPassword + "' mixed.zip random.bin"), 0);
    ASSERT_EQ(Shell(source.dir.path(), "zip -q -0 mixed.zip small.txt && zip -q mixed.zip text.txt"), 0);
    OpenArchive archive(source.dir / "mixed.zip");
    Decryption d{};
    EntryRecord entry;
    std::vector<std::string> names;
    while (archive.Next(entry)) {
        SCOPED_TRACE(entry.name);
        names.push_back(entry.name);
        const bool encrypted = entry.flags & kFlagEncrypted;
        const uint32_t size = entry.compressedSize;
        ASSERT_EQ(CheckPassword(d, archive.file(), encrypted ? kPassword : nullptr, entry, archive.reader().central), 1);
        EXPECT_EQ(d.active, encrypted ? 1 : 0);
        EXPECT_EQ(entry.compressedSize, encrypted ? size - kEncryptionHeaderSize : size);
        const Decoded decoded = Decode(archive.file(), d, entry);
        ASSERT_TRUE(decoded.ok);
        EXPECT_EQ(decoded.bytes, *source.Content(entry.name));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"random.bin", "small.txt", "text.txt"}));
}

TEST(Decryption, PeerArchiveZipcrypto) {
    OpenArchive archive(std::string(DUDORE_PEER_ARCHIVES) + "/zipcrypto.zip");
    EntryRecord entry;
    size_t seen = 0;
    while (archive.Next(entry)) {
        SCOPED_TRACE(entry.name);
        ++seen;
        Decryption d{};
        ASSERT_EQ(CheckPassword(d, archive.file(), "test", entry, archive.reader().central), 1);
        const Decoded decoded = Decode(archive.file(), d, entry);
        ASSERT_TRUE(decoded.ok);
        EXPECT_EQ(decoded.bytes.size(), entry.uncompressedSize);
        EXPECT_EQ(decoded.crc, entry.crc32);
        if (HaveTool("unzip")) {
            const std::string expected =
                ShellOutput("/", std::string("unzip -P test -p '") + DUDORE_PEER_ARCHIVES + "/zipcrypto.zip' '" + entry.name + "'");
            EXPECT_EQ(std::string(decoded.bytes.begin(), decoded.bytes.end()), expected);
        }
    }
    EXPECT_EQ(seen, 8u);
}

// ---- the password rules ---------------------------------------------------------

// One encrypted entry of a 7z archive (its check byte comes from the CRC) and of a zip
// archive (from the time), with the file at the entry's data.
struct EncryptedEntry {
    std::unique_ptr<OpenArchive> archive;
    EntryRecord entry{};
    long dataStart = 0;
    CentralRecord central{};
};

EncryptedEntry OpenEntry(const std::string& path, const char* name) {
    EncryptedEntry e;
    e.archive = std::make_unique<OpenArchive>(path);
    EXPECT_TRUE(e.archive->Find(name, e.entry)) << name;
    e.dataStart = ftell(e.archive->file());
    e.central = e.archive->reader().central;
    return e;
}

class PasswordRules : public testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("zip") || !HaveTool("7z")) GTEST_SKIP() << "needs zip and 7z";
        const std::string pw = std::string("'") + kPassword + "'";
        ASSERT_EQ(Shell(source_.dir.path(), "7z a -tzip -mx=0 -mem=ZipCrypto -p" + pw + " crc.zip" + source_.Names()), 0);
        ASSERT_EQ(Shell(source_.dir.path(), "zip -q -0 -P " + pw + " time.zip" + source_.Names()), 0);
    }
    std::string Path(const char* name) const { return source_.dir / name; }
    SourceFiles source_;
};

TEST_F(PasswordRules, NoPasswordSwitchesDecryptionOff) {
    EncryptedEntry e = OpenEntry(Path("crc.zip"), "random.bin");
    Decryption d{1, 1, 2, 3};
    EXPECT_EQ(CheckPassword(d, e.archive->file(), nullptr, e.entry, e.central), 1);
    EXPECT_EQ(d.active, 0);
    EXPECT_EQ(ftell(e.archive->file()), e.dataStart);
    EXPECT_EQ(e.entry.compressedSize, 3000u + kEncryptionHeaderSize);
}

TEST_F(PasswordRules, EmptyPasswordChangesNothing) {
    for (int active : {0, 1}) {
        EncryptedEntry e = OpenEntry(Path("crc.zip"), "random.bin");
        const EntryRecord before = e.entry;
        Decryption d{active, 0x11111111, 0x22222222, 0x33333333};
        EXPECT_EQ(CheckPassword(d, e.archive->file(), "", e.entry, e.central), 0);
        EXPECT_EQ(d.active, active);
        EXPECT_EQ(d.key0, 0x11111111u);
        EXPECT_EQ(d.key1, 0x22222222u);
        EXPECT_EQ(d.key2, 0x33333333u);
        EXPECT_EQ(ftell(e.archive->file()), e.dataStart);
        EXPECT_EQ(memcmp(&e.entry, &before, sizeof before), 0);
    }
}

TEST_F(PasswordRules, RejectionRestoresThePosition) {
    EncryptedEntry e = OpenEntry(Path("crc.zip"), "random.bin");
    Decryption d{};
    // A wrong password that the check byte refuses (most do: take the first).
    std::string wrong;
    for (int i = 0;; ++i) {
        wrong = "wrong " + std::to_string(i);
        if (CheckPassword(d, e.archive->file(), wrong.c_str(), e.entry, e.central) == 0) break;
        e.entry.compressedSize += kEncryptionHeaderSize;  // undo an acceptance
        fseek(e.archive->file(), e.dataStart, SEEK_SET);
    }
    EXPECT_EQ(ftell(e.archive->file()), e.dataStart);
    EXPECT_EQ(e.entry.compressedSize, 3000u + kEncryptionHeaderSize);
    EXPECT_EQ(d.active, 1) << "the flag stays set after a rejection";
    // The same header is read again by the next check.
    EXPECT_EQ(CheckPassword(d, e.archive->file(), kPassword, e.entry, e.central), 1);
    EXPECT_EQ(Decode(e.archive->file(), d, e.entry).bytes, *source_.Content("random.bin"));
}

// Where the check byte comes from: the central record's flag bit 3 picks the high byte
// of its time, otherwise of its CRC. Real headers, with the central record altered.
TEST_F(PasswordRules, CheckByteSource) {
    struct Case {
        const char* what;
        const char* archive;
        int bit3;      // -1: leave; 0: clear; 1: set
        int crcHigh;   // -1: leave; else the central CRC's high byte becomes this
        int timeHigh;  // likewise for the time's high byte
        bool accepted;
    };
    EncryptedEntry crc = OpenEntry(Path("crc.zip"), "random.bin");
    EncryptedEntry time = OpenEntry(Path("time.zip"), "random.bin");
    const int crcCheck = int(crc.central.crc32 >> 24);
    const int timeCheck = int((time.central.dosDateTime >> 8) & 0xFF);
    const Case kCases[] = {
        {"CRC, as written", "crc.zip", -1, -1, -1, true},
        {"CRC, other CRC", "crc.zip", -1, crcCheck ^ 0x01, -1, false},
        {"CRC, other time does not matter", "crc.zip", -1, -1, crcCheck ^ 0x80, true},
        {"CRC entry, bit 3 set, time's high byte matches", "crc.zip", 1, -1, crcCheck, true},
        {"CRC entry, bit 3 set, time's high byte differs", "crc.zip", 1, -1, crcCheck ^ 0x40, false},
        {"time, as written", "time.zip", -1, -1, -1, true},
        {"time, other time", "time.zip", -1, -1, timeCheck ^ 0x01, false},
        {"time, other CRC does not matter", "time.zip", -1, timeCheck ^ 0x10, -1, true},
        {"time entry, bit 3 cleared, CRC's high byte matches", "time.zip", 0, timeCheck, -1, true},
        {"time entry, bit 3 cleared, CRC's high byte differs", "time.zip", 0, timeCheck ^ 0x02, -1, false},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        EncryptedEntry e = OpenEntry(Path(c.archive), "random.bin");
        const bool fromTime = std::string(c.archive) == "time.zip";
        ASSERT_EQ((e.central.flags & kFlagDataDescriptor) != 0, fromTime);
        CentralRecord central = e.central;
        if (c.bit3 == 1) central.flags |= kFlagDataDescriptor;
        if (c.bit3 == 0) central.flags &= uint16_t(~kFlagDataDescriptor);
        if (c.crcHigh >= 0) central.crc32 = (central.crc32 & 0x00FFFFFF) | uint32_t(c.crcHigh) << 24;
        if (c.timeHigh >= 0) central.dosDateTime = (central.dosDateTime & ~0xFF00u) | uint32_t(c.timeHigh) << 8;
        Decryption d{};
        EXPECT_EQ(CheckPassword(d, e.archive->file(), kPassword, e.entry, central), c.accepted ? 1 : 0);
    }
}

// With a CRC-32 or a compressed size of 0 in the Entry record, the header cannot be
// checked and any password passes; the size is lowered by 12, to 0 at the least.
TEST_F(PasswordRules, UncheckableEntriesAndSizes) {
    const struct {
        const char* what;
        const char* password;
        int crc;          // -1: as read
        int size;         // -1: as read
        int result;
        uint32_t sizeAfter;
    } kCases[] = {
        {"right password", kPassword, -1, -1, 1, 3000},
        {"CRC 0, wrong password", "not it", 0, -1, 1, 3000},
        {"size 0, wrong password", "not it", -1, 0, 1, 0},
        {"size 0, right password", kPassword, -1, 0, 1, 0},
        {"size 13", kPassword, -1, 13, 1, 1},
        {"size 12", kPassword, -1, 12, 1, 0},
        {"size 11", kPassword, -1, 11, 1, 0},
        {"size 1", kPassword, -1, 1, 1, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        EncryptedEntry e = OpenEntry(Path("crc.zip"), "random.bin");
        if (c.crc >= 0) e.entry.crc32 = uint32_t(c.crc);
        if (c.size >= 0) e.entry.compressedSize = uint32_t(c.size);
        Decryption d{};
        EXPECT_EQ(CheckPassword(d, e.archive->file(), c.password, e.entry, e.central), c.result);
        EXPECT_EQ(e.entry.compressedSize, c.sizeAfter);
        EXPECT_EQ(ftell(e.archive->file()), e.dataStart + long(kEncryptionHeaderSize));
    }
}

// An encrypted empty file: compressed size 12 and CRC 0, as both tools write it.
TEST_F(PasswordRules, EncryptedEmptyFileTakesAnyPassword) {
    for (const char* archive : {"crc.zip", "time.zip"}) {
        SCOPED_TRACE(archive);
        for (const char* password : {kPassword, "x", "another wrong one"}) {
            EncryptedEntry e = OpenEntry(Path(archive), "empty.txt");
            ASSERT_TRUE(e.entry.flags & kFlagEncrypted);
            ASSERT_EQ(e.entry.compressedSize, kEncryptionHeaderSize);
            ASSERT_EQ(e.entry.crc32, 0u);
            Decryption d{};
            EXPECT_EQ(CheckPassword(d, e.archive->file(), password, e.entry, e.central), 1) << password;
            EXPECT_EQ(e.entry.compressedSize, 0u);
        }
    }
}

// The file ends inside the encryption header: 0, the size lowered, the position where
// the short read left it.
TEST_F(PasswordRules, HeaderCutShortByTheEndOfTheFile) {
    const Bytes whole = ReadBytes(Path("crc.zip"));
    EncryptedEntry e = OpenEntry(Path("crc.zip"), "random.bin");
    for (size_t left : {0, 1, 11}) {
        SCOPED_TRACE(std::to_string(left) + " header bytes left");
        FILE* cut = tmpfile();
        fwrite(whole.data(), 1, size_t(e.dataStart) + left, cut);
        fseek(cut, e.dataStart, SEEK_SET);
        EntryRecord entry = e.entry;
        Decryption d{};
        EXPECT_EQ(CheckPassword(d, cut, kPassword, entry, e.central), 0);
        EXPECT_EQ(entry.compressedSize, e.entry.compressedSize - kEncryptionHeaderSize);
        EXPECT_EQ(ftell(cut), e.dataStart + long(left));
        fclose(cut);
    }
}

// Wrong passwords pass the one-byte check about once in 256 tries; each one that
// passes then decrypts to data that fails the CRC.
TEST_F(PasswordRules, WrongPasswordsPassTheCheckAboutOnceIn256) {
    constexpr int kTries = 5000;
    for (const char* archive : {"crc.zip", "time.zip"}) {
        SCOPED_TRACE(archive);
        EncryptedEntry e = OpenEntry(Path(archive), "random.bin");
        const uint32_t size = e.entry.compressedSize;
        int accepted = 0;
        for (int i = 0; i < kTries; ++i) {
            const std::string wrong = "wrong password " + std::to_string(i);
            EntryRecord entry = e.entry;
            Decryption d{};
            fseek(e.archive->file(), e.dataStart, SEEK_SET);
            if (CheckPassword(d, e.archive->file(), wrong.c_str(), entry, e.central) == 0) {
                ASSERT_EQ(ftell(e.archive->file()), e.dataStart);
                ASSERT_EQ(entry.compressedSize, size);
                continue;
            }
            ++accepted;
            const Decoded decoded = Decode(e.archive->file(), d, entry);
            EXPECT_NE(decoded.crc, entry.crc32) << wrong;
            EXPECT_NE(decoded.bytes, *source_.Content("random.bin")) << wrong;
        }
        // Expected 5000/256 = 19.5 (standard deviation 4.4): accepting all or none fails.
        EXPECT_GE(accepted, 5);
        EXPECT_LE(accepted, 45);
        RecordProperty(std::string("accepted_") + archive, accepted);
    }
}

}  // namespace
