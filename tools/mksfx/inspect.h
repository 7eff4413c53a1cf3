// The two modes that read an existing file: show and test.
#pragma once

#include "options.h"

// Prints the block of a self-extracting file and its entries as the stub's reader sees
// them. Exit code.
int ShowFile(const Options& options);

// Decodes every entry of a ZIP or self-extracting file with the stub's decoders and
// reports each one. Exit code.
int TestFile(const Options& options);
