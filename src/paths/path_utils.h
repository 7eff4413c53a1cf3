// Path utilities. Paths are UTF-16 and reach the file system only through the W calls:
// destinations of any script, entry names of any script, output paths of any length
// Windows allows. Names and folders that come in the system code page (the block, the
// command line) are converted where they enter, as the A calls would convert them.
#pragma once

#include <stdint.h>
#include <windows.h>

#include "app/state.h"
#include "paths/entry_names.h"
#include "paths/file_handles.h"

size_t WideLength(const wchar_t* text);

// Appends `path` and `identity` to `list`; a path that finds no memory is left out.
void AppendPath(PathList& list, const wchar_t* path, const FileIdentity& identity);
// The start of the record after the one at `at`.
size_t NextRecord(const PathList& list, size_t at);
// The identity recorded with the path at `at`.
FileIdentity RecordedIdentity(const PathList& list, size_t at);
// True when `list` holds `path`.
bool ListsPath(const PathList& list, const wchar_t* path);

// The full path of `name` in the system folder, or in the Windows folder with
// `windowsFolder`, into `out` (kPathSize). Programs and libraries are started by these
// paths: never found beside the self-extracting file, where anyone may have put one.
bool SystemFilePath(wchar_t* out, const wchar_t* name, bool windowsFolder);

// ---- Paths of kPathSize units (destinations, the archive, the command) ----------------

// Index of the last '\' (with `anySeparator`, also '/' and a drive's colon), or -1.
int LastSeparator(const wchar_t* text, bool anySeparator);

// Joins `a` and `b` into `out` (kPathSize; it may be `a`). False when it would not fit.
bool JoinPath(wchar_t* out, const wchar_t* a, const wchar_t* b);

// The last '.' of `text`, or null.
wchar_t* LastDot(wchar_t* text);

// Appends '\' unless the path already ends in one. False, and the path unchanged, when
// `size` units leave no room.
bool AppendTrailingBackslash(wchar_t* path, size_t size);
void RemoveTrailingBackslash(wchar_t* path);
// Removes the spaces at the end; '/' to '\'.
void TrimTrailingBlanks(wchar_t* text);
void SlashesToBackslashes(wchar_t* text);

// `folder` (kPathSize) receives the drive and folder with its last separator; `name`
// (kPathSize) the file name with its extension. Either may be null.
void SplitPath(const wchar_t* path, wchar_t* folder, wchar_t* name);

// Creates a folder tree level by level from its root (X:\ or \\server\share\), at any
// length. 1 when every level exists at the end (anything that exists counts, even a
// file), 0 otherwise. -1, and nothing created behind it, when a level that ends at or past
// unit `checkedFrom` is a reparse point (a link, junction or mount point): below the
// destination, nothing is ever made or written through one.
int CreateFolderPath(const wchar_t* path, size_t checkedFrom = SIZE_MAX);

// ---- Output paths ----------------------------------------------------------------------

// An output path, terminator included: the longest path the W calls take.
constexpr size_t kLongPathSize = 32768;

// Applies the entry-name text rules to `name` (kUtf8NameSize bytes) on its own bytes, then
// converts it into `wide` (kUtf8NameSize units): from UTF-8 with `utf8`, else from the
// system code page exactly as the A calls convert it, so a name that gave a file before
// gives the same one. The rules see only ASCII, which UTF-8 never uses inside a character,
// and '\' only where no lead byte precedes it. False when a UTF-8 name is not UTF-8; `wide`
// then holds what can be shown of it, as it came.
bool EntryNameToUtf16(char* name, bool utf8, wchar_t* wide);

// `path` as the W calls take it: the path itself below MAX_PATH units, its full form behind
// "\\?\" (or "\\?\UNC\") from there on. Longer forms are written to buffer `slot` (0 or 1),
// valid until that slot is used again; one thread at a time.
const wchar_t* LongPathForm(const wchar_t* path, int slot);

// Characters that no entry name may hold; a destination may hold the first, a drive's ':'.
inline constexpr wchar_t kForbiddenInNames[] = L":;*?\"<>|";
inline constexpr const wchar_t* kForbiddenInDestinations = kForbiddenInNames + 1;

// The first character of `text` that is in `set`, or null.
const wchar_t* FindAnyOf(const wchar_t* text, const wchar_t* set);

// True when `path`, once resolved by the system, lies strictly inside `folder`.
bool IsInsideFolder(const wchar_t* folder, const wchar_t* path);
// True when `path` begins with `folder` (with or without its trailing '\') and goes on
// below it; both as spelt, of the lengths given.
bool LiesBelow(const wchar_t* folder, size_t folderLength, const wchar_t* path, size_t pathLength);

enum class OutputKind {
    File,          // output holds the file's full path; its folders exist
    Folder,        // a folder entry: its folders exist, output holds the folder
    InvalidName,   // empty, a forbidden character, too long, or leading out of the destination
    Refused,       // a folder on the way is a reparse point: nothing is written through it
    FolderFailed,  // a folder could not be created: extraction must stop
};

// Builds the output path of entry `name` (from EntryNameToUtf16) under `destination`
// (ending in '\') into `output` (kLongPathSize), creating its folders.
OutputKind BuildOutputPath(const wchar_t* destination, const wchar_t* name, wchar_t* output);
