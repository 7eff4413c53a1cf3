// Settling the destination folder: the rules that turn what the user or the block gave
// into a full path, relative forms taken against the archive's own folder.
#pragma once

#include "app/state.h"

enum class Resolution {
    Settled,   // `destination` holds the folder to use (not yet trimmed or '\'-terminated)
    NewPass,   // rejected or climbed too far: `destination` was reset; resolve again
    TooLong,   // a resolved path would not fit its buffer
};

// One pass over `destination` (kPathSize units, changed in place) against `baseFolder`
// (the archive's folder, ending in '\').
Resolution ResolveDestination(wchar_t* destination, const wchar_t* baseFolder);

// True when `text` holds a character that no destination may hold: ; * ? " < > |
bool HasForbiddenCharacter(const wchar_t* text);
