// The per-layer pixel store: pixel modes, the pixel codes of mode 0 and the colour table that
// turns codes into colours, row buffers for symmetry, the anti-aliasing cells and the stream form
// of the pixels.
#pragma once

#include <cstdint>
#include <memory>

#include "Classes.h"
#include "GenClasses.h"
#include "GenColor.h"

class TGradientInterpolator;

// Codes of mode-0 pixels; they are also the entries of the colour table.
// 0 .. GradientCodeCount - 1: gradient position code / GradientCodeCount.
constexpr int GradientCodeCount = 51200;
// Inside pixel coloured solid (the inside coloring asked for a solid colour or is absent).
constexpr int InsideSolidCode = 51200;
// Outside pixel coloured solid.
constexpr int OutsideSolidCode = 51201;
// Pixel not calculated yet (shown in the background colour).
constexpr int UncalculatedCode = 51202;
// FirstTransformCode + i: a point that transformation i of the mapping turned solid.
constexpr int FirstTransformCode = 51203;
// Entries reserved for transformation codes (beyond the transformation list limit of 1024).
constexpr int TransformCodeCount = 1028;
// Entries of a colour table.
constexpr int ColorTableSize = FirstTransformCode + TransformCodeCount; // 52231

// The layer's colour table: 32-bit colours with the bytes blue, green, red, alpha (opacity), so
// that an entry read as a little-endian integer is 0xAARRGGBB. The gradient renders entries
// 0 .. GradientCodeCount - 1; the layer fills the solid and special entries.
struct TGradientTable {
    std::uint32_t Entries[ColorTableSize];

    std::uint32_t &operator[](int Index) { return Entries[Index]; }
    std::uint32_t operator[](int Index) const { return Entries[Index]; }
    // Byte Channel (0 blue, 1 green, 2 red, 3 opacity) of entry Index.
    std::uint8_t *Byte(int Index, int Channel) {
        return reinterpret_cast<std::uint8_t *>(&Entries[Index]) + Channel;
    }
    std::uint8_t GetByte(int Index, int Channel) const {
        return static_cast<std::uint8_t>(Entries[Index] >> (8 * Channel));
    }
};

// The code of gradient position V (0 <= V <= 1): round(V * 51200) mod 51200, so V = 1 gives 0.
// Values outside 0 .. 1 (and NaN) are clamped first so that the code is always a gradient code.
std::uint16_t GradientPositionToCode(float V);

// Pixel modes and their bytes per pixel.
constexpr std::uint8_t lmCode = 0;       // 2 bytes: an unsigned 16-bit code
constexpr std::uint8_t lmColor = 1;      // 4 bytes: blue, green, red, alpha
constexpr std::uint8_t lmFloatColor = 2; // 16 bytes: float red, green, blue, alpha
int LayerImageBytesPerPixel(std::uint8_t Mode);

DECLARE_EXCEPTION(ELayerImageError, Exception);

struct TLayerRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
};

class TLayerImage : public TObject {
public:
    DECLARE_CLASS_NAME(TLayerImage)
    TLayerImage();
    ~TLayerImage() override;
    TLayerImage(const TLayerImage &) = delete;
    TLayerImage &operator=(const TLayerImage &) = delete;

    // Size and mode changes reallocate and clear every pixel to the not-calculated value. An image
    // too large for memory (or for 32-bit sizes) raises EOutOfMemory and leaves the image as it
    // was. Negative sizes count as 0.
    void SetSize(int W, int H);
    void SetWidth(int W) { SetSize(W, FHeight); }
    void SetHeight(int H) { SetSize(FWidth, H); }
    // Allocates the buffers of a W x H image ahead of SetSize, so that a caller resizing several
    // images can have every allocation done before any image changes: SetSize to that size (in the
    // same mode) then takes them and cannot run out of memory. EOutOfMemory when they cannot be
    // had; a later reserve replaces an earlier one, and ReleaseReserve drops it.
    void ReserveSize(int W, int H);
    void ReleaseReserve();
    void SetMode(std::uint8_t M);
    void Clear();

