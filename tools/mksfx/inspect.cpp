// Show and test modes. Both read the file exactly as the stub would: block from the PE
// headers, entries from the stub's reader.
#include "inspect.h"

#include <algorithm>

#include "app/config_block.h"
#include "archive_check.h"
#include "block_writer.h"
#include "file_io.h"
#include "image_identity.h"
#include "messages.h"
#include "pe_check.h"
#include "sfx_writer.h"

namespace {

// The file opened for reading with its size; null (after an error line) when it cannot be.
UniqueFile OpenInput(const std::string& path, uint64_t& size) {
    if (!FileSizeOf(path, size)) {
        PrintError("cannot read " + path + ": not a readable file");
        return nullptr;
    }
    UniqueFile file(fopen(path.c_str(), "rb"));
    if (!file) PrintError("cannot open " + path);
    return file;
}

// The bytes the stub's self-check covers: from the block's end to the end of the file,
// or to a certificate table that signing appended. Prints whether the file is signed.
uint64_t PrintSignatureAndCheckEnd(FILE* file, uint64_t size, uint64_t archiveStart) {
    const std::vector<uint8_t> page = HeaderPage(file);
    CertificateTable table{};
    if (!FindCertificateTable(page.data(), page.size(), table)) {
        printf("not signed\n");
        return size;
    }
    const uint64_t end = SelfCheckEnd(page.data(), page.size(), archiveStart, size);
    printf("signed: certificate table at offset %u, %u bytes%s\n", unsigned(table.offset), unsigned(table.size),
           end == table.offset ? "; the self-check stops there"
                               : ", not at the end of the file; the self-check covers it");
    return end;
}

// Where the stub's archive ends: at a certificate table that signing appended behind the
// block, as the stub reads its own file; else at the file's end. ZIP records inside the
// table are a sign of tampering: warned about, never listed as entries.
uint64_t ArchiveEndOf(FILE* file, uint64_t size, uint64_t archiveStart, std::vector<std::string>& warnings) {
    const std::vector<uint8_t> page = HeaderPage(file);
    CertificateTable table{};
    if (!FindCertificateTable(page.data(), page.size(), table) || table.offset < archiveStart || table.offset >= size)
        return size;
    std::vector<uint8_t> bytes(std::min<uint64_t>(size - table.offset, kMaxWholeFileSize));
    if (ReadAt(file, table.offset, bytes.data(), bytes.size())) {
        for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
            if (bytes[i] != 'P' || bytes[i + 1] != 'K' || bytes[i + 2] > 6 || bytes[i + 3] != bytes[i + 2] + 1) continue;
            warnings.push_back("the certificate table holds ZIP records (at offset " + std::to_string(table.offset + i) +
                               "): the file was changed after signing? The stub ignores them");
            break;
        }
    }
    return table.offset;
}

// The block behind the file's PE image, when there is a valid one.
bool ReadOwnBlock(FILE* file, uint64_t size, uint32_t& offset, ConfigBlock& block) {
    offset = LocateBlock(file, size);
    return offset != 0 && offset < size && ReadBlockAt(file, long(offset), block);
}

// The self-check's comparison, as the stub will make it.
void CheckArchiveCrc(FILE* file, uint64_t archiveStart, uint64_t checkEnd, uint32_t expected,
                     std::vector<std::string>& errors) {
    uint32_t crc = 0;
    char line[128];
    if (!CrcOf(file, archiveStart, checkEnd, crc)) {
        errors.push_back("cannot read the archive behind the block");
    } else if (crc != expected) {
        snprintf(line, sizeof line, "the archive's CRC-32 is %08x; the block expects %08x", unsigned(crc),
                 unsigned(expected));
        errors.push_back(line);
    } else {
        printf("archive CRC-32 %08x as expected\n", unsigned(crc));
    }
}

const char* VerdictText(Verdict v) {
    switch (v) {
        case Verdict::Ok: return "ok";
        case Verdict::CrcError: return "CRC error";
        case Verdict::Folder: return "folder";
        default: return "not verified";
    }
}

std::string VerdictReason(const ReaderEntry& e) {
    switch (e.verdict) {
        case Verdict::NoDecoder: return ": " + MethodName(e.record.method) + " has no decoder in this build";
        case Verdict::Encrypted: return ": encrypted; give --password to verify it";
        case Verdict::WrongPassword: return ": encrypted, and the password does not open it";
        default: return "";
    }
}

void PrintEntryTable(const std::vector<ReaderEntry>& entries) {
    printf("  method  compressed  uncompressed  CRC-32    flags   attr  name\n");
    for (const ReaderEntry& e : entries) {
        const EntryRecord& r = e.record;
        printf("  %6u  %10u  %12u  %08x  0x%04x  0x%02x  %s\n", unsigned(r.method), unsigned(r.compressedSize),
               unsigned(r.uncompressedSize), unsigned(r.crc32), unsigned(r.flags), unsigned(r.attributes),
               Printable(r.name).c_str());
    }
}

}  // namespace

