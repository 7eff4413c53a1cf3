// Scratch folders and files for the Windows tests: each test gets its own folder under
// the system's temporary folder, removed at the end.
#pragma once

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

// Skips the calling test outside code page 932, unless the pass was meant to be Japanese
// (DUDORE_EXPECT_CP932 set): then it fails, so a misconfigured pass cannot pass silently.
#define REQUIRE_CODE_PAGE_932()                                                                 \
    do {                                                                                        \
        if (GetACP() != 932) {                                                                  \
            if (getenv("DUDORE_EXPECT_CP932")) FAIL() << "this pass must run in code page 932"; \
            GTEST_SKIP() << "needs code page 932 (runs in the Japanese pass)";                   \
        }                                                                                       \
    } while (0)

namespace win_test {

inline void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string child = path + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

// A fresh folder (full path, no trailing '\'), removed when the object goes.
class ScratchFolder {
public:
    ScratchFolder() {
        char base[MAX_PATH];
        GetTempPathA(sizeof base, base);
        char unique[MAX_PATH];
        GetTempFileNameA(base, "dwt", 0, unique);
        DeleteFileA(unique);
        CreateDirectoryA(unique, nullptr);
        path_ = unique;
    }
    ~ScratchFolder() { RemoveTree(path_); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

// `ansi` as the A calls take it: converted from the system code page.
inline std::wstring Wide(const std::string& ansi) {
    std::wstring wide(ansi.size() + 1, L'\0');
    wide.resize(size_t(MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &wide[0], int(wide.size())) - 1));
    return wide;
}

// `wide` in the system code page, as the A calls give it.
inline std::string Ansi(const wchar_t* wide) {
    std::string ansi(2 * wcslen(wide) + 1, '\0');
    ansi.resize(size_t(WideCharToMultiByte(CP_ACP, 0, wide, -1, &ansi[0], int(ansi.size()), nullptr, nullptr) - 1));
    return ansi;
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) return;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

inline std::string ReadFile(const std::string& path) {
    std::string bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return bytes;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
    fclose(file);
    return bytes;
}

inline bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace win_test
