// Shows one dialog template of the stub image, in the language asked for, filled with
// sample texts as in real use, so that scripts/render-dialogs.sh can photograph it.
//
//   render_dialogs.exe STUB.exe DIALOG-ID LANGUAGE-ID STOP-FILE
//
// The template is found with FindResourceExA for that exact language, so the picture does
// not depend on the user interface language. Once the dialog is painted, the program
// prints "rect LEFT TOP RIGHT BOTTOM" (screen coordinates) and keeps the dialog up until
// STOP-FILE exists, or 30 seconds have passed.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

INT_PTR CALLBACK Passive(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

// String `id` of the stub's table in `language`, as UTF-16 (empty if absent).
void LoadTableString(HMODULE image, WORD id, WORD language, wchar_t* out, int capacity) {
    out[0] = 0;
    HRSRC found = FindResourceExA(image, RT_STRING, MAKEINTRESOURCEA(id / 16 + 1), language);
    if (!found) return;
    const WORD* p = static_cast<const WORD*>(LockResource(LoadResource(image, found)));
    for (int skip = id % 16; skip > 0; --skip) p += 1 + *p;
    const int length = *p < capacity ? *p : capacity - 1;
    memcpy(out, p + 1, length * sizeof(wchar_t));
    out[length] = 0;
}

// A file's details line the way the overwrite dialog builds it from string 9: English
// puts month, day, year; Japanese year, month, day and the weekday in place of "??".
void DetailsLine(HMODULE image, WORD language, const wchar_t* size, int year, int month, int day,
                 const wchar_t* weekday, wchar_t* out) {
    wchar_t format[128], withSize[256];
    LoadTableString(image, 9, language, format, 128);
    if (wcsstr(format, L"Byte")) {
        wsprintfW(withSize, format, month, day, year, 10, 24, 36);
    } else {
        wsprintfW(withSize, format, year, month, day, 10, 24, 36);
        if (wchar_t* marks = wcsstr(withSize, L"??")) {
            marks[0] = weekday[0];
            memmove(marks + 1, marks + 2, (wcslen(marks + 2) + 1) * sizeof(wchar_t));
        }
    }
    wsprintfW(out, withSize, size);
}

// Replaces the "%s" of a control's template text with `value`.
void FormatItem(HWND dialog, int id, const wchar_t* value) {
    wchar_t format[256], text[512];
    GetDlgItemTextW(dialog, id, format, 256);
    wsprintfW(text, format, value);
    SetDlgItemTextW(dialog, id, text);
}

void SetBar(HWND dialog, int id, int percent) {
    SendDlgItemMessageW(dialog, id, PBM_SETRANGE32, 0, 100);
    SendDlgItemMessageW(dialog, id, PBM_SETPOS, percent, 0);
}

void FillSamples(HMODULE image, HWND dialog, int id, WORD language) {
    switch (id) {
        case 103:
            SetBar(dialog, 1004, 40);
            break;
        case 204:
            SetDlgItemTextW(dialog, 1004, L"C:\\Users\\Public\\Desktop\\");
            break;
        case 1000:
            FormatItem(dialog, 1005, L"docs\\manual.pdf");
            break;
        case 2007: {
            FormatItem(dialog, 1009, L"readme.txt");
            SHFILEINFOW info = {};
            if (SHGetFileInfoW(L"readme.txt", FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                               SHGFI_ICON | SHGFI_USEFILEATTRIBUTES)) {
                SendDlgItemMessageW(dialog, 201, STM_SETICON, WPARAM(info.hIcon), 0);
                SendDlgItemMessageW(dialog, 202, STM_SETICON, WPARAM(info.hIcon), 0);
            }
            wchar_t line[256];
            DetailsLine(image, language, L"1,234", 2003, 1, 2, L"木", line);  // a Thursday
            SetDlgItemTextW(dialog, 1005, line);
            DetailsLine(image, language, L"5,678", 2004, 3, 15, L"月", line);  // a Monday
            SetDlgItemTextW(dialog, 1008, line);
            break;
        }
        case 2008: {
            SetBar(dialog, 1004, 60);
            SetDlgItemTextW(dialog, 1006, L"setup\\data\\image001.bmp");
            // The clip that the Progress window plays, where the system has it.
            if (HMODULE shell = LoadLibraryA("shell32.dll")) {
                HWND clip = CreateWindowExA(0, ANIMATE_CLASSA, nullptr, WS_CHILD | WS_VISIBLE | ACS_TRANSPARENT | ACS_AUTOPLAY,
                                            0, 0, 0, 0, dialog, HMENU(1), shell, nullptr);
                if (clip && SendMessageA(clip, ACM_OPENA, 0, 161)) {
                    SetWindowPos(clip, nullptr, 50, 0, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
                }
            }
            break;
        }
    }
}

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: render_dialogs STUB.exe DIALOG-ID LANGUAGE-ID STOP-FILE\n");
        return 2;
    }
    const int id = atoi(argv[2]);
    const WORD language = WORD(atoi(argv[3]));
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&classes);

    HMODULE image = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = image ? FindResourceExA(image, RT_DIALOG, MAKEINTRESOURCEA(id), language) : nullptr;
    if (!found) {
        fprintf(stderr, "dialog %d in language %u: not in %s\n", id, language, argv[1]);
        return 1;
    }
    auto tmpl = static_cast<LPCDLGTEMPLATEA>(LockResource(LoadResource(image, found)));
    HWND dialog = CreateDialogIndirectParamA(image, tmpl, nullptr, Passive, 0);
    if (!dialog) {
        fprintf(stderr, "dialog %d in language %u: cannot create (error %lu)\n", id, language, GetLastError());
        return 1;
    }
    FillSamples(image, dialog, id, language);
    ShowWindow(dialog, SW_SHOW);
    UpdateWindow(dialog);

    bool reported = false;
    const DWORD start = GetTickCount();
    while (!Exists(argv[4]) && GetTickCount() - start < 30000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!IsDialogMessageA(dialog, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
        // Let the window settle (the animation opens, the desktop repaints) before the photo.
        if (!reported && GetTickCount() - start > 700) {
            RECT r;
            GetWindowRect(dialog, &r);
            printf("rect %ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
            fflush(stdout);
            reported = true;
        }
    }
    DestroyWindow(dialog);
    return 0;
}
