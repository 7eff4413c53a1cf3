// Imports that many places call go through the import library's jump to the import
// address table: a direct call to the jump is a byte shorter than a call through the table,
// and only the jump needs a base relocation, not every call. (32-bit images only: a 64-bit
// call through the table is relative and needs none.) Include after <windows.h>.
#pragma once

#include <windows.h>

#if defined(__i386__)
extern "C" {
LRESULT WINAPI SendMessageJump(HWND, UINT, WPARAM, LPARAM) asm("_SendMessageA@16");
LPSTR WINAPI CopyStringJump(LPSTR, LPCSTR, int) asm("_lstrcpynA@12");
int WINAPIV FormatJump(LPSTR, LPCSTR, ...) asm("_wsprintfA");
BOOL WINAPI CloseHandleJump(HANDLE) asm("_CloseHandle@4");
DWORD WINAPI GetFileAttributesJump(LPCSTR) asm("_GetFileAttributesA@4");
int WINAPI MessageBoxJump(HWND, LPCSTR, LPCSTR, UINT) asm("_MessageBoxA@16");
int WINAPI CompareJump(LPCSTR, LPCSTR) asm("_lstrcmpiA@8");
BOOL WINAPI SetFileAttributesJump(LPCSTR, DWORD) asm("_SetFileAttributesA@8");
BOOL WINAPI SetDlgItemTextJump(HWND, int, LPCSTR) asm("_SetDlgItemTextA@12");
int WINAPI LoadStringJump(HINSTANCE, UINT, LPSTR, int) asm("_LoadStringA@16");
HWND WINAPI GetDlgItemJump(HWND, int) asm("_GetDlgItem@8");
}
#define SendMessageA SendMessageJump
#define lstrcpynA CopyStringJump
#define wsprintfA FormatJump
#define CloseHandle CloseHandleJump
#define GetFileAttributesA GetFileAttributesJump
#define MessageBoxA MessageBoxJump
#define lstrcmpiA CompareJump
#define SetFileAttributesA SetFileAttributesJump
#define SetDlgItemTextA SetDlgItemTextJump
#define LoadStringA LoadStringJump
#define GetDlgItem GetDlgItemJump
#endif
