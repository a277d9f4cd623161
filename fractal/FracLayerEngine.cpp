#include "FracLayerEngine.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>

#include "FracMethods.h"
#include "GenSetup.h"
#include "GenUtils.h"

namespace {

TLayerRect MakeRect(int Left, int Top, int Right, int Bottom) {
    TLayerRect r;
    r.Left = Left;
    r.Top = Top;
    r.Right = Right;
    r.Bottom = Bottom;
    return r;
}

void UniteRect(TLayerRect &Into, const TLayerRect &R) {
    Into = UnionRect(Into, R);
}

std::int32_t RoundToRow(long double V) {
    // Half away from zero; far outside the image any value beyond the int range does.
    long double r = V < 0 ? -std::floor(-V + 0.5L) : std::floor(V + 0.5L);
    if (!(r == r))
        return 0;
    if (r > INT_MAX / 2)
        return INT_MAX / 2;
    if (r < INT_MIN / 2)
        return INT_MIN / 2;
    return static_cast<std::int32_t>(r);
}

} // namespace

std::uint8_t ChoosePrecisionMode(std::int32_t Digits, int ArbitraryOption) {
    if (ArbitraryOption == 2)
        return pmArbitrary;
    if (Digits <= 16)
        return pmDouble;
    if (Digits <= 20)
        return pmExtended;
    return ArbitraryOption == 1 ? pmArbitrary : pmExtended;
}

// ---------------------------------------------------------------------------------------------
// Construction

TLayerEngine::TLayerEngine(TUpdateRectList *AUpdateRects, TCalculateManager *AManager)
    : TCalculateEngine(AManager), FUpdateRects(AUpdateRects) {
    FUpdateCount = 1;
    FClear = true;
    FMethod = dmGuessing;
    FFinishedEvent = std::make_unique<TEvent>(true, true);
    FPosted = std::make_unique<TPostedCalls>();
    FStatistics = std::make_unique<TLayerStatistics>();
    FImage = std::make_unique<TLayerImage>();
    FMapping = std::make_unique<TMapping>();
    FInside = std::make_unique<TColoring>(0);
    FOutside = std::make_unique<TColoring>(1);
    FFormula = std::make_unique<TFormula>();
    FFormula->SetColorings(FInside.get(), FOutside.get());

    for (TFormulaBase *part :
         {static_cast<TFormulaBase *>(FFormula.get()), static_cast<TFormulaBase *>(FInside.get()),
          static_cast<TFormulaBase *>(FOutside.get())}) {
        part->OnBeforeCompile = MakeEvent<&TLayerEngine::PartChanging>(this);
        part->OnCompiled = MakeEvent<&TLayerEngine::PartChanged>(this);
        part->OnChange = MakeEvent<&TLayerEngine::PartModified>(this);
        part->OnModify = MakeEvent<&TLayerEngine::PartRecalculate>(this);
    }
    FInside->OnCodeChanged = MakeEvent<&TLayerEngine::RebuildPixelRoutine>(this);
    FOutside->OnCodeChanged = MakeEvent<&TLayerEngine::RebuildPixelRoutine>(this);
    FFormula->OnMethodChanged = MakeEvent<&TLayerEngine::FormulaMethodChanged>(this);
    FMapping->OnChange = MakeEvent<&TLayerEngine::PartModified>(this);
    FMapping->OnUndoableChange = MakeEvent<&TLayerEngine::PartRecalculate>(this);
    // The transformation list tells the mapping after every change; the layer hears of it after
    // the mapping, and before every change.
    TTransformList &transforms = FMapping->GetTransformations();
    transforms.OnChanging = MakeEvent<&TLayerEngine::PartChanging>(this);
    FMappingListChange = transforms.OnChange;
    transforms.OnChange = MakeEvent<&TLayerEngine::MappingListChanged>(this);
    transforms.OnListChange = MakeEvent<&TLayerEngine::TransformationListChanged>(this);
    UpdateConstants();
}

TLayerEngine::~TLayerEngine() {
    // The engine base must not call back into this object once its parts are gone: the run is
    // stopped and every releasing thread has left before anything here is freed.
    Detach();
    ClearPieces();
    FImage.reset();
    FFormula.reset(); // before the colorings it joins
    FOutside.reset();
    FInside.reset();
    FMapping.reset();
    FStatistics.reset();
}

