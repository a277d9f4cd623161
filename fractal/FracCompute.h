// Compute pieces: one column strip of a layer that one thread calculates at a time, with the
// per-pixel pipeline (position, mapping and transformations, iteration, statistics, inside or
// outside decision, coloring, store into the layer image); the layer statistics; the dirty
// rectangles the display redraws; and the resume-state records of pieces and statistics.
//
// Resume records (little-endian):
//   piece       33 bytes: version 0, left, top, right, bottom, state (1 byte), pass, resume x, resume y
//   statistics  1056 bytes: version 1, total, maxiter, counted, calculated, inside, min iteration,
//               max iteration, 256 histogram bins (version 0: no min and max, read as 0)
// Every record is read completely and checked before anything changes; a record that is not one
// the program writes raises EComputeError "Unsupported resume state" (a short stream EReadError).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "FracImage.h"
#include "GenClasses.h"
#include "GenColor.h"
#include "SysUtils.h"

class TColoring;
class TColoringMapper;
class TFormula;
class TGradient;
class THugeProcessor;
class TMapping;
class TPixelContextBlock;

DECLARE_EXCEPTION(EComputeError, Exception);
// The message of a refused resume record.
extern const char *const UnsupportedResumeState; // "Unsupported resume state"

// Piece states (TCompute::State).
constexpr std::uint8_t psNew = 0;
constexpr std::uint8_t psRunning = 1;
constexpr std::uint8_t psInterrupted = 2; // holds a resume position
constexpr std::uint8_t psDone = 3;

// Sizes of the resume records.
constexpr int PieceRecordSize = 33;
constexpr int StatisticsRecordSize = 1056;

// Drawing methods (TCompute::Method).
constexpr std::uint8_t dmGuessing = 0;
constexpr std::uint8_t dmMultiPass = 1;
constexpr std::uint8_t dmLinear = 2;

// Pixel codes ComputePoint returns besides 0 are those of FracImage.h: InsideSolidCode,
// OutsideSolidCode and FirstTransformCode + i.

bool IsEmptyRect(const TLayerRect &R);
// The smallest rectangle holding both (an empty one counts as nothing).
TLayerRect UnionRect(const TLayerRect &A, const TLayerRect &B);
// True when the two rectangles share at least one pixel.
bool RectsIntersect(const TLayerRect &A, const TLayerRect &B);
// True when Inner is not empty and lies wholly inside Outer.
bool RectInside(const TLayerRect &Inner, const TLayerRect &Outer);

class TAntiAliasingSettings : public TObject {
public:
    DECLARE_CLASS_NAME(TAntiAliasingSettings)
    void Assign(const TAntiAliasingSettings &Source);
    // Depth clamped to 1 .. 4.
    std::int32_t UsedDepth() const;

    std::int32_t Depth = 1;
    bool Enabled = false;
    bool Split3x3 = false;
    double Threshold = 0;
};

// Pixel and iteration counts of one layer, shared by every piece of the layer. The counting
// operations may be called from several threads at once: every counter is changed by interlocked
// operations, so no count is lost. Reset, the resume-state operations and MergeRemoteState run
// while no piece of the layer calculates.
class TLayerStatistics : public TObject {
public:
    TLayerStatistics();
    DECLARE_CLASS_NAME(TLayerStatistics)

    static constexpr int HistogramSize = 256;

    // Zeroes every counter and the histogram; stores total and maxiter (below 1 taken as 1) and
    // derives shift and bin count.
    void Reset(std::uint32_t Total, std::int32_t MaxIter);
    // One calculated pixel that ran Iter iterations (counted only while counted < total and not
    // suspended). Outside counts go to bin (Iter - 1) shr shift; counts past the last bin in use
    // are merged into it, so the histogram's sum always equals calculated - inside.
    void AddPixel(std::int32_t Iter);
    void CountGuessed();
    void CountSkipped();
    // An anti-aliased cell: counted + 1 while counted < total, also while suspended.
    void CountPixel();
    std::uint32_t GetBinCount(int Index) const;
    std::int32_t GetBinIteration(int Index) const { return (Index << Shift()) + 1; }

    // The 1056-byte record (version 1). Reading accepts versions 0 and 1 and checks that the
    // counts fit together (counted <= total, calculated <= counted, inside <= calculated, the
    // histogram's sum <= calculated - inside, iterations below maxiter); otherwise
    // EComputeError "Unsupported resume state" and nothing changes.
    void ReadResumeState(TStream &Stream);
    void WriteResumeState(TStream &Stream) const;
    // Network client: folds a server snapshot read from Stream into these counts. Previous holds
    // the last snapshot taken over and becomes this one.
    void MergeRemoteState(TLayerStatistics &Previous, TStream &Stream);

