// Run driver.
#include "app/run_driver.h"

#include <string.h>

#include "codecs/entry_stream.h"
#include "resources/resource_ids.h"
#include "ui/messages.h"

namespace {

// Opens the archive: this program's own file (reading its Configuration block) when
// `archivePath` is empty. Null when the run ends here; the user has been told why.
FILE* OpenArchive(char* archivePath, int& temporaryDestination) {
    const bool own = archivePath[0] == 0;
    if (own) GetModuleFileNameA(g_module, archivePath, kPathSize);
    FILE* file = fopen(archivePath, "rb");
    if (!file) {
        ShowStringMessage(nullptr, IDS_CANNOT_OPEN_ARCHIVE, nullptr, MB_ICONERROR);
        return nullptr;
    }
    if (own) {
        fseek(file, 0, SEEK_END);
        const long length = ftell(file);
        const uint32_t blockOffset = OwnBlockOffset();
        if (length <= long(blockOffset)) {
            fclose(file);
            return nullptr;
        }
        temporaryDestination = ReadConfigurationBlock(file, long(blockOffset), archivePath, g_settings);
    }
    return file;
}

// Walks every entry the reader hands out (extraction comes with the worker).
void WalkEntries() {
    static uint8_t window[kScanWindowSize];
    EntryRecord entry;
    while (NextEntry(g_reader, entry, window)) fseek(g_reader.archive, long(entry.compressedSize), SEEK_CUR);
}

}  // namespace

int RunDriver(char* archivePath) {
    int temporaryDestination = 0;
    memset(&g_reader, 0, sizeof g_reader);
    g_reader.archive = OpenArchive(archivePath, temporaryDestination);
    if (!g_reader.archive) return 0;
    int result = 1;
    if (FindCentralDirectory(g_reader) == 0) {
        ShowStringMessage(nullptr, IDS_NOT_SUPPORTED_FORMAT, nullptr, MB_ICONERROR);
        result = 0;
    } else {
        WalkEntries();
    }
    fclose(g_reader.archive);
    g_reader.archive = nullptr;
    return result;
}
