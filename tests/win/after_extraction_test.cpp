// After extraction: how a command is split into program, parameters and working folder;
// the installer-window search and the waits of Run command; the Extracted-file list; and
// the clean-up over real folder trees. The double-byte case needs code page 932 and runs
// in the Japanese pass.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "paths/path_utils.h"
#include "post/after_extraction.h"
#include "win_test_files.h"

using win_test::Ansi;
using win_test::Exists;
using win_test::Wide;
using win_test::ScratchFolder;

namespace {

// ---- Command split ---------------------------------------------------------------------

// Where rundll32.exe is, as the program finds it by its full path (blanks and all).
constexpr wchar_t kRundll32[] = L"C:\\Win dows\\system32\\rundll32.exe";

struct SplitCase {
    const char* command;
    const char* file;        // expected program (destination prefixed)
    const char* parameters;  // nullptr: none at all
    const char* folder;      // expected working folder; nullptr: not looked at
};

TEST(CommandSplit, ProgramParametersAndWorkingFolder) {
    const wchar_t* destination = L"C:\\Out\\";
    const SplitCase cases[] = {
        {"setup.exe /s", "C:\\Out\\setup.exe", "/s", "C:\\Out\\"},
        {"setup.exe", "C:\\Out\\setup.exe", "", "C:\\Out\\"},
        {"SETUP.EXE /S", "C:\\Out\\SETUP.EXE", "/S", "C:\\Out\\"},
        {"Setup.Exe -q -x", "C:\\Out\\Setup.Exe", "-q -x", "C:\\Out\\"},
        // Only ".exe" separates parameters; the whole text is the file otherwise. A '.' in
        // the parameters does not move the split.
        {"install.bat /q", "C:\\Out\\install.bat /q", nullptr, nullptr},
        {"run.exe /log:x.txt", "C:\\Out\\run.exe", "/log:x.txt", "C:\\Out\\"},
        {"setup.exe /log=install.txt", "C:\\Out\\setup.exe", "/log=install.txt", "C:\\Out\\"},
        {"app.exe.d\\setup.exe /q", "C:\\Out\\app.exe.d\\setup.exe", "/q", "C:\\Out\\app.exe.d\\"},
        {"setup", "C:\\Out\\setup", nullptr, "C:\\Out\\"},
        {"x.inf.txt", "C:\\Out\\x.inf.txt", nullptr, "C:\\Out\\"},
        // The program's own folder is the working folder, whatever the parameters name.
        {"bin\\tool.exe -x", "C:\\Out\\bin\\tool.exe", "-x", "C:\\Out\\bin\\"},
        {"setup.exe /dir C:\\Other\\place", "C:\\Out\\setup.exe", "/dir C:\\Other\\place", "C:\\Out\\"},
        {"setup.exe /s /d=C:/x", "C:\\Out\\setup.exe", "/s /d=C:/x", "C:\\Out\\"},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.command);
        CommandLaunch launch;
        PrepareCommand(launch, c.command, destination, kRundll32);
        EXPECT_EQ(Ansi(launch.file), c.file);
        if (c.parameters) {
            ASSERT_NE(launch.parameters, nullptr);
            EXPECT_EQ(Ansi(launch.parameters), c.parameters);
        } else {
            EXPECT_EQ(launch.parameters, nullptr);
        }
        if (c.folder) EXPECT_EQ(Ansi(launch.folder), c.folder);
    }
}

TEST(CommandSplit, LongestDestinationAndCommandFitWhole) {
    const std::string destination = "C:\\" + std::string(255, 'd') + "\\";  // 259 bytes
    const std::string command = std::string(120, 'c') + ".exe /z";        // 127 bytes
    ASSERT_EQ(destination.size(), 259u);
    ASSERT_EQ(command.size(), 127u);
    CommandLaunch launch;
    PrepareCommand(launch, command.c_str(), Wide(destination).c_str(), kRundll32);
    EXPECT_EQ(Ansi(launch.file), destination + std::string(120, 'c') + ".exe");
    ASSERT_NE(launch.parameters, nullptr);
    EXPECT_EQ(Ansi(launch.parameters), "/z");
}

TEST(CommandSplit, OverlongTextIsCutInsideTheBuffer) {
    // Longer than anything the settings can hold: cut, never written past the buffer.
    const std::string destination(600, 'd');
    const std::string command = "x.exe";
    CommandLaunch launch;
    memset(&launch, 0x55, sizeof launch);
    PrepareCommand(launch, command.c_str(), Wide(destination).c_str(), kRundll32);
    EXPECT_EQ(wcslen(launch.file), kCommandLineSize - 2);
    EXPECT_EQ(launch.parameters, nullptr);
}

