// Start-up and command line.
#pragma once

#include <windows.h>

#include "app/state.h"

// The tail of a command line: behind the program name (quoted or not) and the blanks after it.
const wchar_t* FindCommandTail(const wchar_t* commandLine);

// Prepares the process-wide state, reads the switches and runs one extraction. Returns the
// process's exit code.
int StartUp(HINSTANCE module, const wchar_t* tail);

// Reads the switches of `tail` into `settings` and the archive path (kPathSize units) into
// `archivePath`. 1 to go on; 0 to end the process silently with kExitBadCommandLine (no
// such archive, or a tail, path, command or folder longer than its buffer).
int ParseCommandLine(const wchar_t* tail, wchar_t* archivePath, RunSettings& settings);

