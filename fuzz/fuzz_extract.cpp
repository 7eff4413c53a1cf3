// Fuzzes a whole extraction natively: one input is an archive, walked as the worker walks
// it; every entry goes through the password check, its decoder into memory and the entry
// name rules. Besides the sanitizers it stops on a broken promise of the run:
//  - an entry writes more than its declared size, or went past it unnoticed;
//  - an entry begins at or after the central directory, or behind the archive's end;
//  - a prepared name still holds a parent reference ("..\"); the rest of the guard
//    (the system's own resolution of the path) is Windows code, tested there.
// Output is bounded: the Cancel state is set at the 64th sink call, as a user would.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "archive/crc32.h"
#include "archive/file_position.h"
#include "archive/zip_reader.h"
#include "codecs/decode_entry.h"
#include "crypto/zip_crypto.h"
#include "paths/entry_names.h"

namespace {

void Require(bool condition) {
    if (!condition) abort();
}

struct Run {
    EntryStream stream;
    uint64_t written;  // bytes the current entry's output took
    int sinkCalls;
    volatile int cancel;
};

void CountSinkCall(void* context, uint32_t) {
    Run& run = *static_cast<Run*>(context);
    if (++run.sinkCalls == 64) run.cancel = 100;
}

ssize_t CountWrite(void* cookie, const char*, size_t size) {
    static_cast<Run*>(cookie)->written += size;
    return ssize_t(size);
}

void CheckName(const EntryRecord& entry) {
    char name[kUtf8NameSize];
    memcpy(name, entry.name, sizeof name);
    PrepareEntryName(name);
    Require(strstr(name, "..\\") == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;  // fmemopen takes no empty buffer
    BuildCrcTable();
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file) return 0;
    static Run run;
    memset(&run, 0, sizeof run);
    static const cookie_io_functions_t kCounter = {nullptr, CountWrite, nullptr, nullptr};
    FILE* output = fopencookie(&run, "wb", kCounter);
    setvbuf(output, nullptr, _IONBF, 0);
    StreamHost host{&run.cancel, CountSinkCall, &run};
    run.stream.archive = file;
    run.stream.output = output;
    run.stream.host = &host;
    static uint8_t work[kWorkBufferSize];

    ZipReader reader{};
    reader.archive = file;
    if (FindCentralDirectory(reader)) {
        Require(reader.centralStart <= reader.end && reader.end == size);
        EntryRecord entry;
        int64_t previous = -1;
        while (run.cancel == 0 && NextEntry(reader, entry)) {
            Require(reader.entryStart < reader.centralStart);
            const int64_t dataStart = PositionOf(file);
            Require(dataStart > previous);
            previous = dataStart;
            CheckName(entry);
            uint64_t next = uint64_t(dataStart) + entry.compressedSize;  // before the check lowers it
            const uint64_t declared = entry.uncompressedSize;
            run.written = 0;
            ResetRunningCrc(run.stream);
            if (CheckPassword(run.stream.decryption, file, entry.flags & kFlagEncrypted ? "password" : nullptr, entry,
                              reader.central)) {
                BeginEntryData(run.stream);
                DecodeEntry(run.stream, entry, work);
                Require(run.written <= declared);
            }
            if (next > reader.centralStart || next < uint64_t(dataStart)) next = reader.centralStart;
            if (!SeekTo(file, next)) break;
        }
    }
    fclose(output);
    fclose(file);
    return 0;
}
