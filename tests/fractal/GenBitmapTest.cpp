#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "GenBitmap.h"

namespace {

std::uint16_t Pixel16(const TBaseBitmap &Bitmap, int X, int Y) {
    std::uint16_t value;
    std::memcpy(&value, Bitmap.Bits() + Y * Bitmap.RowBytes() + 2 * X, 2);
    return value;
}

std::uint8_t Pixel8(const TBaseBitmap &Bitmap, int X, int Y) {
    return Bitmap.Bits()[Y * Bitmap.RowBytes() + X];
}

std::uint32_t Pixel32(const TBaseBitmap &Bitmap, int X, int Y) {
    std::uint32_t value;
    std::memcpy(&value, Bitmap.Bits() + Y * Bitmap.RowBytes() + 4 * X, 4);
    return value;
}

// Writes Value into every pixel of the bitmap, one row at a time.
void FillRows(TBaseBitmap &Bitmap, std::uint32_t Value) {
    const std::vector<std::uint32_t> row(Bitmap.Width(), Value);
    for (int y = 0; y < Bitmap.Height(); ++y)
        Bitmap.WriteRow(0, y, row.data(), Bitmap.Width());
}

// Grey 128 is level 15 with a fraction of 8 sixteenths: the positions whose threshold lies below 8 round
// up. Worked out by hand from the 4 x 4 threshold matrix, by display row and column.
constexpr bool GreyRoundsUp[4][4] = {{true, false, true, false},
                                     {false, true, false, true},
                                     {true, false, true, false},
                                     {false, true, false, true}};

// Thresholds 0, 1 and 2 sit at display (column, row) (0, 0), (2, 2) and (0, 2) of each 4 x 4 block, a
// pattern that is not symmetric in rows and columns.
bool ThresholdBelowThree(int X, int Y) {
    const int x = X & 3, y = Y & 3;
    return (x == 0 && (y == 0 || y == 2)) || (x == 2 && y == 2);
}

TEST(GenBitmap, SixteenBitWhiteIsFullAndMidGreyFollowsTheDitherPattern) {
    TBaseBitmap bitmap(TBaseBitmap::bmRGB555, 0);
    bitmap.SetSize(9, 6);
    ASSERT_NE(bitmap.Bits(), nullptr);
    EXPECT_EQ(bitmap.RowBytes(), 20);

    FillRows(bitmap, 0xFFFFFFFF);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 9; ++x)
            ASSERT_EQ(Pixel16(bitmap, x, y), 0x7FFF) << x << ", " << y;

    FillRows(bitmap, 0x00808080);
    const std::uint16_t up = 16 | 16 << 5 | 16 << 10, down = 15 | 15 << 5 | 15 << 10;
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 9; ++x)
            EXPECT_EQ(Pixel16(bitmap, x, y), GreyRoundsUp[y & 3][x & 3] ? up : down) << x << ", " << y;

    // Value 2 is level 0 with a fraction of 3 sixteenths: only thresholds 0, 1 and 2 round up.
    FillRows(bitmap, 0x00020202);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 9; ++x) {
            const bool roundsUp = ThresholdBelowThree(x, y);
            EXPECT_EQ(Pixel16(bitmap, x, y), roundsUp ? 0x0421 : 0) << x << ", " << y;
        }

    // The phase is the display position, not the index in the row.
    FillRows(bitmap, 0x00808080);
    const std::uint32_t grey[2] = {0x00808080, 0x00808080};
    bitmap.WriteRow(5, 1, grey, 2);
    EXPECT_EQ(Pixel16(bitmap, 5, 1), up);
    EXPECT_EQ(Pixel16(bitmap, 6, 1), down);

    // Channels land in 5-5-5 order: red bits 10-14, green 5-9, blue 0-4.
    const std::uint32_t blue = 0x000000FF, red = 0x00FF0000;
    bitmap.WriteRow(0, 0, &blue, 1);
    bitmap.WriteRow(1, 0, &red, 1);
    EXPECT_EQ(Pixel16(bitmap, 0, 0), 0x001F);
    EXPECT_EQ(Pixel16(bitmap, 1, 0), 0x7C00);
}

