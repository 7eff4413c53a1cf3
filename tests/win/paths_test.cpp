// Path utilities and destination resolution. The double-byte cases need code page 932:
// they run in the Japanese pass of the suite (DUDORE_EXPECT_CP932 set) and are skipped,
// saying so, in the other.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "app/destination.h"
#include "extract/worker.h"
#include "paths/path_utils.h"
#include "win_test_files.h"

using win_test::Ansi;
using win_test::ScratchFolder;
using win_test::Wide;

namespace {

// 表, ソ and 能 in code page 932: double-byte characters whose second byte is '\'.
constexpr char kHyo[] = "\x95\x5c";
constexpr char kSo[] = "\x83\x5c";


std::string Apply(void (*operation)(char*), std::string text) {
    char buffer[kPathSize] = {};
    strcpy(buffer, text.c_str());
    operation(buffer);
    return buffer;
}
// On the UTF-16 form; given and read back in the code page.
std::string Apply(void (*operation)(wchar_t*), std::string text) {
    wchar_t buffer[kPathSize] = {};
    wcscpy(buffer, Wide(text).c_str());
    operation(buffer);
    return Ansi(buffer);
}

void Append(wchar_t* p) { AppendTrailingBackslash(p, kPathSize); }
void Remove(wchar_t* p) { RemoveTrailingBackslash(p); }
void Trim(char* p) { TrimTrailingBlanks(p); }
void Strip(char* p) { StripParentReferences(p); }
void Prepare(char* p) { PrepareEntryName(p); }

TEST(TrailingSeparator, AddedAndRemovedOnce) {
    EXPECT_EQ(Apply(Append, "C:\\a"), "C:\\a\\");
    EXPECT_EQ(Apply(Append, "C:\\a\\"), "C:\\a\\");
    EXPECT_EQ(Apply(Append, ""), "");
    EXPECT_EQ(Apply(Remove, "C:\\a\\"), "C:\\a");
    EXPECT_EQ(Apply(Remove, "C:\\a\\\\"), "C:\\a\\");
    EXPECT_EQ(Apply(Remove, ""), "");
    wchar_t full[kPathSize];
    wmemset(full, L'x', kPathSize - 1);
    full[kPathSize - 1] = 0;  // 259 units: no room for one more
    EXPECT_FALSE(AppendTrailingBackslash(full, kPathSize));
    EXPECT_EQ(wcslen(full), kPathSize - 1);
    full[kPathSize - 2] = 0;  // 258: just room
    EXPECT_TRUE(AppendTrailingBackslash(full, kPathSize));
    EXPECT_EQ(wcslen(full), kPathSize - 1);
}

TEST(TrailingSeparator, TrailByteIsNotASeparatorDbcs) {
    REQUIRE_CODE_PAGE_932();
    EXPECT_EQ(Apply(Append, std::string("C:\\") + kHyo), std::string("C:\\") + kHyo + "\\");
    EXPECT_EQ(Apply(Remove, std::string("C:\\") + kHyo), std::string("C:\\") + kHyo);
    EXPECT_EQ(Apply(Remove, std::string("C:\\") + kHyo + "\\"), std::string("C:\\") + kHyo);
}

TEST(EntryNames, TrimAndSlashes) {
    EXPECT_EQ(Apply(Trim, "file.txt   "), "file.txt");
    EXPECT_EQ(Apply(Trim, "a\t "), "a\t");
    EXPECT_EQ(Apply(Trim, "   "), "");
    char blanks[] = "   ";
    EXPECT_EQ(TrimTrailingBlanks(blanks), -1);
    char word[] = "ab ";
    EXPECT_EQ(TrimTrailingBlanks(word), 1);
}

TEST(EntryNames, NoParentReferenceSurvives) {
    const std::pair<const char*, const char*> cases[] = {
        {"../../evil.txt", "evil.txt"},
        {"/abs/x.txt", "abs\\x.txt"},
        {"a..\\b", "ab"},
        {"....//x", "x"},            // one pass would leave "..\x"
        {".../...//x", "x"},
        {"dir/sub/", "dir\\sub\\"},
        {"..", ".."},                // no separator: refused later as a name
        {"", ""},
    };
    for (const auto& [name, prepared] : cases) EXPECT_EQ(Apply(Prepare, name), prepared) << name;
    EXPECT_EQ(Apply(Strip, "....\\\\x"), "x");
}

// Entry names to UTF-16: UTF-8 names whatever the code page holds, names of the code page
// as the A calls convert them, the text rules applied first; refused only when a UTF-8
// name is not UTF-8 (shown then as it came).
struct NameCase {
    const char* bytes;
    bool utf8;
    const wchar_t* wide;  // nullptr: refused
};
void ExpectEntryNames(const NameCase* cases, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        char name[kUtf8NameSize];
        lstrcpynA(name, cases[i].bytes, sizeof name);
        wchar_t wide[kUtf8NameSize];
        EXPECT_EQ(EntryNameToUtf16(name, cases[i].utf8, wide), cases[i].wide != nullptr) << cases[i].bytes;
        if (cases[i].wide) EXPECT_EQ(std::wstring(wide), cases[i].wide) << cases[i].bytes;
    }
}

