// Traditional PKWARE encryption: the three keys, the key-stream byte, and the check of a
// password against an entry's 12-byte encryption header. Portable.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "archive/zip_reader.h"

constexpr uint32_t kEncryptionHeaderSize = 12;

// Decryption state of the entry being read. While `active` is set, every byte that a
// decoder takes from the archive passes through DecryptByte, in archive order.
struct Decryption {
    int active;
    uint32_t key0, key1, key2;
};

void UpdateKeys(Decryption& d, uint8_t plain);

inline uint8_t KeyStreamByte(const Decryption& d) {
    const uint32_t t = (d.key2 & 0xFFFF) | 2;
    return uint8_t((t * (t ^ 1)) >> 8);
}

inline uint8_t DecryptByte(Decryption& d, uint8_t cipher) {
    const uint8_t plain = cipher ^ KeyStreamByte(d);
    UpdateKeys(d, plain);
    return plain;
}

// Deciphers `size` bytes in place, in order.
void DecryptBytes(Decryption& d, uint8_t* bytes, size_t size);

// Checks `password` against the encryption header at the archive's position.
//  - null: decryption is switched off; 1.
//  - empty: 0, nothing changes.
//  - otherwise 1 when accepted (the archive then stands at the compressed data, the keys
//    ready for it, and entry.compressedSize lowered by the header), 0 when rejected (the
//    position is restored and nothing else changes), 0 also when the header is cut short
//    by the end of the file (size lowered, position not restored).
int CheckPassword(Decryption& d, FILE* archive, const char* password, EntryRecord& entry,
                  const CentralRecord& central);
