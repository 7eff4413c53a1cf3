// The worker's modal dialogs, owned by the Progress window.
#pragma once

#include <windows.h>

constexpr int kPasswordSize = 128;
constexpr int kPasswordOk = 1, kPasswordCancel = 2, kPasswordSkip = 0;

struct PasswordRequest {
    const char* entryName;
    char* password;  // kPasswordSize bytes; receives what was typed, or is emptied
};

// Asks for the password of an encrypted entry: kPasswordOk, kPasswordCancel or kPasswordSkip.
int AskPassword(PasswordRequest* request);