// An .inf runs through rundll32 (or rundll), given by its short path, so that the split at
// the first blank cannot cut it even where its folder's name holds blanks.
TEST(CommandSplit, InfRunsThroughRundllWithItsShortPath) {
    ScratchFolder scratch;
    const std::string folder = scratch / "Long Folder Name";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::string destination = folder + "\\";
    const std::string infPath = destination + "Driver Setup.INF";
    win_test::WriteFile(infPath, "[Version]\r\n");

    struct InfCase {
        const char* command;
        bool rundll32;
        std::string program;
        const char* entry;
    } cases[] = {
        {"Driver Setup.INF", true, Ansi(kRundll32), "setupapi,InstallHinfSection DefaultInstall 132 "},
        {"Driver Setup.INF", false, "rundll.exe", "setupx.dll,InstallHinfSection DefaultInstall 132 "},
    };
    for (const InfCase& c : cases) {
        SCOPED_TRACE(c.program);
        CommandLaunch launch;
        PrepareCommand(launch, c.command, Wide(destination).c_str(), c.rundll32 ? kRundll32 : nullptr);
        EXPECT_EQ(Ansi(launch.file), c.program);
        EXPECT_EQ(Ansi(launch.folder), destination);
        ASSERT_NE(launch.parameters, nullptr);
        const std::string parameters = Ansi(launch.parameters);
        ASSERT_EQ(parameters.rfind(c.entry, 0), 0u) << parameters;
        const std::string shortPath = parameters.substr(strlen(c.entry));
        EXPECT_EQ(shortPath.find(' '), std::string::npos) << shortPath;
        char longPath[MAX_PATH] = {};
        ASSERT_NE(GetLongPathNameA(shortPath.c_str(), longPath, sizeof longPath), 0u) << shortPath;
        EXPECT_EQ(lstrcmpiA(longPath, infPath.c_str()), 0) << longPath;
    }

    // Any case of the extension counts; a missing file has no short path.
    CommandLaunch launch;
    PrepareCommand(launch, "missing.inf", Wide(destination).c_str(), kRundll32);
    EXPECT_EQ(std::wstring(launch.file), kRundll32);
    EXPECT_EQ(Ansi(launch.parameters), "setupapi,InstallHinfSection DefaultInstall 132 ");
    EXPECT_EQ(Ansi(launch.folder), destination);
}

// ---- Installer windows -----------------------------------------------------------------

// Hidden top-level windows of a given class and title, made and destroyed on one thread.
class TestWindow {
public:
    TestWindow(const char* className, const char* title) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = className;
        RegisterClassA(&windowClass);  // fails harmlessly when already registered
        window_ = CreateWindowExA(0, className, title, WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    }
    ~TestWindow() { DestroyWindow(window_); }
    HWND handle() const { return window_; }

private:
    HWND window_;
};

TEST(InstallerWindow, KnownKindsInTheirOrder) {
    struct Search {
        bool msi, installShield, setupTitle;
        const char* className;
        const char* title;
    } cases[] = {
        {false, false, false, "", ""},
        {false, false, true, "", "Setup"},
        {false, true, true, "InstallShield_Win", ""},
        {true, true, true, "MsiDialogCloseClass", ""},
        {true, false, false, "MsiDialogCloseClass", ""},
    };
    for (const Search& c : cases) {
        SCOPED_TRACE(std::string(c.className) + "/" + c.title);
        std::vector<std::unique_ptr<TestWindow>> windows;
        if (c.msi) windows.push_back(std::make_unique<TestWindow>("MsiDialogCloseClass", "Installing"));
        if (c.installShield) windows.push_back(std::make_unique<TestWindow>("InstallShield_Win", "Installing"));
        if (c.setupTitle) windows.push_back(std::make_unique<TestWindow>("DudoreTestWindow", "Setup"));
        for (auto& window : windows) ASSERT_NE(window->handle(), nullptr);

        char className[kWindowNameSize] = {}, title[kWindowNameSize] = {};
        const HWND found = FindInstallerWindow(className, title);
        EXPECT_STREQ(className, c.className);
        EXPECT_STREQ(title, c.title);
        if (windows.empty()) {
            EXPECT_EQ(found, nullptr);
        } else {
            EXPECT_EQ(found, windows.front()->handle());
        }
    }
}

