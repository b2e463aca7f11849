// The resources inside the built brevora-bugreporter.exe, read from the file
// as the dialog manager and the shell read them.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/wine/dialog_template.h"
#include "tests/wine/expected_dialogs.h"
#include "tests/wine/test_support.h"

namespace {

const WORD kNeutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);

class ReporterResources : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_module = LoadLibraryExW(GetBuiltFile(L"brevora-bugreporter.exe").c_str(), NULL,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }
    static void TearDownTestSuite()
    {
        if (s_module != NULL)
            FreeLibrary(s_module);
        s_module = NULL;
    }
    void SetUp() override { ASSERT_NE(nullptr, s_module) << "cannot load the reporter's resources"; }

    // The bytes of a language-neutral resource, or an empty vector.
    static std::vector<BYTE> LoadNeutral(LPCWSTR type, LPCWSTR name)
    {
        HRSRC info = FindResourceExW(s_module, type, name, kNeutral);
        if (info == NULL)
            return {};
        HGLOBAL handle = LoadResource(s_module, info);
        const BYTE* data = static_cast<const BYTE*>(LockResource(handle));
        if (data == NULL)
            return {};
        return std::vector<BYTE>(data, data + SizeofResource(s_module, info));
    }

    static HMODULE s_module;
};

HMODULE ReporterResources::s_module = NULL;

class DialogTemplateTest : public ReporterResources, public ::testing::WithParamInterface<ExpectedDialog> {};

TEST_P(DialogTemplateTest, HeaderAndEveryControlMatch)
{
    const ExpectedDialog& want = GetParam();
    std::vector<BYTE> bytes = LoadNeutral(RT_DIALOG, MAKEINTRESOURCEW(want.resourceId));
    ASSERT_FALSE(bytes.empty()) << "no language-neutral dialog " << want.resourceId;

    DialogTemplate got;
    std::string why;
    ASSERT_TRUE(ParseDialogTemplateEx(bytes.data(), bytes.size(), got, why)) << why;

    EXPECT_EQ(1, got.version);
    EXPECT_EQ(0xFFFF, got.signature);
    EXPECT_EQ(0u, got.helpId);
    EXPECT_EQ(want.style, got.style) << std::hex << got.style;
    EXPECT_EQ(want.exStyle, got.exStyle) << std::hex << got.exStyle;
    EXPECT_EQ(want.controls.size(), got.itemCount);
    EXPECT_EQ(0, got.x);
    EXPECT_EQ(0, got.y);
    EXPECT_EQ(want.cx, got.cx);
    EXPECT_EQ(want.cy, got.cy);
    EXPECT_TRUE(got.menu.IsEmpty());
    EXPECT_TRUE(got.windowClass.IsEmpty());
    EXPECT_EQ(std::wstring(want.title), got.title);
    EXPECT_EQ(8, got.pointSize);
    EXPECT_EQ(400, got.weight);
    EXPECT_EQ(0, got.italic);
    EXPECT_EQ(DEFAULT_CHARSET, got.charset);
    EXPECT_EQ(std::wstring(L"MS Shell Dlg"), got.typeface);

    ASSERT_EQ(want.controls.size(), got.items.size());
    for (size_t i = 0; i < want.controls.size(); ++i) {
        const ExpectedControl& w = want.controls[i];
        const DialogItem& g = got.items[i];
        SCOPED_TRACE("control #" + std::to_string(i + 1));
        EXPECT_EQ(0u, g.helpId);
        EXPECT_EQ(0u, g.exStyle);
        EXPECT_EQ(w.style, g.style) << std::hex << g.style;
        EXPECT_EQ(w.x, g.x);
        EXPECT_EQ(w.y, g.y);
        EXPECT_EQ(w.cx, g.cx);
        EXPECT_EQ(w.cy, g.cy);
        EXPECT_EQ(w.id, g.id);
        if (w.className != nullptr) {
            EXPECT_FALSE(g.windowClass.isOrdinal);
            // windres stores the name upper-cased; class names ignore case.
            EXPECT_EQ(0, _wcsicmp(w.className, g.windowClass.text.c_str()));
        } else {
            EXPECT_TRUE(g.windowClass.isOrdinal) << "class given by name, not by atom";
            EXPECT_EQ(w.classAtom, g.windowClass.ordinal);
        }
        EXPECT_FALSE(g.title.isOrdinal);
        EXPECT_EQ(std::wstring(w.text), g.title.text);
        EXPECT_EQ(std::wstring::npos, g.title.text.find(L'&')) << "no mnemonics";
        EXPECT_EQ(0, g.extraCount) << "no creation data";
    }
}

INSTANTIATE_TEST_SUITE_P(Templates, DialogTemplateTest, ::testing::ValuesIn(ExpectedDialogs()),
                         [](const ::testing::TestParamInfo<ExpectedDialog>& info) { return std::string(info.param.name); });

#pragma pack(push, 2)
struct GroupIconEntry
{
    BYTE width;
    BYTE height;
    BYTE colorCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInRes;
    WORD id;
};
#pragma pack(pop)

