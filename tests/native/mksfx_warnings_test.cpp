// What the stub accepts but would not honour as written: mksfx builds the file and says
// so, one "mksfx: warning: " line for each.
#include "mksfx_test_support.h"

using namespace mksfx_test;

namespace {

const ZipPlan kPlain = {.entries = {{"one.txt", "one\n"}, {"two.txt", "two\n"}}};

// A central record signature with room for its fixed fields, as a stub might hold in
// its code by accident: the stub's central-record search, started before the archive,
// takes it for the first record.
Bytes CodeWithRecordSignature() {
    Bytes code = {'P', 'K', 1, 2};
    code.resize(64, 0);
    return code;
}

}  // namespace

TEST(MksfxWarns, AboutWhatTheStubWillNotHonour) {
    struct Case {
        const char* what;
        ZipPlan zip;
        std::vector<std::string> options;
        const char* says;
        FakeStubPlan stub;
    };
    const Case cases[] = {
        {"name with a colon", {.entries = {{"a:b.txt", "x"}}}, {}, "\"a:b.txt\": the stub skips names holding"},
        {"name with a vertical bar", {.entries = {{"dir/x|y", "x"}}}, {}, "\"dir/x|y\": the stub skips names"},
        {"name of 260 bytes, a colon last", {.entries = {{std::string(259, 'L') + ":", "x"}}}, {},
         "LL:\": the stub skips names holding"},
        {"delete after command without a command", kPlain, {"--delete-after"}, "--delete-after has no effect"},
        {"title without a question", kPlain, {"-t", "Setup"}, "--title has no effect"},
        {"destination the stub would replace", kPlain, {"-d", "C:\\a|b"}, "replaces a destination"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scratch s;
        WriteBytes(s / "in.zip", MakeZip(c.zip));
        WriteBytes(s / "stub.exe", FakeStub(c.stub));
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"-s", s / "stub.exe", "-o", s / "out.exe", s / "in.zip"});
        const ProcessResult run = Mksfx(s, args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(fs::exists(s / "out.exe"));
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        for (const std::string& line : run.ErrLines()) EXPECT_EQ(line.rfind("mksfx: warning: ", 0), 0u) << line;
    }
}

// Without a warning to give, mksfx says nothing on stderr: also when the offsets count
// from the archive's start and the stub holds a record signature, since the stub takes
// the central directory where the end record's sizes put it.
TEST(MksfxWarns, NotAboutAPlainArchive) {
    for (const char* keep : {"", "--keep-offsets"}) {
        SCOPED_TRACE(keep);
        Scratch s;
        WriteBytes(s / "in.zip", MakeZip(kPlain));
        WriteBytes(s / "stub.exe", FakeStub({.code = CodeWithRecordSignature()}));
        std::vector<std::string> args = {"-s", s / "stub.exe", "-o", s / "out.exe", s / "in.zip"};
        if (*keep) args.push_back(keep);
        const ProcessResult run = Mksfx(s, args);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.err, "");
    }
}