    void SetSuspended(bool Value) { FSuspended.store(Value, std::memory_order_relaxed); }
    bool Suspended() const { return FSuspended.load(std::memory_order_relaxed); }
    std::uint32_t Calculated() const { return FCalculated.load(std::memory_order_relaxed); }
    std::uint32_t Inside() const { return FInside.load(std::memory_order_relaxed); }
    std::uint32_t Counted() const { return FCounted.load(std::memory_order_relaxed); }
    std::uint32_t Total() const { return FTotal; }
    std::int32_t MaxIter() const { return FMaxIter; }
    std::int32_t Shift() const { return FShift; }
    // Bins in use: (maxiter - 1) shr shift.
    std::int32_t BinCount() const { return FBinCount; }
    std::int32_t MaxIteration() const { return FMaxIteration.load(std::memory_order_relaxed); }
    // 0 while no outside pixel was counted.
    std::int32_t MinIteration() const { return FMinIteration.load(std::memory_order_relaxed); }
    // The sum of all bins.
    std::uint64_t HistogramSum() const;

private:
    // counted + 1 unless counted has reached total; true when it was counted.
    bool TakeCount();
    void SetMaxIter(std::int32_t MaxIter);

    std::atomic<bool> FSuspended{false};
    std::atomic<std::uint32_t> FCalculated{0};
    std::atomic<std::uint32_t> FHistogram[HistogramSize];
    std::int32_t FBinCount = 0;
    std::atomic<std::uint32_t> FInside{0};
    std::int32_t FShift = 0;
    std::int32_t FMaxIter = 1;
    std::atomic<std::int32_t> FMaxIteration{0};
    std::atomic<std::int32_t> FMinIteration{0};
    std::atomic<std::uint32_t> FCounted{0};
    std::uint32_t FTotal = 0;
};

class TUpdateRect;

// The dirty rectangles of one fractal, shared by every piece of every layer and by the display
// update thread; every access goes through the list's lock.
class TUpdateRectList : public TObject {
public:
    TUpdateRectList();
    ~TUpdateRectList() override;
    TUpdateRectList(const TUpdateRectList &) = delete;
    TUpdateRectList &operator=(const TUpdateRectList &) = delete;
    DECLARE_CLASS_NAME(TUpdateRectList)

    void AddUpdateRect(TUpdateRect *Rect);
    void RemoveUpdateRect(TUpdateRect *Rect);
    void Lock() { FLock->Enter(); }
    void Unlock() { FLock->Leave(); }
    // Caller holds the lock. Merges Rect into one of the last four entries (newest first) when
    // the union covers no more than the two together, else appends it. Empty rectangles are
    // ignored.
    void IncludeRect(const TLayerRect &Rect);
    // Hands the rectangles to the caller and empties the list, then includes the rectangle in
    // progress of every registered update rect, so the parts now being calculated are redrawn
    // again next time.
    void ExtractRects(std::vector<TLayerRect> &Rects);

    int Count() const { return static_cast<int>(FRects.size()); }
    int Capacity() const { return static_cast<int>(FRects.capacity()); }

private:
    std::vector<TLayerRect> FRects;
    std::unique_ptr<TCriticalSection> FLock;
    std::vector<TUpdateRect *> FUpdateRects;
};

// A piece's rectangle in progress; registered with its list for its whole life.
class TUpdateRect : public TObject {
public:
    // A nil list makes an update rect that only keeps its rectangle.
    explicit TUpdateRect(TUpdateRectList *List);
    ~TUpdateRect() override;
    TUpdateRect(const TUpdateRect &) = delete;
    TUpdateRect &operator=(const TUpdateRect &) = delete;
    DECLARE_CLASS_NAME(TUpdateRect)

    // Stores Rect as the rectangle in progress and includes it (under the list's lock).
    void SetRect(const TLayerRect &Rect);
    // Includes Rect without changing the rectangle in progress.
    void AddRect(const TLayerRect &Rect);
    // Caller holds the list's lock (or there is no list).
    const TLayerRect &GetRect() const { return FRect; }
    TUpdateRectList *List() const { return FList; }

private:
    TUpdateRectList *FList;
    TLayerRect FRect;
};

// One strip of a layer calculation. The engine hands a piece to one thread at a time; only Stop
// may be called from another thread. The drawing methods derive from it and implement
// CalculatePixels and CalculateAntiAliased; they call CalculatePixel / CalculateColor for every
// sample, test IsStopping after each, and on a stop set Resume, ResumeX and ResumeY.
//
// Errors: Calculate frees everything the run made and passes on what the run raised, a processor
// fault in generated code included (as EExternal, caught by the fault guard around the method),
// so the calling thread can end the engine's run with the message (TCalculateEngine::PieceFailed)
// instead of losing the process. No destructor runs between a processor fault and the guard:
// what a method allocates for a run belongs in members of the piece (freed by the next run or
// the destructor), not in locals of CalculatePixels or CalculateAntiAliased.
class TCompute : public TObject {
public:
    // Any of the objects may be nil for a piece that never runs the pixel pipeline (a piece whose
    // descendant replaces Calculate). The update rect is registered with the list at once.
    TCompute(TMapping *AMapping, TLayerStatistics *AStatistics, TUpdateRectList *UpdateRects,
             TLayerImage *AImage, TColoring *AOutsideColoring, TColoring *AInsideColoring,
             TFormula *AFormula);
    ~TCompute() override;
    TCompute(const TCompute &) = delete;
    TCompute &operator=(const TCompute &) = delete;
    DECLARE_CLASS_NAME(TCompute)

