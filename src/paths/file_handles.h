// Files by handle and by identity: what lets the worker and the clean-up act on the very
// file they made, whatever someone who can write into the destination does meanwhile to
// the names around it (swaps a name for a link, a folder for a junction).
#pragma once

#include <windows.h>

// A file as the file system knows it. Two names lead to one file exactly when the
// identities they open are equal.
struct FileIdentity {
    DWORD volume;  // serial number
    DWORD indexHigh;
    DWORD indexLow;
};
constexpr size_t kIdentityUnits = sizeof(FileIdentity) / sizeof(wchar_t);  // in a PathList

// With `attributes`, also the file's attributes.
bool IdentityOf(HANDLE file, FileIdentity& identity, DWORD* attributes = nullptr);
// Opens the file or folder at `path` (as LongPathForm gives it) with `access` and `flags`,
// sharing everything: to look at it, or to delete it.
HANDLE OpenShared(const wchar_t* path, DWORD access, DWORD flags = 0);
// What `path` (as LongPathForm gives it) leads to now, a file or a folder. False when
// nothing can be opened there.
bool IdentityAt(const wchar_t* path, FileIdentity& identity);
bool SameFile(const FileIdentity& a, const FileIdentity& b);
// True when `path` still leads to `identity`.
bool LeadsTo(const wchar_t* path, const FileIdentity& identity);

// Takes the destination's final path (links resolved) for LiesInsideDestination, and looks
// up the calls on handles that Windows Vista added. Once per run, before extraction.
void RememberDestination(const wchar_t* destination);

// True when the final path of `file` lies inside the destination's. Always true where
// the system gives no final path (XP), where only reparse points can be refused.
bool LiesInsideDestination(HANDLE file);

// The calls on handles (Vista and later). False where Windows lacks them, or refused.
bool CanActByHandle();
// Renames `file` to `target` (a full path), replacing a file of that name.
bool RenameByHandle(HANDLE file, const wchar_t* target);
// Marks `file` for deletion: it goes once its last handle is closed. A folder must be empty.
bool DeleteByHandle(HANDLE file);
// Attributes of `file` (0 for none); by `path` where Windows cannot by handle.
void SetAttributes(HANDLE file, const wchar_t* path, DWORD attributes);
