// The image's entry point. No C runtime start-up code runs before it: the stub links
// against the system's msvcrt.dll only, and nothing in it needs constructing.
#include <windows.h>

#include "app/startup.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;  // this image, as mapped: its module handle

extern "C"
#if defined(__i386__)
    __attribute__((force_align_arg_pointer))
#endif
    void __stdcall ProcessEntry() {
    ExitProcess(UINT(StartUp(reinterpret_cast<HINSTANCE>(&__ImageBase), FindCommandTail(GetCommandLineA()))));
}
