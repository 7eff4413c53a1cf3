// Destination dialog and the shell's folder browser.
//
// The dialog edits the destination of the Run settings in place; every command reads the
// edit box again first, so whatever the browser leaves in the buffer on Cancel is never
// used. Text longer than the destination's 260 units is refused, never cut: a cut path
// would name another folder. The dialog and the browser work in UTF-16, so a folder of
// any script can be typed or chosen.
#include "app/state.h"
#include "paths/path_utils.h"
#include "resources/resource_ids.h"
#include "ui/dialogs.h"
#include "ui/messages.h"

// After the project's headers: the shell's own "Folder" would be shadowed otherwise.
#include <shlobj.h>
#include <string.h>
#include <wchar.h>

namespace {

// The archive base name of the dialog that is open (one at a time, on the main thread).
const wchar_t* g_archiveBaseName;

// Reads the edit box into the destination. False, and the destination unchanged, when the
// text does not fit; the buffer has room for one unit more, so a longer text is seen.
bool ReadDestination(HWND dialog) {
    wchar_t text[kPathSize + 1];
    if (GetDlgItemTextW(dialog, IDC_DEST_EDIT, text, kPathSize + 1) >= int(kPathSize)) return false;
    lstrcpynW(Held(g_settings).destination, text, kPathSize);
    return true;
}

// True when the edit box is to show the destination again.
bool OnCommand(HWND dialog, WPARAM command) {
    wchar_t* destination = Held(g_settings).destination;
    switch (command) {
        case IDOK:
            if (ReadDestination(dialog)) {
                EndDialog(dialog, IDOK);
            } else {
                ShowStringMessage(dialog, IDS_INVALID_PATH, nullptr, MB_ICONERROR);
            }
            return false;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return false;
        case IDC_DEST_CREATE_FOLDER: {
            const bool checked = IsChecked(dialog, IDC_DEST_CREATE_FOLDER);
            if (ReadDestination(dialog) && ApplyArchiveFolder(destination, g_archiveBaseName, checked)) return true;
            SendToControl(dialog, IDC_DEST_CREATE_FOLDER, BM_SETCHECK, BST_UNCHECKED, 0);  // nothing was added
            return false;
        }
        case IDC_DEST_BROWSE:
            ReadDestination(dialog);
            return BrowseForFolder(dialog, destination, destination) != 0;
    }
    return false;
}

INT_PTR CALLBACK DestinationProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        g_archiveBaseName = reinterpret_cast<const wchar_t*>(lParam);
        ShowProgramIcon(dialog);
    } else if (message != WM_COMMAND || !OnCommand(dialog, wParam)) {
        return FALSE;
    }
    SetDlgItemTextW(dialog, IDC_DEST_EDIT, Held(g_settings).destination);
    return message == WM_INITDIALOG;
}

// Opens the browser on the folder it was given.
int CALLBACK OnBrowserEvent(HWND browser, UINT message, LPARAM, LPARAM preselection) {
    // The message carries a pointer, never converted: the A call serves the W message.
    if (message == BFFM_INITIALIZED) SendMessageA(browser, BFFM_SETSELECTIONW, TRUE, preselection);
    return 0;
}

}  // namespace

bool ApplyArchiveFolder(wchar_t* destination, const wchar_t* archiveBaseName, bool checked) {
    if (checked) {
        // Room for the name, the separator after it and, unless the text ends in one
        // already, the separator before it.
        const size_t length = WideLength(destination);
        const bool separated = length > 0 && destination[length - 1] == L'\\';
        if (length + !separated + WideLength(archiveBaseName) + 1 >= kPathSize) return false;
        AppendTrailingBackslash(destination, kPathSize);
        JoinPath(destination, destination, archiveBaseName);
    } else {
        // Text, not folders: the name's first occurrence is cut off, with all behind it,
        // when no separator follows it.
        RemoveTrailingBackslash(destination);
        wchar_t* found = wcsstr(destination, archiveBaseName);
        if (found && LastSeparator(destination, false) < found - destination) *found = 0;
    }
    AppendTrailingBackslash(destination, kPathSize);
    return true;
}

int ShowDestinationDialog(const wchar_t* archiveBaseName) {
    return int(DialogBoxParamA(g_module, MAKEINTRESOURCEA(IDD_DESTINATION), nullptr, DestinationProc,
                               reinterpret_cast<LPARAM>(archiveBaseName)));
}

int BrowseForFolder(HWND owner, wchar_t* path, const wchar_t* preselection) {
    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    info.pszDisplayName = path;
    info.lpszTitle = kBrowseTitle;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    if (preselection) info.lpfn = OnBrowserEvent;
    info.lParam = reinterpret_cast<LPARAM>(preselection);
    LPITEMIDLIST chosen = SHBrowseForFolderW(&info);
    const int found = chosen ? SHGetPathFromIDListW(chosen, path) : 0;
    ILFree(chosen);  // the shell's own release of what it allocated: no import from ole32
    return found;
}
