// The archive through the stub's own reader and decoders. See archive_check.h.
#include "archive_check.h"

#include <string.h>

#include <map>
#include <memory>

#include "archive/crc32.h"
#include "archive/file_position.h"
#include "codecs/decode_entry.h"
#include "codecs/entry_stream.h"
#include "crypto/zip_crypto.h"
#include "file_io.h"

namespace {

constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr char kForbiddenNameCharacters[] = ":;*?\"<>|";

std::string Hex32(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "%08x", value);
    return text;
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

bool IsExtractableMethod(uint32_t method) { return method <= 6 || method == 8 || method == 9; }

// The worker writes no data for a name that ends with a separator once trailing blanks
// are gone.
bool IsFolderName(const char* name) {
    size_t n = strlen(name);
    while (n > 0 && name[n - 1] == ' ') --n;
    return n > 0 && (name[n - 1] == '/' || name[n - 1] == '\\');
}

// ---- The stub's walk ---------------------------------------------------------------

// Everything the decoders need, set up once per check.
struct DecodeContext {
    FILE* output = nullptr;
    volatile int cancelState = 0;
    StreamHost host{};
    std::vector<uint8_t> work = std::vector<uint8_t>(kWorkBufferSize);
    std::unique_ptr<EntryStream> stream = std::make_unique<EntryStream>();
};

// Decodes the entry at the file's position (its first data byte) as the worker does.
Verdict DecodeOne(DecodeContext& c, ZipReader& reader, EntryRecord entry, const CheckRequest& request,
                  uint32_t& crc) {
    if (IsFolderName(entry.name)) return Verdict::Folder;
    EntryStream& s = *c.stream;
    s = EntryStream{};
    s.archive = reader.archive;
    s.output = c.output;
    s.host = &c.host;
    if (entry.flags & kFlagEncrypted) {
        if (!request.password) return Verdict::Encrypted;
        if (!CheckPassword(s.decryption, reader.archive, request.password, entry, reader.central))
            return Verdict::WrongPassword;
    } else {
        CheckPassword(s.decryption, reader.archive, nullptr, entry, reader.central);
    }
    if (!HasDecoder(entry.method)) return Verdict::NoDecoder;
    ResetRunningCrc(s);
    BeginEntryData(s);
    DecodeEntry(s, entry, c.work.data());
    crc = s.runningCrc;
    return crc == entry.crc32 ? Verdict::Ok : Verdict::CrcError;
}

// Runs the stub's reader over the whole file, as the worker does: each entry's data is
// skipped by its compressed size as read, whatever the decoder consumed.
void WalkAsTheStub(FILE* file, const CheckRequest& request, ArchiveReport& report) {
    ZipReader reader{};
    reader.archive = file;
    reader.end = request.end;
    report.stubFindsArchive = FindCentralDirectory(reader);
    report.stubCentralStart = reader.centralStart;
    if (!report.stubFindsArchive) return;

    DecodeContext context;
    context.host.cancelState = &context.cancelState;
    if (request.decode) {
        BuildCrcTable();
        context.output = fopen(NullDevicePath(), "wb");
    }
    ReaderEntry e{};
    while (NextEntry(reader, e.record)) {
        e.dataStart = uint64_t(PositionOf(file));
        e.paired = reader.centralCursor != 0;
        e.pairedRecord = e.paired ? uint64_t(reader.centralCursor) - reader.central.nameLength - kCentralHeaderSize : 0;
        e.verdict = Verdict::NotDecoded;
        e.decodedCrc = 0;
        if (request.decode && context.output)
            e.verdict = DecodeOne(context, reader, e.record, request, e.decodedCrc);
        report.entries.push_back(e);
        if (!SeekTo(file, e.dataStart + e.record.compressedSize)) break;
    }
    if (context.output) fclose(context.output);
    if (request.decode && !context.output) report.errors.push_back("cannot open the null device to decode into");
}

// ---- Comparison with the central directory ------------------------------------------

// Where the data of a central record's entry begins, read from its local header; false
// when no local header is where the central directory says.
bool DataStartOf(FILE* file, const ZipLayout& layout, const CentralEntry& c, uint64_t& dataStart) {
    const uint64_t at = LocalHeaderPosition(layout, c);
    uint8_t h[kLocalHeaderSize];
    if (!ReadAt(file, at, h, sizeof h) || memcmp(h, "PK\3\4", 4) != 0) return false;
    dataStart = at + kLocalHeaderSize + (h[26] | h[27] << 8) + (h[28] | h[29] << 8);
    return true;
}

std::string WhyNotFound(const CentralEntry& c) {
    if (c.nameLength > kLongestName) return "its name is longer than " + std::to_string(kLongestName) + " bytes";
    if (memchr(c.name.data(), 0, c.name.size())) return "its name holds a zero byte";
    return "an earlier entry's data covers its local header";
}

void NameWarnings(const CentralEntry& c, ArchiveReport& report) {
    if (c.name.find_first_of(kForbiddenNameCharacters) != std::string::npos)
        report.warnings.push_back(Quoted(c.name) + ": the stub skips names holding any of " +
                                  kForbiddenNameCharacters);
}

void Compare(FILE* file, const ZipLayout& layout, ArchiveReport& report) {
    if (!layout.entries.empty() && report.stubCentralStart != layout.centralStart)
        report.warnings.push_back("the stub takes its central directory from another end record "
                                  "(does the archive comment hold an end signature?)");

    std::map<uint64_t, size_t> byDataStart;  // reader entries by where their data begins
    for (size_t i = 0; i < report.entries.size(); ++i) byDataStart[report.entries[i].dataStart] = i;
    std::vector<bool> listed(report.entries.size(), false);

    for (const CentralEntry& c : layout.entries) {
        const std::string name = Quoted(c.name);
        if (!IsExtractableMethod(c.method)) {
            report.errors.push_back(name + ": " + MethodName(c.method) + " is a method the stub cannot extract");
            continue;
        }
        uint64_t dataStart = 0;
        if (!DataStartOf(file, layout, c, dataStart)) {
            report.errors.push_back(name + ": no local header at offset " +
                                    std::to_string(LocalHeaderPosition(layout, c)) +
                                    ", where the central directory places it");
            continue;
        }
        const auto found = byDataStart.find(dataStart);
        if (found == byDataStart.end()) {
            report.errors.push_back(name + ": the stub would not find this entry: " + WhyNotFound(c));
            continue;
        }
        const ReaderEntry& e = report.entries[found->second];
        listed[found->second] = true;
        NameWarnings(c, report);
        const std::string taken = e.record.flags & kFlagDataDescriptor ? "attributes, sizes and CRC-32" : "attributes";
        if (!e.paired)
            report.warnings.push_back(name + ": the stub would match no central record to it and go without its " +
                                      taken);
        else if (e.pairedRecord != c.position)
            report.warnings.push_back(name + ": the stub would pair it with the central record at offset " +
                                      std::to_string(e.pairedRecord) + " and take its " + taken + " from there");
    }
    for (size_t i = 0; i < report.entries.size(); ++i) {
        if (listed[i]) continue;
        report.warnings.push_back(Quoted(report.entries[i].record.name) + " at offset " +
                                  std::to_string(report.entries[i].dataStart) +
                                  ": the stub would extract it, but the central directory does not list it");
    }
}

void VerdictErrors(ArchiveReport& report) {
    for (const ReaderEntry& e : report.entries) {
        if (e.verdict != Verdict::CrcError) continue;
        report.errors.push_back(Quoted(e.record.name) + ": CRC error (the archive says " + Hex32(e.record.crc32) +
                                ", the data gives " + Hex32(e.decodedCrc) + ")");
    }
}

}  // namespace

