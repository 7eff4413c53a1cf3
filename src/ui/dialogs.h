// Modal dialogs: the Run driver's destination dialog, and the worker's, owned by the
// Progress window.
#pragma once

#include <windows.h>

// The destination dialog, before any extraction: edits the destination of the Run
// settings in place. IDOK, or IDCANCEL (also Esc and the close box).
int ShowDestinationDialog(const char* archiveBaseName);
// The create-folder check box's change to `destination` (kPathSize): checked, the archive
// base name is added as a last folder; unchecked, it is taken off again. The result ends
// in '\'. False, and `destination` unchanged, when the name does not fit.
bool ApplyArchiveFolder(char* destination, const char* archiveBaseName, bool checked);
// The shell's folder browser, opening on `preselection` (or at the desktop when null).
// Nonzero when a folder was chosen and its path written to `path` (kPathSize).
int BrowseForFolder(HWND owner, char* path, const char* preselection);

constexpr int kPasswordSize = 128;
constexpr int kPasswordOk = 1, kPasswordCancel = 2, kPasswordSkip = 0;

struct PasswordRequest {
    const char* entryName;
    char* password;  // kPasswordSize bytes; receives what was typed, or is emptied
};

// Asks for the password of an encrypted entry: kPasswordOk, kPasswordCancel or kPasswordSkip.
int AskPassword(PasswordRequest* request);
