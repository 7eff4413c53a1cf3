// Fuzzes Unshrink over arbitrary streams (input layout in legacy_fuzz_support.h) against
// the step-by-step reference decoder: both must write the same bytes in the same sink
// calls at the same archive positions and end alike. Besides that and the sanitizers,
// it stops when the decoder writes more than the entry's size and one string, passes a
// sink call after a cancel, or reads past its input.
#include "../tests/native/legacy_fuzz_support.h"

#include "../tests/native/unshrink_reference.h"
#include "codecs/legacy_decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::Input in;
    if (!fuzzing::ParseInput(data, size, in)) return 0;
    const fuzzing::Outcome o = fuzzing::Run(in, [&](EntryStream& s, uint8_t* work) {
        return Unshrink(s, in.uncompressedSize, work);
    });
    fuzzing::Require(o.bytes <= uint64_t(in.uncompressedSize) + 8192);
    if (in.uncompressedSize == 0) fuzzing::Require(o.calls.empty());
    for (const fuzzing::Call& c : o.calls) fuzzing::Require(c.size >= 1 && c.size <= 8192);
    const fuzzing::Outcome ref = fuzzing::Run(in, [&](EntryStream& s, uint8_t* work) {
        return reference::Unshrink(s, in.uncompressedSize, work);
    });
    fuzzing::Require(o == ref);
    return 0;
}
