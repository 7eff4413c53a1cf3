// The image's entry point. No C runtime start-up code runs before it: the stub links
// against the system's msvcrt.dll only, and nothing in it needs constructing.
#include <windows.h>

#include "app/startup.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;  // this image, as mapped: its module handle

// Libraries are looked for in the system folder only from here on, never beside the
// program, where anyone who can put a file next to a download can put a DLL. Looked up at
// run time: Windows before 8 (without its update) lacks the call. The imports loaded
// before it (kernel32, user32, gdi32, advapi32, shell32, msvcrt) are known DLLs,
// always taken from the system folder, and comctl32 comes by the manifest from the
// side-by-side store.
static void SearchSystemFolderOnly() {
    constexpr DWORD kSearchSystem32 = 0x800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
    typedef BOOL(WINAPI * SetDirectories)(DWORD);
    if (auto set = reinterpret_cast<SetDirectories>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories"))))
        set(kSearchSystem32);
}

extern "C"
#if defined(__i386__)
    __attribute__((force_align_arg_pointer))
#endif
    void __stdcall ProcessEntry() {
    SearchSystemFolderOnly();
    ExitProcess(UINT(StartUp(reinterpret_cast<HINSTANCE>(&__ImageBase), FindCommandTail(GetCommandLineW()))));
}
