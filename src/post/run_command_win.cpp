// Run command: starts the configured program or .inf installation in the destination
// folder and, when the extracted files are to be deleted afterwards, waits until neither
// the program nor an installer window it handed over to is left.
//
// All waiting after the first idle wait is polling with fixed sleeps: the installer window
// may belong to a process the stub never sees, so only its class or title can be watched.
#include "post/after_extraction.h"

#include <shellapi.h>
#include <string.h>
#include <wchar.h>

#include "paths/path_utils.h"
#include "resources/resource_ids.h"
#include "ui/messages.h"

namespace {

constexpr int kCommandSize = sizeof(ConfigBlock::command);

// The ".exe" (any case) that ends the program's name: the first one followed by a blank
// or the end, so that a '.' in the parameters never moves the split. Null when none.
wchar_t* ProgramExtension(wchar_t* text) {
    for (wchar_t* dot = wcschr(text, L'.'); dot; dot = wcschr(dot + 1, L'.')) {
        // A zero byte never matches, so the text is long enough wherever this holds.
        if ((dot[1] | 0x20) == 'e' && (dot[2] | 0x20) == 'x' && (dot[3] | 0x20) == 'e' && (dot[4] == ' ' || dot[4] == 0))
            return dot;
    }
    return nullptr;
}

// A window by the class or the title that is not empty.
[[gnu::noinline]] HWND FindWindowByName(const char* className, const char* title) {
    return FindWindowA(className[0] ? className : nullptr, title[0] ? title : nullptr);
}

}  // namespace

void PrepareCommand(CommandLaunch& launch, const char* command, const wchar_t* destination, const wchar_t* rundll32) {
    memset(&launch, 0, sizeof launch);
    // The destination holds at most 259 units and the command 127, so both always fit;
    // the copies are bounded all the same, and leave the last unit zero for the empty
    // parameters below. The command is converted as the A calls would convert it.
    wchar_t* file = launch.file;
    constexpr size_t kRoom = kCommandLineSize - 1;
    lstrcpynW(file, destination, kRoom);
    const size_t used = WideLength(file);
    wchar_t wideCommand[kCommandSize];
    MultiByteToWideChar(CP_ACP, 0, command, -1, wideCommand, kCommandSize);
    wideCommand[kCommandSize - 1] = 0;
    lstrcpynW(file + used, wideCommand, int(kRoom - used));

    wchar_t* dot = LastDot(file);
    const bool inf = dot && lstrcmpiW(dot, L".inf") == 0;
    // Parameters follow only an ".exe": the byte after it ends the file name. The buffer is
    // zero-filled, so a command ending in ".exe" gets empty parameters.
    if (!inf && (dot = ProgramExtension(file))) {
        dot[4] = 0;
        launch.parameters = dot + 5;
    }
    // The program's folder (or the .inf's) is the working folder, never a folder named in
    // the parameters.
    SplitPath(file, launch.folder, nullptr);
    memcpy(launch.target, file, sizeof launch.target);
    if (!inf) return;

    GetShortPathNameW(file, launch.shortPath, 256);
    // The installer by its full path (at most 259 units), then its parameters.
    const wchar_t* program = rundll32 ? rundll32 : L"rundll.exe";
    const size_t length = WideLength(program) + 1;
    memcpy(file, program, length * sizeof(wchar_t));
    launch.parameters = file + length;
    wchar_t* parameters = file + length;
    lstrcpyW(parameters, rundll32 ? L"setupapi" : L"setupx.dll");
    lstrcatW(parameters, L",InstallHinfSection DefaultInstall 132 ");
    lstrcatW(parameters, launch.shortPath);
}

HWND FindInstallerWindow(char* className, char* title) {
    // Two window classes, then one title, in this order.
    static const char* const kNames[] = {"MsiDialogCloseClass", "InstallShield_Win", "Setup"};
    for (int i = 0; i < 3; ++i) {
        char* name = i < 2 ? className : title;
        lstrcpynA(name, kNames[i], kWindowNameSize);
        if (HWND window = FindWindowByName(className, title)) return window;
        name[0] = 0;
    }
    return nullptr;
}

namespace {
CommandLaunch s_launch;  // main thread only; too large for its stack frame
}

void CommandTarget(const char* command, const wchar_t* destination, wchar_t* target) {
    PrepareCommand(s_launch, command, destination, nullptr);
    memcpy(target, s_launch.target, sizeof s_launch.target);
}

[[gnu::noinline]] int RunCommand(const char* command, const wchar_t* destination, bool wait) {
    CommandLaunch& launch = s_launch;
    wchar_t rundll32[kPathSize];
    const bool hasRundll32 =
        SystemFilePath(rundll32, L"rundll32.exe", false) && GetFileAttributesW(rundll32) != INVALID_FILE_ATTRIBUTES;
    PrepareCommand(launch, command, destination, hasRundll32 ? rundll32 : nullptr);
    // Extracted, the command's file has been held since it was settled: it must still be
    // the file that passed its CRC.
    CommandFile& extracted = g_commandFile;
    if (extracted.held && !LeadsTo(LongPathForm(launch.target, 0), extracted.identity)) {
        ShowError(IDS_COMMAND_NOT_RUN);
        return kExitFailed;
    }

    SHELLEXECUTEINFOW execute = {};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_NOCLOSEPROCESS;
    execute.lpVerb = L"open";
    execute.lpFile = launch.file;
    execute.lpParameters = launch.parameters;
    execute.lpDirectory = launch.folder;
    execute.nShow = SW_SHOWDEFAULT;
    const BOOL started = ShellExecuteExW(&execute);
    if (extracted.held) CloseHandle(extracted.held);
    extracted.held = nullptr;
    if (!started) return kExitFailed;
    // Opened by a program already running (a document's): nothing of ours to wait for.
    if (!execute.hProcess) return kExitSuccess;

    HANDLE process = execute.hProcess;
    WaitForInputIdle(process, INFINITE);
    DWORD exitCode;
    if (!GetExitCodeProcess(process, &exitCode) || !wait) {
        CloseHandle(process);
        return kExitSuccess;
    }
    // A program that ended at once has likely handed over to an installer that is still
    // starting: it gets far longer for a window to appear.
    int tries = 3000;
    if (exitCode == STILL_ACTIVE) {
        while (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) Sleep(100);
        GetExitCodeProcess(process, &exitCode);
        tries = 200;
    }
    CloseHandle(process);
    Sleep(1000);

    char className[kWindowNameSize], title[kWindowNameSize];
    HWND window = nullptr;
    while (!window && tries-- > 0) {
        Sleep(10);
        className[0] = title[0] = 0;
        window = FindInstallerWindow(className, title);
    }
    // Watched by name, not by handle: the wait lasts while any such window exists.
    while (window) {
        Sleep(100);
        window = FindWindowByName(className, title);
    }
    return int(exitCode);
}
