// Overwrite confirmation dialog: the existing file's name and icon, and the size and time
// of both the existing file and the entry that would replace it. It runs on the worker
// thread, owned by the Progress window; the worker maps the answer.
//
// The language comes from the resources alone: the name line's format is its own template
// text, and string 9 decides the detail layout (English when it holds "Byte").
#include "ui/dialogs.h"

#include <shellapi.h>
#include <string.h>

#include "app/state.h"
#include "paths/path_utils.h"
#include "resources/resource_ids.h"
#include "ui/progress.h"

namespace {

constexpr int kNameFormatSize = 64;  // the name line's template text, terminator included

// Weekday names in code page 932, two bytes each, Sunday first: they replace the "??" of
// the Japanese layout.
constexpr char kWeekdays[] = "\x93\xFA\x8C\x8E\x89\xCE\x90\x85\x96\xD8\x8B\xE0\x93\x79";

// 0 is Sunday. January and February count as months 13 and 14 of the year before.
[[gnu::noinline]] int Weekday(int year, int month, int day) {
    if (month <= 2) {
        year -= 1;
        month += 12;
    }
    return (day + (13 * month + 8) / 5 + year + year / 4 - year / 100 + year / 400) % 7;
}

// The last size text: at most 20 digits and 6 separators.
char g_groupedSize[32];

// Divides by ten in 32-bit steps (the 32-bit image has no 64-bit division of its own);
// returns the remainder.
uint32_t DivideByTen(uint64_t& value) {
    const uint32_t high = uint32_t(value >> 32), low = uint32_t(value);
    const uint32_t middle = (high % 10) << 16 | low >> 16;
    const uint32_t bottom = (middle % 10) << 16 | (low & 0xFFFF);
    value = uint64_t(high / 10) << 32 | (middle / 10) << 16 | bottom / 10;
    return bottom % 10;
}

// Sets the details of one file; left empty without a time.
void SetDetails(HWND dialog, int id, DWORD time, uint64_t size) {
    char format[kDateTimeTextSize], text[kDateTimeTextSize + sizeof g_groupedSize];
    if (time == 0 || FormatDateTimeText(time, format) == 0) return;
    wsprintfA(text, format, GroupedSizeText(size));
    SetDlgItemTextA(dialog, id, text);
}

void OnInit(HWND dialog, const OverwriteRequest* request) {
    const wchar_t* name = request->path + LastSeparator(request->path, false) + 1;
    FillTemplateText(dialog, IDC_OVERWRITE_NAME, name, kNameFormatSize);

    // Both statics show the existing file's icon; WM_DESTROY gives it back once.
    SHFILEINFOW info;
    if (SHGetFileInfoW(LongPathForm(request->path, 0), 0, &info, sizeof info, SHGFI_ICON)) {
        SendToControl(dialog, IDC_OVERWRITE_EXISTING_ICON, STM_SETICON, WPARAM(info.hIcon), 0);
        SendToControl(dialog, IDC_OVERWRITE_NEW_ICON, STM_SETICON, WPARAM(info.hIcon), 0);
    }
    SetDetails(dialog, IDC_OVERWRITE_EXISTING_TEXT, request->existingTime, request->existingSize);
    SetDetails(dialog, IDC_OVERWRITE_NEW_TEXT, request->newTime, request->newSize);
}

int AnswerOf(WPARAM command) {
    switch (command) {
        case IDC_OVERWRITE_YES:
            return kOverwriteYes;
        case IDC_OVERWRITE_NO:
            return kOverwriteNo;
        case IDC_OVERWRITE_YES_TO_ALL:
            return kOverwriteYesToAll;
        case IDC_OVERWRITE_NEWER:
            g_settings.newerOnly = 1;  // this and every later existing file: only when older
            return kOverwriteYes;
        case IDC_OVERWRITE_CANCEL:
        case IDCANCEL:  // Esc and the close box
            SendToProgress(WM_CLOSE);
            return kOverwriteCancel;
    }
    return 0;  // not an answer
}

INT_PTR CALLBACK OverwriteProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        OnInit(dialog, reinterpret_cast<const OverwriteRequest*>(lParam));
        return TRUE;
    }
    if (message == WM_DESTROY) {
        DestroyIcon(HICON(SendToControl(dialog, IDC_OVERWRITE_EXISTING_ICON, STM_GETICON, 0, 0)));
        return FALSE;
    }
    if (message != WM_COMMAND) return FALSE;
    if (const int answer = AnswerOf(wParam)) EndDialog(dialog, answer);
    return FALSE;
}

}  // namespace

int FormatDateTimeText(DWORD dosDateTime, char* out) {
    char format[kDateTimeTextSize];
    LoadStringA(g_module, IDS_DATE_TIME_FORMAT, format, sizeof format);
    const DWORD date = dosDateTime >> 16, time = dosDateTime & 0xFFFF;
    const int day = date & 0x1F, month = (date >> 5) & 0x0F, year = int(date >> 9) + 1980;
    const int hour = time >> 11, minute = (time >> 5) & 0x3F, second = (time & 0x1F) * 2;
    // No field has more digits than its place in the format ("%02d", "%04d"), so the
    // text is never longer than the format and fits `out`.
    if (strstr(format, "Byte")) return wsprintfA(out, format, month, day, year, hour, minute, second);
    const int length = wsprintfA(out, format, year, month, day, hour, minute, second);
    // The first "??" becomes the weekday's one double-byte character.
    char* mark = strchr(out, '?');
    if (length != 0 && mark && mark[1]) memcpy(mark, kWeekdays + 2 * Weekday(year, month, day), 2);
    return length;
}

const char* GroupedSizeText(uint64_t size) {
    // Written from the right: the last digit first, a ',' before every fourth.
    char* out = g_groupedSize + sizeof g_groupedSize - 1;
    *out = 0;
    for (int digits = 0; digits == 0 || size != 0; ++digits) {
        if (digits != 0 && digits % 3 == 0) *--out = ',';
        *--out = char('0' + DivideByTen(size));
    }
    return out;
}

int AskOverwrite(const OverwriteRequest* request) {
    SendToProgress(kMsgStopAnimation);
    const int answer = int(DialogBoxParamA(g_module, MAKEINTRESOURCEA(IDD_OVERWRITE), g_progressWindow,
                                           OverwriteProc, reinterpret_cast<LPARAM>(request)));
    SendToProgress(kMsgPlayAnimation);
    return answer;
}
