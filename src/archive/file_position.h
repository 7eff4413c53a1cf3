// 64-bit positions on the C library's streams. fseek and ftell take a long, which holds
// 32 bits on Windows: every archive position goes through these instead, so archives and
// entries past 2 and 4 GiB are read like any other. Portable.
#pragma once

#include <stdint.h>
#include <stdio.h>

// False when the stream cannot be positioned there.
bool SeekTo(FILE* file, uint64_t position);

// The stream's position, or -1 when it cannot tell.
int64_t PositionOf(FILE* file);

// The length of the file under the stream, or -1; the position is left as it was.
int64_t LengthOf(FILE* file);
