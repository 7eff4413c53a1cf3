// mksfx's command line: GNU-style long options, short ones where natural.
#include <getopt.h>
#include <stdio.h>
#include <string.h>

#include "file_io.h"
#include "image_identity.h"
#include "options.h"
#include "version_resource.h"

namespace {

enum LongOnly {
    kNoExplorer = 256,
    kExplorer,
    kDeleteAfter,
    kSkipDialog,
    kCrc,
    kKeepOffsets,
    kShow,
    kTest,
    kIcon,
    kVersionInfo,
    kExecutionLevel,
    kDpiAware,
};

const option kLongOptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"stub", required_argument, nullptr, 's'},
    {"destination", required_argument, nullptr, 'd'},
    {"command", required_argument, nullptr, 'c'},
    {"overwrite", no_argument, nullptr, 'y'},
    {"no-explorer", no_argument, nullptr, kNoExplorer},
    {"explorer", no_argument, nullptr, kExplorer},
    {"delete-after", no_argument, nullptr, kDeleteAfter},
    {"skip-dialog", no_argument, nullptr, kSkipDialog},
    {"title", required_argument, nullptr, 't'},
    {"question", required_argument, nullptr, 'q'},
    {"crc", no_argument, nullptr, kCrc},
    {"keep-offsets", no_argument, nullptr, kKeepOffsets},
    {"level", required_argument, nullptr, 'l'},
    {"password", required_argument, nullptr, 'p'},
    {"icon", required_argument, nullptr, kIcon},
    {"version-info", required_argument, nullptr, kVersionInfo},
    {"execution-level", required_argument, nullptr, kExecutionLevel},
    {"dpi-aware", required_argument, nullptr, kDpiAware},
    {"show", no_argument, nullptr, kShow},
    {"test", no_argument, nullptr, kTest},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};
// Leading ':' reports a missing argument apart from an unknown option.
const char kShortOptions[] = ":o:s:d:c:yt:q:p:l:hV";

void SetText(TextOption& option, const char* value) {
    option.given = true;
    option.value = value;
}

bool ParseLevel(const char* text, int& level) {
    if (text[0] < '0' || text[0] > '9' || text[1] != 0) return false;
    level = text[0] - '0';
    return true;
}

// KEY=VALUE of --version-info, checked.
bool ParseVersionSetting(const char* text, Options& options, std::string& error) {
    const char* equals = strchr(text, '=');
    if (!equals) {
        error = std::string("--version-info takes KEY=VALUE, not ") + text;
        return false;
    }
    const std::string key(text, equals), value = CommandLineTextAsUtf8(equals + 1);
    error = CheckVersionSetting(key, value);
    if (!error.empty()) return false;
    options.versionInfo.emplace_back(key, value);
    return true;
}

bool ParseExecutionLevel(const char* text, Options& options, std::string& error) {
    for (const char* level : kExecutionLevels)
        if (strcmp(text, level) == 0) {
            options.executionLevel = level;
            return true;
        }
    error = std::string("--execution-level takes asInvoker, highestAvailable or requireAdministrator, not ") + text;
    return false;
}

std::string OptionText(char** argv, int optionChar) {
    if (optionChar > 0 && optionChar < 128) return std::string("-") + char(optionChar);
    return argv[optind - 1];
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
    opterr = 0;
    optind = 1;
    int c;
    while ((c = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr)) != -1) {
        switch (c) {
            case 'o': options.output = optarg; break;
            case 's': options.stub = optarg; break;
            case 'd': SetText(options.destination, optarg); break;
            case 'c': SetText(options.command, optarg); break;
            case 'y': options.overwrite = true; break;
            case kNoExplorer: options.openExplorer = false; break;
            case kExplorer: options.openExplorer = true; break;
            case kDeleteAfter: options.deleteAfterCommand = true; break;
            case kSkipDialog: options.skipDialog = true; break;
            case 't': SetText(options.title, optarg); break;
            case 'q': SetText(options.question, optarg); break;
            case kCrc: options.computeCrc = true; break;
            case kKeepOffsets: options.keepOffsets = true; break;
            case 'l':
                if (!ParseLevel(optarg, options.level)) {
                    error = std::string("--level takes 0 to 9, not ") + optarg;
                    return false;
                }
                break;
            case 'p':
                options.passwordGiven = true;
                options.password = optarg;
                break;
            case kIcon: options.icon = optarg; break;
            case kVersionInfo:
                if (!ParseVersionSetting(optarg, options, error)) return false;
                break;
            case kExecutionLevel:
                if (!ParseExecutionLevel(optarg, options, error)) return false;
                break;
            case kDpiAware:
                if (strcmp(optarg, "yes") != 0 && strcmp(optarg, "no") != 0) {
                    error = std::string("--dpi-aware takes yes or no, not ") + optarg;
                    return false;
                }
                options.dpiAware = optarg;
                break;
            case kShow: options.mode = Mode::Show; break;
            case kTest: options.mode = Mode::Test; break;
            case 'h': options.mode = Mode::Help; return true;
            case 'V': options.mode = Mode::Version; return true;
            case ':': error = OptionText(argv, optopt) + " needs a value"; return false;
            default: error = "unknown option " + OptionText(argv, optopt); return false;
        }
    }
    if (optind == argc) {
        error = options.mode == Mode::Build ? "nothing to build from: give a ZIP archive, or files and folders"
                                            : "no file given";
        return false;
    }
    if (options.mode != Mode::Build && optind + 1 < argc) {
        error = std::string("more than one file given: ") + argv[optind + 1];
        return false;
    }
    options.inputs.assign(argv + optind, argv + argc);
    options.input = argv[optind];
    if (options.mode == Mode::Build && options.output.empty()) {
        error = "no output given (--output FILE)";
        return false;
    }
    return true;
}

