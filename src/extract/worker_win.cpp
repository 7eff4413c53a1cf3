// Entry extraction loop.
//
// Each entry is written to a temporary file in its target folder and moved over the
// target only once it passed its CRC test (or, after a cancel, when it was written whole):
// an existing file is never lost to a damaged or interrupted entry. What the user sees is
// unchanged by this: the same messages, the same files at the end.
#include "extract/worker.h"

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

// The state of one worker run.
struct Worker {
    uint8_t* work;  // the Work buffer, kWorkBufferSize bytes
    EntryStream stream;
    StreamHost host;
    EntryRecord entry;
    char output[kPathSize];
    char temporary[kPathSize];
    char password[kPasswordSize];  // the last password typed; serves every entry it opens
    int result;
};

void ReportProgress(void*, uint32_t kib) { SendMessageA(g_progressWindow, kMsgSetPosition, 0, LPARAM(kib)); }

DWORD ExistingDosDateTime(const char* path, uint64_t& size) {
    size = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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

// Write decision for an entry whose output file may exist: >0 write, 0 skip, -1 stop.
int DecideOverwrite(Worker& w) {
    RunSettings& settings = g_settings;
    if (settings.config.overwriteWithoutAsking || SearchPathA(nullptr, w.output, nullptr, 0, nullptr, nullptr) == 0)
        return 1;
    uint64_t existingSize;
    const DWORD existingTime = ExistingDosDateTime(w.output, existingSize);
    const DWORD entryTime = w.entry.DosDateTime();
    int decision;
    if (settings.newerOnly) return existingTime < entryTime ? 1 : 0;
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

// Opens an encrypted entry with the known password or one the user types. >0 go on,
// 0 skip the entry, -1 stop.
int OpenEncrypted(Worker& w) {
    if (CheckPassword(w.stream.decryption, g_reader.archive, w.password, w.entry, g_reader.central)) return 1;
    SendMessageA(g_progressWindow, kMsgStopAnimation, 0, 0);
    int decision = 0;
    for (;;) {
        w.password[0] = 0;
        PasswordRequest request = {w.entry.name, w.password};
        const int answer = AskPassword(&request);
        if (answer == kPasswordCancel) {
            g_cancelState = kCancelByUser;
            w.result = -1;
            return -1;
        }
        if (answer != kPasswordOk) break;
        if (CheckPassword(w.stream.decryption, g_reader.archive, w.password, w.entry, g_reader.central)) {
            decision = 1;
            break;
        }
        MessageBoxA(g_progressWindow, kInvalidPasswordText, kWarningCaption, MB_OK | MB_ICONWARNING);
    }
    SendMessageA(g_progressWindow, kMsgPlayAnimation, 0, 0);
    return decision;
}

// Puts the finished temporary file in the output's place. False leaves both as they were.
bool ReplaceOutput(Worker& w) {
    SetFileAttributesA(w.output, FILE_ATTRIBUTE_NORMAL);  // a read-only file can be replaced
    return MoveFileExA(w.temporary, w.output, MOVEFILE_REPLACE_EXISTING) != 0;
}

// Decodes the entry into a temporary file beside its output and settles the output.
// False when extraction must end (a cancel).
bool WriteEntry(Worker& w) {
    char folder[kPathSize];
    SplitPath(w.output, folder, nullptr);
    // A temporary name is 12 bytes longer than its folder: for a folder that long, its
    // short form leaves room.
    if (!GetTempFileNameA(folder, "dud", 0, w.temporary) &&
        !(GetShortPathNameA(folder, folder, sizeof folder) && GetTempFileNameA(folder, "dud", 0, w.temporary)))
        return true;  // skipped silently, like a file that cannot be opened
    FILE* file = fopen(w.temporary, "wb");
    if (!file) {
        DeleteFileA(w.temporary);
        return true;
    }
    EntryStream& s = w.stream;
    s.output = file;
    s.writeFailed = 0;
    ResetRunningCrc(s);
    if (!(w.entry.flags & kFlagEncrypted)) CheckPassword(s.decryption, g_reader.archive, nullptr, w.entry, g_reader.central);
    BeginEntryData(s);
    DecodeEntry(s, w.entry, w.work);
    const int64_t written = PositionOf(file);
    if (fclose(file) != 0) s.writeFailed = 1;  // the last buffered bytes reach the disk here

    if (g_cancelState != 0) {
        // A file written whole is kept; a partial one never replaces anything.
        if (!(uint64_t(written) == w.entry.uncompressedSize && ReplaceOutput(w))) DeleteFileA(w.temporary);
        return false;
    }
    // A short write, a decoder that stopped on damaged data before the entry's end, or one
    // that would have gone past it, fails the entry even where the CRC cannot tell (an
    // empty output and a stored CRC of 0).
    if (s.runningCrc == w.entry.crc32 && !s.writeFailed && !s.overrun && uint64_t(written) == w.entry.uncompressedSize) {
        if (ReplaceOutput(w)) {
            SetFileTimeFromDos(w.output, w.entry.date, w.entry.time, false);
            SetFileAttributesA(w.output, w.entry.attributes);
            if (g_settings.config.deleteAfterCommand) AppendExtractedFile(w.output);
        } else {
            DeleteFileA(w.temporary);
        }
        return true;
    }
    DeleteFileA(w.temporary);
    MessageBoxA(g_progressWindow, kCrcErrorText, kCaption, MB_ICONERROR);
    return true;
}

void SetFolderTimeAndAttributes(const Worker& w) {
    SetFileAttributesA(w.output, FILE_ATTRIBUTE_NORMAL);
    SetFileTimeFromDos(w.output, w.entry.date, w.entry.time, true);
    SetFileAttributesA(w.output, w.entry.attributes);  // after the time: read-only would stop it
}

// One entry, from its name to its file. False when extraction must end.
bool ExtractEntry(Worker& w) {
    char* name = w.entry.name;
    PrepareEntryName(name);

    switch (BuildOutputPath(g_settings.config.destination, name, w.output)) {
        case OutputKind::FolderFailed:
            ShowStringMessage(nullptr, IDS_CANNOT_CREATE_FOLDER, nullptr, MB_ICONERROR);
            g_cancelState = 1;
            w.result = -1;
            return false;
        case OutputKind::InvalidName:
            ShowStringMessage(nullptr, IDS_INVALID_FILENAME, name, MB_ICONWARNING);
            return true;
        case OutputKind::Folder:
            SetFolderTimeAndAttributes(w);
            return true;
        case OutputKind::File:
            break;
    }

    int decision = 1;
    if (w.entry.attributes & kAttributeFolder) {
        SetFolderTimeAndAttributes(w);  // a folder bit on a file name: written as a file anyway
    } else {
        decision = DecideOverwrite(w);
    }
    ResetRunningCrc(w.stream);
    if (decision <= 0) return decision == 0;
    if (w.entry.flags & kFlagEncrypted) {
        decision = OpenEncrypted(w);
        if (decision <= 0) return decision == 0;
    }
    SetDlgItemTextA(g_progressWindow, IDC_PROGRESS_NAME, name);
    return WriteEntry(w);
}

}  // namespace

void PrepareEntryName(char* name) {
    SlashesToBackslashes(name);
    if (name[0] == '\\') memmove(name, name + 1, strlen(name));
    StripParentReferences(name);
}

void SetFileTimeFromDos(const char* path, WORD dosDate, WORD dosTime, bool folder) {
    FILETIME local, utc;
    if (!DosDateTimeToFileTime(dosDate, dosTime, &local) || !LocalFileTimeToFileTime(&local, &utc)) return;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              folder ? FILE_FLAG_BACKUP_SEMANTICS : FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    SetFileTime(file, &utc, nullptr, &utc);
    CloseHandle(file);
}

DWORD WINAPI ExtractionThread(void*) {
    static Worker w;  // one run per process; too large for the worker's stack
    memset(&w, 0, sizeof w);
    w.host.cancelState = &g_cancelState;
    w.host.reportProgress = ReportProgress;
    w.stream.archive = g_reader.archive;
    w.stream.host = &w.host;
    w.work = static_cast<uint8_t*>(malloc(kWorkBufferSize));
    BuildCrcTable();

    if (!w.work) {
        g_cancelState = 1;
        w.result = -1;
    } else if (NextEntry(g_reader, w.entry, w.work)) {
        do {
            if (g_cancelState != 0) break;
            // Sizes come from the archive: an entry that claims to reach past the central
            // directory leaves no entry behind it (the scan starts there and ends at once).
            const int64_t dataStart = PositionOf(g_reader.archive);
            if (dataStart < 0) break;
            uint64_t nextHeader = uint64_t(dataStart) + w.entry.compressedSize;
            if (nextHeader < uint64_t(dataStart) || nextHeader > g_reader.centralStart) nextHeader = g_reader.centralStart;
            if (!ExtractEntry(w) || g_cancelState != 0) break;
            SeekTo(g_reader.archive, nextHeader);
        } while (NextEntry(g_reader, w.entry, w.work));
    }
    free(w.work);
    SendMessageA(g_progressWindow, WM_CLOSE, 0, 0);
    return DWORD(w.result);
}
