// The stub image's resources: read, and the image rebuilt around a new tree. See
// image_resources.h.
#include "image_resources.h"

#include <string.h>

#include <algorithm>

namespace {

constexpr size_t kSectionHeaderSize = 40, kFileHeaderSize = 20;
constexpr size_t kResourceDirectory = 2, kCertificateDirectory = 4, kRelocationDirectory = 5;
constexpr uint32_t kSubdirectory = 0x80000000, kNamed = 0x80000000;
constexpr uint32_t kInitializedData = 0x40;
constexpr size_t kTreeLevels = 3;  // type, name, language
constexpr size_t kMaxResources = 4096;

uint32_t Get16(const std::vector<uint8_t>& b, size_t at) { return b[at] | b[at + 1] << 8; }
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) { return Get16(b, at) | Get16(b, at + 2) << 16; }
void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}
size_t Align(size_t value, size_t to) { return (value + to - 1) / to * to; }

// Where the headers keep what this file reads and changes.
struct Headers {
    size_t optional = 0, directories = 0, table = 0;
    uint32_t sections = 0, sectionAlignment = 0, fileAlignment = 0;

    size_t Section(uint32_t i) const { return table + kSectionHeaderSize * i; }
    size_t Directory(size_t index) const { return directories + 8 * index; }
};

bool ReadHeaders(const std::vector<uint8_t>& image, Headers& h, std::string& error) {
    error = "not a PE image";
    if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') return false;
    const size_t pe = Get32(image, 0x3C);
    if (pe > image.size() - 4 - kFileHeaderSize || memcmp(&image[pe], "PE\0\0", 4) != 0) return false;
    h.sections = Get16(image, pe + 6);
    h.optional = pe + 4 + kFileHeaderSize;
    h.table = h.optional + Get16(image, pe + 20);
    if (h.table + h.sections * kSectionHeaderSize > image.size() || h.optional + 96 > h.table) return false;
    const uint32_t magic = Get16(image, h.optional);
    h.directories = h.optional + (magic == 0x20B ? 112 : 96);
    if ((magic != 0x10B && magic != 0x20B) || h.directories + 8 * (kRelocationDirectory + 1) > h.table ||
        Get32(image, h.directories - 4) <= kRelocationDirectory || h.sections == 0)
        return false;
    h.sectionAlignment = Get32(image, h.optional + 32);
    h.fileAlignment = Get32(image, h.optional + 36);
    if (h.fileAlignment == 0 || h.sectionAlignment == 0) return false;
    error.clear();
    return true;
}

// ---- reading the tree ---------------------------------------------------------------

// Reads the tree at file offset `treeOffset` of `image`, `treeSize` bytes, and each
// resource's bytes wherever its data entry says: every offset checked before it is read.
class TreeReader {
  public:
    TreeReader(const std::vector<uint8_t>& image, size_t treeOffset, uint32_t treeSize, const Headers& headers)
        : image_(image), tree_(treeOffset), size_(treeSize), headers_(headers) {}

    bool Read(std::vector<Resource>& out, std::string& error) {
        Resource current;
        if (!ReadTable(0, 0, current, out)) {
            error = "the stub's resource tree is damaged: " + problem_;
            return false;
        }
        return true;
    }

  private:
    bool Fail(const std::string& why) {
        problem_ = why;
        return false;
    }

    bool ReadKey(uint32_t field, ResourceKey& key) {
        key = ResourceKey{};
        if (!(field & kNamed)) {
            key.id = field & 0xFFFF;
            return true;
        }
        const uint32_t at = field & ~kNamed;
        if (at + 2 > size_) return Fail("a name outside the tree");
        const uint32_t length = Get16(image_, tree_ + at);
        if (length == 0 || at + 2 + 2 * length > size_) return Fail("a name outside the tree");
        for (uint32_t i = 0; i < length; ++i) key.text += char16_t(Get16(image_, tree_ + at + 2 + 2 * i));
        return true;
    }

