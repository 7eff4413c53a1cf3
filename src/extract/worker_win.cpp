// Entry extraction loop.
//
// Each entry is written to a temporary file in its target folder and moved over the
// target only once it is whole and passed its CRC test, after a cancel too: an existing
// file is never lost to a damaged, oversized or interrupted entry. Time and attributes
// are set on that verified file alone. An entry that fails is counted (the Run driver
// then runs no command on the files) and the user is told which.
//
// The destination may be a folder that others can write to. The temporary file is
// written and settled through the handle that created it, shared with nobody for writing
// or deleting, and the output's name must lead to that very file (by identity) inside the
// destination afterwards, or the entry fails. Nothing is made or written through a
// reparse point below the destination.
//
// Names and output paths are UTF-16 and every file call is a W call through
// LongPathForm, so a name of any script and a path of any length reach the disk as they
// are. Each step on a path (create the temporary file, settle it, set time and
// attributes) is one small function.
#include "extract/worker.h"

#include <io.h>
#include <stdlib.h>
#include <string.h>

#include "app/state.h"
#include "archive/crc32.h"
#include "archive/file_position.h"
#include "codecs/decode_entry.h"
#include "paths/path_utils.h"
#include "post/after_extraction.h"
#include "resources/resource_ids.h"
#include "ui/dialogs.h"
#include "ui/messages.h"
#include "ui/progress.h"

