// Path utilities, all on UTF-16 paths.
//
// Beyond the plain operations, Build output path guards the destination: a name is
// refused when the path it makes is too long for its buffer (never cut into another
// path) or resolves, by the system's own rules, to anything but a place strictly inside
// the destination (parent references, device names, a bare ".."). The check runs before
// any folder is created.
#include "paths/path_utils.h"

#include <stdlib.h>
#include <string.h>

bool SystemFilePath(wchar_t* out, const wchar_t* name, bool windowsFolder) {
    const UINT length = (windowsFolder ? GetWindowsDirectoryW : GetSystemDirectoryW)(out, kPathSize);
    return length > 0 && length < kPathSize && AppendTrailingBackslash(out, kPathSize) && JoinPath(out, out, name);
}

size_t WideLength(const wchar_t* text) {
    size_t length = 0;
    while (text[length]) ++length;
    return length;
}

bool EntryNameToUtf16(char* name, bool utf8, wchar_t* wide) {
    // A name that is not UTF-8 is refused as it came, before any rule changes it.
    const bool valid = !utf8 || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, wide, kUtf8NameSize) != 0;
    if (valid) {
        PrepareEntryName(name);
        TrimTrailingBlanks(name);
    }
    MultiByteToWideChar(utf8 ? CP_UTF8 : CP_ACP, 0, name, -1, wide, kUtf8NameSize);
    wide[kUtf8NameSize - 1] = 0;
    return valid;
}

const wchar_t* LongPathForm(const wchar_t* path, int slot) {
    static wchar_t s_forms[2][kLongPathSize];
    if (WideLength(path) < kPathSize || path[2] == L'?') return path;
    // The full form goes in behind room for "\\?\UNC": a share's own "\\" then becomes
    // the prefix's last character, a drive's path gets "\\?\" in front. A form that does not
    // fit is left to the call, which refuses the plain path.
    wchar_t* form = s_forms[slot];
    constexpr size_t kPrefix = 6;
    const DWORD length = GetFullPathNameW(path, kLongPathSize - kPrefix, form + kPrefix, nullptr);
    if (length == 0 || length >= kLongPathSize - kPrefix) return path;
    if (form[kPrefix + 1] == L'\\') {
        memcpy(form, L"\\\\?\\UNC", 7 * sizeof(wchar_t));
        return form;
    }
    memcpy(form + 2, L"\\\\?\\", 4 * sizeof(wchar_t));
    return form + 2;
}


int LastSeparator(const wchar_t* text, bool anySeparator) {
    int last = -1;
    for (int i = 0; text[i]; ++i)
        if (text[i] == L'\\' || (anySeparator && (text[i] == L'/' || (i == 1 && text[i] == L':')))) last = i;
    return last;
}

bool JoinPath(wchar_t* out, const wchar_t* a, const wchar_t* b) {
    const size_t la = WideLength(a), lb = WideLength(b);
    if (la + lb >= kPathSize) return false;
    memmove(out, a, la * sizeof(wchar_t));
    memcpy(out + la, b, (lb + 1) * sizeof(wchar_t));
    return true;
}

[[gnu::noinline]] wchar_t* LastDot(wchar_t* text) {
    wchar_t* dot = nullptr;
    for (; *text; ++text)
        if (*text == L'.') dot = text;
    return dot;
}

bool AppendTrailingBackslash(wchar_t* path, size_t size) {
    const size_t n = WideLength(path);
    if (n == 0 || path[n - 1] == L'\\') return true;
    if (n + 2 > size) return false;
    path[n] = L'\\';
    path[n + 1] = 0;
    return true;
}

void RemoveTrailingBackslash(wchar_t* path) {
    const size_t n = WideLength(path);
    if (n > 0 && path[n - 1] == L'\\') path[n - 1] = 0;
}

void TrimTrailingBlanks(wchar_t* text) {
    size_t n = WideLength(text);
    while (n > 0 && text[n - 1] == L' ') text[--n] = 0;
}

void SlashesToBackslashes(wchar_t* text) {
    for (; *text; ++text)
        if (*text == L'/') *text = L'\\';
}

const wchar_t* FindAnyOf(const wchar_t* text, const wchar_t* set) {
    for (; *text; ++text)
        for (const wchar_t* c = set; *c; ++c)
            if (*text == *c) return text;
    return nullptr;
}

void AppendPath(PathList& list, const wchar_t* path, const FileIdentity& identity) {
    const size_t length = WideLength(path) + 1;
    const size_t record = length + kIdentityUnits;
    wchar_t* grown = static_cast<wchar_t*>(realloc(list.paths, (list.size + record) * sizeof(wchar_t)));
    if (!grown) return;
    list.paths = grown;  // the block may have moved
    memcpy(list.paths + list.size, path, length * sizeof(wchar_t));
    memcpy(list.paths + list.size + length, &identity, sizeof identity);
    list.size += record;
}

size_t NextRecord(const PathList& list, size_t at) { return at + WideLength(list.paths + at) + 1 + kIdentityUnits; }

FileIdentity RecordedIdentity(const PathList& list, size_t at) {
    FileIdentity identity;
    memcpy(&identity, list.paths + NextRecord(list, at) - kIdentityUnits, sizeof identity);
    return identity;
}

bool ListsPath(const PathList& list, const wchar_t* path) {
    for (size_t at = 0; at < list.size; at = NextRecord(list, at))
        if (lstrcmpW(list.paths + at, path) == 0) return true;
    return false;
}

