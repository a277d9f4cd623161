#include "FracMergeEngine.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "FracImage.h"
#include "FracLayer.h"
#include "FracMerge.h"
#include "FracMergeFloat.h"
#include "GenClasses.h"

std::uint8_t OpacityByte(std::int32_t Percent) {
    return static_cast<std::uint8_t>(std::clamp(Percent, 0, 100) * 255 / 100);
}

bool CheckerIsGrey(std::int32_t X, std::int32_t Y, int I, bool Small) {
    if (Small)
        return ((((Y / 2) & 4) + X + I) & 4) != 0;
    return (((Y & 8) + X + I) & 8) != 0;
}

// ---------------------------------------------------------------------------------------------
// TMergeEngine

TMergeEngine::TMergeEngine(TLayerList *ALayers, int ABytesPerPixel)
    : FLayers(ALayers), FBytesPerPixel(ABytesPerPixel) {}

TMergeEngine::~TMergeEngine() = default;

void TMergeEngine::SetSize(std::int32_t AWidth, std::int32_t AHeight) {
    AWidth = std::max(AWidth, 0);
    AHeight = std::max(AHeight, 0);
    if (AWidth == FWidth && AHeight == FHeight)
        return;
    if (AWidth != FWidth) {
        // All three buffers are made before any is installed, so that a failed allocation leaves the
        // engine as it was.
        const std::size_t bytes = static_cast<std::size_t>(AWidth) * static_cast<std::size_t>(FBytesPerPixel);
        auto rowA = std::make_unique<std::uint8_t[]>(bytes);
        auto rowB = std::make_unique<std::uint8_t[]>(bytes);
        auto rowC = std::make_unique<std::uint8_t[]>(bytes);
        FRowA = std::move(rowA);
        FRowB = std::move(rowB);
        FRowC = std::move(rowC);
    }
    FWidth = AWidth;
    FHeight = AHeight;
}

int TMergeEngine::FindOpaqueLayer() const {
    const int count = FLayers ? FLayers->Count() : 0;
    for (int i = 0; i < count; ++i) {
        const TLayer &layer = FLayers->Items(i);
        if (!layer.GetVisible() || layer.GetMergeMode() != mmNormal || layer.GetOpacity() < 100 ||
            layer.GetTransparent() || layer.GetMask())
            continue;
        bool cut = false;
        for (int m = i + 1; m < count && FLayers->Items(m).GetMask(); ++m)
            cut = cut || FLayers->Items(m).GetTransparent();
        if (!cut)
            return i;
    }
    return -1;
}

void TMergeEngine::FindBottomLayer(int &Index, bool &NeedsBackground) const {
    const int count = FLayers ? FLayers->Count() : 0;
    NeedsBackground = false;
    if (count == 0) {
        Index = -1;
        return;
    }
    Index = 0;
    for (int i = count - 1; i >= 1; --i) {
        const TLayer &layer = FLayers->Items(i);
        if (layer.GetVisible() && !layer.GetMask()) {
            Index = i;
            break;
        }
    }
    const TLayer &bottom = FLayers->Items(Index);
    NeedsBackground =
        bottom.GetTransparent() || bottom.GetMask() || (Index == count - 1 && bottom.GetOpacity() < 100);
    for (int m = Index + 1; m < count && FLayers->Items(m).GetMask(); ++m)
        NeedsBackground = NeedsBackground || FLayers->Items(m).GetTransparent();
}