TEST(GenBitmap, EightBitDithersOntoTheCubeAfterTheReservedColours) {
    TBaseBitmap bitmap(TBaseBitmap::bmPalette8, 20);
    EXPECT_TRUE(bitmap.UsesPalette());
    bitmap.SetSize(7, 5);
    ASSERT_NE(bitmap.Bits(), nullptr);
    EXPECT_EQ(bitmap.RowBytes(), 8);

    const int cube = 10; // 20 reserved entries: the cube starts at index 10
    FillRows(bitmap, 0xFFFFFFFF);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            ASSERT_EQ(Pixel8(bitmap, x, y), cube + 5 * 43) << x << ", " << y;
    FillRows(bitmap, 0);
    EXPECT_EQ(Pixel8(bitmap, 3, 3), cube);
    // 128 is level 2 with a fraction of 8 sixteenths, the same pattern as on 16-bit screens.
    FillRows(bitmap, 0x00808080);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            EXPECT_EQ(Pixel8(bitmap, x, y), cube + (GreyRoundsUp[y & 3][x & 3] ? 3 : 2) * 43)
                << x << ", " << y;

    // Value 10 is level 0 with a fraction of 3 sixteenths: the same pattern as value 2 on 16-bit screens.
    FillRows(bitmap, 0x000A0A0A);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) {
            const bool roundsUp = ThresholdBelowThree(x, y);
            EXPECT_EQ(Pixel8(bitmap, x, y), cube + (roundsUp ? 43 : 0)) << x << ", " << y;
        }

    // Palette and section colour table both carry the cube: entry 10 + 36 r + 6 g + b is (51 r, 51 g, 51 b).
    PALETTEENTRY entries[256];
    ASSERT_EQ(GetPaletteEntries(bitmap.Palette(), 0, 256, entries), 256u);
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(memory, bitmap.Section());
    RGBQUAD colors[256];
    ASSERT_EQ(GetDIBColorTable(memory, 0, 256, colors), 256u);
    SelectObject(memory, old);
    DeleteDC(memory);
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b) {
                const int i = cube + 36 * r + 6 * g + b;
                EXPECT_EQ(entries[i].peRed, 51 * r);
                EXPECT_EQ(entries[i].peGreen, 51 * g);
                EXPECT_EQ(entries[i].peBlue, 51 * b);
                EXPECT_EQ(entries[i].peFlags, PC_NOCOLLAPSE);
                EXPECT_EQ(colors[i].rgbRed, 51 * r);
                EXPECT_EQ(colors[i].rgbGreen, 51 * g);
                EXPECT_EQ(colors[i].rgbBlue, 51 * b);
            }

    // So many reserved entries that the cube would run past the palette: it moves down to fit.
    TBaseBitmap crowded(TBaseBitmap::bmPalette8, 200);
    crowded.SetSize(1, 1);
    FillRows(crowded, 0xFFFFFFFF);
    EXPECT_EQ(Pixel8(crowded, 0, 0), 255);
}

TEST(GenBitmap, ScreenDepthChoosesTheMode) {
    HDC screen = GetDC(nullptr);
    const int depth = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    ReleaseDC(nullptr, screen);
    TBaseBitmap bitmap;
    const std::uint8_t expected = depth == 8                   ? TBaseBitmap::bmPalette8
                                  : depth == 15 || depth == 16 ? TBaseBitmap::bmRGB555
                                                               : TBaseBitmap::bmRGB32;
    EXPECT_EQ(bitmap.Mode(), expected) << depth << " bits";
    EXPECT_EQ(bitmap.UsesPalette(), expected == TBaseBitmap::bmPalette8);
}

