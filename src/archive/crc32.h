// CRC-32 of the ZIP format (reflected 0xEDB88320, preset and result complemented).
//
// The extraction table is process-wide: the worker builds it once per run, and the
// decryption keys step through the same table. Portable.
#pragma once

#include <stddef.h>
#include <stdint.h>

extern uint32_t g_crcTable[256];

// Builds the extraction table. Must run before UpdateCrc or any key update.
void BuildCrcTable();

// Chains: takes a finished CRC (0 to start) and returns the finished CRC of everything so far.
uint32_t UpdateCrc(uint32_t crc, const uint8_t* data, size_t size);

// The table method alone, on the raw register: what UpdateCrc does where the processor
// cannot multiply carry-less.
uint32_t UpdateCrcByTable(uint32_t reg, const uint8_t* data, size_t size);

// One step of the raw register (not complemented), as the decryption keys use it.
inline uint32_t CrcStep(uint32_t reg, uint8_t byte) {
    return (reg >> 8) ^ g_crcTable[(reg ^ byte) & 0xFF];
}
