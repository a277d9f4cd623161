// The calculation side of one layer: a calculation engine that owns the layer's fractal formula,
// its two colorings, its location mapping, pixel store and statistics; batches the changes of
// these parts into change events for the document; chooses the precision; exploits the formula's
// symmetry; and writes and reads the layer's resume state.
//
// Threads: every change and every event runs on the thread that made the engine (the interface
// thread), except OnCalculationFinished. CalculationFinished runs on the calculation thread that
// released the last piece; it mirrors the symmetric part there, ends the run and fires
// OnCalculationFinished on that thread, so an owner's count of calculating layers follows the
// layers on any thread, also on one without a message loop (a render job, a server). Only the
// repaint of the mirrored part is posted to the thread that made the engine, never waited for.
//
// Each run whose start OnCalculationStart reported gets exactly one OnCalculationFinished: when
// it ends, when it is stopped with work left, or when the start itself fails after it was
// reported (the layer is then interrupted, with the error as its calculation error).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "FracCalculate.h"
#include "FracColoring.h"
#include "FracCompute.h"
#include "FracFormula.h"
#include "FracImage.h"
#include "FracMapping.h"
#include "GenClasses.h"
#include "PostedCalls.h"

DECLARE_EXCEPTION(ELayerError, Exception);

// Kinds of OnChange: 0 modified (no undo step), 1 continues the previous change, 2 a new change.
enum class TLayerChangeKind : std::uint8_t { Modified = 0, Continued = 1, NewChange = 2 };

// Calculation states.
constexpr std::uint8_t csIdle = 0; // complete, or never started
constexpr std::uint8_t csCalculating = 1;
constexpr std::uint8_t csInterrupted = 2;

// Symmetry phase after the mirror phase.
constexpr std::int32_t SymmetryPhaseDone = 2000;

// Layer resume-state version; older records are skipped by their fixed size.
constexpr std::uint32_t LayerResumeVersion = 256;
constexpr std::int32_t OldLayerResumeSize = 1964;

// The precision for a digit count under the option ArbitraryPrecision (0 never, 1 when
// necessary, 2 always): 0 double up to 16 digits, 1 extended up to 20, else 2 arbitrary when
// allowed and extended when not.
std::uint8_t ChoosePrecisionMode(std::int32_t Digits, int ArbitraryOption);

// Compiles the mapping's transformations, the formula and both colorings with the location's
// constants (centre, magnification, angle, stretch, skew, image size, maximum iterations), in
// the given digits and precision, each inside one update. Layers and the calculation server's
// engine prepare a calculation through it.
void ApplyFormulaConstants(TMapping &Mapping, TFormula &Formula, TColoring &Inside, TColoring &Outside,
                           std::int32_t Digits, std::uint8_t Precision);

using TLayerInvalidateEvent = TMethod<void(TObject *Sender, const TLayerRect &Rect)>;
using TLayerCalculationStartEvent = TMethod<void(TObject *Sender, bool Resuming, bool NewUndoStep)>;
using TLayerChangeEvent = TMethod<void(TObject *Sender, TLayerChangeKind Kind, const std::string &Caption)>;

class TLayerEngine : public TCalculateEngine {
public:
    // Leaves the construction bracket open: the owner closes it with EndUpdate. Manager nil: the
    // global calculation manager.
    explicit TLayerEngine(TUpdateRectList *AUpdateRects, TCalculateManager *AManager = nullptr);
    ~TLayerEngine() override;
    DECLARE_CLASS_NAME(TLayerEngine)

    // --- Change protocol (interface thread) ---
    void BeginUpdate();
    void EndUpdate() { EndUpdateCaption(std::string()); }
    // A non-empty caption replaces the pending one.
    void EndUpdateCaption(const std::string &Caption);
    void Modified();
    void Recalculate();
    void RecalculateUndoable(const std::string &Caption);
    void RequestCalculation(const std::string &Caption = std::string());
    void RequestRedraw(std::uint8_t Group, const std::string &Caption = std::string());
    void InvalidateRect(const TLayerRect &Rect);
    void InvalidateAll();
    void ResumeCalculation();
    void ProcessChanges();

