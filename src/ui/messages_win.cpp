// Message boxes.
#include "ui/messages.h"

#include <string.h>

#include "ui/dialogs.h"

#include "app/state.h"
#include "paths/path_utils.h"
#include "resources/resource_ids.h"

namespace {

// A format's text with an entry's name in it, in UTF-16.
constexpr size_t kNameTextSize = kMessageSize + 2 + kUtf8NameSize;

// `format` with its first "%s" replaced by `name`, or `name`, an empty line and `format`
// when it has none, into `text` (kNameTextSize units). Not wsprintfW: it stops at 1,024
// characters, and a name is shown whole.
void InsertName(wchar_t* text, const wchar_t* format, const wchar_t* name) {
    const wchar_t* place = format;
    while (*place && !(place[0] == L'%' && place[1] == L's')) ++place;
    const bool found = *place != 0;
    const wchar_t* after = found ? place + 2 : format;
    if (!found) place = format;
    const size_t before = size_t(place - format);
    memcpy(text, format, before * sizeof(wchar_t));
    lstrcpyW(text + before, name);
    if (!found) lstrcatW(text, L"\n\n");
    lstrcatW(text, after);
}

// A quiet run (/Q, /P) shows no message and waits for nobody: the answer is the first
// button's, Yes or OK.
bool QuietAnswer(UINT style, int& answer) {
    answer = (style & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
    return g_settings.quietMode != 0;
}

}  // namespace

void FillTemplateText(HWND dialog, int id, const wchar_t* argument, int formatSize) {
    wchar_t format[kMessageSize], text[kNameTextSize];
    GetDlgItemTextW(dialog, id, format, formatSize < kMessageSize ? formatSize : kMessageSize);
    InsertName(text, format, argument);
    SetDlgItemTextW(dialog, id, text);
}

int ShowMessage(HWND owner, const char* text, const char* caption, UINT style) {
    int answer;
    if (QuietAnswer(style, answer)) return answer;
    return MessageBoxA(owner, text, caption, style);
}

int ShowStringMessage(HWND owner, UINT id, const char* argument, UINT style) {
    char format[kMessageSize];
    char text[kMessageSize + MAX_PATH];
    LoadStringA(g_module, id, format, sizeof format);
    if (argument) {
        wsprintfA(text, format, argument);
    } else {
        lstrcpynA(text, format, sizeof text);
    }
    return ShowMessage(owner, text, kCaption, style);
}

int ShowNameMessage(HWND owner, UINT id, const wchar_t* name, UINT style) {
    int answer;
    if (QuietAnswer(style, answer)) return answer;
    wchar_t format[kMessageSize], text[kNameTextSize];
    LoadStringW(g_module, id, format, kMessageSize);
    InsertName(text, format, name);
    return MessageBoxW(owner, text, L"DUD-ORE", style);
}

void ShowProgramIcon(HWND window) {
    SendMessageA(window, WM_SETICON, ICON_BIG, LPARAM(LoadIconA(g_module, MAKEINTRESOURCEA(IDI_PROGRAM))));
}

void ShowError(UINT id) { ShowStringMessage(nullptr, id, nullptr, MB_ICONERROR); }