void TMergeEngine::MergeRow(std::int32_t X, std::int32_t Y, std::int32_t Count, void *&Row, int Background,
                            int Flags) {
    Row = FRowB.get();
    Count = std::min(Count, FWidth);
    if (Count <= 0)
        return;

    int start = FindOpaqueLayer();
    bool needsBackground = false;
    if (start < 0)
        FindBottomLayer(start, needsBackground);
    const int last = FLayers ? FLayers->Count() - 1 : -1;
    // Only the layer that starts the merge at the bottom of the list shows its opacity against the
    // background; one that starts above hidden layers counts as fully there.
    const bool startShowsOpacity = start == last;
    bool haveBase = false;

    for (int i = start; i >= 0; --i) {
        TLayer &layer = FLayers->Items(i);
        if (!layer.GetVisible() || layer.GetMask())
            continue;
        std::swap(FRowA, FRowB);
        void *rowA = FRowA.get();
        void *rowB = FRowB.get();
        void *rowC = FRowC.get();
        const bool partial = layer.GetOpacity() < 100;
        const std::uint8_t opacity = OpacityByte(layer.GetOpacity());

        TLayer *maskOnly = nullptr;
        for (int m = i + 1; m <= last && FLayers->Items(m).GetMask(); ++m)
            if (FLayers->Items(m).GetMaskOnly()) {
                maskOnly = &FLayers->Items(m);
                break;
            }

        if (maskOnly && (Flags & mfMaskView)) {
            GetLayerRow(*maskOnly, X, Y, Count, rowB);
            AlphaToGray(rowB, Count);
            if (partial) {
                if (needsBackground) {
                    SetAlpha(rowB, Count, opacity);
                    if (haveBase)
                        CompositeRow(rowA, rowB, Count);
                } else if (haveBase) {
                    // Without a base the other row holds whatever an earlier merge left there.
                    BlendOpacity(rowA, rowB, Count, opacity);
                }
            }
            haveBase = true;
            continue;
        }

        GetLayerRow(layer, X, Y, Count, rowB);
        const int mode = layer.GetMergeMode();
        bool translucent = false;
        if (needsBackground) {
            if (haveBase && mode != mmNormal) {
                // The mode's result counts only as far as the base is opaque; elsewhere the layer's own
                // colour shows.
                std::memcpy(rowC, rowB, static_cast<std::size_t>(Count) * FBytesPerPixel);
                MergeMode(rowA, rowB, Count, mode);
                BlendRowAlpha(rowC, rowB, rowA, Count);
            }
            const bool showsOpacity = i < start || startShowsOpacity;
            if (layer.GetTransparent()) {
                if (partial && showsOpacity)
                    ScaleAlpha(rowB, Count, opacity);
                translucent = true;
            } else if (showsOpacity) {
                SetAlpha(rowB, Count, opacity);
                translucent = partial;
            } else {
                SetAlpha(rowB, Count, 255);
            }
        } else if (haveBase) {
            MergeMode(rowA, rowB, Count, mode);
            if (partial)
                BlendOpacity(rowA, rowB, Count, opacity);
            translucent = layer.GetTransparent();
        } else if (Background == mbNone) {
            SetAlpha(rowB, Count, 255);
        }

        for (int m = i + 1; m <= last && FLayers->Items(m).GetMask(); ++m) {
            TLayer &mask = FLayers->Items(m);
            if (!mask.GetTransparent())
                continue;
            GetLayerRow(mask, X, Y, Count, rowC);
            if (!needsBackground && !translucent)
                SetAlpha(rowB, Count, 255);
            MaskRow(rowB, rowC, Count);
            translucent = true;
        }

        if (haveBase && translucent) {
            if (needsBackground)
                CompositeRow(rowA, rowB, Count);
            else
                BlendRow(rowA, rowB, Count);
        }
        haveBase = true;
    }

    Row = FRowB.get();
    if (!haveBase)
        FillColor(FRowB.get(), Count, 0, 0, 0, 0);
    if (Background != mbNone && needsBackground) {
        if (Background == mbCheckerboard)
            FillChecker(FRowA.get(), X, Y, Count, (Flags & mfSmallChecker) != 0);
        else
            FillColor(FRowA.get(), Count, 255, 255, 255, 255);
        BlendRow(FRowA.get(), FRowB.get(), Count);
    }
}

// ---------------------------------------------------------------------------------------------
// TFractalMergeEngine

