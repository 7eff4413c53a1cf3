// The distributor's identity in the stub image. See image_identity.h.
//
// The program icon is the image's first group icon (the lowest id): Explorer shows it, and
// the stub's own windows load it by that id. Replacing it replaces the group and the
// icon images it lists, and nothing else. The manifest is text; the two values mksfx
// sets are found by their element names, and a manifest without them is refused rather
// than guessed at.
#include "image_identity.h"

#include <string.h>

#include <algorithm>
#include <set>

#include "file_io.h"
#include "image_resources.h"
#include "messages.h"
#include "version_resource.h"

const char* const kExecutionLevels[3] = {"asInvoker", "highestAvailable", "requireAdministrator"};

namespace {

constexpr size_t kIconDirectory = 6, kIconFileEntry = 16, kGroupEntry = 14, kMaxIconImages = 64;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint32_t Get16(const std::vector<uint8_t>& b, size_t at) { return b[at] | b[at + 1] << 8; }
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) { return Get16(b, at) | Get16(b, at + 2) << 16; }
uint32_t GetBig32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
}
void Put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

bool IsPng(const std::vector<uint8_t>& data) { return data.size() >= 8 && memcmp(data.data(), kPngSignature, 8) == 0; }

// ---- icon files ---------------------------------------------------------------------

struct IconImage {
    uint8_t width = 0, height = 0, colors = 0;  // 0 is 256 for the sizes
    uint16_t planes = 0, bitCount = 0;
    std::vector<uint8_t> data;
};

// One image of an icon file, checked against its directory entry. Empty when it is
// sound; otherwise what is wrong with it.
std::string CheckIconImage(IconImage& image) {
    const std::vector<uint8_t>& d = image.data;
    const uint32_t width = image.width ? image.width : 256, height = image.height ? image.height : 256;
    if (IsPng(d)) {
        if (d.size() < 33 || memcmp(&d[12], "IHDR", 4) != 0) return "a PNG image without its header";
        if (GetBig32(d, 16) != width || GetBig32(d, 20) != height) return "a PNG image of another size than its entry says";
        image.planes = 1;
        image.bitCount = image.bitCount ? image.bitCount : 32;
        return std::string();
    }
    if (d.size() < 40 || Get32(d, 0) != 40) return "an image that is neither a bitmap nor PNG";
    if (Get32(d, 4) != width || Get32(d, 8) != 2 * height) return "a bitmap of another size than its entry says";
    const uint32_t bits = Get16(d, 14);
    if (Get16(d, 12) != 1 || (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32))
        return "a bitmap of an unknown colour depth";
    image.planes = 1;
    image.bitCount = uint16_t(bits);
    return std::string();
}

bool ReadIconFile(const std::string& path, std::vector<IconImage>& images, std::string& error) {
    std::vector<uint8_t> file;
    if (!ReadWholeFile(path, file, error)) {
        error = "--icon: " + error;
        return false;
    }
    const std::string refusal = "--icon: " + path + " is not a valid icon file: ";
    if (file.size() < kIconDirectory || Get16(file, 0) != 0 || Get16(file, 2) != 1) {
        error = refusal + "no icon file header";
        return false;
    }
    const size_t count = Get16(file, 4);
    if (count == 0 || count > kMaxIconImages || kIconDirectory + kIconFileEntry * count > file.size()) {
        error = refusal + (count == 0 || count > kMaxIconImages ? "it holds " + std::to_string(count) + " images (1 to " +
                                                                      std::to_string(kMaxIconImages) + " accepted)"
                                                                : "its directory is cut short");
        return false;
    }
    images.clear();
    for (size_t i = 0; i < count; ++i) {
        const size_t entry = kIconDirectory + kIconFileEntry * i;
        const uint64_t size = Get32(file, entry + 8), offset = Get32(file, entry + 12);
        if (offset < kIconDirectory + kIconFileEntry * count || offset + size > file.size()) {
            error = refusal + "image " + std::to_string(i + 1) + " lies outside the file";
            return false;
        }
        IconImage image;
        image.width = file[entry];
        image.height = file[entry + 1];
        image.colors = file[entry + 2];
        image.bitCount = uint16_t(Get16(file, entry + 6));
        image.data.assign(file.begin() + long(offset), file.begin() + long(offset + size));
        const std::string problem = CheckIconImage(image);
        if (!problem.empty()) {
            error = refusal + "image " + std::to_string(i + 1) + " is " + problem;
            return false;
        }
        images.push_back(std::move(image));
    }
    return true;
}

