// Configuration block into the Run settings.
#include <string.h>

#include "app/run_driver.h"
#include "paths/folder_macros.h"
#include "paths/path_utils.h"

[[gnu::noinline]] uint32_t OwnBlockOffset() {
    // The headers, section table included, lie in the image's first page.
    return FindBlockOffset(reinterpret_cast<const uint8_t*>(g_module), 4096);
}

FILE* OpenModuleFile(HINSTANCE module, wchar_t* path) {
    const DWORD length = GetModuleFileNameW(module, path, kPathSize);
    if (length == 0 || length >= kPathSize) return nullptr;
    return _wfopen(path, L"rb");
}

int ReadConfigurationBlock(FILE* file, uint64_t offset, const wchar_t* modulePath, RunSettings& settings) {
    ConfigBlock block;
    if (!ReadBlockAt(file, offset, block)) return 0;
    ConfigBlock& to = settings.config;
    if (block.command[0] == 0) block.deleteAfterCommand = 0;
    const int temporaryDestination = ExpandDestination(settings.destination, block, modulePath);
    CopyField(to.command, sizeof to.command, block.command, sizeof block.command);
    to.overwriteWithoutAsking = block.overwriteWithoutAsking;
    to.openExplorer = block.openExplorer;
    to.deleteAfterCommand = block.deleteAfterCommand;
    to.skipDestinationDialog = block.skipDestinationDialog;
    to.expectedCrc = block.expectedCrc;
    CopyField(to.questionTitle, sizeof to.questionTitle, block.questionTitle, sizeof block.questionTitle);
    CopyField(to.questionText, sizeof to.questionText, block.questionText, sizeof block.questionText);
    return temporaryDestination;
}

int ApplyInstallFolder(const wchar_t* modulePath, RunSettings& settings) {
    wchar_t given[kPathSize];
    lstrcpynW(given, settings.installFolder, kPathSize);
    return ExpandFolder(settings.destination, given, settings.config.deleteAfterCommand != 0, modulePath);
}
