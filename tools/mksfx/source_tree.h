// What mksfx packs when it is given files and folders instead of a ZIP archive: every
// file and folder under the paths given, named as the archive will name them, sorted.
//
// A folder given with a trailing separator (or as "." or "..") gives its contents; one
// without gives itself, its name first. Symbolic links are followed, since the stub
// writes neither links nor anything they could stand for: one met inside a folder must
// lead to a file or folder inside that same folder, and never back to a folder that
// holds it. A link named on the command line is followed wherever it leads.
#pragma once

#include <stdint.h>

#include <filesystem>
#include <string>
#include <vector>

struct PackItem {
    std::string name;  // as stored: UTF-8, '/' between parts; a folder's ends with '/'
    std::filesystem::path source;
    bool folder = false;
    bool readOnly = false;
    uint64_t size = 0;      // 0 for a folder
    int64_t modified = 0;   // seconds since 1970-01-01 UTC
};

// Gathers the items under `paths`, sorted by name, byte for byte. False with one line
// per problem in `errors` (unreadable paths, links that leave their folder, names the
// stub would refuse, two sources of one name).
bool GatherItems(const std::vector<std::string>& paths, std::vector<PackItem>& items, std::vector<std::string>& errors);

// Why the stub would refuse `name` (as stored, a folder's without its last '/'); empty
// when it would not.
std::string NameProblem(const std::string& name);
