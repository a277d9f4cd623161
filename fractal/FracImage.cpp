#include "FracImage.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "FracInterpolator.h"
#include "FracProgress.h"

namespace {

// The largest block a 32-bit process is asked for; anything larger cannot be had anyway.
constexpr std::int64_t MaxBlockSize = INT32_MAX;
// Single stream transfers stay below 2^31 bytes.
constexpr std::int64_t MaxTransfer = 1 << 30;

void WriteBlock(TStream &Stream, const std::uint8_t *Data, std::int64_t Size) {
    while (Size > 0) {
        std::int32_t part = static_cast<std::int32_t>(std::min(Size, MaxTransfer));
        Stream.WriteBuffer(Data, part);
        Data += part;
        Size -= part;
    }
}

void ReadBlock(TStream &Stream, std::uint8_t *Data, std::int64_t Size) {
    while (Size > 0) {
        std::int32_t part = static_cast<std::int32_t>(std::min(Size, MaxTransfer));
        Stream.ReadBuffer(Data, part);
        Data += part;
        Size -= part;
    }
}

void StoreFloatColor(std::uint8_t *Pixel, const TFloatColor &Color) {
    float values[4] = {Color.Red, Color.Green, Color.Blue, Color.Alpha};
    std::memcpy(Pixel, values, 16);
}

TFloatColor LoadFloatColor(const std::uint8_t *Pixel) {
    float values[4];
    std::memcpy(values, Pixel, 16);
    return TFloatColor{values[0], values[1], values[2], values[3]};
}

void ReportProgress(int FromPercent, int ToPercent, int Row, int Height) {
    if (TProgressManager *progress = ProgressManager())
        progress->SetProgress(
            FromPercent +
            static_cast<int>(static_cast<std::int64_t>(ToPercent - FromPercent) * (Row + 1) / Height));
}

} // namespace

std::uint16_t GradientPositionToCode(float V) {
    if (!(V > 0))
        return 0;
    if (V >= 1)
        return 0;
    int code = static_cast<int>(std::floor(static_cast<double>(V) * GradientCodeCount + 0.5));
    return static_cast<std::uint16_t>(code % GradientCodeCount);
}

int LayerImageBytesPerPixel(std::uint8_t Mode) {
    static const int bytes[3] = {2, 4, 16};
    return Mode < 3 ? bytes[Mode] : 2;
}

void TLayerImage::TFreeDeleter::operator()(void *P) const {
    std::free(P);
}

TLayerImage::TLayerImage()
    : FInterpolator(std::make_unique<TGradientInterpolator>()), FLock(std::make_unique<TCriticalSection>()) {}

TLayerImage::~TLayerImage() = default;

TLayerImage::TBuffer TLayerImage::AllocateBuffer(std::int64_t Size) {
    if (Size < 0 || Size > MaxBlockSize)
        throw EOutOfMemory("Out of memory");
    void *block = std::calloc(static_cast<std::size_t>(Size), 1);
    if (!block)
        throw EOutOfMemory("Out of memory");
    return TBuffer(static_cast<std::uint8_t *>(block));
}

std::int64_t TLayerImage::PixelBytes(int W, int H, int BytesPerPixel) {
    return static_cast<std::int64_t>(W) * H * BytesPerPixel + 16;
}

std::int64_t TLayerImage::AntiAliasCells() const {
    return static_cast<std::int64_t>(std::max(FWidth - 1, 0)) * std::max(FHeight - 1, 0);
}

std::int64_t TLayerImage::AntiAliasBytes(int W, int H) {
    return static_cast<std::int64_t>(std::max(W - 1, 0)) * std::max(H - 1, 0) * 16 + 16;
}

void TLayerImage::Install(TBuffer Pixels, TBuffer Row, std::int64_t RowCapacity, TBuffer AntiAlias, int W,
                          int H) {
    FPixels = std::move(Pixels);
    FRowBuffer = std::move(Row);
    FRowCapacity = RowCapacity;
    FRowCount = 0;
    FAntiAliasBuffer = std::move(AntiAlias);
    FWidth = W;
    FHeight = H;
    FCenterX = W / 2;
    FCenterY = H / 2;
}

