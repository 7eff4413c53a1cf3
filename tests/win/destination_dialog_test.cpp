// The destination dialog's create-folder check box: what checking and unchecking it do to
// the destination text. The double-byte case needs code page 932 and runs in the
// Japanese pass.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "app/state.h"
#include "ui/dialogs.h"
#include "win_test_files.h"

namespace {

constexpr char kHyo[] = "\x95\x5c";  // 表: its second byte is '\'

struct Applied {
    bool changed;
    std::string text;
    bool guardIntact;
};

// On the UTF-16 form, as the dialog works; texts given and read back in the code page.
Applied Apply(const std::string& destination, const char* name, bool checked) {
    wchar_t buffer[kPathSize + 16];
    for (wchar_t& unit : buffer) unit = L'#';
    const std::wstring given = win_test::Wide(destination);
    wcscpy(buffer, given.c_str());
    const bool changed = ApplyArchiveFolder(buffer, win_test::Wide(name).c_str(), checked);
    bool guardIntact = true;
    for (size_t i = kPathSize; i < std::size(buffer); ++i) guardIntact = guardIntact && buffer[i] == L'#';
    return {changed, win_test::Ansi(std::wstring(buffer, wcsnlen(buffer, kPathSize)).c_str()), guardIntact};
}

TEST(CreateFolderCheckBox, AddsAndRemovesTheArchiveName) {
    struct Case {
        const char* destination;
        bool checked;
        const char* expected;
    } cases[] = {
        {"C:\\Out\\", true, "C:\\Out\\pack\\"},
        {"C:\\Out\\pack\\", false, "C:\\Out\\"},
        {"C:\\Out", true, "C:\\Out\\pack\\"},
        {"C:\\Out\\pack", false, "C:\\Out\\"},
        {"C:\\Out\\pack\\pack\\", false, "C:\\Out\\pack\\pack\\"},  // the first occurrence counts
        // Text, not folders: the first occurrence is cut when no '\' follows it.
        {"C:\\Backpack\\", false, "C:\\Back\\"},
        {"C:\\packpack\\", false, "C:\\"},
        {"C:\\pack\\sub\\", false, "C:\\pack\\sub\\"},
        {"C:\\pack\\sub", false, "C:\\pack\\sub\\"},
        {"C:\\Out\\Pack\\", false, "C:\\Out\\Pack\\"},  // case-sensitive
        {"C:\\Out\\", false, "C:\\Out\\"},
        {"C:\\", true, "C:\\pack\\"},
        {"", true, "pack\\"},
        {"", false, ""},
    };
    for (const Case& c : cases) {
        const Applied got = Apply(c.destination, "pack", c.checked);
        EXPECT_TRUE(got.changed) << c.destination << (c.checked ? " checked" : " unchecked");
        EXPECT_EQ(got.text, c.expected) << c.destination << (c.checked ? " checked" : " unchecked");
    }
}

TEST(CreateFolderCheckBox, CheckingThenUncheckingRestoresTheFolder) {
    for (const char* destination : {"C:\\Out\\", "C:\\Out", "D:\\a b\\c\\", "\\\\server\\share\\"}) {
        const Applied checked = Apply(destination, "my pack", true);
        const Applied unchecked = Apply(checked.text, "my pack", false);
        std::string expected = destination;
        if (expected.back() != '\\') expected += '\\';
        EXPECT_EQ(unchecked.text, expected) << destination;
    }
}

// The name is added only when the result, with its last '\', fits 259 units; otherwise
// nothing changes.
TEST(CreateFolderCheckBox, NameThatDoesNotFitIsNotAdded) {
    const std::string fits = "C:\\" + std::string(250, 'd');  // 253 + '\' + 4 + '\' = 259
    for (const std::string& given : {fits, fits + "\\"}) {
        const Applied got = Apply(given, "pack", true);
        EXPECT_TRUE(got.changed) << given.size();
        EXPECT_EQ(got.text, fits + "\\pack\\");
        EXPECT_TRUE(got.guardIntact);
    }

    for (const std::string& tooLong : {fits + "d", fits + "d\\", std::string(259, 'x')}) {
        const Applied refused = Apply(tooLong, "pack", true);
        EXPECT_FALSE(refused.changed) << tooLong.size();
        EXPECT_EQ(refused.text, tooLong);
        EXPECT_TRUE(refused.guardIntact);
    }
    // Unchecking never grows the text past its buffer.
    const Applied full = Apply(std::string(259, 'x'), "pack", false);
    EXPECT_EQ(full.text, std::string(259, 'x'));
    EXPECT_TRUE(full.guardIntact);
}

TEST(CreateFolderCheckBox, TrailByteIsNotASeparatorDbcs) {
    REQUIRE_CODE_PAGE_932();
    const std::string folder = std::string("C:\\") + kHyo;  // ends in byte 0x5C
    struct Case {
        std::string destination;
        bool checked;
        std::string expected;
    } cases[] = {
        {folder, true, folder + "\\pack\\"},
        {folder + "\\pack\\", false, folder + "\\"},
        {folder, false, folder + "\\"},  // the trail byte is not the trailing separator
        {folder + "\\", false, folder + "\\"},
        {std::string("C:\\pack") + kHyo, false, "C:\\"},  // no separator follows the name
    };
    for (const Case& c : cases) EXPECT_EQ(Apply(c.destination, "pack", c.checked).text, c.expected) << c.destination;
}

}  // namespace
