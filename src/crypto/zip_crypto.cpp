// Traditional PKWARE decryption.
#include "crypto/zip_crypto.h"

#include "archive/crc32.h"
#include "archive/file_position.h"

void UpdateKeys(Decryption& d, uint8_t plain) {
    d.key0 = CrcStep(d.key0, plain);
    d.key1 = (d.key1 + (d.key0 & 0xFF)) * 134775813u + 1;
    d.key2 = CrcStep(d.key2, uint8_t(d.key1 >> 24));
}

void DecryptBytes(Decryption& d, uint8_t* bytes, size_t size) {
    for (size_t i = 0; i < size; ++i) bytes[i] = DecryptByte(d, bytes[i]);
}

static void InitKeys(Decryption& d, const char* password) {
    d.key0 = 0x12345678u;
    d.key1 = 0x23456789u;
    d.key2 = 0x34567890u;
    for (const char* p = password; *p; ++p) UpdateKeys(d, uint8_t(*p));
}

// The byte that the header's last byte must decipher to: from the time when the sizes
// follow the data (the CRC was not known when the header was written), else from the CRC.
static uint8_t ExpectedCheckByte(const CentralRecord& central) {
    if (central.flags & kFlagDataDescriptor) return uint8_t(central.dosDateTime >> 8);
    return uint8_t(central.crc32 >> 24);
}

int CheckPassword(Decryption& d, FILE* archive, const char* password, EntryRecord& entry,
                  const CentralRecord& central) {
    if (password == nullptr) {
        d.active = 0;
        return 1;
    }
    if (*password == 0) return 0;
    d.active = 1;
    InitKeys(d, password);

    int result = 0;
    const int64_t position = PositionOf(archive);
    uint8_t header[kEncryptionHeaderSize];
    if (fread(header, 1, sizeof header, archive) == sizeof header) {
        DecryptBytes(d, header, sizeof header);
        const bool checkable = entry.crc32 != 0 && entry.compressedSize != 0;
        if (checkable && header[kEncryptionHeaderSize - 1] != ExpectedCheckByte(central)) {
            SeekTo(archive, uint64_t(position));
            return 0;
        }
        result = 1;
    }
    entry.compressedSize =
        entry.compressedSize > kEncryptionHeaderSize ? entry.compressedSize - kEncryptionHeaderSize : 0;
    return result;
}