void PrintUsage(FILE* out) {
    fputs(
        "Usage: mksfx [OPTION]... -o OUTPUT ARCHIVE.zip   build a self-extracting file from a ZIP archive\n"
        "       mksfx [OPTION]... -o OUTPUT PATH...       build one from files and folders (packed here)\n"
        "       mksfx --show FILE                         print a self-extracting file's block and entries\n"
        "       mksfx --test [-p PASSWORD] FILE           decode and check every entry of a ZIP or\n"
        "                                                 self-extracting file\n"
        "\n"
        "The archive is checked with the stub's own reader and decoders before anything is written;\n"
        "an archive the stub could not extract is refused.\n"
        "\n"
        "A folder named with a trailing separator is packed without itself (its contents at the top);\n"
        "without one, as itself. Symbolic links are followed; a link met inside a folder must stay in\n"
        "it. Names are written as UTF-8, entries sorted, with times and the read-only attribute; the\n"
        "same files give the same bytes. With SOURCE_DATE_EPOCH set, later times are clamped to it and\n"
        "all times are written as UTC.\n"
        "\n"
        "Building:\n"
        "  -o, --output=FILE       the self-extracting file to write\n"
        "  -s, --stub=FILE         the stub image (default: dudore-stub32.exe beside mksfx)\n"
        "  -d, --destination=DIR   default destination folder (259 bytes at most); may begin with\n"
        "                          a folder macro such as %Desktop%\\\n"
        "  -c, --command=CMD       command to run after extraction (127 bytes at most)\n"
        "  -y, --overwrite         overwrite existing files and create the destination without asking\n"
        "      --no-explorer       do not open Explorer on the destination afterwards\n"
        "      --explorer          open Explorer afterwards when no command is set (the default)\n"
        "      --delete-after      delete the extracted files once the command has finished\n"
        "      --skip-dialog       do not show the destination dialog\n"
        "  -t, --title=TEXT        caption of the question (31 bytes at most)\n"
        "  -q, --question=TEXT     Yes/No question asked before anything happens (63 bytes at most)\n"
        "      --crc               store the CRC-32 of the archive, which the stub then checks\n"
        "      --keep-offsets      append the archive byte for byte, without moving its offsets\n"
        "                          (packing: offsets count from the archive's start)\n"
        "  -l, --level=N           Deflate level when packing, 0 (store) to 9 (default 9)\n"
        "  -p, --password=PW       password to verify encrypted entries with (not stored)\n"
        "\n"
        "The file's identity (the stub's resources are rebuilt with it):\n"
        "      --icon=FILE.ico     the file's icon, also the stub's windows' icon (every image in it)\n"
        "      --version-info=KEY=VALUE  a version string (may be repeated): CompanyName,\n"
        "                          FileDescription, FileVersion, ProductName, ProductVersion,\n"
        "                          LegalCopyright, OriginalFilename, InternalName, Comments;\n"
        "                          UTF-8, 255 characters at most. FileVersion and ProductVersion\n"
        "                          of the form a.b.c.d set the numeric version too\n"
        "      --execution-level=LEVEL  asInvoker (the stub's), highestAvailable or\n"
        "                          requireAdministrator: the rights Windows asks the user for\n"
        "      --dpi-aware=yes|no  whether the manifest declares the dialogs DPI aware (the stub's:\n"
        "                          yes; with no, Windows stretches them at higher DPI)\n"
        "\n"
        "  -h, --help              show this help and exit\n"
        "  -V, --version           show the version and exit\n"
        "\n"
        "Texts are stored as given, in the code page the stub will run under.\n"
        "Exit status: 0 success, 1 failure, 2 wrong command line, 3 (--test) nothing wrong found\n"
        "but some entries could not be verified.\n",
        out);
}
