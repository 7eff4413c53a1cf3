// 64-bit stream positions. On Windows the system's msvcrt has no 64-bit fseek before
// Vista, but its fsetpos and fgetpos take the file offset itself as a 64-bit fpos_t, and
// _filelengthi64 gives the length: all three are in every msvcrt.dll since Windows 2000.
#if !defined(_WIN32) && !defined(_FILE_OFFSET_BITS)
#define _FILE_OFFSET_BITS 64  // 32-bit native builds: fseeko and ftello on 64-bit off_t
#endif
#include "archive/file_position.h"

#ifdef _WIN32
#include <io.h>

bool SeekTo(FILE* file, uint64_t position) {
    const fpos_t at = fpos_t(position);
    return position <= uint64_t(INT64_MAX) && fsetpos(file, &at) == 0;
}

int64_t PositionOf(FILE* file) {
    fpos_t at;
    return fgetpos(file, &at) == 0 ? int64_t(at) : -1;
}

[[gnu::noinline]] int64_t LengthOf(FILE* file) { return _filelengthi64(_fileno(file)); }

#else

bool SeekTo(FILE* file, uint64_t position) {
    return position <= uint64_t(INT64_MAX) && fseeko(file, off_t(position), SEEK_SET) == 0;
}

int64_t PositionOf(FILE* file) { return int64_t(ftello(file)); }

int64_t LengthOf(FILE* file) {
    // Through the stream itself, so memory streams (the fuzz targets') work too.
    const off_t at = ftello(file);
    if (at < 0 || fseeko(file, 0, SEEK_END) != 0) return -1;
    const off_t length = ftello(file);
    return fseeko(file, at, SEEK_SET) == 0 ? int64_t(length) : -1;
}
#endif
