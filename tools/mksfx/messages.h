// mksfx's diagnostics: one line each on stderr, "mksfx: " first.
#pragma once

#include <stdio.h>

#include <string>
#include <string_view>
#include <vector>

// `text` fit for a terminal: control characters (C0, DEL, and C1 as UTF-8 writes them)
// shown as \xNN, so that no name from an archive, an image or a file system can move the
// cursor, retitle the window or recolour the screen. Other bytes pass as they are.
inline std::string Printable(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const bool c1 = c == 0xC2 && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80;
        if (c >= 0x20 && c != 0x7F && !c1) {
            out += char(c);
            continue;
        }
        const size_t count = c1 ? 2 : 1;
        for (size_t k = 0; k < count; ++k) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(text[i + k]));
            out += escaped;
        }
        i += count - 1;
    }
    return out;
}

// Every line is made printable whole: mksfx's own words are, and the names in them may not be.
inline void PrintError(const std::string& message) { fprintf(stderr, "mksfx: %s\n", Printable(message).c_str()); }

inline void PrintWarning(const std::string& message) {
    fprintf(stderr, "mksfx: warning: %s\n", Printable(message).c_str());
}

inline void PrintWarnings(const std::vector<std::string>& warnings) {
    for (const std::string& w : warnings) PrintWarning(w);
}

inline void PrintErrors(const std::vector<std::string>& errors) {
    for (const std::string& e : errors) PrintError(e);
}
