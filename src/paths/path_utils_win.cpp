// Path utilities.
//
// Beyond the plain operations, Build output path guards the destination: a name is
// refused when the path it makes is too long for its buffer (never cut into another
// path) or resolves, by the system's own rules, to anything but a place strictly inside
// the destination (parent references, device names, a bare ".."). The check runs before
// any folder is created.
#include "paths/path_utils.h"

#include <string.h>

namespace {

constexpr size_t kWideSize = 520;
wchar_t g_wideBuffer[kWideSize];
char g_ansiBuffer[kPathSize];

bool CopyIfFits(char* out, size_t size, const char* text) {
    const size_t length = strlen(text);
    if (length >= size) return false;
    memcpy(out, text, length + 1);
    return true;
}


}  // namespace

const wchar_t* ToUtf16(const char* text) {
    memset(g_wideBuffer, 0, sizeof g_wideBuffer);
    MultiByteToWideChar(CP_ACP, 0, text, -1, g_wideBuffer, kWideSize);
    g_wideBuffer[kWideSize - 1] = 0;
    return g_wideBuffer;
}

const char* ToAnsi(const wchar_t* text) {
    memset(g_ansiBuffer, 0, sizeof g_ansiBuffer);
    WideCharToMultiByte(CP_ACP, 0, text, -1, g_ansiBuffer, sizeof g_ansiBuffer, nullptr, nullptr);
    g_ansiBuffer[sizeof g_ansiBuffer - 1] = 0;
    return g_ansiBuffer;
}

bool SystemFilePath(char* out, const char* name, bool windowsFolder) {
    const UINT length = (windowsFolder ? GetWindowsDirectoryA : GetSystemDirectoryA)(out, kPathSize);
    return length > 0 && length < kPathSize && AppendTrailingBackslash(out, kPathSize) && JoinPath(out, out, name);
}

bool Utf8NameToAnsi(char* name) {
    wchar_t wide[kUtf8NameSize];
    const bool utf8 = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, wide, kUtf8NameSize) != 0;
    if (!utf8) MultiByteToWideChar(CP_UTF8, 0, name, -1, wide, kUtf8NameSize);
    wide[kUtf8NameSize - 1] = 0;
    // Twice the units: room for a double-byte character each, so the length is known.
    // Static: with the units it would pass a page of stack. One thread converts at a time.
    static char ansi[2 * kUtf8NameSize];
    BOOL lost = FALSE;
    // A UTF-8 code page holds everything, and takes no question about what it lost.
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, ansi, sizeof ansi, nullptr,
                                           GetACP() == CP_UTF8 ? nullptr : &lost);
    lstrcpynA(name, length ? ansi : "", kPathSize);
    return utf8 && !lost && length > 0 && size_t(length) <= kPathSize;
}

// Byte index of the last '\' that is not the second byte of a double-byte character (with
// `anySeparator`, also '/' and a drive's colon), or -1.
int LastSeparator(const char* text, bool anySeparator) {
    int last = -1;
    for (int i = 0; text[i];) {
        if (IsDBCSLeadByte(BYTE(text[i])) && text[i + 1]) {
            i += 2;
            continue;
        }
        if (text[i] == '\\' || (anySeparator && (text[i] == '/' || (i == 1 && text[i] == ':')))) last = i;
        ++i;
    }
    return last;
}

bool JoinPath(char* out, const char* a, const char* b) {
    const size_t la = strlen(a), lb = strlen(b);
    if (la + lb >= kPathSize) return false;
    memmove(out, a, la);
    memcpy(out + la, b, lb + 1);
    return true;
}

[[gnu::noinline]] char* LastDot(char* text) {
    char* dot = nullptr;
    for (; *text; ++text)
        if (*text == '.') dot = text;
    return dot;
}

bool EndsInTrailByte(const char* text, int position) {
    int walk = 0;
    while (walk < position) walk += IsDBCSLeadByte(BYTE(text[walk])) && text[walk + 1] ? 2 : 1;
    return walk > position;
}

bool AppendTrailingBackslash(char* path, size_t size) {
    const size_t n = strlen(path);
    if (n == 0) return true;
    if (path[n - 1] == '\\' && !EndsInTrailByte(path, int(n - 1))) return true;
    if (n + 2 > size) return false;
    path[n] = '\\';
    path[n + 1] = 0;
    return true;
}

