// The archive as the stub will see it: its own reader walks the file from the first
// byte, its own decoders decode each entry into nothing, and the running CRC of the
// output is compared with the entry's, exactly as the stub's worker does. What the
// reader finds is then compared with the central directory (read by its offsets), so
// that entries the stub would miss, or pair with the wrong central record, are named.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "archive/zip_reader.h"
#include "zip_layout.h"

enum class Verdict {
    NotDecoded,     // the walk was asked only to list
    Ok,             // decoded, CRC-32 matches
    CrcError,       // decoded, CRC-32 differs
    NoDecoder,      // this build has no decoder for the method yet
    Encrypted,      // no password given
    WrongPassword,  // the given password does not open it
    Folder,         // a folder entry: the stub writes no data for it
};

// One entry as the stub's reader handed it out.
struct ReaderEntry {
    EntryRecord record;          // before a password lowers the compressed size
    uint64_t dataStart;          // first byte of the entry's data (behind any encryption header)
    bool paired;                 // the reader matched a central record for it
    uint64_t pairedRecord;       // position of that central record
    Verdict verdict;
    uint32_t decodedCrc;         // when decoded
};

struct ArchiveReport {
    bool stubFindsArchive = false;  // the stub finds an end record and its central directory
    uint64_t stubCentralStart = 0;  // where it takes the central directory to begin
    std::vector<ReaderEntry> entries;
    std::vector<std::string> errors;    // the stub would fail on these
    std::vector<std::string> warnings;  // the stub would not honour these as written
};

struct CheckRequest {
    bool decode = true;              // false: list only
    const char* password = nullptr;  // for encrypted entries; null: not verifiable
    uint64_t end = 0;                // where the archive ends, as the stub takes it; 0: the file's end
};

// Walks `file` with the stub's reader (and decoders when asked) and compares the result
// with `layout`, the same file's central directory, when there is one (else null).
ArchiveReport CheckArchive(FILE* file, const ZipLayout* layout, const CheckRequest& request);

// "stored", "deflated", ... for the methods the stub knows; what others usually are.
std::string MethodName(uint32_t method);