    // --- Calculation ---
    void StartCalculation();
    void StopCalculation();
    void CalculateRect(const TLayerRect &Rect);
    void CalculateRects(const TLayerRect &Rect1, const TLayerRect &Rect2);

    // --- Properties ---
    std::uint8_t GetMethod() const { return FMethod; }
    void SetMethod(std::uint8_t Method);
    std::int32_t GetAdditionalPrecision() const { return FAdditionalPrecision; }
    void SetAdditionalPrecision(std::int32_t Digits);
    virtual void SetSize(std::int32_t Width, std::int32_t Height);
    void SetWidth(std::int32_t Width) { SetSize(Width, FHeight); }
    void SetHeight(std::int32_t Height) { SetSize(FWidth, Height); }
    void Crop(const TLayerRect &Rect);
    std::int32_t GetWidth() const { return FWidth; }
    std::int32_t GetHeight() const { return FHeight; }
    std::uint8_t GetImageMode() const;
    void UpdateImageMode();
    bool CanRender() const;
    void UpdatePrecisionMode();
    void UpdateConstants();

    std::int32_t GetXAxisRow() const;
    std::int32_t GetYAxisColumn() const;
    bool ImageCrossesXAxis(const TLayerRect &R) const;
    bool ImageCrossesYAxis(const TLayerRect &R) const;

    TFormula &GetFormula() const { return *FFormula; }
    TColoring &GetInsideColoring() const { return *FInside; }
    TColoring &GetOutsideColoring() const { return *FOutside; }
    TMapping &GetMapping() const { return *FMapping; }
    TLayerImage &GetImage() const { return *FImage; }
    TLayerStatistics &GetStatistics() const { return *FStatistics; }
    TUpdateRectList *GetUpdateRects() const { return FUpdateRects; }
    std::uint8_t GetCalculationState() const { return FCalculationState.load(); }
    bool IsCalculating() const { return GetCalculationState() == csCalculating; }
    std::uint8_t GetPrecision() const { return FPrecision; }
    std::int32_t GetDigits() const { return FDigits; }
    std::uint8_t GetSymmetry() const { return FSymmetry; }
    std::int32_t GetSymmetryPhase() const { return FSymmetryPhase; }
    std::int32_t GetUpdateCount() const { return FUpdateCount; }
    bool GetStarted() const { return FStarted; }
    void SetStarted(bool Value) { FStarted = Value; }
    bool GetClearFlag() const { return FClear; }
    void SetClearFlag(bool Value) { FClear = Value; }
    bool GetDiscard() const { return FDiscard; }
    const TLayerRect &GetCalculationRect() const { return FCalculationRect; }
    // The part of the image the next run calculates (the whole image after every resize); a
    // renderer of strips calculates a part. Only while the layer does not calculate.
    void SetCalculationRect(const TLayerRect &Rect) { FCalculationRect = Rect; }
    // The error that ended the last finished run when a piece failed (a formula that faulted);
    // empty after a run that went well.
    std::string GetCalculationError() const;
    // Every resumed piece must lie in the layer's image.
    TLayerRect ResumeArea() const override;

    // Resume state of the layer (version, state, phase, statistics, engine).
    void ReadResumeState(TStream &Stream) override;
    void WriteResumeState(TStream &Stream) override;

    // Runs the calls that calculation threads posted to this engine and that have not run yet
    // (the interface thread does this through its message loop; tests and waits do it directly).
    void RunPostedCalls() { FPosted->RunPending(); }

    TLayerInvalidateEvent OnInvalidate;
    TLayerCalculationStartEvent OnCalculationStart;
    TNotifyEvent OnCalculationFinished;
    TLayerChangeEvent OnChange;

protected:
    void CalculationFinished() override;
    std::unique_ptr<TCompute> CreatePiece() override;
    virtual void PrepareCalculation();
    virtual void Changed(TLayerChangeKind Kind, const std::string &Caption);
    virtual void UpdateTransparency() = 0;
    // The Fractal option ArbitraryPrecision (1 without a configuration).
    virtual int ArbitraryPrecisionOption() const;
    // After a transformation was inserted, removed or moved.
    virtual void TransformationsChanged() {}

