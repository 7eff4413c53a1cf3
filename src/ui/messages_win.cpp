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

int ShowStringMessage(HWND owner, UINT id, const char* argument, UINT style) {
    char format[kMessageSize];
    char text[kMessageSize + MAX_PATH];
    LoadStringA(g_module, id, format, sizeof format);
    if (argument) {
        wsprintfA(text, format, argument);
    } else {
        lstrcpynA(text, format, sizeof text);
    }
    return MessageBoxA(owner, text, kCaption, style);
}

void ShowProgramIcon(HWND window) {
    SendMessageA(window, WM_SETICON, ICON_BIG, LPARAM(LoadIconA(g_module, MAKEINTRESOURCEA(IDI_PROGRAM))));
}

void ShowError(UINT id) { ShowStringMessage(nullptr, id, nullptr, MB_ICONERROR); }
