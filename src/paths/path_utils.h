// Path utilities. Entry names and output paths are UTF-16 and reach the file system only
// through the W calls, at any length Windows allows. The destination and the command are
// still ANSI paths in the system code page, where the second byte of a double-byte
// character may equal '\': every test for a separator or for the last character of those
// is made on the UTF-16 form, or by a walk that knows lead bytes.
#pragma once

#include <windows.h>

#include "app/state.h"
#include "paths/entry_names.h"

// Conversions through process-wide buffers (520 UTF-16 units; 260 bytes), each
// overwritten by the next conversion in the same direction. Only one thread converts at a
// time: the main thread before the worker starts and after it ends, the worker between.
const wchar_t* ToUtf16(const char* text);
const char* ToAnsi(const wchar_t* text);

// The full path of `name` in the system folder, or in the Windows folder with
// `windowsFolder`, into `out` (kPathSize). Programs and libraries are started by these
// paths: never found beside the self-extracting file, where anyone may have put one.
bool SystemFilePath(char* out, const char* name, bool windowsFolder);

// ---- UTF-16 paths ----------------------------------------------------------------------

// An output path, terminator included: the longest path the W calls take.
constexpr size_t kLongPathSize = 32768;

size_t WideLength(const wchar_t* text);

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

// Index of the last '\' of `text`, or -1.
int LastSeparator(const wchar_t* text);

// Byte index of the last '\' that is not the second byte of a double-byte character (with
// `anySeparator`, also '/' and a drive's colon), or -1.
int LastSeparator(const char* text, bool anySeparator);

// Joins `a` and `b` into `out` (kPathSize; it may be `a`). False when it would not fit.
bool JoinPath(char* out, const char* a, const char* b);

// The last '.' of `text`, or null. ('.' is never the second byte of a double-byte character.)
char* LastDot(char* text);

// True when the byte at `position` is the second byte of a double-byte character.
bool EndsInTrailByte(const char* text, int position);

// Appends '\' unless the path already ends in one (a trail byte does not count). False,
// and the path unchanged, when `size` bytes leave no room.
bool AppendTrailingBackslash(char* path, size_t size);
void RemoveTrailingBackslash(char* path);

// Creates a folder tree level by level from its root (X:\ or \\server\share\), at any
// length. 1 when every level exists at the end (anything that exists counts, even a
// file), 0 otherwise.
int CreateFolderPath(const wchar_t* path);
int CreateFolderPath(const char* path);

// `folder` (kPathSize) receives the drive and folder with its last separator; `name`
// (kPathSize) the file name with its extension. Either may be null.
void SplitPath(const char* path, char* folder, char* name);

// Characters that no entry name may hold; a destination may hold the first, a drive's ':'.
inline constexpr wchar_t kForbiddenInNames[] = L":;*?\"<>|";
inline constexpr const wchar_t* kForbiddenInDestinations = kForbiddenInNames + 1;

// The first character of `text` that is in `set`, or null.
const wchar_t* FindAnyOf(const wchar_t* text, const wchar_t* set);

// True when `path`, once resolved by the system, lies strictly inside `folder`.
bool IsInsideFolder(const wchar_t* folder, const wchar_t* path);

enum class OutputKind {
    File,          // output holds the file's full path; its folders exist
    Folder,        // a folder entry: its folders exist, output holds the folder
    InvalidName,   // empty, a forbidden character, too long, or leading out of the destination
    FolderFailed,  // a folder could not be created: extraction must stop
};

// Builds the output path of entry `name` (from EntryNameToUtf16) under `destination`
// (ending in '\') into `output` (kLongPathSize), creating its folders.
OutputKind BuildOutputPath(const wchar_t* destination, const wchar_t* name, wchar_t* output);
