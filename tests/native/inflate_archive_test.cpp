// Deflate and Deflate64 entries of archives written by other tools (Info-ZIP zip, 7-Zip,
// and the peer archives), decoded through the reader and DecodeEntry as the worker does,
// plain and encrypted. Each entry's sink calls also match the reference decoder's.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

#include "archive/zip_reader.h"
#include "codecs/decode_entry.h"
#include "crypto/zip_crypto.h"
#include "inflate_test_support.h"

namespace {

using namespace inflate_test;

bool HaveTool(const char* name) { return system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0; }

std::string Quote(const std::string& s) { return "'" + s + "'"; }

Bytes ReadFile(const std::string& path) {
    Bytes b;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return b;
    b = ReadAll(f);
    fclose(f);
    return b;
}

void WriteFile(const std::string& path, const Bytes& data) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
}

// A fresh folder under the test's temporary folder, removed at the end.
struct TempFolder {
    std::string path;
    TempFolder() {
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/inflate-XXXXXX";
        path = mkdtemp(pattern.data()) ? pattern : "";
    }
    ~TempFolder() {
        if (!path.empty()) system(("rm -rf " + Quote(path)).c_str());
    }
};

// The files put into the archives, by name.
std::map<std::string, Bytes> SourceFiles() {
    std::map<std::string, Bytes> files;
    files["text.txt"] = TextLike(300000, 21);
    files["random.bin"] = RandomBytes(100000, 22);
    files["compressed.z"] = RawDeflate(TextLike(200000, 23), 9);
    files["empty"] = {};
    files["window.bin"] = TextLike(0x10000, 24);
    // A random block repeated: Deflate64 finds matches longer than 258 bytes at
    // distances beyond 32 KiB.
    const Bytes block = RandomBytes(50000, 25);
    Bytes period;
    for (int i = 0; i < 6; ++i) period.insert(period.end(), block.begin(), block.end());
    files["period.bin"] = period;
    Bytes runs;
    for (int i = 0; i < 40; ++i) runs.insert(runs.end(), size_t(1000 + 977 * i), uint8_t('a' + i % 26));
    files["runs.bin"] = runs;
    return files;
}

struct EntryResult {
    std::string name;
    uint16_t method;
    Bytes output;
    uint32_t runningCrc, crc32;
    std::vector<SinkCall> calls;
    long dataStart;
    Decryption keys;  // at the first compressed byte
};

// Walks the archive as the worker does: reader, password check, DecodeEntry, then a seek
// to the entry's end by its compressed size.
std::vector<EntryResult> DecodeArchive(const std::string& path, const char* password) {
    BuildCrcTable();
    std::vector<EntryResult> results;
    FILE* archive = fopen(path.c_str(), "rb");
    if (!archive) {
        ADD_FAILURE() << "cannot open " << path;
        return results;
    }
    ZipReader reader{};
    reader.archive = archive;
    EXPECT_NE(FindCentralDirectory(reader), 0) << path;
    std::vector<uint8_t> work(kWorkBufferSize);
    EntryRecord entry{};
    volatile int cancel = 0;
    auto s = std::make_unique<EntryStream>();
    while (NextEntry(reader, entry)) {
        const long next = ftell(archive) + long(entry.compressedSize);
        EntryResult r{entry.name, entry.method, {}, 0, entry.crc32, {}, 0, {}};
        FILE* output = tmpfile();
        *s = EntryStream{};
        Recorder rec{s.get(), &r.calls, 0, &cancel, 0};
        StreamHost host{&cancel, RecordProgress, &rec};
        s->archive = archive;
        s->output = output;
        s->host = &host;
        if (entry.flags & kFlagEncrypted) {
            EXPECT_EQ(CheckPassword(s->decryption, archive, password, entry, reader.central), 1) << entry.name;
        } else {
            CheckPassword(s->decryption, archive, nullptr, entry, reader.central);
        }
        r.dataStart = ftell(archive);
        r.keys = s->decryption;
        EXPECT_TRUE(HasDecoder(entry.method)) << entry.name;
        ResetRunningCrc(*s);
        BeginEntryData(*s);
        DecodeEntry(*s, entry, work.data());
        r.runningCrc = s->runningCrc;
        r.output = ReadAll(output);
        fclose(output);
        results.push_back(r);
        if (fseek(archive, next, SEEK_SET) != 0) break;
    }
    fclose(archive);
    return results;
}

