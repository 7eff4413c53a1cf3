// The ZIP archive mksfx writes from files and folders.
//
// Deflate comes from zlib (the same release natively and in the Windows builds, so both
// give the same bytes); an entry that Deflate would not make smaller is stored. The
// container is written here: names as UTF-8 (flag bit 11 only on names that are not
// ASCII), DOS times, the read-only and folder bits in the low byte of the external
// attributes as the stub reads them, no extra fields beyond ZIP64's. ZIP64 records
// appear only when an entry, an offset or the entry count needs them. Nothing of the
// moment or the machine enters the archive: the same items give the same bytes.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <optional>
#include <string>
#include <vector>

#include "source_tree.h"

struct PackSettings {
    int level = 9;  // zlib's 0 (store everything) to 9
    // SOURCE_DATE_EPOCH: later times are clamped to it, and times are written as UTC.
    std::optional<int64_t> sourceDateEpoch;
    uint64_t offsetBase = 0;  // stored offsets count from this position of the file
    bool showProgress = false;
};

struct PackSummary {
    uint64_t archiveSize = 0;
    size_t entries = 0;
    bool zip64 = false;
};

// Writes the archive of `items` to `out`, from its current position `start` on. False
// with a one-line `error` when a source cannot be read or the output written.
bool WriteZip(FILE* out, uint64_t start, const std::vector<PackItem>& items, const PackSettings& settings,
              PackSummary& summary, std::string& error);

// The DOS date-time (date in the high half) of `seconds` since 1970, in local time or
// UTC, rounded up to even seconds and kept within 1980 to 2107.
uint32_t DosDateTime(int64_t seconds, bool utc);
