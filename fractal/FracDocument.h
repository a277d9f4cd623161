// The fractal document: an ordered stack of layers (index 0 the top layer) with an active layer,
// a title and an image size, the timer of the calculation, and a change bracket that gathers every
// change of the document and of its layers into one committed change with one undo caption. It
// reads and writes the document's parameter entry: a "fractal" section followed by one "layer"
// section per layer.
//
// Threads: everything runs on the interface thread except CalculationStarted,
// CalculationFinished, IsCalculating and HasPausedLayers, which run under the document's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CompPersistent.h"
#include "FracLayer.h"
#include "FracTimer.h"

DECLARE_EXCEPTION(EFractalError, Exception);

using TFractalProgressEvent = TMethod<void(TObject *Sender, int Percent)>;

// The memory an image of Width x Height pixels with Layers layers takes, as the image settings
// show it: two bytes a pixel for each layer's codes and five for the display and the merging.
std::int64_t ImageMemoryEstimate(std::int32_t Width, std::int32_t Height, std::int32_t Layers);
// The most that estimate may reach, and the most layers a document holds: a 32-bit process cannot
// hold more beside everything else it keeps.
constexpr std::int64_t MaxImageMemory = std::int64_t(1) << 30;
constexpr std::int32_t MaxLayerCount = 1024;
// Whether a document of that size and layer count can be made: sides of at least one pixel, at
// most MaxLayerCount layers and an estimate within MaxImageMemory. Every size a document takes
// (set, read or imported) passes this.
bool ImageSizeAllowed(std::int32_t Width, std::int32_t Height, std::int32_t Layers);
// EFractalError naming the size when it is not allowed.
void CheckImageSize(std::int32_t Width, std::int32_t Height, std::int32_t Layers);

class TFractintImporter;

class TCustomFractal : public TPersistentObject {
public:
    // Flags of ReadParameters: take the entry's image size; without rfTakeSize, fit the entry's
    // aspect ratio into the current size. Every flag goes on to ReadEntryInfo and ReadKey.
    static constexpr std::uint32_t rfTakeSize = 1;
    static constexpr std::uint32_t rfFitAspect = 8;
    // Flags of WriteParameters: write "editable", write "maskonly", write "active", write formula
    // file names without their folders. Every flag goes on to WriteKeys.
    static constexpr std::uint32_t wfEditable = 2;
    static constexpr std::uint32_t wfMaskOnly = 4;
    static constexpr std::uint32_t wfActive = 8;
    static constexpr std::uint32_t wfShortFileName = 16;

    // Change kinds of Changed: 1 belongs to the current undo step, 2 makes a new one.
    static constexpr std::uint8_t ckContinued = 1;
    static constexpr std::uint8_t ckNewStep = 2;

    // Manager nil: the global calculation manager (each layer calculates through it).
    explicit TCustomFractal(TCalculateManager *AManager = nullptr);
    ~TCustomFractal() override;
    TCustomFractal(const TCustomFractal &) = delete;
    TCustomFractal &operator=(const TCustomFractal &) = delete;
    DECLARE_CLASS_NAME(TCustomFractal)

    void LoadFromReader(TParReader &Reader) override { ReadParameters(Reader, 7, TFractalProgressEvent()); }
    void SaveToWriter(TParWriter &Writer) override { WriteParameters(Writer, 6); }

    // --- Change bracket ---
    void BeginChange();
    void EndChange() { EndChangeCaption(std::string()); }
    // A non-empty caption becomes the pending caption, over those that changes inside brought.
    void EndChangeCaption(const std::string &Caption);
    bool IsChanging() const { return FChangeCount > 0; }
    // Records a change of kind 0 (nothing for the undo history), 1 or 2; commits at once when no
    // bracket is open.
    virtual void Change(std::uint8_t Kind, const std::string &Caption);
    // Adds Rect to the part of the image repainted at the next commit.
    void InvalidateRect(const TLayerRect &Rect);

    // --- Parameter text ---
    // Reads the entry into new layers and puts them in the place of the old ones only once all of
    // it was read: a refused entry (a wrong layer count, a bad value, a size beyond
    // ImageSizeAllowed, a missing formula, no memory), and a cancel, leave the layers, the size
    // and the title as they were. Every error that leaves is one of the library's exceptions.
    void ReadParameters(TParReader &Reader, std::uint32_t Flags, const TFractalProgressEvent &Progress);
    void WriteParameters(TParWriter &Writer, std::uint32_t Flags);

    // --- Properties ---
    const std::string &GetTitle() const { return FTitle; }
    void SetTitle(const std::string &Value);
    std::int32_t GetWidth() const { return FWidth; }
    std::int32_t GetHeight() const { return FHeight; }
    // Refuses a size that CheckImageSize refuses; a size that memory cannot hold leaves the
    // document and every layer at the old size.
    void SetImageSize(std::int32_t AWidth, std::int32_t AHeight);
    void SetWidth(std::int32_t Value) { SetImageSize(Value, FHeight); }
    void SetHeight(std::int32_t Value) { SetImageSize(FWidth, Value); }
    std::int32_t GetActiveIndex() const { return FActiveIndex; }
    TLayer *GetActiveLayer() const { return FActiveLayer; }
    void SetActiveLayer(std::int32_t Index);
    TLayerList &GetLayers() const { return *FLayers; }
    // The calculation manager the layers calculate through (nil: the global one).
    TCalculateManager *GetCalculateManager() const { return FManager; }
    TFractalTimer &GetTimer() const { return *FTimer; }
    TUpdateRectList &GetUpdateRects() const { return *FUpdateRects; }
    std::uint8_t GetPriority() const { return FPriority; }
    void SetThreadPriority(std::uint8_t Value);
    const std::string &GetPendingCaption() const { return FPendingCaption; }
    std::uint8_t GetPendingKind() const { return FPendingKind; }
    const TLayerRect &GetPendingRect() const { return FPendingRect; }
    bool GetRectPending() const { return FRectPending; }
    bool GetChangePending() const { return FChangePending; }
    std::int32_t GetChangeCount() const { return FChangeCount; }
    TLayer *GetLastChangedLayer() const { return FLastChangedLayer; }

