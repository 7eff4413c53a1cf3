// Archive self-check: the CRC-32 of everything in the program's own file behind the
// Configuration block, compared with the value the block expects.
#pragma once

#include <windows.h>

// Returns the computed CRC-32 when `expected` is 0 or equal to it; 0 after warning the user
// (owned by `owner`) of a mismatch, and 0 without a word when the file cannot be opened.
DWORD ArchiveSelfCheck(HWND owner, HINSTANCE module, DWORD expected);
