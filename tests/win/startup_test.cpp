// Start-up: the command-line tail, the switches, the archive path and the destination, and
// how a Configuration block takes precedence over the switches.
#include <gtest/gtest.h>
#include <string.h>

#include "app/run_driver.h"
#include "app/startup.h"
#include "win_test_files.h"

using win_test::ScratchFolder;

namespace {

TEST(CommandTail, StepsOverTheProgramNameAndTheBlanksAfterIt) {
    struct Case {
        const char* commandLine;
        const char* tail;
    } cases[] = {
        {"\"C:\\a b\\x.exe\"  /O", "/O"},
        {"\"C:\\a b\\x.exe\"", ""},
        {"\"C:\\unclosed x.exe /O", ""},
        {"x.exe C:\\a.zip", "C:\\a.zip"},
        {"x.exe \t\x01 \x1f", ""},
        {"x.exe", ""},
        {"C:\\\x95\x5c\\x.exe /H", "/H"},  // a double-byte name stays one word
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(win_test::Ansi(FindCommandTail(win_test::Wide(c.commandLine).c_str())), c.tail) << c.commandLine;
}

// The forms of the command line, with real files so that the search for the archive can
// succeed: {A} a plain archive, {B} one in a folder with a blank, {D} a folder not yet made.
class CommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        CreateDirectoryA((folder / "my files").c_str(), nullptr);
        win_test::WriteFile(folder / "a.zip", "PK");
        win_test::WriteFile(folder / "my files\\a.zip", "PK");
        win_test::WriteFile(folder / "file.txt", "x");
        memset(&settings, 0, sizeof settings);
        settings.config.openExplorer = 1;
        memset(archive, 0, sizeof archive);
    }

    std::string Expand(std::string text) const {
        const std::pair<const char*, std::string> names[] = {
            {"{A}", folder / "a.zip"}, {"{B}", folder / "my files\\a.zip"}, {"{D}", folder / "out"},
            {"{F}", folder / "file.txt"}, {"{DIR}", folder.path()}};
        for (const auto& [key, value] : names)
            for (size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, strlen(key), value);
        return text;
    }

    // The tail as the UTF-16 command line gives it.
    int Parse(const std::string& tail) { return ParseCommandLine(win_test::Wide(Expand(tail)).c_str(), archive, settings); }

    ScratchFolder folder;
    RunSettings settings;
    wchar_t archive[kPathSize];
};

TEST_F(CommandLine, ChoosesArchiveAndDestinationInEveryForm) {
    struct Case {
        const char* tail;
        int result;
        const char* archive;
        const char* destination;
        const char* command;
    } cases[] = {
        {"/O /H", 1, "", "", ""},
        {"{A}", 1, "{A}", "", ""},
        {"{A} /O", 1, "{A}", "", ""},
        {"/O {A}", 1, "{A}", "", ""},
        {"/O   {A}   ", 1, "{A}", "", ""},
        {"/E:\"setup.exe /s\" \"{B}\" \"{D}\"", 1, "{B}", "{D}", "setup.exe /s"},
        {"\"{B}\"", 1, "{B}", "", ""},
        {"/N \"{B}\" \"{DIR}\"", 1, "{B}", "{DIR}", ""},
        {"\"{B}\" \"{F}\"", 1, "{B}", "", ""},       // a destination naming a file is ignored
        {"\"{B}\" \"{DIR}\"", 1, "{B}", "{DIR}", ""},  // an existing folder is taken
        {"\"{B}\"\"{D}\"", 1, "{B}", "", ""},         // no blank between: not a destination
        {"\"\" /N", 0, " /N", "", ""},
        {"/X {A}", 0, "/X {A}", "", ""},             // not a switch: the whole tail is searched
        {"/E {A}", 0, "/E {A}", "", ""},             // /E without a colon is not a switch either
        {"/O {A} /N", 1, "", "", ""},                // switches on both sides: embedded archive
        {"/E:setup.exe {A}", 1, "{A}", "", "setup.exe"},
        {"/E:\"unclosed {A}", 1, "", "", "unclosed {A}"},
        {"{DIR}", 0, "{DIR}", "", ""},               // a folder is not an archive
        {"{A}.missing", 0, "{A}.missing", "", ""},
        {"/E:", 1, "", "", ""},
        {"/", 0, "/", "", ""},    // no switch: the whole tail is searched, and not found
        {"/E", 0, "/E", "", ""},
    };
    for (const Case& c : cases) {
        SetUp();
        SCOPED_TRACE(c.tail);
        EXPECT_EQ(Parse(c.tail), c.result);
        EXPECT_EQ(win_test::Ansi(archive), Expand(c.archive));
        EXPECT_EQ(win_test::Ansi(settings.destination), Expand(c.destination));
        EXPECT_EQ(std::string(settings.config.command), Expand(c.command));
    }
}

