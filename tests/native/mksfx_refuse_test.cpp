// mksfx refuses what the stub could not use: one "mksfx: " line per reason on stderr, a
// non-zero exit, and no output left behind (an existing one untouched).
#include <sys/stat.h>

#include <functional>

#include "mksfx_test_support.h"

using namespace mksfx_test;

namespace {

const std::string kPeers = DUDORE_PEER_ARCHIVES;

Bytes GoodZip() { return MakeZip({.entries = {{"a.txt", "alpha\n"}, {"b.txt", "beta\n"}}}); }

// Every line of stderr is one of mksfx's own.
void ExpectOwnLines(const ProcessResult& run) {
    ASSERT_FALSE(run.ErrLines().empty());
    for (const std::string& line : run.ErrLines()) EXPECT_EQ(line.rfind("mksfx: ", 0), 0u) << line;
}

}  // namespace

TEST(MksfxRefuses, WhatTheStubCannotUse) {
    struct Case {
        const char* what;
        std::function<void(const Scratch&)> setUp;  // writes stub.exe and in.zip, may change them
        std::string output;                         // relative to the scratch folder
        const char* says;                           // part of the message
        std::string input = "in.zip";               // or tree/, a folder to pack
    };
    // A folder to pack: one good file, and `name`.
    const auto tree = [](const Scratch& s, const std::string& name) {
        fs::create_directories(fs::path(s / "tree/" + name).parent_path());
        WriteText(s / "tree/good.txt", "good\n");
        WriteText(s / "tree/" + name, "text\n");
    };
    const Case cases[] = {
        {"input is not a ZIP", [](const Scratch& s) { WriteText(s / "in.zip", "just some text, no archive\n"); },
         "out.exe", "no end-of-central-directory record"},
        {"input is empty", [](const Scratch& s) { WriteText(s / "in.zip", ""); }, "out.exe",
         "no end-of-central-directory record"},
        {"input is missing", [](const Scratch& s) { fs::remove(s / "in.zip"); }, "out.exe", "in.zip"},
        {"archive without entries", [](const Scratch& s) { WriteBytes(s / "in.zip", MakeZip({})); }, "out.exe",
         "no entries"},
        {"AES-encrypted entries (method 99)",
         [](const Scratch& s) { fs::copy_file(kPeers + "/Zip.none.encrypted.zip", s / "in.zip",
                                               fs::copy_options::overwrite_existing); },
         "out.exe", "method 99"},
        {"method 12 declared",
         [](const Scratch& s) { WriteBytes(s / "in.zip", MakeZip({.entries = {{"x.bz2", "data", 12}}})); },
         "out.exe", "method 12"},
        {"method 7 declared",
         [](const Scratch& s) { WriteBytes(s / "in.zip", MakeZip({.entries = {{"x.tok", "data", 7}}})); },
         "out.exe", "\"x.tok\": method 7 (tokenized) is a method the stub cannot extract"},
        {"name of 1024 bytes", [](const Scratch& s) {
             WriteBytes(s / "in.zip", MakeZip({.entries = {{"ok.txt", "fine"}, {std::string(1024, 'n'), "long"}}}));
         }, "out.exe", "would not find this entry: its name is longer than 1023 bytes"},
        {"stub is not an executable", [](const Scratch& s) { WriteText(s / "stub.exe", "#!/bin/sh\n"); },
         "out.exe", "no MZ header"},
        {"stub has no PE header", [](const Scratch& s) { WriteBytes(s / "stub.exe", FakeStub({.pe = false})); },
         "out.exe", "not a PE image"},
        {"stub has data after its last section",
         [](const Scratch& s) { WriteBytes(s / "stub.exe", FakeStub({.trailingBytes = 16})); }, "out.exe",
         "last section"},
        {"stub already carries a block",
         [](const Scratch& s) { WriteBytes(s / "stub.exe", Concat(FakeStub(), Bytes(kBlockSize, 0))); }, "out.exe",
         "last section"},
        {"stub section without a dot",
         [](const Scratch& s) { WriteBytes(s / "stub.exe", FakeStub({.sections = {".text", "CODE", ".rsrc"}})); },
         "out.exe", "CODE"},
        {"stub is missing", [](const Scratch& s) { fs::remove(s / "stub.exe"); }, "out.exe", "stub.exe"},
        {"output folder is missing", [](const Scratch&) {}, "missing/out.exe", "cannot write"},
        {"output is a folder", [](const Scratch& s) { fs::create_directory(s / "folder"); }, "folder",
         "not a regular file"},
        {"output is a FIFO", [](const Scratch& s) { mkfifo((s / "fifo").c_str(), 0644); }, "fifo",
         "not a regular file"},
        {"output is the stub", [](const Scratch&) {}, "stub.exe", "which this run reads"},
        {"output is a link to the archive",
         [](const Scratch& s) { fs::create_symlink("in.zip", s / "link.zip"); }, "link.zip", "which this run reads"},
        {"packing: output is a packed file", [&](const Scratch& s) { tree(s, "x"); }, "tree/good.txt",
         "which this run reads", "tree/"},
        {"packing: a name with an escape byte", [&](const Scratch& s) { tree(s, "red\x1b[31m.txt"); }, "out.exe",
         "red\\x1b[31m.txt", "tree/"},
        {"packing: a link that leaves the folder",
         [&](const Scratch& s) { tree(s, "x"), fs::create_symlink("../in.zip", s / "tree/link.zip"); }, "out.exe",
         "symbolic link \"link.zip\" leaves", "tree/"},
        {"packing: a link back to a folder that holds it",
         [&](const Scratch& s) { tree(s, "sub/x"), fs::create_directory_symlink("..", s / "tree/sub/up"); }, "out.exe",
         "\"sub/up\" leads back", "tree/"},
        {"packing: a name with a colon", [&](const Scratch& s) { tree(s, "a:b.txt"); }, "out.exe", "\"a:b.txt\"",
         "tree/"},
        {"packing: a name that is not UTF-8", [&](const Scratch& s) { tree(s, "latin\xE9.txt"); }, "out.exe",
         "not valid UTF-8", "tree/"},
        {"packing: a name over 259 bytes", [&](const Scratch& s) { tree(s, "dddd/" + std::string(255, 'n')); },
         "out.exe", "the stub reads 259 at most", "tree/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scratch s;
        WriteBytes(s / "stub.exe", FakeStub());
        WriteBytes(s / "in.zip", GoodZip());
        WriteText(s / "out.exe", "older file");
        c.setUp(s);
        const std::vector<std::string> before = s.Names();
        const ProcessResult run = Mksfx(s, {"-s", s / "stub.exe", "-o", s / c.output, s / c.input});
        EXPECT_EQ(run.exitCode, 1);
        ExpectOwnLines(run);
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << "a name reached the terminal raw";
        EXPECT_EQ(s.Names(), before) << "a file was left behind";
        const Bytes kept = ReadBytes(s / "out.exe");
        EXPECT_EQ(std::string(kept.begin(), kept.end()), "older file");
    }
}

// A stored entry whose data was changed after the archive was made: the test mode names
// it, and the builder refuses with one line for it.
TEST(MksfxRefuses, AnEntryWhoseDataNoLongerMatchesItsCrc) {
    if (!HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
    Scratch s;
    WriteText(s / "first.txt", "first file\n");
    WriteText(s / "second.txt", std::string(5000, 's'));
    WriteText(s / "third.txt", "third file\n");
    ASSERT_EQ(Shell(s, "zip -q -0 in.zip first.txt second.txt third.txt"), 0);
    WriteBytes(s / "stub.exe", FakeStub());
    fs::copy_file(s / "in.zip", s / "good.zip");

    Bytes zip = ReadBytes(s / "in.zip");
    const StoredOffsets offsets = ReadStoredOffsets(zip);
    ASSERT_EQ(offsets.localOffsets.size(), 3u);
    const uint64_t second = offsets.localOffsets[1];
    ASSERT_TRUE(HasLocalHeaderAt(zip, second));
    const size_t data = size_t(second + 30 + Get16(zip, second + 26) + Get16(zip, second + 28));
    zip[data + 2500] ^= 0x20;
    WriteBytes(s / "in.zip", zip);

    const ProcessResult good = Mksfx(s, {"--test", s / "good.zip"});
    EXPECT_EQ(good.exitCode, 0) << good.out << good.err;
    EXPECT_NE(good.out.find("3 entries: 3 ok, 0 CRC errors"), std::string::npos) << good.out;

    const ProcessResult test = Mksfx(s, {"--test", s / "in.zip"});
    EXPECT_EQ(test.exitCode, 1);
    EXPECT_NE(test.out.find("ok            first.txt\n"), std::string::npos) << test.out;
    EXPECT_NE(test.out.find("CRC error     second.txt\n"), std::string::npos) << test.out;
    EXPECT_NE(test.out.find("ok            third.txt\n"), std::string::npos) << test.out;

    const ProcessResult build = Mksfx(s, {"-s", s / "stub.exe", "-o", s / "out.exe", s / "in.zip"});
    EXPECT_EQ(build.exitCode, 1);
    ExpectOwnLines(build);
    size_t crcLines = 0;
    for (const std::string& line : build.ErrLines()) crcLines += line.find("CRC error") != std::string::npos;
    EXPECT_EQ(crcLines, 1u) << build.err;
    EXPECT_NE(build.err.find("\"second.txt\": CRC error"), std::string::npos) << build.err;
    EXPECT_FALSE(fs::exists(s / "out.exe"));
}
