// The version resource (what Explorer's Properties show): read into its string table and
// fixed version, changed, and written back in the resource's own block format.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

// The strings mksfx may set, and the longest value it accepts (UTF-16 code units).
extern const char* const kVersionKeys[9];
constexpr size_t kMaxVersionValue = 255;

struct VersionInfo {
    uint32_t fileVersion[2] = {}, productVersion[2] = {};  // most, least significant halves
    std::vector<std::pair<std::string, std::string>> strings;  // key, value; UTF-8, in order
};

// Reads a version resource. False when it is not one.
bool ReadVersionInfo(const std::vector<uint8_t>& resource, VersionInfo& info);

// `resource` with the strings of `info` set (added when missing) and its fixed versions.
// False when `resource` is not a version resource.
bool WriteVersionInfo(std::vector<uint8_t>& resource, const VersionInfo& info);

// Checks one --version-info=KEY=VALUE. Empty when acceptable; otherwise why not, in one line.
std::string CheckVersionSetting(const std::string& key, const std::string& value);

// "a.b.c.d" (one to four numbers of 0 to 65535) as the fixed version's two halves.
bool ParseFixedVersion(const std::string& text, uint32_t halves[2]);