int ShowFile(const Options& options) {
    uint64_t size = 0;
    UniqueFile file = OpenInput(options.input, size);
    if (!file) return kExitFailure;

    uint32_t blockOffset = 0;
    ConfigBlock block{};
    const bool hasBlock = ReadOwnBlock(file.get(), size, blockOffset, block);
    std::vector<std::string> warnings;
    const uint64_t end = hasBlock ? ArchiveEndOf(file.get(), size, uint64_t(blockOffset) + kBlockSize, warnings) : size;
    printf("%s\n", Printable(options.input).c_str());
    if (hasBlock) {
        const uint64_t archiveStart = uint64_t(blockOffset) + kBlockSize;
        printf("stub image %u bytes, block at offset %u, archive %llu bytes\n", unsigned(blockOffset),
               unsigned(blockOffset), static_cast<unsigned long long>(size - archiveStart));
        std::vector<uint8_t> image(blockOffset);
        if (ReadAt(file.get(), 0, image.data(), image.size())) PrintIdentity(image, stdout);
        printf("block:\n");
        PrintBlock(block, stdout);
        const uint64_t checkEnd = PrintSignatureAndCheckEnd(file.get(), size, archiveStart);
        uint32_t crc = 0;
        if (CrcOf(file.get(), archiveStart, checkEnd, crc))
            printf("CRC-32 of the archive: %08x%s\n", unsigned(crc),
                   block.expectedCrc == 0 ? "" : crc == block.expectedCrc ? " (as expected)" : " (NOT as expected)");
    }

    ZipLayout layout;
    std::string error;
    const bool hasLayout = ReadZipLayout(file.get(), end, layout, error);
    CheckRequest request;
    request.decode = false;
    request.end = end;
    const ArchiveReport report = CheckArchive(file.get(), hasLayout ? &layout : nullptr, request);
    printf("entries as the stub reads them:\n");
    PrintEntryTable(report.entries);
    printf("%zu entries\n", report.entries.size());
    fflush(stdout);

    PrintWarnings(warnings);
    PrintWarnings(report.warnings);
    if (!hasLayout) PrintError(options.input + ": " + error);
    PrintErrors(report.errors);
    if (!hasBlock) {
        PrintError(options.input + " is not a self-extracting file: no Configuration block behind a PE image");
        return kExitFailure;
    }
    return hasLayout && report.errors.empty() ? kExitOk : kExitFailure;
}

int TestFile(const Options& options) {
    uint64_t size = 0;
    UniqueFile file = OpenInput(options.input, size);
    if (!file) return kExitFailure;

    std::vector<std::string> errors, warnings;
    uint32_t blockOffset = 0;
    ConfigBlock block{};
    uint64_t end = size;
    if (ReadOwnBlock(file.get(), size, blockOffset, block)) {
        const uint64_t archiveStart = uint64_t(blockOffset) + kBlockSize;
        const uint64_t checkEnd = PrintSignatureAndCheckEnd(file.get(), size, archiveStart);
        if (block.expectedCrc != 0) CheckArchiveCrc(file.get(), archiveStart, checkEnd, block.expectedCrc, errors);
        end = ArchiveEndOf(file.get(), size, archiveStart, warnings);
    }

    ZipLayout layout;
    std::string error;
    if (!ReadZipLayout(file.get(), end, layout, error)) {
        PrintWarnings(warnings);
        PrintErrors(errors);
        PrintError(options.input + ": " + error);
        return kExitFailure;
    }
    CheckRequest request;
    request.password = options.passwordGiven ? options.password.c_str() : nullptr;
    request.end = end;
    const ArchiveReport report = CheckArchive(file.get(), &layout, request);

    size_t ok = 0, bad = 0, unverified = 0, folders = 0;
    for (const ReaderEntry& e : report.entries) {
        printf("%-13s %s%s\n", VerdictText(e.verdict), Printable(e.record.name).c_str(), VerdictReason(e).c_str());
        ok += e.verdict == Verdict::Ok;
        bad += e.verdict == Verdict::CrcError;
        folders += e.verdict == Verdict::Folder;
    }
    unverified = report.entries.size() - ok - bad - folders;
    printf("%zu entries: %zu ok, %zu CRC errors, %zu not verified, %zu folders\n", report.entries.size(), ok, bad,
           unverified, folders);
    fflush(stdout);

    PrintWarnings(warnings);
    PrintWarnings(report.warnings);
    errors.insert(errors.end(), report.errors.begin(), report.errors.end());
    PrintErrors(errors);
    if (!errors.empty()) return kExitFailure;
    return unverified == 0 ? kExitOk : kExitNotAllVerified;
}
