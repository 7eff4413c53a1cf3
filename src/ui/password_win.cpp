// Password dialog. Its own procedure only collects the text; the worker checks it and
// asks again after a wrong one.
#include "app/state.h"
#include "resources/resource_ids.h"
#include "ui/dialogs.h"

namespace {

constexpr int kPromptFormatSize = 128;

// The request of the dialog that is open (one at a time, on the worker thread).
PasswordRequest* g_passwordRequest;

void SetMasked(HWND dialog, bool masked) {
    HWND edit = GetDlgItem(dialog, IDC_PASSWORD_EDIT);
    SendMessageA(edit, EM_SETPASSWORDCHAR, masked ? '*' : 0, 0);
    InvalidateRect(edit, nullptr, TRUE);
}

void OnInit(HWND dialog, PasswordRequest* request) {
    g_passwordRequest = request;
    SendToControl(dialog, IDC_PASSWORD_EDIT, EM_SETPASSWORDCHAR, '*', 0);
    FillTemplateText(dialog, IDC_PASSWORD_TEXT, request->entryName, kPromptFormatSize);
}

INT_PTR CALLBACK PasswordProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        OnInit(dialog, reinterpret_cast<PasswordRequest*>(lParam));
        return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;
    switch (wParam) {
        case IDOK:
            GetDlgItemTextA(dialog, IDC_PASSWORD_EDIT, g_passwordRequest->password, kPasswordSize);
            EndDialog(dialog, kPasswordOk);
            break;
        case IDCANCEL:
            g_passwordRequest->password[0] = 0;
            EndDialog(dialog, kPasswordCancel);
            break;
        case IDC_PASSWORD_SKIP:
            g_passwordRequest->password[0] = 0;
            EndDialog(dialog, kPasswordSkip);
            break;
        case IDC_PASSWORD_UNMASK:
            SetMasked(dialog, !IsChecked(dialog, IDC_PASSWORD_UNMASK));
            break;
    }
    return FALSE;
}

}  // namespace

int AskPassword(PasswordRequest* request) {
    return int(DialogBoxParamA(g_module, MAKEINTRESOURCEA(IDD_PASSWORD), g_progressWindow, PasswordProc,
                               reinterpret_cast<LPARAM>(request)));
}
