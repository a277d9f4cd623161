// The display update manager of a fractal document: a worker thread that keeps the display bitmap in
// step with the layers' pixels. While layers calculate it wakes every 300 ms, takes the rectangles the
// calculation reported as changed and merges them into the bitmap; an invalidation is merged at once.
// It also shows the view under a transformation (zoom, pan, rotation before the new location is
// calculated): TAnimatedCorners describes where the display's corners lie relative to the calculated
// image, the layer images are resampled through it, AnimateCorners moves the view smoothly, and the
// move is then applied to the editable layers' own pixels.
//
// Locks: CountLock (calculation count), DirtyLock (dirty rectangle), SnapshotLock (snapshot) and
// each layer image's lock while its rows are read. None is held while another is taken. BeginUpdate
// blocks until the thread is idle, which makes size changes and animations exclusive with merging.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "Classes.h"
#include "FracImage.h"
#include "GenBitmap.h"
#include "GenClasses.h"

class TLayer;
class TLayerList;
class TUpdateRectList;
class TFractalMergeEngine;

struct TViewPoint {
    double X = 0;
    double Y = 0;
};

// The display's corners 0 top-left, 1 top-right, 2 bottom-right in view units: at rest the view spans
// x from -Aspect/2 to Aspect/2 and y from -0.5 (top) to 0.5 (bottom).
class TAnimatedCorners : public TObject {
public:
    explicit TAnimatedCorners(double AAspect);
    DECLARE_CLASS_NAME(TAnimatedCorners)

    // A copy of the corners and aspect, without the change event.
    static std::unique_ptr<TAnimatedCorners> CreateCopy(const TAnimatedCorners &Other);
    void Assign(const TAnimatedCorners &Other);

    double GetAspect() const { return FAspect; }
    // Changes the aspect only; the owner resets the corners afterwards.
    void SetAspect(double Value) { FAspect = Value; }
    TViewPoint GetCorner(int I) const { return FCorners[I]; }
    void SetCorner(int I, const TViewPoint &Point);

    void Reset();
    // Every coordinate within 0.001 of its place at rest.
    bool IsAtRest() const;

    void Translate(double DX, double DY);
    void Rotate(double A);
    void Scale(double F);
    void Stretch(double F);
    void Skew(double A);
    // Centre, size (height), angle of the top edge, width over Size * Aspect and skew angle. A view
    // squeezed to size 0 or width 0 reports a stretch of 1 instead of dividing by zero.
    void Decompose(double &CX, double &CY, double &Size, double &Angle, double &AStretch,
                   double &ASkew) const;
    void Invert();

    TNotifyEvent OnChange;

private:
    void Changed() { OnChange(this); }

    double FAspect;
    TViewPoint FCorners[3];
};

class TUpdateManager : public TGeneralThread {
public:
    // Made suspended; Create makes the joined object and starts it.
    TUpdateManager(TUpdateRectList *AUpdateRects, TBaseBitmap *ABitmap, TLayerList *ALayers);
    ~TUpdateManager() override;
    DECLARE_CLASS_NAME(TUpdateManager)

    static std::unique_ptr<TUpdateManager> Create(TUpdateRectList *AUpdateRects, TBaseBitmap *ABitmap,
                                                  TLayerList *ALayers);

    void Terminate() override;

    void CalculationStarted();
    void CalculationFinished();
    void InvalidateRect(const RECT &R);
    void InvalidateAll();
    void BeginUpdate();
    void EndUpdate();
    void SetSize(std::int32_t W, std::int32_t H);
    // Row Y of the merged layers (untransformed): Width 4-byte pixels, or 3-byte pixels with RGB.
    void GetMergedRow(std::int32_t Y, void *Buffer, bool RGB);
    // Row Y of the merged layers over Background (mbNone, mbWhite or mbCheckerboard, as the
    // display shows it): Width 4-byte pixels.
    void GetMergedRowOver(std::int32_t Y, std::uint32_t *Buffer, int Background);
    void DrawTo(HDC Canvas, int X, int Y);
    void CopyToBitmap(TCanvasBitmap &B);
    void AnimateCorners(const TAnimatedCorners &NewCorners, bool Animate);
    // Merges R into the bitmap and draws it (at rest), or shows the transformed view.
    void RefreshRect(const RECT &R);

    TAnimatedCorners &View() const { return *FView; }
    TBaseBitmap *Bitmap() const { return FBitmap; }
    std::int32_t Width() const { return FWidth; }
    std::int32_t Height() const { return FHeight; }
    std::int32_t GetSnapshotWidth() const { return FSnapshotWidth; }
    std::int32_t GetSnapshotHeight() const { return FSnapshotHeight; }
    bool HasSnapshot();
    bool GetForceTransform() const { return FForceTransform; }
    void SetForceTransform(bool Value) { FForceTransform = Value; }

    // Counters for whoever watches the thread: passes over the calculation's rectangles (every
    // 300 ms while layers calculate and once when the last one finished), and merges of an
    // invalidated rectangle.
    int GetRefreshCount() const { return FRefreshCount.load(); }
    int GetInvalidationRefreshCount() const { return FInvalidationRefreshCount.load(); }