    bool ReadTable(uint32_t at, size_t level, Resource& current, std::vector<Resource>& out) {
        if (at + 16 > size_) return Fail("a table outside the tree");
        const uint32_t entries = Get16(image_, tree_ + at + 12) + Get16(image_, tree_ + at + 14);
        if (at + 16 + 8 * entries > size_) return Fail("a table outside the tree");
        for (uint32_t i = 0; i < entries; ++i) {
            const size_t entry = tree_ + at + 16 + 8 * i;
            const uint32_t key = Get32(image_, entry), target = Get32(image_, entry + 4);
            if (level == 0 && !ReadKey(key, current.type)) return false;
            if (level == 1 && !ReadKey(key, current.name)) return false;
            if (level == 2) current.language = uint16_t(key);
            const bool subdirectory = (target & kSubdirectory) != 0;
            if (subdirectory != (level + 1 < kTreeLevels)) return Fail("not three levels deep");
            if (subdirectory ? !ReadTable(target & ~kSubdirectory, level + 1, current, out)
                             : !ReadData(target, current, out))
                return false;
        }
        return true;
    }

    bool ReadData(uint32_t at, Resource& current, std::vector<Resource>& out) {
        if (at + 16 > size_) return Fail("a data entry outside the tree");
        if (out.size() == kMaxResources) return Fail("too many resources");
        const uint32_t rva = Get32(image_, tree_ + at), size = Get32(image_, tree_ + at + 4);
        const size_t offset = FileOffset(rva, size);
        if (offset == 0) return Fail("resource data outside the image");
        current.codePage = Get32(image_, tree_ + at + 8);
        current.data.assign(image_.begin() + long(offset), image_.begin() + long(offset + size));
        out.push_back(current);
        return true;
    }

    // File offset of `size` bytes at `rva`, all within one section's raw data; 0 if not.
    size_t FileOffset(uint32_t rva, uint32_t size) const {
        for (uint32_t i = 0; i < headers_.sections; ++i) {
            const size_t s = headers_.Section(i);
            const uint32_t start = Get32(image_, s + 12), raw = Get32(image_, s + 16), pointer = Get32(image_, s + 20);
            if (rva >= start && uint64_t(rva) + size <= uint64_t(start) + raw &&
                uint64_t(pointer) + raw <= image_.size())
                return pointer + (rva - start);
        }
        return 0;
    }

    const std::vector<uint8_t>& image_;
    size_t tree_;
    uint32_t size_;
    const Headers& headers_;
    std::string problem_;
};

// ---- writing the tree ---------------------------------------------------------------

// Names before numbers; names by their code units, numbers ascending.
bool KeyLess(const ResourceKey& a, const ResourceKey& b) {
    if (a.text.empty() != b.text.empty()) return !a.text.empty();
    return a.text.empty() ? a.id < b.id : a.text < b.text;
}
bool KeyEqual(const ResourceKey& a, const ResourceKey& b) { return a.id == b.id && a.text == b.text; }

// The tree is laid out as: every directory table (depth first), the data entries, the
// names, then each resource's bytes at a 4-byte boundary (a dialog template's and a
// version block's alignment, and more than any other resource needs).
class TreeWriter {
  public:
    explicit TreeWriter(std::vector<Resource>& resources) : resources_(resources) {
        std::stable_sort(resources_.begin(), resources_.end(), [](const Resource& a, const Resource& b) {
            if (!KeyEqual(a.type, b.type)) return KeyLess(a.type, b.type);
            if (!KeyEqual(a.name, b.name)) return KeyLess(a.name, b.name);
            return a.language < b.language;
        });
    }

    // The tree's bytes for a section placed at `rva`.
    std::vector<uint8_t> Write(uint32_t rva) {
        entriesStart_ = TablesSize(0, resources_.size(), 0);
        std::vector<uint8_t> out(entriesStart_ + 16 * resources_.size(), 0);
        size_t table = 0;
        WriteTable(out, 0, resources_.size(), 0, table);  // the names are appended as met
        for (size_t i = 0; i < resources_.size(); ++i) {
            out.resize(Align(out.size(), 4), 0);
            const size_t entry = entriesStart_ + 16 * i;
            Put32(out, entry, uint32_t(rva + out.size()));
            Put32(out, entry + 4, uint32_t(resources_[i].data.size()));
            Put32(out, entry + 8, resources_[i].codePage);
            out.insert(out.end(), resources_[i].data.begin(), resources_[i].data.end());
        }
        return out;
    }