// The ids of the icon images a group lists.
std::vector<uint32_t> GroupIconIds(const std::vector<uint8_t>& group) {
    std::vector<uint32_t> ids;
    if (group.size() < kIconDirectory) return ids;
    const size_t count = Get16(group, 4);
    for (size_t i = 0; i < count && kIconDirectory + kGroupEntry * (i + 1) <= group.size(); ++i)
        ids.push_back(Get16(group, kIconDirectory + kGroupEntry * i + 12));
    return ids;
}

bool IsIconWithId(const Resource& r, uint32_t id) {
    return r.type.text.empty() && r.type.id == kResourceIcon && r.name.text.empty() && r.name.id == id;
}

// Replaces the program icon's group and images by `images`.
void ReplaceProgramIcon(std::vector<Resource>& resources, const std::vector<IconImage>& images) {
    Resource group;
    group.type.id = kResourceGroupIcon;
    group.name.id = 1;
    if (const Resource* old = FindResource(resources, kResourceGroupIcon)) group = *old;

    // Icon images of the old group that no other group lists go with it.
    std::set<uint32_t> keep, drop;
    for (const Resource& r : resources)
        if (r.type.text.empty() && r.type.id == kResourceGroupIcon) {
            const bool isOld = r.name.id == group.name.id && r.name.text == group.name.text && r.language == group.language;
            for (uint32_t id : GroupIconIds(r.data)) (isOld ? drop : keep).insert(id);
        }
    std::erase_if(resources, [&](const Resource& r) {
        const bool oldGroup = r.type.text.empty() && r.type.id == kResourceGroupIcon && r.name.id == group.name.id &&
                              r.name.text == group.name.text && r.language == group.language;
        return oldGroup || (r.type.id == kResourceIcon && r.type.text.empty() && r.name.text.empty() &&
                            drop.count(r.name.id) && !keep.count(r.name.id));
    });
    uint32_t nextId = 1;
    for (const Resource& r : resources)
        if (r.type.text.empty() && r.type.id == kResourceIcon && r.name.text.empty()) nextId = std::max(nextId, r.name.id + 1);

    group.data.clear();
    Put16(group.data, 0);
    Put16(group.data, 1);
    Put16(group.data, uint32_t(images.size()));
    for (const IconImage& image : images) {
        Resource icon;
        icon.type.id = kResourceIcon;
        icon.name.id = nextId++;
        icon.language = group.language;
        icon.data = image.data;
        resources.push_back(icon);
        group.data.insert(group.data.end(), {image.width, image.height, image.colors, 0});
        Put16(group.data, image.planes);
        Put16(group.data, image.bitCount);
        Put32(group.data, uint32_t(image.data.size()));
        Put16(group.data, icon.name.id);
    }
    resources.push_back(group);
}

// ---- the manifest -------------------------------------------------------------------

// The text between `open` (an element's or attribute's start, found after `name`) and
// `close`, as offsets into `text`; false when the manifest has no such element.
bool FindValue(const std::string& text, const char* name, const char* open, const char* close, size_t& from, size_t& to) {
    const size_t element = text.find(name);
    if (element == std::string::npos) return false;
    from = text.find(open, element);
    if (from == std::string::npos) return false;
    from += strlen(open);
    to = text.find(close, from);
    return to != std::string::npos;
}

bool FindLevel(const std::string& manifest, size_t& from, size_t& to) {
    return FindValue(manifest, "requestedExecutionLevel", "level=\"", "\"", from, to);
}
bool FindDpiAware(const std::string& manifest, size_t& from, size_t& to) {
    return FindValue(manifest, "<dpiAware", ">", "</dpiAware>", from, to);
}

bool SetManifestValues(std::vector<uint8_t>& resource, const Options& o, std::string& error) {
    std::string manifest(resource.begin(), resource.end());
    size_t from = 0, to = 0;
    if (!o.executionLevel.empty()) {
        if (!FindLevel(manifest, from, to)) {
            error = "--execution-level: the stub's manifest declares no execution level to set";
            return false;
        }
        manifest.replace(from, to - from, o.executionLevel);
    }
    if (!o.dpiAware.empty()) {
        if (!FindDpiAware(manifest, from, to)) {
            error = "--dpi-aware: the stub's manifest declares no DPI awareness to set";
            return false;
        }
        manifest.replace(from, to - from, o.dpiAware == "yes" ? "true" : "false");
    }
    resource.assign(manifest.begin(), manifest.end());
    return true;
}

Resource* FindMutable(std::vector<Resource>& resources, uint32_t type) {
    const Resource* found = FindResource(resources, type);
    return found ? &resources[size_t(found - resources.data())] : nullptr;
}

