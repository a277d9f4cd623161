#include "GenBitmap.h"

#include <algorithm>
#include <cstring>

namespace {

// Ordered dither thresholds in sixteenths; a pixel at (x, y) uses Threshold[x and 3][y and 3].
constexpr int Threshold[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

// The cube needs 216 entries after the first half of the reserved ones.
constexpr int MaxReserved = 2 * (256 - 216);

int RowBytesFor(std::uint8_t Mode, int Width) {
    switch (Mode) {
    case TBaseBitmap::bmPalette8:
        return (Width + 3) & ~3;
    case TBaseBitmap::bmRGB555:
        return (2 * Width + 3) & ~3;
    default:
        return 4 * Width;
    }
}

} // namespace

// Per phase (row phase y and 3, column phase x and 3) and channel value: the channel's share of the
// dithered 5-5-5 pixel.
struct TBaseBitmap::TDither16 {
    std::uint32_t Blue[4][4][256];
    std::uint32_t Green[4][4][256];
    std::uint32_t Red[4][4][256];

    TDither16() {
        for (int c = 0; c < 4; ++c)
            for (int r = 0; r < 4; ++r)
                for (int v = 0; v < 256; ++v) {
                    std::uint32_t level = v * 31 / 255;
                    if (((v * 496 / 255) & 15) > Threshold[r][c])
                        ++level;
                    Blue[c][r][v] = level;
                    Green[c][r][v] = level << 5;
                    Red[c][r][v] = level << 10;
                }
    }

    std::uint16_t Pixel(std::uint32_t Source, int X, int Y) const {
        const int c = Y & 3, r = X & 3;
        return static_cast<std::uint16_t>(Blue[c][r][Source & 0xFF] + Green[c][r][(Source >> 8) & 0xFF] +
                                          Red[c][r][(Source >> 16) & 0xFF]);
    }
};

// The same for the palette index on the colour cube; the blue table carries the cube's first index.
struct TBaseBitmap::TDither8 {
    std::uint8_t Blue[4][4][256];
    std::uint8_t Green[4][4][256];
    std::uint8_t Red[4][4][256];

    explicit TDither8(int CubeStart) {
        for (int c = 0; c < 4; ++c)
            for (int r = 0; r < 4; ++r)
                for (int v = 0; v < 256; ++v) {
                    int level = v / 51;
                    if (((v * 16 / 51) & 15) > Threshold[r][c])
                        ++level;
                    Blue[c][r][v] = static_cast<std::uint8_t>(CubeStart + level);
                    Green[c][r][v] = static_cast<std::uint8_t>(level * 6);
                    Red[c][r][v] = static_cast<std::uint8_t>(level * 36);
                }
    }

    std::uint8_t Pixel(std::uint32_t Source, int X, int Y) const {
        const int c = Y & 3, r = X & 3;
        return static_cast<std::uint8_t>(Blue[c][r][Source & 0xFF] + Green[c][r][(Source >> 8) & 0xFF] +
                                         Red[c][r][(Source >> 16) & 0xFF]);
    }
};

TBaseBitmap::TBaseBitmap() {
    HDC screen = ::GetDC(nullptr);
    const int depth = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    const int reserved = GetDeviceCaps(screen, NUMRESERVED);
    ::ReleaseDC(nullptr, screen);
    const std::uint8_t mode = depth == 8 ? bmPalette8 : depth == 15 || depth == 16 ? bmRGB555 : bmRGB32;
    Setup(mode, reserved);
}

TBaseBitmap::TBaseBitmap(std::uint8_t Mode, int Reserved) {
    Setup(Mode, Reserved);
}

TBaseBitmap::~TBaseBitmap() {
    FreeSection();
    if (FPalette)
        DeleteObject(FPalette);
}

void TBaseBitmap::Setup(std::uint8_t Mode, int Reserved) {
    FMode = Mode <= bmRGB32 ? Mode : bmRGB32;
    switch (FMode) {
    case bmPalette8: {
        FReserved = std::clamp(Reserved, 0, MaxReserved);
        HDC screen = ::GetDC(nullptr);
        // On a screen without a palette the system has none to give, and the entries stay black.
        GetSystemPaletteEntries(screen, 0, 256, FEntries);
        ::ReleaseDC(nullptr, screen);
        const int start = FReserved / 2;
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b) {
                    PALETTEENTRY &entry = FEntries[start + 36 * r + 6 * g + b];
                    entry.peRed = static_cast<BYTE>(51 * r);
                    entry.peGreen = static_cast<BYTE>(51 * g);
                    entry.peBlue = static_cast<BYTE>(51 * b);
                    entry.peFlags = PC_NOCOLLAPSE;
                }
        struct {
            WORD Version;
            WORD Count;
            PALETTEENTRY Entries[256];
        } palette;
        palette.Version = 0x300;
        palette.Count = 256;
        std::memcpy(palette.Entries, FEntries, sizeof(FEntries));
        FPalette = CreatePalette(reinterpret_cast<LOGPALETTE *>(&palette));
        FDither8 = std::make_unique<TDither8>(start);
        FWriteRow = &TBaseBitmap::WriteRow8;
        FWriteRowDouble = &TBaseBitmap::WriteRowDouble8;
        break;
    }
    case bmRGB555:
        FDither16 = std::make_unique<TDither16>();
        FWriteRow = &TBaseBitmap::WriteRow16;
        FWriteRowDouble = &TBaseBitmap::WriteRowDouble16;
        break;
    default:
        FWriteRow = &TBaseBitmap::WriteRow32;
        FWriteRowDouble = &TBaseBitmap::WriteRowDouble32;
        break;
    }
}

