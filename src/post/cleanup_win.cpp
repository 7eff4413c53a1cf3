// Extracted-file list and clean-up: after the command, the files the worker wrote and
// verified are deleted, then the folders this run made, once they are empty.
//
// Others may have changed the destination while the command ran: a name swapped for a
// link, a folder for a junction. So nothing is deleted by a name alone: each file and
// folder is opened, and deleted through that handle only when it is the very one recorded
// (by identity), not a reparse point, and inside the destination. Whatever else lives in
// the destination stays, and so do the folders that were there before the run.
#include "post/after_extraction.h"

#include <stdlib.h>
#include <string.h>

#include "paths/path_utils.h"

namespace {

// Deletes the file or empty folder of `list`'s record at `at` when its name still leads
// to the recorded one.
void DeleteRecorded(const PathList& list, size_t at) {
    const wchar_t* path = LongPathForm(list.paths + at, 0);
    HANDLE item = OpenShared(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_FLAG_OPEN_REPARSE_POINT);
    if (item == INVALID_HANDLE_VALUE) return;
    FileIdentity identity;
    DWORD attributes;
    const bool recorded = IdentityOf(item, identity, &attributes) && SameFile(identity, RecordedIdentity(list, at)) &&
                          !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && LiesInsideDestination(item);
    if (recorded) {
        SetAttributes(item, path, FILE_ATTRIBUTE_ARCHIVE);  // clears read-only
        if (CanActByHandle()) {
            DeleteByHandle(item);  // a folder that is not empty stays
        } else if (!DeleteFileW(path)) {
            RemoveDirectoryW(path);  // XP: by name, while the handle holds what it leads to
        }
    }
    CloseHandle(item);
}

}  // namespace

// Not listed for want of memory, a file outlives the clean-up: nothing worse.
void AppendExtractedFile(const wchar_t* path, const FileIdentity& identity) {
    AppendPath(g_extractedFiles, path, identity);
}

void ReleaseExtractedFiles() {
    free(g_extractedFiles.paths);
    g_extractedFiles = {};
    free(g_createdFolders.paths);
    g_createdFolders = {};
    if (g_commandFile.held) CloseHandle(g_commandFile.held);
    g_commandFile = {};
}

void CleanUpExtractedFiles(const wchar_t* destination, int temporaryDestination) {
    const PathList& files = g_extractedFiles;
    for (size_t at = 0; at < files.size; at = NextRecord(files, at)) DeleteRecorded(files, at);

    // The folders made below the destination, each after every folder made in it: the
    // reverse of the order they were made in.
    const PathList& folders = g_createdFolders;
    const size_t base = WideLength(destination);
    // A record holds at least a path's root, its terminator and the identity.
    size_t* starts = static_cast<size_t*>(malloc(folders.size / (kIdentityUnits + 4) * sizeof(size_t)));
    if (starts) {
        size_t count = 0;
        for (size_t at = 0; at < folders.size; at = NextRecord(folders, at)) starts[count++] = at;
        while (count-- > 0) {
            // Folders below the destination come from the worker only; those that the Run
            // driver made (the destination and above it) are no longer than the destination.
            if (WideLength(folders.paths + starts[count]) > base) DeleteRecorded(folders, starts[count]);
        }
        free(starts);
    }
    if (temporaryDestination == 1) RemoveDirectoryW(destination);
}