namespace {

std::uint32_t *Pixels(void *Row) {
    return static_cast<std::uint32_t *>(Row);
}

const std::uint32_t *Pixels(const void *Row) {
    return static_cast<const std::uint32_t *>(Row);
}

TFloatColor *Floats(void *Row) {
    return static_cast<TFloatColor *>(Row);
}

const TFloatColor *Floats(const void *Row) {
    return static_cast<const TFloatColor *>(Row);
}

std::uint32_t PackColor(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue, std::uint8_t Alpha) {
    return static_cast<std::uint32_t>(Alpha) << 24 | static_cast<std::uint32_t>(Red) << 16 |
           static_cast<std::uint32_t>(Green) << 8 | Blue;
}

} // namespace

TFractalMergeEngine::TFractalMergeEngine(TLayerList *ALayers) : TMergeEngine(ALayers, 4) {}

void TFractalMergeEngine::MaskRow(void *Row, const void *Mask, int Count) {
    MergeMask(Pixels(Row), Pixels(Mask), Count);
}

void TFractalMergeEngine::BlendRow(const void *Base, void *Layer, int Count) {
    MergeNormal(Pixels(Base), Pixels(Layer), Count);
}

void TFractalMergeEngine::BlendRowAlpha(const void *Base, void *Layer, const void *AlphaRow, int Count) {
    MergeNormalAlpha(Pixels(Base), Pixels(Layer), Pixels(AlphaRow), Count);
}

void TFractalMergeEngine::CompositeRow(const void *Base, void *Layer, int Count) {
    MergeComposite(Pixels(Base), Pixels(Layer), Count);
}

void TFractalMergeEngine::CompositeRowAlpha(const void *Base, void *Layer, const void *AlphaRow, int Count) {
    MergeCompositeAlpha(Pixels(Base), Pixels(Layer), Pixels(AlphaRow), Count);
}

void TFractalMergeEngine::ScaleAlpha(void *Row, int Count, std::uint8_t Opacity) {
    MergeScaleAlpha(Pixels(Row), Count, Opacity);
}

void TFractalMergeEngine::BlendOpacity(const void *Base, void *Layer, int Count, std::uint8_t Opacity) {
    MergeOpacity(Pixels(Base), Pixels(Layer), Count, Opacity);
}

void TFractalMergeEngine::AlphaToGray(void *Row, int Count) {
    std::uint32_t *row = Pixels(Row);
    for (int i = 0; i < Count; ++i) {
        const std::uint32_t alpha = row[i] >> 24;
        row[i] = 0xFF000000u | alpha << 16 | alpha << 8 | alpha;
    }
}

void TFractalMergeEngine::GetLayerRow(TLayer &Layer, std::int32_t X, std::int32_t Y, int Count, void *Row) {
    if (OnGetLayerRow)
        OnGetLayerRow(this, &Layer, X, Y, Count, Pixels(Row));
    else
        MergeFill(Pixels(Row), Count, 0);
}

void TFractalMergeEngine::FillChecker(void *Row, std::int32_t X, std::int32_t Y, int Count, bool Small) {
    std::uint32_t *row = Pixels(Row);
    for (int i = 0; i < Count; ++i)
        row[i] = CheckerIsGrey(X, Y, i, Small) ? 0xC0C0C0u : 0xFFFFFFu;
}

void TFractalMergeEngine::MergeMode(const void *Base, void *Layer, int Count, int Mode) {
    MergeRows(Pixels(Base), Pixels(Layer), Count, Mode);
}

void TFractalMergeEngine::SetAlpha(void *Row, int Count, std::uint8_t Alpha) {
    MergeSetAlpha(Pixels(Row), Count, Alpha);
}

void TFractalMergeEngine::FillColor(void *Row, int Count, std::uint8_t Red, std::uint8_t Green,
                                    std::uint8_t Blue, std::uint8_t Alpha) {
    MergeFill(Pixels(Row), Count, PackColor(Red, Green, Blue, Alpha));
}

// ---------------------------------------------------------------------------------------------
// TRenderMergeEngine

