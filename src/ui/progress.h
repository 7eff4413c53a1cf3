// Progress window: the one modeless window of an extraction run, owner of every dialog
// and message box of the worker. It belongs to the main thread; the worker reaches it
// only through synchronous sends of these private messages.
#pragma once

#include <windows.h>

#include <stdint.h>

constexpr UINT kMsgSetPosition = 1004;  // lParam: bar position in KiB
constexpr UINT kMsgPlayAnimation = 1025;
constexpr UINT kMsgStopAnimation = 1026;

// Creates and shows the window (g_progressWindow); the bar runs from 0 to
// `centralDirectoryKib`, the position in KiB that reading reaches at the central directory.
HWND OpenProgressWindow(uint32_t centralDirectoryKib);