    TNotifyEvent OnApplyView;

protected:
    void DoExecute() override;
    // Waits for the wake event at most Timeout ms (INFINITE: without limit); TEvent::wrSignaled or
    // TEvent::wrTimeout.
    virtual std::uint32_t WaitForWake(std::uint32_t Timeout);
    TEvent &WakeEvent() const { return *FWakeEvent; }

    // The animation options: "Animation", "AnimationDuration", "AnimationLimitSize",
    // "AnimationMaxWidth" and "AnimationMaxHeight" (their defaults without a configuration).
    struct TAnimationOptions {
        int Animation = 1;
        int Duration = 1000;
        bool LimitSize = true;
        int MaxWidth = 640;
        int MaxHeight = 480;
    };
    virtual TAnimationOptions GetAnimationOptions() const;

private:
    // An image corner placed in the display.
    struct TImageCorner {
        double X, Y;
        std::int32_t PX, PY;
    };
    // Display-to-image mapping of one transformed pass: image position = Origin + x * StepX + y * StepY
    // for display position (x, y) in the pass's target grid.
    struct TResampleMap {
        bool Valid = false;
        long double OriginX = 0, OriginY = 0;
        long double StepXX = 0, StepXY = 0; // per target column: image x, image y
        long double StepYX = 0, StepYY = 0; // per target row
    };

    // BeginUpdate .. EndUpdate for a scope.
    struct TUpdateScope {
        explicit TUpdateScope(TUpdateManager &AManager) : Manager(AManager) { Manager.BeginUpdate(); }
        ~TUpdateScope() { Manager.EndUpdate(); }
        TUpdateScope(const TUpdateScope &) = delete;
        TUpdateScope &operator=(const TUpdateScope &) = delete;
        TUpdateManager &Manager;
    };

    void ViewChanged(TObject *Sender);
    void GetLayerRow(TObject *Sender, TLayer *Layer, std::int32_t X, std::int32_t Y, int Count,
                     std::uint32_t *Row);
    void GetRestingLayerRow(TObject *Sender, TLayer *Layer, std::int32_t X, std::int32_t Y, int Count,
                            std::uint32_t *Row);
    void RefreshCalculated();
    void MergeView(std::uint8_t Mode, TLayer *Layer = nullptr);
    // The corners of an image of the given size placed in a view of ViewWidth x ViewHeight pixels.
    void PlaceImageCorners(std::int32_t ImageWidth, std::int32_t ImageHeight, std::int32_t ViewWidth,
                           std::int32_t ViewHeight);
    // The mapping from a target grid laid over that view to the placed image.
    TResampleMap MakeResampleMap(std::int32_t ImageWidth, std::int32_t ImageHeight, std::int32_t ViewWidth,
                                 std::int32_t ViewHeight, std::int32_t TargetWidth,
                                 std::int32_t TargetHeight) const;
    // Places layer 0's image (or, without layers, one of the target's size) in the view and maps the
    // target grid onto it.
    TResampleMap PlaceView(std::int32_t ViewWidth, std::int32_t ViewHeight, std::int32_t TargetWidth,
                           std::int32_t TargetHeight);
    bool Follows(const TLayer &Layer) const;
    void ResampleRow(TLayer &Layer, std::int32_t X, std::int32_t Y, int Count, std::uint32_t *Row);
    void ResampleLayerImage(TLayer &Layer);
    bool Stopped() const;
    void TakeSnapshot();
    void DropSnapshot();
    void UpdateSnapshotSize();
    bool AnimationAllowed() const;

    bool FForceTransform = false;
    TBaseBitmap *FBitmap;
    std::unique_ptr<TAnimatedCorners> FView;
    std::atomic<bool> FFinalRefresh{false};
    std::int32_t FHeight = 0;
    std::atomic<bool> FAbort{false};
    TLayerList *FLayers;
    std::unique_ptr<TCriticalSection> FCountLock;
    std::unique_ptr<TFractalMergeEngine> FEngine;
    std::unique_ptr<TCanvasBitmap> FSnapshot;
    std::int32_t FSnapshotHeight = 0;
    std::unique_ptr<TCriticalSection> FSnapshotLock;
    std::int32_t FSnapshotWidth = 0;
    std::atomic<bool> FDirtyPending{false};
    std::int32_t FCalculations = 0;
    std::unique_ptr<TEvent> FIdleEvent;
    std::uint8_t FPassMode = 0;
    TImageCorner FImageCorners[4] = {};
    RECT FDirtyRect = {};
    TUpdateRectList *FUpdateRects;
    std::unique_ptr<TCriticalSection> FDirtyLock;
    std::atomic<std::int32_t> FUpdateCount{0};
    bool FTransforming = false;
    std::unique_ptr<TEvent> FWakeEvent;
    std::int32_t FWidth = 0;

    // The mapping of the running transformed pass (set by MergeView).
    TResampleMap FMap;
    // Merges for GetMergedRow, so that the interface thread never shares the thread's engine.
    std::unique_ptr<TFractalMergeEngine> FRowEngine;
    std::vector<std::uint32_t> FResampled;
    std::atomic<int> FRefreshCount{0};
    std::atomic<int> FInvalidationRefreshCount{0};
};