// ---- Run command: the waits --------------------------------------------------------------

// This test program's own folder and a command that starts it again to do nothing at once
// (no '.' in the parameters, so they are split off after ".exe").
std::string OwnFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    *strrchr(path, '\\') = 0;
    return std::string(path) + "\\";
}
std::string QuickCommand() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(strrchr(path, '\\') + 1) + " --gtest_filter=-*";
}

// A window titled "Setup" on its own thread: shown after `appearAfter` ms, destroyed
// `liveFor` ms later.
class LateSetupWindow {
public:
    LateSetupWindow(int appearAfter, int liveFor)
        : thread_([=, this] {
              Sleep(appearAfter);
              TestWindow window("DudoreTestWindow", "Setup");
              shown_ = window.handle() != nullptr;
              Sleep(liveFor);
              gone_ = true;  // just before the window goes: whoever saw it gone saw this too
          }) {}
    ~LateSetupWindow() { thread_.join(); }
    bool shown() const { return shown_; }
    bool gone() const { return gone_; }

private:
    std::atomic<bool> shown_{false}, gone_{false};
    std::thread thread_;
};

TEST(RunCommandWait, ReturnsOnlyOnceTheSetupWindowIsGone) {
    LateSetupWindow window(0, 3000);
    RunCommand(QuickCommand().c_str(), Wide(OwnFolder()).c_str(), true);
    EXPECT_TRUE(window.shown());
    EXPECT_TRUE(window.gone());
}

TEST(RunCommandWait, AWindowThatAppearsAfterTheProgramEndedIsWaitedFor) {
    // The program ends well before the window shows; the search still finds it.
    LateSetupWindow window(1800, 2000);
    RunCommand(QuickCommand().c_str(), Wide(OwnFolder()).c_str(), true);
    EXPECT_TRUE(window.shown());
    EXPECT_TRUE(window.gone());
}

TEST(RunCommandWait, WithoutTheWaitFlagReturnsAtOnce) {
    LateSetupWindow window(0, 4000);
    RunCommand(QuickCommand().c_str(), Wide(OwnFolder()).c_str(), false);
    EXPECT_FALSE(window.gone());
}

// ---- Extracted-file list -----------------------------------------------------------------

class ExtractedFiles : public ::testing::Test {
protected:
    void SetUp() override { ReleaseExtractedFiles(); }
    void TearDown() override { ReleaseExtractedFiles(); }
    // The list's units as bytes: every test path is ASCII.
    static std::string Block() {
        return std::string(g_extractedFiles.paths, g_extractedFiles.paths + g_extractedFiles.size);
    }
    static constexpr FileIdentity kIdentity = {0x41, 0x42, 0x43};
    // A path's record as Block() shows it: the path, its terminator, the identity's units.
    static std::string Record(const std::string& path) { return path + std::string("\0A\0B\0C\0", 7); }
};

TEST_F(ExtractedFiles, AppendsEachPathWithItsTerminatorAndIdentityInOrder) {
    EXPECT_EQ(g_extractedFiles.paths, nullptr);
    const std::string longest = "C:\\" + std::string(252, 'x') + ".txt";  // 259 bytes
    const std::vector<std::string> paths = {"C:\\Out\\one.txt", "C:\\Out\\sub\\two", longest, "C:\\Out\\3"};
    std::string expected;
    for (const std::string& path : paths) {
        AppendExtractedFile(win_test::Wide(path).c_str(), kIdentity);
        expected += Record(path);
        ASSERT_NE(g_extractedFiles.paths, nullptr);
        EXPECT_EQ(Block(), expected);
        EXPECT_EQ(g_extractedFiles.size, expected.size());
        EXPECT_TRUE(SameFile(RecordedIdentity(g_extractedFiles, g_extractedFiles.size - Record(path).size()), kIdentity));
    }
}

TEST_F(ExtractedFiles, GrowsOverManyPaths) {
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        const std::string path = "C:\\Out\\folder" + std::to_string(i % 97) + "\\file" + std::to_string(i);
        AppendExtractedFile(win_test::Wide(path).c_str(), kIdentity);
        expected += Record(path);
    }
    EXPECT_EQ(g_extractedFiles.size, expected.size());
    EXPECT_EQ(Block(), expected);
}

