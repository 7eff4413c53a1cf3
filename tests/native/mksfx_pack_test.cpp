// mksfx packs files and folders: unzip and 7-Zip (the oracles) read back the same tree, the
// UTF-8 flag marks only names that need it, and the same tree gives the same bytes.
#include <sys/resource.h>
#include <time.h>

#include "mksfx_test_support.h"

using namespace mksfx_test;

namespace {

// A tree with what packing must get right.
void MakeTree(const Scratch& s) {
    for (const char* folder : {"src/docs/deep", "src/empty"}) fs::create_directories(s / folder);
    WriteText(s / "src/readme.txt", "read me\n");
    WriteText(s / "src/empty.txt", "");
    std::string text, noise;
    for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + "\n";
    for (uint32_t x = 1; noise.size() < 70000;) noise += char((x = x * 1103515245 + 12345) >> 23);
    WriteText(s / "src/docs/deep/lines.txt", text);
    WriteText(s / "src/docs/noise.bin", noise);
    WriteText(s / "src/docs/caf\xC3\xA9.txt", "caf\xC3\xA9\n");
    WriteText(s / "src/docs/locked.txt", "read only\n");
    fs::permissions(s / "src/docs/locked.txt", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}

uint32_t Dos(int year, int month, int day, int hour, int minute, int second) {
    return uint32_t((year - 1980) << 9 | month << 5 | day) << 16 | uint32_t(hour << 11 | minute << 5 | second / 2);
}

}  // namespace

TEST(MksfxPack, ExtractsAsTheTreeWithUnzipAnd7Zip) {
    if (!HaveTool("unzip") || !HaveTool("7z")) GTEST_SKIP() << "Info-ZIP unzip or 7-Zip is not installed";
    struct Case {
        const char* given;
        const char* top;  // what the tree's top is called in the archive
        const char* level;
        uint32_t textMethod;
    };
    for (const Case& c : {Case{"src/", "", "9", 8}, Case{"src", "src/", "9", 8}, Case{"src/", "", "0", 0}}) {
        SCOPED_TRACE(std::string(c.given) + " at level " + c.level);
        Scratch s;
        MakeTree(s);
        WriteBytes(s / "stub.exe", FakeStub());
        const ProcessResult build = Mksfx(s, {"-s", s / "stub.exe", "-l", c.level, "-o", s / "out.exe", s / c.given});
        ASSERT_EQ(build.exitCode, 0) << build.err;
        EXPECT_EQ(build.err, "");
        ASSERT_EQ(Shell(s, "mkdir unzipped && cd unzipped && LC_ALL=C.UTF-8 unzip -q ../out.exe"), 0);
        EXPECT_EQ(Shell(s, std::string("diff -r src unzipped/") + c.top), 0) << "names, folders or bytes differ";
        EXPECT_EQ(Shell(s, "7z t out.exe"), 0);

        const Bytes out = ReadBytes(s / "out.exe");
        EXPECT_EQ(out.size() % 8, 0u) << "a signature would not follow the archive directly";
        const StoredOffsets stored = ReadStoredOffsets(out);
        ASSERT_EQ(stored.records.size(), 9u + (*c.top != 0));
        EXPECT_TRUE(std::is_sorted(stored.records.begin(), stored.records.end(),
                                   [](const CentralFields& a, const CentralFields& b) { return a.name < b.name; }));
        for (const CentralFields& r : stored.records) {
            SCOPED_TRACE(r.name);
            const bool ascii = std::all_of(r.name.begin(), r.name.end(), [](char ch) { return ch > 0; });
            EXPECT_EQ(r.flags, ascii ? 0u : 0x800u);
            const bool folder = r.name.back() == '/';
            EXPECT_EQ(r.externalAttributes & 0xFF, folder ? 0x10u : r.name.ends_with("locked.txt") ? 0x01u : 0u);
            if (r.name.ends_with("lines.txt")) EXPECT_EQ(r.method, c.textMethod);
            if (r.name.ends_with("noise.bin") || folder) EXPECT_EQ(r.method, 0u) << "stored where Deflate is no smaller";
        }
    }
}

TEST(MksfxPack, SameTreeSameBytesAndSourceDateEpoch) {
    Scratch s;
    MakeTree(s);
    WriteBytes(s / "stub.exe", FakeStub());
    const auto setTime = [&](const char* name, time_t t) {
        fs::last_write_time(s / name, fs::file_time_type::clock::from_sys(std::chrono::system_clock::from_time_t(t)));
    };
    setTime("src/readme.txt", 1577934245);  // 2020-01-02 03:04:05 UTC
    setTime("src/empty.txt", 1893456000);   // 2030-01-01 00:00:00 UTC
    const std::string epoch = "SOURCE_DATE_EPOCH=1735689601";  // 2025-01-01 00:00:01 UTC
    const auto build = [&](const std::string& out, std::vector<std::string> environment) {
        const ProcessResult run = Mksfx(s, {"-s", s / "stub.exe", "-o", s / out, s / "src/"}, environment);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return ReadBytes(s / out);
    };
    const Bytes utc = build("utc.exe", {"TZ=UTC"});
    EXPECT_EQ(build("again.exe", {"TZ=UTC"}), utc);
    EXPECT_NE(build("tokyo.exe", {"TZ=Asia/Tokyo"}), utc) << "times are local without SOURCE_DATE_EPOCH";
    const Bytes clamped = build("clamped.exe", {"TZ=UTC", epoch});
    EXPECT_EQ(build("clamped-tokyo.exe", {"TZ=Asia/Tokyo", epoch}), clamped) << "UTC with SOURCE_DATE_EPOCH";
    for (const CentralFields& r : ReadStoredOffsets(clamped).records) {
        if (r.name == "readme.txt") EXPECT_EQ(r.dosTime, Dos(2020, 1, 2, 3, 4, 6)) << "older: kept, odd seconds up";
        else EXPECT_EQ(r.dosTime, Dos(2025, 1, 1, 0, 0, 2)) << r.name << ": later: clamped";
    }
    EXPECT_EQ(Mksfx(s, {"-s", s / "stub.exe", "-o", s / "bad.exe", s / "src/"}, {"SOURCE_DATE_EPOCH=1e9"}).exitCode, 1)
        << "a malformed SOURCE_DATE_EPOCH is refused";
}

// 65,535 entries and more need the ZIP64 end records; one fewer does not.
TEST(MksfxPack, Zip64EndRecordsFromTheEntryCountOn) {
    Scratch s;
    WriteBytes(s / "stub.exe", FakeStub());
    fs::create_directory(s / "many");
    for (int i = 0; i < 0xFFFE; ++i) WriteText(s / "many/" + std::to_string(i), "");
    for (const char* given : {"many/", "many"}) {  // the second adds the folder's own entry
        SCOPED_TRACE(given);
        ASSERT_EQ(Mksfx(s, {"-s", s / "stub.exe", "-l", "0", "-o", s / "out.exe", s / given}).exitCode, 0);
        const Bytes out = ReadBytes(s / "out.exe");
        EXPECT_EQ(std::string(out.end() - 64, out.end()).find("PK\6\7") != std::string::npos, given == std::string("many"));
        EXPECT_EQ(Shell(s, "unzip -tq out.exe && 7z t out.exe"), 0);
    }
}

// Inputs and outputs past 4 GiB, from sparse files: minutes, and gigabytes written.
TEST(MksfxPack, PastFourGibibytes) {
    if (!getenv("DUDORE_LARGE_TESTS")) GTEST_SKIP() << "set DUDORE_LARGE_TESTS=1 to run";
    Scratch s;
    WriteBytes(s / "stub.exe", FakeStub());
    fs::create_directory(s / "in");
    std::ofstream(s / "in/big.bin").close();
    fs::resize_file(s / "in/big.bin", (uint64_t(4) << 30) + 4096);  // a hole: nothing is written
    WriteText(s / "in/small.txt", "behind the big one\n");
    const std::pair<const char*, std::vector<std::string>> kCases[] = {
        {"an entry of 4 GiB and more, deflated", {"-l", "1", "-o", s / "deflated.exe", s / "in/"}},
        {"offsets and the central directory past 4 GiB", {"-l", "0", "-o", s / "stored.zip", s / "in/"}},
        {"that file as the archive given, its offsets moved", {"-o", s / "moved.exe", s / "stored.zip"}},
    };
    for (const auto& [what, options] : kCases) {
        SCOPED_TRACE(what);
        std::vector<std::string> args = {"-s", s / "stub.exe"};
        args.insert(args.end(), options.begin(), options.end());
        const ProcessResult run = Mksfx(s, args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        const std::string out = options[options.size() - 2];
        EXPECT_EQ(Shell(s, "unzip -tq " + out + " && 7z t " + out), 0);
    }
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_LT(usage.ru_maxrss, 128 * 1024) << "kilobytes: memory grew with the input";
}
