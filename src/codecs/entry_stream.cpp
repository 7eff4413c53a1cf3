// Entry data stream. See entry_stream.h.
#include "codecs/entry_stream.h"

#include <string.h>

#include "archive/crc32.h"
#include "archive/file_position.h"

bool IsCancelled(const EntryStream& s) { return *s.host->cancelState != 0; }

void BeginEntryData(EntryStream& s) {
    const int64_t position = PositionOf(s.archive);
    s.inputOffset = position < 0 ? 0 : uint64_t(position);
    s.inputPos = s.inputEnd = 0;
    s.readAhead = 0;
}

uint64_t ArchivePosition(const EntryStream& s) { return s.inputOffset + s.inputPos - s.readAhead; }

// Reads from the file into `buffer` and deciphers what came, in archive order.
static uint32_t ReadArchive(EntryStream& s, uint8_t* buffer, uint32_t count) {
    const uint32_t got = uint32_t(fread(buffer, 1, count, s.archive));
    if (s.decryption.active) DecryptBytes(s.decryption, buffer, got);
    return got;
}

bool RefillInput(EntryStream& s) {
    if (s.inputPos < s.inputEnd) return true;
    s.inputOffset += s.inputEnd;
    s.inputPos = 0;
    s.inputEnd = ReadArchive(s, s.input, kInputBufferSize);
    return s.inputEnd > 0;
}

uint32_t InputFeed(EntryStream& s, uint8_t* buffer, uint32_t count) {
    uint32_t done = 0;
    while (done < count) {
        if (s.inputPos == s.inputEnd && count - done >= kInputBufferSize) {
            // Large reads go straight to the caller's buffer.
            s.inputOffset += s.inputEnd;
            s.inputPos = s.inputEnd = 0;
            const uint32_t got = ReadArchive(s, buffer + done, count - done);
            s.inputOffset += got;
            done += got;
            break;
        }
        if (!RefillInput(s)) break;
        uint32_t take = s.inputEnd - s.inputPos;
        if (take > count - done) take = count - done;
        memcpy(buffer + done, s.input + s.inputPos, take);
        s.inputPos += take;
        done += take;
    }
    return done;
}

int OutputSink(EntryStream& s, const uint8_t* bytes, uint32_t count) {
    if (IsCancelled(s)) return -1;
    if (s.bounded) {
        if (count > s.outputLeft) {
            s.overrun = 1;
            return -1;
        }
        s.outputLeft -= count;
    }
    s.runningCrc = UpdateCrc(s.runningCrc, bytes, count);
    if (fwrite(bytes, 1, count, s.output) != count) {
        s.writeFailed = 1;
        return -1;
    }
    if (s.host->reportProgress) s.host->reportProgress(s.host->context, uint32_t(ArchivePosition(s) / 1024));
    return int(count);
}

void ResetRunningCrc(EntryStream& s) { s.runningCrc = 0; }

void ResetBitReader(EntryStream& s) {
    s.endOfInput = 0;
    s.bitCount = 0;
    s.bitBuffer = 0;
}

static int FetchByte(EntryStream& s) {
    if (!RefillInput(s)) return -1;
    return s.input[s.inputPos++];
}

int GetBits(EntryStream& s, int n) {
    if (s.bitCount < n && !s.endOfInput) {
        // Two bytes at most, so the reader never runs more than two bytes ahead.
        const int first = FetchByte(s);
        if (first < 0) {
            s.endOfInput = 1;
        } else {
            s.bitBuffer |= uint32_t(first) << s.bitCount;
            s.bitCount += 8;
            const int second = FetchByte(s);
            if (second >= 0) {
                s.bitBuffer |= uint32_t(second) << s.bitCount;
                s.bitCount += 8;
            }
        }
    }
    const int result = int(s.bitBuffer & ((1u << n) - 1));
    s.bitBuffer >>= n;
    s.bitCount -= n;
    return result;
}

void StoredCopy(EntryStream& s, uint64_t count, uint8_t* work) {
    while (count != 0) {
        const uint32_t chunk = count < kStoredChunk ? uint32_t(count) : kStoredChunk;
        const uint32_t got = InputFeed(s, work, chunk);
        if (got == 0) return;
        if (OutputSink(s, work, got) < 0) return;
        count -= got;
    }
}
