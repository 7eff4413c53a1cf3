// Message boxes.
#include "ui/messages.h"

#include "ui/dialogs.h"

#include "app/state.h"
#include "resources/resource_ids.h"

void FillTemplateText(HWND dialog, int id, const char* argument, int formatSize) {
    char format[kMessageSize], text[kMessageSize + MAX_PATH];
    GetDlgItemTextA(dialog, id, format, formatSize < kMessageSize ? formatSize : kMessageSize);
    wsprintfA(text, format, argument);
    SetDlgItemTextA(dialog, id, text);
}

int ShowMessage(HWND owner, const char* text, const char* caption, UINT style) {
    if (g_settings.quietMode) return (style & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
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

void ShowProgramIcon(HWND window) {
    SendMessageA(window, WM_SETICON, ICON_BIG, LPARAM(LoadIconA(g_module, MAKEINTRESOURCEA(IDI_PROGRAM))));
}

void ShowError(UINT id) { ShowStringMessage(nullptr, id, nullptr, MB_ICONERROR); }