// Every file of the archive comes out as it went in, through the expected method, and
// the sink calls are those of the reference decoder reading the same archive.
void ExpectArchiveDecodes(const std::string& path, const std::map<std::string, Bytes>& files, uint16_t method,
                          const char* password) {
    const std::vector<EntryResult> results = DecodeArchive(path, password);
    const Bytes image = ReadFile(path);
    size_t checked = 0;
    for (const EntryResult& r : results) {
        const auto it = files.find(r.name);
        ASSERT_NE(it, files.end()) << path << ": unexpected entry " << r.name;
        const std::string what = path + ": " + r.name;
        EXPECT_TRUE(r.output == it->second) << what << ": output differs";
        EXPECT_EQ(r.runningCrc, r.crc32) << what;
        EXPECT_EQ(r.runningCrc, Crc(it->second)) << what;
        // The tools store what does not compress; these always do.
        if (r.name == "text.txt" || r.name == "runs.bin" || r.name == "window.bin") EXPECT_EQ(r.method, method) << what;
        if (r.method != method) continue;
        ++checked;
        Options o;
        o.offset = r.dataStart;
        o.keys = (r.keys.active ? &r.keys : nullptr);
        const Decoded ref = RunReference(image, method == 9, o);
        EXPECT_EQ(ref.result, kInflateOk) << what;
        EXPECT_EQ(Describe(r.calls), Describe(ref.calls)) << what << ": sink calls differ from the reference";
    }
    EXPECT_EQ(results.size(), files.size()) << path;
    EXPECT_GE(checked, 3u) << path << ": entries with method " << method;
}

struct ToolCase {
    const char* name;
    const char* tool;
    std::string command;  // {archive} and {files} are replaced
    uint16_t method;
    const char* password;
};

TEST(InflateArchives, WrittenByOtherToolsDecodeByteIdentically) {
    ASSERT_TRUE(HaveTool("zip")) << "Info-ZIP zip is needed (Debian package zip)";
    ASSERT_TRUE(HaveTool("7z")) << "7-Zip is needed (Debian package p7zip-full)";
    TempFolder temp;
    ASSERT_FALSE(temp.path.empty());
    const std::map<std::string, Bytes> files = SourceFiles();
    std::string names;
    for (const auto& [name, data] : files) {
        WriteFile(temp.path + "/" + name, data);
        names += " " + Quote(name);
    }
    const ToolCase kCases[] = {
        {"zip -1", "zip", "zip -q -X -1 {archive} {files}", 8, nullptr},
        {"zip -6", "zip", "zip -q -X -6 {archive} {files}", 8, nullptr},
        {"zip -9", "zip", "zip -q -X -9 {archive} {files}", 8, nullptr},
        {"zip -9 -P", "zip", "zip -q -X -9 -P secret {archive} {files}", 8, "secret"},
        {"zip to a pipe (data descriptors)", "zip", "zip -q -X -9 - {files} | cat > {archive}", 8, nullptr},
        {"7z Deflate -mx=1", "7z", "7z a -bd -bso0 -tzip -mm=Deflate -mx=1 {archive} {files}", 8, nullptr},
        {"7z Deflate -mx=9", "7z", "7z a -bd -bso0 -tzip -mm=Deflate -mx=9 {archive} {files}", 8, nullptr},
        {"7z Deflate ZipCrypto", "7z", "7z a -bd -bso0 -tzip -mm=Deflate -mx=7 -mem=ZipCrypto -psecret {archive} {files}", 8,
         "secret"},
        {"7z Deflate64 -mx=5", "7z", "7z a -bd -bso0 -tzip -mm=Deflate64 -mx=5 {archive} {files}", 9, nullptr},
        {"7z Deflate64 -mx=9", "7z", "7z a -bd -bso0 -tzip -mm=Deflate64 -mx=9 {archive} {files}", 9, nullptr},
        {"7z Deflate64 ZipCrypto", "7z",
         "7z a -bd -bso0 -tzip -mm=Deflate64 -mx=9 -mem=ZipCrypto -psecret {archive} {files}", 9, "secret"},
    };
    int index = 0;
    for (const ToolCase& c : kCases) {
        const std::string archive = temp.path + "/a" + std::to_string(index++) + ".zip";
        std::string command = c.command;
        command.replace(command.find("{archive}"), 9, Quote(archive));
        while (command.find("{files}") != std::string::npos) command.replace(command.find("{files}"), 7, names);
        ASSERT_EQ(system(("cd " + Quote(temp.path) + " && " + command).c_str()), 0) << c.name;
        ExpectArchiveDecodes(archive, files, c.method, c.password);
    }
}