namespace {

// The state of one worker run, in one heap block: far too large for the worker's stack.
// The small fields come first, so that they are reached with short offsets.
struct Worker {
    int result;
    StreamHost host;
    EntryRecord entry;
    wchar_t destination[kPathSize];  // the Run settings' destination, as settled
    wchar_t name[kUtf8NameSize];     // the entry's name after the text rules
    wchar_t output[kLongPathSize];
    wchar_t temporary[kLongPathSize];
    char password[kPasswordSize];  // the last password typed; serves every entry it opens
    EntryStream stream;
    uint8_t work[kWorkBufferSize];  // the Work buffer
};

void ReportProgress(void*, uint32_t kib) { ShowProgress(kib); }

// Sets the creation and last-write times of an open file or folder from a DOS date and time.
void SetFileTimeFromDos(HANDLE file, WORD dosDate, WORD dosTime) {
    FILETIME local, utc;
    if (DosDateTimeToFileTime(dosDate, dosTime, &local) && LocalFileTimeToFileTime(&local, &utc))
        SetFileTime(file, &utc, nullptr, &utc);
}

DWORD ExistingDosDateTime(const wchar_t* path, uint64_t& size) {
    size = 0;
    HANDLE file = CreateFileW(LongPathForm(path, 0), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    FILETIME written, local;
    WORD date = 0, time = 0;
    if (GetFileTime(file, nullptr, nullptr, &written) && FileTimeToLocalFileTime(&written, &local))
        FileTimeToDosDateTime(&local, &date, &time);
    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    size = uint64_t(high) << 32 | low;
    CloseHandle(file);
    return DWORD(date) << 16 | time;
}

// An entry that failed: the user is told which, and the driver will run no command.
void Fail(const char* text) {
    ++g_failedEntries;
    ShowMessage(g_progressWindow, text, kCaption, MB_ICONERROR);
}

// Write decision for an entry whose output file may exist: >0 write, 0 skip, -1 stop.
int DecideOverwrite(Worker& w, bool exists) {
    RunSettings& settings = g_settings;
    if (settings.config.overwriteWithoutAsking || !exists)
        return 1;
    uint64_t existingSize;
    const DWORD existingTime = ExistingDosDateTime(w.output, existingSize);
    const DWORD entryTime = w.entry.DosDateTime();
    int decision;
    if (settings.newerOnly) return existingTime < entryTime ? 1 : 0;
    if (settings.quietMode) return 0;  // nobody to ask: the existing file stays
    OverwriteRequest request = {w.output, existingTime, entryTime, existingSize, w.entry.uncompressedSize};
    switch (AskOverwrite(&request)) {
        case kOverwriteNo:
            decision = 0;
            break;
        case kOverwriteYesToAll:
            settings.config.overwriteWithoutAsking = 1;
            decision = 1;
            break;
        case kOverwriteCancel:
            g_cancelState = kCancelByUser;
            w.result = -1;
            return -1;
        default:
            decision = 1;
            break;
    }
    if (settings.newerOnly) decision = existingTime < entryTime ? 1 : 0;
    return decision;
}

// The entry's password check, against the reader's archive and central record.
bool CheckEntryPassword(Worker& w, const char* password) {
    return CheckPassword(w.stream.decryption, g_reader.archive, password, w.entry, g_reader.central);
}

// Opens an encrypted entry with the known password or one the user types. >0 go on,
// 0 skip the entry (it counts as failed: the files are not whole), -1 stop.
int OpenEncrypted(Worker& w) {
    if (CheckEntryPassword(w, w.password)) return 1;
    if (g_settings.quietMode) {
        Fail(kInvalidPasswordText);  // nobody to ask
        return 0;
    }
    SendToProgress(kMsgStopAnimation);
    int decision = 0;
    for (;;) {
        w.password[0] = 0;
        PasswordRequest request = {w.name, w.password};
        const int answer = AskPassword(&request);
        if (answer == kPasswordCancel) {
            g_cancelState = kCancelByUser;
            w.result = -1;
            return -1;
        }
        if (answer != kPasswordOk) break;
        if (CheckEntryPassword(w, w.password)) {
            decision = 1;
            break;
        }
        ShowMessage(g_progressWindow, kInvalidPasswordText, kWarningCaption, MB_OK | MB_ICONWARNING);
    }
    SendToProgress(kMsgPlayAnimation);
    if (decision == 0) ++g_failedEntries;
    return decision;
}

// "Cannot create a file." under the entry's name.
void FailToCreate(const Worker& w) {
    ++g_failedEntries;
    ShowNameMessage(g_progressWindow, IDS_CANNOT_CREATE_FILE, w.name, MB_ICONERROR);
}

// Creates a new, empty file in the output's folder whose name is no longer than the
// output's own (at most 8 bytes): whatever output path fits, its temporary one fits too.
// Never takes a name that exists. Nobody else may write to it, replace it or (but on XP)
// take its name while it is open: it is written and settled through this handle alone,
// never opened by name again.
HANDLE CreateTemporaryFile(Worker& w) {
    const size_t folder = size_t(LastSeparator(w.output, false) + 1);
    size_t length = WideLength(w.output + folder);
    if (length > 8) length = 8;
    memcpy(w.temporary, w.output, folder * sizeof(wchar_t));
    wchar_t* name = w.temporary + folder;
    name[length] = 0;
    static DWORD s_counter;  // worker thread only
    if (s_counter == 0) s_counter = GetTickCount();
    // XP renames only by name, which needs delete sharing; its identity is checked first.
    const DWORD sharing = CanActByHandle() ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_DELETE;
    for (int attempt = 0; attempt < 64; ++attempt) {
        // '~' and hex digits; a one-byte name is one hex digit.
        DWORD value = s_counter++;
        for (size_t i = length; i-- > 0; value >>= 4) name[i] = "0123456789abcdef"[value & 15];
        if (length > 1) name[0] = '~';
        HANDLE file = CreateFileW(LongPathForm(w.temporary, 0), GENERIC_WRITE | DELETE, sharing, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
    }
    return INVALID_HANDLE_VALUE;
}

// Deletes the temporary file and closes it: by its handle where Windows can, else by name.
void DiscardTemporaryFile(const Worker& w, FILE* file, HANDLE handle) {
    const bool deleted = DeleteByHandle(handle);
    fclose(file);
    if (!deleted) DeleteFileW(LongPathForm(w.temporary, 0));
}

// Moves the verified temporary file into the output's place and gives it the entry's
// attributes: renamed by its handle, or (XP) by name once that name is seen to lead to it.
// True only when the output's name leads to the file written, inside the destination,
// afterwards; otherwise the file is deleted. Closes the file either way.
bool SettleOutput(Worker& w, FILE* file, HANDLE handle, const FileIdentity& written) {
    const wchar_t* output = LongPathForm(w.output, 1);
    const wchar_t* temporary = LongPathForm(w.temporary, 0);
    // A read-only file in the output's place can be replaced; a link there is replaced
    // itself, never followed.
    const DWORD existing = GetFileAttributesW(output);
    if (existing != INVALID_FILE_ATTRIBUTES && !(existing & FILE_ATTRIBUTE_REPARSE_POINT))
        SetFileAttributesW(output, FILE_ATTRIBUTE_NORMAL);
    const bool moved = CanActByHandle() ? RenameByHandle(handle, output)
                                        : LeadsTo(temporary, written) && MoveFileExW(temporary, output, MOVEFILE_REPLACE_EXISTING);
    if (!moved || !LiesInsideDestination(handle) || !LeadsTo(output, written)) {
        DiscardTemporaryFile(w, file, handle);
        return false;
    }
    SetAttributes(handle, output, w.entry.attributes & ~kAttributeFolder);  // a file, whatever the archive says
    fclose(file);
    return true;
}

// The command's file, just settled: held open with read sharing only from now until the
// command has started (a later entry of the same name cannot replace it, and fails).
// False when its name no longer leads to the file written.
bool HoldCommandFile(const Worker& w, const FileIdentity& written) {
    CommandFile& command = g_commandFile;
    HANDLE held = CreateFileW(LongPathForm(w.output, 0), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    command.identity = written;
    FileIdentity now;
    if (held == INVALID_HANDLE_VALUE) return false;
    command.held = held;
    return IdentityOf(held, now) && SameFile(now, written);
}

// Decodes the entry into a temporary file beside its output and settles the output.
// False when extraction must end (a cancel).
bool WriteEntry(Worker& w) {
    HANDLE handle = CreateTemporaryFile(w);
    FILE* file = handle != INVALID_HANDLE_VALUE ? _fdopen(_open_osfhandle(intptr_t(handle), 0), "wb") : nullptr;
    // A folder on the way that leads outside the destination: nothing is written through it.
    if (file && !LiesInsideDestination(handle)) {
        DiscardTemporaryFile(w, file, handle);
        file = nullptr;
    }
    if (!file) {
        FailToCreate(w);
        return true;
    }
    EntryStream& s = w.stream;
    s.output = file;
    s.writeFailed = 0;
    ResetRunningCrc(s);
    if (!(w.entry.flags & kFlagEncrypted)) CheckEntryPassword(w, nullptr);
    BeginEntryData(s);
    DecodeEntry(s, w.entry, w.work);
    const int64_t written = PositionOf(file);
    if (fflush(file) != 0) s.writeFailed = 1;  // the last buffered bytes reach the disk here

    // Whole and verified, or nothing: a decoder that stopped on damaged data before the
    // entry's end, or one that would have gone past it, fails even where the CRC cannot
    // tell (an empty output and a stored CRC of 0).
    const bool verified = s.runningCrc == w.entry.crc32 && !s.writeFailed && !s.overrun &&
                          uint64_t(written) == w.entry.uncompressedSize;
    FileIdentity identity;
    bool placed = false;
    if (verified && IdentityOf(handle, identity)) {
        SetFileTimeFromDos(handle, w.entry.date, w.entry.time);
        placed = SettleOutput(w, file, handle, identity);
    } else {
        DiscardTemporaryFile(w, file, handle);
    }
    if (placed && lstrcmpiW(w.output, g_commandFile.path) == 0) placed = HoldCommandFile(w, identity);
    if (placed && g_settings.config.deleteAfterCommand) AppendExtractedFile(w.output, identity);
    if (g_cancelState != 0) return false;  // what the cancel cut short is gone, without a word
    if (s.writeFailed || (verified && !placed)) {
        FailToCreate(w);
    } else if (!verified) {
        Fail(kCrcErrorText);
    }
    return true;
}

// A folder entry's time and attributes, on a folder this run made that still lies inside
// the destination.
void SettleFolder(const Worker& w) {
    const wchar_t* path = LongPathForm(w.output, 0);
    HANDLE folder = OpenShared(path, FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES);
    if (folder == INVALID_HANDLE_VALUE) return;
    if (LiesInsideDestination(folder)) {
        SetFileTimeFromDos(folder, w.entry.date, w.entry.time);
        SetAttributes(folder, path, w.entry.attributes);
    }
    CloseHandle(folder);
}

// One entry, from its name to its file. False when extraction must end.
bool ExtractEntry(Worker& w) {
    // A UTF-8 name that is not UTF-8 is refused, never written under a garbled name.
    OutputKind kind = OutputKind::InvalidName;
    if (EntryNameToUtf16(w.entry.name, w.entry.utf8Name, w.name))
        kind = BuildOutputPath(w.destination, w.name, w.output);
    switch (kind) {
        case OutputKind::FolderFailed:
            ShowError(IDS_CANNOT_CREATE_FOLDER);
            g_cancelState = 1;
            w.result = -1;
            return false;
        case OutputKind::Refused:
            FailToCreate(w);
            return true;
        case OutputKind::InvalidName:
            ++g_failedEntries;
            ShowNameMessage(nullptr, IDS_INVALID_FILENAME, w.name, MB_ICONWARNING);
            return true;
        case OutputKind::Folder:
            // A folder that was there before the run is the user's: it keeps what it has.
            if (ListsPath(g_createdFolders, w.output)) SettleFolder(w);
            return true;
        case OutputKind::File:
            break;
    }
    // A folder where the file belongs is never replaced, nor asked about.
    const DWORD existing = GetFileAttributesW(LongPathForm(w.output, 0));
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY)) {
        FailToCreate(w);
        return true;
    }
    int decision = DecideOverwrite(w, existing != INVALID_FILE_ATTRIBUTES);
    ResetRunningCrc(w.stream);
    if (decision <= 0) return decision == 0;
    if (w.entry.flags & kFlagEncrypted) {
        decision = OpenEncrypted(w);
        if (decision <= 0) return decision == 0;
    }
    SetDlgItemTextW(g_progressWindow, IDC_PROGRESS_NAME, w.name);
    return WriteEntry(w);
}

// A damaged archive: entries would be lost without a word. One message, and the run
// fails (no command, nothing deleted).
void StopOnDamagedArchive(Worker& w) {
    ShowError(IDS_NOT_SUPPORTED_FORMAT);
    g_cancelState = 1;
    w.result = -1;
}

// The walk over the entries; the result of the run.
int ExtractAll(Worker& w) {
    w.host.cancelState = &g_cancelState;
    w.host.reportProgress = ReportProgress;
    w.stream.archive = g_reader.archive;
    w.stream.host = &w.host;
    lstrcpynW(w.destination, g_settings.destination, kPathSize);
    while (NextEntry(g_reader, w.entry)) {
        if (g_cancelState != 0) return w.result;
        // Sizes come from the archive: an entry that claims to reach into the central
        // directory would hide every entry after it.
        const int64_t dataStart = PositionOf(g_reader.archive);
        if (dataStart < 0) break;
        const uint64_t nextHeader = uint64_t(dataStart) + w.entry.compressedSize;
        if (nextHeader < uint64_t(dataStart) || nextHeader > g_reader.centralStart) {
            StopOnDamagedArchive(w);
            return w.result;
        }
        if (!ExtractEntry(w) || g_cancelState != 0) return w.result;
        SeekTo(g_reader.archive, nextHeader);
    }
    if (g_cancelState == 0 && CentralRecordsLeft(g_reader)) StopOnDamagedArchive(w);
    return w.result;
}

}  // namespace

DWORD WINAPI ExtractionThread(void*) {
    Worker* w = static_cast<Worker*>(malloc(sizeof(Worker)));
    BuildCrcTable();
    int result = -1;
    if (w) {
        memset(w, 0, offsetof(Worker, work));
        result = ExtractAll(*w);
        free(w);
    } else {
        g_cancelState = 1;
    }
    SendToProgress(WM_CLOSE);
    return DWORD(result);
}