void TBaseBitmap::FreeSection() {
    if (FSection)
        DeleteObject(FSection);
    FSection = nullptr;
    FBits = nullptr;
    FRowBytes = 0;
}

void TBaseBitmap::CreateSection() {
    struct {
        BITMAPINFOHEADER Header;
        RGBQUAD Colors[256];
    } info{};
    info.Header.biSize = sizeof(BITMAPINFOHEADER);
    info.Header.biWidth = FWidth;
    info.Header.biHeight = -FHeight; // top-down rows
    info.Header.biPlanes = 1;
    info.Header.biBitCount = FMode == bmPalette8 ? 8 : FMode == bmRGB555 ? 16 : 32;
    info.Header.biCompression = BI_RGB;
    info.Header.biXPelsPerMeter = 1000;
    info.Header.biYPelsPerMeter = 1000;
    if (FMode == bmPalette8)
        for (int i = 0; i < 256; ++i)
            info.Colors[i] = {FEntries[i].peBlue, FEntries[i].peGreen, FEntries[i].peRed, 0};
    void *bits = nullptr;
    FSection =
        CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO *>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    // A section the system refuses (no memory for a huge size) leaves the bitmap without one: writers and
    // blits then do nothing.
    if (!FSection || !bits) {
        FreeSection();
        return;
    }
    FBits = static_cast<std::uint8_t *>(bits);
    FRowBytes = RowBytesFor(FMode, FWidth);
}

void TBaseBitmap::SetSize(int W, int H) {
    if (W == FWidth && H == FHeight)
        return;
    // Under the lock: a paint must never blit from a section that is being replaced.
    TScopeLock<TCriticalSection> guard(FLock);
    FreeSection();
    FWidth = W;
    FHeight = H;
    if (W >= 1 && H >= 1)
        CreateSection();
}

// ---------------------------------------------------------------------------------------------
// Row writers

bool TBaseBitmap::ClipRow(int &X, int Y, int &Count, int &First, int Scale) const {
    if (!FBits || Y < 0 || Y >= FHeight || Count <= 0 || X >= FWidth)
        return false;
    First = X < 0 ? (-X + Scale - 1) / Scale : 0;
    // Source pixel i starts at column X + Scale * i, which must lie left of Width.
    const int fitting = (FWidth - X + Scale - 1) / Scale;
    Count = std::min(Count, fitting);
    return First < Count;
}

void TBaseBitmap::WriteRow8(int X, int Y, const std::uint32_t *Row, int Count) {
    int first;
    if (!ClipRow(X, Y, Count, first, 1))
        return;
    std::uint8_t *target = FBits + Y * FRowBytes + X;
    const TDither8 &dither = *FDither8;
    for (int i = first; i < Count; ++i)
        target[i] = dither.Pixel(Row[i], X + i, Y);
}

void TBaseBitmap::WriteRow16(int X, int Y, const std::uint32_t *Row, int Count) {
    int first;
    if (!ClipRow(X, Y, Count, first, 1))
        return;
    std::uint16_t *target = reinterpret_cast<std::uint16_t *>(FBits + Y * FRowBytes) + X;
    const TDither16 &dither = *FDither16;
    for (int i = first; i < Count; ++i)
        target[i] = dither.Pixel(Row[i], X + i, Y);
}

void TBaseBitmap::WriteRow32(int X, int Y, const std::uint32_t *Row, int Count) {
    int first;
    if (!ClipRow(X, Y, Count, first, 1))
        return;
    std::uint32_t *target = reinterpret_cast<std::uint32_t *>(FBits + Y * FRowBytes) + X;
    std::memcpy(target + first, Row + first, (Count - first) * sizeof(std::uint32_t));
}

