// Start-up and command line: the process entry, the start-up routine and the switches.
//
// The switch scan works on a private copy of the tail and edits it (the quotes of an
// /E:"..." command become blanks) before the archive path is chosen from what is left.
// The tail is the UTF-16 command line, so a folder or archive of any script comes whole;
// only the /E: command is kept in the system code page, as the block's is.
#include <windows.h>

#include <commctrl.h>
#include <string.h>
#include <wchar.h>

#include "app/run_driver.h"
#include "app/startup.h"
#include "paths/path_utils.h"

namespace {

constexpr size_t kTailSize = 512;
constexpr size_t kCommandSize = sizeof(ConfigBlock::command);

bool IsBlankOrControl(wchar_t c) { return c != 0 && c <= L' '; }

// Copies `text` into `out` of `outSize` units. False, and nothing written, when it does not fit.
[[gnu::noinline]] bool CopyBounded(wchar_t* out, size_t outSize, const wchar_t* text, size_t length) {
    if (length >= outSize) return false;
    memcpy(out, text, length * sizeof(wchar_t));
    out[length] = 0;
    return true;
}

bool ApplySwitch(wchar_t letter, RunSettings& settings) {
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
// Copies it into `out` of `outSize` units (`ok` becomes false when it does not fit) and
// blanks its quotes in `buffer`, so that they never count for the quoted archive form.
// Returns the rest position behind it; `start` moves past an opening quote.
int TakeSwitchValue(wchar_t* buffer, int length, int& start, wchar_t* out, size_t outSize, bool& ok) {
    wchar_t terminator = L' ';
    if (buffer[start] == L'"') {
        buffer[start++] = L' ';
        terminator = L'"';
    }
    const wchar_t* found = wcschr(buffer + start, terminator);
    const int end = found ? int(found - buffer) : length;
    if (!CopyBounded(out, outSize, buffer + start, size_t(end - start))) ok = false;
    if (!found) return length;
    buffer[end] = L' ';
    return end + 1;
}

// The /E: command, kept in the system code page as the block's command is. False when it
// does not fit the block's field.
bool TakeCommand(const wchar_t* command, RunSettings& settings) {
    char* out = settings.config.command;
    return WideCharToMultiByte(CP_ACP, 0, command, -1, out, int(kCommandSize), nullptr, nullptr) != 0;
}

// Reads the switches of `buffer` (changing it) into `settings`. Returns the rest position,
// where the text after the switches begins, or -1 when no switch set it; `ok` becomes
// false when a command or folder does not fit.
int ScanSwitches(wchar_t* buffer, int length, RunSettings& settings, bool& ok) {
    int rest = -1;
    int i = 0;
    while (i < length) {
        if (buffer[i] != L'/') {
            ++i;
            continue;
        }
        const wchar_t letter = buffer[i + 1];
        if (letter == 0) break;
        const bool valued = buffer[i + 2] == L':';
        int start = i + 3;
        if (ApplySwitch(letter, settings)) {
            i += 2;
            rest = i;
        } else if ((letter | 0x20) == 'e' && valued) {
            wchar_t command[kCommandSize];
            rest = TakeSwitchValue(buffer, length, start, command, kCommandSize, ok);
            if (ok && !TakeCommand(command, settings)) ok = false;
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

bool IsFolderOrMissing(const wchar_t* path) {
    return (GetFileAttributesW(path) & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Copies buffer[start, end) with its trailing blanks trimmed into `out` (kPathSize).
bool CopyPath(wchar_t* out, const wchar_t* start, const wchar_t* end) {
    while (end > start && end[-1] == L' ') --end;
    return CopyBounded(out, kPathSize, start, size_t(end - start));
}

// Chooses the archive path (and, in the quoted form, a destination) from what the switch
// scan left in `buffer`. False when a path does not fit its buffer.
bool ChooseArchivePath(wchar_t* buffer, int length, int rest, wchar_t* archivePath, RunSettings& settings) {
    if (wchar_t* quote = wcschr(buffer, L'"')) {
        const wchar_t* path = wcstok(quote, L"\"");
        if (!path) return true;
        if (!CopyPath(archivePath, path, path + WideLength(path))) return false;
        const wchar_t* blank = wcstok(nullptr, L"\"");
        if (blank && *blank == L' ') {
            const wchar_t* destination = wcstok(nullptr, L"\"");
            if (destination && *destination && IsFolderOrMissing(destination)) {
                if (!CopyBounded(settings.destination, kPathSize, destination, WideLength(destination))) return false;
            }
        }
        return true;
    }
    if (rest < 0) return CopyPath(archivePath, buffer, buffer + length);
    if (rest == length) {
        const wchar_t* slash = wcschr(buffer, L'/');
        return CopyPath(archivePath, buffer, slash ? slash : buffer + length);
    }
    const wchar_t* text = buffer + rest;
    while (*text == L' ') ++text;
    return CopyPath(archivePath, text, text + WideLength(text));
}

}  // namespace

int ParseCommandLine(const wchar_t* tail, wchar_t* archivePath, RunSettings& settings) {
    wchar_t buffer[kTailSize];
    const size_t length = WideLength(tail);
    if (!CopyBounded(buffer, kTailSize, tail, length)) return 0;

    bool ok = true;
    const int rest = ScanSwitches(buffer, int(length), settings, ok);
    if (!ok) return 0;
    if (settings.config.command[0] == 0) settings.config.deleteAfterCommand = 0;

    if (!ChooseArchivePath(buffer, int(length), rest, archivePath, settings)) {
        archivePath[0] = 0;
        return 0;
    }
    if (archivePath[0] == 0) return 1;
    if (SearchPathW(nullptr, archivePath, nullptr, 0, nullptr, nullptr) == 0) return 0;
    if (GetFileAttributesW(archivePath) & FILE_ATTRIBUTE_DIRECTORY) return 0;
    return 1;
}

const wchar_t* FindCommandTail(const wchar_t* p) {
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"') ++p;
        if (*p == L'"') ++p;
    } else if (*p > L' ') {
        while (*p > L' ') ++p;
    }
    while (IsBlankOrControl(*p)) ++p;
    return p;
}

int StartUp(HINSTANCE module, const wchar_t* tail) {
    InitCommonControls();
    wchar_t archivePath[kPathSize] = {};
    g_module = module;
    memset(&g_settings, 0, sizeof g_settings);
    g_settings.config.openExplorer = 1;
    if (*tail && !ParseCommandLine(tail, archivePath, g_settings)) return kExitBadCommandLine;
    return RunDriver(archivePath);
}
