// The dialog templates of the stub image, parsed from their resource bytes in each
// language and compared control by control (in tab order) with tables of what each dialog
// must hold: ids, classes, texts, rectangles in dialog units, and styles.
#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <vector>

#include "resource_image.h"

#include <commctrl.h>

namespace {

using namespace resource_test;

// ---- The parsed form of a template -------------------------------------------------

struct Rect {
    int x, y, cx, cy;
    bool operator==(const Rect&) const = default;
};

struct Control {
    uint32_t id;
    std::wstring cls;   // lower case; predefined ordinals become their class names
    std::wstring text;  // an ordinal (an icon reference) becomes "#<number>"
    Rect rect;
    uint32_t style, exStyle;
};

struct Dialog {
    uint32_t style, exStyle;
    Rect rect;
    std::wstring menu, cls, caption, font;
    int points;
    std::vector<Control> controls;
};

std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s) c = wchar_t(std::towlower(c));
    return s;
}

// A sz_Or_Ord field: 0 (none), 0xFFFF and an ordinal, or a zero-terminated string.
std::wstring NameOrOrdinal(Reader& in, bool isClass) {
    uint16_t first = in.Word();
    if (first == 0) return L"";
    if (first == 0xFFFF) {
        uint16_t ordinal = in.Word();
        static const wchar_t* const kPredefined[] = {L"button", L"edit", L"static", L"listbox", L"scrollbar", L"combobox"};
        if (isClass && ordinal >= 0x80 && ordinal <= 0x85) return kPredefined[ordinal - 0x80];
        return L"#" + std::to_wstring(ordinal);
    }
    std::wstring text(1, wchar_t(first));
    text += in.String();
    return isClass ? Lower(text) : text;
}

Rect ReadRect(Reader& in) {
    Rect r;
    r.x = in.Short();
    r.y = in.Short();
    r.cx = in.Short();
    r.cy = in.Short();
    return r;
}

// Reads DLGTEMPLATE or DLGTEMPLATEEX, whichever the resource holds.
bool ParseDialog(Bytes bytes, Dialog* d) {
    Reader in(bytes);
    const bool extended = bytes.size >= 4 && bytes.data[0] == 1 && bytes.data[1] == 0 && bytes.data[2] == 0xFF &&
                          bytes.data[3] == 0xFF;
    uint16_t count;
    if (extended) {
        in.Dword();  // version 1, signature 0xFFFF
        in.Dword();  // help id
        d->exStyle = in.Dword();
        d->style = in.Dword();
    } else {
        d->style = in.Dword();
        d->exStyle = in.Dword();
    }
    count = in.Word();
    d->rect = ReadRect(in);
    d->menu = NameOrOrdinal(in, false);
    d->cls = NameOrOrdinal(in, true);
    d->caption = in.String();
    d->points = 0;
    if (d->style & DS_SETFONT) {
        d->points = in.Word();
        if (extended) in.Read(4);  // weight, italic, character set
        d->font = in.String();
    }
    for (uint16_t i = 0; i < count && !in.overrun(); ++i) {
        in.Align(4);
        Control c;
        if (extended) {
            in.Dword();  // help id
            c.exStyle = in.Dword();
            c.style = in.Dword();
            c.rect = ReadRect(in);
            c.id = in.Dword();
        } else {
            c.style = in.Dword();
            c.exStyle = in.Dword();
            c.rect = ReadRect(in);
            c.id = in.Word();
        }
        c.cls = NameOrOrdinal(in, true);
        c.text = NameOrOrdinal(in, false);
        uint16_t extra = in.Word();
        in.Read(extra);
        d->controls.push_back(c);
    }
    // Nothing may follow the last control but padding.
    return !in.overrun() && bytes.size - in.offset() < 4;
}

// ---- What each template must hold ---------------------------------------------------

constexpr uint32_t kChild = WS_CHILD | WS_VISIBLE;
constexpr uint32_t kText = kChild | WS_GROUP | SS_LEFT;
constexpr uint32_t kTextNoWrap = kChild | WS_GROUP | SS_LEFTNOWORDWRAP;
constexpr uint32_t kIcon = kChild | SS_ICON;
constexpr uint32_t kEdit = kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr uint32_t kButton = kChild | WS_TABSTOP | BS_PUSHBUTTON;
constexpr uint32_t kDefault = kChild | WS_TABSTOP | BS_DEFPUSHBUTTON;
constexpr uint32_t kCheck = kChild | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr uint32_t kBar = kChild;

constexpr uint32_t kCrcStyle = WS_POPUP | DS_CENTER | DS_MODALFRAME | DS_SETFONT;
constexpr uint32_t kDestinationStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_CENTER |
                                       DS_SETFOREGROUND | DS_MODALFRAME | DS_SETFONT;
