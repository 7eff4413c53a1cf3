// The distributor's identity: mksfx rebuilds the built stub images with an icon, version
// strings, an execution level and DPI awareness, and the result reads back the same with
// independent readers (icoutils for the icon, python3-pefile for the headers, the version
// resource and the manifest) as with --show.
#include "mksfx_test_support.h"

using namespace mksfx_test;

namespace {

// Checks an image against the unbranded stub it came from; prints "ok" or what is wrong.
const char kPefileOracle[] = R"PY(
import sys, pefile
branded, stub = pefile.PE(sys.argv[1]), pefile.PE(sys.argv[2])
o = branded.OPTIONAL_HEADER
def fail(why): sys.exit(why)
if o.CheckSum != branded.generate_checksum(): fail("checksum")
end = o.SizeOfHeaders
for s in branded.sections:
    if s.SizeOfRawData and s.PointerToRawData != end: fail("sections not contiguous at " + str(s.Name))
    end += s.SizeOfRawData
last = branded.sections[-1]
if o.SizeOfImage != (last.VirtualAddress + last.Misc_VirtualSize + o.SectionAlignment - 1) // o.SectionAlignment * o.SectionAlignment: fail("SizeOfImage")
def walk(directory, depth):
    keys = [(e.name is None, e.id if e.name is None else str(e.name)) for e in directory.entries]
    if keys != sorted(keys): fail("resource directory not sorted at depth %d" % depth)
    for e in directory.entries:
        if hasattr(e, "directory"): walk(e.directory, depth + 1)
walk(branded.DIRECTORY_ENTRY_RESOURCE, 0)
relocations = lambda pe: sorted(r.rva for b in pe.DIRECTORY_ENTRY_BASERELOC for r in b.entries if r.type)
if relocations(branded) != relocations(stub): fail("relocations differ")
def resources(pe):
    return {(t.id, n.id, l.id): pe.get_data(l.data.struct.OffsetToData, l.data.struct.Size)
            for t in pe.DIRECTORY_ENTRY_RESOURCE.entries for n in t.directory.entries for l in n.directory.entries}
old, new = resources(stub), resources(branded)
group = old[(14, 100, 0)]
replaced = {(14, 100)} | {(3, int.from_bytes(group[6 + 14 * i + 12:6 + 14 * i + 14], "little")) for i in range(group[4])}
for key, data in old.items():
    if key[0] not in (16, 24) and key[:2] not in replaced and new.get(key) != data: fail("resource %s changed" % (key,))
strings = {k.decode(): v.decode() for fi in branded.FileInfo[0] if hasattr(fi, "StringTable") for t in fi.StringTable for k, v in t.entries.items()}
fixed = branded.VS_FIXEDFILEINFO[0]
print(strings["CompanyName"], strings["ProductName"], strings["FileDescription"], sep="|")
print("%d.%d.%d.%d" % (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF))
manifest = [e for e in branded.DIRECTORY_ENTRY_RESOURCE.entries if e.id == 24][0].directory.entries[0].directory.entries[0].data.struct
print(branded.get_data(manifest.OffsetToData, manifest.Size).decode())
)PY";

// An icon file of 16 and 32-pixel bitmaps and a 256-pixel PNG, and its images extracted.
bool MakeIcon(const Scratch& s) {
    return HaveTool("icotool") && HaveTool("convert") &&
           Shell(s, "for n in 16 32 256; do convert -size ${n}x$n 'gradient:rgba(255,0,0,0.5)-rgba(0,0,255,1)' PNG32:i$n.png; "
                    "done && "
                    "icotool -c -o in.ico i16.png i32.png -r i256.png && mkdir given && icotool -x -o given in.ico") == 0;
}

}  // namespace

