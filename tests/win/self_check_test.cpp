// Archive self-check: the CRC-32 of everything behind the Configuration block of a real
// stub image, with the warning dismissed the way a user would.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/config_block.h"
#include "app/state.h"
#include "archive/self_check.h"
#include "win_test_files.h"

namespace {

// A bit-at-a-time CRC-32, independent of the code under test.
uint32_t ReferenceCrc(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFF;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

// Closes the first message box captioned "Warning" that this process shows, keeping its text.
class WarningCloser {
public:
    WarningCloser() : thread_([this] { Run(); }) {}
    ~WarningCloser() {
        stop_ = true;
        thread_.join();
    }
    std::string text() const { return text_; }
    bool seen() const { return seen_; }

private:
    void Run() {
        while (!stop_ && !seen_) {
            HWND box = FindWindowA("#32770", "Warning");
            DWORD process = 0;
            if (box) GetWindowThreadProcessId(box, &process);
            if (box && process == GetCurrentProcessId()) {
                char buffer[512] = {};
                GetDlgItemTextA(box, 65535, buffer, sizeof buffer);
                text_ = buffer;
                seen_ = true;
                PostMessageA(box, WM_COMMAND, IDOK, 0);
            }
            Sleep(20);
        }
    }
    std::atomic<bool> stop_{false}, seen_{false};
    std::string text_;
    std::thread thread_;
};

class SelfCheck : public ::testing::Test {
protected:
    // Loads stub image + block + `archive` as a module (mapped, nothing run), as the stub
    // would find itself.
    HINSTANCE Load(const std::string& archive) {
        std::string file = win_test::ReadFile(DUDORE_STUB_NAME);
        ConfigBlock block = {};
        memcpy(block.magic, kBlockMagic, sizeof block.magic);
        file.append(reinterpret_cast<const char*>(&block), sizeof block);
        file += archive;
        path_ = folder_ / "sfx.exe";
        win_test::WriteFile(path_, file);
        module_ = LoadLibraryExA(path_.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
        g_module = module_;
        return module_;
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
        g_module = GetModuleHandleA(nullptr);
    }
    win_test::ScratchFolder folder_;
    std::string path_;
    HINSTANCE module_ = nullptr;
};

TEST_F(SelfCheck, MatchingOrUncheckedCrcReturnsIt) {
    std::string archive(300000, '\0');
    for (size_t i = 0; i < archive.size(); ++i) archive[i] = char(i * 7 + (i >> 9));
    HINSTANCE module = Load(archive);
    ASSERT_NE(module, nullptr);
    const uint32_t expected = ReferenceCrc(archive);
    WarningCloser closer;
    EXPECT_EQ(ArchiveSelfCheck(nullptr, module, expected), expected);
    EXPECT_EQ(ArchiveSelfCheck(nullptr, module, 0), expected);
    EXPECT_FALSE(closer.seen());
}

TEST_F(SelfCheck, EmptyArchiveComputesZero) {
    HINSTANCE module = Load("");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(ArchiveSelfCheck(nullptr, module, 0), 0u);
    WarningCloser closer;
    EXPECT_EQ(ArchiveSelfCheck(nullptr, module, 1), 0u);  // any expected value is a mismatch
    EXPECT_TRUE(closer.seen());
}

TEST_F(SelfCheck, MismatchWarnsAndReturnsZero) {
    HINSTANCE module = Load("PK\3\4 some archive bytes");
    ASSERT_NE(module, nullptr);
    WarningCloser closer;
    EXPECT_EQ(ArchiveSelfCheck(nullptr, module, ReferenceCrc("other bytes")), 0u);
    EXPECT_TRUE(closer.seen());
    if (GetACP() != 932) EXPECT_EQ(closer.text(), "CRC check error!");
}

}  // namespace