constexpr uint32_t kPasswordStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_CENTER | DS_MODALFRAME | DS_SETFONT;
constexpr uint32_t kOverwriteStyle =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_CENTER | DS_SETFOREGROUND | DS_MODALFRAME | DS_SETFONT;
constexpr uint32_t kProgressStyle = kOverwriteStyle;  // and no WS_VISIBLE: the program shows it

const wchar_t kEnglishFont[] = L"MS Shell DLG";
const wchar_t kJapaneseFont[] = L"ＭＳ Ｐゴシック";
const wchar_t kStatic[] = L"static";
const wchar_t kEditClass[] = L"edit";
const wchar_t kButtonClass[] = L"button";
const wchar_t kProgress[] = L"msctls_progress32";

struct ExpectedControl {
    uint32_t id;
    const wchar_t* cls;
    const wchar_t* text;
    Rect rect;
    uint32_t style;
};

struct ExpectedDialog {
    WORD id;
    WORD language;
    const wchar_t* caption;
    int cx, cy;
    uint32_t style;
    const wchar_t* font;
    std::vector<ExpectedControl> controls;
};

const ExpectedDialog kDialogs[] = {
    {103, kEnglish, L"", 157, 39, kCrcStyle, kEnglishFont,
     {
         {65535, kStatic, L"CRC checking...", {7, 7, 79, 8}, kText},
         {1004, kProgress, L"", {7, 24, 143, 8}, kBar},
     }},
    {103, kJapanese, L"", 157, 39, kCrcStyle, kJapaneseFont,
     {
         {65535, kStatic, L"CRC をチェックしています...", {7, 7, 79, 8}, kText},
         {1004, kProgress, L"", {7, 24, 143, 8}, kBar},
     }},
    {204, kEnglish, L"Confirm Extracting", 251, 78, kDestinationStyle, kEnglishFont,
     {
         {65535, kStatic, L"Please type the location where you want to place the extracted files.", {7, 7, 237, 13}, kText},
         {1004, kEditClass, L"", {7, 27, 179, 14}, kEdit},
         {1000, kButtonClass, L"&Browse...", {194, 26, 50, 14}, kButton},
         {203, kButtonClass, L"&Create folder as the archive name to extract", {15, 45, 229, 10}, kCheck},
         {1, kButtonClass, L"&OK", {137, 57, 50, 14}, kDefault},
         {2, kButtonClass, L"Cancel", {194, 57, 50, 14}, kButton},
     }},
    {204, kJapanese, L"展開先の指定", 251, 76, kDestinationStyle, kJapaneseFont,
     {
         {65535, kStatic, L"展開先のフォルダを指定してください(&F):", {7, 7, 237, 13}, kText},
         {1004, kEditClass, L"", {7, 27, 179, 14}, kEdit},
         {1000, kButtonClass, L"参照(&B)...", {194, 26, 50, 14}, kButton},
         {203, kButtonClass, L"書庫名でフォルダを作成(&K)", {15, 47, 117, 10}, kCheck},
         {1, kButtonClass, L"OK", {137, 55, 50, 14}, kDefault},
         {2, kButtonClass, L"キャンセル", {194, 55, 50, 14}, kButton},
     }},
    {1000, kEnglish, L"Password needed", 235, 100, kPasswordStyle, kEnglishFont,
     {
         {65535, kStatic, L"#101", {7, 7, 20, 20}, kIcon},
         {1005, kStatic, L"'%s'\n\npassword protected.\nPlease enter the password in the box below. ", {43, 7, 185, 31}, kTextNoWrap},
         {65535, kStatic, L"&Password:", {7, 44, 33, 8}, kText},
         {1004, kEditClass, L"", {43, 42, 185, 14}, kEdit},
         {1006, kButtonClass, L"not &mask", {43, 63, 185, 10}, kCheck},
         {1, kButtonClass, L"&OK", {72, 79, 50, 14}, kDefault},
         {2, kButtonClass, L"&Cancel", {125, 79, 50, 14}, kButton},
         {1003, kButtonClass, L"&Skip", {178, 79, 50, 14}, kButton},
     }},
    {1000, kJapanese, L"パスワードの入力", 235, 100, kPasswordStyle, kJapaneseFont,
     {
         {65535, kStatic, L"#101", {7, 7, 20, 20}, kIcon},
         {1005, kStatic, L"'%s'\n\nは暗号化されています。パスワードを入力してください。", {43, 7, 185, 31}, kTextNoWrap},
         {65535, kStatic, L"&Password:", {7, 44, 33, 8}, kText},
         {1004, kEditClass, L"", {43, 42, 185, 14}, kEdit},
         {1006, kButtonClass, L"入力文字をマスクしない(&M)", {43, 63, 185, 10}, kCheck},
         {1, kButtonClass, L"&OK", {72, 79, 50, 14}, kDefault},
         {2, kButtonClass, L"キャンセル(&C)", {125, 79, 50, 14}, kButton},
         {1003, kButtonClass, L"スキップ(&S)", {178, 79, 50, 14}, kButton},
     }},
    {2007, kEnglish, L"Confirm File Replace", 283, 151, kOverwriteStyle, kEnglishFont,
     {
         {121, kStatic, L"#102", {7, 13, 20, 20}, kIcon},
         {1009, kStatic, L"'%s'", {50, 12, 226, 20}, kText},
         {65535, kStatic, L"Would you like to replace the existing file", {38, 36, 147, 8}, kText},
         {201, kStatic, L"", {48, 51, 20, 20}, kIcon},
         {1005, kStatic, L"", {93, 52, 183, 17}, kText},
         {65535, kStatic, L"with this one?", {38, 78, 120, 8}, kText},
         {202, kStatic, L"", {48, 93, 20, 20}, kIcon},
         {1008, kStatic, L"", {93, 93, 183, 17}, kText},
         {6, kButtonClass, L"&Yes", {7, 125, 49, 14}, kDefault},
         {7, kButtonClass, L"&No", {62, 125, 49, 14}, kButton},
         {1003, kButtonClass, L"Yes to &All", {117, 125, 49, 14}, kButton},
         {1004, kButtonClass, L"Newe&r", {172, 125, 49, 14}, kButton},
         {1007, kButtonClass, L"&Cancel", {227, 125, 49, 14}, kButton},
     }},
    {2007, kJapanese, L"ファイル上書きの確認", 283, 151, kOverwriteStyle, kJapaneseFont,
     {
         {65535, kStatic, L"#102", {7, 13, 20, 21}, kIcon},
         {1009, kStatic, L"展開先には既に '%s' のファイルが存在します。", {50, 12, 226, 20}, kText},
         {65535, kStatic, L"現在のファイル", {38, 36, 45, 8}, kText},
         {201, kStatic, L"", {48, 51, 20, 21}, kIcon},
         {1005, kStatic, L"", {93, 52, 183, 17}, kText},
         {65535, kStatic, L"に新しい次のファイルを上書きしますか？", {38, 78, 120, 8}, kText},
         {202, kStatic, L"", {48, 93, 20, 21}, kIcon},
         {1008, kStatic, L"", {93, 93, 183, 17}, kText},
         {6, kButtonClass, L"はい(&Y)", {7, 125, 49, 14}, kDefault},
         {7, kButtonClass, L"いいえ(&N)", {58, 125, 49, 14}, kButton},
         {1003, kButtonClass, L"全て上書き(&A)", {109, 125, 49, 14}, kButton},
         {1004, kButtonClass, L"新しいもののみ(&U)", {160, 125, 64, 14}, kButton},
         {1007, kButtonClass, L"キャンセル(&C)", {227, 125, 49, 14}, kButton},
     }},
    {2008, kEnglish, L"Decompressing...", 251, 90, kProgressStyle, kEnglishFont,
     {
         {65535, kStatic, L"Please wait...", {7, 55, 53, 8}, kText},
         {1004, kProgress, L"", {7, 69, 179, 8}, kBar},
         {2, kButtonClass, L"&Cancel", {194, 69, 50, 14}, kButton},
         {1006, kStatic, L"", {60, 55, 184, 8}, kText},
     }},
    {2008, kJapanese, L"進捗状況", 251, 90, kProgressStyle, kJapaneseFont,
     {
         {65535, kStatic, L"展開中...", {7, 55, 31, 8}, kText},
         {1004, kProgress, L"", {7, 69, 179, 8}, kBar},
         {2, kButtonClass, L"キャンセル", {194, 69, 50, 14}, kButton},
         {1006, kStatic, L"", {41, 55, 203, 8}, kText},
     }},
};