TEST(MksfxIdentity, RebuiltImagesReadBackWithIndependentReaders) {
    const std::vector<std::string> stubs = StubImagesFromEnvironment();
    if (stubs.empty()) GTEST_SKIP() << "DUDORE_STUB_IMAGES names no built stub image";
    if (!HaveTool("wrestool") || system("/usr/bin/python3 -c 'import pefile' 2>/dev/null") != 0)
        GTEST_SKIP() << "icoutils or python3-pefile is not installed";
    for (const std::string& stub : stubs) {
        SCOPED_TRACE(stub);
        Scratch s;
        ASSERT_TRUE(MakeIcon(s));
        WriteBytes(s / "in.zip", MakeZip({.entries = {{"a.txt", "alpha\n"}}}));
        WriteText(s / "oracle.py", kPefileOracle);
        const ProcessResult build = Mksfx(s, {"-s", stub, "-o", s / "out.exe", "--icon=" + s / "in.ico",
                                              "--version-info=CompanyName=Ærø Tools", "--version-info=ProductName=Tool",
                                              "--version-info=FileVersion=2.5.0.7", "--execution-level=requireAdministrator",
                                              "--dpi-aware=no", "-d", "%ProgramFiles%\\Tool", s / "in.zip"});
        ASSERT_EQ(build.exitCode, 0) << build.err;
        EXPECT_EQ(build.err, "") << "no warning: administrator rights are asked for";
        const Bytes out = ReadBytes(s / "out.exe");
        const size_t imageSize = FindBlockOffset(out.data(), out.size());
        WriteBytes(s / "image.exe", Bytes(out.begin(), out.begin() + long(imageSize)));

        const ProcessResult pe = RunProgram(s, "/usr/bin/python3", {s / "oracle.py", s / "image.exe", stub});
        ASSERT_EQ(pe.exitCode, 0) << pe.err;
        EXPECT_EQ(pe.out.rfind("Ærø Tools|Tool|DUD-ORE self-extractor\n2.5.0.7\n", 0), 0u) << pe.out;
        EXPECT_NE(pe.out.find("level=\"requireAdministrator\""), std::string::npos) << pe.out;
        EXPECT_NE(pe.out.find(">false</dpiAware>"), std::string::npos) << pe.out;
        for (const char* ns : {"urn:schemas-microsoft-com:asm.v1\"", "urn:schemas-microsoft-com:asm.v3\"",
                               "WindowsSettings\""}) {
            size_t count = 0;
            for (size_t at = pe.out.find(ns); at != std::string::npos; at = pe.out.find(ns, at + 1)) ++count;
            EXPECT_EQ(count, 1u) << ns << " declared more than once";
        }

        // The program icon's group holds exactly the images given, byte for byte.
        ASSERT_EQ(Shell(s, "wrestool -x -t14 -n100 -o group.ico image.exe && mkdir taken && icotool -x -o taken group.ico"), 0);
        for (const char* image : {"_1_16x16x32.png", "_2_32x32x32.png", "_3_256x256x32.png"})
            EXPECT_EQ(Shell(s, std::string("cmp given/in") + image + " taken/group" + image), 0) << image;

        const ProcessResult show = Mksfx(s, {"--show", s / "out.exe"});
        EXPECT_EQ(show.exitCode, 0) << show.err;
        for (const char* line : {"  icon: 16x16 32-bit, 32x32 32-bit, 256x256 32-bit PNG\n",
                                 "  fixed version: file 2.5.0.7, product 1.0.0.0\n", "  CompanyName: Ærø Tools\n",
                                 "  execution level: requireAdministrator\n", "  DPI aware: false\n"})
            EXPECT_NE(show.out.find(line), std::string::npos) << line << show.out;
    }
}

TEST(MksfxIdentity, RefusesABadIdentityAndWarnsAboutSystemFolders) {
    const std::vector<std::string> stubs = StubImagesFromEnvironment();
    if (stubs.empty()) GTEST_SKIP() << "DUDORE_STUB_IMAGES names no built stub image";
    struct Case {
        std::string option;
        const char* says;
    };
    Scratch s;
    WriteBytes(s / "in.zip", MakeZip({.entries = {{"a.txt", "alpha\n"}}}));
    WriteText(s / "text.ico", "not an icon at all\n");
    Bytes ico = {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0, 40, 0, 0, 0, 22, 0, 0, 0};
    ico.resize(22 + 40, 0);
    ico[22] = 40, ico[26] = 32, ico[30] = 32;  // a 32-pixel bitmap where the entry says 16
    WriteBytes(s / "wrong.ico", ico);
    WriteBytes(s / "short.ico", Bytes(ico.begin(), ico.begin() + 40));
    const Case cases[] = {
        {"--icon=" + s / "text.ico", "no icon file header"},
        {"--icon=" + s / "wrong.ico", "another size"},
        {"--icon=" + s / "short.ico", "outside the file"},
        {"--version-info=Company=Me", "unknown key \"Company\""},
        {"--version-info=Comments=" + std::string(256, 'c'), "longer than 255"},
        {"--version-info=Comments=caf\xE9", "not UTF-8"},
        {"--version-info=Comments", "KEY=VALUE"},
        {"--execution-level=root", "--execution-level takes"},
        {"--dpi-aware=maybe", "--dpi-aware takes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        const ProcessResult run = Mksfx(s, {"-s", stubs[0], "-o", s / "out.exe", c.option, s / "in.zip"});
        EXPECT_NE(run.exitCode, 0);
        ASSERT_EQ(run.ErrLines().size(), 1u) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(s / "out.exe"));
    }
    for (const char* folder : {"%ProgramFiles%\\Tool", "%WinDir%\\Tool", "%SystemDir%\\Tool", "%Desktop%\\Tool"}) {
        const ProcessResult run = Mksfx(s, {"-s", stubs[0], "-o", s / "out.exe", "-d", folder, s / "in.zip"});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err.find("--execution-level=requireAdministrator") != std::string::npos, folder[1] != 'D') << folder;
    }
}
