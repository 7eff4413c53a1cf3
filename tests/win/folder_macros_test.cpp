// Folder macros: the destination of a Configuration block with its leading %Name%
// expanded. The user's Shell Folders values come from a scratch registry key that stands
// in for HKEY_CURRENT_USER in this process only; the system's folders are read here
// through the system calls themselves.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "app/run_driver.h"
#include "paths/folder_macros.h"
#include "win_test_files.h"

namespace {

constexpr char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

std::string WithoutTrailingBackslash(std::string path) {
    if (!path.empty() && path.back() == '\\') path.pop_back();
    return path;
}

std::string WindowsFolder() {
    char buffer[MAX_PATH] = {};
    GetWindowsDirectoryA(buffer, sizeof buffer);
    return WithoutTrailingBackslash(buffer);
}

std::string SystemFolder() {
    char buffer[MAX_PATH] = {};
    GetSystemDirectoryA(buffer, sizeof buffer);
    return WithoutTrailingBackslash(buffer);
}

std::string TemporaryFolder() {  // with its trailing '\'
    char buffer[MAX_PATH] = {};
    GetTempPathA(sizeof buffer, buffer);
    return buffer;
}

// HKEY_CURRENT_USER of this process becomes a fresh key, removed again at the end.
class ScratchUserRegistry {
public:
    ScratchUserRegistry() {
        name_ = "Software\\dudore-tests\\" + std::to_string(GetCurrentProcessId());
        RegCreateKeyExA(HKEY_CURRENT_USER, name_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root_, nullptr);
        overridden_ = root_ && RegOverridePredefKey(HKEY_CURRENT_USER, root_) == ERROR_SUCCESS;
    }
    ~ScratchUserRegistry() {
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegCloseKey(root_);
        RegDeleteTreeA(HKEY_CURRENT_USER, name_.c_str());
    }
    bool overridden() const { return overridden_; }
    // Stores `bytes` as they are (no terminator added) under Shell Folders.
    void Set(const char* value, DWORD type, const std::string& bytes) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(root_, kShellFoldersKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, value, 0, type, reinterpret_cast<const BYTE*>(bytes.data()), DWORD(bytes.size()));
        RegCloseKey(key);
    }
    void SetText(const char* value, const std::string& text) { Set(value, REG_SZ, text + '\0'); }
    void Clear() { RegDeleteTreeA(root_, "Software"); }

private:
    std::string name_;
    HKEY root_ = nullptr;
    bool overridden_ = false;
};

// The destination buffer with guard units behind its 260, which must never change.
struct Destination {
    static constexpr size_t kGuard = 32;
    wchar_t units[kPathSize + kGuard];
    Destination(const char* initial) {
        for (wchar_t& unit : units) unit = L'#';
        wcscpy(units, win_test::Wide(initial).c_str());
    }
    bool GuardIntact() const {
        for (size_t i = kPathSize; i < std::size(units); ++i)
            if (units[i] != L'#') return false;
        return true;
    }
};

struct Expanded {
    std::string destination;
    int result;
    bool guardIntact;
};

// Leaves junk where the next call's locals will lie: an expansion that is never written
// must not pass for an empty one by chance.
__attribute__((noinline)) void FillStackBelowWithJunk() {
    volatile char junk[8192];
    for (size_t i = 0; i < sizeof junk; ++i) junk[i] = 'J';
}

// A private folder's name without its random part, which must be 16 hex digits.
std::string PrivatePrefix(const std::string& destination) {
    const size_t dot = destination.rfind('.');
    const bool random = dot != std::string::npos && destination.size() - dot - 1 == 16 &&
                        destination.find_first_not_of("0123456789abcdef", dot + 1) == std::string::npos;
    return random ? destination.substr(0, dot + 1) : "(no random part) " + destination;
}

Expanded Expand(const std::string& given, uint32_t deleteAfterCommand = 0,
                const char* modulePath = "C:\\Downloads\\setup.exe", const char* before = "") {
    ConfigBlock block = {};
    memcpy(block.destination, given.data(), given.size() < sizeof block.destination ? given.size() : sizeof block.destination);
    block.deleteAfterCommand = deleteAfterCommand;
    Destination destination(before);
    FillStackBelowWithJunk();
    const int result = ExpandDestination(destination.units, block, win_test::Wide(modulePath).c_str());
    return {win_test::Ansi(std::wstring(destination.units, wcsnlen(destination.units, kPathSize)).c_str()), result,
            destination.GuardIntact()};
}