// ---------------------------------------------------------------------------------------------
// Change protocol

void TLayerEngine::BeginUpdate() {
    ++FUpdateCount;
}

void TLayerEngine::EndUpdateCaption(const std::string &Caption) {
    --FUpdateCount;
    if (!Caption.empty())
        FCaption = Caption;
    if (FUpdateCount <= 0) {
        FUpdateCount = 0;
        ProcessChanges();
    }
}

void TLayerEngine::Modified() {
    if (FPending == 0)
        FPending = 1;
    if (FUpdateCount == 0)
        ProcessChanges();
}

void TLayerEngine::RequestRedraw(std::uint8_t Group, const std::string &Caption) {
    if (FPending < 2) {
        FPending = 2;
        FRedrawGroup = Group;
        FCaption = Caption;
        FNewUndoStep = Group == 0 || Group != FLastRedrawGroup;
    }
    if (FUpdateCount == 0)
        ProcessChanges();
}

void TLayerEngine::RequestCalculation(const std::string &Caption) {
    FPending = 3;
    if (!Caption.empty())
        FCaption = Caption;
    if (FUpdateCount == 0)
        ProcessChanges();
}

void TLayerEngine::RecalculateUndoable(const std::string &Caption) {
    FDiscard = true;
    FRedrawGroup = 0;
    FNewUndoStep = true;
    RequestCalculation(Caption);
}

void TLayerEngine::Recalculate() {
    FDiscard = true;
    RequestCalculation();
}

void TLayerEngine::InvalidateRect(const TLayerRect &Rect) {
    FDirty = true;
    UniteRect(FDirtyRect, Rect);
    if (FUpdateCount == 0)
        ProcessChanges();
}

void TLayerEngine::InvalidateAll() {
    FDirty = true;
    FDirtyRect = MakeRect(0, 0, FImage->Width(), FImage->Height());
    if (FUpdateCount == 0)
        ProcessChanges();
}

void TLayerEngine::ResumeCalculation() {
    if (GetCalculationState() == csInterrupted)
        RequestCalculation();
    else if (FUpdateCount == 0)
        ProcessChanges();
}

void TLayerEngine::ProcessChanges() {
    if (FDirty) {
        const TLayerRect rect = FDirtyRect;
        FDirtyRect = TLayerRect();
        FDirty = false;
        if (OnInvalidate)
            OnInvalidate(this, rect);
    }
    if (FProcessing)
        return;
    FProcessing = true;
    try {
        while (FPending != 0) {
            switch (FPending) {
            case 1:
                FPending = 0;
                Changed(TLayerChangeKind::Modified, FCaption);
                break;
            case 2: {
                FPending = 0;
                const bool newGroup = FRedrawGroup == 0 || FRedrawGroup != FLastRedrawGroup;
                FLastRedrawGroup = FRedrawGroup;
                Changed(newGroup ? TLayerChangeKind::NewChange : TLayerChangeKind::Continued, FCaption);
                break;
            }
            default:
                if (IsCalculating())
                    StopCalculation();
                FPending = 0;
                FLastRedrawGroup = FRedrawGroup;
                StartCalculation();
                if (FNewUndoStep)
                    Changed(TLayerChangeKind::NewChange, FCaption);
                break;
            }
            FNewUndoStep = false;
        }
    } catch (...) {
        FProcessing = false;
        throw;
    }
    FProcessing = false;
}

void TLayerEngine::Changed(TLayerChangeKind Kind, const std::string &Caption) {
    if (OnChange)
        OnChange(this, Kind, Caption);
}

void TLayerEngine::PrepareCalculation() {
    // Owed before the owner hears of the start: an owner that counted it and then raised gets
    // the end as well.
    FEndOwed = true;
    if (OnCalculationStart)
        OnCalculationStart(this, GetCalculationState() == csInterrupted && !FDiscard, FNewUndoStep);
}

// ---------------------------------------------------------------------------------------------
// Part handlers

void TLayerEngine::PartChanging(TObject *) {
    if (FUpdatingConstants)
        return;
    StopCalculation();
    BeginUpdate();
}

void TLayerEngine::PartChanged(TObject *) {
    if (FUpdatingConstants)
        return;
    if (GetImageMode() != FImage->Mode())
        UpdateTransparency();
    EndUpdate();
}