// True when the level of `path` that ends in the '\' at `separator` is a reparse point (or
// cannot be looked at). It is named without that '\', as the link itself: with it, Wine
// reports the link's target.
[[gnu::noinline]] static bool IsReparsePoint(wchar_t* path, size_t separator) {
    path[separator] = 0;
    const DWORD attributes = GetFileAttributesW(LongPathForm(path, 0));
    path[separator] = L'\\';
    return attributes & FILE_ATTRIBUTE_REPARSE_POINT;
}

int CreateFolderPath(const wchar_t* path, size_t checkedFrom) {
    static wchar_t s_levels[kLongPathSize];  // one thread at a time
    size_t length = WideLength(path);
    if (length + 2 > kLongPathSize) return 0;  // room for the '\\' appended below
    wchar_t* wide = s_levels;
    memcpy(wide, path, (length + 1) * sizeof(wchar_t));

    // The root: "X:\" or "\\server\share\".
    size_t root;
    if (length >= 3 && wide[1] == L':' && wide[2] == L'\\') {
        root = 2;
    } else if (length >= 8 && wide[0] == L'\\' && wide[1] == L'\\') {
        const wchar_t* server = FindAnyOf(wide + 2, L"\\");
        const wchar_t* share = server ? FindAnyOf(server + 1, L"\\") : nullptr;
        if (!share) return 0;
        root = size_t(share - wide);
    } else {
        return 0;
    }
    if (wide[length - 1] != L'\\') {
        wide[length++] = L'\\';
        wide[length] = 0;
    }
    // Each level is the path up to and with one of its separators, from the root down.
    for (size_t separator = root; separator < length;) {
        const wchar_t kept = wide[separator + 1];
        wide[separator + 1] = 0;
        const wchar_t* level = LongPathForm(wide, 0);
        bool exists = GetFileAttributesW(level) != INVALID_FILE_ATTRIBUTES;
        FileIdentity identity;
        if (exists && separator >= checkedFrom && IsReparsePoint(wide, separator)) return -1;
        if (!exists && CreateDirectoryW(level, nullptr)) {
            exists = true;
            if (IdentityAt(level, identity)) AppendPath(g_createdFolders, wide, identity);
        }
        wide[separator + 1] = kept;
        if (!exists) return 0;
        const wchar_t* next = FindAnyOf(wide + separator + 1, L"\\");
        separator = next ? size_t(next - wide) : length;
    }
    return 1;
}

void SplitPath(const wchar_t* path, wchar_t* folder, wchar_t* name) {
    if (folder) folder[0] = 0;
    if (name) name[0] = 0;
    if (!path || !*path) return;
    const int cut = LastSeparator(path, true);
    if (folder && cut >= 0 && size_t(cut) + 1 < kPathSize) {
        memcpy(folder, path, (size_t(cut) + 1) * sizeof(wchar_t));
        folder[cut + 1] = 0;
    }
    if (name && WideLength(path + cut + 1) < kPathSize) lstrcpyW(name, path + cut + 1);
}

bool IsInsideFolder(const wchar_t* folder, const wchar_t* path) {
    // Both are resolved alike, so a path inside the folder begins with the folder's own
    // units and a separator; names reach this point without "..\\", so no other spelling
    // can lead inside.
    static wchar_t s_full[2][kLongPathSize];  // one thread at a time
    wchar_t* fullFolder = s_full[0];
    wchar_t* fullPath = s_full[1];
    const DWORD folderLength = GetFullPathNameW(folder, kLongPathSize, fullFolder, nullptr);
    if (folderLength == 0 || folderLength >= kLongPathSize) return false;
    const DWORD pathLength = GetFullPathNameW(path, kLongPathSize, fullPath, nullptr);
    return pathLength < kLongPathSize && LiesBelow(fullFolder, folderLength, fullPath, pathLength);
}

bool LiesBelow(const wchar_t* folder, size_t folderLength, const wchar_t* path, size_t pathLength) {
    while (folderLength > 0 && folder[folderLength - 1] == L'\\') --folderLength;
    return folderLength > 0 && pathLength > folderLength + 1 && path[folderLength] == L'\\' &&
           memcmp(folder, path, folderLength * sizeof(wchar_t)) == 0;
}

OutputKind BuildOutputPath(const wchar_t* destination, const wchar_t* name, wchar_t* output) {
    if (*name == 0 || FindAnyOf(name, kForbiddenInNames)) return OutputKind::InvalidName;
    const size_t base = WideLength(destination), length = WideLength(name);
    if (base + length >= kLongPathSize) return OutputKind::InvalidName;
    memcpy(output, destination, base * sizeof(wchar_t));
    memcpy(output + base, name, (length + 1) * sizeof(wchar_t));
    // Whatever the name holds, nothing may be created or written outside the destination.
    if (!IsInsideFolder(destination, output)) return OutputKind::InvalidName;
    const int lastSeparator = LastSeparator(name, false);
    if (lastSeparator < 0) return OutputKind::File;

    wchar_t* filePart = output + base + lastSeparator + 1;
    const wchar_t kept = *filePart;
    *filePart = 0;  // the folder, for a moment
    const int created = CreateFolderPath(output, base);
    *filePart = kept;
    if (created < 0) return OutputKind::Refused;
    if (!created) return OutputKind::FolderFailed;
    return kept ? OutputKind::File : OutputKind::Folder;
}
