// Entry-name text rules. See entry_names.h.
#include "paths/entry_names.h"

#include <string.h>

int TrimTrailingBlanks(char* text) {
    int last = int(strlen(text)) - 1;
    while (last >= 0 && text[last] == ' ') text[last--] = 0;
    return last;
}

void SlashesToBackslashes(char* text) {
    for (; *text; ++text)
        if (*text == '/') *text = '\\';
}

int StripParentReferences(char* name) {
    // Removing one "..\" can join its neighbours into a new one ("....\\" or ".../...\\"),
    // so passes repeat until a pass removes nothing.
    bool removed = true;
    while (removed) {
        removed = false;
        char* out = name;
        for (const char* in = name; *in;) {
            if (in[0] == '.' && in[1] == '.' && in[2] == '\\') {
                in += 3;
                removed = true;
            } else {
                *out++ = *in++;
            }
        }
        *out = 0;
    }
    return 1;
}

void PrepareEntryName(char* name) {
    SlashesToBackslashes(name);
    if (name[0] == '\\') memmove(name, name + 1, strlen(name));
    StripParentReferences(name);
}
