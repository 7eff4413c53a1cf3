// Folder macros, expanded once while the Configuration block is read.
//
// Each system call is given 256 bytes for its value; the expansion buffer has room for a
// whole path behind that, so a value always gets its terminator. A value that does not fit
// its 256 bytes, or an expansion that with the rest of the destination does not fit the
// destination's 260, leaves the destination as the block gave it: a cut value would name
// another folder.
#include "paths/folder_macros.h"

#include <string.h>

#include "paths/path_utils.h"

// advapi32's random source (RtlGenRandom), in every Windows since XP.
extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG size);

namespace {

constexpr UINT kSystemValueSize = 256;
constexpr char kShellFolders[] = "Software\\MicroSoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

enum Macro { kDesktop, kMyDocuments, kProgramFiles, kSystemDir, kWinDir, kTemp, kUnknown };
constexpr char kMacroNames[kUnknown][13] = {"Desktop", "MyDocuments", "ProgramFiles", "SystemDir", "WinDir", "temp"};

// Fills `expansion` (kPathSize) for macro `name`, compared case-sensitively; an unknown
// name leaves it empty. False when the value does not fit.
[[gnu::noinline]] bool ExpandMacro(const char* name, char* expansion) {
    int macro = kDesktop;
    const size_t compared = strlen(name) + 1;  // the terminator too: a longer name is another
    while (macro < kUnknown && (compared > sizeof kMacroNames[0] || memcmp(name, kMacroNames[macro], compared) != 0))
        ++macro;
    UINT length = 0;
    expansion[0] = 0;  // whatever fails below leaves it empty, never as the stack had it
    if (macro <= kMyDocuments) {
        // A Shell Folders value of the user, used as stored whatever its type. A missing
        // key or value leaves the expansion empty.
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kShellFolders, 0, KEY_READ, &key) != ERROR_SUCCESS) return true;
        DWORD size = kSystemValueSize;
        const char* value = macro == kDesktop ? kMacroNames[kDesktop] : "Personal";  // the name's one copy
        const LONG status = RegQueryValueExA(key, value, nullptr, nullptr, reinterpret_cast<BYTE*>(expansion), &size);
        RegCloseKey(key);
        expansion[status == ERROR_SUCCESS ? size : 0] = 0;
        return status != ERROR_MORE_DATA;
    }
    if (macro == kTemp) {
        length = GetTempPathA(kSystemValueSize, expansion);
    } else if (macro < kUnknown) {
        length = (macro == kSystemDir ? GetSystemDirectoryA : GetWindowsDirectoryA)(expansion, kSystemValueSize);
    }
    // The calls return the size they need when the buffer is too small, and 0 on failure.
    if (length >= kSystemValueSize) return false;
    expansion[length] = 0;
    if (macro != kProgramFiles) return true;
    // The drive of the Windows folder, as X:\, then "Program Files".
    char* colon = strchr(expansion, ':');
    if (!colon) return true;
    if (colon[1]) colon[2] = 0;
    return JoinPath(expansion, expansion, "Program Files");
}

// Appends '.' and 64 random bits in hexadecimal.
bool AppendRandomSuffix(char* name) {
    uint8_t random[8];
    char suffix[2 + 2 * sizeof random] = ".";
    if (!SystemFunction036(random, sizeof random)) return false;
    for (size_t i = 0; i < 2 * sizeof random; ++i) suffix[1 + i] = "0123456789abcdef"[random[i / 2] >> (i % 2 * 4) & 15];
    return JoinPath(name, name, suffix);
}

}  // namespace

int ExpandDestination(char* destination, const ConfigBlock& block, const char* modulePath) {
    if (block.destination[0] == 0) return 0;
    char given[kPathSize];
    CopyField(given, sizeof given, block.destination, sizeof block.destination);
    // The files only serve the command: they get a folder of their own, removed afterwards.
    const int privateFolder = block.deleteAfterCommand && memcmp(given, "%temp%", 7) == 0;
    if (char* close = given[0] == '%' ? strchr(given + 1, '%') : nullptr) {
        *close = 0;
        char expansion[kPathSize];
        char privateName[kPathSize + 1];
        privateName[0] = '~';
        SplitPath(modulePath, nullptr, privateName + 1);
        const bool fits = ExpandMacro(given + 1, expansion) &&
                          (!privateFolder || (AppendRandomSuffix(privateName) && JoinPath(expansion, expansion, privateName)));
        *close = '%';
        if (fits) {
            RemoveTrailingBackslash(expansion);
            if (JoinPath(destination, expansion, close + 1)) return privateFolder;
        }
    }
    lstrcpynA(destination, given, kPathSize);
    return 0;
}
