// The version resource. Every block has the same shape: its length, its value's length,
// a type (1: text), a UTF-16 key with its terminator, then at 4-byte boundaries its value
// and its children. The root's value is the fixed file information; its children are the
// string table (StringFileInfo, then one table per language and code page, then the
// strings) and the translations (VarFileInfo). The strings are UTF-16: the table's code
// page is Unicode, so any valid UTF-8 text given here can be held.
#include "version_resource.h"

#include <string.h>

const char* const kVersionKeys[9] = {"CompanyName",      "FileDescription", "FileVersion",
                                     "ProductName",      "ProductVersion",  "LegalCopyright",
                                     "OriginalFilename", "InternalName",    "Comments"};

namespace {

constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr size_t kFixedSize = 52, kMaxDepth = 4;

struct Block {
    std::u16string key;
    uint16_t type = 0;
    uint16_t valueLength = 0;  // as stored: code units for text, bytes otherwise
    std::vector<uint8_t> value;
    std::vector<Block> children;
};

uint32_t Get16(const std::vector<uint8_t>& b, size_t at) { return b[at] | b[at + 1] << 8; }
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) { return Get16(b, at) | Get16(b, at + 2) << 16; }
size_t Align4(size_t n) { return (n + 3) & ~size_t(3); }

bool ParseBlock(const std::vector<uint8_t>& b, size_t at, size_t end, size_t depth, Block& block) {
    if (depth > kMaxDepth || at + 6 > end) return false;
    const size_t length = Get16(b, at);
    if (length < 6 || at + length > end) return false;
    end = at + length;
    block.valueLength = uint16_t(Get16(b, at + 2));
    block.type = uint16_t(Get16(b, at + 4));
    size_t p = at + 6;
    for (;; p += 2) {
        if (p + 2 > end) return false;
        if (Get16(b, p) == 0) break;
        block.key += char16_t(Get16(b, p));
    }
    p = Align4(p + 2);
    const size_t valueBytes = block.type == 1 ? 2 * size_t(block.valueLength) : block.valueLength;
    if (p + valueBytes > end) return false;
    block.value.assign(b.begin() + long(p), b.begin() + long(p + valueBytes));
    for (p = Align4(p + valueBytes); p + 6 <= end; p = Align4(p + Get16(b, p))) {
        block.children.emplace_back();
        if (!ParseBlock(b, p, end, depth + 1, block.children.back())) return false;
    }
    return true;
}

void Put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

