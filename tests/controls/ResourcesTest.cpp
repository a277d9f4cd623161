// The program's pictures as the windows load them: every icon, cursor and bitmap by its name from
// this test program's own module (which carries resources/Program.rc like the program), with the
// sizes, formats, hot spots and transparent colour the windows rely on.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

HMODULE Module() {
    return GetModuleHandleA(nullptr);
}

std::uint16_t Read16(const std::uint8_t *At) {
    return static_cast<std::uint16_t>(At[0] | At[1] << 8);
}

// The bytes of a resource of this module; empty when it is missing.
std::vector<std::uint8_t> ResourceBytes(LPCSTR Name, LPCSTR Type) {
    HRSRC found = FindResourceA(Module(), Name, Type);
    if (!found)
        return {};
    HGLOBAL loaded = LoadResource(Module(), found);
    const auto *bytes = static_cast<const std::uint8_t *>(LockResource(loaded));
    if (!bytes)
        return {};
    return std::vector<std::uint8_t>(bytes, bytes + SizeofResource(Module(), found));
}

// One image of an icon group as the resource compiler stored it.
struct GroupEntry {
    int Width, Height, BitCount;
    WORD Id;
};

// Entries of a group icon resource: a 6-byte header, then 14 bytes per image.
std::vector<GroupEntry> IconGroup(const char *Name) {
    std::vector<std::uint8_t> bytes = ResourceBytes(Name, MAKEINTRESOURCEA(14)); // RT_GROUP_ICON
    std::vector<GroupEntry> entries;
    if (bytes.size() < 6 || Read16(&bytes[2]) != 1)
        return entries;
    const unsigned count = Read16(&bytes[4]);
    for (unsigned i = 0; i < count && 6 + 14 * (i + 1) <= bytes.size(); ++i) {
        const std::uint8_t *at = &bytes[6 + 14 * i];
        entries.push_back({at[0] ? at[0] : 256, at[1] ? at[1] : 256, Read16(at + 6), Read16(at + 12)});
    }
    return entries;
}

