// Run driver: one extraction from beginning to end, on the main thread.
//
// The main thread owns every window. It waits for the worker only after its message loop
// has ended, because the worker's synchronous sends to the Progress window need the loop
// until its very last message.
#include "app/run_driver.h"

#include <shellapi.h>
#include <string.h>

#include "app/destination.h"
#include "archive/file_position.h"
#include "archive/self_check.h"
#include "extract/worker.h"
#include "paths/path_utils.h"
#include "post/after_extraction.h"
#include "resources/resource_ids.h"
#include "ui/dialogs.h"
#include "ui/messages.h"
#include "ui/progress.h"

namespace {

// The run's own values, beside the process-wide Run settings.
struct Run {
    wchar_t archivePath[kPathSize];  // the program's own file for the embedded archive
    wchar_t baseFolder[kPathSize];   // the archive's folder, ending in '\'
    int temporaryDestination;        // the %temp% rule made the destination (for the clean-up)
    wchar_t privateFolder[kPathSize];  // that destination as the rule made it
    bool selfCheckFailed;        // reported, and the run goes on without a command
};

// Opens the archive: this program's own file (reading its Configuration block) when the
// path is empty. Null when the run ends here; the user has been told why, if at all.
FILE* OpenArchive(Run& run) {
    wchar_t* path = run.archivePath;
    const bool own = path[0] == 0;
    FILE* file = own ? OpenModuleFile(g_module, path) : _wfopen(path, L"rb");
    if (!file) {
        ShowError(IDS_CANNOT_OPEN_ARCHIVE);
        return nullptr;
    }
    if (own) {
        const int64_t length = LengthOf(file);
        const uint32_t blockOffset = OwnBlockOffset();
        if (length <= int64_t(blockOffset)) {
            fclose(file);
            return nullptr;
        }
        // Whatever signing appended (a certificate table) is no part of the archive, and
        // nothing in it or behind it is ever taken for an entry.
        CertificateTable table;
        g_reader.end = uint64_t(length);
        if (FindCertificateTable(reinterpret_cast<const uint8_t*>(g_module), 4096, table) &&
            table.offset >= blockOffset + kBlockSize && table.offset < g_reader.end)
            g_reader.end = table.offset;
        run.temporaryDestination = ReadConfigurationBlock(file, blockOffset, path, g_settings);
    }
    if (g_settings.installFolder[0]) run.temporaryDestination = ApplyInstallFolder(run.archivePath, g_settings);
    if (run.temporaryDestination) lstrcpynW(run.privateFolder, g_settings.destination, kPathSize);
    return file;
}

// The configured question and the self-check: kExitSuccess to go on. A failed self-check
// (already reported) stops the run only when a command would run on the files; otherwise
// it only fails the run's result (`run.selfCheckFailed`).
int PassQuestionAndSelfCheck(Run& run, const ConfigBlock& config) {
    if (config.questionText[0] &&
        ShowMessage(nullptr, config.questionText, config.questionTitle, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return kExitCancelled;
    if (config.expectedCrc != 0 && ArchiveSelfCheck(nullptr, g_module, config.expectedCrc) == 0) {
        if (config.command[0]) return kExitFailed;
        run.selfCheckFailed = true;
    }
    return kExitSuccess;
}

int RefuseDestination() {
    ShowError(IDS_INVALID_PATH);
    return kExitFailed;
}

// Turns the destination of the Run settings into a full folder path ending in '\', with
// the user's help unless the dialog is skipped (`archiveBaseName` is for its check box).
// kExitSuccess, or the run's result when it ends here.
int SettleDestination(const Run& run, const wchar_t* archiveBaseName, const ConfigBlock& config) {
    wchar_t* destination = Held(g_settings).destination;
    if (destination[0] == 0) lstrcpynW(destination, run.baseFolder, kPathSize);
    const bool askUser = !config.skipDestinationDialog && !g_settings.quietMode;
    for (;;) {
        if (askUser && ShowDestinationDialog(archiveBaseName) != IDOK) return kExitCancelled;
        const Resolution resolution = ResolveDestination(destination, run.baseFolder);
        if (resolution == Resolution::Settled) break;
        if (resolution == Resolution::TooLong) {
            // Told why, the user may type a shorter path in the dialog.
            RefuseDestination();
            if (!askUser) return kExitFailed;
        } else if (HasForbiddenCharacter(run.baseFolder)) {
            // A base folder that is itself refused (a ';'): told why, the user may type
            // another; without the dialog nobody can.
            RefuseDestination();
            if (!askUser) return kExitFailed;
        }
    }
    TrimTrailingBlanks(destination);
    if (!AppendTrailingBackslash(destination, kPathSize)) return RefuseDestination();
    return kExitSuccess;
}

// Makes sure the destination folder exists, asking first unless told not to. A private
// %temp% folder is always made anew: one that exists already was made by someone else.
// kExitSuccess, or the run's result when it ends here.
int EnsureDestinationExists(Run& run, const ConfigBlock& config) {
    const wchar_t* destination = g_settings.destination;
    AppendTrailingBackslash(run.privateFolder, kPathSize);
    // The user may have chosen another folder in the dialog: that one is no private one.
    if (run.temporaryDestination && lstrcmpiW(run.privateFolder, destination) != 0) run.temporaryDestination = 0;
    if (!run.temporaryDestination && GetFileAttributesW(destination) != INVALID_FILE_ATTRIBUTES) return kExitSuccess;
    if (!config.overwriteWithoutAsking &&
        ShowNameMessage(nullptr, IDS_FOLDER_MISSING, destination, MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
        return kExitCancelled;
    if (run.temporaryDestination ? CreateDirectoryW(destination, nullptr) != 0 : CreateFolderPath(destination) != 0)
        return kExitSuccess;
    ShowError(IDS_CANNOT_CREATE_FOLDER);
    return kExitFailed;
}

// The Progress window, the worker, and the message loop until the window is gone.
void Extract() {
    // Without its window (a failed creation) nothing would ever end the loop: then the
    // worker runs alone and the driver only waits for it.
    const bool windowOpen = !(g_settings.quietMode & kQuietNoWindows) &&
                            OpenProgressWindow(uint32_t(g_reader.centralStart / 1024)) != nullptr;
    HANDLE worker = CreateThread(nullptr, 0, ExtractionThread, nullptr, 0, nullptr);
    MSG message;
    while (windowOpen && GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageA(g_progressWindow, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
}

void OpenExplorer(const wchar_t* destination) {
    MessageBeep(MB_ICONASTERISK);
    wchar_t explorer[kPathSize];
    if (!SystemFilePath(explorer, L"explorer.exe", true)) return;
    // The same call as the configured command's, so one import serves both.
    SHELLEXECUTEINFOW execute = {};
    execute.cbSize = sizeof execute;
    execute.lpVerb = L"open";
    execute.lpFile = explorer;
    execute.lpParameters = destination;
    execute.nShow = SW_SHOWDEFAULT;
    ShellExecuteExW(&execute);
}

// The run's result once extraction ended: a cancel, a failed entry (then no command runs
// and nothing is deleted), or what the command returned.
int Finish(const Run& run, const ConfigBlock& config) {
    if (g_cancelState == kCancelByUser) return kExitCancelled;
    if (g_cancelState != 0) return kExitFailed;
    if (g_failedEntries != 0) {
        // Neither run on damaged files nor delete what is left of them.
        if (config.command[0]) ShowError(IDS_COMMAND_NOT_RUN);
        return kExitFailed;
    }
    if (config.command[0]) {
        // The caller of a quiet run learns when the whole installation has ended.
        const bool wait = config.deleteAfterCommand || g_settings.quietMode;
        const int result = RunCommand(config.command, g_settings.destination, wait);
        if (config.deleteAfterCommand && g_extractedFiles.paths)
            CleanUpExtractedFiles(g_settings.destination, run.temporaryDestination);
        return result;
    }
    if (config.openExplorer && !g_settings.quietMode) OpenExplorer(g_settings.destination);
    return run.selfCheckFailed ? kExitFailed : kExitSuccess;
}

[[gnu::noinline]] int RunOpenArchive(Run& run) {
    ConfigBlock& config = Held(g_settings).config;
    if (int result = PassQuestionAndSelfCheck(run, config)) return result;
    // Relative forms of the destination are taken against the archive's folder, so the
    // archive's path is made full first (a path typed on a command line may be relative).
    wchar_t fullPath[kPathSize];
    const DWORD length = GetFullPathNameW(run.archivePath, kPathSize, fullPath, nullptr);
    // The archive's file name without its last extension.
    wchar_t archiveBaseName[kPathSize];
    SplitPath(length > 0 && length < kPathSize ? fullPath : run.archivePath, run.baseFolder, archiveBaseName);
    if (wchar_t* extension = LastDot(archiveBaseName)) *extension = 0;
    TrimTrailingBlanks(archiveBaseName);
    if (int result = SettleDestination(run, archiveBaseName, config)) return result;
    if (int result = EnsureDestinationExists(run, config)) return result;
    RememberDestination(g_settings.destination);
    // The worker holds the command's file from the moment it is settled.
    static_assert(sizeof g_commandFile.path == kCommandLineSize * sizeof(wchar_t));
    if (config.command[0]) CommandTarget(config.command, g_settings.destination, g_commandFile.path);
    Extract();
    return Finish(run, config);
}

}  // namespace

int RunDriver(const wchar_t* archivePath) {
    Run run = {};
    lstrcpynW(run.archivePath, archivePath, kPathSize);
    memset(&g_reader, 0, sizeof g_reader);
    g_reader.archive = OpenArchive(run);  // sets g_reader.end for the program's own file
    if (!g_reader.archive) return kExitBadArchive;
    int result = kExitBadArchive;
    if (!FindCentralDirectory(g_reader)) {
        ShowError(IDS_NOT_SUPPORTED_FORMAT);
    } else {
        result = RunOpenArchive(run);
    }
    fclose(g_reader.archive);
    g_reader.archive = nullptr;
    ReleaseExtractedFiles();
    return result;
}