TLayerImage::TSizeBuffers TLayerImage::AllocateSize(int W, int H, int BytesPerPixel) const {
    TSizeBuffers buffers;
    buffers.Pixels = AllocateBuffer(PixelBytes(W, H, BytesPerPixel));
    buffers.Row = AllocateBuffer(static_cast<std::int64_t>(W) * BytesPerPixel + 16);
    buffers.HasAntiAlias = FAntiAliasBuffer && BytesPerPixel == 16;
    if (buffers.HasAntiAlias)
        buffers.AntiAlias = AllocateBuffer(AntiAliasBytes(W, H));
    buffers.Width = W;
    buffers.Height = H;
    buffers.BytesPerPixel = BytesPerPixel;
    return buffers;
}

void TLayerImage::Allocate(int W, int H, int BytesPerPixel) {
    // Everything is allocated before anything is replaced: a failure leaves the image as it was.
    // A reserve made for exactly this size and mode is taken instead.
    std::unique_ptr<TSizeBuffers> reserve = std::move(FReserve);
    TSizeBuffers buffers;
    const bool antiAlias = FAntiAliasBuffer && BytesPerPixel == 16;
    if (reserve && reserve->Width == W && reserve->Height == H && reserve->BytesPerPixel == BytesPerPixel &&
        reserve->HasAntiAlias == antiAlias)
        buffers = std::move(*reserve);
    else
        buffers = AllocateSize(W, H, BytesPerPixel);
    reserve.reset();
    FBytesPerPixel = BytesPerPixel;
    Install(std::move(buffers.Pixels), std::move(buffers.Row), W, std::move(buffers.AntiAlias), W, H);
}

void TLayerImage::ReserveSize(int W, int H) {
    W = std::max(W, 0);
    H = std::max(H, 0);
    FReserve.reset();
    if (W == FWidth && H == FHeight)
        return;
    FReserve = std::make_unique<TSizeBuffers>(AllocateSize(W, H, FBytesPerPixel));
}

void TLayerImage::ReleaseReserve() {
    FReserve.reset();
}

void TLayerImage::SetSize(int W, int H) {
    W = std::max(W, 0);
    H = std::max(H, 0);
    if (W == FWidth && H == FHeight) {
        FReserve.reset();
        return;
    }
    TScopeLock<TCriticalSection> guard(*FLock);
    Allocate(W, H, FBytesPerPixel);
    ClearPixels();
}

void TLayerImage::SetMode(std::uint8_t M) {
    if (M > lmFloatColor)
        throw ELayerImageError("Unknown pixel mode %d", static_cast<int>(M));
    if (M == FMode)
        return;
    TScopeLock<TCriticalSection> guard(*FLock);
    Allocate(FWidth, FHeight, LayerImageBytesPerPixel(M));
    FMode = M;
    if (FMode != lmFloatColor)
        FAntiAliasBuffer.reset();
    ClearPixels();
}

std::uint32_t TLayerImage::TableEntry(int Code) const {
    if (!FColorTable || Code < 0 || Code >= ColorTableSize)
        return FColorTable ? FColorTable->Entries[UncalculatedCode] : 0;
    return FColorTable->Entries[Code];
}

void TLayerImage::Clear() {
    ClearPixels();
}

void TLayerImage::ClearPixels() {
    if (!FPixels)
        return;
    std::int64_t count = static_cast<std::int64_t>(FWidth) * FHeight;
    std::uint8_t *p = FPixels.get();
    switch (FMode) {
    case lmCode: {
        std::uint16_t code = UncalculatedCode;
        for (std::int64_t i = 0; i < count; ++i)
            std::memcpy(p + 2 * i, &code, 2);
        break;
    }
    case lmColor: {
        std::uint32_t color = TableEntry(UncalculatedCode);
        for (std::int64_t i = 0; i < count; ++i)
            std::memcpy(p + 4 * i, &color, 4);
        break;
    }
    default: {
        std::uint8_t cell[16];
        StoreFloatColor(cell, CodeColor(UncalculatedCode));
        for (std::int64_t i = 0; i < count; ++i)
            std::memcpy(p + 16 * i, cell, 16);
        break;
    }
    }
}

