// mksfx's command line.
#pragma once

#include <stdint.h>

#include <string>

enum class Mode { Build, Show, Test, Help, Version };

// A text option as given, and whether it was given at all.
struct TextOption {
    bool given = false;
    std::string value;
};

struct Options {
    Mode mode = Mode::Build;
    std::string input;   // the ZIP archive to build from, or the file to show or test
    std::string output;
    std::string stub;    // empty: the default stub beside mksfx
    TextOption destination, command, title, question;
    bool overwrite = false;
    bool openExplorer = true;  // the stub's own default
    bool deleteAfterCommand = false;
    bool skipDialog = false;
    bool computeCrc = false;
    bool keepOffsets = false;
    bool passwordGiven = false;
    std::string password;
};

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotAllVerified = 3;  // test mode: nothing bad found, but not everything checked

// Parses argv into `options`. False with a one-line `error` when the command line is wrong.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);

void PrintUsage(FILE* out);
