// Message boxes and the texts that are the same in every language.
#pragma once

#include <windows.h>

// Inline: one copy in the image however many files use them.
inline constexpr char kCaption[] = "DUD-ORE";
inline constexpr char kWarningCaption[] = "Warning";
inline constexpr char kCrcErrorText[] = "CRC Error!";
inline constexpr char kInvalidPasswordText[] = "Invalid Decryption Password.";
inline constexpr wchar_t kBrowseTitle[] = L"Please select a folder to store the extracted files.";

constexpr int kMessageSize = 128;  // every string-table text is loaded into this much

// The message box of every text in the code page. In a quiet run (/Q, /P) none is shown and nobody waits:
// the answer is the first button's, Yes or OK.
int ShowMessage(HWND owner, const char* text, const char* caption, UINT style);
// Loads string `id`, formats it with `argument` when one is given, and shows it with the
// caption "DUD-ORE". Returns the message box's answer.
int ShowStringMessage(HWND owner, UINT id, const char* argument, UINT style);
// Loads string `id` and shows it with its "%s" replaced by `name` (an entry's name, whole:
// kUtf8NameSize units at most), or behind `name` and an empty line when the string has no
// "%s". Returns the message box's answer; in a quiet run, as ShowMessage does, without one.
int ShowNameMessage(HWND owner, UINT id, const wchar_t* name, UINT style);
// The same for string `id` alone, as an error without an owner.
void ShowError(UINT id);
