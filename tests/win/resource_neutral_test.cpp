// The language-neutral resources of the stub image: the three icon groups, the
// application manifest and the version resource.
#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "resource_image.h"

namespace {

using namespace resource_test;

// ---- Icons --------------------------------------------------------------------------

struct ExpectedIconGroup {
    WORD id;
    std::vector<int> sizes;  // square images, in the order the group lists them
};

const ExpectedIconGroup kIconGroups[] = {
    {100, {32}},      // the program file's icon
    {101, {32, 16}},  // the password dialog
    {102, {32}},      // the overwrite dialog
};

struct GroupEntry {
    int width, height, colours, planes, bitCount;
    uint32_t bytes;
    WORD iconId;
};

std::vector<GroupEntry> ReadGroup(Bytes bytes, bool* ok) {
    Reader in(bytes);
    std::vector<GroupEntry> entries;
    const uint16_t reserved = in.Word(), type = in.Word();
    const bool header = reserved == 0 && type == 1;  // type 1: icons
    for (uint16_t n = in.Word(); n > 0 && !in.overrun(); --n) {
        GroupEntry e;
        e.width = in.Byte();
        e.height = in.Byte();
        e.colours = in.Byte();
        in.Byte();
        e.planes = in.Word();
        e.bitCount = in.Word();
        e.bytes = in.Dword();
        e.iconId = in.Word();
        entries.push_back(e);
    }
    *ok = header && !in.overrun() && in.AtEnd();
    return entries;
}

// Decodes one 4-bit icon image: counts its opaque and transparent pixels and the
// distinct colours that its opaque pixels show.
struct ImageFacts {
    int width = 0, height = 0, bitCount = 0;
    uint32_t expectedBytes = 0;
    int opaque = 0, transparent = 0;
    std::set<uint32_t> colours;
};

ImageFacts ReadImage(Bytes bytes) {
    Reader in(bytes);
    ImageFacts f;
    const uint32_t headerSize = in.Dword();
    f.width = int32_t(in.Dword());
    f.height = int32_t(in.Dword()) / 2;  // colour rows, then mask rows
    in.Word();                           // planes
    f.bitCount = in.Word();
    if (headerSize != 40 || f.bitCount != 4 || f.width <= 0 || f.width > 256 || f.height != f.width) return f;
    const size_t paletteAt = 40, colourAt = paletteAt + 16 * 4;
    const size_t colourStride = (f.width * 4 + 31) / 32 * 4, maskStride = (f.width + 31) / 32 * 4;
    const size_t maskAt = colourAt + colourStride * f.height;
    f.expectedBytes = uint32_t(maskAt + maskStride * f.height);
    if (bytes.size < f.expectedBytes) return f;
    for (int y = 0; y < f.height; ++y) {
        for (int x = 0; x < f.width; ++x) {
            const bool see_through = bytes.data[maskAt + y * maskStride + x / 8] >> (7 - x % 8) & 1;
            if (see_through) {
                ++f.transparent;
                continue;
            }
            ++f.opaque;
            const uint8_t pair = bytes.data[colourAt + y * colourStride + x / 2];
            const int index = x % 2 ? pair & 15 : pair >> 4;
            const uint8_t* quad = bytes.data + paletteAt + 4 * index;
            f.colours.insert(uint32_t(quad[2]) << 16 | quad[1] << 8 | quad[0]);
        }
    }
    return f;
}

TEST(Icons, EachGroupHasItsSizesIn16Colours) {
    for (const ExpectedIconGroup& g : kIconGroups) {
        SCOPED_TRACE(testing::Message() << "icon group " << g.id);
        EXPECT_EQ(Languages(RT_GROUP_ICON, g.id), std::set<WORD>{kNeutral});
        bool ok = false;
        std::vector<GroupEntry> entries = ReadGroup(FindBytes(RT_GROUP_ICON, g.id, kNeutral), &ok);
        ASSERT_TRUE(ok);
        ASSERT_EQ(entries.size(), g.sizes.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            const GroupEntry& e = entries[i];
            SCOPED_TRACE(testing::Message() << "image " << e.iconId);
            EXPECT_EQ(e.width, g.sizes[i]);
            EXPECT_EQ(e.height, g.sizes[i]);
            EXPECT_EQ(e.colours, 16);
            EXPECT_EQ(e.planes, 1);
            EXPECT_EQ(e.bitCount, 4);

            Bytes image = FindBytes(RT_ICON, e.iconId, kNeutral);
            ASSERT_NE(image.data, nullptr);
            EXPECT_EQ(image.size, e.bytes);
            ImageFacts f = ReadImage(image);
            EXPECT_EQ(f.width, g.sizes[i]);
            EXPECT_EQ(f.bitCount, 4);
            EXPECT_EQ(image.size, f.expectedBytes);  // a bare 4-bit image: nothing wasted
            // A picture, not a blank: drawn on a see-through background in several colours.
            EXPECT_GT(f.opaque, f.width * f.height / 4);
            EXPECT_GT(f.transparent, 0);
            EXPECT_GE(f.colours.size(), 4u);
        }
    }
}

TEST(Icons, TheSystemDecodesEveryImageAtItsSize) {
    for (const ExpectedIconGroup& g : kIconGroups) {
        for (int size : g.sizes) {
            SCOPED_TRACE(testing::Message() << "icon group " << g.id << ", " << size << "x" << size);
            HICON icon = HICON(LoadImageW(StubImage(), MAKEINTRESOURCEW(g.id), IMAGE_ICON, size, size, 0));
            ASSERT_NE(icon, nullptr);
            ICONINFO info = {};
            ASSERT_TRUE(GetIconInfo(icon, &info));
            BITMAP mask = {};
            GetObjectW(info.hbmMask, sizeof mask, &mask);
            EXPECT_EQ(mask.bmWidth, size);
            if (info.hbmColor) DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
            DestroyIcon(icon);
        }
    }
}

// The overwrite icon strikes the existing document through with a red cross.
TEST(Icons, OverwriteIconShowsRed) {
    bool ok = false;
    std::vector<GroupEntry> entries = ReadGroup(FindBytes(RT_GROUP_ICON, 102, kNeutral), &ok);
    ASSERT_TRUE(ok);
    ASSERT_FALSE(entries.empty());
    ImageFacts f = ReadImage(FindBytes(RT_ICON, entries[0].iconId, kNeutral));
    EXPECT_TRUE(f.colours.count(0xFF0000));
}

// ---- Manifest -----------------------------------------------------------------------

// The value of attribute `name` in the first element `element` at or after `from`.
std::string Attribute(const std::string& xml, const std::string& element, const std::string& name, size_t from = 0) {
    size_t start = xml.find("<" + element + " ", from);
    if (start == std::string::npos) return "(no " + element + ")";
    size_t end = xml.find('>', start);
    std::string tag = xml.substr(start, end - start);
    size_t at = tag.find(" " + name + "=\"");
    if (at == std::string::npos) return "(no " + name + ")";
    at += name.size() + 3;
    return tag.substr(at, tag.find('"', at) - at);
}

// The processor the image is built for, from the machine field of its PE header.
std::string ImageArchitecture() {
    FILE* f = fopen(DUDORE_STUB_NAME, "rb");
    if (!f) return "(unreadable)";
    unsigned char dos[64], pe[6];
    std::string arch = "(unknown)";
    if (fread(dos, 1, sizeof dos, f) == sizeof dos) {
        long peAt = dos[60] | dos[61] << 8 | dos[62] << 16 | long(dos[63]) << 24;
        if (fseek(f, peAt, SEEK_SET) == 0 && fread(pe, 1, sizeof pe, f) == sizeof pe && pe[0] == 'P' && pe[1] == 'E') {
            const int machine = pe[4] | pe[5] << 8;
            if (machine == IMAGE_FILE_MACHINE_I386) arch = "X86";
            if (machine == IMAGE_FILE_MACHINE_AMD64) arch = "amd64";
        }
    }
    fclose(f);
    return arch;
}

TEST(Manifest, NamesTheProgramCommonControls6AndTheExecutionLevel) {
    EXPECT_EQ(Languages(RT_MANIFEST, 1), std::set<WORD>{kNeutral});
    Bytes bytes = FindBytes(RT_MANIFEST, 1, kNeutral);
    ASSERT_NE(bytes.data, nullptr);
    const std::string xml(reinterpret_cast<const char*>(bytes.data), bytes.size);
    const std::string arch = ImageArchitecture();

    EXPECT_EQ(Attribute(xml, "assemblyIdentity", "name"), "Vizi-Davedizur");
    EXPECT_EQ(Attribute(xml, "assemblyIdentity", "version"), "1.0.0.0");
    EXPECT_EQ(Attribute(xml, "assemblyIdentity", "processorArchitecture"), arch);
    EXPECT_EQ(Attribute(xml, "assemblyIdentity", "type"), "win32");
    EXPECT_NE(xml.find("<description>Vizi-Davedizur Module</description>"), std::string::npos);

    const size_t dependency = xml.find("<dependentAssembly>");
    ASSERT_NE(dependency, std::string::npos);
    EXPECT_EQ(Attribute(xml, "assemblyIdentity", "name", dependency), "Microsoft.Windows.Common-Controls");
    EXPECT_EQ(Attribute(xml, "assemblyIdentity", "version", dependency), "6.0.0.0");
    EXPECT_EQ(Attribute(xml, "assemblyIdentity", "processorArchitecture", dependency), arch);
    EXPECT_EQ(Attribute(xml, "assemblyIdentity", "publicKeyToken", dependency), "6595b64144ccf1df");
    EXPECT_EQ(Attribute(xml, "assemblyIdentity", "language", dependency), "*");
    EXPECT_EQ(xml.find("<dependentAssembly>", dependency + 1), std::string::npos);  // the only one

    // Run as the user who started it, never virtualized; the dialogs scale with the DPI.
    EXPECT_EQ(Attribute(xml, "v3:requestedExecutionLevel", "level"), "asInvoker");
    EXPECT_NE(xml.find(">true</dpiAware>"), std::string::npos);
}

// ---- Version ------------------------------------------------------------------------

// Read through version.dll, as Explorer's file properties do.
TEST(Version, NamesTheProjectAndAgreesWithItsNumbers) {
    EXPECT_EQ(Languages(RT_VERSION, 1), std::set<WORD>{kNeutral});
    HMODULE version = LoadLibraryA("version.dll");
    ASSERT_NE(version, nullptr);
    auto sizeOf = reinterpret_cast<DWORD(WINAPI*)(LPCSTR, LPDWORD)>(GetProcAddress(version, "GetFileVersionInfoSizeA"));
    auto read = reinterpret_cast<BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID)>(GetProcAddress(version, "GetFileVersionInfoA"));
    auto query = reinterpret_cast<BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT)>(GetProcAddress(version, "VerQueryValueW"));
    ASSERT_TRUE(sizeOf && read && query);

    DWORD ignored = 0;
    std::vector<char> info(sizeOf(DUDORE_STUB_NAME, &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(read(DUDORE_STUB_NAME, 0, DWORD(info.size()), info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(query(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));
    const std::wstring numbers = std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
                                 std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
                                 std::to_wstring(HIWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);

    auto text = [&](const wchar_t* field) {
        wchar_t* value = nullptr;
        UINT chars = 0;
        std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + field;
        if (!query(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &chars) || !value) return std::wstring(L"(none)");
        return std::wstring(value);
    };
    EXPECT_EQ(text(L"ProductName"), L"DUD-ORE");
    EXPECT_NE(text(L"FileDescription").find(L"DUD-ORE"), std::wstring::npos);
    EXPECT_EQ(text(L"FileVersion"), numbers);
    FreeLibrary(version);
}

}  // namespace
