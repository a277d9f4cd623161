// Display bitmaps: device-independent sections with direct access to their bits, into which merged rows
// of 32-bit pixels (bytes blue, green, red, alpha) are written for the screen. The pixel format follows
// the screen's colour depth: on 8-bit screens rows are dithered onto a 6 x 6 x 6 colour cube, on 15 and
// 16-bit screens to 5 bits a channel, and on deeper screens copied. Rectangles are blitted or stretched to
// a target: TDirectBitmap draws to a window, TCanvasBitmap to a canvas's device context.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "Classes.h"
#include "GenClasses.h"

class TBaseBitmap : public TObject {
public:
    DECLARE_CLASS_NAME(TBaseBitmap)

    // Section formats.
    static constexpr std::uint8_t bmPalette8 = 0; // 8 bits, dithered onto the colour cube
    static constexpr std::uint8_t bmRGB555 = 1;   // 16 bits, 5-5-5, dithered
    static constexpr std::uint8_t bmRGB32 = 2;    // 32 bits, copied

    // Row writer: Count 32-bit pixels from Row into the section at (X, Y).
    using TRowWriter = void (TBaseBitmap::*)(int X, int Y, const std::uint32_t *Row, int Count);

    // The mode follows the screen's colour depth.
    TBaseBitmap();
    // A bitmap of the given mode whatever the screen; Reserved is the count of reserved system palette
    // entries that mode 0 keeps clear of the colour cube.
    TBaseBitmap(std::uint8_t Mode, int Reserved);
    ~TBaseBitmap() override;
    TBaseBitmap(const TBaseBitmap &) = delete;
    TBaseBitmap &operator=(const TBaseBitmap &) = delete;

    void SetSize(int W, int H);
    void SetWidth(int W) { SetSize(W, FHeight); }
    void SetHeight(int H) { SetSize(FWidth, H); }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    std::uint8_t Mode() const { return FMode; }
    int RowBytes() const { return FRowBytes; }
    // The section's pixels, top row first; nullptr while there is no section.
    std::uint8_t *Bits() const { return FBits; }
    HBITMAP Section() const { return FSection; }
    HPALETTE Palette() const { return FPalette; }
    int Reserved() const { return FReserved; }
    bool UsesPalette() const { return FMode == bmPalette8; }

    // The writers of the mode: 1:1 and each source pixel as a 2 x 2 block.
    void WriteRow(int X, int Y, const std::uint32_t *Row, int Count) { (this->*FWriteRow)(X, Y, Row, Count); }
    void WriteRowDouble(int X, int Y, const std::uint32_t *Row, int Count) {
        (this->*FWriteRowDouble)(X, Y, Row, Count);
    }
    // Each writer does nothing without a section, and writes only the part of the row inside it.
    void WriteRow8(int X, int Y, const std::uint32_t *Row, int Count);
    void WriteRow16(int X, int Y, const std::uint32_t *Row, int Count);
    void WriteRow32(int X, int Y, const std::uint32_t *Row, int Count);
    void WriteRowDouble8(int X, int Y, const std::uint32_t *Row, int Count);
    void WriteRowDouble16(int X, int Y, const std::uint32_t *Row, int Count);
    void WriteRowDouble32(int X, int Y, const std::uint32_t *Row, int Count);

    void Lock() { FLock.Enter(); }
    void Unlock() { FLock.Leave(); }

    void DrawRect(const RECT &R);
    void Draw();
    void BlitTo(HDC DC, const RECT &Dest, int SrcX, int SrcY);
    void StretchDraw(HDC DC, const RECT &Dest, const RECT &Src);
    void RealizePalette();

    TNotifyEvent OnAfterDraw;
    TNotifyEvent OnBeforeDraw;

protected:
    virtual HDC AcquireDC() { return nullptr; }
    virtual void ReleaseDC(HDC DC) {}
    virtual bool HasTarget() { return false; }

private:
    struct TDither16;
    struct TDither8;

    void Setup(std::uint8_t Mode, int Reserved);
    void FreeSection();
    void CreateSection();
    // Selects the section into a memory context made for DC, runs Body, and restores both.
    template <class Body> void WithSection(HDC DC, Body body);
    // The first target pixel and the count of source pixels that fit, for a row of Count source
    // pixels each Scale pixels wide at (X, Y); false when nothing fits.
    bool ClipRow(int &X, int Y, int &Count, int &First, int Scale) const;
    template <class Pixel, class Convert>
    void WriteDoubled(int X, int Y, const std::uint32_t *Row, int Count, Convert convert);

    int FRowBytes = 0;
    std::uint8_t *FBits = nullptr;
    HBITMAP FSection = nullptr;
    int FHeight = 0;
    std::unique_ptr<TDither16> FDither16;
    TRowWriter FWriteRow = nullptr;
    TRowWriter FWriteRowDouble = nullptr;
    std::uint8_t FMode = bmRGB32;
    HPALETTE FPalette = nullptr;
    std::unique_ptr<TDither8> FDither8;
    int FReserved = 0;
    TCriticalSection FLock;
    int FWidth = 0;
    // The palette entries: the system palette with the colour cube written in.
    PALETTEENTRY FEntries[256] = {};
};

// Draws to a window through the window's device context.
class TDirectBitmap : public TBaseBitmap {
public:
    DECLARE_CLASS_NAME(TDirectBitmap)
    using TBaseBitmap::TBaseBitmap;

    HWND Window() const { return FWindow; }
    // Stores the window and draws when it changes.
    void SetWindow(HWND H);

protected:
    HDC AcquireDC() override;
    void ReleaseDC(HDC DC) override;
    bool HasTarget() override { return FWindow != nullptr; }

private:
    HWND FWindow = nullptr;
};

// Draws to a canvas, given by its device context.
class TCanvasBitmap : public TBaseBitmap {
public:
    DECLARE_CLASS_NAME(TCanvasBitmap)
    using TBaseBitmap::TBaseBitmap;

    HDC Canvas() const { return FCanvas; }
    // Stores the canvas and draws when it changes.
    void SetCanvas(HDC C);

protected:
    HDC AcquireDC() override { return FCanvas; }
    bool HasTarget() override { return FCanvas != nullptr; }

private:
    HDC FCanvas = nullptr;
};
