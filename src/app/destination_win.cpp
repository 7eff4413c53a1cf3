// Destination resolution, one pass. Characters are tested on the UTF-16 form, and cuts
// are made at separators found by a walk that knows double-byte characters.
#include "app/destination.h"

#include <string.h>

#include "paths/path_utils.h"

namespace {

// Climbs one folder level of `base` (no trailing '\') per "..\" in `destination`, keeping
// what follows the last one.
[[gnu::noinline]] Resolution Climb(char* destination, const char* baseFolder) {
    int occurrences = 0;
    const char* remainder = destination;
    for (const char* hit = strstr(destination, "..\\"); hit; hit = strstr(hit + 2, "..\\")) {
        ++occurrences;
        remainder = hit + 2;
    }
    char folder[kPathSize];
    lstrcpynA(folder, baseFolder, sizeof folder);
    RemoveTrailingBackslash(folder);
    char tail[kPathSize];
    lstrcpynA(tail, remainder, sizeof tail);
    for (int i = 0; i < occurrences; ++i) {
        const int cut = LastSeparator(folder, false);
        if (cut < 0) {
            // Above the drive: start again from the archive's folder.
            lstrcpynA(destination, baseFolder, kPathSize);
            RemoveTrailingBackslash(destination);
            return Resolution::NewPass;
        }
        folder[cut] = 0;
    }
    return JoinPath(destination, folder, tail) ? Resolution::Settled : Resolution::TooLong;
}

}  // namespace

bool HasForbiddenCharacter(const char* text) { return FindAnyOf(ToUtf16(text), kForbiddenInDestinations) != nullptr; }

[[gnu::noinline]] Resolution ResolveDestination(char* destination, const char* baseFolder) {
    SlashesToBackslashes(destination);
    RemoveTrailingBackslash(destination);

    Resolution result = Resolution::Settled;
    const size_t length = strlen(destination);
    char joined[kPathSize];
    bool join = false;
    const char* rest = destination;
    if (length == 0) {
        join = true;
    } else if (LastSeparator(destination, false) < 0 && destination[length - 1] != ':') {
        join = true;  // a bare folder name lies in the archive's folder
    } else if (destination[0] == '\\' && destination[1] != '\\') {
        join = true;
        rest = destination + 1;
    } else if (destination[0] == '.' && destination[1] == '\\') {
        join = true;
        rest = destination + 2;
    } else if (destination[0] == '.' && destination[1] == '.' && destination[2] == '\\') {
        result = Climb(destination, baseFolder);
        if (result != Resolution::Settled) return result;
    }
    if (join) {
        if (!JoinPath(joined, baseFolder, rest)) return Resolution::TooLong;
        lstrcpynA(destination, joined, kPathSize);
    }
    if (HasForbiddenCharacter(destination)) {
        lstrcpynA(destination, baseFolder, kPathSize);
        return Resolution::NewPass;
    }
    return Resolution::Settled;
}