TEST_F(ExtractedFiles, ReleaseEmptiesTheList) {
    AppendExtractedFile(L"C:\\Out\\a", kIdentity);
    ReleaseExtractedFiles();
    EXPECT_EQ(g_extractedFiles.paths, nullptr);
    EXPECT_EQ(g_extractedFiles.size, 0u);
    ReleaseExtractedFiles();  // a second release finds nothing to give back
    AppendExtractedFile(L"C:\\Out\\b", kIdentity);
    EXPECT_EQ(Block(), Record("C:\\Out\\b"));
}

// ---- Clean-up --------------------------------------------------------------------------

struct CleanUpCase {
    const char* what;
    std::vector<std::string> before;  // made first: a name ending in '\' is a folder, else a file
    std::vector<std::string> listed;  // extracted files, made (with the folders the run makes) and listed
    std::vector<std::string> readOnly;  // made read-only before the clean-up
    int temporary;
    std::vector<std::string> gone;    // "" is the destination itself
    std::vector<std::string> remain;
    std::vector<std::string> replaced = {};  // listed, then another file is moved over it
};

const CleanUpCase kCleanUps[] = {
    {"files in the destination", {}, {"one.txt", "two.txt"}, {}, 0, {"one.txt", "two.txt"}, {""}},
    {"files in a %temp%-made destination", {}, {"one.txt", "two.txt"}, {}, 1, {"one.txt", "two.txt", ""}, {}},
    {"files in sub", {}, {"sub\\a.txt", "sub\\b.txt"}, {}, 0, {"sub\\a.txt", "sub\\b.txt", "sub"}, {""}},
    {"files in a\\b: both folders made", {}, {"a\\b\\c.txt"}, {}, 0, {"a\\b\\c.txt", "a\\b", "a"}, {""}},
    {"read-only files and folders",
     {},
     {"ro\\f.txt", "top.txt"},
     {"ro\\f.txt", "top.txt", "ro"},
     0,
     {"ro\\f.txt", "top.txt", "ro"},
     {""}},
    {"folders that were there before stay, empty or not",
     {"keep\\", "sub\\inner\\"},
     {"sub\\x.txt", "sub\\new\\y.txt"},
     {},
     0,
     {"sub\\x.txt", "sub\\new"},
     {"keep", "sub\\inner", "sub", ""}},
    {"a file that is no longer the one written stays", {}, {"r.txt"}, {}, 0, {}, {"r.txt", ""}, {"r.txt"}},
    {"a %temp%-made destination goes after the folders made in it",
     {},
     {"top.txt", "sub\\x.txt"},
     {},
     1,
     {"top.txt", "sub\\x.txt", "sub", ""},
     {}},
    {"a %temp%-made destination holding other files stays", {"other.txt"}, {"one.txt"}, {}, 1, {"one.txt"}, {"other.txt", ""}},
    {"a file that was not extracted keeps its folder",
     {"sub\\mine.txt"},
     {"sub\\x.txt"},
     {},
     0,
     {"sub\\x.txt"},
     {"sub\\mine.txt", "sub"}},
    {"folders met again after another one",
     {},
     {"x\\1", "y\\2", "x\\3", "y\\deeper\\4"},
     {},
     0,
     {"x\\1", "y\\2", "x\\3", "y\\deeper\\4", "x", "y"},
     {""}},
    {"a folder before its own sub-folder", {}, {"s\\g.txt", "s\\t\\f.txt"}, {}, 0, {"s\\t", "s"}, {""}},
};

class CleanUp : public ::testing::TestWithParam<CleanUpCase> {
protected:
    void SetUp() override { ReleaseExtractedFiles(); }
    void TearDown() override { ReleaseExtractedFiles(); }

    std::string Path(const std::string& relative) const {
        return relative.empty() ? destination_ : destination_ + "\\" + relative;
    }
    // Folders are made as the run makes them (recorded) or as the user did before it.
    void Make(const std::string& relative, bool byRun) {
        const size_t cut = relative.rfind('\\');
        if (cut != std::string::npos) {
            const std::string folder = Path(relative.substr(0, cut + 1));
            if (byRun) CreateFolderPath(Wide(folder).c_str());
            for (size_t at = folder.find('\\', destination_.size() + 1); !byRun && at != std::string::npos;
                 at = folder.find('\\', at + 1))
                CreateDirectoryA(folder.substr(0, at).c_str(), nullptr);
        }
        if (relative.back() != '\\') win_test::WriteFile(Path(relative), "bytes of " + relative);
    }

