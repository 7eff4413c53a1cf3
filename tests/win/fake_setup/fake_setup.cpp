// fake_setup: a stand-in for a setup program, for the end-to-end tests of the command run
// after extraction. It appends what it saw to the file that DUDORE_FAKE_SETUP_LOG names,
// one line each:
//
//   args=TAIL          its command-line tail, as it was given
//   folder=FOLDER      its working folder, in UTF-8
//
// then acts on the words of the tail, in order:
//
//   sleep:N            stays N ms, idle in its message loop
//   check:NAME         logs "present NAME" or "missing NAME" (in its working folder)
//   window             hands over to a copy of itself beside the log (so nothing of it runs
//                      from the extracted files) that shows a window titled "Setup" until
//                      it is closed, at most 120 s, and logs "window closed"; the program
//                      itself ends at once, as installers that start another process do
//   exit:N             ends with exit code N (3010: a restart is needed)
//
// and logs "end" as it ends. Words hold no '.', which would stop the stub from splitting
// the parameters off the program's name.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

std::string LogPath() {
    const char* path = getenv("DUDORE_FAKE_SETUP_LOG");
    return path ? path : "";
}

void Log(const std::string& line) {
    const std::string path = LogPath();
    if (path.empty()) return;
    FILE* file = fopen(path.c_str(), "ab");
    if (!file) return;
    fprintf(file, "%s\n", line.c_str());
    fclose(file);
}

// The command line after the program's own name.
const char* Tail() {
    const char* p = GetCommandLineA();
    if (*p == '"') {
        p = strchr(p + 1, '"');
        p = p ? p + 1 : "";
    } else {
        while (*p && *p != ' ' && *p != '\t') ++p;
    }
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) DestroyWindow(window);
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}

int ShowSetupWindow(HINSTANCE instance) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = SetupWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "FakeSetupWindow";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "Setup", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                                  300, 200, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    SetTimer(window, 1, 120000, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    Log("window closed");
    return 0;
}

// Waits the way a setup program waits for its user: in its message loop, which is what
// makes the process count as idle for whoever waits for that.
void WaitInMessageLoop(int milliseconds) {
    const UINT_PTR timer = SetTimer(nullptr, 0, UINT(milliseconds), nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.wParam == timer) break;
        DispatchMessageA(&message);
    }
    KillTimer(nullptr, timer);
}

void HandOverToSetupWindow() {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    const std::string copy = LogPath() + "-window.exe";
    if (!CopyFileA(self, copy.c_str(), FALSE)) {
        Log("cannot copy for the window");
        return;
    }
    std::string commandLine = "\"" + copy + "\" --setup-window";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(copy.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        Log("cannot start the window");
        return;
    }
    // Ends only once the window is there, so that no gap lets the stub's search miss it.
    WaitForInputIdle(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    const std::string tail = Tail();
    if (tail == "--setup-window") return ShowSetupWindow(instance);

    // In UTF-8, so that a folder of any script shows whole.
    wchar_t wide[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, wide);
    char folder[4 * MAX_PATH] = {};
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, folder, sizeof folder, nullptr, nullptr);
    Log("args=" + tail);
    Log(std::string("folder=") + folder);

    int exitCode = 0;
    size_t at = 0;
    while (at < tail.size()) {
        size_t end = tail.find(' ', at);
        if (end == std::string::npos) end = tail.size();
        const std::string word = tail.substr(at, end - at);
        at = end + 1;
        if (word.rfind("sleep:", 0) == 0) {
            WaitInMessageLoop(atoi(word.c_str() + 6));
        } else if (word.rfind("check:", 0) == 0) {
            const std::string name = word.substr(6);
            Log((GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES ? "present " : "missing ") + name);
        } else if (word == "window") {
            HandOverToSetupWindow();
        } else if (word.rfind("exit:", 0) == 0) {
            exitCode = atoi(word.c_str() + 5);
        }
    }
    Log("end");
    return exitCode;
}
