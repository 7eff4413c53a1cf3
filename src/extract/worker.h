// Entry extraction loop: the procedure of the one worker thread.
#pragma once

#include <windows.h>

// Extracts every entry of g_reader's archive into the destination of the Run settings,
// then closes the Progress window. Returns 0, or -1 after a stop.
DWORD WINAPI ExtractionThread(void* unused);

