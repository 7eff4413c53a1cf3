// Path utilities.
#include "paths/path_utils.h"

int TrimTrailingBlanks(char* text) {
    int last = lstrlenA(text) - 1;
    while (last >= 0 && text[last] == ' ') text[last--] = 0;
    return last;
}
