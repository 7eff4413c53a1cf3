// Writing a self-extracting file: stub image, block, archive, end to end.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "app/config_block.h"
#include "zip_layout.h"

// Writes `stub`, `block` and the archive in `input` to `out`. The archive's bytes before
// `layout.tailStart` are copied as they are, then `layout.tail` (offsets moved or not, as
// the caller left it). With `storeCrc` the block gets the CRC-32 of everything written
// after it. False with a one-line error when writing or reading fails.
bool WriteSelfExtractor(FILE* out, const std::vector<uint8_t>& stub, ConfigBlock block, FILE* input,
                        const ZipLayout& layout, bool storeCrc, std::string& error);

// CRC-32 of the bytes from `offset` to the end of `file`; false when they cannot be read.
bool CrcFrom(FILE* file, uint64_t offset, uint32_t& crc);