  private:
    // The number of distinct keys at `level` among resources [first, last).
    size_t Groups(size_t first, size_t last, size_t level) const {
        size_t groups = 0;
        for (size_t i = first; i < last; i = GroupEnd(i, last, level)) ++groups;
        return groups;
    }
    size_t GroupEnd(size_t i, size_t last, size_t level) const {
        size_t j = i + 1;
        while (j < last && SameKey(resources_[i], resources_[j], level)) ++j;
        return j;
    }
    static bool SameKey(const Resource& a, const Resource& b, size_t level) {
        if (level == 0) return KeyEqual(a.type, b.type);
        if (level == 1) return KeyEqual(a.name, b.name);
        return a.language == b.language;
    }
    const ResourceKey* Key(const Resource& r, size_t level) const {
        return level == 0 ? &r.type : level == 1 ? &r.name : nullptr;
    }

    size_t TablesSize(size_t first, size_t last, size_t level) const {
        size_t size = 16 + 8 * Groups(first, last, level);
        if (level + 1 < kTreeLevels)
            for (size_t i = first; i < last; i = GroupEnd(i, last, level)) size += TablesSize(i, GroupEnd(i, last, level), level + 1);
        return size;
    }

    // Writes the table for resources [first, last) at `table` (advanced past every table
    // written), depth first.
    void WriteTable(std::vector<uint8_t>& out, size_t first, size_t last, size_t level, size_t& table) {
        const size_t at = table;
        size_t named = 0, numbered = 0;
        for (size_t i = first; i < last; i = GroupEnd(i, last, level))
            (level < 2 && !Key(resources_[i], level)->text.empty() ? named : numbered)++;
        Put16(out, at + 12, uint32_t(named));
        Put16(out, at + 14, uint32_t(numbered));
        table += 16 + 8 * (named + numbered);
        size_t entry = at + 16;
        for (size_t i = first; i < last; i = GroupEnd(i, last, level), entry += 8) {
            Put32(out, entry, level < 2 ? KeyField(*Key(resources_[i], level), out) : resources_[i].language);
            if (level + 1 < kTreeLevels) {
                Put32(out, entry + 4, uint32_t(table) | kSubdirectory);
                WriteTable(out, i, GroupEnd(i, last, level), level + 1, table);
            } else {
                Put32(out, entry + 4, uint32_t(entriesStart_ + 16 * i));
            }
        }
    }
    // A number as it is; a name appended to `out` (its length, then its code units).
    static uint32_t KeyField(const ResourceKey& key, std::vector<uint8_t>& out) {
        if (key.text.empty()) return key.id;
        const uint32_t at = uint32_t(out.size());
        out.resize(out.size() + 2 + 2 * key.text.size());
        Put16(out, at, uint32_t(key.text.size()));
        for (size_t i = 0; i < key.text.size(); ++i) Put16(out, at + 2 + 2 * i, key.text[i]);
        return at | kNamed;
    }

    std::vector<Resource>& resources_;
    size_t entriesStart_ = 0;
};

bool OnlyZeros(const std::vector<uint8_t>& b, size_t from, size_t to) {
    return std::all_of(b.begin() + long(from), b.begin() + long(to), [](uint8_t c) { return c == 0; });
}

}  // namespace

bool ReadResources(const std::vector<uint8_t>& image, std::vector<Resource>& resources, std::string& error) {
    Headers h;
    if (!ReadHeaders(image, h, error)) return false;
    const uint32_t rva = Get32(image, h.Directory(kResourceDirectory));
    const uint32_t size = Get32(image, h.Directory(kResourceDirectory) + 4);
    resources.clear();
    if (rva == 0 || size == 0) return true;
    for (uint32_t i = 0; i < h.sections; ++i) {
        const size_t s = h.Section(i);
        const uint32_t start = Get32(image, s + 12), raw = Get32(image, s + 16), pointer = Get32(image, s + 20);
        if (rva < start || uint64_t(rva) + size > uint64_t(start) + raw || uint64_t(pointer) + raw > image.size())
            continue;
        return TreeReader(image, pointer + (rva - start), size, h).Read(resources, error);
    }
    error = "the stub's resource tree lies outside its sections";
    return false;
}

const Resource* FindResource(const std::vector<Resource>& resources, uint32_t type) {
    const Resource* first = nullptr;
    for (const Resource& r : resources)
        if (r.type.text.empty() && r.type.id == type && (!first || KeyLess(r.name, first->name))) first = &r;
    return first;
}

