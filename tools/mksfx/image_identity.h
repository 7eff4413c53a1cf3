// The distributor's identity in the stub image: the program icon, the version strings,
// the manifest's requested execution level and DPI awareness. Set by rebuilding the
// image's resources (image_resources.h), shown by --show.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "options.h"

// The manifest's execution levels, the first of which the stub declares as built.
extern const char* const kExecutionLevels[3];

// True when the options ask for any change of the identity.
bool ChangesIdentity(const Options& options);

// `image` rebuilt with the identity the options ask for. False with a one-line error
// (the icon file is not a valid icon, the stub's resources cannot be rebuilt).
bool ApplyIdentity(std::vector<uint8_t>& image, const Options& options, std::string& error);

// The manifest's requested execution level; empty when it declares none.
std::string ExecutionLevelOf(const std::vector<uint8_t>& image);

// Icon sizes, version strings, execution level and DPI awareness, one per line.
void PrintIdentity(const std::vector<uint8_t>& image, FILE* out);