void TLayerEngine::PartModified(TObject *) {
    if (!FUpdatingConstants)
        Modified();
}

void TLayerEngine::PartRecalculate(TObject *, const std::string &Caption) {
    if (FUpdatingConstants)
        return;
    BeginUpdate();
    try {
        FFormula->Magnification.SetText(FMapping->Magnification.GetText());
        RecalculateUndoable(Caption);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TLayerEngine::RebuildPixelRoutine(TObject *) {
    // While the constants are applied a coloring may regenerate after the formula did: the
    // routine is joined once at the end, with every part's new code.
    if (FUpdatingConstants) {
        FRebuildPending = true;
        return;
    }
    FFormula->AssemblePixelRoutine();
}

void TLayerEngine::FormulaMethodChanged(TObject *, std::uint8_t Method) {
    if (!FUpdatingConstants)
        SetMethod(Method);
}

void TLayerEngine::MappingListChanged(TObject *Sender) {
    if (FMappingListChange)
        FMappingListChange(Sender);
    PartChanged(Sender);
}

void TLayerEngine::TransformationListChanged(TObject *) {
    TransformationsChanged();
}

// ---------------------------------------------------------------------------------------------
// Properties

void TLayerEngine::SetMethod(std::uint8_t Method) {
    if (Method == FMethod)
        return;
    FMethod = Method;
    RecalculateUndoable("Drawing Method");
}

void TLayerEngine::SetAdditionalPrecision(std::int32_t Digits) {
    if (Digits == FAdditionalPrecision)
        return;
    FAdditionalPrecision = Digits;
    RecalculateUndoable("Precision");
}

void TLayerEngine::SetSize(std::int32_t Width, std::int32_t Height) {
    Width = std::max(Width, 0);
    Height = std::max(Height, 0);
    if (Width == FWidth && Height == FHeight)
        return;
    BeginUpdate();
    try {
        StopCalculation();
        // The image first: an image no memory can hold leaves the layer at its old size.
        FImage->SetSize(Width, Height);
        FWidth = Width;
        FHeight = Height;
        FCalculationRect = MakeRect(0, 0, Width, Height);
        FMapping->BeginUpdate();
        FMapping->SetWidth(Width);
        FMapping->SetHeight(Height);
        FMapping->EndUpdate();
        FDirtyRect.Left = std::clamp(FDirtyRect.Left, 0, Width);
        FDirtyRect.Right = std::clamp(FDirtyRect.Right, 0, Width);
        FDirtyRect.Top = std::clamp(FDirtyRect.Top, 0, Height);
        FDirtyRect.Bottom = std::clamp(FDirtyRect.Bottom, 0, Height);
        RecalculateUndoable("Resize");
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TLayerEngine::Crop(const TLayerRect &Rect) {
    StopCalculation();
    FImage->Crop(Rect);
    SetSize(FImage->Width(), FImage->Height());
}

std::uint8_t TLayerEngine::GetImageMode() const {
    if (FImage->Mode() == lmFloatColor)
        return lmFloatColor;
    if (FInside->GetOutputMode() == 2 || FOutside->GetOutputMode() == 2)
        return lmColor;
    return lmCode;
}

void TLayerEngine::UpdateImageMode() {
    FImage->SetMode(GetImageMode());
}

bool TLayerEngine::CanRender() const {
    return FMapping->CanRender() && FFormula->GetRender() && FInside->GetRender() && FOutside->GetRender();
}

int TLayerEngine::ArbitraryPrecisionOption() const {
    TConfigManager *config = ConfigManager();
    return config && config->Fractal ? config->Fractal->ArbitraryPrecision : 1;
}

void TLayerEngine::UpdatePrecisionMode() {
    const std::int32_t need =
        std::max({FFormula->GetExtraDigits(), FInside->GetExtraDigits(), FOutside->GetExtraDigits()});
    FDigits = FMapping->TransformationDigits() +
              static_cast<std::int32_t>(MagnificationDigits(FMapping->Magnification.GetValue())) + need +
              FAdditionalPrecision;
    FPrecision = ChoosePrecisionMode(FDigits, ArbitraryPrecisionOption());
}

void ApplyFormulaConstants(TMapping &Mapping, TFormula &Formula, TColoring &Inside, TColoring &Outside,
                           std::int32_t Digits, std::uint8_t Precision) {
    TFormulaConstants constants;
    constants.Angle.SetText(Mapping.Angle.GetText());
    constants.Center.SetText(Mapping.Center.Re.GetText(), Mapping.Center.Im.GetText());
    constants.Magn.SetText(Mapping.Magnification.GetText());
    constants.Skew.SetText(Mapping.Skew.GetText());
    constants.Stretch.SetText(Mapping.Stretch.GetText());
    constants.SetWidth(Mapping.GetWidth());
    constants.SetHeight(Mapping.GetHeight());
    constants.SetMaxIter(Formula.GetMaxIter());

    const std::int32_t digits = std::max(Digits, 0);
    Mapping.BeginUpdate();
    try {
        TTransformList &transforms = Mapping.GetTransformations();
        for (int i = 0; i < transforms.GetCount(); ++i) {
            TTransform &transform = transforms.GetItem(i);
            transform.BeginUpdate();
            transform.SetDigits(digits);
            transform.SetPrecision(Precision);
            transform.GetConstants().Assign(constants);
            transform.EndUpdate();
        }
        Mapping.SetDigits(static_cast<std::uint32_t>(digits));
        Mapping.SetPrecision(Precision);
    } catch (...) {
        Mapping.EndUpdate();
        throw;
    }
    Mapping.EndUpdate();
    for (TFormulaBase *part : {static_cast<TFormulaBase *>(&Formula), static_cast<TFormulaBase *>(&Inside),
                               static_cast<TFormulaBase *>(&Outside)}) {
        part->BeginUpdate();
        part->SetDigits(digits);
        part->SetPrecision(Precision);
        part->GetConstants().Assign(constants);
        part->EndUpdate();
    }
}

void TLayerEngine::UpdateConstants() {
    FUpdatingConstants = true;
    FRebuildPending = false;
    try {
        ApplyFormulaConstants(*FMapping, *FFormula, *FInside, *FOutside, FDigits, FPrecision);
        if (FRebuildPending)
            FFormula->AssemblePixelRoutine();
    } catch (...) {
        FUpdatingConstants = false;
        throw;
    }
    FUpdatingConstants = false;
}

// ---------------------------------------------------------------------------------------------
// Calculation

void TLayerEngine::StartCalculation() {
    if (GetCalculationState() == csCalculating)
        return;
    // A run that is ending on another thread has settled its end before this start is counted,
    // and what it posted to this thread is delivered first.
    DeliverEndedRun();
    const bool resuming = GetCalculationState() == csInterrupted && !FDiscard;
    try {
        BeginRun();
    } catch (const std::exception &E) {
        AbandonStart(resuming, E.what());
        throw;
    } catch (...) {
        AbandonStart(resuming, "Unknown error in the calculation");
        throw;
    }
    // A resumed run that had only its mirror phase left calculated nothing: it ends here.
    bool owed;
    {
        TScopeLock<TCriticalSection> ending(FEndLock);
        owed = GetCalculationState() != csCalculating && FEndOwed.exchange(false);
    }
    if (owed)
        ReportEnd();
}

void TLayerEngine::AbandonStart(bool Resuming, const char *Message) {
    // The engine leaves no thread working here when its start raises, so a run that this start
    // counted and that no thread ended stops here, with its work left.
    {
        TScopeLock<TCriticalSection> ending(FEndLock);
        if (!FEndOwed.exchange(false))
            return;
        FCalculationState = csInterrupted;
        FFinishedEvent->SetEvent();
    }
    if (!Resuming)
        FDiscard = true; // the run was prepared afresh: the next one starts afresh again
    {
        TScopeLock<TCriticalSection> guard(FErrorLock);
        FCalculationError = Message;
    }
    try {
        ReportEnd();
    } catch (...) {
        // The start's own error is the one the caller hears of.
    }
}

bool TLayerEngine::EndCalculating(std::uint8_t State) {
    TScopeLock<TCriticalSection> ending(FEndLock);
    std::uint8_t expected = csCalculating;
    if (!FCalculationState.compare_exchange_strong(expected, State))
        return false;
    FFinishedEvent->SetEvent();
    return FEndOwed.exchange(false);
}

void TLayerEngine::ReportEnd() {
    if (OnCalculationFinished)
        OnCalculationFinished(this);
}

void TLayerEngine::BeginRun() {
    FSymmetry = 0;
    if (std::fabs(FMapping->Angle.GetValue()) <= 0.001L && FMapping->GetTransformations().GetCount() == 0 &&
        FMapping->GetWidth() == FWidth && FMapping->GetHeight() == FHeight && !FInside->GetReadsZ() &&
        !FOutside->GetReadsZ())
        FSymmetry = FFormula->ResolveSymmetry();
    // The axes are taken once per start: the mirror phase runs on a calculation thread and uses
    // the axes its calculated part was cut for.
    if (FSymmetry != 0) {
        FAxes.CrossesX = ImageCrossesXAxis(FCalculationRect);
        FAxes.CrossesY = ImageCrossesYAxis(FCalculationRect);
        FAxes.XAxisRow = GetXAxisRow();
        FAxes.YAxisColumn = GetYAxisColumn();
    }
    PrepareCalculation();
    if (FDiscard) {
        FCalculationState = csIdle;
        FDiscard = false;
    }
    if (GetCalculationState() == csIdle) {
        ClearPieces();
        FSymmetryPhase = 0;
        if (FClear && !IsEmptyRect(FCalculationRect)) {
            FImage->Lock();
            for (int y = FCalculationRect.Top; y < FCalculationRect.Bottom; ++y)
                for (int x = FCalculationRect.Left; x < FCalculationRect.Right; ++x)
                    FImage->SetCode(x, y, UncalculatedCode);
            FImage->Unlock();
            InvalidateRect(FCalculationRect);
        }
        UpdateImageMode();
    }
    UpdatePrecisionMode();
    UpdateConstants();
    FClear = true;
    FStarted = true;
    {
        TScopeLock<TCriticalSection> guard(FErrorLock);
        FCalculationError.clear();
    }
    TLayerRect filled;
    RunSymmetry(filled);
    // Only a resumed run whose mirror phase was left mirrors here, on this thread.
    if (!IsEmptyRect(filled))
        InvalidateRect(filled);
}

void TLayerEngine::CalculateRect(const TLayerRect &Rect) {
    CalculateRects(Rect, TLayerRect());
}

void TLayerEngine::CalculateRects(const TLayerRect &Rect1, const TLayerRect &Rect2) {
    if (FSymmetryPhase == 0) {
        if (GetCalculationState() == csIdle) {
            const std::int64_t total =
                (IsEmptyRect(Rect1) ? 0 : RectArea(Rect1)) + (IsEmptyRect(Rect2) ? 0 : RectArea(Rect2));
            FStatistics->Reset(static_cast<std::uint32_t>(total), FFormula->GetMaxIter());
        }
        FStatistics->SetSuspended(AntiAliasing().Enabled);
        FFinishedEvent->ResetEvent();
        FCalculationState = csCalculating;
    }
    TCalculateEngine::StartCalculation(Rect1, Rect2);
}

void TLayerEngine::DeliverEndedRun() {
    {
        // A thread whose run's state already changed has settled that run's end and posted
        // what it mirrored once this lock is free.
        TScopeLock<TCriticalSection> wait(FEndLock);
    }
    if (FPosted->OnReceivingThread())
        FPosted->RunPending();
}

void TLayerEngine::StopCalculation() {
    if (GetCalculationState() != csCalculating) {
        // What an ended run posted is delivered now, before anything that follows the stop (a
        // layer being freed drops its queue).
        DeliverEndedRun();
        return;
    }
    if (TCalculateEngine::StopCalculation()) {
        if (EndCalculating(csInterrupted))
            ReportEnd();
        return;
    }
    // Every piece is done: the thread that released the last one is in CalculationFinished, which
    // never waits for this thread.
    while (GetCalculationState() == csCalculating)
        FFinishedEvent->WaitFor(25);
    // What it posted is delivered now, before anything that follows the stop.
    DeliverEndedRun();
}

void TLayerEngine::CalculationFinished() {
    // A run that ended with an error has a piece left to do: nothing is mirrored from it, and
    // the layer counts as interrupted, not as complete.
    const bool failed = Failed();
    TLayerRect filled;
    if (!failed && FSymmetryPhase != SymmetryPhaseDone) {
        ++FSymmetryPhase;
        switch (FSymmetry) {
        case 1:
        case 5:
        case 7:
        case 9:
        case 11:
            RunSymmetry(filled);
            break;
        default:
            FSymmetryPhase = SymmetryPhaseDone;
            break;
        }
    }
    {
        TScopeLock<TCriticalSection> guard(FErrorLock);
        FCalculationError = failed ? ErrorMessage() : std::string();
    }
    // The owner hears of the end here, on this thread, whatever thread made the layer and
    // whether or not that thread runs a message loop (a render job or a server may not).
    if (EndCalculating(failed ? csInterrupted : csIdle))
        ReportEnd();
    // Repainting what was mirrored is the interface thread's business.
    if (!IsEmptyRect(filled))
        FPosted->Post([this, filled]() { InvalidateRect(filled); });
}

std::string TLayerEngine::GetCalculationError() const {
    TScopeLock<TCriticalSection> guard(FErrorLock);
    return FCalculationError;
}

std::unique_ptr<TCompute> TLayerEngine::CreatePiece() {
    return CreateCompute(FMethod, FMapping.get(), FFormula.get(), FStatistics.get(), FUpdateRects,
                         FImage.get(), FOutside.get(), FInside.get());
}

TLayerRect TLayerEngine::ResumeArea() const {
    return MakeRect(0, 0, FImage->Width(), FImage->Height());
}

// ---------------------------------------------------------------------------------------------
// Axis positions

std::int32_t TLayerEngine::GetXAxisRow() const {
    const long double scale = FMapping->PixelScale.GetValue();
    if (!(scale > 0))
        return FImage->CenterY();
    return FImage->CenterY() + RoundToRow(FMapping->Center.Im.GetValue() / scale);
}

std::int32_t TLayerEngine::GetYAxisColumn() const {
    const long double scale = FMapping->PixelScale.GetValue();
    if (!(scale > 0))
        return FImage->CenterX();
    return FImage->CenterX() - RoundToRow(FMapping->Center.Re.GetValue() / scale);
}

bool TLayerEngine::ImageCrossesXAxis(const TLayerRect &R) const {
    if (IsEmptyRect(R))
        return false;
    TComplexValue top, bottom;
    FMapping->PointToLocation(top, R.Left, R.Top);
    FMapping->PointToLocation(bottom, R.Left, R.Bottom - 1);
    return top.Im.GetValue() > 0 && bottom.Im.GetValue() < 0;
}

bool TLayerEngine::ImageCrossesYAxis(const TLayerRect &R) const {
    if (IsEmptyRect(R))
        return false;
    TComplexValue left, right;
    FMapping->PointToLocation(left, R.Left, R.Top);
    FMapping->PointToLocation(right, R.Right - 1, R.Top);
    return left.Re.GetValue() < 0 && right.Re.GetValue() > 0;
}

// ---------------------------------------------------------------------------------------------
// Symmetry

void TLayerEngine::RunSymmetry(TLayerRect &Filled) {
    const TLayerRect r = FCalculationRect;
    switch (FSymmetry) {
    case 1:
        SymmetryXAxis(r, Filled);
        break;
    case 5:
        SymmetryYAxis(r, Filled);
        break;
    case 7:
        SymmetryXYAxis(r, Filled);
        break;
    case 9:
        SymmetryOrigin(r, Filled);
        break;
    case 11:
        CalculateWithoutMirror(r);
        break;
    default:
        CalculateRect(r);
        break;
    }
}

void TLayerEngine::CalculateWithoutMirror(const TLayerRect &R) {
    if (FSymmetryPhase == 0)
        CalculateRect(R);
    else
        FSymmetryPhase = SymmetryPhaseDone;
}

// Rows of the part that is calculated for a mirror axis between rows a - 1 and a: the larger
// side, including the axis row.
static TLayerRect XAxisPart(const TLayerRect &R, std::int32_t A) {
    if (A <= (R.Top + R.Bottom) / 2)
        return MakeRect(R.Left, A - 1, R.Right, R.Bottom);
    return MakeRect(R.Left, R.Top, R.Right, A);
}

static TLayerRect YAxisPart(const TLayerRect &R, std::int32_t C) {
    if (C <= (R.Left + R.Right) / 2)
        return MakeRect(C - 1, R.Top, R.Right, R.Bottom);
    return MakeRect(R.Left, R.Top, C, R.Bottom);
}

void TLayerEngine::MirrorRows(const TLayerRect &R, std::int32_t A, TLayerRect &Filled) {
    const std::int32_t axis = A - 1;
    const bool upper = A <= (R.Top + R.Bottom) / 2;
    const std::int32_t first = upper ? R.Top : A;
    const std::int32_t last = upper ? A - 1 : R.Bottom; // exclusive
    const std::int32_t width = R.Right - R.Left;
    if (width <= 0)
        return;
    TScopeLock<TLayerImage> guard(*FImage);
    for (std::int32_t y = first; y < last; ++y) {
        const std::int32_t source = 2 * axis - y;
        if (source < R.Top || source >= R.Bottom)
            continue; // nothing calculated to copy from
        FImage->SaveRow(R.Left, source, width);
        FImage->RestoreRow(R.Left, y);
        UniteRect(Filled, MakeRect(R.Left, y, R.Right, y + 1));
    }
}

void TLayerEngine::MirrorColumns(const TLayerRect &R, std::int32_t C, TLayerRect &Filled) {
    const std::int32_t axis = C - 1;
    const bool left = C <= (R.Left + R.Right) / 2;
    // Missing columns [first, last); their sources run from 2 axis - (last - 1) up to
    // 2 axis - first, and are clipped to the rectangle.
    std::int32_t first = left ? R.Left : C;
    std::int32_t last = left ? C - 1 : R.Right;
    first = std::max(first, 2 * axis - (R.Right - 1));
    last = std::min(last, 2 * axis - R.Left + 1);
    if (last <= first)
        return;
    const std::int32_t count = last - first;
    TScopeLock<TLayerImage> guard(*FImage);
    for (std::int32_t y = R.Top; y < R.Bottom; ++y) {
        FImage->SaveRow(2 * axis - (last - 1), y, count);
        FImage->MirrorRow();
        FImage->RestoreRow(first, y);
    }
    UniteRect(Filled, MakeRect(first, R.Top, last, R.Bottom));
}

void TLayerEngine::SymmetryXAxis(const TLayerRect &R, TLayerRect &Filled) {
    if (!FAxes.CrossesX) {
        CalculateWithoutMirror(R);
        return;
    }
    const std::int32_t a = std::clamp(FAxes.XAxisRow + 1, R.Top, R.Bottom);
    if (FSymmetryPhase == 0) {
        CalculateRect(XAxisPart(R, a));
        return;
    }
    MirrorRows(R, a, Filled);
    FSymmetryPhase = SymmetryPhaseDone;
}

void TLayerEngine::SymmetryYAxis(const TLayerRect &R, TLayerRect &Filled) {
    if (!FAxes.CrossesY) {
        CalculateWithoutMirror(R);
        return;
    }
    const std::int32_t c = std::clamp(FAxes.YAxisColumn + 1, R.Left, R.Right);
    if (FSymmetryPhase == 0) {
        CalculateRect(YAxisPart(R, c));
        return;
    }
    MirrorColumns(R, c, Filled);
    FSymmetryPhase = SymmetryPhaseDone;
}

void TLayerEngine::SymmetryXYAxis(const TLayerRect &R, TLayerRect &Filled) {
    if (!FAxes.CrossesY) {
        SymmetryXAxis(R, Filled);
        return;
    }
    const std::int32_t c = std::clamp(FAxes.YAxisColumn + 1, R.Left, R.Right);
    const TLayerRect part = YAxisPart(R, c);
    SymmetryXAxis(part, Filled);
    if (FSymmetryPhase != 0)
        MirrorColumns(R, c, Filled);
}

void TLayerEngine::SymmetryOrigin(const TLayerRect &R, TLayerRect &Filled) {
    if (!FAxes.CrossesX || !FAxes.CrossesY) {
        CalculateWithoutMirror(R);
        return;
    }
    const std::int32_t a = std::clamp(FAxes.XAxisRow + 1, R.Top, R.Bottom);
    const std::int32_t c = FAxes.YAxisColumn;
    TLayerRect larger, other;
    if ((R.Top + R.Bottom) / 2 < a) {
        larger = MakeRect(R.Left, R.Top, R.Right, a);
        other = MakeRect(R.Left, a, R.Right, R.Bottom);
    } else {
        larger = MakeRect(R.Left, a - 1, R.Right, R.Bottom);
        other = MakeRect(R.Left, R.Top, R.Right, a - 1);
    }
    // The part of the other half whose point reflection lies outside the image.
    TLayerRect strip = other;
    if (c >= (R.Left + R.Right) / 2)
        strip.Right = std::clamp(2 * c + 1 - R.Right, R.Left + 1, R.Right);
    else
        strip.Left = std::clamp(2 * (c - R.Left) + R.Left + 1, R.Left, R.Right - 1);
    if (FSymmetryPhase == 0) {
        CalculateRects(larger, strip);
        return;
    }
    // The rest of the other half: columns [first, last) take the reversed run of the reflected
    // row, clipped to what the image holds.
    std::int32_t first = c >= (R.Left + R.Right) / 2 ? strip.Right : R.Left;
    std::int32_t last = c >= (R.Left + R.Right) / 2 ? R.Right : strip.Left;
    first = std::max(first, 2 * c - (R.Right - 1));
    last = std::min(last, 2 * c - R.Left + 1);
    if (last > first) {
        const std::int32_t axis = a - 1;
        TScopeLock<TLayerImage> guard(*FImage);
        for (std::int32_t y = other.Top; y < other.Bottom; ++y) {
            const std::int32_t source = 2 * axis - y;
            if (source < R.Top || source >= R.Bottom)
                continue;
            FImage->SaveRow(2 * c - (last - 1), source, last - first);
            FImage->MirrorRow();
            FImage->RestoreRow(first, y);
            UniteRect(Filled, MakeRect(first, y, last, y + 1));
        }
    }
    FSymmetryPhase = SymmetryPhaseDone;
}

// ---------------------------------------------------------------------------------------------
// Resume state

void TLayerEngine::WriteResumeState(TStream &Stream) {
    Stream.WriteUInt32(LayerResumeVersion);
    std::uint8_t state = GetCalculationState();
    // A record is written after a stop; a run still going counts as interrupted.
    if (state == csCalculating)
        state = csInterrupted;
    Stream.WriteUInt8(state);
    Stream.WriteInt32(FSymmetryPhase);
    FStatistics->WriteResumeState(Stream);
    TCalculateEngine::WriteResumeState(Stream);
}

void TLayerEngine::AbandonResumeState() {
    // The pixels stay as they were until the new run replaces them: a refused record must not
    // blank a picture it never touched.
    FClear = false;
    ClearPieces();
    FCalculationState = csIdle;
    FSymmetryPhase = 0;
    FDiscard = true;
    FPending = 0;
    RequestCalculation();
}

void TLayerEngine::ReadResumeState(TStream &Stream) {
    StopCalculation();
    const std::uint32_t version = Stream.ReadUInt32();
    if (version > LayerResumeVersion) {
        AbandonResumeState();
        throw ELayerError("Unsupported resume state");
    }
    if (version < LayerResumeVersion) {
        // An older record: its content is skipped by its fixed size.
        if (Stream.Remaining() < OldLayerResumeSize) {
            AbandonResumeState();
            throw EReadError("Stream read error");
        }
        Stream.Seek(OldLayerResumeSize, soFromCurrent);
        ClearPieces();
        FDiscard = version == 2;
        FCalculationState = csIdle;
        FSymmetryPhase = 0;
    } else {
        try {
            std::uint8_t state = Stream.ReadUInt8();
            const std::int32_t phase = Stream.ReadInt32();
            if (state > csInterrupted || (phase != 0 && phase != SymmetryPhaseDone))
                throw ELayerError("Unsupported resume state");
            // Writers stop a run first; a record of a running layer is taken as interrupted.
            if (state == csCalculating)
                state = csInterrupted;
            FStatistics->ReadResumeState(Stream);
            TCalculateEngine::ReadResumeState(Stream);
            FCalculationState = state;
            FSymmetryPhase = phase;
            FDiscard = false;
        } catch (...) {
            AbandonResumeState();
            throw;
        }
    }
    UpdateImageMode();
    FPending = 0;
    if (GetCalculationState() == csIdle && !FDiscard) {
        UpdatePrecisionMode();
        RequestRedraw(0);
        InvalidateAll();
    } else {
        RequestCalculation();
    }
}
