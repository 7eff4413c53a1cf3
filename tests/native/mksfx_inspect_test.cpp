// mksfx's show and test modes: show prints back what the builder wrote, test reports
// each entry and never calls good what it could not decode.
#include "codecs/decode_entry.h"
#include "mksfx_test_support.h"

using namespace mksfx_test;

namespace {

const std::string kPeers = DUDORE_PEER_ARCHIVES;

std::string Hex(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "%08x", value);
    return text;
}

// The row of `name` in show's entry table, split into its columns.
std::vector<std::string> RowOf(const std::string& table, const std::string& name) {
    std::istringstream in(table);
    for (std::string line; std::getline(in, line);) {
        if (line.size() < name.size() || line.compare(line.size() - name.size(), name.size(), name) != 0) continue;
        std::istringstream columns(line);
        std::vector<std::string> row;
        for (std::string c; columns >> c;) row.push_back(c);
        return row;
    }
    return {};
}

}  // namespace

TEST(MksfxShow, PrintsWhatWasWritten) {
    Scratch s;
    const ZipPlan plan = {.entries = {{"setup.exe", std::string(1234, 'e'), 0, 0x21},
                                      {"data/", "", 0, 0x10},
                                      {"data/table.csv", "a;b\n1;2\n", 0, 0x20}}};
    WriteBytes(s / "in.zip", MakeZip(plan));
    WriteBytes(s / "stub.exe", FakeStub());
    const ProcessResult build = Mksfx(s, {"-s", s / "stub.exe", "-o", s / "out.exe", "-d", "%Desktop%\\Tool", "-c",
                                "setup.exe /s", "-y", "--no-explorer", "--delete-after", "--skip-dialog", "-t",
                                "Tool setup", "-q", "Install Tool?", "--crc", s / "in.zip"});
    ASSERT_EQ(build.exitCode, 0) << build.err;
    const Bytes out = ReadBytes(s / "out.exe");
    const uint32_t archiveCrc = Crc32(Bytes(out.begin() + FakeStub().size() + kBlockSize, out.end()));

    const ProcessResult show = Mksfx(s, {"--show", s / "out.exe"});
    ASSERT_EQ(show.exitCode, 0) << show.err;
    for (const std::string& expected : {
             std::string("destination               \"%Desktop%\\Tool\"\n"),
             std::string("command                   \"setup.exe /s\"\n"),
             std::string("overwrite without asking  1\n"),
             std::string("open Explorer afterwards  0\n"),
             std::string("delete after command      1\n"),
             std::string("skip destination dialog   1\n"),
             "expected CRC-32           " + Hex(archiveCrc) + "\n",
             std::string("question title            \"Tool setup\"\n"),
             std::string("question text             \"Install Tool?\"\n"),
             "CRC-32 of the archive: " + Hex(archiveCrc) + " (as expected)\n",
             std::string("3 entries\n"),
         })
        EXPECT_NE(show.out.find(expected), std::string::npos) << expected << " not in:\n" << show.out;

    // method, compressed, uncompressed, CRC-32, flags, attributes, name
    for (const ZipEntryPlan& e : plan.entries) {
        const std::string size = std::to_string(e.data.size());
        char attributes[8];
        snprintf(attributes, sizeof attributes, "0x%02x", e.externalAttributes);
        EXPECT_EQ(RowOf(show.out, e.name),
                  (std::vector<std::string>{"0", size, size, Hex(Crc32(e.data)), "0x0000", attributes, e.name}))
            << show.out;
    }

    // A whole ZIP hidden in the certificate table after signing: the stub never reads it.
    WriteBytes(s / "signed.exe", FakeSigned(out, MakeZip({.entries = {{"planted.exe", "MZ"}}})));
    for (const char* mode : {"--show", "--test"}) {
        const ProcessResult signedRun = Mksfx(s, {mode, s / "signed.exe"});
        EXPECT_EQ(signedRun.out.find("planted.exe"), std::string::npos) << mode << signedRun.out;
        EXPECT_NE(signedRun.out.find("3 entries"), std::string::npos) << mode << signedRun.out;
        EXPECT_NE(signedRun.err.find("certificate table holds ZIP records"), std::string::npos) << mode << signedRun.err;
    }

    const ProcessResult plain = Mksfx(s, {"--show", s / "in.zip"});
    EXPECT_EQ(plain.exitCode, 1);
    EXPECT_NE(plain.err.find("not a self-extracting file"), std::string::npos) << plain.err;
}

