// mksfx writes the Configuration block: every option lands in its field and nowhere
// else, texts that fit exactly are kept, one byte more is refused, and the expected
// CRC-32 covers exactly the bytes behind the block (zlib is the oracle).
#include <functional>

#include "mksfx_test_support.h"

using namespace mksfx_test;

namespace {

// A stub, an archive and the arguments to build from them.
struct Fixture {
    Scratch scratch;
    Bytes stub = FakeStub();
    Bytes zip = MakeZip({.entries = {{"readme.txt", "read me\n"}, {"setup.exe", std::string(3000, 'x')}}});

    std::string input = "in.zip";  // or a folder of the same files, to pack

    Fixture() {
        WriteBytes(scratch / "stub.exe", stub);
        WriteBytes(scratch / "in.zip", zip);
        fs::create_directory(scratch / "folder");
        WriteText(scratch / "folder/readme.txt", "read me\n");
        WriteText(scratch / "folder/setup.exe", std::string(3000, 'x'));
    }
    ProcessResult Build(std::vector<std::string> options) {
        options.insert(options.end(), {"--stub", scratch / "stub.exe", "-o", scratch / "out.exe", scratch / input});
        return Mksfx(scratch, options);
    }
    Bytes Output() const { return ReadBytes(scratch / "out.exe"); }
};

ConfigBlock DefaultBlock() {
    ConfigBlock block{};
    memcpy(block.magic, "KESTRA3", 8);
    block.openExplorer = 1;
    return block;
}

void SetText(char* field, const std::string& text) { memcpy(field, text.data(), text.size()); }

std::string Field(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

}  // namespace

TEST(MksfxBlock, EveryOptionLandsInItsFieldAndNowhereElse) {
    struct Case {
        std::vector<std::string> options;
        std::function<void(ConfigBlock&)> expect;  // applied to the default block
    };
    const Case cases[] = {
        {{}, [](ConfigBlock&) {}},
        {{"-d", "%Desktop%\\Setup files"}, [](ConfigBlock& b) { SetText(b.destination, "%Desktop%\\Setup files"); }},
        {{"--destination=C:\\out"}, [](ConfigBlock& b) { SetText(b.destination, "C:\\out"); }},
        {{"-c", "setup.exe /quiet"}, [](ConfigBlock& b) { SetText(b.command, "setup.exe /quiet"); }},
        {{"--command", "install.inf"}, [](ConfigBlock& b) { SetText(b.command, "install.inf"); }},
        {{"-y"}, [](ConfigBlock& b) { b.overwriteWithoutAsking = 1; }},
        {{"--overwrite"}, [](ConfigBlock& b) { b.overwriteWithoutAsking = 1; }},
        {{"--no-explorer"}, [](ConfigBlock& b) { b.openExplorer = 0; }},
        {{"--no-explorer", "--explorer"}, [](ConfigBlock&) {}},
        {{"--delete-after", "-c", "x.exe"},
         [](ConfigBlock& b) {
             b.deleteAfterCommand = 1;
             SetText(b.command, "x.exe");
         }},
        {{"--skip-dialog"}, [](ConfigBlock& b) { b.skipDestinationDialog = 1; }},
        {{"-t", "Setup", "-q", "Install it now?"},
         [](ConfigBlock& b) {
             SetText(b.questionTitle, "Setup");
             SetText(b.questionText, "Install it now?");
         }},
        {{"--title=T", "--question=Line one\nline two"},
         [](ConfigBlock& b) {
             SetText(b.questionTitle, "T");
             SetText(b.questionText, "Line one\nline two");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options));
        Fixture f;
        const ProcessResult run = f.Build(c.options);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const Bytes out = f.Output();
        ASSERT_EQ(out.size(), Aligned(f.stub.size() + kBlockSize + f.zip.size()));
        EXPECT_TRUE(std::equal(f.stub.begin(), f.stub.end(), out.begin())) << "stub image changed";
        EXPECT_EQ(memcmp(&out[f.stub.size()], "KESTRA3\0", 8), 0);
        ConfigBlock expected = DefaultBlock();
        c.expect(expected);
        const ConfigBlock written = BlockAt(out, f.stub.size());
        EXPECT_EQ(memcmp(&written, &expected, sizeof written), 0)
            << "destination \"" << Field(written.destination, 260) << "\" command \""
            << Field(written.command, 128) << "\" values " << written.overwriteWithoutAsking << " "
            << written.openExplorer << " " << written.deleteAfterCommand << " " << written.skipDestinationDialog
            << " " << written.expectedCrc << " title \"" << Field(written.questionTitle, 32) << "\" text \""
            << Field(written.questionText, 64) << "\"";
    }
}

TEST(MksfxBlock, TextsThatFitExactlyAreKeptOneByteMoreIsRefused) {
    struct Case {
        const char* option;
        size_t longest;  // the field's size less its terminating zero
        size_t fieldOffset, fieldSize;
    };
    const Case cases[] = {
        {"--destination", 259, offsetof(ConfigBlock, destination), 260},
        {"--command", 127, offsetof(ConfigBlock, command), 128},
        {"--title", 31, offsetof(ConfigBlock, questionTitle), 32},
        {"--question", 63, offsetof(ConfigBlock, questionText), 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        std::string text;
        for (size_t i = 0; i < c.longest; ++i) text += char('a' + i % 26);
        {
            Fixture f;
            const ProcessResult run = f.Build({"-q", "?", c.option, text});
            ASSERT_EQ(run.exitCode, 0) << run.err;
            const Bytes out = f.Output();
            const size_t at = f.stub.size() + c.fieldOffset;
            EXPECT_EQ(std::string(out.begin() + at, out.begin() + at + c.longest), text);
            EXPECT_EQ(out[at + c.fieldSize - 1], 0) << "terminating zero";
        }
        {
            Fixture f;
            WriteText(f.scratch / "out.exe", "older file");
            const ProcessResult run = f.Build({c.option, text + "z"});
            EXPECT_EQ(run.exitCode, 1);
            ASSERT_EQ(run.ErrLines().size(), 1u) << run.err;
            EXPECT_EQ(run.err.rfind("mksfx: ", 0), 0u) << run.err;
            EXPECT_NE(run.err.find(c.option), std::string::npos) << run.err;
            const Bytes kept = ReadBytes(f.scratch / "out.exe");
            EXPECT_EQ(std::string(kept.begin(), kept.end()), "older file") << "existing output changed";
            EXPECT_EQ(f.scratch.Names(), (std::vector<std::string>{"folder", "in.zip", "out.exe", "stub.exe"}));
        }
    }
}

// A signature appended later leaves the stored CRC-32 right: the file is aligned, so
// nothing comes between archive and signature, and the check stops at the signature.
TEST(MksfxBlock, ExpectedCrcIsTheCrcOfEverythingBehindTheBlock) {
    for (const std::string mode : {"offsets moved", "offsets kept", "packed"}) {
        SCOPED_TRACE(mode);
        const bool keepOffsets = mode == "offsets kept";
        Fixture f;
        std::vector<std::string> options = {"--crc"};
        if (keepOffsets) options.push_back("--keep-offsets");
        if (mode == "packed") f.input = "folder/";
        const ProcessResult run = f.Build(options);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const Bytes out = f.Output();
        const size_t archiveStart = out.size() - f.zip.size();
        const Bytes checked(out.begin() + f.stub.size() + kBlockSize, out.end());
        const ConfigBlock block = BlockAt(out, f.stub.size());
        EXPECT_EQ(block.expectedCrc, Crc32(checked)) << "everything behind the block, alignment included";
        EXPECT_EQ(out.size() % 8, 0u);
        if (keepOffsets) EXPECT_EQ(Bytes(out.begin() + archiveStart, out.end()), f.zip) << "the archive byte for byte";
        else EXPECT_NE(block.expectedCrc, Crc32(f.zip)) << "the CRC of the archive as written, not as given";

        WriteBytes(f.scratch / "signed.exe", FakeSigned(out));
        for (const char* file : {"out.exe", "signed.exe"}) {
            const ProcessResult test = Mksfx(f.scratch, {"--test", f.scratch / file});
            EXPECT_EQ(test.exitCode, 0) << test.out << test.err;
            const bool isSigned = file == std::string("signed.exe");
            EXPECT_EQ(test.out.rfind(isSigned ? "signed: certificate table" : "not signed\n", 0), 0u) << test.out;
        }

        Bytes damaged = out;
        damaged[f.stub.size() + kBlockSize + 44] ^= 0x01;  // in the first entry
        WriteBytes(f.scratch / "damaged.exe", damaged);
        const ProcessResult mismatch = Mksfx(f.scratch, {"--test", f.scratch / "damaged.exe"});
        EXPECT_EQ(mismatch.exitCode, 1);
        EXPECT_NE(mismatch.err.find("the block expects"), std::string::npos) << mismatch.err;
    }
    Fixture f;
    ASSERT_EQ(f.Build({}).exitCode, 0);
    EXPECT_EQ(BlockAt(f.Output(), f.stub.size()).expectedCrc, 0u) << "no check unless asked for";
}