TEST_F(CommandLine, SwitchesSetTheirOptionsInEitherCase) {
    struct Case {
        const char* tail;
        uint32_t overwrite, explorer, deleteAfter, skipDialog;
    } cases[] = {
        {"/O", 1, 1, 0, 0},
        {"/o /h /n", 1, 0, 0, 1},
        {"/D", 0, 1, 0, 0},               // delete after command needs a command
        {"/d /E:x.exe", 0, 1, 1, 0},
        {"/E:\"x.exe /o /H\"", 1, 1, 0, 1},  // the scan goes on through a quoted command
        {"/E/O", 0, 1, 0, 0},             // the character after /E is passed over
        {"//O", 0, 1, 0, 0},              // a second '/' is passed over with the first
    };
    for (const Case& c : cases) {
        SetUp();
        SCOPED_TRACE(c.tail);
        Parse(c.tail);
        EXPECT_EQ(settings.config.overwriteWithoutAsking, c.overwrite);
        EXPECT_EQ(settings.config.openExplorer, c.explorer);
        EXPECT_EQ(settings.config.deleteAfterCommand, c.deleteAfter);
        EXPECT_EQ(settings.config.skipDestinationDialog, c.skipDialog);
    }
}

TEST_F(CommandLine, UnattendedSwitchesTakeEffectBesideTheOthers) {
    struct Case {
        const char* tail;
        int result;
        const char* archive;
        const char* installFolder;
        int quiet;
    } cases[] = {
        {"/Q", 1, "", "", kQuietNoQuestions | kQuietNoWindows},
        {"/p /O", 1, "", "", kQuietNoQuestions},
        {"/P /Q", 1, "", "", kQuietNoQuestions | kQuietNoWindows},  // the quieter wins in any order
        {"/Q /P", 1, "", "", kQuietNoQuestions | kQuietNoWindows},
        {"/Q {A}", 1, "{A}", "", kQuietNoQuestions | kQuietNoWindows},
        {"/T:{D} /Q", 1, "", "{D}", kQuietNoQuestions | kQuietNoWindows},
        {"/t:\"{DIR}\\with blank\" {A}", 1, "{A}", "{DIR}\\with blank", 0},
        {"/T:\"{DIR}\\a/q b\" \"{B}\"", 1, "{B}", "{DIR}\\a/q b", 0},  // no switch inside the folder
        {"/T:\"unclosed /Q", 1, "", "unclosed /Q", 0},
        {"/T {A}", 0, "/T {A}", "", 0},  // without its colon, no switch
    };
    for (const Case& c : cases) {
        SetUp();
        SCOPED_TRACE(c.tail);
        EXPECT_EQ(Parse(c.tail), c.result);
        EXPECT_EQ(win_test::Ansi(archive), Expand(c.archive));
        EXPECT_EQ(win_test::Ansi(settings.installFolder), Expand(c.installFolder));
        EXPECT_EQ(settings.destination[0], 0);
        EXPECT_EQ(settings.quietMode, c.quiet);
    }
}

