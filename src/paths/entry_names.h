// The text rules for entry names and destinations that need no system call: separators,
// trailing blanks and parent references. Portable, so the whole-run fuzz target applies
// them as the worker does.
#pragma once

// Removes the spaces (0x20 only; tabs stay) at the end. Index of the last byte left, or -1.
int TrimTrailingBlanks(char* text);
void SlashesToBackslashes(char* text);
// Removes every "..\" from an entry name, repeating until none is left. Always 1.
int StripParentReferences(char* name);

// Normalises an entry name in place: '/' to '\', one leading '\' dropped, every "..\"
// removed, so that no name reaches above the destination folder.
void PrepareEntryName(char* name);
