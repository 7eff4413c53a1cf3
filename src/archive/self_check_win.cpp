// Archive self-check, with the small CRC check window and its bar. It runs on the main
// thread before any other window exists, and keeps its window painted by taking one
// message per block read.
#include "archive/self_check.h"

#include <commctrl.h>
#include <stdio.h>

#include "app/run_driver.h"
#include "archive/crc32.h"
#include "archive/file_position.h"
#include "resources/resource_ids.h"
#include "ui/messages.h"

namespace {

constexpr unsigned kReadBlock = 2048;
// The bar counts steps of 102,400 bytes, so any file size fits its range: KiB first, then
// hundreds of them, which keeps 64-bit division out of the 32-bit image.
constexpr uint32_t kBarUnitInKib = 100;
uint32_t BarSteps(uint64_t bytes) { return uint32_t(bytes >> 10) / kBarUnitInKib; }
constexpr int kSelfCheckMessageSize = 256;

void PumpOneMessage(HWND window) {
    MSG message;
    if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) && !IsDialogMessageA(window, &message)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

}  // namespace

// Kept out of its caller: its read block and message buffers would take the caller's frame
// past the page that the stub's frames must stay within.
__attribute__((noinline)) DWORD ArchiveSelfCheck(HWND owner, HINSTANCE module, DWORD expected) {
    BuildCrcTable();
    wchar_t path[MAX_PATH];
    // Its own stream, not the archive's: the archive stream's position stays where it is.
    FILE* file = OpenModuleFile(module, path);
    if (!file) return 0;
    const uint64_t archiveStart = uint64_t(OwnBlockOffset()) + kBlockSize;
    // A signature appended behind the archive is no part of it.
    const int64_t length = int64_t(
        SelfCheckEnd(reinterpret_cast<const uint8_t*>(module), 4096, archiveStart, uint64_t(LengthOf(file))));

    HWND window = g_settings.quietMode & kQuietNoWindows
                      ? nullptr
                      : CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_CRC_CHECK), nullptr, nullptr, 0);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    HWND bar = GetDlgItem(window, IDC_PROGRESS_BAR);
    SeekTo(file, archiveStart);
    SendMessageA(bar, PBM_SETRANGE32, 0, length > int64_t(archiveStart) ? BarSteps(uint64_t(length) - archiveStart) : 0);

    uint8_t block[kReadBlock];
    uint32_t crc = 0;
    uint64_t total = 0;
    for (;;) {
        const uint64_t left = uint64_t(length) - archiveStart - total;
        const size_t got = fread(block, 1, left < kReadBlock ? size_t(left) : kReadBlock, file);
        if (got == 0) break;
        crc = UpdateCrc(crc, block, got);
        total += got;
        Sleep(0);
        SendMessageA(bar, PBM_SETPOS, BarSteps(total), 0);
        PumpOneMessage(window);
    }
    fclose(file);
    if (window) DestroyWindow(window);

    if (expected == 0 || expected == crc) return crc;
    char format[kSelfCheckMessageSize], text[kSelfCheckMessageSize + MAX_PATH];
    LoadStringA(module, IDS_CRC_CHECK_ERROR, format, sizeof format);
    wsprintfA(text, format, path);
    ShowMessage(owner, text, kWarningCaption, MB_ICONERROR);
    return 0;
}