    // --- Layers ---
    // Inserts a copy of the active layer above it (a new layer when there is none); the new layer.
    TLayer *DuplicateLayer(const std::string &Caption);
    // A copy of Layer's parameters (and of its calculated image when it has the document's size),
    // not yet in the list; its construction update is still open.
    std::unique_ptr<TLayer> CloneLayer(TLayer &Layer);
    void ResetLocation();

    // --- Calculation ---
    void PauseCalculation();
    void ResumeCalculation();
    bool IsCalculating();
    bool HasPausedLayers();
    bool IsCalculationDone() { return !IsCalculating() && !HasPausedLayers(); }
    std::int32_t GetCalculatingCount();
    bool CanRender() const;
    void ApplyUncalculatedColor();

    TNotifyEvent OnChange;
    TNotifyEvent OnCalculate;

protected:
    // --- Operations that descendants fill ---
    // Must end with the document and all layers at the new size, or raise with all of them at the
    // old size; runs inside a change bracket while calculation is paused.
    virtual void SetSize(std::int32_t AWidth, std::int32_t AHeight);
    // Repaints that rectangle of the displayed image; called at a commit.
    virtual void InvalidateDisplay(const TLayerRect &Rect) {}
    // C++ reaches no override from the base's constructor and destructor: a descendant with a
    // display makes it in its own constructor and frees it in its own destructor through these.
    virtual void DestroyDisplay() {}
    virtual void CreateDisplay() {}
    // One committed change (kind 1 or 2), outside any bracket.
    virtual void Changed(std::uint8_t Kind, const std::string &Caption) {}
    virtual void LayerListChanged(TObject *Sender, const std::string &Caption);
    virtual void LayerListChanging(TObject *Sender) {}
    virtual void CalculationStarted(TObject *Sender, bool Continued, bool Ignored);
    virtual void CalculationFinished(TObject *Sender);
    virtual void ReadEntryInfo(TParReader &Reader, std::uint32_t Flags) {}
    // A key of the "fractal" section that this class does not know; its value is read already.
    virtual void ReadKey(TParReader &Reader, std::uint32_t Flags, const std::string &Key) {}
    virtual void WriteComments(TParWriter &Writer) {}
    virtual void WriteKeys(TParWriter &Writer, std::uint32_t Flags) {}
    // A new layer wired to this document, at its size and priority, with its construction update
    // and one update per open change bracket still open.
    virtual std::unique_ptr<TLayer> CreateLayer();
    // Wires a layer that a descendant's CreateLayer made (over GetUpdateRects, with this
    // document's calculation manager) the way CreateLayer's own layers are.
    std::unique_ptr<TLayer> PrepareLayer(std::unique_ptr<TLayer> Layer);

private:
    friend class TFractintImporter;

    void Commit();
    void LayerChanged(TObject *Sender, TLayerChangeKind Kind, const std::string &Caption);
    void LayerInvalidate(TObject *Sender, const TLayerRect &Rect);
    void LayerProgress(TObject *Sender, int Percent);
    std::unique_ptr<TLayer> NewLayer();
    // A layer from CreateLayer made at another size than the document's (for a read that takes a
    // new size), its construction update closed.
    std::unique_ptr<TLayer> CreateLayerOfSize(std::int32_t AWidth, std::int32_t AHeight);
    // The commit of a read: Layers take the place of every layer and the document takes their
    // size. A size the display cannot take puts the old layers back and passes the error on.
    void InstallLayers(std::vector<std::unique_ptr<TLayer>> Layers, std::int32_t AWidth,
                       std::int32_t AHeight);
    // Checks the declared layer count against the layer sections without reading anything; the
    // reader's cursor is kept.
    void CheckLayerSections(TParReader &Reader);
    void ReadSections(TParReader &Reader, std::uint32_t Flags, const TFractalProgressEvent &Progress);

    TCalculateManager *FManager;
    std::int32_t FActiveIndex = 0;
    TLayer *FActiveLayer = nullptr;
    std::string FTitle;
    std::int32_t FHeight = 0;
    TLayer *FLastChangedLayer = nullptr;
    std::unique_ptr<TLayerList> FLayers;
    std::unique_ptr<TCriticalSection> FLock;
    TFractalProgressEvent FOnProgress;
    std::int32_t FProgressBase = 0, FProgressSpan = 0;
    std::uint8_t FPriority = 2;
    TLayerRect FPendingRect;
    bool FRectPending = false;
    std::int32_t FCalculatingCount = 0;
    std::unique_ptr<TFractalTimer> FTimer;
    std::string FPendingCaption;
    std::uint8_t FPendingKind = 0;
    std::unique_ptr<TUpdateRectList> FUpdateRects;
    bool FChangePending = false;
    std::int32_t FChangeCount = 0;
    std::int32_t FWidth = 0;
    // The size NewLayer makes layers at, when not the document's (-1).
    std::int32_t FNewLayerWidth = -1, FNewLayerHeight = -1;
};
