// Fuzzes Explode over arbitrary streams, all four variants (input layout in
// legacy_fuzz_support.h), against the step-by-step reference decoder: both must write
// the same bytes in the same sink calls at the same archive positions and end alike.
// Besides that and the sanitizers, it stops when the decoder writes more than the
// entry's size and one copy, flushes anything but whole blocks before its last call,
// passes a sink call after a cancel, or reads past its input.
#include "../tests/native/legacy_fuzz_support.h"

#include "../tests/native/explode_reference.h"
#include "codecs/legacy_decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::Input in;
    if (!fuzzing::ParseInput(data, size, in)) return 0;
    const bool big = in.variant & 1, literal = in.variant & 2;
    const fuzzing::Outcome o = fuzzing::Run(in, [&](EntryStream& s, uint8_t* work) {
        return Explode(s, in.uncompressedSize, big, literal, work);
    });
    fuzzing::RequireBlockCalls(o, in.uncompressedSize, 63 + 255 + 3);
    const fuzzing::Outcome ref = fuzzing::Run(in, [&](EntryStream& s, uint8_t* work) {
        return reference::Explode(s, in.uncompressedSize, big, literal, work);
    });
    fuzzing::Require(o == ref);
    return 0;
}
