// mksfx: builds a self-extracting file from the stub image, a Configuration block and a
// ZIP archive (given, or packed here from files and folders), and shows or tests
// existing ones.
//
// Nothing is written until the finished file has passed the same reader and decoders
// the stub runs: it is written under a temporary name beside the output, checked, and
// only then renamed into place.
#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <optional>

#include "app/config_block.h"
#include "archive_check.h"
#include "block_writer.h"
#include "file_io.h"
#include "image_identity.h"
#include "inspect.h"
#include "messages.h"
#include "options.h"
#include "pe_check.h"
#include "sfx_writer.h"
#include "source_tree.h"
#include "zip_writer.h"

namespace {

constexpr char kDefaultStubName[] = "dudore-stub32.exe";
constexpr char kForbiddenDestinationCharacters[] = ";*?\"<>|";

// The stub beside mksfx; for a build tree, the 32-bit build's stub as a fallback.
std::string DefaultStubPath() {
    const std::string beside = ExecutableDirectory() + kDefaultStubName;
    uint64_t size = 0;
    if (FileSizeOf(beside, size)) return beside;
#ifdef DUDORE_WIN32_STUB
    if (FileSizeOf(DUDORE_WIN32_STUB, size)) return DUDORE_WIN32_STUB;
#endif
    return beside;
}

// Settings the stub accepts but would not act on as the user probably means.
void WarnAboutSettings(const Options& o) {
    if (o.deleteAfterCommand && o.command.value.empty())
        PrintWarning("--delete-after has no effect without --command");
    if (o.title.given && o.question.value.empty()) PrintWarning("--title has no effect without --question");
    if (o.destination.value.find_first_of(kForbiddenDestinationCharacters) != std::string::npos)
        PrintWarning(std::string("the stub replaces a destination holding any of ") +
                     kForbiddenDestinationCharacters + " by the folder it runs from");
}

// A destination in a system folder without administrator rights fails on Windows Vista
// and later; the distributor chooses whether to ask for them.
void WarnAboutExecutionLevel(const Options& o, const std::vector<uint8_t>& stub) {
    static const char* const kSystemFolders[] = {"%ProgramFiles%", "%WinDir%", "%SystemDir%"};
    for (const char* folder : kSystemFolders)
        if (o.destination.value.starts_with(folder) && ExecutionLevelOf(stub) == "asInvoker")
            PrintWarning(std::string("the destination is in ") + folder +
                         " but the file runs without administrator rights; consider "
                         "--execution-level=requireAdministrator");
}

void WarnAboutUnverified(const ArchiveReport& report) {
    for (const ReaderEntry& e : report.entries) {
        const std::string name = std::string("\"") + e.record.name + "\": not verified: ";
        if (e.verdict == Verdict::NoDecoder)
            PrintWarning(name + MethodName(e.record.method) + " has no decoder in this build");
        else if (e.verdict == Verdict::Encrypted)
            PrintWarning(name + "encrypted; give --password to verify it");
        else if (e.verdict == Verdict::WrongPassword)
            PrintWarning(name + "the password does not open it");
    }
}

// Reads the finished file back as the stub will and reports what it finds.
// `what` names the archive in messages: the ZIP given, or the output when packing.
bool CheckWrittenFile(const std::string& path, const Options& o, const std::string& what) {
    uint64_t size = 0;
    UniqueFile file(FileSizeOf(path, size) ? fopen(path.c_str(), "rb") : nullptr);
    if (!file) {
        PrintError("cannot read back " + path);
        return false;
    }
    ZipLayout layout;
    std::string error;
    if (!ReadZipLayout(file.get(), size, layout, error)) {
        PrintError(what + ": " + error);
        return false;
    }
    CheckRequest request;
    request.password = o.passwordGiven ? o.password.c_str() : nullptr;
    const ArchiveReport report = CheckArchive(file.get(), &layout, request);
    PrintWarnings(report.warnings);
    WarnAboutUnverified(report);
    if (report.errors.empty()) return true;
    for (const std::string& e : report.errors) PrintError(what + ": " + e);
    PrintError("nothing written: the stub could not extract " + what + " as it is");
    return false;
}

// A single path to a file named *.zip is the archive; anything else is packed.
bool IsGivenArchive(const Options& o) {
    uint64_t size = 0;
    if (o.inputs.size() != 1 || !FileSizeOf(o.input, size) || o.input.size() < 4) return false;
    std::string extension = o.input.substr(o.input.size() - 4);
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return tolower(c); });
    return extension == ".zip";
}

// The output replaces nothing but a regular file (or a link to one), and never a file that
// this run reads (the stub, the archive, a packed file): a device or FIFO would become a
// regular file, and a file read would be lost. False after one line per reason.
bool OutputMayBeWritten(const std::string& output, std::vector<std::filesystem::path> read) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(fs::path(output), ec);
    if (!fs::exists(status)) return true;
    if (!fs::is_regular_file(status)) {
        PrintError(output + ": exists and is not a regular file; nothing written");
        return false;
    }
    bool mayBeWritten = true;
    for (const fs::path& path : read) {
        if (!fs::equivalent(fs::path(output), path, ec)) continue;
        PrintError(output + ": is " + path.string() + ", which this run reads; nothing written");
        mayBeWritten = false;
    }
    return mayBeWritten;
}