    // One run: start exponent, huge processor and mappers, InitContext, the GLOBAL routines,
    // then CalculateAntiAliased or CalculatePixels, FreeContext. Runs under the formula control
    // word. Everything the run made is freed also when it raises; the stop flag is cleared at
    // the end.
    virtual void Calculate();
    // From any thread: the run ends soon (the stop flag, and the context's stop byte so that a
    // running pixel routine leaves its loop).
    void Stop();
    bool IsStopping() const { return FStopFlag.load(std::memory_order_relaxed); }

    // The pixel context of the run (nil outside a run).
    void InitContext();
    void FreeContext();
    void *Context() const { return FContext; }
    // The per-pixel pipeline: 0, or a pixel code (FirstTransformCode + i for a point made solid by
    // transformation i, InsideSolidCode, OutsideSolidCode). NX, NY > 1: (X, Y) is a sample
    // position on a grid NX (NY) times finer than the pixels.
    std::int32_t ComputePoint(std::int32_t X, std::int32_t Y, std::int32_t NY, std::int32_t NX);
    // ComputePoint(X, Y, 1, 1) and the result stored into the layer image.
    void CalculatePixel(std::int32_t X, std::int32_t Y);
    // The colour of the sample (X / NX, Y / NY) as a float colour (anti-aliasing).
    void CalculateColor(std::int32_t X, std::int32_t Y, TFloatColor &Color, std::int32_t NX, std::int32_t NY);

    // The 33-byte piece record. Reading checks the whole record first (version 0, state 0..3,
    // a non-empty rectangle, pass -1 .. 4, and for an interrupted piece a resume position inside
    // the rectangle) and raises EComputeError "Unsupported resume state" before any field
    // changes. A piece stored as running is taken as new (pass -1). The engine checks the
    // rectangle against its area.
    void ReadResumeState(TStream &Stream);
    void WriteResumeState(TStream &Stream) const;

    virtual void CalculateAntiAliased() = 0;
    virtual void CalculatePixels() = 0;

    std::unique_ptr<TAntiAliasingSettings> AntiAliasing;
    TLayerRect Rect;
    TFormula *Formula;
    TGradient *Gradient = nullptr;
    TLayerImage *Image;
    TColoring *InsideColoring;
    std::unique_ptr<TColoringMapper> InsideMapper;
    // Current pass of a multi-pass method; -1 when none was started.
    std::int32_t Pass = -1;
    std::int32_t ResumeX = 0, ResumeY = 0;
    TMapping *Mapping;
    std::uint8_t Method = dmGuessing;
    // First block size exponent of the multi-pass methods for this run: clamp(height / 300 + 3, 2, 4).
    std::int32_t StartExponent = 2;
    TColoring *OutsideColoring;
    std::unique_ptr<TColoringMapper> OutsideMapper;
    // 0 double, 1 extended, 2 arbitrary; taken from the formula when a run starts.
    std::uint8_t Precision = 0;
    std::unique_ptr<THugeProcessor> HugeProcessor;
    // The piece holds a valid resume position (set by the engine when it hands out an
    // interrupted piece, and by the method when it stops).
    bool Resume = false;
    TLayerStatistics *Statistics;
    // psNew .. psDone; changed by the engine under its lock.
    std::uint8_t State = psNew;
    std::unique_ptr<TUpdateRect> UpdateRect;

private:
    void FreeRun() noexcept;
    // PIXEL of a sample between pixels, and the transformations on it: 0 or a solid code.
    std::int32_t MapSample(long double X, long double Y);
    void AllocateOrbit();

    std::atomic<bool> FStopFlag{false};
    // Guards FContext between Stop on another thread and the run's start and end.
    std::unique_ptr<TCriticalSection> FContextLock;
    std::unique_ptr<TPixelContextBlock> FContextBlock;
    void *FContext = nullptr;
    std::unique_ptr<std::uint8_t[]> FOrbitBlock;
    // Arbitrary precision: the huge numbers of the orbit array.
    bool FOrbitNumbers = false;
    std::int32_t FOrbitPoints = 0;
    bool FHugeValues = false;
    bool FFormulaStarted = false, FMappingStarted = false, FInsideStarted = false, FOutsideStarted = false;
    double FPixelSize = 0;
};
