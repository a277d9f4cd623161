// Merging the layers of a fractal into one row of colours, a row segment at a time. TMergeEngine holds
// the rules of which layers are visited and how: mask layers cut into the non-mask layer directly above
// them, each layer's merge mode and opacity apply, and a background (white or a checkerboard) goes under
// the result where the bottom of the stack lets it show. The pixel arithmetic is left to virtual row
// operations, implemented on 4-byte pixels with the 8-bit merge routines (TFractalMergeEngine, for the
// screen view and other 8-bit rows) and on 16-byte float pixels with the float routines
// (TRenderMergeEngine, for rendering to disk). Index 0 of the layer list is the top layer.
//
// An engine is used by one thread at a time. Layer rows may be read while calculation threads still
// write them; a merged row can then mix old and new pixels, which the next merge corrects.
#pragma once

#include <cstdint>
#include <memory>

#include "Classes.h"
#include "GenColor.h"

class TLayer;
class TLayerList;

// Background of MergeRow.
constexpr int mbNone = 0;         // the result keeps its alpha
constexpr int mbWhite = 1;        // opaque white under the result
constexpr int mbCheckerboard = 2; // white and light grey squares under the result

// Flags of MergeRow.
constexpr int mfMaskView = 1;     // show the alpha of mask-only masks in place of the layer they mask
constexpr int mfSmallChecker = 2; // checkerboard squares 4 pixels wide (8 rows high) instead of 8 x 8

// The byte value of an opacity percent (clamped to 0..100): 50 gives 127, 100 gives 255.
std::uint8_t OpacityByte(std::int32_t Percent);

class TMergeEngine : public TObject {
public:
    TMergeEngine(TLayerList *ALayers, int ABytesPerPixel);
    ~TMergeEngine() override;
    TMergeEngine(const TMergeEngine &) = delete;
    TMergeEngine &operator=(const TMergeEngine &) = delete;
    DECLARE_CLASS_NAME(TMergeEngine)

    // Nothing when both are unchanged; otherwise the row buffers are made Width pixels long.
    void SetSize(std::int32_t AWidth, std::int32_t AHeight);
    std::int32_t Width() const { return FWidth; }
    std::int32_t Height() const { return FHeight; }
    int BytesPerPixel() const { return FBytesPerPixel; }
    TLayerList *Layers() const { return FLayers; }

    // Merges the Count pixels from column X of image row Y and sets Row to the engine's buffer that holds
    // the result (valid until the next call). Count is cut to the engine's width; a merge over 0 pixels
    // touches nothing. Background is mbNone, mbWhite or mbCheckerboard; Flags a set of mf... bits.
    void MergeRow(std::int32_t X, std::int32_t Y, std::int32_t Count, void *&Row, int Background, int Flags);

    // The first layer from the top that hides everything below it (visible, normal mode, opacity 100, not
    // transparent, not a mask and without a transparent mask directly below it); -1 when there is none.
    int FindOpaqueLayer() const;
    // The lowest visible non-mask layer among 1 .. Count - 1 (else 0; -1 for an empty list), and whether
    // the background shows through it.
    void FindBottomLayer(int &Index, bool &NeedsBackground) const;

protected:
    // Row buffers of Count pixels; results go into Layer, or into Row where there is no Layer.
    virtual void MaskRow(void *Row, const void *Mask, int Count) = 0;
    virtual void BlendRow(const void *Base, void *Layer, int Count) = 0;
    virtual void BlendRowAlpha(const void *Base, void *Layer, const void *AlphaRow, int Count) = 0;
    virtual void CompositeRow(const void *Base, void *Layer, int Count) = 0;
    virtual void CompositeRowAlpha(const void *Base, void *Layer, const void *AlphaRow, int Count) = 0;
    virtual void ScaleAlpha(void *Row, int Count, std::uint8_t Opacity) = 0;
    virtual void BlendOpacity(const void *Base, void *Layer, int Count, std::uint8_t Opacity) = 0;
    virtual void AlphaToGray(void *Row, int Count) = 0;
    virtual void GetLayerRow(TLayer &Layer, std::int32_t X, std::int32_t Y, int Count, void *Row) = 0;
    virtual void FillChecker(void *Row, std::int32_t X, std::int32_t Y, int Count, bool Small) = 0;
    virtual void MergeMode(const void *Base, void *Layer, int Count, int Mode) = 0;
    virtual void SetAlpha(void *Row, int Count, std::uint8_t Alpha) = 0;
    virtual void FillColor(void *Row, int Count, std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue,
                           std::uint8_t Alpha) = 0;

private:
    std::unique_ptr<std::uint8_t[]> FRowA; // the base row
    std::int32_t FHeight = 0;
    TLayerList *FLayers;
    int FBytesPerPixel;
    std::unique_ptr<std::uint8_t[]> FRowC; // mask rows and the unmerged copy of a layer row
    std::unique_ptr<std::uint8_t[]> FRowB; // the layer row, which ends as the result
    std::int32_t FWidth = 0;
};