ArchiveReport CheckArchive(FILE* file, const ZipLayout* layout, const CheckRequest& request) {
    ArchiveReport report;
    WalkAsTheStub(file, request, report);
    if (!report.stubFindsArchive) {
        report.errors.push_back("the stub finds no archive it can read: no end-of-central-directory record, a split "
                                "archive, or no central directory where the end record says");
        return report;
    }
    VerdictErrors(report);
    if (layout) {
        if (layout->entries.empty()) report.errors.push_back("the archive holds no entries");
        Compare(file, *layout, report);
    }
    return report;
}

std::string MethodName(uint32_t method) {
    static const std::map<uint32_t, const char*> kNames = {
        {0, "stored"},      {1, "shrunk"},      {2, "reduced (factor 1)"}, {3, "reduced (factor 2)"},
        {4, "reduced (factor 3)"}, {5, "reduced (factor 4)"}, {6, "imploded"}, {7, "tokenized"},
        {8, "deflated"},    {9, "Deflate64"},   {12, "bzip2"},      {14, "LZMA"},
        {93, "Zstandard"},  {95, "xz"},         {98, "PPMd"},       {99, "AES-encrypted"},
    };
    const auto found = kNames.find(method);
    const std::string number = "method " + std::to_string(method);
    return found == kNames.end() ? number : number + " (" + found->second + ")";
}
