// Fuzzes Unreduce over arbitrary streams, all four factors (input layout in
// legacy_fuzz_support.h). Besides the sanitizers, it stops when the decoder writes more
// than the entry's size and one copy, flushes anything but whole blocks before its last
// call, passes a sink call after a cancel, or reads past its input.
#include "../tests/native/legacy_fuzz_support.h"

#include "codecs/legacy_decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::Input in;
    if (!fuzzing::ParseInput(data, size, in)) return 0;
    const int factor = in.variant + 1;
    const fuzzing::Outcome o = fuzzing::Run(in, [&](EntryStream& s, uint8_t* work) {
        return Unreduce(s, in.uncompressedSize, factor, work);
    });
    fuzzing::RequireBlockCalls(o, in.uncompressedSize, (0xFFu >> factor) + 255 + 3);
    return 0;
}