std::string Name(const ExpectedDialog& e) {
    return "dialog " + std::to_string(e.id) + (e.language == kEnglish ? " English" : " Japanese");
}

// ---- Tests --------------------------------------------------------------------------

TEST(DialogTemplates, EveryDialogInBothLanguagesHasItsStyleCaptionSizeAndFont) {
    for (const ExpectedDialog& e : kDialogs) {
        SCOPED_TRACE(Name(e));
        Dialog d;
        ASSERT_TRUE(ParseDialog(FindBytes(RT_DIALOG, e.id, e.language), &d));
        EXPECT_EQ(d.style, e.style) << std::hex << "differs in " << (d.style ^ e.style);
        EXPECT_EQ(d.style & WS_VISIBLE, 0u);
        EXPECT_EQ(d.exStyle, 0u);
        EXPECT_EQ(d.rect.cx, e.cx);
        EXPECT_EQ(d.rect.cy, e.cy);
        EXPECT_EQ(d.caption, std::wstring(e.caption));
        EXPECT_EQ(d.font, std::wstring(e.font));
        EXPECT_EQ(d.points, 9);
        EXPECT_EQ(d.menu, L"");
        EXPECT_EQ(d.cls, L"");  // the system's dialog class
    }
}

TEST(DialogTemplates, EveryControlInTabOrderWithIdClassTextRectangleAndStyle) {
    for (const ExpectedDialog& e : kDialogs) {
        SCOPED_TRACE(Name(e));
        Dialog d;
        ASSERT_TRUE(ParseDialog(FindBytes(RT_DIALOG, e.id, e.language), &d));
        ASSERT_EQ(d.controls.size(), e.controls.size());
        for (size_t i = 0; i < e.controls.size(); ++i) {
            const Control& got = d.controls[i];
            const ExpectedControl& want = e.controls[i];
            SCOPED_TRACE(testing::Message() << "control " << i << " (id " << want.id << ")");
            EXPECT_EQ(got.id, want.id);
            EXPECT_EQ(got.cls, std::wstring(want.cls));
            EXPECT_EQ(got.text, std::wstring(want.text));
            EXPECT_EQ(got.rect, want.rect) << got.rect.x << "," << got.rect.y << "," << got.rect.cx << "," << got.rect.cy;
            EXPECT_EQ(got.style, want.style) << std::hex << "differs in " << (got.style ^ want.style);
            EXPECT_EQ(got.exStyle, 0u);
        }
    }
}

