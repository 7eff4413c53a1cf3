// mksfx's command line.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

enum class Mode { Build, Show, Test, Help, Version };

// A text option as given, and whether it was given at all.
struct TextOption {
    bool given = false;
    std::string value;
};

struct Options {
    Mode mode = Mode::Build;
    std::string input;   // the file to show or test; the first path to build from
    std::vector<std::string> inputs;  // what to build from: one ZIP archive, or files and folders
    std::string output;
    std::string stub;    // empty: the default stub beside mksfx
    TextOption destination, command, title, question;
    bool overwrite = false;
    bool openExplorer = true;  // the stub's own default
    bool deleteAfterCommand = false;
    bool skipDialog = false;
    bool computeCrc = false;
    bool keepOffsets = false;
    int level = 9;  // Deflate level for packing files and folders; 0 stores everything
    bool passwordGiven = false;
    std::string password;
    // The distributor's identity in the image; empty: as the stub has it.
    std::string icon;
    std::vector<std::pair<std::string, std::string>> versionInfo;  // key, value (UTF-8)
    std::string executionLevel;
    std::string dpiAware;  // "yes" or "no"
};

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotAllVerified = 3;  // test mode: nothing bad found, but not everything checked

// Parses argv into `options`. False with a one-line `error` when the command line is wrong.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);

void PrintUsage(FILE* out);