TEST_F(ReporterResources, IconGroupHasFourUncompressed32BitImages)
{
    std::vector<BYTE> group = LoadNeutral(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_APP));
    ASSERT_GE(group.size(), 6u) << "no icon group " << IDI_APP;
    const WORD* header = reinterpret_cast<const WORD*>(group.data());
    EXPECT_EQ(0, header[0]);
    EXPECT_EQ(1, header[1]) << "type: icon";
    ASSERT_EQ(4, header[2]);
    ASSERT_EQ(6u + 4 * sizeof(GroupIconEntry), group.size());

    const struct { WORD id; int pixels; BYTE groupSize; } want[] = {
        { 1, 256, 0 }, { 2, 48, 48 }, { 3, 32, 32 }, { 4, 16, 16 },
    };
    const GroupIconEntry* entries = reinterpret_cast<const GroupIconEntry*>(group.data() + 6);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE("image of " + std::to_string(want[i].pixels) + " pixels");
        const GroupIconEntry& e = entries[i];
        EXPECT_EQ(want[i].id, e.id);
        EXPECT_EQ(want[i].groupSize, e.width);
        EXPECT_EQ(want[i].groupSize, e.height);
        EXPECT_EQ(1, e.planes);
        EXPECT_EQ(32, e.bitCount);

        std::vector<BYTE> image = LoadNeutral(RT_ICON, MAKEINTRESOURCEW(e.id));
        ASSERT_EQ(e.bytesInRes, image.size());
        ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
        EXPECT_NE(0, std::memcmp(image.data(), "\x89PNG", 4)) << "PNG-compressed image";
        BITMAPINFOHEADER bih;
        std::memcpy(&bih, image.data(), sizeof(bih));
        EXPECT_EQ(sizeof(BITMAPINFOHEADER), bih.biSize);
        EXPECT_EQ(want[i].pixels, bih.biWidth);
        EXPECT_EQ(want[i].pixels * 2, bih.biHeight) << "colour bitmap and AND mask";
        EXPECT_EQ(1, bih.biPlanes);
        EXPECT_EQ(32, bih.biBitCount);
        EXPECT_EQ(static_cast<DWORD>(BI_RGB), bih.biCompression);
        const size_t colour = static_cast<size_t>(want[i].pixels) * want[i].pixels * 4;
        const size_t mask = static_cast<size_t>((want[i].pixels + 31) / 32 * 4) * want[i].pixels;
        EXPECT_EQ(sizeof(BITMAPINFOHEADER) + colour + mask, image.size());
    }
}

TEST_F(ReporterResources, IconLoadsAtEverySize)
{
    HMODULE module = LoadLibraryExW(GetBuiltFile(L"brevora-bugreporter.exe").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);
    for (int pixels : { 16, 32, 48, 256 }) {
        SCOPED_TRACE(pixels);
        HICON icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, pixels, pixels, 0));
        ASSERT_NE(nullptr, icon);
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bm = {};
        GetObjectW(info.hbmColor, sizeof(bm), &bm);
        EXPECT_EQ(pixels, bm.bmWidth);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
    FreeLibrary(module);
}

TEST(ReporterVersionBlock, FixedPartStringsAndTranslation)
{
    const std::wstring path = GetBuiltFile(L"brevora-bugreporter.exe");
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_NE(0u, size);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = NULL;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), len);
    EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
    EXPECT_EQ(MAKELONG(0, 1), fixed->dwFileVersionMS);
    EXPECT_EQ(0u, fixed->dwFileVersionLS);
    EXPECT_EQ(MAKELONG(0, 1), fixed->dwProductVersionMS);
    EXPECT_EQ(0u, fixed->dwProductVersionLS);
    EXPECT_EQ(0x17u, fixed->dwFileFlagsMask);
    EXPECT_EQ(0u, fixed->dwFileFlags);
    EXPECT_EQ(static_cast<DWORD>(VOS__WINDOWS32), fixed->dwFileOS);
    EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);
    EXPECT_EQ(0u, fixed->dwFileSubtype);
    EXPECT_EQ(0u, fixed->dwFileDateMS);
    EXPECT_EQ(0u, fixed->dwFileDateLS);

    WORD* translation = NULL;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &len));
    ASSERT_EQ(4u, len);
    EXPECT_EQ(0x0000, translation[0]);
    EXPECT_EQ(0x04B0, translation[1]);

    const struct { const wchar_t* key; const wchar_t* value; } strings[] = {
        { L"FileDescription", L"Brevora Bug Reporter" },
        { L"ProductName", L"Brevora Bug Reporter" },
        { L"FileVersion", L"1, 0, 0, 0" },
        { L"ProductVersion", L"1, 0, 0, 0" },
    };
    for (const auto& s : strings) {
        std::wstring query = std::wstring(L"\\StringFileInfo\\000004b0\\") + s.key;
        wchar_t* value = NULL;
        ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &len))
            << "missing string";
        EXPECT_EQ(std::wstring(s.value), std::wstring(value));
    }
}

TEST_F(ReporterResources, ManifestAsksForNoElevationAndNoThemedControls)
{
    std::vector<BYTE> bytes = LoadNeutral(RT_MANIFEST, MAKEINTRESOURCEW(1));
    ASSERT_FALSE(bytes.empty()) << "no manifest 1";
    std::string manifest(bytes.begin(), bytes.end());
    EXPECT_NE(std::string::npos, manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"));
    EXPECT_EQ(std::string::npos, manifest.find("Microsoft.Windows.Common-Controls"));
    EXPECT_EQ(std::string::npos, manifest.find("dependentAssembly"));
}

}  // namespace