TEST(FolderMacros, EachMacroAndWhatFollowsIt) {
    ScratchUserRegistry registry;
    ASSERT_TRUE(registry.overridden());
    registry.SetText("Desktop", "C:\\Users\\me\\Desktop");
    registry.SetText("Personal", "D:\\Documents\\");
    const std::string windows = WindowsFolder();
    ASSERT_EQ(windows[1], ':');
    const std::string temporary = TemporaryFolder();

    struct Case {
        std::string given;
        uint32_t deleteAfterCommand;
        std::string expected;
        int result;
    } cases[] = {
        {"%Desktop%\\Tools", 0, "C:\\Users\\me\\Desktop\\Tools", 0},
        {"%Desktop%Tools", 0, "C:\\Users\\me\\DesktopTools", 0},  // joined as they stand
        {"%Desktop%", 0, "C:\\Users\\me\\Desktop", 0},
        {"%MyDocuments%\\x", 0, "D:\\Documents\\x", 0},  // the value's own trailing '\' goes
        {"%ProgramFiles%\\App", 0, windows.substr(0, 3) + "Program Files\\App", 0},
        {"%SystemDir%\\x", 0, SystemFolder() + "\\x", 0},
        {"%WinDir%", 0, windows, 0},
        {"%WinDir%\\", 0, windows + "\\", 0},
        {"%temp%\\x", 0, temporary + "x", 0},
        {"%temp%\\x", 1, temporary + "x", 0},
        {"%temp%", 0, WithoutTrailingBackslash(temporary), 0},
        // Only the exact "%temp%" with delete-after-command gets a folder of its own.
        {"%temp%", 1, temporary + "~setup.exe.", 1},
        {"%temp%\\", 1, temporary, 0},
        // Names in the wrong case, unknown names and the empty name give nothing.
        {"%desktop%\\x", 0, "\\x", 0},
        {"%Temp%\\x", 1, "\\x", 0},
        {"%TEMP%", 1, "", 0},
        {"%Foo%\\x", 0, "\\x", 0},
        {"%%\\x", 0, "\\x", 0},
        {"%Desktop %\\x", 0, "\\x", 0},
        // Without a macro the destination is kept as it is.
        {"%Desktop", 0, "%Desktop", 0},
        {"%", 0, "%", 0},
        {"Desktop%\\x%", 0, "Desktop%\\x%", 0},
        {"C:\\plain\\path", 0, "C:\\plain\\path", 0},
        {"sub", 1, "sub", 0},
    };
    for (const Case& c : cases) {
        const Expanded got = Expand(c.given, c.deleteAfterCommand);
        EXPECT_EQ(c.result ? PrivatePrefix(got.destination) : got.destination, c.expected)
            << c.given << " delete-after " << c.deleteAfterCommand;
        EXPECT_EQ(got.result, c.result) << c.given << " delete-after " << c.deleteAfterCommand;
        EXPECT_TRUE(got.guardIntact) << c.given;
    }
}

TEST(FolderMacros, EmptyDestinationLeavesTheSettingsUntouched) {
    const Expanded got = Expand("", 1, "C:\\setup.exe", "C:\\from-switch");
    EXPECT_EQ(got.destination, "C:\\from-switch");
    EXPECT_EQ(got.result, 0);
}

// The private folder: named after the program file, and 16 random hex digits that nobody
// can know in advance (two runs never share one).
TEST(FolderMacros, PrivateFolderIsNamedAfterTheProgramFile) {
    const std::string temporary = TemporaryFolder();
    struct Case {
        const char* modulePath;
        std::string expected;
    } cases[] = {
        {"C:\\a b\\My Setup.EXE", temporary + "~My Setup.EXE."},
        {"\\\\server\\share\\x.exe", temporary + "~x.exe."},
        {"noFolder.exe", temporary + "~noFolder.exe."},
    };
    for (const Case& c : cases) {
        const Expanded got = Expand("%temp%", 1, c.modulePath);
        EXPECT_EQ(PrivatePrefix(got.destination), c.expected) << c.modulePath;
        EXPECT_EQ(got.result, 1) << c.modulePath;
        EXPECT_NE(got.destination, Expand("%temp%", 1, c.modulePath).destination);
    }
}

