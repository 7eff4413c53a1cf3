// The process-wide state of the stub, in one place. Two threads share it: the main
// thread (every window, the message loop) and the one extraction worker.
#pragma once

#include <windows.h>

#include "app/import_jumps.h"

#include "app/config_block.h"
#include "archive/zip_reader.h"
#include "paths/file_handles.h"

constexpr size_t kPathSize = MAX_PATH;  // 260: every path buffer, terminator included

// Unattended runs: /P asks nothing, /Q also shows nothing (no Progress window either).
constexpr int kQuietNoQuestions = 1, kQuietNoWindows = 2;

// Run settings. The first 512 bytes mirror the Configuration block field by field (the
// magic stays zero). Written by the main thread before the worker starts; while the
// worker runs only the worker writes overwriteWithoutAsking and newerOnly.
struct RunSettings {
    ConfigBlock config;
    int newerOnly;
    int quietMode;  // kQuiet* bits from /P and /Q; no block changes it
    wchar_t installFolder[kPathSize];  // /T:, empty without it; replaces every other destination
    // The destination in use: from the quoted command-line form, then the block, /T: or
    // the dialog, as each comes; the Run driver settles it before the worker starts.
    wchar_t destination[kPathSize];
};
static_assert(offsetof(RunSettings, newerOnly) == kBlockSize);

// The process's exit codes, as installers and package managers read them (the command's
// own code is passed on where the stub waits for it, so 3010 and 1641 reach the caller).
constexpr int kExitSuccess = 0;
constexpr int kExitBadCommandLine = 87;  // ERROR_INVALID_PARAMETER
constexpr int kExitCancelled = 1602;     // ERROR_INSTALL_USEREXIT: cancelled or declined
constexpr int kExitFailed = 1603;        // ERROR_INSTALL_FAILURE
constexpr int kExitBadArchive = 1620;    // ERROR_INSTALL_PACKAGE_INVALID: not an archive we read

extern RunSettings g_settings;

// `object` through a pointer the compiler cannot see through. Code that reaches a global
// many times through it keeps the address in a register and reaches the fields by offset:
// an absolute address costs four bytes in every instruction and a base relocation.
template <class T>
inline T& Held(T& object) {
    T* p = &object;
    asm("" : "+r"(p));
    return *p;
}
extern HINSTANCE g_module;  // set once at start-up; for resources and the module file name

// Cancel state: 0 running, 100 the user stopped, anything else an error ended extraction.
// Written by the main thread (Progress window) and the worker; read without locks.
extern volatile int g_cancelState;
constexpr int kCancelByUser = 100;

// The Progress window, 0 until the Run driver creates it (main thread).
extern HWND g_progressWindow;

// The open archive and the reader's cursor. Opened and closed by the Run driver only.
extern ZipReader g_reader;

// Entries that failed: a CRC error, a write that failed, a file that could not be
// created. Counted by the worker; read by the Run driver after the worker ended, which
// then runs no command on what was extracted.
extern int g_failedEntries;

// A list of full paths, each followed by the identity of what it named when recorded (its
// bytes, in kIdentityUnits units): path, terminator, identity, one record
// after another in the order added. `size` counts every unit. One heap block, null until
// the first path.
struct PathList {
    wchar_t* paths;  // UTF-16, as the worker wrote them
    size_t size;
};

// Extracted-file list: the files extracted and verified, in the order written, each with
// the identity of the file written. Appended by the worker only when delete after command
// is set; walked by the clean-up and released by the main thread after the worker ended.
extern PathList g_extractedFiles;

// The folders this run made, each ending in '\', with their identities (CreateFolderPath
// appends every level it creates: the worker's, and the destination that the Run driver
// makes). A folder entry gives its time and attributes to these only, never to a folder
// that was there before, and the clean-up removes no other. Released with the
// extracted-file list.
extern PathList g_createdFolders;

// The command's own file (the program, or the .inf), once extraction settled it: held open
// with read sharing only until the command has started, so that nobody can replace,
// rename or delete it meanwhile, and checked by identity just before the start. Set by the
// Run driver (the path) and the worker (the rest).
struct CommandFile {
    wchar_t path[512];  // the destination and the command's file name; empty without a command
    HANDLE held;        // null until settled
    FileIdentity identity;
};
extern CommandFile g_commandFile;