bool SetVersion(Resource& version, const Options& o, std::string& error) {
    VersionInfo info;
    error = "--version-info: the stub's version resource cannot be read";
    if (!ReadVersionInfo(version.data, info)) return false;
    info.strings = o.versionInfo;
    for (const auto& [key, value] : o.versionInfo) {
        if (key == "FileVersion") ParseFixedVersion(value, info.fileVersion);
        if (key == "ProductVersion") ParseFixedVersion(value, info.productVersion);
    }
    if (!WriteVersionInfo(version.data, info)) return false;
    error.clear();
    return true;
}

std::string FixedText(const uint32_t halves[2]) {
    return std::to_string(halves[0] >> 16) + "." + std::to_string(halves[0] & 0xFFFF) + "." +
           std::to_string(halves[1] >> 16) + "." + std::to_string(halves[1] & 0xFFFF);
}

}  // namespace

bool ChangesIdentity(const Options& o) {
    return !o.icon.empty() || !o.versionInfo.empty() || !o.executionLevel.empty() || !o.dpiAware.empty();
}

bool ApplyIdentity(std::vector<uint8_t>& image, const Options& o, std::string& error) {
    std::vector<Resource> resources;
    if (!ReadResources(image, resources, error)) return false;
    if (!o.icon.empty()) {
        std::vector<IconImage> images;
        if (!ReadIconFile(o.icon, images, error)) return false;
        ReplaceProgramIcon(resources, images);
    }
    if (!o.versionInfo.empty()) {
        Resource* version = FindMutable(resources, kResourceVersion);
        if (!version) {
            error = "--version-info: the stub has no version resource";
            return false;
        }
        if (!SetVersion(*version, o, error)) return false;
    }
    if (!o.executionLevel.empty() || !o.dpiAware.empty()) {
        Resource* manifest = FindMutable(resources, kResourceManifest);
        if (!manifest) {
            error = "the stub has no manifest to set the execution level or DPI awareness in";
            return false;
        }
        if (!SetManifestValues(manifest->data, o, error)) return false;
    }
    return RebuildWithResources(image, std::move(resources), error);
}

std::string ExecutionLevelOf(const std::vector<uint8_t>& image) {
    std::vector<Resource> resources;
    std::string error;
    const Resource* manifest = ReadResources(image, resources, error) ? FindResource(resources, kResourceManifest) : nullptr;
    if (!manifest) return std::string();
    const std::string text(manifest->data.begin(), manifest->data.end());
    size_t from = 0, to = 0;
    return FindLevel(text, from, to) ? text.substr(from, to - from) : std::string();
}

void PrintIdentity(const std::vector<uint8_t>& image, FILE* out) {
    std::vector<Resource> resources;
    std::string error;
    fprintf(out, "identity:\n");
    if (!ReadResources(image, resources, error)) {
        fprintf(out, "  %s\n", error.c_str());
        return;
    }
    std::string sizes;
    if (const Resource* group = FindResource(resources, kResourceGroupIcon)) {
        const std::vector<uint32_t> ids = GroupIconIds(group->data);
        for (size_t i = 0; i < ids.size(); ++i) {
            const size_t entry = kIconDirectory + kGroupEntry * i;
            const unsigned w = group->data[entry] ? group->data[entry] : 256, h = group->data[entry + 1] ? group->data[entry + 1] : 256;
            bool png = false;
            for (const Resource& r : resources) png |= IsIconWithId(r, ids[i]) && IsPng(r.data);
            sizes += (sizes.empty() ? "" : ", ") + std::to_string(w) + "x" + std::to_string(h) + " " +
                     std::to_string(Get16(group->data, entry + 6)) + "-bit" + (png ? " PNG" : "");
        }
    }
    fprintf(out, "  icon: %s\n", sizes.empty() ? "none" : sizes.c_str());
    VersionInfo info;
    if (const Resource* version = FindResource(resources, kResourceVersion); version && ReadVersionInfo(version->data, info)) {
        fprintf(out, "  fixed version: file %s, product %s\n", FixedText(info.fileVersion).c_str(),
                FixedText(info.productVersion).c_str());
        for (const auto& [key, value] : info.strings)
            fprintf(out, "  %s: %s\n", Printable(key).c_str(), Printable(value).c_str());
    } else {
        fprintf(out, "  no version resource\n");
    }
    const std::string level = ExecutionLevelOf(image);
    fprintf(out, "  execution level: %s\n", level.empty() ? "none declared" : level.c_str());
    const Resource* manifest = FindResource(resources, kResourceManifest);
    const std::string text = manifest ? std::string(manifest->data.begin(), manifest->data.end()) : std::string();
    size_t from = 0, to = 0;
    fprintf(out, "  DPI aware: %s\n", FindDpiAware(text, from, to) ? text.substr(from, to - from).c_str() : "not declared");
}