// SOURCE_DATE_EPOCH, when set: decimal seconds since 1970. False when it is malformed.
bool ReadSourceDateEpoch(std::optional<int64_t>& epoch) {
    const char* text = getenv("SOURCE_DATE_EPOCH");
    if (!text || !*text) return true;
    char* end = nullptr;
    errno = 0;
    const long long value = strtoll(text, &end, 10);
    if (*end != 0 || errno != 0 || value < 0 || !isdigit(static_cast<unsigned char>(text[0]))) return false;
    epoch = value;
    return true;
}

int BuildFromArchive(const Options& o, const std::vector<uint8_t>& stub, const ConfigBlock& block,
                     const std::string& stubPath) {
    if (!OutputMayBeWritten(o.output, {stubPath, o.input})) return kExitFailure;
    std::string error;
    uint64_t inputSize = 0;
    UniqueFile input(FileSizeOf(o.input, inputSize) ? fopen(o.input.c_str(), "rb") : nullptr);
    if (!input) {
        PrintError("cannot read " + o.input);
        return kExitFailure;
    }
    const uint64_t padding = AlignmentPadding(stub.size() + kBlockSize + inputSize);
    const uint64_t prefixSize = stub.size() + kBlockSize + padding;
    ZipLayout layout;
    if (!ReadZipLayout(input.get(), inputSize, layout, error) ||
        (!o.keepOffsets && !MoveOffsets(layout, prefixSize, error))) {
        PrintError(o.input + ": " + error);
        return kExitFailure;
    }

    PendingOutput output(o.output);
    if (!output.Open(error) ||
        !WriteSelfExtractor(output.file(), stub, block, padding, input.get(), layout, o.computeCrc, error) ||
        !output.Close(error)) {
        PrintError(error);
        return kExitFailure;
    }
    if (!CheckWrittenFile(output.temporaryPath(), o, o.input)) return kExitFailure;
    if (!output.Commit(error)) {
        PrintError(error);
        return kExitFailure;
    }
    printf("%s: stub %zu bytes, block %zu bytes, archive %llu bytes, %zu entries\n", o.output.c_str(), stub.size(),
           kBlockSize, static_cast<unsigned long long>(inputSize), layout.entries.size());
    return kExitOk;
}

// Packs the files and folders given into an archive written straight behind the block.
int BuildFromTree(const Options& o, const std::vector<uint8_t>& stub, const ConfigBlock& block,
                  const std::string& stubPath) {
    std::vector<PackItem> items;
    std::vector<std::string> errors;
    if (!GatherItems(o.inputs, items, errors)) {
        PrintErrors(errors);
        PrintError("nothing written");
        return kExitFailure;
    }
    std::vector<std::filesystem::path> read = {stubPath};
    for (const PackItem& item : items)
        if (!item.folder) read.push_back(item.source);
    if (!OutputMayBeWritten(o.output, read)) return kExitFailure;
    PackSettings settings;
    if (!ReadSourceDateEpoch(settings.sourceDateEpoch)) {
        PrintError("SOURCE_DATE_EPOCH is not a number of seconds since 1970");
        return kExitFailure;
    }
    settings.level = o.level;
    settings.offsetBase = o.keepOffsets ? stub.size() + kBlockSize : 0;
    settings.showProgress = isatty(fileno(stderr));

    std::string error;
    PackSummary summary;
    PendingOutput output(o.output);
    if (!output.Open(error) ||
        !WritePackedSelfExtractor(output.file(), stub, block, items, settings, o.computeCrc, summary, error) ||
        !output.Close(error)) {
        PrintError(error);
        return kExitFailure;
    }
    if (!CheckWrittenFile(output.temporaryPath(), o, o.output)) return kExitFailure;
    if (!output.Commit(error)) {
        PrintError(error);
        return kExitFailure;
    }
    printf("%s: stub %zu bytes, block %zu bytes, archive %llu bytes%s, %zu entries\n", o.output.c_str(), stub.size(),
           kBlockSize, static_cast<unsigned long long>(summary.archiveSize), summary.zip64 ? " (ZIP64)" : "",
           summary.entries);
    return kExitOk;
}

int Build(const Options& o) {
    ConfigBlock block;
    std::string error;
    if (!ComposeBlock(o, block, error)) {
        PrintError(error);
        return kExitFailure;
    }
    WarnAboutSettings(o);

    const std::string stubPath = o.stub.empty() ? DefaultStubPath() : o.stub;
    std::vector<uint8_t> stub;
    if (!ReadWholeFile(stubPath, stub, error)) {
        PrintError("stub image: " + error + (o.stub.empty() ? " (choose one with --stub)" : ""));
        return kExitFailure;
    }
    error = CheckStubImage(stub);
    if (!error.empty()) {
        PrintError("stub image " + stubPath + ": " + error);
        return kExitFailure;
    }
    if (ChangesIdentity(o)) {
        if (!ApplyIdentity(stub, o, error) || !(error = CheckStubImage(stub)).empty()) {
            PrintError(error + "; nothing written");
            return kExitFailure;
        }
    }
    WarnAboutExecutionLevel(o, stub);
    return IsGivenArchive(o) ? BuildFromArchive(o, stub, block, stubPath) : BuildFromTree(o, stub, block, stubPath);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        PrintError(error + " (see --help)");
        return kExitUsage;
    }
    switch (options.mode) {
        case Mode::Help: PrintUsage(stdout); return kExitOk;
        case Mode::Version: printf("mksfx " DUDORE_VERSION "\n"); return kExitOk;
        case Mode::Show: return ShowFile(options);
        case Mode::Test: return TestFile(options);
        case Mode::Build: break;
    }
    return Build(options);
}
