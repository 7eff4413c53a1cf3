// What the fuzz targets of Unshrink, Unreduce and Explode share: an input layout and a
// run of one decoder over a memory stream, with the output counted rather than kept.
//
// Input: uncompressed size (4 bytes, little-endian, taken modulo 1 MiB so that runs stay
// short), a control byte (its low 2 bits choose the variant, its high 6 bits a sink call
// after which the Cancel state is set, 0 for never), then the compressed stream.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "archive/crc32.h"
#include "codecs/entry_stream.h"

namespace fuzzing {

constexpr size_t kHeaderSize = 5;
constexpr uint32_t kMaxSize = 1u << 20;

inline void Require(bool condition) {
    if (!condition) abort();
}

struct Input {
    uint32_t uncompressedSize;
    int variant;      // 0 to 3
    int cancelAfter;  // 0: never
    const uint8_t* stream;
    size_t streamSize;
};

inline bool ParseInput(const uint8_t* data, size_t size, Input& in) {
    if (size <= kHeaderSize) return false;  // fmemopen takes no empty buffer
    in.uncompressedSize = (data[0] | data[1] << 8 | data[2] << 16 | uint32_t(data[3]) << 24) % kMaxSize;
    in.variant = data[4] & 3;
    in.cancelAfter = data[4] >> 2;
    in.stream = data + kHeaderSize;
    in.streamSize = size - kHeaderSize;
    return true;
}

inline std::vector<uint8_t> MakeInput(uint32_t uncompressedSize, int variant, int cancelAfter,
                                      const std::vector<uint8_t>& stream) {
    std::vector<uint8_t> in = {uint8_t(uncompressedSize), uint8_t(uncompressedSize >> 8),
                               uint8_t(uncompressedSize >> 16), uint8_t(uncompressedSize >> 24),
                               uint8_t(variant | cancelAfter << 2)};
    in.insert(in.end(), stream.begin(), stream.end());
    return in;
}

struct Call {
    uint64_t bytesBefore;  // output written before this call
    uint64_t size;
    long position;
    bool operator==(const Call& o) const {
        return bytesBefore == o.bytesBefore && size == o.size && position == o.position;
    }
};

struct Outcome {
    std::vector<Call> calls;
    uint64_t bytes = 0;
    uint32_t crc = 0;
    int result = 0;
    int endOfInput = 0;
    long endPosition = 0;
    bool operator==(const Outcome& o) const {
        return calls == o.calls && bytes == o.bytes && crc == o.crc && result == o.result &&
               endOfInput == o.endOfInput && endPosition == o.endPosition;
    }
};

namespace detail {
struct State {
    EntryStream* stream;
    Outcome* outcome;
    uint64_t written;  // by the output stream, unbuffered
    int cancelAfter;
    int cancel;
};
inline ssize_t CountWrite(void* cookie, const char*, size_t size) {
    static_cast<State*>(cookie)->written += size;
    return ssize_t(size);
}
inline void Report(void* context, uint32_t) {
    State& st = *static_cast<State*>(context);
    Outcome& o = *st.outcome;
    const uint64_t before = o.calls.empty() ? 0 : o.calls.back().bytesBefore + o.calls.back().size;
    o.calls.push_back({before, st.written - before, long(ArchivePosition(*st.stream))});
    if (st.cancelAfter > 0 && int(o.calls.size()) >= st.cancelAfter) st.cancel = 100;
}
}  // namespace detail

// Runs `decoder(stream, work)` over the input's stream.
template <typename Decoder>
Outcome Run(const Input& in, Decoder decoder) {
    static bool tableBuilt = false;
    if (!tableBuilt) {
        BuildCrcTable();
        tableBuilt = true;
    }
    static uint8_t work[kWorkBufferSize];
    static EntryStream s;
    Outcome outcome;
    FILE* archive = fmemopen(const_cast<uint8_t*>(in.stream), in.streamSize, "rb");
    detail::State state{&s, &outcome, 0, in.cancelAfter, 0};
    FILE* output = fopencookie(&state, "wb", {nullptr, detail::CountWrite, nullptr, nullptr});
    Require(archive && output);
    setvbuf(output, nullptr, _IONBF, 0);
    StreamHost host{&state.cancel, detail::Report, &state};
    memset(&s, 0, sizeof s);
    s.archive = archive;
    s.output = output;
    s.host = &host;
    BeginEntryData(s);
    ResetRunningCrc(s);
    outcome.result = decoder(s, work);
    outcome.bytes = state.written;
    outcome.crc = s.runningCrc;
    outcome.endOfInput = s.endOfInput;
    outcome.endPosition = ArchivePosition(s);
    fclose(output);
    fclose(archive);
    // Never more than asked for, plus one string or copy; never past the input.
    Require(outcome.endPosition >= 0 && uint64_t(outcome.endPosition) <= in.streamSize);
    if (in.cancelAfter > 0) Require(outcome.calls.size() <= size_t(in.cancelAfter));
    return outcome;
}

// Unreduce and Explode: whole 16 KiB blocks, then one last call unless a call failed.
inline void RequireBlockCalls(const Outcome& o, uint32_t uncompressedSize, uint32_t longestCopy) {
    Require(o.bytes <= uint64_t(uncompressedSize) + longestCopy);
    for (size_t i = 0; i + 1 < o.calls.size(); ++i) Require(o.calls[i].size == 0x4000);
    if (o.result == 0) Require(!o.calls.empty() && o.calls.back().size < 0x4000);
}

}  // namespace fuzzing