    // A resume record that cannot be used: no piece is kept and the layer calculates again.
    void AbandonResumeState();
    // Waits until a run that is ending on another thread has settled its end, then runs what
    // this engine's threads posted to this thread, when called on it (repaints of mirrored parts).
    void DeliverEndedRun();

    std::uint8_t FLastRedrawGroup = 0;

private:
    // Part handlers, wired to the change notifications of the formula, colorings and mapping.
    void PartChanging(TObject *Sender);
    void PartChanged(TObject *Sender);
    void PartModified(TObject *Sender);
    void PartRecalculate(TObject *Sender, const std::string &Caption);
    void RebuildPixelRoutine(TObject *Sender);
    void FormulaMethodChanged(TObject *Sender, std::uint8_t Method);
    void MappingListChanged(TObject *Sender);
    void TransformationListChanged(TObject *Sender);

    // Runs the symmetry routine of the current symmetry: phase 0 calculates, a later phase
    // mirrors. Mirrored areas are collected in Filled.
    void RunSymmetry(TLayerRect &Filled);
    // Phase 0 calculates all of R; the later phase has nothing to mirror.
    void CalculateWithoutMirror(const TLayerRect &R);
    void SymmetryXAxis(const TLayerRect &R, TLayerRect &Filled);
    void SymmetryYAxis(const TLayerRect &R, TLayerRect &Filled);
    void SymmetryXYAxis(const TLayerRect &R, TLayerRect &Filled);
    void SymmetryOrigin(const TLayerRect &R, TLayerRect &Filled);
    void MirrorRows(const TLayerRect &R, std::int32_t Axis, TLayerRect &Filled);
    void MirrorColumns(const TLayerRect &R, std::int32_t Axis, TLayerRect &Filled);
    // StartCalculation's steps from the choice of the symmetry to the start of the engine.
    void BeginRun();
    // A start raised: its run, when counted and not ended, stops with its work left.
    void AbandonStart(bool Resuming, const char *Message);
    // Changes a calculating state to State; true when the run's end is still owed to the owner
    // (the caller then reports it, without the end lock).
    bool EndCalculating(std::uint8_t State);
    void ReportEnd();

    TLayerRect FCalculationRect;
    bool FClear = true;
    std::int32_t FDigits = 0;
    bool FDiscard = false;
    std::unique_ptr<TFormula> FFormula;
    std::int32_t FAdditionalPrecision = 0;
    std::int32_t FHeight = 0;
    std::unique_ptr<TLayerImage> FImage;
    bool FStarted = false;
    std::unique_ptr<TColoring> FInside;
    std::unique_ptr<TMapping> FMapping;
    std::uint8_t FMethod = dmGuessing;
    std::unique_ptr<TColoring> FOutside;
    bool FProcessing = false;
    std::uint8_t FPrecision = 0;
    TLayerRect FDirtyRect;
    bool FDirty = false;
    bool FUpdatingConstants = false;
    bool FRebuildPending = false;
    std::unique_ptr<TLayerStatistics> FStatistics;
    std::atomic<std::uint8_t> FCalculationState{csIdle};
    std::uint8_t FSymmetry = 0;
    std::int32_t FSymmetryPhase = 0;
    struct TSymmetryAxes {
        bool CrossesX = false, CrossesY = false;
        std::int32_t XAxisRow = 0, YAxisColumn = 0;
    } FAxes;
    std::uint8_t FRedrawGroup = 0;
    bool FNewUndoStep = false;
    std::string FCaption;
    TUpdateRectList *FUpdateRects;
    std::uint8_t FPending = 0;
    std::int32_t FUpdateCount = 0;
    std::int32_t FWidth = 0;
    // Set by CalculationFinished once the state left 1; StopCalculation waits on it.
    std::unique_ptr<TEvent> FFinishedEvent;
    // The owner heard of the current run's start and not yet of its end.
    std::atomic<bool> FEndOwed{false};
    // Makes a run's state change and the taking of its owed end one step; a start takes it
    // before it owes a new end, so an ending run never takes the end of the run after it.
    TCriticalSection FEndLock;
    std::unique_ptr<TPostedCalls> FPosted;
    mutable TCriticalSection FErrorLock;
    std::string FCalculationError;
    TNotifyEvent FMappingListChange;
};
