// Progress window: the one modeless window of an extraction run, owner of every dialog
// and message box of the worker. It belongs to the main thread; the worker reaches it
// through synchronous sends of these private messages, and moves its bar with
// ShowProgress.
#pragma once

#include <windows.h>

#include <stdint.h>

constexpr UINT kMsgPlayAnimation = 1025;
constexpr UINT kMsgStopAnimation = 1026;

// Each position the bar is given repaints all of it and, as a themed bar lets its parent
// show through, the dialog behind it. So the bar moves in steps of a 256th of its length:
// about a pixel at its usual size, a ninth of a chunk where it is drawn in chunks.
constexpr uint32_t kProgressSteps = 256;

// Creates and shows the window (g_progressWindow); the bar runs from 0 to
// `centralDirectoryKib`, the position in KiB that reading reaches at the central directory.
HWND OpenProgressWindow(uint32_t centralDirectoryKib);

// Worker: the archive position, in KiB, for the bar. Only a position in a new step goes
// on, and without waiting for the main thread: one pixel of the window is marked for
// painting, and the main thread hands the bar the newest position when it paints. A burst
// of positions thus costs one repaint, and decoding never waits for one.
void ShowProgress(uint32_t kib);