void TLayerImage::SetIndex(int X, int Y, float V) {
    std::uint8_t *p = PixelPtr(X, Y);
    switch (FMode) {
    case lmCode: {
        std::uint16_t code = GradientPositionToCode(V);
        std::memcpy(p, &code, 2);
        break;
    }
    case lmColor: {
        std::uint32_t color = TableEntry(GradientPositionToCode(V));
        std::memcpy(p, &color, 4);
        break;
    }
    default:
        StoreFloatColor(p, GradientColor(V));
        break;
    }
}

void TLayerImage::SetCode(int X, int Y, int Code) {
    std::uint8_t *p = PixelPtr(X, Y);
    switch (FMode) {
    case lmCode: {
        std::uint16_t code = static_cast<std::uint16_t>(Code);
        std::memcpy(p, &code, 2);
        break;
    }
    case lmColor: {
        std::uint32_t color = TableEntry(Code);
        std::memcpy(p, &color, 4);
        break;
    }
    default:
        StoreFloatColor(p, CodeColor(Code));
        break;
    }
}

void TLayerImage::SetColor(int X, int Y, const TFloatColor &Color) {
    std::uint8_t *p = PixelPtr(X, Y);
    if (FMode == lmColor) {
        std::uint32_t color = FloatColorToPixel(Color);
        std::memcpy(p, &color, 4);
    } else if (FMode == lmFloatColor) {
        StoreFloatColor(p, Color);
    }
}

std::uint32_t TLayerImage::GetPixelColor(int X, int Y) const {
    const std::uint8_t *p = PixelPtr(X, Y);
    switch (FMode) {
    case lmCode: {
        std::uint16_t code;
        std::memcpy(&code, p, 2);
        return TableEntry(code);
    }
    case lmColor: {
        std::uint32_t color;
        std::memcpy(&color, p, 4);
        return color;
    }
    default: {
        TFloatColor clamped;
        ClampFloatColor(LoadFloatColor(p), clamped);
        return FloatColorToPixel(clamped);
    }
    }
}

TFloatColor TLayerImage::GetFloatColor(int X, int Y) const {
    return LoadFloatColor(PixelPtr(X, Y));
}

TFloatColor TLayerImage::CodeColor(int Code) const {
    TFloatColor color;
    PixelToFloatColor(TableEntry(Code), color);
    return color;
}

TFloatColor TLayerImage::GradientColor(float V) const {
    return FInterpolator->GetColor(V);
}

bool TLayerImage::SamePixel(int X1, int Y1, int X2, int Y2) const {
    if (X2 < 0 || Y2 < 0 || X2 >= FWidth || Y2 >= FHeight)
        return true;
    return std::memcmp(PixelPtr(X1, Y1), PixelPtr(X2, Y2), FBytesPerPixel) == 0;
}

void TLayerImage::FillBlock(int Left, int Top, int Right, int Bottom) {
    Right = std::min(Right, FWidth);
    Bottom = std::min(Bottom, FHeight);
    if (Bottom <= Top || Right <= Left || Left < 0 || Top < 0)
        return;
    std::uint8_t source[16];
    std::memcpy(source, PixelPtr(Left, Top), FBytesPerPixel);
    for (int y = Top; y < Bottom; ++y) {
        std::uint8_t *p = PixelPtr(Left, y);
        for (int x = Left; x < Right; ++x, p += FBytesPerPixel)
            std::memcpy(p, source, FBytesPerPixel);
    }
}

void TLayerImage::SaveRow(int X, int Y, int Count) {
    // The count is kept within the buffer and within the pixels that follow (X, Y).
    std::int64_t offset = static_cast<std::int64_t>(Y) * FWidth + X;
    std::int64_t available = static_cast<std::int64_t>(FWidth) * FHeight - offset;
    std::int64_t count = std::min<std::int64_t>({Count, FRowCapacity, std::max<std::int64_t>(available, 0)});
    if (!FPixels || offset < 0)
        count = 0;
    FRowCount = static_cast<int>(std::max<std::int64_t>(count, 0));
    if (FRowCount > 0)
        std::memcpy(FRowBuffer.get(), PixelPtr(X, Y), static_cast<std::size_t>(FRowCount) * FBytesPerPixel);
}

