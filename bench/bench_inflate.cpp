// Raw Deflate decoding speed: the same streams through our Inflate, zlib's inflate and
// libdeflate. The streams are the method 8 entries of the archives given; the method 9
// entries (the same files as Deflate64, say) go through our Inflate only, since neither
// anchor reads Deflate64, and compare with the anchors on the method 8 streams when both
// hold the same bytes.
//
//   bench_inflate [--runs N] ARCHIVE...
//
// Ours runs as the worker runs it: input through the entry stream from a FILE (here an
// in-memory one), output through the Output sink, which folds every byte into the
// Running CRC and writes it to /dev/null. zlib is timed alone and followed by the same
// CRC as ours (UpdateCrc), so that one row does the same work; libdeflate alone and
// followed by its own CRC (libdeflate_crc32). The decoders take turns in each run, timed
// in processor time (see Race). Prints median MB/s of output (MB = 10^6 bytes) and time
// ratios, then `result NAME SECONDS` lines for bench/run.sh.
#include <libdeflate.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <map>
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

struct Streams {
    std::vector<Stream> deflate, deflate64;  // methods 8 and 9
};

// The thread's processor time: every row runs in this thread, and on a machine shared
// with other work the wall clock measures the others too.
double Now() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The raw streams of the archive's unencrypted method 8 and 9 entries.
bool ReadStreams(const char* path, Streams& streams) {
    FILE* archive = fopen(path, "rb");
    if (!archive) return false;
    ZipReader reader{};
    reader.archive = archive;
    EntryRecord entry{};
    const bool found = FindCentralDirectory(reader) != 0;
    while (found && NextEntry(reader, entry)) {
        const long start = ftell(archive);
        if ((entry.method == 8 || entry.method == 9) && !(entry.flags & kFlagEncrypted)) {
            Stream s{std::vector<uint8_t>(entry.compressedSize), uint32_t(entry.uncompressedSize), entry.crc32};
            if (fread(s.compressed.data(), 1, s.compressed.size(), archive) != s.compressed.size()) break;
            (entry.method == 8 ? streams.deflate : streams.deflate64).push_back(std::move(s));
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

// One decoder over its streams; false from decode aborts.
struct Contestant {
    const char* name;
    const std::vector<Stream>* streams;
    std::function<bool(const Stream&)> decode;
    std::vector<double> seconds;
};

// `runs` rounds in which every contestant decodes its streams once, in turn, so that what
// else the machine does weighs on all of them alike. Median seconds of each, by name.
std::map<std::string, double> Race(int runs, std::vector<Contestant>& contestants) {
    for (int run = 0; run < runs; ++run) {
        for (Contestant& c : contestants) {
            const double start = Now();
            for (const Stream& s : *c.streams) {
                if (!c.decode(s)) {
                    fprintf(stderr, "%s: wrong output\n", c.name);
                    exit(1);
                }
            }
            c.seconds.push_back(Now() - start);
        }
    }
    std::map<std::string, double> medians;
    for (Contestant& c : contestants) medians[c.name] = Median(c.seconds);
    return medians;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    Streams all;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--runs") && i + 1 < argc) {
            runs = atoi(argv[++i]);
        } else if (!ReadStreams(argv[i], all)) {
            fprintf(stderr, "%s: cannot read the archive\n", argv[i]);
            return 1;
        }
    }
    const std::vector<Stream>& streams = all.deflate;
    if (streams.empty() || runs < 1) {
        fprintf(stderr, "usage: %s [--runs N] ARCHIVE... (with method 8 entries)\n", argv[0]);
        return 2;
    }
    BuildCrcTable();
    uint64_t total = 0, compressed = 0, total64 = 0;
    uint32_t largest = 0;
    for (const Stream& s : streams) {
        total += s.size;
        compressed += s.compressed.size();
        largest = std::max(largest, s.size);
    }
    for (const Stream& s : all.deflate64) total64 += s.size;

    FILE* sink = fopen("/dev/null", "wb");
    volatile int cancel = 0;
    StreamHost host{&cancel, nullptr, nullptr};
    auto entry = std::make_unique<EntryStream>();
    auto oursDecode = [&](const Stream& s, bool deflate64) {
        FILE* in = fmemopen(const_cast<uint8_t*>(s.compressed.data()), s.compressed.size(), "rb");
        *entry = EntryStream{};
        entry->archive = in;
        entry->output = sink;
        entry->host = &host;
        ResetRunningCrc(*entry);
        BeginEntryData(*entry);
        const int result = InflateBlocks(*entry, deflate64);
        fclose(in);
        return result == kInflateOk && entry->runningCrc == s.crc;
    };

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

    std::vector<uint8_t> whole(largest);
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    auto libdeflateDecode = [&](const Stream& s, bool withCrc) {
        size_t got = 0;
        return libdeflate_deflate_decompress(d, s.compressed.data(), s.compressed.size(), whole.data(), s.size, &got) ==
                   LIBDEFLATE_SUCCESS &&
               got == s.size && (!withCrc || libdeflate_crc32(0, whole.data(), got) == s.crc);
    };
    // The Deflate streams of the files that are also there as Deflate64 (a writer may
    // store some files instead): the anchor for our Deflate64 row, over the same output.
    std::vector<Stream> twins;
    uint64_t twinBytes = 0;
    for (const Stream& s64 : all.deflate64)
        for (const Stream& s : streams)
            if (s.size == s64.size && s.crc == s64.crc) {
                twins.push_back(s);
                twinBytes += s.size;
                break;
            }
    // The CRC alone, to tell decoding from checking in the rows above.
    std::vector<uint8_t> block(0x10000, 0x5A);
    auto crcAlone = [&](const Stream& s) {
        uint32_t crc = 0;
        for (uint32_t left = s.size; left > 0;) {
            const uint32_t n = std::min<uint32_t>(left, 0x10000);
            crc = UpdateCrc(crc, block.data(), n);
            left -= n;
        }
        return crc != 1;
    };

    std::vector<Contestant> contestants = {
        {"ours", &streams, [&](const Stream& s) { return oursDecode(s, false); }, {}},
        {"zlib", &streams, [&](const Stream& s) { return zlibDecode(s, false); }, {}},
        {"zlib+crc", &streams, [&](const Stream& s) { return zlibDecode(s, true); }, {}},
        {"libdeflate", &streams, [&](const Stream& s) { return libdeflateDecode(s, false); }, {}},
        {"libdeflate+crc", &streams, [&](const Stream& s) { return libdeflateDecode(s, true); }, {}},
        {"crc", &streams, crcAlone, {}},
    };
    if (!all.deflate64.empty()) {
        contestants.push_back({"ours64", &all.deflate64, [&](const Stream& s) { return oursDecode(s, true); }, {}});
        if (!twins.empty())
            contestants.push_back({"twins", &twins, [&](const Stream& s) { return libdeflateDecode(s, true); }, {}});
    }
    std::map<std::string, double> t = Race(runs, contestants);
    inflateEnd(&z);
    libdeflate_free_decompressor(d);
    const double ours = t["ours"], zlibAlone = t["zlib"], zlibCrc = t["zlib+crc"], libdeflate = t["libdeflate"];
    const double libdeflateCrc = t["libdeflate+crc"], crcOnly = t["crc"];
    const double ours64 = all.deflate64.empty() ? 0 : t["ours64"], libdeflateCrc64 = twins.empty() ? 0 : t["twins"];

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
    row("libdeflate + libdeflate_crc32", libdeflateCrc);
    row("the CRC alone (UpdateCrc)", crcOnly);
    const bool sameFiles = ours64 > 0 && twins.size() == all.deflate64.size() && twinBytes == total64;
    if (ours64 > 0) {
        printf("%zu Deflate64 streams, %.1f MB out: ours %.3f s, %.1f MB/s", all.deflate64.size(),
               double(total64) / 1e6, ours64, double(total64) / 1e6 / ours64);
        if (sameFiles)
            printf("; libdeflate + libdeflate_crc32 on the Deflate streams of the same files %.3f s (%.2f)\n",
                   libdeflateCrc64, ours64 / libdeflateCrc64);
        else
            printf(" (not all of them there as Deflate: no ratio)\n");
    }
    printf("result ours %.4f\nresult zlib %.4f\nresult zlib_crc %.4f\nresult libdeflate %.4f\n"
           "result libdeflate_crc %.4f\n", ours, zlibAlone, zlibCrc, libdeflate, libdeflateCrc);
    if (sameFiles) printf("result ours64 %.4f\nresult libdeflate_crc64 %.4f\n", ours64, libdeflateCrc64);
    fclose(sink);
    return 0;
}
