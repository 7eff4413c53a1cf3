// mksfx's diagnostics: one line each on stderr, "mksfx: " first.
#pragma once

#include <stdio.h>

#include <string>
#include <vector>

inline void PrintError(const std::string& message) { fprintf(stderr, "mksfx: %s\n", message.c_str()); }

inline void PrintWarning(const std::string& message) { fprintf(stderr, "mksfx: warning: %s\n", message.c_str()); }

inline void PrintWarnings(const std::vector<std::string>& warnings) {
    for (const std::string& w : warnings) PrintWarning(w);
}

inline void PrintErrors(const std::vector<std::string>& errors) {
    for (const std::string& e : errors) PrintError(e);
}
