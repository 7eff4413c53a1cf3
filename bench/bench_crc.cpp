// CRC-32 throughput: UpdateCrc beside zlib's crc32 (and libdeflate's, and the plain
// byte-at-a-time loop through CrcStep) on the same buffers.
//
//   bench_crc [runs]   sizes 4 KiB, 64 KiB and 16 MiB; each run repeats the call until
//                      about 64 MiB have passed; the median run is reported, then
//                      `result crc_<size>_<ours|zlib> MB/s` lines for bench/run.sh.
#include <libdeflate.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <zlib.h>

#include <algorithm>
#include <vector>

#include "archive/crc32.h"

namespace {

// The thread's processor time: every row runs in this thread, and on a machine shared
// with other work the wall clock measures the others too.
double Now() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

uint32_t ByteAtATime(uint32_t crc, const uint8_t* data, size_t size) {
    uint32_t reg = ~crc;
    for (size_t i = 0; i < size; ++i) reg = CrcStep(reg, data[i]);
    return ~reg;
}

using CrcFunction = uint32_t (*)(uint32_t, const uint8_t*, size_t);

uint32_t Ours(uint32_t crc, const uint8_t* data, size_t size) { return UpdateCrc(crc, data, size); }
uint32_t Zlib(uint32_t crc, const uint8_t* data, size_t size) { return uint32_t(crc32(crc, data, uInt(size))); }
uint32_t Libdeflate(uint32_t crc, const uint8_t* data, size_t size) { return libdeflate_crc32(crc, data, size); }

volatile uint32_t g_sink;

// Median throughput in MB/s (10^6 bytes per second) over `runs` runs.
double Throughput(CrcFunction f, const std::vector<uint8_t>& buffer, int runs) {
    const size_t repeats = std::max<size_t>(1, (64u << 20) / buffer.size());
    std::vector<double> rates;
    for (int run = 0; run < runs; ++run) {
        uint32_t crc = 0;
        const double start = Now();
        for (size_t i = 0; i < repeats; ++i) crc = f(crc, buffer.data(), buffer.size());
        const double seconds = Now() - start;
        g_sink = crc;
        rates.push_back(double(buffer.size()) * double(repeats) / seconds / 1e6);
    }
    std::sort(rates.begin(), rates.end());
    return rates[rates.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? atoi(argv[1]) : 7;
    BuildCrcTable();
    printf("CRC-32 throughput, MB/s, median of %d runs\n", runs);
    printf("%10s %12s %12s %12s %12s %14s %16s\n", "size", "UpdateCrc", "zlib", "libdeflate", "byte-wise",
           "UpdateCrc/zlib", "UpdateCrc/byte");
    char results[512] = "";
    for (size_t size : {size_t(4) << 10, size_t(64) << 10, size_t(16) << 20}) {
        std::vector<uint8_t> buffer(size);
        uint32_t x = 12345;
        for (auto& b : buffer) b = uint8_t((x = x * 1103515245u + 12345u) >> 16);
        const uint32_t expected = Zlib(0, buffer.data(), size);
        if (Ours(0, buffer.data(), size) != expected || Libdeflate(0, buffer.data(), size) != expected ||
            ByteAtATime(0, buffer.data(), size) != expected) {
            fprintf(stderr, "CRC mismatch at %zu bytes\n", size);
            return 1;
        }
        const double ours = Throughput(Ours, buffer, runs);
        const double zlib = Throughput(Zlib, buffer, runs);
        const double libdeflate = Throughput(Libdeflate, buffer, runs);
        const double byteWise = Throughput(ByteAtATime, buffer, runs);
        printf("%8zu K %12.0f %12.0f %12.0f %12.0f %14.2f %16.2f\n", size >> 10, ours, zlib, libdeflate, byteWise,
               ours / zlib, ours / byteWise);
        const size_t used = strlen(results);
        snprintf(results + used, sizeof results - used, "result crc_%zuk_ours %.0f\nresult crc_%zuk_zlib %.0f\n",
                 size >> 10, ours, size >> 10, zlib);
    }
    fputs(results, stdout);
    return 0;
}
