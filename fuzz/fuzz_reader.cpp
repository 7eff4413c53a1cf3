// Fuzzes the ZIP structure reader over arbitrary bytes, driven as the extraction loop
// drives it: find the central directory, then take entry after entry, each time moving
// from the entry's data start over its compressed size; entries that claim encryption
// go through the password check first. Besides the sanitizers, it stops on a broken
// promise of the reader: an entry it should have refused, a name without its
// terminator, an attributes byte with the volume bit, or a walk that does not move on.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "archive/crc32.h"
#include "archive/zip_reader.h"
#include "crypto/zip_crypto.h"

namespace {

void Require(bool condition) {
    if (!condition) abort();
}

void CheckEntry(const EntryRecord& entry) {
    Require(entry.method <= 9 && entry.method != 7);
    const char* end = static_cast<const char*>(memchr(entry.name, 0, kUtf8NameSize));
    Require(end != nullptr);
    if (!entry.utf8Name) Require(end == entry.name + entry.nameLength);  // whole, never cut
    Require((entry.attributes & ~0xF7u) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;  // fmemopen takes no empty buffer
    static bool tableBuilt = false;
    if (!tableBuilt) {
        BuildCrcTable();
        tableBuilt = true;
    }
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file) return 0;

    ZipReader reader{};
    reader.archive = file;
    if (FindCentralDirectory(reader) != 0) {
        Require(ftell(file) == 0);
        EntryRecord entry;
        long previous = -1;
        while (NextEntry(reader, entry)) {
            const long dataStart = ftell(file);
            Require(dataStart > previous);
            previous = dataStart;
            CheckEntry(entry);
            const uint64_t compressedSize = entry.compressedSize;  // before the check lowers it
            if (entry.flags & kFlagEncrypted) {
                Decryption d{};
                CheckPassword(d, file, "password", entry, reader.central);
            }
            // As the worker moves on: an entry that claims to reach past the central
            // directory (or wraps around) ends the walk there.
            uint64_t next = uint64_t(dataStart) + compressedSize;
            if (next < uint64_t(dataStart) || next > reader.centralStart) next = reader.centralStart;
            fseek(file, long(next), SEEK_SET);
        }
    }
    fclose(file);
    return 0;
}