    std::uint8_t Mode() const { return FMode; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    int CenterX() const { return FCenterX; }
    int CenterY() const { return FCenterY; }
    int BytesPerPixel() const { return FBytesPerPixel; }
    std::uint8_t *Pixels() const { return FPixels.get(); }
    float *AntiAliasBuffer() const { return reinterpret_cast<float *>(FAntiAliasBuffer.get()); }
    bool HasAntiAliasBuffer() const { return FAntiAliasBuffer != nullptr; }

    // The colour table belongs to the layer; the image only reads it.
    TGradientTable *ColorTable() const { return FColorTable; }
    void SetColorTable(TGradientTable *Table) { FColorTable = Table; }
    TGradientInterpolator &Interpolator() const { return *FInterpolator; }

    std::uint8_t *PixelPtr(int X, int Y) const {
        return FPixels.get() + (static_cast<std::int64_t>(Y) * FWidth + X) * FBytesPerPixel;
    }

    // Pixel writes of the calculation (no bounds checks: callers stay inside the image).
    void SetIndex(int X, int Y, float V);
    void SetCode(int X, int Y, int Code);
    void SetColor(int X, int Y, const TFloatColor &Color);

    std::uint32_t GetPixelColor(int X, int Y) const;
    TFloatColor GetFloatColor(int X, int Y) const;
    TFloatColor CodeColor(int Code) const;
    TFloatColor GradientColor(float V) const;

    // True when (X2, Y2) lies outside the image or both pixels hold the same value.
    bool SamePixel(int X1, int Y1, int X2, int Y2) const;
    // Copies pixel (Left, Top) into columns Left .. Right - 1 of rows Top .. Bottom - 1.
    void FillBlock(int Left, int Top, int Right, int Bottom);

    // The row buffer of symmetry: Count pixels from (X, Y).
    void SaveRow(int X, int Y, int Count);
    void RestoreRow(int X, int Y);
    void MirrorRow();
    int SavedRowCount() const { return FRowCount; }

    // The rectangle's pixels become the image when it lies inside; otherwise the image is resized
    // to the rectangle (an inverted rectangle gives an empty image) and cleared.
    void Crop(const TLayerRect &Rect);

    void CreateAntiAliasBuffer();
    void UpdateAntiAliasBuffer();
    void SetAntiAliasPixel(int X, int Y, const TFloatColor &Color);
    void ApplyAntiAliasBuffer();

    // The pixel stream: Height rows, then the anti-aliasing cells when the buffer exists. Loading
    // checks that the stream holds everything before it changes a pixel; a short stream raises
    // EReadError and leaves the image as it was. With FromPercent < ToPercent the progress
    // manager hears of every row.
    void SaveData(TStream &Stream, int FromPercent = 0, int ToPercent = 0);
    void LoadData(TStream &Stream, int FromPercent = 0, int ToPercent = 0);
    // Rectangles must lie inside the image (for the anti-aliasing cells: inside the cell grid);
    // otherwise ELayerImageError is raised before anything moves.
    void WriteRect(TStream &Stream, const TLayerRect &Rect);
    void ReadRect(TStream &Stream, const TLayerRect &Rect);
    void WriteAntiAliasRect(TStream &Stream, const TLayerRect &Rect);
    void ReadAntiAliasRect(TStream &Stream, const TLayerRect &Rect);

    void Lock() { FLock->Enter(); }
    void Unlock() { FLock->Leave(); }

private:
    struct TFreeDeleter {
        void operator()(void *P) const;
    };
    using TBuffer = std::unique_ptr<std::uint8_t[], TFreeDeleter>;
    // A zeroed block of Size bytes; EOutOfMemory when it cannot be had.
    static TBuffer AllocateBuffer(std::int64_t Size);
    // Pixels plus the 16 spare bytes; EOutOfMemory beyond what a 32-bit process can address.
    static std::int64_t PixelBytes(int W, int H, int BytesPerPixel);
    // The anti-aliasing cells of a W x H image plus the spare bytes.
    static std::int64_t AntiAliasBytes(int W, int H);
    // Takes new buffers and the size they were made for; nothing here can fail.
    void Install(TBuffer Pixels, TBuffer Row, std::int64_t RowCapacity, TBuffer AntiAlias, int W, int H);
    void Allocate(int W, int H, int BytesPerPixel);
    // The buffers of a size, allocated but not yet installed.
    struct TSizeBuffers {
        TBuffer Pixels, Row, AntiAlias;
        int Width = 0, Height = 0, BytesPerPixel = 0;
        bool HasAntiAlias = false;
    };
    TSizeBuffers AllocateSize(int W, int H, int BytesPerPixel) const;
    void ClearPixels();
    std::uint32_t TableEntry(int Code) const;
    void CheckRect(const TLayerRect &Rect, int W, int H) const;
    void SanitizeCodes(int Left, int Top, int Right, int Bottom);
    template <class TMove> void MovePixels(int FromPercent, int ToPercent, TMove Move);
    std::uint8_t *AntiAliasCell(int X, int Y) const {
        return FAntiAliasBuffer.get() + (static_cast<std::int64_t>(Y) * (FWidth - 1) + X) * 16;
    }
    std::int64_t AntiAliasCells() const;

    TBuffer FAntiAliasBuffer;
    TBuffer FPixels;
    std::unique_ptr<TSizeBuffers> FReserve;
    std::uint8_t FMode = lmCode;
    int FCenterY = 0;
    int FCenterX = 0;
    int FHeight = 0;
    std::unique_ptr<TGradientInterpolator> FInterpolator;
    TBuffer FRowBuffer;
    std::int64_t FRowCapacity = 0; // pixels the row buffer holds
    int FRowCount = 0;
    int FBytesPerPixel = 2;
    std::unique_ptr<TCriticalSection> FLock;
    TGradientTable *FColorTable = nullptr;
    int FWidth = 0;
};
