// The stub image as mksfx needs it: a PE image whose last section's raw data ends the
// file, so the block written right behind it lies exactly where the stub looks for it.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

// Empty when `image` can carry a block; otherwise why not, in one line.
std::string CheckStubImage(const std::vector<uint8_t>& image);

// Where a self-extracting file's block begins, from the PE headers at the file's start;
// 0 when the file does not begin with a PE image.
uint32_t LocateBlock(FILE* file, uint64_t fileSize);

// The first 4096 bytes of the file (zeros past its end): the headers as the stub reads
// its own in the mapped image, for the same answers from the same functions.
std::vector<uint8_t> HeaderPage(FILE* file);
