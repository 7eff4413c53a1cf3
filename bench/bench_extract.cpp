// Extraction throughput of any ZIP archives: every entry through the reader and
// DecodeEntry, as the worker does, into a null output, each CRC checked.
//
//   bench_extract [--runs N] [--password P] ARCHIVE...
//
// Prints, per archive and in total: entries, bytes out, median seconds and MB/s of output
// over the runs (MB = 10^6 bytes), and the process's peak resident memory.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/crc32.h"
#include "archive/zip_reader.h"
#include "codecs/decode_entry.h"
#include "crypto/zip_crypto.h"

namespace {

double Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

long PeakKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

struct Pass {
    uint64_t entries = 0, bytes = 0, crcErrors = 0, skipped = 0;
    std::map<int, uint64_t> bytesByMethod;
};

// One pass over the archive. False when it cannot be read.
bool ExtractAll(const char* path, const char* password, FILE* sink, uint8_t* work, Pass& pass) {
    FILE* archive = fopen(path, "rb");
    if (!archive) return false;
    ZipReader reader{};
    reader.archive = archive;
    if (FindCentralDirectory(reader) == 0) {
        fclose(archive);
        return false;
    }
    volatile int cancel = 0;
    StreamHost host{&cancel, nullptr, nullptr};
    auto s = std::make_unique<EntryStream>();
    EntryRecord entry{};
    while (NextEntry(reader, entry)) {
        const long next = ftell(archive) + long(entry.compressedSize);
        *s = EntryStream{};
        s->archive = archive;
        s->output = sink;
        s->host = &host;
        const bool encrypted = entry.flags & kFlagEncrypted;
        if (!HasDecoder(entry.method) || (encrypted && !password) ||
            !CheckPassword(s->decryption, archive, encrypted ? password : nullptr, entry, reader.central)) {
            ++pass.skipped;
        } else {
            ResetRunningCrc(*s);
            BeginEntryData(*s);
            DecodeEntry(*s, entry, work);
            ++pass.entries;
            pass.bytes += entry.uncompressedSize;
            pass.bytesByMethod[entry.method] += entry.uncompressedSize;
            if (s->runningCrc != entry.crc32) ++pass.crcErrors;
        }
        if (fseek(archive, next, SEEK_SET) != 0) break;
    }
    fclose(archive);
    return true;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    const char* password = nullptr;
    std::vector<const char*> archives;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--runs") && i + 1 < argc) runs = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--password") && i + 1 < argc) password = argv[++i];
        else archives.push_back(argv[i]);
    }
    if (archives.empty() || runs < 1) {
        fprintf(stderr, "usage: %s [--runs N] [--password P] ARCHIVE...\n", argv[0]);
        return 2;
    }
    BuildCrcTable();
    FILE* sink = fopen("/dev/null", "wb");
    std::vector<uint8_t> work(kWorkBufferSize);
    int status = 0;
    std::vector<double> totalSeconds(size_t(runs), 0);
    uint64_t totalBytes = 0;
    printf("%-40s %8s %12s %9s %10s  %s\n", "archive", "entries", "bytes out", "seconds", "MB/s",
           "methods (bytes)");
    for (const char* path : archives) {
        std::vector<double> seconds;
        Pass pass;
        for (int run = 0; run < runs; ++run) {
            pass = Pass{};
            const double start = Now();
            if (!ExtractAll(path, password, sink, work.data(), pass)) {
                fprintf(stderr, "%s: cannot read the archive\n", path);
                return 1;
            }
            seconds.push_back(Now() - start);
            totalSeconds[size_t(run)] += seconds.back();
        }
        std::string methods;
        for (auto [method, bytes] : pass.bytesByMethod)
            methods += std::to_string(method) + ":" + std::to_string(bytes) + " ";
        printf("%-40s %8llu %12llu %9.3f %10.1f  %s\n", path, (unsigned long long)pass.entries,
               (unsigned long long)pass.bytes, Median(seconds), double(pass.bytes) / Median(seconds) / 1e6,
               methods.c_str());
        if (pass.crcErrors) {
            fprintf(stderr, "%s: %llu CRC errors\n", path, (unsigned long long)pass.crcErrors);
            status = 1;
        }
        if (pass.skipped) fprintf(stderr, "%s: %llu entries skipped\n", path, (unsigned long long)pass.skipped);
        totalBytes += pass.bytes;
    }
    printf("%-40s %8s %12llu %9.3f %10.1f\n", "total", "", (unsigned long long)totalBytes, Median(totalSeconds),
           double(totalBytes) / Median(totalSeconds) / 1e6);
    printf("peak memory: %ld KiB\n", PeakKiB());
    fclose(sink);
    return status;
}
