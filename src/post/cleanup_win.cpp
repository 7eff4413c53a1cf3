// Extracted-file list and clean-up: the files the worker wrote and verified are deleted
// after the command, then the folders that held them once they are empty.
//
// Only listed files are ever deleted; folders go only when empty, so whatever else lives
// in the destination stays, and so do the folders that hold it.
#include "post/after_extraction.h"

#include <stdlib.h>
#include <string.h>

#include "paths/path_utils.h"

namespace {


// The folders that held listed files, relative to the destination and without their
// trailing '\', in the order met; a folder met again after another one is recorded again.
struct FolderArray {
    char** entries;  // pointers into the list
    size_t count;    // never above `room`
    size_t room;
};

void RecordFolder(FolderArray& folders, char* folder) {
    if (folders.count > 0 && lstrcmpiA(folders.entries[folders.count - 1], folder) == 0) return;
    if (folders.count == folders.room) {
        const size_t room = folders.room ? folders.room * 2 : 256;
        char** grown = static_cast<char**>(realloc(folders.entries, room * sizeof(char*)));
        if (!grown) return;  // not recorded: that folder stays, its files are deleted all the same
        folders.entries = grown;
        folders.room = room;
    }
    folders.entries[folders.count++] = folder;
}

}  // namespace

void AppendExtractedFile(const char* path) {
    ExtractedFileList& list = g_extractedFiles;
    const size_t length = strlen(path) + 1;
    char* grown = static_cast<char*>(realloc(list.paths, list.size + length));
    if (!grown) return;  // not listed: the file outlives the clean-up, nothing worse
    list.paths = grown;  // the block may have moved
    memcpy(list.paths + list.size, path, length);
    list.size += length;
}

void ReleaseExtractedFiles() {
    free(g_extractedFiles.paths);
    g_extractedFiles = {};
}

void CleanUpExtractedFiles(const char* destination, int temporaryDestination) {
    AppendExtractedFile("");  // the empty entry ends the walk
    ExtractedFileList& list = g_extractedFiles;
    const size_t base = strlen(destination);
    FolderArray folders = {};
    for (size_t at = 0, next; at < list.size && list.paths[at]; at = next) {
        char* path = list.paths + at;
        next = at + strlen(path) + 1;
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path);
        // The list is walked once: the path, no longer needed, is cut to its folder in place.
        char* below = path + base;  // every listed path was built from the destination
        const int separator = LastSeparator(below, false);
        if (separator < 0) continue;
        below[separator] = 0;
        RecordFolder(folders, below);
    }
    if (temporaryDestination == 1) RemoveDirectoryA(destination);
    char folder[kPathSize];
    for (size_t i = 0; i < folders.count; ++i) {
        // Destination and folder come from one listed path, so they fit together.
        if (JoinPath(folder, destination, folders.entries[i])) RemoveFolderTree(folder, destination);
    }
    free(folders.entries);
}

int RemoveFolderTree(const char* folder, const char* root) {
    const size_t length = strlen(folder);
    if (length == 0 || folder[length - 1] == '.') return 0;  // also "." and ".." below a folder
    // The pattern buffer later holds each child's path, which the 512-byte child limit keeps
    // within it.
    constexpr size_t kPatternSize = 520, kChildSize = 512;
    char pattern[kPatternSize];
    if (length + sizeof "\\*.*" > kPatternSize) return 0;
    memcpy(pattern, folder, length + 1);
    AppendTrailingBackslash(pattern, kPatternSize);
    const size_t prefix = strlen(pattern);  // the folder with its trailing '\'
    memcpy(pattern + prefix, "*.*", sizeof "*.*");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        const char* name = found.cFileName;
        // Links to folders elsewhere are not followed: nothing outside the tree is touched.
        // ("." and ".." end in '.', which the call for them turns away at once.)
        const DWORD kind = found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
        if (kind != FILE_ATTRIBUTE_DIRECTORY) continue;
        const size_t size = strlen(name) + 1;
        if (prefix + size > kChildSize) continue;
        memcpy(pattern + prefix, name, size);
        RemoveFolderTree(pattern, root);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    if (lstrcmpiA(folder, root) != 0) {
        pattern[prefix] = 0;
        SetFileAttributesA(pattern, FILE_ATTRIBUTE_ARCHIVE);  // clears read-only
        RemoveDirectoryA(folder);
    }
    return 1;
}