void TLayerImage::RestoreRow(int X, int Y) {
    std::int64_t offset = static_cast<std::int64_t>(Y) * FWidth + X;
    std::int64_t available = static_cast<std::int64_t>(FWidth) * FHeight - offset;
    std::int64_t count = std::min<std::int64_t>(FRowCount, available);
    if (!FPixels || offset < 0 || count <= 0)
        return;
    std::memcpy(PixelPtr(X, Y), FRowBuffer.get(), static_cast<std::size_t>(count) * FBytesPerPixel);
}

void TLayerImage::MirrorRow() {
    std::uint8_t swap[16];
    for (int i = 0; i < FRowCount / 2; ++i) {
        std::uint8_t *a = FRowBuffer.get() + static_cast<std::size_t>(i) * FBytesPerPixel;
        std::uint8_t *b = FRowBuffer.get() + static_cast<std::size_t>(FRowCount - 1 - i) * FBytesPerPixel;
        std::memcpy(swap, a, FBytesPerPixel);
        std::memcpy(a, b, FBytesPerPixel);
        std::memcpy(b, swap, FBytesPerPixel);
    }
}

void TLayerImage::Crop(const TLayerRect &Rect) {
    int w = std::max(Rect.Right - Rect.Left, 0);
    int h = std::max(Rect.Bottom - Rect.Top, 0);
    bool inside = Rect.Left >= 0 && Rect.Top >= 0 && Rect.Right <= FWidth && Rect.Bottom <= FHeight;
    if (!inside || !FPixels) {
        // Resized to the rectangle and cleared, also when the size stays the same.
        SetSize(w, h);
        Clear();
        return;
    }
    TBuffer pixels = AllocateBuffer(PixelBytes(w, h, FBytesPerPixel));
    int longest = std::max(w, h);
    TBuffer row = AllocateBuffer(static_cast<std::int64_t>(longest) * FBytesPerPixel + 16);
    TBuffer antiAlias;
    if (FAntiAliasBuffer)
        antiAlias = AllocateBuffer(AntiAliasBytes(w, h));
    std::size_t rowBytes = static_cast<std::size_t>(w) * FBytesPerPixel;
    for (int y = 0; y < h; ++y)
        std::memcpy(pixels.get() + y * rowBytes, PixelPtr(Rect.Left, Rect.Top + y), rowBytes);
    // Cells of the old size would no longer match the pixels; the buffer follows the new size.
    Install(std::move(pixels), std::move(row), longest, std::move(antiAlias), w, h);
}

void TLayerImage::CreateAntiAliasBuffer() {
    if (!FAntiAliasBuffer)
        UpdateAntiAliasBuffer();
}

void TLayerImage::UpdateAntiAliasBuffer() {
    if (FMode != lmFloatColor) {
        FAntiAliasBuffer.reset();
        return;
    }
    FAntiAliasBuffer = AllocateBuffer(AntiAliasBytes(FWidth, FHeight));
}

void TLayerImage::SetAntiAliasPixel(int X, int Y, const TFloatColor &Color) {
    StoreFloatColor(AntiAliasCell(X, Y), Color);
}

void TLayerImage::ApplyAntiAliasBuffer() {
    if (!FAntiAliasBuffer)
        return;
    if (FMode == lmFloatColor && FWidth > 1)
        for (int y = 0; y < FHeight - 1; ++y)
            std::memcpy(PixelPtr(0, y), AntiAliasCell(0, y), static_cast<std::size_t>(FWidth - 1) * 16);
    FAntiAliasBuffer.reset();
}

// Moves the pixel rows, then the anti-aliasing cells, through Move(address, bytes); row by row with
// progress reports when FromPercent < ToPercent, else in one block.
template <class TMove> void TLayerImage::MovePixels(int FromPercent, int ToPercent, TMove Move) {
    std::int64_t rowBytes = static_cast<std::int64_t>(FWidth) * FBytesPerPixel;
    if (FromPercent < ToPercent && FHeight > 0) {
        for (int y = 0; y < FHeight; ++y) {
            Move(PixelPtr(0, y), rowBytes);
            ReportProgress(FromPercent, ToPercent, y, FHeight);
        }
    } else {
        Move(FPixels.get(), rowBytes * FHeight);
    }
    if (FAntiAliasBuffer)
        Move(FAntiAliasBuffer.get(), AntiAliasCells() * 16);
}

