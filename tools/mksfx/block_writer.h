// The Configuration block from mksfx's options, and the block printed back.
#pragma once

#include <stdio.h>

#include <string>

#include "app/config_block.h"
#include "options.h"

// Fills `block` from the options (expected CRC-32 left 0). False with a one-line error
// when a text does not fit its field with its terminating zero.
bool ComposeBlock(const Options& options, ConfigBlock& block, std::string& error);

// Every field, one per line.
void PrintBlock(const ConfigBlock& block, FILE* out);
