// Writing a self-extracting file: stub image, block, archive, end to end.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "app/config_block.h"
#include "zip_layout.h"
#include "zip_writer.h"

// Signing tools align the certificate table they append to 8 bytes with zeros, which the
// self-check would take for part of the archive. A file whose length is a multiple of 8
// has the signature right behind the archive, and its stored CRC-32 stays right.
constexpr uint64_t kSignatureAlignment = 8;
inline uint64_t AlignmentPadding(uint64_t length) {
    return (kSignatureAlignment - length % kSignatureAlignment) % kSignatureAlignment;
}

// Writes `stub`, `block`, `padding` zero bytes and the archive in `input` to `out`. The
// archive's bytes before `layout.tailStart` are copied as they are, then `layout.tail`
// (offsets moved or not, as the caller left it). With `storeCrc` the block gets the
// CRC-32 of everything written after it. False with a one-line error when writing or
// reading fails.
bool WriteSelfExtractor(FILE* out, const std::vector<uint8_t>& stub, ConfigBlock block, uint64_t padding, FILE* input,
                        const ZipLayout& layout, bool storeCrc, std::string& error);

// Writes `stub`, `block` and the archive packed from `items` to `out`. With `storeCrc`
// the block gets the CRC-32 of everything written after it. False with a one-line error.
bool WritePackedSelfExtractor(FILE* out, const std::vector<uint8_t>& stub, ConfigBlock block,
                              const std::vector<PackItem>& items, const PackSettings& settings, bool storeCrc,
                              PackSummary& summary, std::string& error);

// CRC-32 of the bytes from `from` up to `to` (or the end of `file`, if sooner); false
// when they cannot be read.
bool CrcOf(FILE* file, uint64_t from, uint64_t to, uint32_t& crc);