template <class Pixel, class Convert>
void TBaseBitmap::WriteDoubled(int X, int Y, const std::uint32_t *Row, int Count, Convert convert) {
    int first;
    if (!ClipRow(X, Y, Count, first, 2))
        return;
    Pixel *top = reinterpret_cast<Pixel *>(FBits + Y * FRowBytes);
    // The last row of the bitmap gets its pixels twice side by side, in that row alone.
    Pixel *below = Y < FHeight - 1 ? reinterpret_cast<Pixel *>(FBits + (Y + 1) * FRowBytes) : nullptr;
    // The dither phase is the source pixel's own position, half the target position.
    const int sourceX = X >> 1, sourceY = Y >> 1;
    for (int i = first; i < Count; ++i) {
        const int x = X + 2 * i;
        const Pixel value = convert(Row[i], sourceX + i, sourceY);
        const bool both = x + 1 < FWidth;
        top[x] = value;
        if (both)
            top[x + 1] = value;
        if (below) {
            below[x] = value;
            if (both)
                below[x + 1] = value;
        }
    }
}

void TBaseBitmap::WriteRowDouble8(int X, int Y, const std::uint32_t *Row, int Count) {
    const TDither8 &dither = *FDither8;
    WriteDoubled<std::uint8_t>(X, Y, Row, Count,
                               [&dither](std::uint32_t p, int x, int y) { return dither.Pixel(p, x, y); });
}

void TBaseBitmap::WriteRowDouble16(int X, int Y, const std::uint32_t *Row, int Count) {
    const TDither16 &dither = *FDither16;
    WriteDoubled<std::uint16_t>(X, Y, Row, Count,
                                [&dither](std::uint32_t p, int x, int y) { return dither.Pixel(p, x, y); });
}

void TBaseBitmap::WriteRowDouble32(int X, int Y, const std::uint32_t *Row, int Count) {
    WriteDoubled<std::uint32_t>(X, Y, Row, Count, [](std::uint32_t p, int, int) { return p; });
}

// ---------------------------------------------------------------------------------------------
// Drawing

void TBaseBitmap::DrawRect(const RECT &R) {
    if (!HasTarget())
        return;
    TScopeLock<TCriticalSection> guard(FLock);
    OnBeforeDraw(this);
    if (HDC dc = AcquireDC()) {
        BlitTo(dc, R, R.left, R.top);
        ReleaseDC(dc);
    }
    OnAfterDraw(this);
}

void TBaseBitmap::Draw() {
    DrawRect(RECT{0, 0, FWidth, FHeight});
}

template <class Body> void TBaseBitmap::WithSection(HDC DC, Body body) {
    if (!FSection || !DC)
        return;
    HDC memory = CreateCompatibleDC(DC);
    if (!memory)
        return;
    HGDIOBJ oldBitmap = SelectObject(memory, FSection);
    HPALETTE oldPalette = nullptr;
    if (FMode == bmPalette8 && FPalette) {
        oldPalette = SelectPalette(DC, FPalette, TRUE);
        ::RealizePalette(DC);
    }
    body(memory);
    if (oldPalette)
        SelectPalette(DC, oldPalette, TRUE);
    SelectObject(memory, oldBitmap);
    DeleteDC(memory);
}

void TBaseBitmap::BlitTo(HDC DC, const RECT &Dest, int SrcX, int SrcY) {
    WithSection(DC, [&](HDC memory) {
        BitBlt(DC, Dest.left, Dest.top, Dest.right - Dest.left, Dest.bottom - Dest.top, memory, SrcX, SrcY,
               SRCCOPY);
    });
}

void TBaseBitmap::StretchDraw(HDC DC, const RECT &Dest, const RECT &Src) {
    // An empty source or target has nothing to scale.
    if (Src.right <= Src.left || Src.bottom <= Src.top || Dest.right == Dest.left || Dest.bottom == Dest.top)
        return;
    WithSection(DC, [&](HDC memory) {
        const int oldMode = SetStretchBltMode(DC, COLORONCOLOR);
        StretchBlt(DC, Dest.left, Dest.top, Dest.right - Dest.left, Dest.bottom - Dest.top, memory, Src.left,
                   Src.top, Src.right - Src.left, Src.bottom - Src.top, SRCCOPY);
        if (oldMode)
            SetStretchBltMode(DC, oldMode);
    });
}

void TBaseBitmap::RealizePalette() {
    if (FMode != bmPalette8 || !FPalette || !HasTarget())
        return;
    TScopeLock<TCriticalSection> guard(FLock);
    HDC dc = AcquireDC();
    if (!dc)
        return;
    HPALETTE old = SelectPalette(dc, FPalette, FALSE);
    UnrealizeObject(FPalette);
    ::RealizePalette(dc);
    UpdateColors(dc);
    SelectPalette(dc, old, FALSE);
    ReleaseDC(dc);
}

// ---------------------------------------------------------------------------------------------
// Targets

void TDirectBitmap::SetWindow(HWND H) {
    if (H == FWindow)
        return;
    FWindow = H;
    Draw();
}

HDC TDirectBitmap::AcquireDC() {
    return ::GetDC(FWindow);
}

void TDirectBitmap::ReleaseDC(HDC DC) {
    ::ReleaseDC(FWindow, DC);
}

void TCanvasBitmap::SetCanvas(HDC C) {
    if (C == FCanvas)
        return;
    FCanvas = C;
    Draw();
}