TEST(EntryNameConversion, InTheEnglishCodePage) {
    if (GetACP() != 1252) GTEST_SKIP() << "needs code page 1252";
    const std::string longest(1023, 'n');
    const std::wstring longestWide(longest.begin(), longest.end());
    const NameCase cases[] = {
        {"plain.txt", true, L"plain.txt"},
        {"caf\xC3\xA9/na\xC3\xAFve.txt", true, L"caf\u00E9\\na\u00EFve.txt"},
        {"\xE6\x97\xA5\xE6\x9C\xAC/\xE8\xB3\x87.txt", true, L"\u65E5\u672C\\\u8CC7.txt"},  // 1252 holds none
        {"Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87.txt", true, L"Za\u017C\u00F3\u0142\u0107.txt"},
        {"\xF0\x9F\x98\x80.txt", true, L"\U0001F600.txt"},                 // a surrogate pair
        {"a\xE2\x88\x95" "b", true, L"a\u2215b"},                          // a division slash is no '/'
        {"../../x/../y  ", true, L"x\\y"},                                 // the rules come first
        {"bad \xC3 byte", true, nullptr},                                  // not UTF-8
        {"caf\xE9 \x80.txt", false, L"caf\u00E9 \u20AC.txt"},             // 1252 bytes, as the A calls take them
        {longest.c_str(), true, longestWide.c_str()},
    };
    ExpectEntryNames(cases, std::size(cases));
}

