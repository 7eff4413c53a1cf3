// Dispatch on the compression method.
#include "codecs/decode_entry.h"

#include "codecs/inflate.h"
#include "codecs/legacy_decoders.h"

bool HasDecoder(uint32_t method) {
    switch (method) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
        case 8:
        case 9:
            return true;
        default:
            return false;
    }
}

void DecodeEntry(EntryStream& s, const EntryRecord& entry, uint8_t* work) {
    s.bounded = 1;
    s.overrun = 0;
    s.outputLeft = entry.uncompressedSize;
    switch (entry.method) {
        case 0:
            StoredCopy(s, entry.compressedSize, work);
            break;
        case 1:
            Unshrink(s, entry.uncompressedSize, work);
            break;
        case 2:
        case 3:
        case 4:
        case 5:
            Unreduce(s, entry.uncompressedSize, entry.method - 1, work);
            break;
        case 6:
            Explode(s, entry.uncompressedSize, entry.flags & kFlagImplode8K,
                    entry.flags & kFlagImplodeLiteralTree, work);
            break;
        case 8:
        case 9:
            Inflate(s, entry.method == 9);
            break;
        default:
            break;  // the reader hands out no other methods; nothing is written
    }
}
