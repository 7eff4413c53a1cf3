// Dispatch on the compression method: runs the entry's decoder from the archive's
// current position into the stream's output. Shared by the worker and mksfx's test.
#pragma once

#include "archive/zip_reader.h"
#include "codecs/entry_stream.h"

// True when this build has a decoder for `method`.
bool HasDecoder(uint32_t method);

// Decodes `entry` (its compressed size as the password check left it) through the sink,
// which takes no more than the entry's uncompressed size (`s.overrun` tells it tried).
// Decoders' own results are not passed on: the Cancel state, the Running CRC and the
// overrun judge the entry. `work` holds kWorkBufferSize bytes.
void DecodeEntry(EntryStream& s, const EntryRecord& entry, uint8_t* work);
