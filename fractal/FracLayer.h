// One layer of a fractal document: the layer engine plus what decides how the layer looks in the
// merged picture (caption, visibility, opacity, merge mode, mask, transparency), its gradient and
// the colour table built from it, a small thumbnail and the layer's parameter text (the "layer"
// section with its subsections); and the document's undoable list of layers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FracGradient.h"
#include "FracLayerEngine.h"
#include "FracMerge.h"
#include "GenBitmap.h"

// Merge modes 0 normal .. 18 blue (MergeModeCount, FracMerge.h); the names of modes 1 .. 18 in
// parameter text.
// "multiply" .. "blue" for 1 .. 18; empty for 0 and out of range.
const char *MergeModeName(std::uint8_t Mode);
// The mode of a name (letter case ignored); -1 for an unknown name.
int MergeModeFromName(const std::string &Name);

// The size of a thumbnail inside the 36 x 27 box (27 x 36 for portrait images); 0 x 0 when either
// side is 0.
void GetThumbnailSize(std::int32_t Width, std::int32_t Height, std::int32_t &ThumbWidth,
                      std::int32_t &ThumbHeight);

using TLayerProgressEvent = TMethod<void(TObject *Sender, int Percent)>;

class TLayer : public TLayerEngine {
public:
    // Flags of WriteParameters: write "editable"; write "maskonly"; write file names without
    // their folders.
    static constexpr std::uint32_t wpEditable = 1;
    static constexpr std::uint32_t wpMaskOnly = 2;
    static constexpr std::uint32_t wpShortFileName = 4;

    // Leaves the construction bracket open: the owner closes it with EndUpdate.
    explicit TLayer(TUpdateRectList *AUpdateRects, TCalculateManager *AManager = nullptr);
    ~TLayer() override;
    DECLARE_CLASS_NAME(TLayer)

    void LoadFromReader(TParReader &Reader) override { ReadParameters(Reader, TLayerProgressEvent()); }
    void SaveToWriter(TParWriter &Writer) override { WriteParameters(Writer, 0); }
    void ReadParameters(TParReader &Reader, const TLayerProgressEvent &Progress);
    void WriteParameters(TParWriter &Writer, std::uint32_t Flags);
    // The resume state and the image data. A record that cannot be used leaves every pixel as it
    // was, makes the layer calculate again and passes the error on.
    void ReadCalculation(TStream &Stream);
    void WriteCalculation(TStream &Stream);

    const std::string &GetCaption() const { return FCaption; }
    void SetCaption(const std::string &Value);
    bool GetEditable() const { return FEditable; }
    void SetEditable(bool Value);
    bool GetVisible() const { return FVisible; }
    void SetVisible(bool Value);
    std::int32_t GetOpacity() const { return FOpacity; }
    void SetOpacity(std::int32_t Value);
    std::uint8_t GetMergeMode() const { return FMergeMode; }
    void SetMergeMode(std::uint8_t Value);
    bool GetMask() const { return FMask; }
    void SetMask(bool Value);
    bool GetMaskOnly() const { return FMaskOnly; }
    void SetMaskOnly(bool Value);
    bool GetTransparent() const { return FTransparent; }
    void SetTransparent(bool Value);
    void ResetProperties();
    void ResetLocation();

    TGradient &GetGradient() const { return *FGradient; }
    TGradientTable &GetColorTable() const { return *FColorTable; }

    void BeginGradientChange();
    void EndGradientChange(bool Changed, const std::string &Caption);
    bool IsGradientChanging() const;
    void UpdateSolidColors();
    void UpdateBackgroundColor();

    bool ThumbnailNeedsUpdate() const;
    void UpdateThumbnail();
    void DrawThumbnail(HDC Canvas, std::int32_t X, std::int32_t Y);
    std::int32_t GetThumbnailWidth() const { return FThumbnailWidth; }
    std::int32_t GetThumbnailHeight() const { return FThumbnailHeight; }
    bool GetThumbnailValid() const { return FThumbnailValid; }
    const TBaseBitmap &GetThumbnail() const { return *FThumbnail; }

    void SetSize(std::int32_t Width, std::int32_t Height) override;

protected:
    void PrepareCalculation() override;
    std::unique_ptr<TCompute> CreatePiece() override;
    void Changed(TLayerChangeKind Kind, const std::string &Caption) override;
    void UpdateTransparency() override;
    void TransformationsChanged() override;

private:
    void GradientChanged(TObject *Sender, int Flags);
    void GradientTransparencyChanged(TObject *Sender);
    void SolidColorChanged(TObject *Sender);
    void HookTransformations();
    // The colour table changed: pixels that hold codes are drawn again, pixels that hold colours
    // are calculated again.
    void ColorsChanged();

    std::string FCaption;
    bool FEditable = true;
    std::unique_ptr<TGradientTable> FColorTable;
    std::unique_ptr<TGradient> FGradient;
    bool FMask = false;
    bool FMaskOnly = false;
    std::uint8_t FMergeMode = 0;
    std::int32_t FOpacity = 100;
    std::unique_ptr<TCanvasBitmap> FThumbnail;
    std::int32_t FThumbnailHeight = 0, FThumbnailWidth = 0;
    std::int32_t FGradientChangeCount = 0;
    bool FThumbnailValid = false;
    bool FTransparent = false;
    bool FVisible = true;
};

using TLayerListChangeEvent = TMethod<void(TObject *Sender, const std::string &Caption)>;
using TLayerIndexEvent = TMethod<void(TObject *Sender, int Index)>;
using TLayerMoveEvent = TMethod<void(TObject *Sender, int From, int To)>;

// The layers of a document, index 0 the top layer; owns them.
class TLayerList : public TObject {
public:
    TLayerList() = default;
    ~TLayerList() override;
    TLayerList(const TLayerList &) = delete;
    TLayerList &operator=(const TLayerList &) = delete;
    DECLARE_CLASS_NAME(TLayerList)

    // The list takes the layer; the index it got.
    int Add(std::unique_ptr<TLayer> Layer);
    void Insert(int Index, std::unique_ptr<TLayer> Layer);
    void Delete(int Index);
    void Move(int From, int To);
    // Puts Layers in the place of every layer, as one change. The events see the old layers
    // still listed: OnRemove for each from the last up, then OnAdd for each new index; the
    // exchange itself cannot fail. The old layers are handed back, not yet freed, so that the
    // caller can still put them back.
    std::vector<std::unique_ptr<TLayer>> Replace(std::vector<std::unique_ptr<TLayer>> Layers);
    void Clear();
    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate() { EndUpdateCaption(std::string()); }
    void EndUpdateCaption(const std::string &Caption);
    int Count() const { return static_cast<int>(FLayers.size()); }
    TLayer &Items(int Index) const { return *FLayers.at(static_cast<std::size_t>(Index)); }
    int IndexOf(const TLayer *Layer) const;

    TLayerListChangeEvent OnChange;
    TNotifyEvent OnBeforeChange;
    TLayerIndexEvent OnRemove;
    TLayerIndexEvent OnAdd;
    TLayerMoveEvent OnMove;

private:
    void DoBeforeChange();
    void Changed(const std::string &Caption);
    void DoChange();

    std::vector<std::unique_ptr<TLayer>> FLayers;
    std::string FPendingCaption;
    bool FChangePending = false;
    bool FBeforeChangeFired = false;
    std::int32_t FUpdateCount = 0;
};