TEST(GenBitmap, WritersStayInsideTheSection) {
    TBaseBitmap bitmap(TBaseBitmap::bmRGB32, 0);
    bitmap.SetSize(5, 3);
    EXPECT_EQ(bitmap.RowBytes(), 20);
    const std::uint32_t row[4] = {0x01010101, 0x02020202, 0x03030303, 0x04040404};

    // Plain rows: copied exactly, cut at the right edge, ignored outside the rows.
    bitmap.WriteRow(3, 0, row, 4);
    EXPECT_EQ(Pixel32(bitmap, 3, 0), 0x01010101u);
    EXPECT_EQ(Pixel32(bitmap, 4, 0), 0x02020202u);
    EXPECT_EQ(Pixel32(bitmap, 0, 1), 0u);
    bitmap.WriteRow(0, 3, row, 4);
    bitmap.WriteRow(0, -1, row, 4);
    bitmap.WriteRow(-2, 2, row, 4);
    EXPECT_EQ(Pixel32(bitmap, 0, 2), 0x03030303u);
    EXPECT_EQ(Pixel32(bitmap, 1, 2), 0x04040404u);
    EXPECT_EQ(Pixel32(bitmap, 2, 2), 0u);

    // Doubled rows: 2 x 2 blocks, the odd last column gets half a block, the next row stays untouched.
    bitmap.SetSize(5, 4);
    bitmap.WriteRowDouble(0, 0, row, 3);
    const std::uint32_t doubled[2][5] = {{1, 1, 2, 2, 3}, {1, 1, 2, 2, 3}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(Pixel32(bitmap, x, y), doubled[y][x] * 0x01010101u) << x << ", " << y;
    for (int x = 0; x < 5; ++x)
        EXPECT_EQ(Pixel32(bitmap, x, 2), 0u);

    // On the last row the block is written side by side in that row alone.
    bitmap.WriteRowDouble(0, 3, row + 3, 1);
    EXPECT_EQ(Pixel32(bitmap, 0, 3), 0x04040404u);
    EXPECT_EQ(Pixel32(bitmap, 1, 3), 0x04040404u);
    EXPECT_EQ(Pixel32(bitmap, 0, 2), 0u);

    // The doubled dither takes the phase of the source pixel: grey at source (0..1, 0) gives up, down.
    TBaseBitmap dithered(TBaseBitmap::bmRGB555, 0);
    dithered.SetSize(4, 2);
    const std::uint32_t grey[2] = {0x00808080, 0x00808080};
    dithered.WriteRowDouble(0, 0, grey, 2);
    const std::uint16_t up = 0x4210, down = 0x3DEF;
    for (int y = 0; y < 2; ++y) {
        EXPECT_EQ(Pixel16(dithered, 0, y), up);
        EXPECT_EQ(Pixel16(dithered, 1, y), up);
        EXPECT_EQ(Pixel16(dithered, 2, y), down);
        EXPECT_EQ(Pixel16(dithered, 3, y), down);
    }

    // A size of 0 frees the section, and writers then do nothing.
    for (std::uint8_t mode : {TBaseBitmap::bmPalette8, TBaseBitmap::bmRGB555, TBaseBitmap::bmRGB32}) {
        TBaseBitmap empty(mode, 20);
        empty.SetSize(4, 4);
        ASSERT_NE(empty.Bits(), nullptr);
        empty.SetSize(0, 10);
        EXPECT_EQ(empty.Bits(), nullptr);
        EXPECT_EQ(empty.Section(), nullptr);
        empty.WriteRow(0, 0, row, 4);
        empty.WriteRowDouble(0, 0, row, 4);
        empty.Draw();
    }
}

// A 32-bit top-down section selected into a memory context, to blit into and read back.
class TTarget {
public:
    TTarget(int Width, int Height) : FWidth(Width) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = Width;
        info.bmiHeader.biHeight = -Height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void *bits = nullptr;
        FBitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        FBits = static_cast<std::uint32_t *>(bits);
        FDC = CreateCompatibleDC(nullptr);
        FOld = SelectObject(FDC, FBitmap);
        std::memset(FBits, 0x5A, 4 * Width * Height);
    }
    ~TTarget() {
        SelectObject(FDC, FOld);
        DeleteDC(FDC);
        DeleteObject(FBitmap);
    }
    HDC DC() const { return FDC; }
    std::uint32_t At(int X, int Y) {
        GdiFlush();
        return FBits[Y * FWidth + X] & 0xFFFFFF;
    }

private:
    int FWidth;
    HBITMAP FBitmap;
    std::uint32_t *FBits;
    HDC FDC;
    HGDIOBJ FOld;
};

constexpr std::uint32_t Untouched = 0x5A5A5A;