    ScratchFolder scratch_;
    std::string destination_ = scratch_ / "dest";  // without its trailing '\'
};

TEST_P(CleanUp, RemovesWhatWasExtractedAndOnlyThat) {
    const CleanUpCase& c = GetParam();
    ASSERT_TRUE(CreateDirectoryA(destination_.c_str(), nullptr));
    for (const std::string& item : c.before) Make(item, false);
    FileIdentity identity;
    for (const std::string& file : c.listed) {
        Make(file, true);
        ASSERT_TRUE(IdentityAt(Wide(Path(file)).c_str(), identity));
        AppendExtractedFile(Wide(Path(file)).c_str(), identity);
    }
    for (const std::string& file : c.replaced) {
        win_test::WriteFile(Path(file) + ".new", "another file");
        ASSERT_TRUE(MoveFileExA((Path(file) + ".new").c_str(), Path(file).c_str(), MOVEFILE_REPLACE_EXISTING));
    }
    for (const std::string& item : c.readOnly) SetFileAttributesA(Path(item).c_str(), FILE_ATTRIBUTE_READONLY);

    RememberDestination(Wide(destination_ + "\\").c_str());
    CleanUpExtractedFiles(Wide(destination_ + "\\").c_str(), c.temporary);

    for (const std::string& item : c.gone) EXPECT_FALSE(Exists(Path(item))) << "still there: '" << item << "'";
    for (const std::string& item : c.remain) EXPECT_TRUE(Exists(Path(item))) << "removed: '" << item << "'";
    // Everything listed is gone in every case, unless it was replaced.
    for (const std::string& file : c.listed)
        if (c.replaced.empty()) EXPECT_FALSE(Exists(Path(file))) << file;
}

void PrintTo(const CleanUpCase& c, std::ostream* out) { *out << c.what; }

INSTANTIATE_TEST_SUITE_P(Trees, CleanUp, ::testing::ValuesIn(kCleanUps));


// The folders' identities as the clean-up finds them, then the clean-up itself.
void CleanUpIn(const std::string& destination) {
    RememberDestination(Wide(destination).c_str());
    CleanUpExtractedFiles(Wide(destination).c_str(), 0);
    ReleaseExtractedFiles();
}

void ListWritten(const std::string& file) {
    win_test::WriteFile(file, "x");
    FileIdentity identity;
    ASSERT_TRUE(IdentityAt(Wide(file).c_str(), identity)) << file;
    AppendExtractedFile(Wide(file).c_str(), identity);
}

TEST(CleanUpNames, TrailBytesAreNotSeparatorsDbcs) {
    REQUIRE_CODE_PAGE_932();
    // 表 and ソ end in the byte '\'. Taken for separators, they would give wrong folders.
    constexpr char kHyo[] = "\x95\x5c", kSo[] = "\x83\x5c";
    const std::string files[] = {std::string(kHyo) + "\\" + kSo + ".txt", std::string("sub\\") + kHyo + ".txt",
                                 std::string("a\\") + kSo + "\\f.txt"};
    const std::string folders[] = {kHyo, "sub", std::string("a\\") + kSo, "a"};
    ReleaseExtractedFiles();
    ScratchFolder scratch;
    const std::string destination = scratch.path() + "\\";
    for (const std::string& folder : folders) ASSERT_EQ(CreateFolderPath(Wide(destination + folder).c_str()), 1);
    for (const std::string& file : files) ListWritten(destination + file);
    CleanUpIn(destination);
    for (const std::string& folder : folders) EXPECT_FALSE(Exists(destination + folder)) << folder;
    EXPECT_TRUE(Exists(destination));
}

TEST(CleanUpNames, PastManyCreatedFoldersTheFirstAndLastGo) {
    // Folders are removed in the reverse of the order made, over any number of them. None
    // of the 65,534 between the two exist.
    ReleaseExtractedFiles();
    ScratchFolder scratch;
    const std::string destination = scratch.path() + "\\";
    ASSERT_EQ(CreateFolderPath(Wide(destination + "first\\").c_str()), 1);
    for (int i = 1; i < 65535; ++i) AppendPath(g_createdFolders, Wide(destination + "m" + std::to_string(i) + "\\").c_str(), {});
    ASSERT_EQ(CreateFolderPath(Wide(destination + "first\\last\\").c_str()), 1);
    ListWritten(destination + "first\\last\\f.txt");
    CleanUpIn(destination);
    EXPECT_FALSE(Exists(destination + "first"));
}

}  // namespace
