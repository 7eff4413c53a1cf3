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
    wchar_t** entries;  // pointers into the list
    size_t count;       // never above `room`
    size_t room;
};

void RecordFolder(FolderArray& folders, wchar_t* folder) {
    if (folders.count > 0 && lstrcmpiW(folders.entries[folders.count - 1], folder) == 0) return;
    if (folders.count == folders.room) {
        const size_t room = folders.room ? folders.room * 2 : 256;
        wchar_t** grown = static_cast<wchar_t**>(realloc(folders.entries, room * sizeof(wchar_t*)));
        if (!grown) return;  // not recorded: that folder stays, its files are deleted all the same
        folders.entries = grown;
        folders.room = room;
    }
    folders.entries[folders.count++] = folder;
}

// The walk of RemoveFolderTree over one buffer (kLongPathSize): `path` holds the folder in
// its first `length` units, and each level appends its children's names behind it.
int RemoveTree(wchar_t* path, size_t length, const wchar_t* root) {
    if (length == 0 || path[length - 1] == L'.') return 0;  // also "." and ".." below a folder
    const bool isRoot = lstrcmpiW(path, root) == 0;
    const size_t given = length;
    if (path[length - 1] != L'\\') path[length++] = L'\\';
    if (length + sizeof "*.*" > kLongPathSize) return 0;
    memcpy(path + length, L"*.*", sizeof L"*.*");
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(LongPathForm(path, 0), &found);
    path[length] = 0;  // the folder with its trailing '\'
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        const wchar_t* name = found.cFileName;
        // Links to folders elsewhere are not followed: nothing outside the tree is touched.
        // ("." and ".." end in '.', which the call for them turns away at once.)
        const DWORD kind = found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
        if (kind != FILE_ATTRIBUTE_DIRECTORY) continue;
        const size_t size = WideLength(name);
        if (length + size + 1 + sizeof "\\*.*" > kLongPathSize) continue;
        memcpy(path + length, name, (size + 1) * sizeof(wchar_t));
        RemoveTree(path, length + size, root);
        path[length] = 0;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    if (!isRoot) {
        SetFileAttributesW(LongPathForm(path, 0), FILE_ATTRIBUTE_ARCHIVE);  // clears read-only
        path[given] = 0;  // the folder as given
        RemoveDirectoryW(LongPathForm(path, 0));
    }
    return 1;
}

}  // namespace

// Not listed for want of memory, a file outlives the clean-up: nothing worse.
void AppendExtractedFile(const wchar_t* path) { AppendPath(g_extractedFiles, path); }

void ReleaseExtractedFiles() {
    free(g_extractedFiles.paths);
    g_extractedFiles = {};
    free(g_createdFolders.paths);
    g_createdFolders = {};
}

void CleanUpExtractedFiles(const wchar_t* root, int temporaryDestination) {
    AppendExtractedFile(L"");  // the empty entry ends the walk
    PathList& list = g_extractedFiles;
    const size_t base = WideLength(root);
    FolderArray folders = {};
    for (size_t at = 0, next; at < list.size && list.paths[at]; at = next) {
        wchar_t* path = list.paths + at;
        next = at + WideLength(path) + 1;
        const wchar_t* file = LongPathForm(path, 0);
        SetFileAttributesW(file, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(file);
        // The list is walked once: the path, no longer needed, is cut to its folder in place.
        wchar_t* below = path + base;  // every listed path was built from the destination
        const int separator = LastSeparator(below, false);
        if (separator < 0) continue;
        below[separator] = 0;
        RecordFolder(folders, below);
    }
    if (temporaryDestination == 1) RemoveDirectoryW(root);
    static wchar_t s_folder[kLongPathSize];  // main thread, after the worker ended
    for (size_t i = 0; i < folders.count; ++i) {
        // Destination and folder come from one listed path, so they fit together.
        const size_t length = WideLength(folders.entries[i]);
        memcpy(s_folder, root, base * sizeof(wchar_t));
        memcpy(s_folder + base, folders.entries[i], (length + 1) * sizeof(wchar_t));
        RemoveTree(s_folder, base + length, root);
    }
    free(folders.entries);
}

int RemoveFolderTree(const wchar_t* folder, const wchar_t* root) {
    static wchar_t s_path[kLongPathSize];  // one thread at a time
    const size_t length = WideLength(folder);
    if (length + 1 > kLongPathSize) return 0;
    memcpy(s_path, folder, (length + 1) * sizeof(wchar_t));
    return RemoveTree(s_path, length, root);
}
