// Overwrite confirmation: the date-time and size texts against the system's own calendar,
// and the dialog itself driven from a second thread the way a user would answer it.
// Texts come from the stub image's resources, in the language the system picks: the
// English cases run in the main pass, the Japanese ones in the Japanese pass.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "app/state.h"
#include "resource_image.h"
#include "ui/dialogs.h"
#include "ui/progress.h"
#include "win_test_files.h"

namespace {

bool JapaneseInterface() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE; }

// English cases need the English resources; Japanese ones a Japanese session (code page 932).
#define REQUIRE_ENGLISH()                                                                      \
    do {                                                                                       \
        if (JapaneseInterface()) GTEST_SKIP() << "the English texts run in the English pass"; \
    } while (0)
#define REQUIRE_JAPANESE()                                                                          \
    do {                                                                                            \
        if (!JapaneseInterface() || GetACP() != 932) {                                             \
            if (getenv("DUDORE_EXPECT_CP932")) FAIL() << "this pass must be Japanese, code page 932"; \
            GTEST_SKIP() << "needs a Japanese session (runs in the Japanese pass)";                  \
        }                                                                                           \
    } while (0)

// UTF-16 to the system code page, as the program's texts are.
std::string Ansi(const std::wstring& text) {
    char buffer[1024] = {};
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, buffer, sizeof buffer, nullptr, nullptr);
    return buffer;
}

DWORD DosDateTime(int year, int month, int day, int hour, int minute, int second) {
    return DWORD((year - 1980) << 9 | month << 5 | day) << 16 | DWORD(hour << 11 | minute << 5 | second / 2);
}

// Every test formats with the stub image's string table.
class OverwriteTexts : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = g_module;
        g_module = resource_test::StubImage();
        ASSERT_NE(g_module, nullptr);
    }
    void TearDown() override { g_module = saved_; }

    static std::string Format(DWORD dosDateTime, int* length = nullptr) {
        char out[kDateTimeTextSize + 16];
        memset(out, '#', sizeof out);
        const int n = FormatDateTimeText(dosDateTime, out);
        if (length) *length = n;
        // Nothing written past the documented buffer.
        for (size_t i = kDateTimeTextSize; i < sizeof out; ++i) EXPECT_EQ(out[i], '#') << "written past the buffer";
        return out;
    }

    // Calls `check` with the DOS date-time and the system's calendar fields of every day
    // from 1980 to 2107, each at a different time of day.
    template <typename Check>
    static void ForEveryDay(Check check) {
        SYSTEMTIME start = {1980, 1, 0, 1, 0, 0, 0, 0};
        FILETIME time;
        ASSERT_TRUE(SystemTimeToFileTime(&start, &time));
        ULARGE_INTEGER ticks = {{time.dwLowDateTime, time.dwHighDateTime}};
        constexpr ULONGLONG kDay = 864000000000ULL, kSecond = 10000000ULL;
        int day = 0;
        for (;; ++day) {
            ULARGE_INTEGER at = ticks;
            at.QuadPart += ULONGLONG(day) * kDay + ULONGLONG(day * 7919 % 86400) * kSecond;
            FILETIME file = {at.LowPart, at.HighPart};
            SYSTEMTIME fields;
            WORD date, clock;
            ASSERT_TRUE(FileTimeToSystemTime(&file, &fields));
            if (fields.wYear > 2107) break;
            ASSERT_TRUE(FileTimeToDosDateTime(&file, &date, &clock));
            check(DWORD(date) << 16 | clock, fields);
            if (HasFailure()) return;
        }
        EXPECT_EQ(day, 46751);  // 1980-01-01 to 2107-12-31
    }

private:
    HINSTANCE saved_ = nullptr;
};

TEST_F(OverwriteTexts, GroupedSizes) {
    const struct {
        DWORD size;
        const char* text;
    } cases[] = {
        {0, "0"},           {7, "7"},
        {999, "999"},       {1000, "1,000"},
        {1234, "1,234"},    {65536, "65,536"},
        {999999, "999,999"}, {1000000, "1,000,000"},
        {1234567, "1,234,567"}, {2147483648u, "2,147,483,648"},
        {4294967295u, "4,294,967,295"},
    };
    for (const auto& c : cases) EXPECT_STREQ(GroupedSizeText(c.size), c.text) << c.size;
}

