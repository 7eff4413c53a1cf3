// Run driver: one extraction from opening the archive to the action after it.
#pragma once

#include <stdio.h>

#include "app/state.h"

// `archivePath` (kPathSize units): empty for the archive inside this program's own file.
// Returns the process's exit code (kExit*, or the command's own).
int RunDriver(const wchar_t* archivePath);

// Reads the Configuration block at `offset` of `file` and copies a valid one into the
// Run settings (switches lose to it, field by field). Returns 1 when the %temp% rule made
// the destination, else 0. The file is left at offset 0.
int ReadConfigurationBlock(FILE* file, uint64_t offset, const wchar_t* modulePath, RunSettings& settings);

// Puts the /T: folder of `settings` in place of the destination, its folder macro
// expanded as a block's would be. Returns 1 when the %temp% rule made the destination.
int ApplyInstallFolder(const wchar_t* modulePath, RunSettings& settings);

// Offset of the Configuration block behind this program's own image.
uint32_t OwnBlockOffset();

// Opens `module`'s own file for reading by its UTF-16 name, so that it opens wherever it
// lies, also in a folder whose name the ANSI code page cannot hold. `path` (kPathSize)
// receives that name.
FILE* OpenModuleFile(HINSTANCE module, wchar_t* path);
