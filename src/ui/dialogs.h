// Modal dialogs: the Run driver's destination dialog, and the worker's, owned by the
// Progress window.
#pragma once

#include <windows.h>

#include "app/import_jumps.h"

#include <stdint.h>

// Messages to a dialog's control, and a check box's state (one import serves them all).
inline LRESULT SendToControl(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    return SendMessageA(GetDlgItem(dialog, id), message, wParam, lParam);
}
inline bool IsChecked(HWND dialog, int id) { return SendToControl(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED; }

// A static whose template text is a format with one "%s": reads at most `formatSize` - 1
// units of it and puts `argument` (a name, kUtf8NameSize units at most) where "%s" stands.
void FillTemplateText(HWND dialog, int id, const wchar_t* argument, int formatSize);

// The program icon (the file's own, or the distributor's that mksfx put in its place) on a
// top-level window, for its caption and taskbar button.
void ShowProgramIcon(HWND window);

// The destination dialog, before any extraction: edits the destination of the Run
// settings in place. IDOK, or IDCANCEL (also Esc and the close box).
int ShowDestinationDialog(const wchar_t* archiveBaseName);
// The create-folder check box's change to `destination` (kPathSize units): checked, the archive
// base name is added as a last folder; unchecked, it is taken off again. The result ends
// in '\'. False, and `destination` unchanged, when the name does not fit.
bool ApplyArchiveFolder(wchar_t* destination, const wchar_t* archiveBaseName, bool checked);
// The shell's folder browser, opening on `preselection` (or at the desktop when null).
// Nonzero when a folder was chosen and its path written to `path` (kPathSize units).
int BrowseForFolder(HWND owner, wchar_t* path, const wchar_t* preselection);

constexpr int kPasswordSize = 128;
constexpr int kPasswordOk = 1, kPasswordCancel = 2, kPasswordSkip = 0;

struct PasswordRequest {
    const wchar_t* entryName;
    char* password;  // kPasswordSize bytes; receives what was typed, or is emptied
};

// Asks for the password of an encrypted entry: kPasswordOk, kPasswordCancel or kPasswordSkip.
int AskPassword(PasswordRequest* request);

// Overwrite decisions. Newer also sets g_settings.newerOnly and answers kOverwriteYes.
constexpr int kOverwriteYes = 6, kOverwriteNo = 7, kOverwriteYesToAll = 100, kOverwriteCancel = -1;

// Times are DOS date-times (date in the high half, so they compare in time order).
struct OverwriteRequest {
    const wchar_t* path;  // the output path, which is the existing file's
    DWORD existingTime;  // local time of its last write; 0 when it could not be opened
    DWORD newTime;       // the entry's
    uint64_t existingSize;  // 0 when it could not be opened
    uint64_t newSize;       // the entry's uncompressed size
};

// Asks whether the entry replaces the existing file; Cancel also closes the Progress window.
int AskOverwrite(const OverwriteRequest* request);

// The overwrite dialog's detail texts, apart so that they can be tested without a window.
constexpr int kDateTimeTextSize = 128;
// String 9 filled with the date and time; its "%%s" comes out as "%s", the place of the
// size. Returns the length written to `out` (kDateTimeTextSize bytes).
int FormatDateTimeText(DWORD dosDateTime, char* out);
// The size with a ',' between groups of three digits, in a static buffer that the next
// call overwrites.
const char* GroupedSizeText(uint64_t size);
