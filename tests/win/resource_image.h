// Reads the raw resources of the stub image, one language at a time, for the resource
// tests. The image is loaded as data only, so nothing in it runs and the language is the
// one asked for, not the one the system would pick.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <set>
#include <string>

namespace resource_test {

inline HMODULE StubImage() {
    static HMODULE image = LoadLibraryExA(DUDORE_STUB_NAME, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return image;
}

// The bytes of one resource, or {nullptr, 0} when that exact type, name and language is absent.
struct Bytes {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// Types are the numeric RT_* constants, the same in the A and W forms.
inline LPCWSTR Type(LPCSTR rt) { return reinterpret_cast<LPCWSTR>(rt); }

inline Bytes FindBytes(LPCSTR type, WORD name, WORD language) {
    HMODULE image = StubImage();
    // FindResourceExW falls back to other languages; ask only for languages that exist.
    HRSRC found = FindResourceExW(image, Type(type), MAKEINTRESOURCEW(name), language);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(image, found);
    if (!loaded) return {};
    return {static_cast<const uint8_t*>(LockResource(loaded)), SizeofResource(image, found)};
}

inline BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
    reinterpret_cast<std::set<WORD>*>(languages)->insert(language);
    return TRUE;
}

// Every language in which the image holds this resource.
inline std::set<WORD> Languages(LPCSTR type, WORD name) {
    std::set<WORD> languages;
    EnumResourceLanguagesW(StubImage(), Type(type), MAKEINTRESOURCEW(name), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

constexpr WORD kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);  // 1033
constexpr WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);   // 1041
constexpr WORD kNeutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);     // 0

// A bounds-checked reader over resource bytes: every read past the end sets `overrun`
// and yields zeros, so a malformed resource fails the test instead of crashing it.
class Reader {
public:
    explicit Reader(Bytes bytes) : bytes_(bytes) {}

    bool overrun() const { return overrun_; }
    size_t offset() const { return offset_; }
    bool AtEnd() const { return offset_ >= bytes_.size; }

    uint32_t Read(size_t width) {
        if (offset_ + width > bytes_.size) {
            overrun_ = true;
            offset_ = bytes_.size;
            return 0;
        }
        uint32_t value = 0;
        for (size_t i = 0; i < width; ++i) value |= uint32_t(bytes_.data[offset_ + i]) << (8 * i);
        offset_ += width;
        return value;
    }
    uint8_t Byte() { return uint8_t(Read(1)); }
    uint16_t Word() { return uint16_t(Read(2)); }
    int16_t Short() { return int16_t(Read(2)); }
    uint32_t Dword() { return Read(4); }

    // A zero-terminated UTF-16 string.
    std::wstring String() {
        std::wstring text;
        for (wchar_t c = wchar_t(Word()); c != 0 && !overrun_; c = wchar_t(Word())) text += c;
        return text;
    }
    // A length-prefixed UTF-16 string, as in a string table bundle.
    std::wstring Counted() {
        std::wstring text;
        for (uint16_t n = Word(); n > 0 && !overrun_; --n) text += wchar_t(Word());
        return text;
    }
    void Align(size_t to) {
        while (offset_ % to && !overrun_) Read(1);
    }

private:
    Bytes bytes_;
    size_t offset_ = 0;
    bool overrun_ = false;
};

}  // namespace resource_test
