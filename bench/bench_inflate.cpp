// Raw Deflate decoding speed: the same streams through our Inflate, zlib's inflate and
// libdeflate. The streams are the method 8 entries of the archives given.
//
//   bench_inflate [--runs N] ARCHIVE...
//
// Ours runs as the worker runs it: input through the entry stream from a FILE (here an
// in-memory one), output through the Output sink, which folds every byte into the
// Running CRC and writes it to /dev/null. zlib is timed alone and followed by the same
// CRC as ours (UpdateCrc), so that one row does the same work; libdeflate alone.
// Prints median MB/s of output (MB = 10^6 bytes) and time ratios.
#include <libdeflate.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/crc32.h"
#include "archive/zip_reader.h"
#include "codecs/entry_stream.h"
#include "codecs/inflate.h"

namespace {

struct Stream {
    std::vector<uint8_t> compressed;
    uint32_t size, crc;
};

double Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The raw streams of the archive's unencrypted method 8 entries.
bool ReadStreams(const char* path, std::vector<Stream>& streams) {
    FILE* archive = fopen(path, "rb");
    if (!archive) return false;
    ZipReader reader{};
    reader.archive = archive;
    std::vector<uint8_t> window(kScanWindowSize);
    EntryRecord entry{};
    const bool found = FindCentralDirectory(reader) != 0;
    while (found && NextEntry(reader, entry, window.data())) {
        const long start = ftell(archive);
        if (entry.method == 8 && !(entry.flags & kFlagEncrypted)) {
            Stream s{std::vector<uint8_t>(entry.compressedSize), uint32_t(entry.uncompressedSize), entry.crc32};
            if (fread(s.compressed.data(), 1, s.compressed.size(), archive) != s.compressed.size()) break;
            streams.push_back(std::move(s));
        }
        if (fseek(archive, start + long(entry.compressedSize), SEEK_SET) != 0) break;
    }
    fclose(archive);
    return found;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Median seconds of `runs` runs of `decode` over all streams; false from decode aborts.
double Time(int runs, const std::vector<Stream>& streams, const std::function<bool(const Stream&)>& decode,
            const char* name) {
    std::vector<double> seconds;
    for (int run = 0; run < runs; ++run) {
        const double start = Now();
        for (const Stream& s : streams) {
            if (!decode(s)) {
                fprintf(stderr, "%s: wrong output\n", name);
                exit(1);
            }
        }
        seconds.push_back(Now() - start);
    }
    return Median(seconds);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    std::vector<Stream> streams;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--runs") && i + 1 < argc) {
            runs = atoi(argv[++i]);
        } else if (!ReadStreams(argv[i], streams)) {
            fprintf(stderr, "%s: cannot read the archive\n", argv[i]);
            return 1;
        }
    }
    if (streams.empty() || runs < 1) {
        fprintf(stderr, "usage: %s [--runs N] ARCHIVE... (with method 8 entries)\n", argv[0]);
        return 2;
    }
    BuildCrcTable();
    uint64_t total = 0, compressed = 0;
    uint32_t largest = 0;
    for (const Stream& s : streams) {
        total += s.size;
        compressed += s.compressed.size();
        largest = std::max(largest, s.size);
    }

    FILE* sink = fopen("/dev/null", "wb");
    volatile int cancel = 0;
    StreamHost host{&cancel, nullptr, nullptr};
    auto entry = std::make_unique<EntryStream>();
    const double ours = Time(runs, streams, [&](const Stream& s) {
        FILE* in = fmemopen(const_cast<uint8_t*>(s.compressed.data()), s.compressed.size(), "rb");
        *entry = EntryStream{};
        entry->archive = in;
        entry->output = sink;
        entry->host = &host;
        ResetRunningCrc(*entry);
        BeginEntryData(*entry);
        const int result = InflateBlocks(*entry, false);
        fclose(in);
        return result == kInflateOk && entry->runningCrc == s.crc;
    }, "ours");

    // zlib, streaming through a 64 KiB output buffer as a decoder feeding a file would.
    std::vector<uint8_t> chunk(0x10000);
    z_stream z{};
    inflateInit2(&z, -15);
    auto zlibDecode = [&](const Stream& s, bool withCrc) {
        inflateReset(&z);
        z.next_in = const_cast<uint8_t*>(s.compressed.data());
        z.avail_in = uInt(s.compressed.size());
        uint32_t crc = 0;
        uint64_t out = 0;
        int status;
        do {
            z.next_out = chunk.data();
            z.avail_out = uInt(chunk.size());
            status = inflate(&z, Z_NO_FLUSH);
            const uint32_t got = uint32_t(chunk.size() - z.avail_out);
            if (withCrc) crc = UpdateCrc(crc, chunk.data(), got);
            out += got;
        } while (status == Z_OK);
        return status == Z_STREAM_END && out == s.size && (!withCrc || crc == s.crc);
    };
    const double zlibAlone = Time(runs, streams, [&](const Stream& s) { return zlibDecode(s, false); }, "zlib");
    const double zlibCrc = Time(runs, streams, [&](const Stream& s) { return zlibDecode(s, true); }, "zlib+crc");
    inflateEnd(&z);

    std::vector<uint8_t> whole(largest);
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    const double libdeflate = Time(runs, streams, [&](const Stream& s) {
        size_t got = 0;
        return libdeflate_deflate_decompress(d, s.compressed.data(), s.compressed.size(), whole.data(), s.size, &got) ==
                   LIBDEFLATE_SUCCESS &&
               got == s.size;
    }, "libdeflate");
    libdeflate_free_decompressor(d);

    // The CRC alone, to tell decoding from checking in the rows above.
    std::vector<uint8_t> block(0x10000, 0x5A);
    const double crcOnly = Time(runs, streams, [&](const Stream& s) {
        uint32_t crc = 0;
        for (uint32_t left = s.size; left > 0;) {
            const uint32_t n = std::min<uint32_t>(left, 0x10000);
            crc = UpdateCrc(crc, block.data(), n);
            left -= n;
        }
        return crc != 1;
    }, "crc");

    const double mb = double(total) / 1e6;
    printf("%zu streams, %.1f MB out of %.1f MB compressed, median of %d runs\n", streams.size(), mb,
           double(compressed) / 1e6, runs);
    printf("%-34s %9s %10s %14s\n", "decoder", "seconds", "MB/s", "ours / it (time)");
    auto row = [&](const char* name, double seconds) {
        printf("%-34s %9.3f %10.1f %14.2f\n", name, seconds, mb / seconds, ours / seconds);
    };
    row("ours (Inflate + sink CRC + write)", ours);
    row("zlib inflate", zlibAlone);
    row("zlib inflate + the same CRC", zlibCrc);
    row("libdeflate", libdeflate);
    row("the CRC alone (UpdateCrc)", crcOnly);
    fclose(sink);
    return 0;
}
