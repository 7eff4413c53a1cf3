// Dispatch on the compression method.
#include "codecs/decode_entry.h"

bool HasDecoder(uint32_t method) {
    switch (method) {
        case 0:
            return true;
        default:
            return false;
    }
}

void DecodeEntry(EntryStream& s, const EntryRecord& entry, uint8_t* work) {
    switch (entry.method) {
        case 0:
            StoredCopy(s, entry.compressedSize, work);
            break;
        default:
            break;  // the reader hands out no other methods; nothing is written
    }
}