const wchar_t* FindAnyOf(const wchar_t* text, const wchar_t* set) {
    for (; *text; ++text)
        for (const wchar_t* c = set; *c; ++c)
            if (*text == *c) return text;
    return nullptr;
}

void RemoveTrailingBackslash(char* path) {
    const wchar_t* wide = ToUtf16(path);
    if (*wide == 0) return;
    while (wide[1]) ++wide;
    if (*wide == L'\\') path[strlen(path) - 1] = 0;
}

int CreateFolderPath(const char* path) {
    wchar_t wide[kWideSize];
    memcpy(wide, ToUtf16(path), sizeof wide);
    wide[kWideSize - 2] = 0;  // room for the '\\' appended below
    size_t length = 0;
    while (wide[length]) ++length;

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

    char built[kPathSize] = {};
    size_t start = 0;
    for (size_t separator = root; separator < length;) {
        wide[separator] = 0;
        const char* part = ToAnsi(wide + start);
        wide[separator] = L'\\';
        if (!JoinPath(built, built, part) || !JoinPath(built, built, "\\")) return 0;
        if (GetFileAttributesA(built) == INVALID_FILE_ATTRIBUTES && !CreateDirectoryA(built, nullptr)) return 0;
        start = separator + 1;
        const wchar_t* next = FindAnyOf(wide + start, L"\\");
        separator = next ? size_t(next - wide) : length;
    }
    return 1;
}

void SplitPath(const char* path, char* folder, char* name) {
    if (folder) folder[0] = 0;
    if (name) name[0] = 0;
    if (!path || !*path) return;
    const int cut = LastSeparator(path, true);
    if (folder && cut >= 0 && size_t(cut) + 1 < kPathSize) {
        memcpy(folder, path, size_t(cut) + 1);
        folder[cut + 1] = 0;
    }
    if (name) CopyIfFits(name, kPathSize, path + cut + 1);
}

bool IsInsideFolder(const char* folder, const char* path) {
    // Both are resolved alike, so a path inside the folder begins with the folder's own
    // bytes; names reach this point without "..\\", so no other spelling can lead inside.
    char fullFolder[kPathSize], fullPath[kPathSize];
    const DWORD folderLength = GetFullPathNameA(folder, kPathSize, fullFolder, nullptr);
    if (folderLength == 0 || folderLength >= kPathSize) return false;
    const DWORD pathLength = GetFullPathNameA(path, kPathSize, fullPath, nullptr);
    if (pathLength == 0 || pathLength >= kPathSize) return false;
    DWORD prefix = folderLength;
    while (prefix > 0 && fullFolder[prefix - 1] == '\\' && !EndsInTrailByte(fullFolder, int(prefix - 1))) --prefix;
    return pathLength > prefix + 1 && fullPath[prefix] == '\\' && !EndsInTrailByte(fullPath, int(prefix)) &&
           memcmp(fullFolder, fullPath, prefix) == 0;
}

OutputKind BuildOutputPath(const char* destination, char* name, char* output) {
    TrimTrailingBlanks(name);
    const wchar_t* wide = ToUtf16(name);
    if (*wide == 0 || FindAnyOf(wide, kForbiddenInNames)) return OutputKind::InvalidName;

    const int lastSeparator = LastSeparator(name, false);
    if (lastSeparator < 0) {
        if (!JoinPath(output, destination, name)) return OutputKind::InvalidName;
        return IsInsideFolder(destination, output) ? OutputKind::File : OutputKind::InvalidName;
    }
    char* filePart = name + lastSeparator + 1;
    char folder[kPathSize];
    const char kept = filePart[0];
    filePart[0] = 0;  // the name up to its last '\\', for a moment
    const bool fits = JoinPath(folder, destination, name);
    filePart[0] = kept;
    if (!fits || !JoinPath(output, folder, filePart)) return OutputKind::InvalidName;
    // Whatever the name holds, nothing may be created or written outside the destination.
    if (!IsInsideFolder(destination, output)) return OutputKind::InvalidName;

    if (!CreateFolderPath(folder)) return OutputKind::FolderFailed;
    return *filePart ? OutputKind::File : OutputKind::Folder;
}