void TLayerImage::SaveData(TStream &Stream, int FromPercent, int ToPercent) {
    if (!FPixels)
        return;
    MovePixels(FromPercent, ToPercent,
               [&Stream](std::uint8_t *Data, std::int64_t Size) { WriteBlock(Stream, Data, Size); });
}

void TLayerImage::LoadData(TStream &Stream, int FromPercent, int ToPercent) {
    if (!FPixels)
        return;
    std::int64_t needed = static_cast<std::int64_t>(FWidth) * FHeight * FBytesPerPixel +
                          (FAntiAliasBuffer ? AntiAliasCells() * 16 : 0);
    if (Stream.Remaining() < needed)
        throw EReadError("Stream read error");
    MovePixels(FromPercent, ToPercent,
               [&Stream](std::uint8_t *Data, std::int64_t Size) { ReadBlock(Stream, Data, Size); });
    if (FMode == lmCode)
        SanitizeCodes(0, 0, FWidth, FHeight);
}

void TLayerImage::SanitizeCodes(int Left, int Top, int Right, int Bottom) {
    // Codes beyond the colour table would be looked up outside it: they count as not calculated.
    for (int y = Top; y < Bottom; ++y) {
        std::uint8_t *p = PixelPtr(Left, y);
        for (int x = Left; x < Right; ++x, p += 2) {
            std::uint16_t code;
            std::memcpy(&code, p, 2);
            if (code >= ColorTableSize) {
                code = UncalculatedCode;
                std::memcpy(p, &code, 2);
            }
        }
    }
}

void TLayerImage::CheckRect(const TLayerRect &Rect, int W, int H) const {
    if (Rect.Left < 0 || Rect.Top < 0 || Rect.Left > Rect.Right || Rect.Top > Rect.Bottom || Rect.Right > W ||
        Rect.Bottom > H)
        throw ELayerImageError("Rectangle (%d, %d, %d, %d) lies outside the layer image", Rect.Left, Rect.Top,
                               Rect.Right, Rect.Bottom);
}

void TLayerImage::WriteRect(TStream &Stream, const TLayerRect &Rect) {
    CheckRect(Rect, FWidth, FHeight);
    std::int64_t bytes = static_cast<std::int64_t>(Rect.Right - Rect.Left) * FBytesPerPixel;
    for (int y = Rect.Top; y < Rect.Bottom; ++y)
        WriteBlock(Stream, PixelPtr(Rect.Left, y), bytes);
}

void TLayerImage::ReadRect(TStream &Stream, const TLayerRect &Rect) {
    CheckRect(Rect, FWidth, FHeight);
    std::int64_t bytes = static_cast<std::int64_t>(Rect.Right - Rect.Left) * FBytesPerPixel;
    if (Stream.Remaining() < bytes * (Rect.Bottom - Rect.Top))
        throw EReadError("Stream read error");
    for (int y = Rect.Top; y < Rect.Bottom; ++y)
        ReadBlock(Stream, PixelPtr(Rect.Left, y), bytes);
    if (FMode == lmCode)
        SanitizeCodes(Rect.Left, Rect.Top, Rect.Right, Rect.Bottom);
}

void TLayerImage::WriteAntiAliasRect(TStream &Stream, const TLayerRect &Rect) {
    if (!FAntiAliasBuffer)
        throw ELayerImageError("The layer image has no anti-aliasing cells");
    CheckRect(Rect, FWidth - 1, FHeight - 1);
    std::int64_t bytes = static_cast<std::int64_t>(Rect.Right - Rect.Left) * 16;
    for (int y = Rect.Top; y < Rect.Bottom; ++y)
        WriteBlock(Stream, AntiAliasCell(Rect.Left, y), bytes);
}

void TLayerImage::ReadAntiAliasRect(TStream &Stream, const TLayerRect &Rect) {
    if (!FAntiAliasBuffer)
        throw ELayerImageError("The layer image has no anti-aliasing cells");
    CheckRect(Rect, FWidth - 1, FHeight - 1);
    std::int64_t bytes = static_cast<std::int64_t>(Rect.Right - Rect.Left) * 16;
    if (Stream.Remaining() < bytes * (Rect.Bottom - Rect.Top))
        throw EReadError("Stream read error");
    for (int y = Rect.Top; y < Rect.Bottom; ++y)
        ReadBlock(Stream, AntiAliasCell(Rect.Left, y), bytes);
}