std::vector<uint8_t> WriteBlock(const Block& block) {
    std::vector<uint8_t> out;
    Put16(out, 0);  // length, filled in at the end
    Put16(out, block.valueLength);
    Put16(out, block.type);
    for (char16_t c : block.key) Put16(out, c);
    Put16(out, 0);
    out.resize(Align4(out.size()), 0);
    out.insert(out.end(), block.value.begin(), block.value.end());
    for (const Block& child : block.children) {
        out.resize(Align4(out.size()), 0);
        const std::vector<uint8_t> bytes = WriteBlock(child);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    out[0] = uint8_t(out.size());
    out[1] = uint8_t(out.size() >> 8);
    return out;
}

std::u16string Utf16(const char* ascii) { return std::u16string(ascii, ascii + strlen(ascii)); }

// UTF-8 to UTF-16; false for anything that is not valid UTF-8 or holds a control character.
bool ToUtf16(const std::string& text, std::u16string& out) {
    out.clear();
    for (size_t i = 0; i < text.size();) {
        const uint8_t c = uint8_t(text[i]);
        const size_t extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 9;
        if (extra == 9 || i + extra >= text.size()) return false;
        uint32_t code = extra == 0 ? c : c & (0x3F >> extra);
        for (size_t k = 1; k <= extra; ++k) {
            if ((uint8_t(text[i + k]) & 0xC0) != 0x80) return false;
            code = code << 6 | (uint8_t(text[i + k]) & 0x3F);
        }
        static const uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (code < kLeast[extra] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000) || code < 0x20 || code == 0x7F)
            return false;
        if (code >= 0x10000) {
            out += char16_t(0xD800 + ((code - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out += char16_t(code);
        }
        i += extra + 1;
    }
    return true;
}

std::string ToUtf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | c >> 6);
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | c >> 12);
            out += char(0x80 | (c >> 6 & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | c >> 18);
            out += char(0x80 | (c >> 12 & 0x3F));
            out += char(0x80 | (c >> 6 & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The root block and its first string table; false when `resource` is not a version resource.
bool ParseRoot(const std::vector<uint8_t>& resource, Block& root, Block*& table) {
    if (!ParseBlock(resource, 0, resource.size(), 0, root) || root.key != Utf16("VS_VERSION_INFO") ||
        root.value.size() != kFixedSize || Get32(root.value, 0) != kFixedSignature)
        return false;
    table = nullptr;
    for (Block& child : root.children)
        if (child.key == Utf16("StringFileInfo") && !child.children.empty()) table = &child.children.front();
    return true;
}

std::u16string WithoutTerminator(const std::vector<uint8_t>& value) {
    std::u16string text;
    for (size_t i = 0; i + 1 < value.size() && Get16(value, i) != 0; i += 2) text += char16_t(Get16(value, i));
    return text;
}

void SetFixed(std::vector<uint8_t>& value, size_t at, uint32_t v) {
    for (size_t k = 0; k < 4; ++k) value[at + k] = uint8_t(v >> (8 * k));
}

}  // namespace

bool ReadVersionInfo(const std::vector<uint8_t>& resource, VersionInfo& info) {
    Block root;
    Block* table = nullptr;
    if (!ParseRoot(resource, root, table)) return false;
    info = VersionInfo{};
    info.fileVersion[0] = Get32(root.value, 8);
    info.fileVersion[1] = Get32(root.value, 12);
    info.productVersion[0] = Get32(root.value, 16);
    info.productVersion[1] = Get32(root.value, 20);
    if (table)
        for (const Block& s : table->children) info.strings.emplace_back(ToUtf8(s.key), ToUtf8(WithoutTerminator(s.value)));
    return true;
}

bool WriteVersionInfo(std::vector<uint8_t>& resource, const VersionInfo& info) {
    Block root;
    Block* table = nullptr;
    if (!ParseRoot(resource, root, table)) return false;
    if (!table) {
        // No string table yet: one for US English in Unicode, as the stub's own.
        root.children.insert(root.children.begin(), Block{Utf16("StringFileInfo"), 1, 0, {}, {Block{Utf16("040904b0"), 1, 0, {}, {}}}});
        table = &root.children.front().children.front();
    }
    SetFixed(root.value, 8, info.fileVersion[0]);
    SetFixed(root.value, 12, info.fileVersion[1]);
    SetFixed(root.value, 16, info.productVersion[0]);
    SetFixed(root.value, 20, info.productVersion[1]);
    for (const auto& [key, text] : info.strings) {
        std::u16string value;
        ToUtf16(text, value);
        Block* target = nullptr;
        for (Block& s : table->children)
            if (s.key == Utf16(key.c_str())) target = &s;
        if (!target) target = &table->children.emplace_back(Block{Utf16(key.c_str()), 1, 0, {}, {}});
        target->valueLength = uint16_t(value.size() + 1);
        target->value.clear();
        for (char16_t c : value + u'\0') {
            target->value.push_back(uint8_t(c));
            target->value.push_back(uint8_t(c >> 8));
        }
    }
    resource = WriteBlock(root);
    return true;
}

std::string CheckVersionSetting(const std::string& key, const std::string& value) {
    bool known = false;
    for (const char* k : kVersionKeys) known |= key == k;
    if (!known) {
        std::string list;
        for (const char* k : kVersionKeys) list += std::string(list.empty() ? "" : ", ") + k;
        return "--version-info: unknown key \"" + key + "\" (known: " + list + ")";
    }
    std::u16string text;
    if (!ToUtf16(value, text))
        return "--version-info: the value of " + key + " is not UTF-8 text without control characters";
    if (text.size() > kMaxVersionValue)
        return "--version-info: the value of " + key + " is longer than " + std::to_string(kMaxVersionValue) +
               " characters";
    return std::string();
}

bool ParseFixedVersion(const std::string& text, uint32_t halves[2]) {
    uint32_t parts[4] = {};
    size_t count = 0, at = 0;
    while (count < 4) {
        size_t digits = 0;
        uint32_t n = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 6) n = n * 10 + uint32_t(text[at++] - '0'), ++digits;
        if (digits == 0 || n > 0xFFFF) return false;
        parts[count++] = n;
        if (at == text.size()) break;
        if (text[at++] != '.') return false;
    }
    if (at != text.size()) return false;
    halves[0] = parts[0] << 16 | parts[1];
    halves[1] = parts[2] << 16 | parts[3];
    return true;
}
