// Path utilities: ANSI paths in the system code page, where the second byte of a
// double-byte character may equal '\'. Every test for a separator or for the last
// character is made on the UTF-16 form or by a walk that knows lead bytes.
#pragma once

#include <windows.h>

// Removes the spaces (0x20 only; tabs stay) at the end of `text`, in place. Returns the
// index of the last byte left, or -1 when none is left.
int TrimTrailingBlanks(char* text);
