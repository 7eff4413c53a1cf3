// Start-up and command line.
#pragma once

#include <windows.h>

#include "app/state.h"

// The tail of a command line: behind the program name (quoted or not) and the blanks after it.
const char* FindCommandTail(const char* commandLine);

// Prepares the process-wide state, reads the switches and runs one extraction. Returns the
// process's exit code.
int StartUp(HINSTANCE module, const char* tail);

// Reads the switches of `tail` into `settings` and the archive path (kPathSize bytes) into
// `archivePath`. 1 to go on; 0 to end the process silently with kExitBadCommandLine (no
// such archive, or a tail, path, command or folder longer than its buffer).
int ParseCommandLine(const char* tail, char* archivePath, RunSettings& settings);