// Any size: dropping the commas gives the decimal number, and commas stand exactly
// between groups of three digits counted from the right.
TEST_F(OverwriteTexts, GroupedSizesOfRandomValues) {
    std::mt19937 random(20031);
    for (int i = 0; i < 20000; ++i) {
        const DWORD size = DWORD(random()) >> (random() % 32);
        const std::string text = GroupedSizeText(size);
        std::string digits;
        for (size_t at = 0; at < text.size(); ++at) {
            const size_t fromRight = text.size() - at;  // 1 for the last character
            if (fromRight % 4 == 0) {
                ASSERT_EQ(text[at], ',') << text;
            } else {
                digits += text[at];
            }
        }
        ASSERT_EQ(digits, std::to_string(size)) << text;
    }
}

TEST_F(OverwriteTexts, EnglishDateTime) {
    REQUIRE_ENGLISH();
    const struct {
        DWORD dos;
        const char* text;
    } cases[] = {
        {DosDateTime(2003, 1, 2, 4, 5, 6), "%s Bytes\nModified: 01, 02, 2003,  04:05:06"},
        {DosDateTime(2000, 1, 1, 0, 0, 0), "%s Bytes\nModified: 01, 01, 2000,  00:00:00"},
        {DosDateTime(2107, 12, 31, 23, 59, 58), "%s Bytes\nModified: 12, 31, 2107,  23:59:58"},
        // Fields out of their calendar ranges are shown as they are.
        {0, "%s Bytes\nModified: 00, 00, 1980,  00:00:00"},
        {0xFFFFFFFF, "%s Bytes\nModified: 15, 31, 2107,  31:63:62"},
    };
    for (const auto& c : cases) {
        int length = 0;
        EXPECT_EQ(Format(c.dos, &length), c.text) << std::hex << c.dos;
        EXPECT_EQ(length, int(strlen(c.text)));
    }
}

// The fields read back the way the system decodes the same DOS date-time.
TEST_F(OverwriteTexts, EnglishDateTimeOfEveryDay) {
    REQUIRE_ENGLISH();
    ForEveryDay([](DWORD dos, const SYSTEMTIME& t) {
        char expected[128];
        snprintf(expected, sizeof expected, "%%s Bytes\nModified: %02d, %02d, %04d,  %02d:%02d:%02d", t.wMonth, t.wDay,
                 t.wYear, t.wHour, t.wMinute, t.wSecond & ~1);
        ASSERT_EQ(Format(dos), expected) << std::hex << dos;
    });
}

TEST_F(OverwriteTexts, JapaneseDateTime) {
    REQUIRE_JAPANESE();
    const struct {
        DWORD dos;
        const wchar_t* text;
    } cases[] = {
        {DosDateTime(2003, 1, 2, 4, 5, 6), L"%s バイト\n2003年01月02日 木曜日、04:05:06"},
        {DosDateTime(2000, 1, 1, 0, 0, 0), L"%s バイト\n2000年01月01日 土曜日、00:00:00"},
        {DosDateTime(2000, 2, 29, 12, 0, 0), L"%s バイト\n2000年02月29日 火曜日、12:00:00"},
        {DosDateTime(2000, 3, 1, 12, 0, 0), L"%s バイト\n2000年03月01日 水曜日、12:00:00"},
        {DosDateTime(1980, 1, 1, 0, 0, 0), L"%s バイト\n1980年01月01日 火曜日、00:00:00"},
        {DosDateTime(2107, 12, 31, 23, 59, 58), L"%s バイト\n2107年12月31日 土曜日、23:59:58"},
    };
    for (const auto& c : cases) {
        const std::string expected = Ansi(c.text);
        int length = 0;
        EXPECT_EQ(Format(c.dos, &length), expected) << std::hex << c.dos;
        EXPECT_EQ(length, int(expected.size()));
    }
}

// Every day's weekday is the system's, written as one double-byte character.
TEST_F(OverwriteTexts, JapaneseDateTimeOfEveryDay) {
    REQUIRE_JAPANESE();
    ForEveryDay([](DWORD dos, const SYSTEMTIME& t) {
        static const wchar_t kNames[] = L"日月火水木金土";
        wchar_t expected[128];
        swprintf(expected, 128, L"%%s バイト\n%04d年%02d月%02d日 %lc曜日、%02d:%02d:%02d", t.wYear, t.wMonth, t.wDay,
                 kNames[t.wDayOfWeek], t.wHour, t.wMinute, t.wSecond & ~1);
        ASSERT_EQ(Format(dos), Ansi(expected)) << std::hex << dos;
    });
}

