// The string table of the stub image, read per language straight from its RT_STRING
// bundle and compared as UTF-16 with the texts the program must show.
#include <gtest/gtest.h>

#include "resource_image.h"

namespace {

using namespace resource_test;

struct ExpectedString {
    WORD id;
    const wchar_t* english;
    const wchar_t* japanese;
};

// "%%s" is stored as written: the program formats these texts with wsprintfA.
const ExpectedString kStrings[] = {
    {1, L"Cannot create a file.", L"展開先にファイルを作成できません。"},
    {2, L"Cannot open arhive.", L"書庫を開けません。"},
    {3, L"not supported archive format.", L"対応していない書庫形式です。"},
    {4, L"The Folder '%s' does not exist.\nDo you want to create it?",
     L"'%s'\n\n展開先フォルダは存在しません。\nフォルダを作成しますか？"},
    {5, L"Cannot create a folder.", L"フォルダを作成できません。"},
    {6, L"%s\n\ninvalid filename.(skipped)", L"%s\n\n不正なファイル名の展開をスキップします。"},
    {7, L"Cannot create a folder.\nThis archive forbids writing.", L"展開先フォルダを作成できません。"},
    {8, L"CRC check error!",
     L"CRC チェックエラー\n\n'%s'\nはファイルが改竄されたか、ファイルが破損しています。\n"
     L"配布ファイルの場合にはファイルの入手元から再入手してください。"},
    {9, L"%%s Bytes\nModified: %02d, %02d, %04d,  %02d:%02d:%02d",
     L"%%s バイト\n%04d年%02d月%02d日 ??曜日、%02d:%02d:%02d"},
    {10, L"Invalid path!", L"格納パス情報がおかしいです。"},
    {11, L"Some files could not be extracted.\nThe command was not run.",
     L"展開できなかったファイルがあります。\nコマンドは実行しません。"},
};

// String `id` lives in bundle id / 16 + 1 at position id % 16; bundles hold 16 counted strings.
std::wstring LoadTableString(WORD id, WORD language, bool* found) {
    Bytes bundle = FindBytes(RT_STRING, WORD(id / 16 + 1), language);
    *found = bundle.data != nullptr;
    Reader reader(bundle);
    for (int skip = id % 16; skip > 0; --skip) reader.Counted();
    std::wstring text = reader.Counted();
    if (reader.overrun()) *found = false;
    return text;
}

TEST(StringTable, EveryTextInBothLanguages) {
    for (const ExpectedString& s : kStrings) {
        for (auto [language, expected] : {std::pair{kEnglish, s.english}, std::pair{kJapanese, s.japanese}}) {
            SCOPED_TRACE(testing::Message() << "string " << s.id << ", language " << language);
            bool found = false;
            std::wstring text = LoadTableString(s.id, language, &found);
            ASSERT_TRUE(found);
            EXPECT_EQ(text, std::wstring(expected));
        }
    }
}

// Id 0 and ids 12 to 15 share the first bundle: nothing but the eleven texts may be there.
TEST(StringTable, NoOtherStringsInTheBundle) {
    for (WORD language : {kEnglish, kJapanese}) {
        for (WORD id : {0, 12, 13, 14, 15}) {
            bool found = false;
            EXPECT_EQ(LoadTableString(id, language, &found), L"") << "string " << id;
            EXPECT_TRUE(found);
        }
    }
}

TEST(StringTable, ExactlyEnglishAndJapanese) {
    EXPECT_EQ(Languages(RT_STRING, 1), (std::set<WORD>{kEnglish, kJapanese}));
}

// The program loads each text with LoadStringA into 128 bytes (string 8 into 256), in the
// system code page: Shift-JIS on a Japanese system. Every text of the image must convert
// without a substituted character and fit with its terminator.
TEST(StringTable, EveryTextFitsItsAnsiBufferUnchanged) {
    for (const ExpectedString& s : kStrings) {
        const int buffer = s.id == 8 ? 256 : 128;
        for (auto [language, codePage] : {std::pair{kEnglish, 1252u}, std::pair{kJapanese, 932u}}) {
            SCOPED_TRACE(testing::Message() << "string " << s.id << ", code page " << codePage);
            bool found = false;
            std::wstring text = LoadTableString(s.id, language, &found);
            ASSERT_TRUE(found);
            BOOL substituted = FALSE;
            int bytes = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, nullptr, 0,
                                            nullptr, &substituted);
            ASSERT_GT(bytes, 0);
            EXPECT_FALSE(substituted);
            EXPECT_LE(bytes, buffer);
        }
    }
}

// What the program sees through LoadStringA: the system picks the table of the user
// interface language (Japanese in the Japanese test pass), else falls back to English,
// and converts it to the system code page.
TEST(StringTable, LoadStringAPicksEnglishOrJapaneseByUserInterface) {
    const bool japanese = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE;
    for (const ExpectedString& s : kStrings) {
        SCOPED_TRACE(testing::Message() << "string " << s.id << (japanese ? ", Japanese" : ", English"));
        char expected[256], loaded[256];
        ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, japanese ? s.japanese : s.english, -1, expected, sizeof expected,
                                      nullptr, nullptr),
                  0);
        EXPECT_EQ(LoadStringA(StubImage(), s.id, loaded, sizeof loaded), int(strlen(expected)));
        EXPECT_STREQ(loaded, expected);
    }
}

}  // namespace
