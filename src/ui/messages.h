// Message boxes and the texts that are the same in every language.
#pragma once

#include <windows.h>

constexpr char kCaption[] = "DUD-ORE";
constexpr char kWarningCaption[] = "Warning";
constexpr char kCrcErrorText[] = "CRC Error!";
constexpr char kInvalidPasswordText[] = "Invalid Decryption Password.";
constexpr char kBrowseTitle[] = "Please select a folder to store the extracted files.";

constexpr int kMessageSize = 128;  // every string-table text is loaded into this much

// Loads string `id`, formats it with `argument` when one is given, and shows it with the
// caption "DUD-ORE". Returns the message box's answer.
int ShowStringMessage(HWND owner, UINT id, const char* argument, UINT style);
