// Path utilities: ANSI paths in the system code page, where the second byte of a
// double-byte character may equal '\'. Every test for a separator or for the last
// character is made on the UTF-16 form, or by a walk that knows lead bytes, so a trail
// byte is never taken for a separator.
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

// Converts an entry's UTF-8 name (kUtf8NameSize bytes) to the system's code page in place,
// before any path rule sees it. False when it is not UTF-8, holds a character the code
// page cannot hold (never replaced by a look-alike), or comes to 260 bytes or more; the
// name then holds what can be shown of it ('?' for the rest), at most 259 bytes.
bool Utf8NameToAnsi(char* name);

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

// Creates a folder tree level by level from its root (X:\ or \\server\share\). 1 when every
// level exists at the end (anything that exists counts, even a file), 0 otherwise.
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
bool IsInsideFolder(const char* folder, const char* path);

enum class OutputKind {
    File,          // output holds the file's full path; its folders exist
    Folder,        // a folder entry: its folders exist, output holds the folder
    InvalidName,   // empty, a forbidden character, too long, or leading out of the destination
    FolderFailed,  // a folder could not be created: extraction must stop
};

// Builds the output path of entry `name` (prepared by the caller, trimmed here) under
// `destination` (ending in '\') into `output` (kPathSize), creating its folders.
OutputKind BuildOutputPath(const char* destination, char* name, char* output);
