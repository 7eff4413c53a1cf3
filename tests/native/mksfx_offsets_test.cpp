// The archive's stored offsets once it lies behind the stub and block: moved so that
// they count from the start of the file (Info-ZIP unzip then reads it without complaint,
// and the stub's central-record search starts exactly at the central directory), or
// left alone with --keep-offsets. Archives that already had data in front of them come
// out right whether their offsets counted from their own start or from the file's.
#include <functional>

#include "mksfx_test_support.h"

using namespace mksfx_test;

namespace {

struct Input {
    const char* what;
    std::function<Bytes(const Scratch&)> make;
    size_t entries;
    bool zip64;
};

Bytes InfoZip(const Scratch& s) {
    WriteText(s / "notes.txt", "notes\n");
    WriteText(s / "data.bin", std::string(20000, 'd'));
    fs::create_directory(s / "docs");
    WriteText(s / "docs/guide.txt", "guide\n");
    EXPECT_EQ(Shell(s, "zip -q -r made.zip notes.txt data.bin docs"), 0);
    return ReadBytes(s / "made.zip");
}

const Bytes kJunk(777, 0x4A);

const ZipPlan kEntries = {.entries = {{"one.txt", "one\n"}, {"two/", "", 0, 0x10}, {"two/three.txt", "three\n"}}};

ZipPlan With(ZipPlan plan, std::function<void(ZipPlan&)> change) {
    change(plan);
    return plan;
}

const Input kInputs[] = {
    {"made by Info-ZIP zip", InfoZip, 4, false},
    {"Info-ZIP archive behind other data, offsets from the archive's start",
     [](const Scratch& s) { return Concat(kJunk, InfoZip(s)); }, 4, false},
    {"Info-ZIP archive behind other data, offsets from the file's start (zip -A)",
     [](const Scratch& s) {
         WriteBytes(s / "joined.zip", Concat(kJunk, InfoZip(s)));
         EXPECT_EQ(Shell(s, "zip -q -A joined.zip"), 0);
         return ReadBytes(s / "joined.zip");
     },
     4, false},
    {"written by hand", [](const Scratch&) { return MakeZip(kEntries); }, 3, false},
    {"behind other data, offsets from the archive's start",
     [](const Scratch&) { return MakeZip(With(kEntries, [](ZipPlan& z) { z.prefix = kJunk; })); }, 3, false},
    {"behind other data, offsets from the file's start",
     [](const Scratch&) {
         return MakeZip(With(kEntries, [](ZipPlan& z) {
             z.prefix = kJunk;
             z.offsetsFromFileStart = true;
         }));
     },
     3, false},
    {"ZIP64 end records",
     [](const Scratch&) { return MakeZip(With(kEntries, [](ZipPlan& z) { z.zip64 = true; })); }, 3, true},
    {"ZIP64 extra fields holding the local offsets, behind other data",
     [](const Scratch&) {
         return MakeZip(With(kEntries, [](ZipPlan& z) {
             z.zip64 = z.zip64Extras = true;
             z.prefix = kJunk;
         }));
     },
     3, true},
    {"ZIP64 end records behind other data",
     [](const Scratch&) {
         return MakeZip(With(kEntries, [](ZipPlan& z) {
             z.zip64 = true;
             z.prefix = kJunk;
         }));
     },
     3, true},
};

// The stand-in stub, and the real images when the build names them.
std::vector<std::pair<std::string, Bytes>> Stubs() {
    std::vector<std::pair<std::string, Bytes>> stubs = {{"stand-in stub", FakeStub()}};
    for (const std::string& path : StubImagesFromEnvironment()) stubs.push_back({path, ReadBytes(path)});
    return stubs;
}

}  // namespace

TEST(MksfxOffsets, MovedOffsetsPointAtTheirRecords) {
    if (!HaveTool("zip") || !HaveTool("unzip")) GTEST_SKIP() << "Info-ZIP zip and unzip are not installed";
    for (const auto& [stubName, stub] : Stubs()) {
        for (const Input& input : kInputs) {
            SCOPED_TRACE(stubName + ", archive " + input.what);
            Scratch s;
            const Bytes zip = input.make(s);
            WriteBytes(s / "in.zip", zip);
            WriteBytes(s / "stub.exe", stub);
            const ProcessResult build = Mksfx(s, {"-s", s / "stub.exe", "-o", s / "out.exe", s / "in.zip"});
            ASSERT_EQ(build.exitCode, 0) << build.err;
            const Bytes out = ReadBytes(s / "out.exe");
            ASSERT_EQ(out.size(), Aligned(stub.size() + kBlockSize + zip.size()));

            const StoredOffsets stored = ReadStoredOffsets(out);
            ASSERT_EQ(stored.localOffsets.size(), input.entries)
                << "the central directory offset " << stored.centralOffset << " does not lead to the records";
            for (uint64_t local : stored.localOffsets) EXPECT_TRUE(HasLocalHeaderAt(out, local)) << local;

            const ProcessResult unzip = RunProgram(s, "unzip", {"-t", s / "out.exe"});
            EXPECT_EQ(unzip.exitCode, 0) << unzip.out << unzip.err;
            EXPECT_EQ(unzip.out.find("extra bytes"), std::string::npos) << unzip.out;
            EXPECT_NE(unzip.out.find("No errors detected"), std::string::npos) << unzip.out;

            // The stub's reader pairs every entry with its own central record: nothing to warn about.
            const ProcessResult show = Mksfx(s, {"--show", s / "out.exe"});
            EXPECT_EQ(show.exitCode, 0) << show.err;
            EXPECT_EQ(show.err, "");
        }
    }
}

TEST(MksfxOffsets, KeepOffsetsAppendsTheArchiveByteForByte) {
    if (!HaveTool("zip") || !HaveTool("unzip")) GTEST_SKIP() << "Info-ZIP zip and unzip are not installed";
    Scratch s;
    const Bytes zip = InfoZip(s);
    const Bytes stub = FakeStub();
    WriteBytes(s / "in.zip", zip);
    WriteBytes(s / "stub.exe", stub);
    const ProcessResult build = Mksfx(s, {"--keep-offsets", "-s", s / "stub.exe", "-o", s / "out.exe", s / "in.zip"});
    ASSERT_EQ(build.exitCode, 0) << build.err;
    const Bytes out = ReadBytes(s / "out.exe");
    ASSERT_EQ(out.size(), Aligned(stub.size() + kBlockSize + zip.size()));
    EXPECT_TRUE(std::equal(zip.begin(), zip.end(), out.end() - long(zip.size())));

    // Info-ZIP notices the offsets are off by the stub, block and alignment, and copes.
    const ProcessResult unzip = RunProgram(s, "unzip", {"-t", s / "out.exe"});
    EXPECT_NE(unzip.out.find(std::to_string(out.size() - zip.size()) + " extra bytes at beginning"),
              std::string::npos)
        << unzip.out << unzip.err;
    EXPECT_NE(unzip.out.find("No errors detected"), std::string::npos) << unzip.out;
}
