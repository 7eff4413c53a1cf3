// Start-up and command line: the process entry, the start-up routine and the switches.
//
// The switch scan works on a private copy of the tail and edits it (the quotes of an
// /E:"..." command become blanks) before the archive path is chosen from what is left.
#include <windows.h>

#include <commctrl.h>
#include <string.h>

#include "app/run_driver.h"
#include "app/startup.h"
#include "paths/path_utils.h"

namespace {

constexpr size_t kTailSize = 512;
constexpr size_t kCommandSize = sizeof(ConfigBlock::command);

bool IsBlankOrControl(char c) { return c != 0 && static_cast<unsigned char>(c) <= ' '; }

// Copies `text` into `out` of `outSize` bytes. False, and nothing written, when it does not fit.
[[gnu::noinline]] bool CopyBounded(char* out, size_t outSize, const char* text, size_t length) {
    if (length >= outSize) return false;
    memcpy(out, text, length);
    out[length] = 0;
    return true;
}

bool ApplySwitch(char letter, RunSettings& settings) {
    switch (letter | 0x20) {
        case 'd': settings.config.deleteAfterCommand = 1; return true;
        case 'h': settings.config.skipDestinationDialog = 1; return true;
        case 'n': settings.config.openExplorer = 0; return true;
        case 'o': settings.config.overwriteWithoutAsking = 1; return true;
        case 'p': settings.quietMode |= kQuietNoQuestions; return true;
        case 'q': settings.quietMode |= kQuietNoQuestions | kQuietNoWindows; return true;
        default: return false;
    }
}

// The value of /E: or /T: at `start`, just behind the colon: up to the next blank, or
// between double quotes when it begins with one; without its end, the rest of the tail.
// Copies it into `out` of `outSize` bytes (`ok` becomes false when it does not fit) and
// blanks its quotes in `buffer`, so that they never count for the quoted archive form.
// Returns the rest position behind it; `start` moves past an opening quote.
int TakeSwitchValue(char* buffer, int length, int& start, char* out, size_t outSize, bool& ok) {
    char terminator = ' ';
    if (buffer[start] == '"') {
        buffer[start++] = ' ';
        terminator = '"';
    }
    const char* found = strchr(buffer + start, terminator);
    const int end = found ? int(found - buffer) : length;
    if (!CopyBounded(out, outSize, buffer + start, size_t(end - start))) ok = false;
    if (!found) return length;
    buffer[end] = ' ';
    return end + 1;
}

// Reads the switches of `buffer` (changing it) into `settings`. Returns the rest position,
// where the text after the switches begins, or -1 when no switch set it; `ok` becomes
// false when a command or folder does not fit.
int ScanSwitches(char* buffer, int length, RunSettings& settings, bool& ok) {
    int rest = -1;
    int i = 0;
    while (i < length) {
        if (buffer[i] != '/') {
            ++i;
            continue;
        }
        const char letter = buffer[i + 1];
        if (letter == 0) break;
        const bool valued = buffer[i + 2] == ':';
        int start = i + 3;
        if (ApplySwitch(letter, settings)) {
            i += 2;
            rest = i;
        } else if ((letter | 0x20) == 'e' && valued) {
            rest = TakeSwitchValue(buffer, length, start, settings.config.command, kCommandSize, ok);
            i = start + 1 < length ? start + 1 : length;  // on through the command text
        } else if ((letter | 0x20) == 't' && valued) {
            // A folder is no command: a '/' in it is never a switch.
            rest = i = TakeSwitchValue(buffer, length, start, settings.installFolder, kPathSize, ok);
        } else if ((letter | 0x20) == 'e') {
            i += buffer[i + 2] ? 3 : 2;  // the character after the letter is passed over too
        } else {
            i += 2;
        }
    }
    return rest;
}

bool IsFolderOrMissing(const char* path) {
    return (GetFileAttributesA(path) & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Copies buffer[start, end) with its trailing blanks trimmed into `out` (kPathSize).
bool CopyPath(char* out, const char* start, const char* end) {
    while (end > start && end[-1] == ' ') --end;
    return CopyBounded(out, kPathSize, start, size_t(end - start));
}

// Chooses the archive path (and, in the quoted form, a destination) from what the switch
// scan left in `buffer`. False when a path does not fit its buffer.
bool ChooseArchivePath(char* buffer, int length, int rest, char* archivePath, RunSettings& settings) {
    if (char* quote = strchr(buffer, '"')) {
        const char* path = strtok(quote, "\"");
        if (!path) return true;
        if (!CopyPath(archivePath, path, path + strlen(path))) return false;
        const char* blank = strtok(nullptr, "\"");
        if (blank && *blank == ' ') {
            const char* destination = strtok(nullptr, "\"");
            if (destination && *destination && IsFolderOrMissing(destination)) {
                // In the system code page, as the tail came: converted as the A calls would.
                if (strlen(destination) >= kPathSize) return false;
                MultiByteToWideChar(CP_ACP, 0, destination, -1, settings.destination, kPathSize);
            }
        }
        return true;
    }
    if (rest < 0) return CopyPath(archivePath, buffer, buffer + length);
    if (rest == length) {
        const char* slash = strchr(buffer, '/');
        return CopyPath(archivePath, buffer, slash ? slash : buffer + length);
    }
    const char* text = buffer + rest;
    while (*text == ' ') ++text;
    return CopyPath(archivePath, text, text + strlen(text));
}

}  // namespace

int ParseCommandLine(const char* tail, char* archivePath, RunSettings& settings) {
    char buffer[kTailSize];
    const size_t length = strlen(tail);
    if (!CopyBounded(buffer, sizeof buffer, tail, length)) return 0;

    bool ok = true;
    const int rest = ScanSwitches(buffer, int(length), settings, ok);
    if (!ok) return 0;
    if (settings.config.command[0] == 0) settings.config.deleteAfterCommand = 0;

    if (!ChooseArchivePath(buffer, int(length), rest, archivePath, settings)) {
        archivePath[0] = 0;
        return 0;
    }
    if (archivePath[0] == 0) return 1;
    if (SearchPathA(nullptr, archivePath, nullptr, 0, nullptr, nullptr) == 0) return 0;
    if (GetFileAttributesA(archivePath) & FILE_ATTRIBUTE_DIRECTORY) return 0;
    return 1;
}

const char* FindCommandTail(const char* p) {
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') ++p;
        if (*p == '"') ++p;
    } else if (static_cast<unsigned char>(*p) > ' ') {
        // Bytes from 0x80 up belong to double-byte characters and stay in the name.
        while (static_cast<unsigned char>(*p) > ' ') ++p;
    }
    while (IsBlankOrControl(*p)) ++p;
    return p;
}

int StartUp(HINSTANCE module, const char* tail) {
    InitCommonControls();
    char archivePath[kPathSize] = {};
    g_module = module;
    memset(&g_settings, 0, sizeof g_settings);
    g_settings.config.openExplorer = 1;
    if (*tail && !ParseCommandLine(tail, archivePath, g_settings)) return kExitBadCommandLine;
    return RunDriver(archivePath);
}