TEST_F(CommandLine, RefusesWhatDoesNotFitItsBuffer) {
    const std::string command127(127, 'c'), command128(128, 'c');
    EXPECT_EQ(Parse("/E:" + command127), 1);
    EXPECT_EQ(std::string(settings.config.command), command127);
    SetUp();
    EXPECT_EQ(Parse("/E:" + command128), 0);
    EXPECT_EQ(settings.config.command[0], 0);

    const std::string folder259 = "C:\\" + std::string(256, 'f');
    SetUp();
    EXPECT_EQ(Parse("/T:" + folder259), 1);
    EXPECT_EQ(win_test::Ansi(settings.installFolder), folder259);
    SetUp();
    EXPECT_EQ(Parse("/T:" + folder259 + "f"), 0);
    EXPECT_EQ(settings.installFolder[0], 0);

    SetUp();
    EXPECT_EQ(Parse(std::string(511, ' ')), 1);
    EXPECT_EQ(Parse(std::string(512, ' ')), 0);

    SetUp();
    const std::string longPath = "C:\\" + std::string(257, 'p');  // 260 bytes
    EXPECT_EQ(Parse(longPath), 0);
    EXPECT_EQ(archive[0], 0);

    SetUp();
    const std::string longDestination = folder / std::string(259 - folder.path().size(), 'd');
    EXPECT_EQ(Parse("\"{A}\" \"" + longDestination + "\""), 0);
    EXPECT_EQ(settings.destination[0], 0);
}

// A self-extracting file's tail: the block at a known offset, then whatever follows.
class ConfigurationBlock : public ::testing::Test {
protected:
    static constexpr long kOffset = 1000;

    void SetUp() override {
        memset(&settings, 0, sizeof settings);
        settings.config.openExplorer = 1;
        memset(&block, 0, sizeof block);
        memcpy(block.magic, kBlockMagic, sizeof block.magic);
    }

    int Read(const std::string& after = "PK\5\6") {
        std::string bytes(kOffset, 'x');
        bytes.append(reinterpret_cast<const char*>(&block), sizeof block);
        bytes += after;
        win_test::WriteFile(folder / "sfx.exe", bytes);
        FILE* file = fopen((folder / "sfx.exe").c_str(), "rb");
        const int result = ReadConfigurationBlock(file, kOffset, win_test::Wide(folder / "sfx.exe").c_str(), settings);
        position = ftell(file);
        fclose(file);
        return result;
    }

    void SetSwitches() {
        strcpy(settings.config.command, "switch.exe");
        wcscpy(settings.destination, L"C:\\from-switch");
        settings.config.overwriteWithoutAsking = 1;
        settings.config.skipDestinationDialog = 1;
        settings.config.deleteAfterCommand = 1;
        settings.config.openExplorer = 0;
    }

    ScratchFolder folder;
    RunSettings settings;
    ConfigBlock block;
    long position = -1;
};

TEST_F(ConfigurationBlock, ValidBlockReplacesEverySwitchFieldByField) {
    SetSwitches();
    strcpy(block.destination, "C:\\from-block");
    block.openExplorer = 1;
    block.expectedCrc = 0x12345678;
    strcpy(block.questionTitle, "Title");
    strcpy(block.questionText, "Go?");
    Read();
    EXPECT_EQ(win_test::Ansi(settings.destination), "C:\\from-block");
    EXPECT_STREQ(settings.config.command, "");  // an empty command replaces the switch's
    EXPECT_EQ(settings.config.overwriteWithoutAsking, 0u);
    EXPECT_EQ(settings.config.skipDestinationDialog, 0u);
    EXPECT_EQ(settings.config.deleteAfterCommand, 0u);
    EXPECT_EQ(settings.config.openExplorer, 1u);
    EXPECT_EQ(settings.config.expectedCrc, 0x12345678u);
    EXPECT_STREQ(settings.config.questionTitle, "Title");
    EXPECT_STREQ(settings.config.questionText, "Go?");
    EXPECT_EQ(settings.config.magic[0], 0);  // the settings never carry the magic
    EXPECT_EQ(position, 0);
}

