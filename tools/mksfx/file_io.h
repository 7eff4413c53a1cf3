// File helpers for mksfx: whole-file reads, an output written beside its final name and
// renamed into place, and where the tool itself lives.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "archive/file_position.h"  // SeekTo and PositionOf, past 2 and 4 GiB alike

// Whole-file reads are for stub images only, which are small: a wrong --stub must not
// fill the memory. Archives and outputs of any size are streamed.
constexpr uint64_t kMaxWholeFileSize = 64 << 20;

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

// Size of the file at `path`; false when it cannot be determined (missing, a folder).
bool FileSizeOf(const std::string& path, uint64_t& size);

// Opens a file for reading by its path as the system spells it (wide on Windows, where
// a narrow name would go through the ANSI code page). Null when it cannot.
FILE* OpenForReading(const std::filesystem::path& path);

// Reads the whole file, kMaxWholeFileSize at most. False (with `error` set) when it
// cannot be read or is larger.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);

// Reads `size` bytes at `offset`; false when fewer are there.
bool ReadAt(FILE* file, uint64_t offset, uint8_t* buffer, size_t size);

// The folder that holds the running executable, with a trailing separator; empty when
// the platform does not say.
std::string ExecutableDirectory();

// A command-line text as UTF-8: converted from the ANSI code page on Windows.
std::string CommandLineTextAsUtf8(const std::string& text);

// A device that swallows whatever is written to it.
const char* NullDevicePath();

// An output file written under a temporary name next to its final path. Commit renames
// it into place; otherwise the destructor removes it, so a failed run leaves nothing.
class PendingOutput {
  public:
    explicit PendingOutput(std::string finalPath);
    ~PendingOutput();
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    // Opened for update: what was written can be read back.
    bool Open(std::string& error);
    FILE* file() const { return file_; }
    const std::string& temporaryPath() const { return temporaryPath_; }
    // Closes the file (reporting a failed flush); the file stays under its temporary name.
    bool Close(std::string& error);
    bool Commit(std::string& error);

  private:
    std::string finalPath_;
    std::string temporaryPath_;
    FILE* file_ = nullptr;
    bool committed_ = false;
};
