// The stub image's resources, read into a flat list and written back as a new resource
// tree: the image is rebuilt around the new tree (section size, image size, the base
// relocations that follow it, checksum), never patched in place.
//
// The stub's resources lie at the end of its last section, followed only by its base
// relocations: the loader finds both through their data directories alone, so they can
// move. Everything before them stays at its address.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// Resource types used here.
constexpr uint32_t kResourceIcon = 3, kResourceGroupIcon = 14, kResourceVersion = 16, kResourceManifest = 24;

// A type or name: a number, or (when `text` is not empty) a string of UTF-16 code units.
struct ResourceKey {
    uint32_t id = 0;
    std::u16string text;
};

struct Resource {
    ResourceKey type, name;
    uint16_t language = 0;
    uint32_t codePage = 0;
    std::vector<uint8_t> data;
};

// Every resource of `image`, in the order of its tree. False with a one-line error when
// the tree is damaged or points outside the image.
bool ReadResources(const std::vector<uint8_t>& image, std::vector<Resource>& resources, std::string& error);

// The first resource of `type` (the tree's order: the lowest number), or null.
const Resource* FindResource(const std::vector<Resource>& resources, uint32_t type);

// `image` with its resources replaced by `resources`: a tree sorted at every level as the
// loader's binary search needs (names before numbers, each ascending), the base
// relocations moved behind it, the last section, the image size and the checksum made to
// match. False with a one-line error when the image's layout does not allow it.
bool RebuildWithResources(std::vector<uint8_t>& image, std::vector<Resource> resources, std::string& error);

// The PE checksum of `image` as the loader and signing tools compute it.
uint32_t ImageChecksum(const std::vector<uint8_t>& image, size_t checksumField);
