// After extraction: running the configured command, waiting for the installer it starts,
// and deleting the extracted files afterwards.
#pragma once

#include <windows.h>

#include "app/state.h"

// ---- Run command ----------------------------------------------------------------------

constexpr size_t kCommandLineSize = 512;
constexpr size_t kWindowNameSize = 128;

// What ShellExecuteExW is given for a command, in UTF-16: it starts in a folder of any script.
struct CommandLaunch {
    wchar_t file[kCommandLineSize];  // the program; the parameters, when any, follow its terminator
    wchar_t folder[kPathSize];       // working folder: the folder of the program or .inf
    wchar_t shortPath[kPathSize];    // an .inf's short path (empty when it has none)
    wchar_t target[kCommandLineSize];  // the file the command runs: the program, or the .inf
    const wchar_t* parameters;       // inside `file`, or null
};

// Builds the launch of `command` (the Run settings' command, in the system code page) in
// `destination` (ending in '\') without starting anything. `rundll32`: the full path of
// rundll32.exe, or null where the system has none; it chooses how an .inf is installed.
void PrepareCommand(CommandLaunch& launch, const char* command, const wchar_t* destination, const wchar_t* rundll32);

// The file that `command` runs in `destination`, its program or its .inf, into `target`
// (kCommandLineSize units).
void CommandTarget(const char* command, const wchar_t* destination, wchar_t* target);

// Starts the command. With `wait`, returns only once the process has ended and, after it,
// any installer window that showed up has gone, with the process's exit code; without,
// kExitSuccess once it started. kExitFailed when it could not be started.
int RunCommand(const char* command, const wchar_t* destination, bool wait);

// A window of one of the known installer kinds. `className` and `title` (kWindowNameSize
// each) come in empty; exactly one of them leaves with the name the window was found by,
// and both stay empty when none is found.
HWND FindInstallerWindow(char* className, char* title);

// ---- Extracted-file list and clean-up ----------------------------------------------------

// Appends a full output path and the identity of the file written to g_extractedFiles.
// Worker thread only.
void AppendExtractedFile(const wchar_t* path, const FileIdentity& identity);
// Gives the blocks of the extracted-file list and of the created folders back, and lets
// the command's file go; all are empty afterwards.
void ReleaseExtractedFiles();

// Deletes every listed file (each path begins with `destination`, which ends in '\') that
// is still the file written, then every folder this run made below the destination that
// is empty by then, deepest first; with `temporaryDestination` 1 also the destination
// itself when nothing is left in it. Needs RememberDestination first.
void CleanUpExtractedFiles(const wchar_t* destination, int temporaryDestination);
