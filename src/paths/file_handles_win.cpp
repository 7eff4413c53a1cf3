// Files by handle and by identity.
//
// The calls on handles are looked up at run time: Windows XP lacks them. There the worker
// moves by name after an identity check, and only reparse points are refused below the
// destination.
#include "paths/file_handles.h"

#include <string.h>

#include "paths/path_utils.h"

namespace {

typedef BOOL(WINAPI* SetInformationCall)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, void*, DWORD);
typedef DWORD(WINAPI* FinalPathCall)(HANDLE, wchar_t*, DWORD, DWORD);

// Set once by RememberDestination, before the worker starts; read by one thread at a time.
struct HandleCalls {
    SetInformationCall setInformation;
    FinalPathCall finalPath;
    DWORD destinationLength;  // of its final path; 0 where there is none
    wchar_t destination[kLongPathSize];
    wchar_t compared[kLongPathSize];  // the final path of the file being checked
    union {
        FILE_RENAME_INFO rename;
        BYTE room[sizeof(FILE_RENAME_INFO) + kLongPathSize * sizeof(wchar_t)];
    };
};
HandleCalls s_calls;

}  // namespace

HANDLE OpenShared(const wchar_t* path, DWORD access, DWORD flags) {
    return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       flags | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool IdentityOf(HANDLE file, FileIdentity& identity, DWORD* attributes) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return false;
    identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    if (attributes) *attributes = info.dwFileAttributes;
    return true;
}

bool IdentityAt(const wchar_t* path, FileIdentity& identity) {
    HANDLE file = OpenShared(path, FILE_READ_ATTRIBUTES);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool known = IdentityOf(file, identity);
    CloseHandle(file);
    return known;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) { return memcmp(&a, &b, sizeof a) == 0; }

bool LeadsTo(const wchar_t* path, const FileIdentity& identity) {
    FileIdentity now;
    return IdentityAt(path, now) && SameFile(now, identity);
}

void RememberDestination(const wchar_t* destination) {
    HandleCalls& calls = s_calls;
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    calls.setInformation =
        reinterpret_cast<SetInformationCall>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetFileInformationByHandle")));
    calls.finalPath =
        reinterpret_cast<FinalPathCall>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetFinalPathNameByHandleW")));
    HANDLE folder = OpenShared(LongPathForm(destination, 0), FILE_READ_ATTRIBUTES);
    calls.destinationLength = calls.finalPath ? calls.finalPath(folder, calls.destination, kLongPathSize, 0) : 0;
    CloseHandle(folder);
}

bool LiesInsideDestination(HANDLE file) {
    HandleCalls& calls = s_calls;
    const DWORD folderLength = calls.destinationLength;
    if (folderLength == 0 || folderLength >= kLongPathSize) return true;
    // Where the system cannot tell (Wine past MAX_PATH), as where it has no final paths.
    const DWORD length = calls.finalPath(file, calls.compared, kLongPathSize, 0);
    return length == 0 || (length < kLongPathSize && LiesBelow(calls.destination, folderLength, calls.compared, length));
}

bool CanActByHandle() { return s_calls.setInformation != nullptr; }

bool RenameByHandle(HANDLE file, const wchar_t* target) {
    HandleCalls& calls = s_calls;
    const size_t length = WideLength(target);
    if (!calls.setInformation || length >= kLongPathSize) return false;
    FILE_RENAME_INFO& rename = calls.rename;
    rename.ReplaceIfExists = TRUE;
    rename.RootDirectory = nullptr;
    rename.FileNameLength = DWORD(length * sizeof(wchar_t));
    memcpy(rename.FileName, target, (length + 1) * sizeof(wchar_t));
    return calls.setInformation(file, FileRenameInfo, &rename, DWORD(sizeof rename + length * sizeof(wchar_t)));
}

bool DeleteByHandle(HANDLE file) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return CanActByHandle() && s_calls.setInformation(file, FileDispositionInfo, &disposition, sizeof disposition);
}

void SetAttributes(HANDLE file, const wchar_t* path, DWORD attributes) {
    if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
    FILE_BASIC_INFO basic = {};  // times of 0 stay as they are
    basic.FileAttributes = attributes;
    if (!CanActByHandle() || !s_calls.setInformation(file, FileBasicInfo, &basic, sizeof basic))
        SetFileAttributesW(path, attributes);
}