// Pixels of a bitmap as 0x00RRGGBB, top row first.
std::vector<std::uint32_t> Pixels(HBITMAP Bitmap, int Width, int Height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = Width;
    info.bmiHeader.biHeight = -Height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint32_t> pixels(static_cast<size_t>(Width) * Height);
    HDC screen = GetDC(nullptr);
    const int rows = GetDIBits(screen, Bitmap, 0, Height, pixels.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(rows, Height);
    for (std::uint32_t &pixel : pixels)
        pixel &= 0xFFFFFF;
    return pixels;
}

const char *const IconNames[] = {"MAINICON", "FRACTALICON", "GRADIENTICON", "EDITORICON", "BROWSERICON",
                                 "OFR_FILE", "OPR_FILE",    "OGR_FILE",     "OAL_FILE",   "OXF_FILE",
                                 "OFM_FILE", "OCL_FILE",    "ORJ_FILE"};

TEST(ProgramResources, EachIconHoldsSixteenAndThirtyTwoPixelImagesWithAlpha) {
    for (const char *name : IconNames) {
        SCOPED_TRACE(name);
        std::vector<GroupEntry> group = IconGroup(name);
        ASSERT_EQ(group.size(), 2u);
        for (const GroupEntry &entry : group) {
            EXPECT_EQ(entry.Width, entry.Height);
            EXPECT_TRUE(entry.Width == 16 || entry.Width == 32);
            EXPECT_EQ(entry.BitCount, 32);
        }
        EXPECT_NE(group[0].Width, group[1].Width);
        for (int size : {16, 32}) {
            HICON icon = static_cast<HICON>(LoadImageA(Module(), name, IMAGE_ICON, size, size, 0));
            ASSERT_NE(icon, nullptr) << size;
            ICONINFO info = {};
            ASSERT_TRUE(GetIconInfo(icon, &info));
            EXPECT_TRUE(info.fIcon);
            BITMAP colour = {};
            ASSERT_NE(info.hbmColor, nullptr);
            GetObjectA(info.hbmColor, sizeof(colour), &colour);
            EXPECT_EQ(colour.bmWidth, size);
            EXPECT_EQ(colour.bmHeight, size);
            DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
            DestroyIcon(icon);
        }
    }
}

// The file manager shows a program's first icon group, and the resource directory sorts the groups
// by name: whatever comes first must show the program's picture.
BOOL CALLBACK CollectGroupName(HMODULE, LPCSTR, LPSTR Name, LONG_PTR Param) {
    try {
        auto *names = reinterpret_cast<std::vector<std::string> *>(Param);
        names->push_back(IS_INTRESOURCE(Name) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(Name))
                                              : Name);
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

TEST(ProgramResources, FirstIconGroupOfTheProgramShowsTheMainIcon) {
    std::vector<std::string> names;
    EnumResourceNamesA(Module(), MAKEINTRESOURCEA(14), CollectGroupName, reinterpret_cast<LONG_PTR>(&names));
    ASSERT_FALSE(names.empty());
    std::vector<GroupEntry> first = IconGroup(names[0].c_str()), main = IconGroup("MAINICON");
    ASSERT_EQ(first.size(), main.size()) << names[0];
    for (size_t i = 0; i < main.size(); ++i) {
        const LPCSTR image = MAKEINTRESOURCEA(3); // RT_ICON
        std::vector<std::uint8_t> shown = ResourceBytes(MAKEINTRESOURCEA(first[i].Id), image);
        EXPECT_FALSE(shown.empty());
        EXPECT_TRUE(shown == ResourceBytes(MAKEINTRESOURCEA(main[i].Id), image))
            << "the file manager shows " << names[0] << ", image " << i << " differs from MAINICON";
    }
}

// Hot spot of each cursor where its picture points, and a pixel just beyond that point that the
// picture leaves clear.
struct CursorCase {
    const char *Name;
    POINT HotSpot;
    POINT Beyond;
};

const CursorCase Cursors[] = {
    {"DRAG", {1, 1}, {0, 0}},         // the arrow's tip
    {"DRAGCOPY", {1, 1}, {0, 0}},     // the same arrow, with a plus
    {"EYEDROPPER", {2, 29}, {1, 30}}, // the pipette's tip at the lower left
    {"INSERT", {16, 15}, {16, 13}},   // the middle of the insertion line, one pixel thick
};

TEST(ProgramResources, CursorsHaveTheirHotSpotsOnTheirTips) {
    for (const CursorCase &c : Cursors) {
        SCOPED_TRACE(c.Name);
        HCURSOR cursor = LoadCursorA(Module(), c.Name);
        ASSERT_NE(cursor, nullptr);
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(cursor, &info));
        EXPECT_FALSE(info.fIcon);
        EXPECT_EQ(static_cast<LONG>(info.xHotspot), c.HotSpot.x);
        EXPECT_EQ(static_cast<LONG>(info.yHotspot), c.HotSpot.y);
        BITMAP mask = {};
        GetObjectA(info.hbmMask, sizeof(mask), &mask);
        EXPECT_EQ(mask.bmWidth, 32);
        EXPECT_EQ(info.hbmColor ? mask.bmHeight : mask.bmHeight / 2, 32);
        // The mask is black where the picture covers the screen.
        std::vector<std::uint32_t> pixels = Pixels(info.hbmMask, 32, 32);
        EXPECT_EQ(pixels[c.HotSpot.y * 32 + c.HotSpot.x], 0u);
        EXPECT_EQ(pixels[c.Beyond.y * 32 + c.Beyond.x], 0xFFFFFFu);
        if (info.hbmColor)
            DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
    }
}

struct BitmapCase {
    const char *Name;
    int Width, Height;
};

const BitmapCase Bitmaps[] = {{"ABOUT", 560, 280}, {"TOOLBAR_MAIN", 64, 16}, {"MENUIMAGES", 160, 16}};

HBITMAP LoadBitmapResource(const char *Name) {
    return static_cast<HBITMAP>(LoadImageA(Module(), Name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

TEST(ProgramResources, BitmapsHaveTheirSizesInTrueColour) {
    for (const BitmapCase &c : Bitmaps) {
        SCOPED_TRACE(c.Name);
        HBITMAP bitmap = LoadBitmapResource(c.Name);
        ASSERT_NE(bitmap, nullptr);
        BITMAP info = {};
        GetObjectA(bitmap, sizeof(info), &info);
        EXPECT_EQ(info.bmWidth, c.Width);
        EXPECT_EQ(info.bmHeight, c.Height);
        EXPECT_EQ(info.bmBitsPixel, 24);
        DeleteObject(bitmap);
    }
}

// Each 16 x 16 button stands on magenta, which the lower left pixel gives as the transparent colour;
// the menus begin with the tool bar's four buttons.
TEST(ProgramResources, ButtonImagesStandOnMagentaAndTheMenusBeginWithTheToolBar) {
    HBITMAP toolbar = LoadBitmapResource("TOOLBAR_MAIN"), menus = LoadBitmapResource("MENUIMAGES");
    ASSERT_NE(toolbar, nullptr);
    ASSERT_NE(menus, nullptr);
    std::vector<std::uint32_t> tools = Pixels(toolbar, 64, 16), items = Pixels(menus, 160, 16);
    const std::uint32_t magenta = 0xFF00FF;
    for (int button = 0; button < 10; ++button) {
        SCOPED_TRACE(button);
        EXPECT_EQ(items[15 * 160 + 16 * button], magenta);
        int drawn = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                drawn += items[y * 160 + 16 * button + x] != magenta;
        EXPECT_GT(drawn, 40);
        EXPECT_LT(drawn, 256);
    }
    for (int y = 0; y < 16; ++y)
        EXPECT_EQ(std::memcmp(&tools[y * 64], &items[y * 160], 64 * sizeof(std::uint32_t)), 0) << "row " << y;
    DeleteObject(toolbar);
    DeleteObject(menus);
}

} // namespace