TEST(FolderMacros, ShellFolderValuesAsStored) {
    ScratchUserRegistry registry;
    ASSERT_TRUE(registry.overridden());
    struct Case {
        const char* what;
        DWORD type;
        std::string stored;  // empty: no value at all
        std::string expected;
    } cases[] = {
        {"missing value", REG_SZ, "", "\\x"},
        {"no terminator stored", REG_SZ, "C:\\raw", "C:\\raw\\x"},
        {"an expandable value is not expanded", REG_EXPAND_SZ, std::string("%USERPROFILE%\\Desk", 18) + '\0',
         "%USERPROFILE%\\Desk\\x"},
        {"255 bytes fit", REG_SZ, "C:\\" + std::string(252, 'v') + '\0', "C:\\" + std::string(252, 'v') + "\\x"},
    };
    for (const Case& c : cases) {
        registry.Clear();
        if (!c.stored.empty()) registry.Set("Desktop", c.type, c.stored);
        const Expanded got = Expand("%Desktop%\\x");
        EXPECT_EQ(got.destination, c.expected) << c.what;
        EXPECT_TRUE(got.guardIntact) << c.what;
    }
    registry.Clear();
    EXPECT_EQ(Expand("%MyDocuments%\\x").destination, "\\x") << "no Shell Folders key at all";
}

// A value or a result that does not fit its buffer is never cut into another path: the
// destination stays as the block gave it.
TEST(FolderMacros, TooLongKeepsTheDestinationAsGiven) {
    ScratchUserRegistry registry;
    ASSERT_TRUE(registry.overridden());
    const std::string rest = "\\" + std::string(60, 'r');
    const std::string nearlyFull = "C:\\" + std::string(196, 'd');  // + rest: 260 bytes
    struct Case {
        const char* what;
        std::string desktop;
        std::string given;
        uint32_t deleteAfterCommand;
        std::string modulePath;
        std::string expected;
    } cases[] = {
        {"a value of 256 bytes", "C:\\" + std::string(253, 'v'), "%Desktop%\\x", 0, "C:\\s.exe", "%Desktop%\\x"},
        {"value and rest past 259 bytes", nearlyFull, "%Desktop%" + rest, 0, "C:\\s.exe", "%Desktop%" + rest},
        {"value and rest of 259 bytes", nearlyFull.substr(1), "%Desktop%" + rest, 0, "C:\\s.exe",
         nearlyFull.substr(1) + rest},
        {"a private folder name past its buffer", "", "%temp%", 1, "C:\\" + std::string(250, 'n') + ".exe",
         "%temp%"},
        {"an unterminated block destination", "", "%WinDir%\\" + std::string(260, 'w'), 0, "C:\\s.exe",
         ("%WinDir%\\" + std::string(260, 'w')).substr(0, 259)},
    };
    for (const Case& c : cases) {
        registry.Clear();
        if (!c.desktop.empty()) registry.SetText("Desktop", c.desktop);
        const Expanded got = Expand(c.given, c.deleteAfterCommand, c.modulePath.c_str(), "C:\\before");
        EXPECT_EQ(got.destination, c.expected) << c.what;
        EXPECT_EQ(got.result, 0) << c.what;
        EXPECT_TRUE(got.guardIntact) << c.what;
    }
}

// Reading the block expands its destination and passes the private-folder result on; an
// empty command clears delete-after-command before the expansion sees it.
TEST(FolderMacros, ReadingTheBlockExpandsTheDestination) {
    win_test::ScratchFolder folder;
    const std::string temporary = TemporaryFolder();
    struct Case {
        const char* command;
        std::string expected;
        int result;
    } cases[] = {
        {"setup.exe", temporary + "~sfx.exe.", 1},
        {"", WithoutTrailingBackslash(temporary), 0},
    };
    for (const Case& c : cases) {
        ConfigBlock block = {};
        memcpy(block.magic, kBlockMagic, sizeof block.magic);
        strcpy(block.destination, "%temp%");
        strcpy(block.command, c.command);
        block.deleteAfterCommand = 1;
        std::string bytes(100, 'x');
        bytes.append(reinterpret_cast<const char*>(&block), sizeof block);
        win_test::WriteFile(folder / "sfx.exe", bytes + "PK\5\6");
        RunSettings settings = {};
        FILE* file = fopen((folder / "sfx.exe").c_str(), "rb");
        const int result = ReadConfigurationBlock(file, 100, win_test::Wide(folder / "sfx.exe").c_str(), settings);
        fclose(file);
        EXPECT_EQ(result, c.result) << "command [" << c.command << "]";
        const std::string destination = win_test::Ansi(settings.destination);
        EXPECT_EQ(c.result ? PrivatePrefix(destination) : destination, c.expected) << "command [" << c.command << "]";
    }
}

}  // namespace
