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
    const wchar_t* parameters;       // inside `file`, or null
};

// Builds the launch of `command` (the Run settings' command, in the system code page) in
// `destination` (ending in '\') without starting anything. `rundll32`: the full path of
// rundll32.exe, or null where the system has none; it chooses how an .inf is installed.
void PrepareCommand(CommandLaunch& launch, const char* command, const wchar_t* destination, const wchar_t* rundll32);

// Starts the command. With `wait`, returns only once the process has ended and, after it,
// any installer window that showed up has gone, with the process's exit code; without,
// kExitSuccess once it started. kExitFailed when it could not be started.
int RunCommand(const char* command, const wchar_t* destination, bool wait);

// A window of one of the known installer kinds. `className` and `title` (kWindowNameSize
// each) come in empty; exactly one of them leaves with the name the window was found by,
// and both stay empty when none is found.
HWND FindInstallerWindow(char* className, char* title);

// ---- Extracted-file list and clean-up ----------------------------------------------------

// Appends a full output path to g_extractedFiles. Worker thread only.
void AppendExtractedFile(const wchar_t* path);
// Gives the blocks of the extracted-file list and of the created folders back; both are
// empty afterwards.
void ReleaseExtractedFiles();

// Deletes every listed file (each path begins with `destination`, which ends in '\'), then
// the emptied folders that held them, deepest first; with `temporaryDestination` 1 also the
// destination itself when nothing is left in it by then. Walks the list once, and leaves
// it fit only for its release.
void CleanUpExtractedFiles(const wchar_t* destination, int temporaryDestination);

// Removes every empty folder in the tree of `folder`, deepest first, and `folder` itself
// unless it is `root`, at any depth. Files are never deleted. 1 when `folder` could be
// listed, else 0.
int RemoveFolderTree(const wchar_t* folder, const wchar_t* root);
