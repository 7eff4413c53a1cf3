// Progress window: the one modeless window of an extraction run, owner of every dialog
// and message box of the worker. It belongs to the main thread; the worker reaches it
// only through synchronous sends of these private messages.
#pragma once

#include <windows.h>

#include <stdint.h>

constexpr UINT kMsgSetPosition = 1004;  // lParam: bar position in KiB
constexpr UINT kMsgPlayAnimation = 1025;
constexpr UINT kMsgStopAnimation = 1026;

// Each position the bar is given repaints all of it and, as a themed bar lets its parent
// show through, the dialog behind it. So the bar moves in steps of a 256th of its length:
// about a pixel at its usual size, a ninth of a chunk where it is drawn in chunks.
constexpr uint32_t kProgressSteps = 256;

// Sends `message` to the window (wParam 0), from one place for every sender.
LRESULT SendToProgress(UINT message, LPARAM lParam = 0);

// Creates and shows the window (g_progressWindow); the bar runs from 0 to
// `centralDirectoryKib`, the position in KiB that reading reaches at the central directory.
HWND OpenProgressWindow(uint32_t centralDirectoryKib);

// Worker: the archive position, in KiB, for the bar. A position in a new step is sent
// (kMsgSetPosition), so the worker never runs more than a step ahead of the window and
// of a Cancel waiting there; the window paints the bar when it has nothing else to do, so
// a burst of positions costs one repaint, and decoding does not wait for it.
void ShowProgress(uint32_t kib);
