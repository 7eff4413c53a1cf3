// Folder macros: a configured destination may begin with %Name%, which stands for a folder
// of the user's system (%Desktop%, %MyDocuments%, %ProgramFiles%, %SystemDir%, %WinDir%,
// %temp%).
#pragma once

#include "app/config_block.h"

// Writes the block's destination (in the system code page), its leading macro expanded,
// into `destination` (kPathSize units). An empty block destination leaves `destination` untouched. A destination
// that is exactly "%temp%" with delete-after-command set names a private folder,
// "~<program file name>.<16 random hex digits>" in the temporary folder, a name nobody can
// make in advance (the Run driver creates it fresh): then the result is 1, else 0.
// A value that does not fit its buffer is never cut: the destination is then kept as
// given, macro and all.
int ExpandDestination(wchar_t* destination, const ConfigBlock& block, const wchar_t* modulePath);
// The same for a folder given in UTF-16 (`given`, kPathSize units, borrowed for a moment),
// the /T: switch's; never empty.
int ExpandFolder(wchar_t* destination, wchar_t* given, bool deleteAfterCommand, const wchar_t* modulePath);