TRenderMergeEngine::TRenderMergeEngine(TLayerList *ALayers) : TMergeEngine(ALayers, 16) {}

void TRenderMergeEngine::MaskRow(void *Row, const void *Mask, int Count) {
    MergeFloatMask(Floats(Row), Floats(Mask), Count);
}

void TRenderMergeEngine::BlendRow(const void *Base, void *Layer, int Count) {
    MergeFloatNormal(Floats(Base), Floats(Layer), Count);
}

void TRenderMergeEngine::BlendRowAlpha(const void *Base, void *Layer, const void *AlphaRow, int Count) {
    MergeFloatNormalAlpha(Floats(Base), Floats(Layer), Floats(AlphaRow), Count);
}

void TRenderMergeEngine::CompositeRow(const void *Base, void *Layer, int Count) {
    MergeFloatComposite(Floats(Base), Floats(Layer), Count);
}

void TRenderMergeEngine::CompositeRowAlpha(const void *Base, void *Layer, const void *AlphaRow, int Count) {
    MergeFloatCompositeAlpha(Floats(Base), Floats(Layer), Floats(AlphaRow), Count);
}

void TRenderMergeEngine::ScaleAlpha(void *Row, int Count, std::uint8_t Opacity) {
    MergeFloatScaleAlpha(Floats(Row), Count, Opacity);
}

void TRenderMergeEngine::BlendOpacity(const void *Base, void *Layer, int Count, std::uint8_t Opacity) {
    MergeFloatOpacity(Floats(Base), Floats(Layer), Count, Opacity);
}

void TRenderMergeEngine::AlphaToGray(void *Row, int Count) {
    TFloatColor *row = Floats(Row);
    for (int i = 0; i < Count; ++i)
        row[i] = TFloatColor{row[i].Alpha, row[i].Alpha, row[i].Alpha, 1.0f};
}

void TRenderMergeEngine::GetLayerRow(TLayer &Layer, std::int32_t X, std::int32_t Y, int Count, void *Row) {
    TFloatColor *row = Floats(Row);
    TLayerImage &image = Layer.GetImage();
    TScopeLock<TLayerImage> lock(image);
    // Columns outside the image (or a row outside it) read as transparent black.
    const int first = std::clamp(-X, 0, Count);
    const int end = Y < 0 || Y >= image.Height() ? first : std::clamp(image.Width() - X, first, Count);
    std::fill(row, row + first, TFloatColor{0, 0, 0, 0});
    if (image.Mode() == lmFloatColor) {
        if (end > first)
            std::memcpy(row + first, image.PixelPtr(X + first, Y),
                        static_cast<std::size_t>(end - first) * 16);
    } else {
        for (int i = first; i < end; ++i)
            PixelToFloatColor(image.GetPixelColor(X + i, Y), row[i]);
    }
    std::fill(row + end, row + Count, TFloatColor{0, 0, 0, 0});
}

void TRenderMergeEngine::FillChecker(void *Row, std::int32_t X, std::int32_t Y, int Count, bool Small) {
    TFloatColor *row = Floats(Row);
    for (int i = 0; i < Count; ++i)
        row[i] =
            CheckerIsGrey(X, Y, i, Small) ? TFloatColor{0.75f, 0.75f, 0.75f, 0} : TFloatColor{1, 1, 1, 0};
}

void TRenderMergeEngine::MergeMode(const void *Base, void *Layer, int Count, int Mode) {
    MergeFloatRows(Floats(Base), Floats(Layer), Count, Mode);
}

void TRenderMergeEngine::SetAlpha(void *Row, int Count, std::uint8_t Alpha) {
    MergeFloatSetAlpha(Floats(Row), Count, Alpha);
}

void TRenderMergeEngine::FillColor(void *Row, int Count, std::uint8_t Red, std::uint8_t Green,
                                   std::uint8_t Blue, std::uint8_t Alpha) {
    MergeFloatFill(Floats(Row), Count, PackColor(Red, Green, Blue, Alpha));
}
