// The Configuration block: 512 bytes between the stub image and the ZIP archive.
//
// One declaration serves the stub (which reads it into the Run settings) and mksfx
// (which writes it). All numbers are little-endian; every target we build for is, so
// the struct is read and written as it lies in memory and its offsets are checked here.
// This file is portable: no windows.h.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

constexpr size_t kBlockSize = 512;
constexpr char kBlockMagic[8] = {'K', 'E', 'S', 'T', 'R', 'A', '3', 0};
constexpr size_t kBlockMagicCompared = 7;  // the eighth byte is never compared

struct ConfigBlock {
    char magic[8];
    char destination[260];
    char command[128];
    uint32_t overwriteWithoutAsking;
    uint32_t openExplorer;
    uint32_t deleteAfterCommand;
    uint32_t skipDestinationDialog;
    uint32_t expectedCrc;
    char questionTitle[32];
    char questionText[64];
};

static_assert(sizeof(ConfigBlock) == kBlockSize);
static_assert(offsetof(ConfigBlock, destination) == 8);
static_assert(offsetof(ConfigBlock, command) == 268);
static_assert(offsetof(ConfigBlock, overwriteWithoutAsking) == 396);
static_assert(offsetof(ConfigBlock, openExplorer) == 400);
static_assert(offsetof(ConfigBlock, deleteAfterCommand) == 404);
static_assert(offsetof(ConfigBlock, skipDestinationDialog) == 408);
static_assert(offsetof(ConfigBlock, expectedCrc) == 412);
static_assert(offsetof(ConfigBlock, questionTitle) == 416);
static_assert(offsetof(ConfigBlock, questionText) == 448);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the block is read as it lies in memory: little-endian targets only"
#endif

// True when the first seven bytes are the magic.
bool IsValidBlock(const ConfigBlock& block);

// Copies a string field of `fieldSize` bytes that may lack its terminator (then it runs
// to the field's end) into `out` of `outSize` bytes. Never reads or writes past either.
void CopyField(char* out, size_t outSize, const char* field, size_t fieldSize);

// Reads the block at `offset` of `file` into `block`. Returns true when all 512 bytes
// were read and the magic matches. The file is left at offset 0 either way.
bool ReadBlockAt(FILE* file, uint64_t offset, ConfigBlock& block);

// Where the block begins: the end of the raw data of the image's last section, taken
// from the PE headers in `headers` (`size` bytes of them are readable). The section
// table is found through the optional header's size field, so 32- and 64-bit images
// both work, and the walk never goes past the number of sections. 0 when the headers
// are not those of a PE image with at least one section.
uint32_t FindBlockOffset(const uint8_t* headers, size_t size);

// A signed image's certificate table, as the security directory (data directory 4)
// names it. Unlike every other directory's, its address is a file offset.
struct CertificateTable {
    uint32_t offset;
    uint32_t size;
    uint64_t End() const { return uint64_t(offset) + size; }
};

// The certificate table that the PE headers in `headers` (`size` readable bytes: the
// same ones FindBlockOffset reads) name, for 32- and 64-bit optional headers alike.
// False when they name none, or one that cannot be: an optional header of another kind,
// a directory outside it or beyond its count, or a table without room for the 8-byte
// header of one certificate. `size` must cover the first five directories as a PE32+
// header places them, whichever kind the image is.
bool FindCertificateTable(const uint8_t* headers, size_t size, CertificateTable& table);

// Where the archive self-check stops reading: at the certificate table when the headers
// name one that ends the file of `fileLength` bytes and begins no earlier than
// `archiveStart` (signing appended it behind the archive), else at the file's end.
uint64_t SelfCheckEnd(const uint8_t* headers, size_t size, uint64_t archiveStart, uint64_t fileLength);
