// Gathering the files and folders to pack. See source_tree.h.
#include "source_tree.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr char kForbiddenNameCharacters[] = ":;*?\"<>|\\";
constexpr size_t kLongestStoredName = 259;  // the stub's reader keeps no more

// ---- names ---------------------------------------------------------------------------

// Length of the sequence that `lead` begins, or 0 when no sequence begins so.
size_t Utf8SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF. `characters`
// receives the number of code points.
bool IsValidUtf8(const std::string& text, size_t& characters) {
    characters = 0;
    for (size_t i = 0; i < text.size(); ++characters) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const size_t n = Utf8SequenceLength(lead);
        if (n == 0 || i + n > text.size()) return false;
        uint32_t code = n == 1 ? lead : lead & (0x7F >> n);
        for (size_t k = 1; k < n; ++k) {
            const unsigned char c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            code = code << 6 | (c & 0x3F);
        }
        static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < kLeast[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += n;
    }
    return true;
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// ---- walking -------------------------------------------------------------------------

int64_t ModifiedSeconds(const fs::path& path, std::error_code& ec) {
    const fs::file_time_type t = fs::last_write_time(path, ec);
    if (ec) return 0;
    const auto system = std::chrono::file_clock::to_sys(t);
    return std::chrono::floor<std::chrono::seconds>(system.time_since_epoch()).count();
}

// True when `path` is `folder` or lies inside it (both canonical).
bool IsWithin(const fs::path& path, const fs::path& folder) {
    const fs::path relative = path.lexically_relative(folder);
    return !relative.empty() && *relative.begin() != "..";
}

class Gatherer {
  public:
    Gatherer(std::vector<PackItem>& items, std::vector<std::string>& errors) : items_(items), errors_(errors) {}

    void AddPath(const std::string& given) {
        const fs::path path(given);
        std::error_code ec;
        const fs::file_status status = fs::status(path, ec);
        if (ec || (!fs::is_regular_file(status) && !fs::is_directory(status))) {
            errors_.push_back("cannot read " + given + (ec ? ": " + ec.message() : ": not a file or folder"));
            return;
        }
        const fs::path canonical = fs::canonical(path, ec);
        if (ec) {
            errors_.push_back("cannot read " + given + ": " + ec.message());
            return;
        }
        const std::string lastPart = path.filename().string();
        if (fs::is_directory(status) && (lastPart.empty() || lastPart == "." || lastPart == "..")) {
            AddFolderContents(canonical, "", canonical, {canonical});
            return;
        }
        const std::string name = NameOf(path.filename());
        AddItem(canonical, name, fs::is_directory(status));
        if (fs::is_directory(status)) AddFolderContents(canonical, name + "/", canonical, {canonical});
    }

  private:
    // The stored form of a name on this system: its UTF-8 bytes.
    static std::string NameOf(const fs::path& part) {
        const std::u8string u8 = part.u8string();
        return std::string(u8.begin(), u8.end());
    }

    void AddItem(const fs::path& source, const std::string& name, bool folder) {
        PackItem item;
        item.name = folder ? name + "/" : name;
        item.source = source;
        item.folder = folder;
        std::error_code ec;
        item.modified = ModifiedSeconds(source, ec);
        const fs::perms perms = fs::status(source, ec).permissions();
        item.readOnly = !folder && (perms & fs::perms::owner_write) == fs::perms::none;
        if (!folder) item.size = fs::file_size(source, ec);
        if (ec) {
            errors_.push_back("cannot read " + source.string() + ": " + ec.message());
            return;
        }
        const std::string problem = NameProblem(name);
        if (!problem.empty()) {
            errors_.push_back(problem);
            return;
        }
        items_.push_back(std::move(item));
    }

    // `folder` is canonical; `root` is the folder given on the command line; `open` holds
    // the folders being walked, so a link back to one of them is caught.
    void AddFolderContents(const fs::path& folder, const std::string& prefix, const fs::path& root,
                           std::set<fs::path> open) {
        std::error_code ec;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
            const std::string name = prefix + NameOf(entry.path().filename());
            fs::path source = entry.path();
            if (entry.is_symlink(ec)) {
                source = fs::canonical(entry.path(), ec);
                if (ec) {
                    errors_.push_back("symbolic link " + Quoted(name) + " leads nowhere");
                    ec.clear();
                    continue;
                }
                if (!IsWithin(source, root)) {
                    errors_.push_back("symbolic link " + Quoted(name) + " leaves " + root.string() + " (it leads to " +
                                      source.string() + ")");
                    continue;
                }
                if (open.count(source)) {
                    errors_.push_back("symbolic link " + Quoted(name) + " leads back to a folder that holds it");
                    continue;
                }
            }
            const fs::file_status status = fs::status(source, ec);
            if (fs::is_directory(status)) {
                AddItem(source, name, true);
                std::set<fs::path> inner = open;
                inner.insert(source);
                AddFolderContents(source, name + "/", root, std::move(inner));
            } else if (fs::is_regular_file(status)) {
                AddItem(source, name, false);
            } else {
                errors_.push_back(Quoted(name) + " is neither a file nor a folder");
            }
        }
        if (ec) errors_.push_back("cannot read " + folder.string() + ": " + ec.message());
    }

    std::vector<PackItem>& items_;
    std::vector<std::string>& errors_;
};

}  // namespace

std::string NameProblem(const std::string& name) {
    size_t characters = 0;
    if (name.empty()) return "an empty name";
    if (!IsValidUtf8(name, characters)) return Quoted(name) + ": the name is not valid UTF-8";
    if (name.find_first_of(kForbiddenNameCharacters) != std::string::npos)
        return Quoted(name) + ": the stub refuses names holding any of " + kForbiddenNameCharacters;
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20) return Quoted(name) + ": the name holds a control character";
    if (name.size() > kLongestStoredName)
        return Quoted(name) + ": the name has " + std::to_string(name.size()) + " bytes; the stub reads " +
               std::to_string(kLongestStoredName) + " at most";
    // No output path limit: the stub writes paths of any length Windows allows.
    return std::string();
}

bool GatherItems(const std::vector<std::string>& paths, std::vector<PackItem>& items, std::vector<std::string>& errors) {
    items.clear();
    Gatherer gatherer(items, errors);
    for (const std::string& path : paths) gatherer.AddPath(path);
    std::sort(items.begin(), items.end(), [](const PackItem& a, const PackItem& b) { return a.name < b.name; });
    for (size_t i = 1; i < items.size(); ++i)
        if (items[i].name == items[i - 1].name) errors.push_back("two sources give the name " + Quoted(items[i].name));
    if (items.empty() && errors.empty()) errors.push_back("nothing to pack: the folders given are empty");
    return errors.empty();
}