// Dates that no calendar has still give a weekday from the table and stay in the buffer.
TEST_F(OverwriteTexts, JapaneseDateTimeOfImpossibleDates) {
    REQUIRE_JAPANESE();
    const std::wstring names = L"日月火水木金土";
    for (DWORD dos : {0x00000000u, 0x0000FFFFu, 0xFFFFFFFFu, 0x00200000u, 0x01A00000u, 0xFFE0FFFFu}) {
        const std::string text = Format(dos);
        const std::string::size_type at = text.find(Ansi(L"曜日"));
        ASSERT_NE(at, std::string::npos) << std::hex << dos;
        ASSERT_GE(at, 2u);
        EXPECT_NE(Ansi(names).find(text.substr(at - 2, 2)), std::string::npos) << text;
        EXPECT_EQ(text.find('?'), std::string::npos) << text;
    }
}

// ---------------------------------------------------------------------------------------
// The dialog. A stand-in Progress window on the test thread records what the dialog sends
// it; AskOverwrite runs on a second thread, as on the worker; the test thread answers.

struct Recorded {
    UINT message;
    bool dialogOpen;  // the overwrite dialog still existed when it arrived
};
std::vector<Recorded> g_received;
HWND g_openDialog;

LRESULT CALLBACK StandInProgress(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kMsgPlayAnimation || message == kMsgStopAnimation || message == WM_CLOSE) {
        g_received.push_back({message, g_openDialog && IsWindow(g_openDialog)});
        return 0;  // WM_CLOSE too: the stand-in stays
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

struct Asked {
    OverwriteRequest request;
    int answer;
};

DWORD WINAPI AskOnWorker(void* param) {
    auto* asked = static_cast<Asked*>(param);
    asked->answer = AskOverwrite(&asked->request);
    return 0;
}

// The worker thread's dialog (a thread may own other windows, such as the IME's).
BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    if (strcmp(className, "#32770") != 0) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

std::string Text(HWND dialog, int id) {
    char text[1024] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

// What the test thread saw of the dialog while it was open.
struct Seen {
    std::string caption, name, existing, fresh;
    HICON existingIcon = nullptr, newIcon = nullptr;
    bool stillOpenAfterOtherCommands = false;
};

class OverwriteDialog : public OverwriteTexts {
protected:
    void SetUp() override {
        OverwriteTexts::SetUp();
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = StandInProgress;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "DudoreStandInProgress";
        RegisterClassA(&windowClass);
        progress_ = CreateWindowA("DudoreStandInProgress", "stand-in", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(progress_, nullptr);
        g_progressWindow = progress_;
        g_settings.newerOnly = 0;
        g_received.clear();
        g_openDialog = nullptr;
    }
    void TearDown() override {
        DestroyWindow(progress_);
        g_progressWindow = nullptr;
        g_settings.newerOnly = 0;
        OverwriteTexts::TearDown();
    }

    // Shows the dialog for `request`, reads it, sends the commands in `ignored` (which must
    // leave it open), then `answer`. Returns AskOverwrite's result.
    int Answer(const OverwriteRequest& request, WPARAM answer, Seen& seen, std::vector<WPARAM> ignored = {}) {
        Asked asked = {request, 12345};
        DWORD threadId = 0;
        HANDLE thread = CreateThread(nullptr, 0, AskOnWorker, &asked, 0, &threadId);
        EXPECT_NE(thread, nullptr);
        if (!thread) return asked.answer;
        bool answered = false;
        for (int waited = 0; waited < 1000; ++waited) {  // 20 s at most
            if (MsgWaitForMultipleObjects(1, &thread, FALSE, 20, QS_ALLINPUT) == WAIT_OBJECT_0) break;
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
            HWND dialog = nullptr;
            EnumThreadWindows(threadId, FindDialog, reinterpret_cast<LPARAM>(&dialog));
            if (answered || !dialog || !IsWindowVisible(dialog)) continue;
            g_openDialog = dialog;
            char caption[256] = {};
            GetWindowTextA(dialog, caption, sizeof caption);
            seen.caption = caption;
            seen.name = Text(dialog, 1009);
            seen.existing = Text(dialog, 1005);
            seen.fresh = Text(dialog, 1008);
            seen.existingIcon = HICON(SendDlgItemMessageA(dialog, 201, STM_GETICON, 0, 0));
            seen.newIcon = HICON(SendDlgItemMessageA(dialog, 202, STM_GETICON, 0, 0));
            for (WPARAM command : ignored) SendMessageA(dialog, WM_COMMAND, command, 0);
            seen.stillOpenAfterOtherCommands = IsWindow(dialog) && IsWindowVisible(dialog);
            PostMessageA(dialog, WM_COMMAND, answer, 0);
            answered = true;
        }
        EXPECT_TRUE(answered) << "the dialog never appeared";
        if (WaitForSingleObject(thread, 5000) != WAIT_OBJECT_0) ADD_FAILURE() << "AskOverwrite did not return";
        CloseHandle(thread);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        return asked.answer;
    }

    std::vector<UINT> Messages() const {
        std::vector<UINT> messages;
        for (const Recorded& r : g_received) messages.push_back(r.message);
        return messages;
    }

    HWND progress_ = nullptr;
    win_test::ScratchFolder folder_;
};

// Every answer, with what it does besides: Newer sets the Newer-only flag; Cancel, Esc
// and the close box (command 2) close the Progress window while the dialog is still open.
TEST_F(OverwriteDialog, Answers) {
    const std::string path = folder_ / "existing.txt";
    win_test::WriteFile(path, "old");
    const struct {
        const char* what;
        WPARAM command;
        int answer;
        int newerOnly;
        bool closesProgress;
    } cases[] = {
        {"Yes", 6, 6, 0, false},         {"No", 7, 7, 0, false},
        {"Yes to All", 1003, 100, 0, false}, {"Newer", 1004, 6, 1, false},
        {"Cancel", 1007, -1, 0, true},   {"Esc or close box", IDCANCEL, -1, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        g_settings.newerOnly = 0;
        g_received.clear();
        const std::wstring widePath = win_test::Wide(path);
        const OverwriteRequest request = {widePath.c_str(), DosDateTime(2001, 2, 3, 4, 5, 6), DosDateTime(2003, 1, 2, 4, 5, 6), 3,
                                          1234};
        Seen seen;
        // Whole-wParam comparison: a notification code other than 0 is not a click; OK
        // (1) is not a button of this dialog.
        const int answer = Answer(request, c.command, seen, {IDOK, MAKEWPARAM(6, BN_SETFOCUS), MAKEWPARAM(1007, 1)});
        EXPECT_TRUE(seen.stillOpenAfterOtherCommands);
        EXPECT_EQ(answer, c.answer);
        EXPECT_EQ(g_settings.newerOnly, c.newerOnly);
        if (c.closesProgress) {
            EXPECT_EQ(Messages(), (std::vector<UINT>{kMsgStopAnimation, WM_CLOSE, kMsgPlayAnimation}));
            ASSERT_EQ(g_received.size(), 3u);
            EXPECT_TRUE(g_received[1].dialogOpen) << "WM_CLOSE must come before the dialog ends";
        } else {
            EXPECT_EQ(Messages(), (std::vector<UINT>{kMsgStopAnimation, kMsgPlayAnimation}));
        }
    }
}

TEST_F(OverwriteDialog, EnglishTexts) {
    REQUIRE_ENGLISH();
    const std::string path = folder_ / "report.txt";
    win_test::WriteFile(path, "old");
    Seen seen;
    const std::wstring widePath = win_test::Wide(path);
        const OverwriteRequest request = {widePath.c_str(), DosDateTime(2001, 2, 3, 4, 5, 6), DosDateTime(2003, 1, 2, 4, 5, 6),
                                      4294967295u, 1234};
    EXPECT_EQ(Answer(request, 7, seen), 7);
    EXPECT_EQ(seen.caption, "Confirm File Replace");
    EXPECT_EQ(seen.name, "'report.txt'");
    EXPECT_EQ(seen.existing, "4,294,967,295 Bytes\nModified: 02, 03, 2001,  04:05:06");
    EXPECT_EQ(seen.fresh, "1,234 Bytes\nModified: 01, 02, 2003,  04:05:06");
}

TEST_F(OverwriteDialog, JapaneseTexts) {
    REQUIRE_JAPANESE();
    const std::string path = folder_ / "report.txt";
    win_test::WriteFile(path, "old");
    Seen seen;
    const std::wstring widePath = win_test::Wide(path);
        const OverwriteRequest request = {widePath.c_str(), DosDateTime(2001, 2, 3, 4, 5, 6), DosDateTime(2003, 1, 2, 4, 5, 6), 0,
                                      1234};
    EXPECT_EQ(Answer(request, 7, seen), 7);
    EXPECT_EQ(seen.caption, Ansi(L"ファイル上書きの確認"));
    EXPECT_EQ(seen.name, Ansi(L"展開先には既に 'report.txt' のファイルが存在します。"));
    EXPECT_EQ(seen.existing, Ansi(L"0 バイト\n2001年02月03日 土曜日、04:05:06"));
    EXPECT_EQ(seen.fresh, Ansi(L"1,234 バイト\n2003年01月02日 木曜日、04:05:06"));
}

// A time of 0 (a file that could not be opened, an entry without a time) leaves its line
// empty, whatever the size.
TEST_F(OverwriteDialog, TimeZeroLeavesTheLineEmpty) {
    const std::string path = folder_ / "a.txt";
    win_test::WriteFile(path, "old");
    const struct {
        DWORD existingTime, newTime;
        bool existingEmpty, newEmpty;
    } cases[] = {{0, DosDateTime(2003, 1, 2, 4, 5, 6), true, false},
                 {DosDateTime(2003, 1, 2, 4, 5, 6), 0, false, true},
                 {0, 0, true, true}};
    for (const auto& c : cases) {
        Seen seen;
        Answer({win_test::Wide(path).c_str(), c.existingTime, c.newTime, 77, 1234}, 6, seen);
        EXPECT_EQ(seen.existing.empty(), c.existingEmpty) << seen.existing;
        EXPECT_EQ(seen.fresh.empty(), c.newEmpty) << seen.fresh;
    }
}

// Both statics show the existing file's one icon, which is destroyed when the dialog
// goes; a file the shell cannot look at gets no icon.
TEST_F(OverwriteDialog, ExistingFileIcon) {
    const std::string path = folder_ / "shown.txt";
    win_test::WriteFile(path, "old");
    Seen seen;
    Answer({win_test::Wide(path).c_str(), 0, 0, 0, 0}, 7, seen);
    ASSERT_NE(seen.existingIcon, nullptr);
    EXPECT_EQ(seen.newIcon, seen.existingIcon);
    ICONINFO info = {};
    EXPECT_FALSE(GetIconInfo(seen.existingIcon, &info)) << "the icon outlived the dialog";

    Seen none;
    Answer({win_test::Wide(folder_ / "missing\\none.txt").c_str(), 0, 0, 0, 0}, 7, none);
    EXPECT_EQ(none.existingIcon, nullptr);
    EXPECT_EQ(none.newIcon, nullptr);
}

// The name line holds names of every length a path allows, at any path length, and a
// name is never taken for a format.
TEST_F(OverwriteDialog, LongestNamesAndPercentSigns) {
    REQUIRE_ENGLISH();
    for (const std::string name : {std::string(255, 'n'), std::string("100%s %d %n %%.txt"), std::string(250, '%') + "%s.x"}) {
        // Paths of 259 and of 400 characters: the name line shows the name alone, whole.
        for (const size_t length : {259u, 400u}) {
            const std::string path = "C:\\" + std::string(length - 3 - name.size() - 1, 'd') + "\\" + name;
            Seen seen;
            EXPECT_EQ(Answer({win_test::Wide(path).c_str(), DosDateTime(2003, 1, 2, 4, 5, 6),
                              DosDateTime(2003, 1, 2, 4, 5, 6), 1, 2},
                             6, seen),
                      6);
            EXPECT_EQ(seen.name, "'" + name + "'");
            EXPECT_EQ(seen.fresh, "2 Bytes\nModified: 01, 02, 2003,  04:05:06");
        }
    }
}

}  // namespace
