// Archive self-check, with the small CRC check window and its bar. It runs on the main
// thread before any other window exists, and keeps its window painted by taking one
// message per block read.
#include "archive/self_check.h"

#include <commctrl.h>
#include <stdio.h>

#include "app/run_driver.h"
#include "archive/crc32.h"
#include "resources/resource_ids.h"
#include "ui/messages.h"

namespace {

constexpr unsigned kReadBlock = 2048;
constexpr long kBarUnit = 102400;  // bytes per bar step, so any file size fits the bar's range
constexpr int kSelfCheckMessageSize = 256;

void PumpOneMessage(HWND window) {
    MSG message;
    if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) && !IsDialogMessageA(window, &message)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

}  // namespace

DWORD ArchiveSelfCheck(HWND owner, HINSTANCE module, DWORD expected) {
    BuildCrcTable();
    char path[MAX_PATH];
    GetModuleFileNameA(module, path, sizeof path);
    // Its own stream, not the archive's: the archive stream's position stays where it is.
    FILE* file = fopen(path, "rb");
    if (!file) return 0;
    fseek(file, 0, SEEK_END);
    const long length = ftell(file);
    const long archiveStart = long(OwnBlockOffset()) + long(kBlockSize);

    HWND window = CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_CRC_CHECK), nullptr, nullptr, 0);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    HWND bar = GetDlgItem(window, IDC_PROGRESS_BAR);
    fseek(file, archiveStart, SEEK_SET);
    SendMessageA(bar, PBM_SETRANGE32, 0, (length - archiveStart) / kBarUnit);

    uint8_t block[kReadBlock];
    uint32_t crc = 0;
    unsigned long total = 0;
    for (;;) {
        const size_t got = fread(block, 1, kReadBlock, file);
        if (got == 0) break;
        crc = UpdateCrc(crc, block, got);
        total += got;
        Sleep(0);
        SendMessageA(bar, PBM_SETPOS, total / kBarUnit, 0);
        PumpOneMessage(window);
    }
    fclose(file);
    if (window) DestroyWindow(window);

    if (expected == 0 || expected == crc) return crc;
    char format[kSelfCheckMessageSize], text[kSelfCheckMessageSize + MAX_PATH];
    LoadStringA(module, IDS_CRC_CHECK_ERROR, format, sizeof format);
    wsprintfA(text, format, path);
    MessageBoxA(owner, text, kWarningCaption, MB_ICONERROR);
    return 0;
}
