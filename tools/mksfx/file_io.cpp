// File helpers for mksfx.
#include "file_io.h"

#include <errno.h>
#include <string.h>

#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

bool FileSizeOf(const std::string& path, uint64_t& size) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::path(path), ec)) return false;
    const uintmax_t n = fs::file_size(fs::path(path), ec);
    if (ec) return false;
    size = n;
    return true;
}

FILE* OpenForReading(const fs::path& path) {
#ifdef _WIN32
    return _wfopen(path.c_str(), L"rb");
#else
    return fopen(path.c_str(), "rb");
#endif
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
    uint64_t size = 0;
    if (!FileSizeOf(path, size)) {
        error = "cannot read " + path + ": not a readable file";
        return false;
    }
    if (size > kMaxWholeFileSize) {
        error = path + " is larger than " + std::to_string(kMaxWholeFileSize >> 20) + " MiB";
        return false;
    }
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) {
        error = "cannot open " + path + ": " + strerror(errno);
        return false;
    }
    bytes.resize(size_t(size));
    const bool complete = fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
    fclose(file);
    if (!complete) error = "cannot read " + path;
    return complete;
}

bool ReadAt(FILE* file, uint64_t offset, uint8_t* buffer, size_t size) {
    return SeekTo(file, offset) && fread(buffer, 1, size, file) == size;
}

std::string ExecutableDirectory() {
    std::string path;
#ifdef _WIN32
    char buffer[MAX_PATH * 2];
    const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (n > 0 && n < sizeof buffer) path.assign(buffer, n);
#else
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n > 0 && size_t(n) < sizeof buffer) path.assign(buffer, size_t(n));
#endif
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string CommandLineTextAsUtf8(const std::string& text) {
#ifdef _WIN32
    // The arguments come in the ANSI code page; UTF-16 in between.
    const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide.data(), units);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
#else
    return text;  // UTF-8 already, as the locales of today have it
#endif
}

const char* NullDevicePath() {
#ifdef _WIN32
    return "NUL";
#else
    return "/dev/null";
#endif
}

// ---- PendingOutput ---------------------------------------------------------------

PendingOutput::PendingOutput(std::string finalPath)
    : finalPath_(std::move(finalPath)), temporaryPath_(finalPath_ + ".mksfx-tmp") {}

PendingOutput::~PendingOutput() {
    if (file_) fclose(file_);
    if (!committed_) remove(temporaryPath_.c_str());
}

bool PendingOutput::Open(std::string& error) {
    std::error_code ec;
    if (fs::is_directory(fs::path(finalPath_), ec)) {
        error = "cannot write " + finalPath_ + ": it is a folder";
        return false;
    }
    file_ = fopen(temporaryPath_.c_str(), "w+b");
    if (!file_) error = "cannot write " + finalPath_ + ": " + strerror(errno);
    return file_ != nullptr;
}

bool PendingOutput::Close(std::string& error) {
    if (!file_) return true;
    const bool written = ferror(file_) == 0;
    const bool closed = fclose(file_) == 0;
    file_ = nullptr;
    if (!written || !closed) error = "cannot write " + finalPath_ + ": " + strerror(errno);
    return written && closed;
}

bool PendingOutput::Commit(std::string& error) {
    if (!Close(error)) return false;
    std::error_code ec;
    fs::rename(fs::path(temporaryPath_), fs::path(finalPath_), ec);
    if (ec) {
        error = "cannot write " + finalPath_ + ": " + ec.message();
        return false;
    }
    committed_ = true;
    return true;
}
