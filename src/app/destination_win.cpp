// Destination resolution, one pass, on the UTF-16 form.
#include "app/destination.h"

#include <string.h>
#include <wchar.h>

#include "paths/path_utils.h"

namespace {

// Climbs one folder level of `base` (no trailing '\') per "..\" in `destination`, keeping
// what follows the last one.
[[gnu::noinline]] Resolution Climb(wchar_t* destination, const wchar_t* baseFolder) {
    int occurrences = 0;
    const wchar_t* remainder = destination;
    for (const wchar_t* hit = wcsstr(destination, L"..\\"); hit; hit = wcsstr(hit + 2, L"..\\")) {
        ++occurrences;
        remainder = hit + 2;
    }
    wchar_t folder[kPathSize];
    lstrcpynW(folder, baseFolder, kPathSize);
    RemoveTrailingBackslash(folder);
    wchar_t tail[kPathSize];
    lstrcpynW(tail, remainder, kPathSize);
    for (int i = 0; i < occurrences; ++i) {
        const int cut = LastSeparator(folder, false);
        if (cut < 0) {
            // Above the drive: start again from the archive's folder.
            lstrcpynW(destination, baseFolder, kPathSize);
            RemoveTrailingBackslash(destination);
            return Resolution::NewPass;
        }
        folder[cut] = 0;
    }
    return JoinPath(destination, folder, tail) ? Resolution::Settled : Resolution::TooLong;
}

}  // namespace

bool HasForbiddenCharacter(const wchar_t* text) { return FindAnyOf(text, kForbiddenInDestinations) != nullptr; }

[[gnu::noinline]] Resolution ResolveDestination(wchar_t* destination, const wchar_t* baseFolder) {
    SlashesToBackslashes(destination);
    RemoveTrailingBackslash(destination);

    Resolution result = Resolution::Settled;
    const size_t length = WideLength(destination);
    wchar_t joined[kPathSize];
    bool join = false;
    const wchar_t* rest = destination;
    if (length == 0) {
        join = true;
    } else if (LastSeparator(destination, false) < 0 && destination[length - 1] != L':') {
        join = true;  // a bare folder name lies in the archive's folder
    } else if (destination[0] == L'\\' && destination[1] != L'\\') {
        join = true;
        rest = destination + 1;
    } else if (destination[0] == L'.' && destination[1] == L'\\') {
        join = true;
        rest = destination + 2;
    } else if (destination[0] == L'.' && destination[1] == L'.' && destination[2] == L'\\') {
        result = Climb(destination, baseFolder);
        if (result != Resolution::Settled) return result;
    }
    if (join) {
        if (!JoinPath(joined, baseFolder, rest)) return Resolution::TooLong;
        lstrcpynW(destination, joined, kPathSize);
    }
    if (HasForbiddenCharacter(destination)) {
        lstrcpynW(destination, baseFolder, kPathSize);
        return Resolution::NewPass;
    }
    return Resolution::Settled;
}