// A Deflate64 stream that uses what Deflate lacks: distances beyond 32 KiB. (7-Zip's
// encoder makes no match longer than 257 bytes; the stream tests cover those.)
TEST(InflateArchives, SevenZipDeflate64ReachesBeyond32KiB) {
    ASSERT_TRUE(HaveTool("7z")) << "7-Zip is needed (Debian package p7zip-full)";
    TempFolder temp;
    const std::map<std::string, Bytes> files = SourceFiles();
    WriteFile(temp.path + "/period.bin", files.at("period.bin"));
    const std::string archive = temp.path + "/p.zip";
    ASSERT_EQ(system(("cd " + Quote(temp.path) + " && 7z a -bd -bso0 -tzip -mm=Deflate64 -mx=9 p.zip period.bin").c_str()), 0);
    const std::vector<EntryResult> results = DecodeArchive(archive, nullptr);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].method, 9);
    EXPECT_TRUE(results[0].output == files.at("period.bin"));
    Options o;
    o.offset = results[0].dataStart;
    const Decoded ref = RunReference(ReadFile(archive), true, o);
    EXPECT_GT(ref.farthestDistance, 32768u);
    EXPECT_GT(ref.longestMatch, 250u);
    EXPECT_EQ(Describe(results[0].calls), Describe(ref.calls));
    // Under method 8's tables the same stream cannot decode.
    EXPECT_NE(RunInflate(ReadFile(archive), false, o).output, files.at("period.bin"));
}

// The peer archives: their entries' CRCs are known, and every deflated copy of a file
// is the same bytes.
TEST(InflateArchives, PeerArchivesDecodeToTheKnownFiles) {
    const std::map<uint32_t, std::string> kKnown = {
        {0xcfb109c8u, "TEST.EXE"}, {0x088814e3u, "TEST.JPG"}, {0x9bd160fau, "text"}};
    const struct {
        const char* file;
        uint16_t method;
    } kArchives[] = {{"Zip.deflate.zip", 8}, {"Zip.deflate.dd.zip", 8}, {"Zip.deflate64.zip", 9}};
    std::map<uint32_t, Bytes> contents;
    for (const auto& a : kArchives) {
        const std::string path = std::string(DUDORE_PEER_ARCHIVES) + "/" + a.file;
        const std::vector<EntryResult> results = DecodeArchive(path, nullptr);
        const Bytes image = ReadFile(path);
        std::map<uint32_t, bool> seen;
        for (const EntryResult& r : results) {
            if (r.output.empty()) continue;  // folders
            const std::string what = std::string(a.file) + ": " + r.name;
            EXPECT_EQ(r.method, a.method) << what;
            EXPECT_EQ(r.runningCrc, r.crc32) << what;
            EXPECT_EQ(Crc(r.output), r.runningCrc) << what;
            ASSERT_TRUE(kKnown.count(r.runningCrc)) << what << ": unknown CRC";
            seen[r.runningCrc] = true;
            if (contents.count(r.runningCrc)) EXPECT_TRUE(contents[r.runningCrc] == r.output) << what;
            contents[r.runningCrc] = r.output;
            Options o;
            o.offset = r.dataStart;
            EXPECT_EQ(Describe(r.calls), Describe(RunReference(image, a.method == 9, o).calls)) << what;
        }
        EXPECT_EQ(seen.size(), kKnown.size()) << a.file;
    }
}

}  // namespace