TEST(DialogTemplates, ExactlyEnglishAndJapanese) {
    for (WORD id : {103, 204, 1000, 2007, 2008}) {
        EXPECT_EQ(Languages(RT_DIALOG, id), (std::set<WORD>{kEnglish, kJapanese})) << "dialog " << id;
    }
}

// DialogBoxParamA and CreateDialogParamA find templates by id alone: the system must
// pick the Japanese one on a Japanese user interface and the English one otherwise.
TEST(DialogTemplates, TheSystemPicksEnglishOrJapaneseByUserInterface) {
    const bool japanese = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE;
    for (WORD id : {103, 204, 1000, 2007, 2008}) {
        HRSRC picked = FindResourceA(StubImage(), MAKEINTRESOURCEA(id), RT_DIALOG);
        ASSERT_NE(picked, nullptr) << "dialog " << id;
        EXPECT_EQ(LockResource(LoadResource(StubImage(), picked)),
                  FindBytes(RT_DIALOG, id, japanese ? kJapanese : kEnglish).data)
            << "dialog " << id << (japanese ? ", Japanese" : ", English");
    }
}

INT_PTR CALLBACK IgnoreEverything(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// The system builds each template into windows from the stub image: every class exists,
// the dialog manager accepts the bytes, and the icon statics find their icons. The
// windows are never shown.
TEST(DialogTemplates, TheDialogManagerCreatesEveryTemplateFromTheImage) {
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&classes));
    for (const ExpectedDialog& e : kDialogs) {
        SCOPED_TRACE(Name(e));
        Bytes bytes = FindBytes(RT_DIALOG, e.id, e.language);
        ASSERT_NE(bytes.data, nullptr);
        HWND dialog = CreateDialogIndirectParamW(StubImage(), reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data),
                                                 nullptr, IgnoreEverything, 0);
        ASSERT_NE(dialog, nullptr);
        EXPECT_FALSE(IsWindowVisible(dialog));
        HWND child = GetWindow(dialog, GW_CHILD);
        for (const ExpectedControl& c : e.controls) {
            ASSERT_NE(child, nullptr);
            wchar_t cls[64] = {};
            GetClassNameW(child, cls, 64);
            EXPECT_EQ(Lower(cls), std::wstring(c.cls)) << "control " << c.id;
            EXPECT_EQ(uint32_t(GetDlgCtrlID(child)) & 0xFFFF, c.id);
            const bool showsTemplateIcon = c.text[0] == L'#';
            if (showsTemplateIcon) EXPECT_NE(SendMessageW(child, STM_GETICON, 0, 0), 0) << "control " << c.id;
            child = GetWindow(child, GW_HWNDNEXT);
        }
        EXPECT_EQ(child, nullptr);
        DestroyWindow(dialog);
    }
}

}  // namespace