TEST(MksfxTest, ReportsEachEntryOfPeerArchives) {
    struct Case {
        const char* archive;
        const char* password;
        uint32_t method;  // of the entries that hold data
        size_t files, folders;
        bool verifiable;  // apart from the method: false when encrypted and no password
    };
    const Case cases[] = {
        {"Zip.deflate.zip", nullptr, 8, 3, 3, true},
        {"Zip.deflate64.zip", nullptr, 9, 3, 3, true},
        {"Zip.shrink.zip", nullptr, 1, 1, 0, true},
        {"Zip.reduce4.zip", nullptr, 5, 2, 0, true},
        {"Zip.implode.zip", nullptr, 6, 2, 0, true},
        {"Zip.none.datadescriptors.zip", nullptr, 0, 2, 0, true},
        {"zipcrypto.zip", nullptr, 0, 8, 0, false},
        {"zipcrypto.zip", "test", 0, 8, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.archive) + (c.password ? " with a password" : ""));
        Scratch s;
        std::vector<std::string> args = {"--test", kPeers + "/" + c.archive};
        if (c.password) args.insert(args.end(), {"--password", c.password});
        const ProcessResult run = Mksfx(s, args);
        const bool verified = c.verifiable && HasDecoder(c.method);
        size_t ok = 0, unverified = 0, folders = 0;
        std::istringstream in(run.out);
        for (std::string line; std::getline(in, line);) {
            ok += line.rfind("ok ", 0) == 0;
            unverified += line.rfind("not verified ", 0) == 0;
            folders += line.rfind("folder ", 0) == 0;
            EXPECT_EQ(line.rfind("CRC error ", 0), std::string::npos) << line;
        }
        // Files of other methods in the same archive (shrunk text, stored pictures) count
        // on whichever side their own decoder puts them.
        EXPECT_GE(verified ? ok : unverified, c.files) << run.out;
        EXPECT_EQ(folders, c.folders) << run.out;
        EXPECT_EQ(run.exitCode, unverified == 0 ? 0 : 3) << run.out << run.err;
        if (!c.verifiable) EXPECT_NE(run.out.find("give --password"), std::string::npos) << run.out;
    }
}

TEST(MksfxTest, AWrongPasswordIsNotAGoodEntry) {
    Scratch s;
    const ProcessResult run = Mksfx(s, {"--test", "-p", "not the password", kPeers + "/zipcrypto.zip"});
    // over.txt is empty: no encryption header byte to check a password against, no data
    // to decode, so it passes with any password. The seven others are rejected.
    EXPECT_NE(run.out.find("1 ok, 0 CRC errors, 7 not verified"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("the password does not open it"), std::string::npos) << run.out;
    EXPECT_EQ(run.exitCode, 3);
}

TEST(MksfxCommandLine, MistakesAreUsageErrors) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"in.zip"},
        {"-o", "out.exe"},
        {"--bogus", "-o", "out.exe", "in.zip"},
        {"-o"},
        {"--show", "one.exe", "two.exe"},
        {"--level", "10", "-o", "out.exe", "folder"},
        {"--show"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        Scratch s;
        const ProcessResult run = Mksfx(s, args);
        EXPECT_EQ(run.exitCode, 2);
        ASSERT_EQ(run.ErrLines().size(), 1u) << run.err;
        EXPECT_EQ(run.err.rfind("mksfx: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find("--help"), std::string::npos) << run.err;
    }
}