// Whether pixel I of a checkerboard segment starting at column X of row Y is grey: 8 x 8 squares, or 4
// pixels wide and 8 rows high with Small.
bool CheckerIsGrey(std::int32_t X, std::int32_t Y, int I, bool Small);

// Fills Row with Count 4-byte pixels of Layer's colours from column X of image row Y; the supplier reads
// under the layer image's lock.
using TGetLayerRowEvent = TMethod<void(TObject *Sender, TLayer *Layer, std::int32_t X, std::int32_t Y,
                                       int Count, std::uint32_t *Row)>;

// 4-byte pixels (bytes blue, green, red, alpha) merged with the 8-bit routines. Layer rows come from
// OnGetLayerRow; without it a layer row is transparent black.
class TFractalMergeEngine : public TMergeEngine {
public:
    explicit TFractalMergeEngine(TLayerList *ALayers);
    DECLARE_CLASS_NAME(TFractalMergeEngine)

    TGetLayerRowEvent OnGetLayerRow;

protected:
    void MaskRow(void *Row, const void *Mask, int Count) override;
    void BlendRow(const void *Base, void *Layer, int Count) override;
    void BlendRowAlpha(const void *Base, void *Layer, const void *AlphaRow, int Count) override;
    void CompositeRow(const void *Base, void *Layer, int Count) override;
    void CompositeRowAlpha(const void *Base, void *Layer, const void *AlphaRow, int Count) override;
    void ScaleAlpha(void *Row, int Count, std::uint8_t Opacity) override;
    void BlendOpacity(const void *Base, void *Layer, int Count, std::uint8_t Opacity) override;
    void AlphaToGray(void *Row, int Count) override;
    void GetLayerRow(TLayer &Layer, std::int32_t X, std::int32_t Y, int Count, void *Row) override;
    void FillChecker(void *Row, std::int32_t X, std::int32_t Y, int Count, bool Small) override;
    void MergeMode(const void *Base, void *Layer, int Count, int Mode) override;
    void SetAlpha(void *Row, int Count, std::uint8_t Alpha) override;
    void FillColor(void *Row, int Count, std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue,
                   std::uint8_t Alpha) override;
};

// 16-byte float pixels (red, green, blue, alpha) merged with the float routines. Layer rows are read from
// the layer's own pixel store under its lock.
class TRenderMergeEngine : public TMergeEngine {
public:
    explicit TRenderMergeEngine(TLayerList *ALayers);
    DECLARE_CLASS_NAME(TRenderMergeEngine)

protected:
    void MaskRow(void *Row, const void *Mask, int Count) override;
    void BlendRow(const void *Base, void *Layer, int Count) override;
    void BlendRowAlpha(const void *Base, void *Layer, const void *AlphaRow, int Count) override;
    void CompositeRow(const void *Base, void *Layer, int Count) override;
    void CompositeRowAlpha(const void *Base, void *Layer, const void *AlphaRow, int Count) override;
    void ScaleAlpha(void *Row, int Count, std::uint8_t Opacity) override;
    void BlendOpacity(const void *Base, void *Layer, int Count, std::uint8_t Opacity) override;
    void AlphaToGray(void *Row, int Count) override;
    void GetLayerRow(TLayer &Layer, std::int32_t X, std::int32_t Y, int Count, void *Row) override;
    void FillChecker(void *Row, std::int32_t X, std::int32_t Y, int Count, bool Small) override;
    void MergeMode(const void *Base, void *Layer, int Count, int Mode) override;
    void SetAlpha(void *Row, int Count, std::uint8_t Alpha) override;
    void FillColor(void *Row, int Count, std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue,
                   std::uint8_t Alpha) override;
};