TEST(GenBitmap, BlitsShowTheColoursOfEveryMode) {
    // Colours on the cube's levels survive every mode exactly, up to 5-bit precision in mode 1.
    const std::uint32_t colors[3] = {0x00FFFFFF, 0x00336699, 0x00000000};
    for (std::uint8_t mode : {TBaseBitmap::bmPalette8, TBaseBitmap::bmRGB555, TBaseBitmap::bmRGB32}) {
        TBaseBitmap bitmap(mode, 20);
        bitmap.SetSize(3, 2);
        bitmap.WriteRow(0, 0, colors, 3);
        bitmap.WriteRow(0, 1, colors, 3);
        TTarget target(4, 3);
        bitmap.BlitTo(target.DC(), RECT{1, 1, 3, 3}, 1, 0);
        const int tolerance = mode == TBaseBitmap::bmRGB555 ? 8 : 0;
        for (int y = 1; y < 3; ++y)
            for (int x = 1; x < 3; ++x)
                for (int channel = 0; channel < 3; ++channel) {
                    const int got = (target.At(x, y) >> (8 * channel)) & 0xFF;
                    const int want = (colors[x] >> (8 * channel)) & 0xFF;
                    EXPECT_NEAR(got, want, tolerance) << "mode " << int(mode) << " at " << x << ", " << y;
                }
        EXPECT_EQ(target.At(0, 0), Untouched);
        EXPECT_EQ(target.At(3, 1), Untouched);
    }
}

TEST(GenBitmap, StretchDrawScalesAndIgnoresAnEmptySource) {
    TBaseBitmap bitmap(TBaseBitmap::bmRGB32, 0);
    bitmap.SetSize(2, 1);
    const std::uint32_t row[2] = {0x00FF0000, 0x000000FF};
    bitmap.WriteRow(0, 0, row, 2);
    TTarget target(4, 2);
    bitmap.StretchDraw(target.DC(), RECT{0, 0, 4, 2}, RECT{0, 0, 2, 1});
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(target.At(x, y), x < 2 ? 0xFF0000u : 0x0000FFu) << x << ", " << y;

    TTarget untouched(2, 2);
    bitmap.StretchDraw(untouched.DC(), RECT{0, 0, 2, 2}, RECT{1, 0, 1, 1});
    bitmap.StretchDraw(untouched.DC(), RECT{0, 0, 2, 2}, RECT{0, 0, 2, 0});
    EXPECT_EQ(untouched.At(0, 0), Untouched);
}

struct TDrawCounter {
    int Before = 0, After = 0;
    void BeforeDraw(TObject *) { ++Before; }
    void AfterDraw(TObject *) { ++After; }
};

TEST(GenBitmap, CanvasBitmapDrawsToItsCanvasWithTheEvents) {
    TCanvasBitmap bitmap(TBaseBitmap::bmRGB32, 0);
    TDrawCounter counter;
    bitmap.OnBeforeDraw = MakeNotifyEvent<&TDrawCounter::BeforeDraw>(&counter);
    bitmap.OnAfterDraw = MakeNotifyEvent<&TDrawCounter::AfterDraw>(&counter);
    bitmap.SetSize(3, 3);
    FillRows(bitmap, 0x00123456);

    // Without a target nothing is drawn and no event fires.
    bitmap.Draw();
    EXPECT_EQ(counter.Before, 0);

    TTarget target(3, 3);
    bitmap.SetCanvas(target.DC());
    EXPECT_EQ(counter.Before, 1);
    EXPECT_EQ(counter.After, 1);
    EXPECT_EQ(target.At(2, 2), 0x123456u);

    // A rectangle is drawn at its own place; the same canvas again draws nothing more.
    const std::uint32_t red = 0x00FF0000;
    bitmap.WriteRow(1, 1, &red, 1);
    bitmap.WriteRow(0, 0, &red, 1);
    bitmap.DrawRect(RECT{1, 1, 2, 2});
    EXPECT_EQ(target.At(1, 1), 0xFF0000u);
    EXPECT_EQ(target.At(0, 0), 0x123456u);
    bitmap.SetCanvas(target.DC());
    EXPECT_EQ(counter.Before, 2);
    EXPECT_EQ(counter.After, 2);
}

TEST(GenBitmap, DirectBitmapDrawsIntoItsWindow) {
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 16, 16, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    UpdateWindow(window);
    {
        TDirectBitmap bitmap;
        bitmap.SetSize(16, 16);
        FillRows(bitmap, 0x00FF8000);
        TDrawCounter counter;
        bitmap.OnAfterDraw = MakeNotifyEvent<&TDrawCounter::AfterDraw>(&counter);
        bitmap.SetWindow(window);
        EXPECT_EQ(bitmap.Window(), window);
        EXPECT_EQ(counter.After, 1);
        HDC dc = GetDC(window);
        const COLORREF color = GetPixel(dc, 8, 8);
        ReleaseDC(window, dc);
        EXPECT_EQ(color, RGB(0xFF, 0x80, 0x00));
    }
    DestroyWindow(window);
}

} // namespace