bool RebuildWithResources(std::vector<uint8_t>& image, std::vector<Resource> resources, std::string& error) {
    Headers h;
    if (!ReadHeaders(image, h, error)) return false;
    const size_t last = h.Section(h.sections - 1);
    const uint32_t sectionRva = Get32(image, last + 12), virtualSize = Get32(image, last + 8);
    const uint32_t rawSize = Get32(image, last + 16), rawPointer = Get32(image, last + 20);
    const uint32_t treeRva = Get32(image, h.Directory(kResourceDirectory));
    const uint32_t treeSize = Get32(image, h.Directory(kResourceDirectory) + 4);
    const uint32_t relocRva = Get32(image, h.Directory(kRelocationDirectory));
    const uint32_t relocSize = Get32(image, h.Directory(kRelocationDirectory) + 4);
    const uint32_t usedEnd = sectionRva + std::min(virtualSize, rawSize);

    // What may follow the tree in the last section: zeros, or the relocations and zeros.
    if (Get32(image, h.Directory(kCertificateDirectory) + 4) != 0) {
        error = "the stub is signed; sign the finished file instead";
        return false;
    }
    if (uint64_t(rawPointer) + rawSize != image.size() || treeRva < sectionRva || treeSize == 0 ||
        uint64_t(treeRva) + treeSize > usedEnd) {
        error = "the stub's resources are not in its last section; cannot rebuild them";
        return false;
    }
    const bool relocsBehind = relocSize != 0 && relocRva >= treeRva + treeSize && relocRva + relocSize <= usedEnd;
    const uint32_t tailEnd = relocsBehind ? relocRva : usedEnd;
    if ((relocSize != 0 && !relocsBehind && relocRva >= treeRva) ||
        !OnlyZeros(image, rawPointer + (treeRva + treeSize - sectionRva), rawPointer + (tailEnd - sectionRva)) ||
        (relocsBehind && !OnlyZeros(image, rawPointer + (relocRva + relocSize - sectionRva), rawPointer + (usedEnd - sectionRva)))) {
        error = "the stub's last section holds more than its resources and relocations behind them; cannot rebuild them";
        return false;
    }

    const std::vector<uint8_t> relocs = relocsBehind
        ? std::vector<uint8_t>(image.begin() + long(rawPointer + relocRva - sectionRva),
                               image.begin() + long(rawPointer + relocRva - sectionRva + relocSize))
        : std::vector<uint8_t>();
    const std::vector<uint8_t> tree = TreeWriter(resources).Write(treeRva);

    // The section up to the tree stays; the tree and the relocations follow at 4 bytes.
    image.resize(rawPointer + (treeRva - sectionRva));
    image.insert(image.end(), tree.begin(), tree.end());
    Put32(image, h.Directory(kResourceDirectory) + 4, uint32_t(tree.size()));
    if (relocsBehind) {
        image.resize(Align(image.size() - rawPointer, 4) + rawPointer, 0);
        Put32(image, h.Directory(kRelocationDirectory), uint32_t(sectionRva + image.size() - rawPointer));
        image.insert(image.end(), relocs.begin(), relocs.end());
    }
    const uint32_t newVirtualSize = uint32_t(image.size() - rawPointer);
    const uint32_t newRawSize = uint32_t(Align(newVirtualSize, h.fileAlignment));
    image.resize(rawPointer + newRawSize, 0);
    Put32(image, last + 8, newVirtualSize);
    Put32(image, last + 16, newRawSize);
    if (Get32(image, last + 36) & kInitializedData)
        Put32(image, h.optional + 8, Get32(image, h.optional + 8) - rawSize + newRawSize);  // SizeOfInitializedData
    Put32(image, h.optional + 56, uint32_t(Align(sectionRva + newVirtualSize, h.sectionAlignment)));  // SizeOfImage
    Put32(image, h.optional + 64, ImageChecksum(image, h.optional + 64));
    return true;
}

uint32_t ImageChecksum(const std::vector<uint8_t>& image, size_t checksumField) {
    // A 16-bit one's-complement sum of the file (its own field taken as zero), folded,
    // plus the file's length.
    uint64_t total = 0;
    for (size_t at = 0; at < image.size(); at += 2) {
        uint32_t word = image[at] | (at + 1 < image.size() ? image[at + 1] << 8 : 0);
        if (at >= checksumField && at < checksumField + 4) word = 0;
        total += word;
        total = (total & 0xFFFF) + (total >> 16);
    }
    return uint32_t((total & 0xFFFF) + image.size());
}