TEST(EntryNameConversion, InTheJapaneseCodePageDbcs) {
    REQUIRE_CODE_PAGE_932();
    const NameCase cases[] = {
        {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E/\xE8\xB3\x87.txt", true, L"\u65E5\u672C\u8A9E\\\u8CC7.txt"},
        {"caf\xC3\xA9.txt", true, L"caf\u00E9.txt"},                        // not in 932, taken all the same
        {"\xED\x95\x9C\xEA\xB5\xAD.txt", true, L"\uD55C\uAD6D.txt"},   // Korean
        {"\x93\xFA\x96\x7B/\x95\x5C", false, L"\u65E5\u672C\\\u8868"},  // 表 ends in 0x5C: no separator
        {"\x83\x5C/x", false, L"\u30BD\\x"},
        {"\x95/", false, L"\u8868"},  // '/' became '\\', the second byte of 表, as before
    };
    ExpectEntryNames(cases, std::size(cases));
}

// Long forms: the path itself below MAX_PATH, its full form behind "\\?\" beyond.
TEST(LongPathForm, PrefixedOnlyPastMaxPath) {
    const std::wstring folder(250, L'f');
    const std::wstring shortPath = L"C:\\" + std::wstring(255, L's');
    EXPECT_EQ(LongPathForm(shortPath.c_str(), 0), shortPath.c_str());
    const struct {
        std::wstring path, form;
    } cases[] = {
        {L"C:\\" + folder + L"\\" + folder, L"\\\\?\\C:\\" + folder + L"\\" + folder},
        {L"C:\\" + folder + L"\\x\\..\\" + folder, L"\\\\?\\C:\\" + folder + L"\\" + folder},
        {L"\\\\srv\\share\\" + folder + L"\\" + folder, L"\\\\?\\UNC\\srv\\share\\" + folder + L"\\" + folder},
        {L"\\\\?\\C:\\" + folder + L"\\..\\" + folder, L"\\\\?\\C:\\" + folder + L"\\..\\" + folder},
    };
    for (const auto& c : cases) EXPECT_EQ(std::wstring(LongPathForm(c.path.c_str(), 1)), c.form);
}

// The containment check on its own: strictly inside, by whole folder names.
TEST(Containment, StrictlyInsideByWholeNames) {
    const std::wstring deep = L"\\" + std::wstring(300, L'd') + L"\\x";
    const struct {
        const wchar_t* folder;
        std::wstring path;
        bool inside;
    } cases[] = {
        {L"C:\\a\\dest", L"C:\\a\\dest\\x", true},
        {L"C:\\a\\dest\\", L"C:\\a\\dest\\sub\\x", true},
        {L"C:\\a\\dest\\", L"C:\\a\\dest\\sub\\..\\x", true},
        {L"C:\\a\\dest\\", L"C:\\a\\dest" + deep, true},
        {L"C:\\a\\dest", L"C:\\a\\destination\\x", false},  // the same letters, another folder
        {L"C:\\a\\dest", L"C:\\a\\dest.x", false},
        {L"C:\\a\\dest", L"C:\\a\\dest", false},
        {L"C:\\a\\dest\\", L"C:\\a\\dest\\", false},
        {L"C:\\a\\dest\\", L"C:\\a\\dest\\.", false},
        {L"C:\\a\\dest\\", L"C:\\a\\dest\\..\\x", false},
        {L"C:\\a\\dest\\", L"C:\\a\\x\\dest\\y", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsInsideFolder(c.folder, c.path.c_str()), c.inside) << c.folder << L" " << c.path;
}

TEST(SplitPath, FolderAndName) {
    struct Case {
        const char* path;
        const char* folder;
        const char* name;
    } cases[] = {
        {"C:\\a\\b.txt", "C:\\a\\", "b.txt"},
        {"b.txt", "", "b.txt"},
        {"C:b.txt", "C:", "b.txt"},
        {"\\\\srv\\share\\x.zip", "\\\\srv\\share\\", "x.zip"},
        {"C:/a/b.zip", "C:/a/", "b.zip"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        wchar_t folder[kPathSize], name[kPathSize];
        SplitPath(Wide(c.path).c_str(), folder, name);
        EXPECT_EQ(Ansi(folder), c.folder) << c.path;
        EXPECT_EQ(Ansi(name), c.name) << c.path;
    }
}

TEST(SplitPath, TrailByteIsNotASeparatorDbcs) {
    REQUIRE_CODE_PAGE_932();
    wchar_t folder[kPathSize], name[kPathSize];
    SplitPath(Wide(std::string("C:\\") + kHyo + "\\x" + kSo).c_str(), folder, name);
    EXPECT_EQ(Ansi(folder), std::string("C:\\") + kHyo + "\\");
    EXPECT_EQ(Ansi(name), std::string("x") + kSo);
}

TEST(CreateFolderPath, CreatesEachMissingLevel) {
    ScratchFolder scratch;
    EXPECT_EQ(CreateFolderPath(Wide(scratch / "a\\b\\c").c_str()), 1);
    EXPECT_TRUE(win_test::Exists(scratch / "a\\b\\c"));
    EXPECT_EQ(CreateFolderPath(Wide(scratch / "a\\b\\c\\").c_str()), 1);  // existing levels are fine
}

TEST(CreateFolderPath, PastMaxPath) {
    ScratchFolder scratch;
    const std::wstring level(120, L'v');
    const std::wstring path = win_test::Wide(scratch.path()) + L"\\" + level + L"\\" + level + L"\\" + level;
    EXPECT_EQ(CreateFolderPath(path.c_str()), 1);
    EXPECT_NE(GetFileAttributesW(LongPathForm(path.c_str(), 0)), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(CreateFolderPath((path + L"\\").c_str()), 1);
}

TEST(CreateFolderPath, RefusesPathsWithoutARoot) {
    for (const wchar_t* path : {L"a\\b", L"\\\\srv", L"\\\\srv\\shr", L"\\a\\b", L""}) EXPECT_EQ(CreateFolderPath(path), 0) << path;
}

TEST(CreateFolderPath, DoubleByteLevelsDbcs) {
    REQUIRE_CODE_PAGE_932();
    ScratchFolder scratch;
    const std::string path = scratch / (std::string(kHyo) + "\\" + kSo);
    EXPECT_EQ(CreateFolderPath(Wide(path).c_str()), 1);
    EXPECT_TRUE(win_test::Exists(path));
    WIN32_FIND_DATAA found;  // one level made, named by the whole character, never cut at its trail byte
    HANDLE search = FindFirstFileA((scratch / "*").c_str(), &found);
    std::string children;
    do {
        if (strcmp(found.cFileName, ".") && strcmp(found.cFileName, "..")) children += std::string(found.cFileName) + "|";
    } while (FindNextFileA(search, &found));
    FindClose(search);
    EXPECT_EQ(children, std::string(kHyo) + "|");
}

class OutputPath : public ::testing::Test {
protected:
    void SetUp() override {
        destination = scratch / "dest\\";
        CreateDirectoryA(destination.c_str(), nullptr);
    }
    OutputKind Build(const std::string& entryName) {
        strcpy(name, entryName.c_str());
        wchar_t wide[kUtf8NameSize];
        EntryNameToUtf16(name, false, wide);
        const OutputKind kind = BuildOutputPath(win_test::Wide(destination).c_str(), wide, output.data());
        AnsiOutput();
        return kind;
    }
    void AnsiOutput() {
        char ansi[kPathSize * 2] = {};
        WideCharToMultiByte(CP_ACP, 0, output.data(), -1, ansi, sizeof ansi - 1, nullptr, nullptr);
        outputText = ansi;
    }
    ScratchFolder scratch;
    std::string destination;
    char name[kUtf8NameSize];
    std::vector<wchar_t> output = std::vector<wchar_t>(kLongPathSize);
    std::string outputText;  // `output` in the code page
};

TEST_F(OutputPath, PlacesEntriesUnderTheDestination) {
    struct Case {
        const char* name;
        OutputKind kind;
        const char* output;  // below the destination
    } cases[] = {
        {"a.txt", OutputKind::File, "a.txt"},
        {"file.txt   ", OutputKind::File, "file.txt"},
        {"dir/sub/", OutputKind::Folder, "dir\\sub\\"},
        {"dir/sub/x.txt", OutputKind::File, "dir\\sub\\x.txt"},
        {"../../evil.txt", OutputKind::File, "evil.txt"},
        {"/abs/x.txt", OutputKind::File, "abs\\x.txt"},
        {"a:b.txt", OutputKind::InvalidName, nullptr},
        {"a|b", OutputKind::InvalidName, nullptr},
        {"", OutputKind::InvalidName, nullptr},
        {"   ", OutputKind::InvalidName, nullptr},
        {"..", OutputKind::InvalidName, nullptr},
        {".", OutputKind::InvalidName, nullptr},
        {"a/..", OutputKind::InvalidName, nullptr},
        {"a/../../..", OutputKind::InvalidName, nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Build(c.name), c.kind) << c.name;
        if (c.output) EXPECT_EQ(outputText, destination + c.output) << c.name;
    }
    EXPECT_TRUE(win_test::Exists(destination + "dir\\sub"));
    EXPECT_TRUE(win_test::Exists(destination + "abs"));
}

TEST_F(OutputPath, PathsPastMaxPathUpToTheirBuffer) {
    const std::string level(100, 'l');
    EXPECT_EQ(Build(level + "/" + level + "/" + level + "/x.txt"), OutputKind::File);
    EXPECT_EQ(outputText, destination + level + "\\" + level + "\\" + level + "\\x.txt");
    HANDLE file = CreateFileW(LongPathForm(output.data(), 0), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    const std::wstring wideDestination = win_test::Wide(destination);
    const std::wstring tooLong = L"d\\" + std::wstring(kLongPathSize - wideDestination.size() - 2, L'n');
    EXPECT_EQ(BuildOutputPath(wideDestination.c_str(), tooLong.c_str(), output.data()), OutputKind::InvalidName);
    EXPECT_FALSE(win_test::Exists(destination + "d"));  // nothing created for it
}

TEST_F(OutputPath, FolderThatCannotBeMadeStops) {
    EXPECT_EQ(BuildOutputPath(L"B:\\nowhere\\", L"sub\\x.txt", output.data()), OutputKind::FolderFailed);
}

TEST_F(OutputPath, DoubleByteNamesDbcs) {
    REQUIRE_CODE_PAGE_932();
    EXPECT_EQ(Build(std::string(kHyo) + "/" + kSo), OutputKind::File);
    EXPECT_EQ(outputText, destination + kHyo + "\\" + kSo);
    EXPECT_TRUE(win_test::Exists(destination + kHyo));
    EXPECT_EQ(Build(std::string(kSo) + "/"), OutputKind::Folder);
    EXPECT_TRUE(win_test::Exists(destination + kSo));
}

// Everything under `folder` except `keep`, as relative paths.
void ListOutside(const std::string& folder, const std::string& keep, std::string& found) {
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string item = data.cFileName;
        if (item != "." && item != ".." && item != keep) found += item + " ";
    } while (FindNextFileA(search, &data));
    FindClose(search);
}

// Whatever bytes a name holds, nothing appears outside the destination: not by a folder
// created for it, nor by the file written at its output path. The destination sits three
// levels down, and each level above it must hold nothing but the next.
void ExpectNothingEscapes(const char* alphabet, size_t alphabetSize, int names, unsigned seed) {
    ScratchFolder scratch;
    const std::string levels[] = {scratch.path(), scratch / "l1", scratch / "l1\\l2"};
    const char* nextLevel[] = {"l1", "l2", "dest"};
    const std::string destination = scratch / "l1\\l2\\dest\\";
    CreateFolderPath(Wide(destination).c_str());
    const std::wstring wideDestination = win_test::Wide(destination);
    std::vector<wchar_t> output(kLongPathSize);
    std::mt19937 random(seed);
    for (int i = 0; i < names; ++i) {
        char name[kUtf8NameSize] = {};
        const size_t length = 1 + random() % 24;
        for (size_t k = 0; k < length; ++k) name[k] = alphabet[random() % alphabetSize];
        const std::string original = name;
        wchar_t wide[kUtf8NameSize];
        EntryNameToUtf16(name, false, wide);
        if (BuildOutputPath(wideDestination.c_str(), wide, output.data()) == OutputKind::File) {
            HANDLE file = CreateFileW(output.data(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        }
        std::string outside;
        for (int level = 0; level < 3; ++level) ListOutside(levels[level], nextLevel[level], outside);
        ASSERT_TRUE(outside.empty()) << "name [" << original << "] left [" << outside << "] outside";
    }
}

TEST(EntryNamesProperty, NothingIsWrittenOutsideTheDestination) {
    static const char kAlphabet[] = {'.', '.', '.', '/', '\\', ' ', 'a', ':', '~', '1'};
    ExpectNothingEscapes(kAlphabet, sizeof kAlphabet, 3000, 1);
}

TEST(EntryNamesProperty, NothingEscapesWithDoubleByteBytesDbcs) {
    REQUIRE_CODE_PAGE_932();
    static const char kAlphabet[] = {'.', '.', '/', '\\', 'a', '\x95', '\x83', '\x5c', '\x81', '\xe0', '\x40', '\xfc'};
    ExpectNothingEscapes(kAlphabet, sizeof kAlphabet, 3000, 2);
}

TEST(Destination, ResolvesAgainstTheArchiveFolder) {
    const char* base = "C:\\a\\b\\";
    struct Case {
        const char* given;
        Resolution resolution;
        const char* result;
    } cases[] = {
        {"", Resolution::Settled, "C:\\a\\b\\"},
        {"sub", Resolution::Settled, "C:\\a\\b\\sub"},
        {"\\sub", Resolution::Settled, "C:\\a\\b\\sub"},
        {".\\sub", Resolution::Settled, "C:\\a\\b\\sub"},
        {"sub\\", Resolution::Settled, "C:\\a\\b\\sub"},
        {"..\\x", Resolution::Settled, "C:\\a\\x"},
        {"..\\..\\x", Resolution::Settled, "C:\\x"},
        {"..\\..\\..\\x", Resolution::NewPass, "C:\\a\\b"},  // above the drive: start again
        {"..\\a\\..\\b", Resolution::Settled, "C:\\b"},
        {"C:/out/", Resolution::Settled, "C:\\out"},
        {"C:\\out  ", Resolution::Settled, "C:\\out  "},  // blanks go after the loop
        {"D:", Resolution::Settled, "D:"},
        {"\\\\srv\\share", Resolution::Settled, "\\\\srv\\share"},
        {"sub\\dir", Resolution::Settled, "sub\\dir"},
        {"C:\\a|b", Resolution::NewPass, "C:\\a\\b\\"},
        {"x;y", Resolution::NewPass, "C:\\a\\b\\"},
        {"C:\\a:b", Resolution::Settled, "C:\\a:b"},  // the colon is not refused here
    };
    for (const Case& c : cases) {
        wchar_t destination[kPathSize];
        wcscpy(destination, Wide(c.given).c_str());
        EXPECT_EQ(ResolveDestination(destination, Wide(base).c_str()), c.resolution) << c.given;
        EXPECT_EQ(Ansi(destination), c.result) << c.given;
    }
}

TEST(Destination, RefusesWhatWouldNotFit) {
    const std::string base = "C:\\" + std::string(250, 'b') + "\\";
    wchar_t destination[kPathSize] = L"twelve-units";
    EXPECT_EQ(ResolveDestination(destination, Wide(base).c_str()), Resolution::TooLong);
}

}  // namespace
