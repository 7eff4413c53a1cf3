// Progress window.
#include "ui/progress.h"

#include <commctrl.h>

#include "app/state.h"
#include "paths/path_utils.h"
#include "resources/resource_ids.h"
#include "ui/dialogs.h"

namespace {

// Main thread only, from WM_INITDIALOG until the window is destroyed.
HWND g_progressBar;
HMODULE g_shellLibrary;
HWND g_animation;
uint32_t g_barPosition;  // the newest position in KiB, given to the bar when it is painted

// Worker only, once the window exists: KiB in one step of the bar (at least 1), and the
// step it was last sent.
uint32_t g_barStep;
uint32_t g_barShownStep;

constexpr int kShellAnimationClip = 161;  // the looping clip that shell32.dll carries

void OnInit(HWND dialog, uint32_t centralDirectoryKib) {
    ShowProgramIcon(dialog);
    g_progressBar = GetDlgItem(dialog, IDC_PROGRESS_BAR);
    SendMessageA(g_progressBar, PBM_SETRANGE32, 0, LPARAM(centralDirectoryKib));
    wchar_t shell[kPathSize];
    g_shellLibrary = SystemFilePath(shell, L"shell32.dll", false) ? LoadLibraryW(shell) : nullptr;
    g_animation = nullptr;
    if (!g_shellLibrary) return;
    g_animation = CreateWindowExA(0, ANIMATE_CLASSA, nullptr, WS_CHILD | WS_VISIBLE | ACS_TRANSPARENT | ACS_AUTOPLAY,
                                  0, 0, 0, 0, dialog, HMENU(1), g_shellLibrary, nullptr);
    if (!g_animation) return;
    SendMessageA(g_animation, ACM_OPENA, 0, kShellAnimationClip);
    SetWindowPos(g_animation, nullptr, 50, 0, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
}

void Close(HWND dialog) {
    if (g_animation) DestroyWindow(g_animation);
    g_animation = nullptr;
    if (g_shellLibrary) FreeLibrary(g_shellLibrary);
    g_shellLibrary = nullptr;
    DestroyWindow(dialog);
    PostQuitMessage(0);
}

INT_PTR CALLBACK ProgressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            OnInit(dialog, uint32_t(lParam));
            return TRUE;
        case kMsgSetPosition: {
            g_barPosition = uint32_t(lParam);
            // A corner that no control covers: the default painting leaves it as it is.
            RECT corner;
            corner.left = corner.top = 0;
            corner.right = corner.bottom = 1;
            InvalidateRect(dialog, &corner, FALSE);
            return FALSE;
        }
        case WM_PAINT:  // the default paints the dialog after this
            SendMessageA(g_progressBar, PBM_SETPOS, WPARAM(g_barPosition), 0);
            return FALSE;
        case kMsgPlayAnimation:
            SendMessageA(g_animation, ACM_PLAY, WPARAM(-1), 0xFFFF0000);
            return TRUE;
        case kMsgStopAnimation:
            SendMessageA(g_animation, ACM_STOP, 0, 0);
            return TRUE;
        case WM_COMMAND:
            if (wParam != IDC_PROGRESS_CANCEL) return FALSE;
            g_cancelState = kCancelByUser;  // the worker notices, stops, and closes us
            return TRUE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) != SC_CLOSE) return FALSE;
            g_cancelState = kCancelByUser;
            DestroyWindow(dialog);
            PostQuitMessage(0);
            return TRUE;
        case WM_CLOSE:
            Close(dialog);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void ShowProgress(uint32_t kib) {
    if (!g_progressWindow) return;  // a run without its window (/Q) has no bar to move
    const uint32_t step = kib / g_barStep;
    if (step == g_barShownStep) return;
    g_barShownStep = step;
    SendToProgress(kMsgSetPosition, LPARAM(kib));
}

LRESULT SendToProgress(UINT message, LPARAM lParam) { return SendMessageA(g_progressWindow, message, 0, lParam); }

HWND OpenProgressWindow(uint32_t centralDirectoryKib) {
    g_barStep = centralDirectoryKib / kProgressSteps + 1;
    g_progressWindow = CreateDialogParamA(g_module, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressProc,
                                          LPARAM(centralDirectoryKib));
    ShowWindow(g_progressWindow, SW_SHOW);
    UpdateWindow(g_progressWindow);
    return g_progressWindow;
}
