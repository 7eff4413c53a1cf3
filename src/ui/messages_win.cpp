// Message boxes.
#include "ui/messages.h"

#include "app/state.h"

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
