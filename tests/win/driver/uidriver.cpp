// uidriver: drives the stub's windows from tests, one action per run.
//
//   uidriver wait TITLE [SECONDS]          wait until a visible top-level window has TITLE
//   uidriver wait-gone TITLE [SECONDS]     wait until no such window is left
//   uidriver text TITLE ID                 print a control's text (a message box's is 65535)
//   uidriver texts TITLE                   print every child: id, class, text (one per line)
//   uidriver set-text TITLE ID TEXT        set an edit box's text
//   uidriver click TITLE ID                press a button (WM_COMMAND with the id)
//   uidriver check TITLE ID                click a check box (it toggles and notifies)
//   uidriver key TITLE esc|enter           press a key in the window's focused control
//   uidriver close TITLE                   the system menu's Close
//   uidriver list                          print every visible top-level window's title
//
// Titles and texts are UTF-8 on the command line and in the output; windows are compared
// in UTF-16 so Japanese captions work whatever the code page.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

constexpr int kDefaultSeconds = 5;  // for controls of a window that should be there; `wait` takes longer ones

std::wstring Wide(const char* utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring out(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out.data(), n);
    return out;
}

std::string Utf8(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring WindowText(HWND window) {
    wchar_t buffer[4096] = {};
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000, &length);
    return buffer;
}

struct Search {
    std::wstring title;
    HWND found;
};

BOOL CALLBACK MatchTitle(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    if (!IsWindowVisible(window)) return TRUE;
    wchar_t title[512] = {};
    GetWindowTextW(window, title, 512);
    if (search->title == title) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindTopLevel(const std::wstring& title) {
    Search search{title, nullptr};
    EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitFor(const char* title, int seconds) {
    const std::wstring wanted = Wide(title);
    for (int waited = 0; waited <= seconds * 20; ++waited) {
        if (HWND window = FindTopLevel(wanted)) return window;
        Sleep(50);
    }
    return nullptr;
}

HWND Require(const char* title) {
    HWND window = WaitFor(title, kDefaultSeconds);
    if (!window) {
        fprintf(stderr, "uidriver: no window titled '%s'\n", title);
        exit(2);
    }
    return window;
}

HWND RequireControl(HWND window, const char* id) {
    HWND control = GetDlgItem(window, atoi(id));
    if (!control) {
        fprintf(stderr, "uidriver: no control %s\n", id);
        exit(2);
    }
    return control;
}

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
    char className[128] = {};
    GetClassNameA(child, className, sizeof className);
    printf("%d\t%s\t%s\n", GetDlgCtrlID(child), className, Utf8(WindowText(child)).c_str());
    return TRUE;
}

BOOL CALLBACK PrintTopLevel(HWND window, LPARAM) {
    if (!IsWindowVisible(window)) return TRUE;
    wchar_t title[512] = {};
    GetWindowTextW(window, title, 512);
    if (*title) printf("%s\n", Utf8(title).c_str());
    return TRUE;
}

void PressKey(HWND window, UINT key) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    HWND target = window;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) && info.hwndFocus) target = info.hwndFocus;
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

int Usage() {
    fprintf(stderr, "usage: uidriver wait|wait-gone|text|texts|set-text|click|check|key|close|list ...\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** wargv) {
    // Arguments arrive as UTF-16; work in UTF-8 like the tests that call us.
    std::string args[8];
    for (int i = 0; i < argc && i < 8; ++i) args[i] = Utf8(wargv[i]);
    auto arg = [&](int i) { return args[i].c_str(); };
    if (argc < 2) return Usage();
    const std::string command = args[1];
    const int seconds = argc > 3 ? atoi(arg(3)) : kDefaultSeconds;

    if (command == "list") {
        EnumWindows(PrintTopLevel, 0);
        return 0;
    }
    if (argc < 3) return Usage();
    if (command == "wait") return WaitFor(arg(2), seconds) ? 0 : 1;
    if (command == "wait-gone") {
        const std::wstring title = Wide(arg(2));
        for (int waited = 0; waited <= seconds * 20; ++waited) {
            if (!FindTopLevel(title)) return 0;
            Sleep(50);
        }
        return 1;
    }
    HWND window = Require(arg(2));
    if (command == "texts") {
        EnumChildWindows(window, PrintChild, 0);
        return 0;
    }
    if (command == "close") return PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
    if (command == "key" && argc > 3) {
        PressKey(window, strcmp(arg(3), "esc") == 0 ? VK_ESCAPE : VK_RETURN);
        return 0;
    }
    if (argc < 4) return Usage();
    HWND control = RequireControl(window, arg(3));
    if (command == "text") {
        printf("%s\n", Utf8(WindowText(control)).c_str());
        return 0;
    }
    if (command == "set-text" && argc > 4) {
        const std::wstring text = Wide(arg(4));
        DWORD_PTR ignored;
        SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 2000,
                            &ignored);
        return 0;
    }
    if (command == "click") {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), BN_CLICKED), reinterpret_cast<LPARAM>(control));
        return 0;
    }
    if (command == "check") {
        PostMessageW(control, BM_CLICK, 0, 0);
        return 0;
    }
    return Usage();
}
