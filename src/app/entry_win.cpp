// The image's entry point. No C runtime start-up code runs before it: the stub links
// against the system's msvcrt.dll only, and nothing in it needs constructing.
#include <windows.h>

#include "app/startup.h"

extern "C"
#if defined(__i386__)
    __attribute__((force_align_arg_pointer))
#endif
    void __stdcall ProcessEntry() {
    STARTUPINFOA startup;
    startup.dwFlags = 0;
    GetStartupInfoA(&startup);
    const int showCommand = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    ExitProcess(UINT(StartUp(GetModuleHandleA(nullptr), FindCommandTail(GetCommandLineA()), showCommand)));
}