TEST_F(ConfigurationBlock, InstallFolderBeatsTheBlocksDestinationAndTakesItsMacros) {
    strcpy(block.destination, "%temp%");
    strcpy(block.command, "setup.exe");
    block.deleteAfterCommand = 1;
    EXPECT_EQ(Read(), 1);  // the block alone would make a private %temp% folder
    wcscpy(settings.installFolder, L"C:\\from-switch");
    EXPECT_EQ(ApplyInstallFolder(L"C:\\sfx.exe", settings), 0);
    EXPECT_EQ(win_test::Ansi(settings.destination), "C:\\from-switch");

    char windows[kPathSize];
    GetWindowsDirectoryA(windows, kPathSize);
    wcscpy(settings.installFolder, L"%WinDir%\\tool");
    EXPECT_EQ(ApplyInstallFolder(L"C:\\sfx.exe", settings), 0);
    EXPECT_EQ(win_test::Ansi(settings.destination), std::string(windows) + "\\tool");
}

TEST_F(ConfigurationBlock, EmptyDestinationLeavesTheSwitchesDestination) {
    SetSwitches();
    Read();
    EXPECT_EQ(win_test::Ansi(settings.destination), "C:\\from-switch");
}

TEST_F(ConfigurationBlock, EmptyCommandClearsDeleteAfterCommand) {
    block.deleteAfterCommand = 1;
    Read();
    EXPECT_EQ(settings.config.deleteAfterCommand, 0u);
    SetUp();
    block.deleteAfterCommand = 1;
    strcpy(block.command, "setup.exe");
    Read();
    EXPECT_EQ(settings.config.deleteAfterCommand, 1u);
    EXPECT_STREQ(settings.config.command, "setup.exe");
}

TEST_F(ConfigurationBlock, InvalidBlockLeavesTheSwitches) {
    struct Case {
        const char* what;
        char magicByte6;
        size_t cut;  // bytes of the block missing at the end of the file
    } cases[] = {{"wrong magic", '4', 0}, {"short block", '3', 1}};
    for (const Case& c : cases) {
        SetUp();
        SetSwitches();
        block.magic[6] = c.magicByte6;
        strcpy(block.command, "block.exe");
        std::string bytes(kOffset, 'x');
        bytes.append(reinterpret_cast<const char*>(&block), sizeof block - c.cut);
        win_test::WriteFile(folder / "sfx.exe", bytes);
        FILE* file = fopen((folder / "sfx.exe").c_str(), "rb");
        ReadConfigurationBlock(file, kOffset, L"", settings);
        EXPECT_EQ(ftell(file), 0) << c.what;
        fclose(file);
        EXPECT_STREQ(settings.config.command, "switch.exe") << c.what;
        EXPECT_EQ(settings.config.overwriteWithoutAsking, 1u) << c.what;
    }
}

TEST_F(ConfigurationBlock, EighthMagicByteIsNotCompared) {
    block.magic[7] = '!';
    strcpy(block.command, "setup.exe");
    Read();
    EXPECT_STREQ(settings.config.command, "setup.exe");
}

TEST_F(ConfigurationBlock, UnterminatedFieldsStopAtTheirEnd) {
    memset(block.command, 'c', sizeof block.command);
    memset(block.questionTitle, 't', sizeof block.questionTitle);
    Read();
    EXPECT_EQ(strlen(settings.config.command), sizeof block.command - 1);
    EXPECT_EQ(strlen(settings.config.questionTitle), sizeof block.questionTitle - 1);
    EXPECT_EQ(settings.config.overwriteWithoutAsking, 0u);  // the next field is untouched by the copy
}

}  // namespace
