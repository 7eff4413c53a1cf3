// Fuzz target: raw Inflate of arbitrary bytes. The first byte chooses: bit 0 method 9
// (else 8), bit 1 one more byte of "archive" behind the stream, bit 2 the stream
// enciphered (the bytes are deciphered with a fixed password's keys).
//
// Each input runs through the decoder and through the byte-at-a-time reference decoder of
// the tests; both must make the same sink calls (sizes, archive positions, running CRC)
// and agree on success. Output is bounded: the Cancel state is set during the 16th sink
// call (1 MiB), which both decoders then honour.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <vector>

#include "../tests/native/inflate_reference.h"
#include "archive/crc32.h"
#include "codecs/entry_stream.h"
#include "codecs/inflate.h"

namespace {

constexpr int kMaxSinkCalls = 16;

struct Recorder {
    EntryStream* stream;
    std::vector<inflate_reference::SinkCall> calls;
    long written, lastSize;  // bytes the output took, and at the last call
    volatile int* cancel;
};

void RecordProgress(void* context, uint32_t kib) {
    Recorder& r = *static_cast<Recorder*>(context);
    const long size = r.written;
    const long position = long(ArchivePosition(*r.stream));
    if (long(kib) != position / 1024) abort();
    r.calls.push_back({uint32_t(size - r.lastSize), position, r.stream->runningCrc});
    r.lastSize = size;
    if (r.calls.size() == kMaxSinkCalls) *r.cancel = 100;
}

// An output that only counts what is written into `*cookie` (a long).
ssize_t CountWrite(void* cookie, const char*, size_t size) {
    *static_cast<long*>(cookie) += long(size);
    return ssize_t(size);
}

FILE* OpenCounter(long* written) {
    static const cookie_io_functions_t kCounter = {nullptr, CountWrite, nullptr, nullptr};
    FILE* f = fopencookie(written, "wb", kCounter);
    if (f) setvbuf(f, nullptr, _IONBF, 0);
    return f;
}

FILE* Open(const std::vector<uint8_t>& image) {
    return fmemopen(const_cast<uint8_t*>(image.data()), image.size(), "rb");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static bool ready = false;
    if (!ready) {
        BuildCrcTable();
        ready = true;
    }
    const bool deflate64 = data[0] & 1;
    std::vector<uint8_t> image(data + 1, data + size);
    if (data[0] & 2) image.push_back(0x50);  // a byte after the stream, as in an archive
    Decryption keys{};
    if (data[0] & 4) {
        keys = {1, 0x12345678u, 0x23456789u, 0x34567890u};
        for (const char* p = "fuzz"; *p; ++p) UpdateKeys(keys, uint8_t(*p));
    }

    // The decoder under test.
    volatile int cancel = 0;
    auto s = std::make_unique<EntryStream>();
    Recorder rec{s.get(), {}, 0, 0, &cancel};
    FILE* archive = Open(image);
    FILE* output = OpenCounter(&rec.written);
    if (!archive || !output) abort();
    StreamHost host{&cancel, RecordProgress, &rec};
    s->archive = archive;
    s->output = output;
    s->host = &host;
    s->decryption = keys;
    ResetRunningCrc(*s);
    BeginEntryData(*s);
    const int result = InflateBlocks(*s, deflate64);
    fclose(archive);
    fclose(output);

    // The reference.
    FILE* again = Open(image);
    if (!again) abort();
    volatile int refCancel = 0;
    int refCalls = 0;
    inflate_reference::Inflater ref;
    ref.file = again;
    ref.deflate64 = deflate64;
    ref.keys = &keys;
    ref.cancel = &refCancel;
    ref.onSink = [&](const inflate_reference::SinkCall&) {
        if (++refCalls == kMaxSinkCalls) refCancel = 100;
    };
    const inflate_reference::Outcome out = ref.Run();
    fclose(again);

    if (!(rec.calls == out.calls)) {
        fprintf(stderr, "sink calls differ: %zu against the reference's %zu\n", rec.calls.size(), out.calls.size());
        for (size_t i = 0; i < rec.calls.size() || i < out.calls.size(); ++i) {
            if (i < rec.calls.size())
                fprintf(stderr, "  ours %u @%ld crc %08x", rec.calls[i].count, rec.calls[i].position, rec.calls[i].runningCrc);
            if (i < out.calls.size())
                fprintf(stderr, "  reference %u @%ld crc %08x", out.calls[i].count, out.calls[i].position, out.calls[i].runningCrc);
            fprintf(stderr, "\n");
        }
        abort();
    }
    const int expected = out.overran ? kInflateBadData : out.result;
    if (result != expected) {
        fprintf(stderr, "result %d, the reference's %d (overran %d)\n", result, out.result, int(out.overran));
        abort();
    }
    return 0;
}
