// Folder macros, expanded once while the Configuration block is read.
//
// The W forms of the calls: a folder of any script expands whole. Each call is given 256
// units for its value; the expansion buffer has room for a whole path behind that, so a
// value always gets its terminator. A value that does not fit its 256 units, or an
// expansion that with the rest of the destination does not fit the destination's 260,
// leaves the destination as the block gave it: a cut value would name another folder.
#include "paths/folder_macros.h"

#include <string.h>

#include "paths/path_utils.h"

// advapi32's random source (RtlGenRandom), in every Windows since XP.
extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG size);

namespace {

constexpr UINT kSystemValueSize = 256;  // UTF-16 units
constexpr wchar_t kShellFolders[] = L"Software\\MicroSoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

enum Macro { kDesktop, kMyDocuments, kProgramFiles, kSystemDir, kWinDir, kTemp, kUnknown };
constexpr wchar_t kMacroNames[kUnknown][13] = {L"Desktop",   L"MyDocuments", L"ProgramFiles",
                                               L"SystemDir", L"WinDir",      L"temp"};

// Fills `expansion` (kPathSize) for macro `name`, compared case-sensitively; an unknown
// name leaves it empty. False when the value does not fit.
[[gnu::noinline]] bool ExpandMacro(const wchar_t* name, wchar_t* expansion) {
    int macro = kDesktop;
    // The terminator too: a longer name is another.
    const size_t compared = (WideLength(name) + 1) * sizeof(wchar_t);
    while (macro < kUnknown && (compared > sizeof kMacroNames[0] || memcmp(name, kMacroNames[macro], compared) != 0))
        ++macro;
    UINT length = 0;
    expansion[0] = 0;  // whatever fails below leaves it empty, never as the stack had it
    if (macro <= kMyDocuments) {
        // A Shell Folders value of the user, used as stored whatever its type. A missing
        // key or value leaves the expansion empty.
        HKEY key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, KEY_READ, &key) != ERROR_SUCCESS) return true;
        DWORD size = kSystemValueSize * sizeof(wchar_t);
        const wchar_t* value = macro == kDesktop ? kMacroNames[kDesktop] : L"Personal";  // the name's one copy
        const LONG status = RegQueryValueExW(key, value, nullptr, nullptr, reinterpret_cast<BYTE*>(expansion), &size);
        RegCloseKey(key);
        expansion[status == ERROR_SUCCESS ? size / sizeof(wchar_t) : 0] = 0;
        return status != ERROR_MORE_DATA;
    }
    if (macro == kTemp) {
        length = GetTempPathW(kSystemValueSize, expansion);
    } else if (macro < kUnknown) {
        length = (macro == kSystemDir ? GetSystemDirectoryW : GetWindowsDirectoryW)(expansion, kSystemValueSize);
    }
    // The calls return the size they need when the buffer is too small, and 0 on failure.
    if (length >= kSystemValueSize) return false;
    expansion[length] = 0;
    if (macro != kProgramFiles) return true;
    // The drive of the Windows folder, as X:\, then "Program Files".
    wchar_t* colon = expansion;
    while (*colon && *colon != L':') ++colon;
    if (!*colon) return true;
    if (colon[1]) colon[2] = 0;
    return JoinPath(expansion, expansion, L"Program Files");
}

// Appends '.' and 64 random bits in hexadecimal.
bool AppendRandomSuffix(wchar_t* name) {
    uint8_t random[8];
    wchar_t suffix[2 + 2 * sizeof random] = L".";
    if (!SystemFunction036(random, sizeof random)) return false;
    for (size_t i = 0; i < 2 * sizeof random; ++i) suffix[1 + i] = "0123456789abcdef"[random[i / 2] >> (i % 2 * 4) & 15];
    return JoinPath(name, name, suffix);
}

}  // namespace

int ExpandDestination(wchar_t* destination, const ConfigBlock& block, const wchar_t* modulePath) {
    if (block.destination[0] == 0) return 0;
    // The block's text is in the system code page: converted as the A calls would.
    char field[kPathSize];
    CopyField(field, sizeof field, block.destination, sizeof block.destination);
    wchar_t given[kPathSize];
    MultiByteToWideChar(CP_ACP, 0, field, -1, given, kPathSize);
    given[kPathSize - 1] = 0;
    return ExpandFolder(destination, given, block.deleteAfterCommand != 0, modulePath);
}

int ExpandFolder(wchar_t* destination, wchar_t* given, bool deleteAfterCommand, const wchar_t* modulePath) {
    // The files only serve the command: they get a folder of their own, removed afterwards.
    const int privateFolder = deleteAfterCommand && memcmp(given, L"%temp%", sizeof L"%temp%") == 0;
    wchar_t* close = nullptr;
    if (given[0] == L'%')
        for (close = given + 1; *close && *close != L'%'; ++close) {
        }
    if (close && *close) {
        *close = 0;
        wchar_t expansion[kPathSize];
        wchar_t privateName[kPathSize + 1];
        privateName[0] = L'~';
        SplitPath(modulePath, nullptr, privateName + 1);
        const bool fits = ExpandMacro(given + 1, expansion) &&
                          (!privateFolder || (AppendRandomSuffix(privateName) && JoinPath(expansion, expansion, privateName)));
        *close = L'%';
        if (fits) {
            RemoveTrailingBackslash(expansion);
            if (JoinPath(destination, expansion, close + 1)) return privateFolder;
        }
    }
    lstrcpynW(destination, given, kPathSize);
    return 0;
}
