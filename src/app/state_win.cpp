// Definitions of the process-wide state declared in state.h. All of it is zero until
// start-up writes it: no constructors run in the stub.
#include "app/state.h"

RunSettings g_settings;
HINSTANCE g_module;
volatile int g_cancelState;
HWND g_progressWindow;
ZipReader g_reader;
int g_failedEntries;
PathList g_extractedFiles;
PathList g_createdFolders;
CommandFile g_commandFile;
