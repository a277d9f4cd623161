#include "FracDocument.h"

#include <algorithm>
#include <exception>

#include "FracImport.h"
#include "GenUtils.h"

namespace {

void UniteLayerRect(TLayerRect &Into, const TLayerRect &R) {
    if (R.Left >= R.Right || R.Top >= R.Bottom)
        return;
    if (Into.Left >= Into.Right || Into.Top >= Into.Bottom) {
        Into = R;
        return;
    }
    Into.Left = std::min(Into.Left, R.Left);
    Into.Top = std::min(Into.Top, R.Top);
    Into.Right = std::max(Into.Right, R.Right);
    Into.Bottom = std::max(Into.Bottom, R.Bottom);
}

// Shows the wait cursor for the life of a scope.
class TWaitCursorScope {
public:
    TWaitCursorScope() { BeginWaitCursor(); }
    ~TWaitCursorScope() { EndWaitCursor(); }
    TWaitCursorScope(const TWaitCursorScope &) = delete;
    TWaitCursorScope &operator=(const TWaitCursorScope &) = delete;
};

} // namespace

TCustomFractal::TCustomFractal(TCalculateManager *AManager) : FManager(AManager) {
    FLock = std::make_unique<TCriticalSection>();
    FUpdateRects = std::make_unique<TUpdateRectList>();
    FLayers = std::make_unique<TLayerList>();
    FTimer = std::make_unique<TFractalTimer>(*FLayers);
    CreateDisplay();
    FLayers->OnBeforeChange = MakeNotifyEvent<&TCustomFractal::LayerListChanging>(this);
    FLayers->OnChange = MakeEvent<&TCustomFractal::LayerListChanged>(this);
    std::unique_ptr<TLayer> layer = NewLayer();
    layer->SetCaption("Background");
    FActiveLayer = layer.get();
    FLayers->Add(std::move(layer));
    FActiveLayer->EndUpdate();
}

TCustomFractal::~TCustomFractal() {
    PauseCalculation();
    // A bracket that is never closed: nothing is committed while the document goes away.
    ++FChangeCount;
    DestroyDisplay();
    FLayers->OnBeforeChange = TNotifyEvent();
    FLayers->OnChange = TLayerListChangeEvent();
    for (int i = 0; i < FLayers->Count(); ++i) {
        TLayer &layer = FLayers->Items(i);
        layer.OnChange = TLayerChangeEvent();
        layer.OnInvalidate = TLayerInvalidateEvent();
        layer.OnCalculationStart = TLayerCalculationStartEvent();
        layer.OnCalculationFinished = TNotifyEvent();
    }
    FActiveLayer = nullptr;
    FLayers.reset();
    FTimer.reset();
    FUpdateRects.reset();
    FLock.reset();
}

// --- Change bracket --------------------------------------------------------------------------

void TCustomFractal::BeginChange() {
    ++FChangeCount;
    for (int i = 0; i < FLayers->Count(); ++i)
        FLayers->Items(i).BeginUpdate();
}

void TCustomFractal::EndChangeCaption(const std::string &Caption) {
    try {
        for (int i = 0; i < FLayers->Count(); ++i)
            FLayers->Items(i).EndUpdate();
    } catch (...) {
        if (--FChangeCount < 1)
            FChangeCount = 0;
        throw;
    }
    --FChangeCount;
    if (!Caption.empty())
        FPendingCaption = Caption;
    if (FChangeCount < 1) {
        FChangeCount = 0;
        Commit();
    }
}

void TCustomFractal::Change(std::uint8_t Kind, const std::string &Caption) {
    FLastChangedLayer = nullptr;
    FChangePending = true;
    if (Kind != 0 && !Caption.empty())
        FPendingCaption = Caption;
    FPendingKind = std::max(FPendingKind, Kind);
    if (FChangeCount == 0)
        Commit();
}

void TCustomFractal::Commit() {
    if (FRectPending) {
        const TLayerRect rect = FPendingRect;
        FPendingRect = TLayerRect();
        FRectPending = false;
        InvalidateDisplay(rect);
    }
    if (FChangePending) {
        if (FPendingKind != 0)
            Changed(FPendingKind, FPendingCaption);
        FPendingKind = 0;
        FChangePending = false;
        if (OnChange)
            OnChange(this);
    }
}

void TCustomFractal::InvalidateRect(const TLayerRect &Rect) {
    UniteLayerRect(FPendingRect, Rect);
    FRectPending = true;
    if (FChangeCount == 0)
        Commit();
}

// --- Layer events ------------------------------------------------------------------------------

void TCustomFractal::LayerChanged(TObject *Sender, TLayerChangeKind Kind, const std::string &Caption) {
    std::uint8_t kind;
    switch (Kind) {
    case TLayerChangeKind::Modified:
        kind = ckContinued;
        break;
    case TLayerChangeKind::Continued:
        kind = Sender == FLastChangedLayer ? ckContinued : ckNewStep;
        break;
    case TLayerChangeKind::NewChange:
        kind = ckNewStep;
        break;
    default:
        return;
    }
    Change(kind, Caption);
    FLastChangedLayer = static_cast<TLayer *>(Sender);
}

void TCustomFractal::LayerInvalidate(TObject *, const TLayerRect &Rect) {
    if (FLayers->Count() > 0)
        InvalidateRect(Rect);
}

void TCustomFractal::LayerProgress(TObject *, int Percent) {
    if (FOnProgress)
        FOnProgress(this, FProgressBase + Percent * FProgressSpan / 100);
}

void TCustomFractal::LayerListChanged(TObject *, const std::string &Caption) {
    if (FLayers->Count() < 1)
        return;
    FActiveIndex = std::clamp(FActiveIndex, 0, FLayers->Count() - 1);
    FActiveLayer = &FLayers->Items(FActiveIndex);
    InvalidateRect(TLayerRect{0, 0, FWidth, FHeight});
    Change(ckNewStep, Caption);
}

void TCustomFractal::CalculationStarted(TObject *, bool Continued, bool) {
    bool first;
    {
        TScopeLock<TCriticalSection> lock(*FLock);
        first = ++FCalculatingCount == 1;
        if (first) {
            if (Continued)
                FTimer->Resume();
            else
                FTimer->Start();
        }
    }
    if (first && OnCalculate)
        OnCalculate(this);
}

void TCustomFractal::CalculationFinished(TObject *) {
    TScopeLock<TCriticalSection> lock(*FLock);
    if (--FCalculatingCount < 1) {
        FTimer->Stop();
        FCalculatingCount = 0;
    }
}

std::unique_ptr<TLayer> TCustomFractal::NewLayer() {
    return PrepareLayer(std::make_unique<TLayer>(FUpdateRects.get(), FManager));
}

std::unique_ptr<TLayer> TCustomFractal::PrepareLayer(std::unique_ptr<TLayer> Layer) {
    Layer->OnInvalidate = MakeEvent<&TCustomFractal::LayerInvalidate>(this);
    Layer->OnCalculationStart = MakeEvent<&TCustomFractal::CalculationStarted>(this);
    Layer->OnCalculationFinished = MakeNotifyEvent<&TCustomFractal::CalculationFinished>(this);
    Layer->OnChange = MakeEvent<&TCustomFractal::LayerChanged>(this);
    Layer->SetSize(FWidth, FHeight);
    Layer->SetPriority(FPriority);
    for (int i = 0; i < FChangeCount; ++i)
        Layer->BeginUpdate();
    return Layer;
}

std::unique_ptr<TLayer> TCustomFractal::CreateLayer() {
    return NewLayer();
}

// --- Properties --------------------------------------------------------------------------------

void TCustomFractal::SetTitle(const std::string &Value) {
    if (Value == FTitle)
        return;
    FTitle = Value;
    Change(ckContinued, std::string());
}

void TCustomFractal::SetSize(std::int32_t AWidth, std::int32_t AHeight) {
    FWidth = AWidth;
    FHeight = AHeight;
    for (int i = 0; i < FLayers->Count(); ++i)
        FLayers->Items(i).SetSize(AWidth, AHeight);
}

void TCustomFractal::SetImageSize(std::int32_t AWidth, std::int32_t AHeight) {
    if (AWidth == FWidth && AHeight == FHeight)
        return;
    PauseCalculation();
    BeginChange();
    try {
        SetSize(AWidth, AHeight);
    } catch (...) {
        EndChange();
        throw;
    }
    EndChangeCaption("Image Size");
}

void TCustomFractal::SetActiveLayer(std::int32_t Index) {
    if (Index == FActiveIndex)
        return;
    if (Index < 0 || Index >= FLayers->Count())
        throw EFractalError("Active layer index out of range");
    FActiveIndex = Index;
    FActiveLayer = &FLayers->Items(Index);
    BeginChange();
    try {
        if (!FActiveLayer->GetVisible())
            FActiveLayer->SetVisible(true);
        if (!FActiveLayer->GetEditable()) {
            for (int i = 0; i < FLayers->Count(); ++i)
                if (i != Index && FLayers->Items(i).GetEditable())
                    FLayers->Items(i).SetEditable(false);
            FActiveLayer->SetEditable(true);
        }
        Change(ckContinued, std::string());
    } catch (...) {
        EndChange();
        throw;
    }
    EndChange();
}

void TCustomFractal::SetThreadPriority(std::uint8_t Value) {
    if (Value == FPriority)
        return;
    FPriority = Value;
    for (int i = 0; i < FLayers->Count(); ++i)
        FLayers->Items(i).SetPriority(Value);
}

// --- Layers ------------------------------------------------------------------------------------

std::unique_ptr<TLayer> TCustomFractal::CloneLayer(TLayer &Layer) {
    TWaitCursorScope wait;
    Layer.StopCalculation();
    std::unique_ptr<TLayer> copy = CreateLayer();
    try {
        copy->CopyFrom(Layer);
        if (Layer.GetWidth() == FWidth && Layer.GetHeight() == FHeight) {
            TMemoryStream data;
            Layer.WriteCalculation(data);
            data.SetPosition(0);
            copy->ReadCalculation(data);
        }
    } catch (...) {
        Layer.ResumeCalculation();
        throw;
    }
    Layer.ResumeCalculation();
    return copy;
}

TLayer *TCustomFractal::DuplicateLayer(const std::string &Caption) {
    if (FLayers->Count() == 0) {
        std::unique_ptr<TLayer> layer = CreateLayer();
        layer->SetCaption(Caption);
        TLayer *result = layer.get();
        FActiveIndex = 0;
        FLayers->Add(std::move(layer));
        FActiveLayer = result;
        result->EndUpdate();
        return result;
    }
    BeginChange();
    TLayer *result = nullptr;
    try {
        std::unique_ptr<TLayer> copy = CloneLayer(*FActiveLayer);
        copy->SetCaption(Caption);
        result = copy.get();
        FLayers->Insert(FActiveIndex, std::move(copy));
        result->EndUpdate();
    } catch (...) {
        EndChange();
        throw;
    }
    EndChangeCaption("Duplicate Layer");
    return result;
}

void TCustomFractal::ResetLocation() {
    BeginChange();
    try {
        for (int i = 0; i < FLayers->Count(); ++i)
            FLayers->Items(i).ResetLocation();
    } catch (...) {
        EndChange();
        throw;
    }
    EndChangeCaption("Reset Location");
}

// --- Calculation -------------------------------------------------------------------------------

void TCustomFractal::PauseCalculation() {
    for (int i = 0; i < FLayers->Count(); ++i) {
        TLayer &layer = FLayers->Items(i);
        layer.StopCalculation();
        layer.WaitForThreads();
    }
}

void TCustomFractal::ResumeCalculation() {
    for (int i = 0; i < FLayers->Count(); ++i) {
        TLayer &layer = FLayers->Items(i);
        if (layer.GetCalculationState() == csInterrupted)
            layer.ResumeCalculation();
    }
}

bool TCustomFractal::IsCalculating() {
    TScopeLock<TCriticalSection> lock(*FLock);
    return FCalculatingCount > 0;
}

std::int32_t TCustomFractal::GetCalculatingCount() {
    TScopeLock<TCriticalSection> lock(*FLock);
    return FCalculatingCount;
}

bool TCustomFractal::HasPausedLayers() {
    TScopeLock<TCriticalSection> lock(*FLock);
    for (int i = 0; i < FLayers->Count(); ++i)
        if (FLayers->Items(i).GetCalculationState() == csInterrupted)
            return true;
    return false;
}

bool TCustomFractal::CanRender() const {
    for (int i = 0; i < FLayers->Count(); ++i)
        if (!FLayers->Items(i).CanRender())
            return false;
    return true;
}

void TCustomFractal::ApplyUncalculatedColor() {
    for (int i = 0; i < FLayers->Count(); ++i)
        FLayers->Items(i).UpdateBackgroundColor();
    InvalidateRect(TLayerRect{0, 0, FWidth, FHeight});
}

// --- Parameter text ----------------------------------------------------------------------------

void TCustomFractal::CheckLayerSections(TParReader &Reader) {
    Reader.PushPosition();
    try {
        std::int32_t declared = 0;
        std::int32_t sections = 0;
        std::string section;
        for (;;) {
            const std::string key = Reader.Next();
            if (key.empty()) {
                section = Reader.GetSectionName();
                if (section.empty())
                    break;
                if (section == "layer" && ++sections > declared)
                    Reader.RaiseError();
            } else if (section == "fractal" && (key == "layers" || key == "numlayers")) {
                declared = Reader.GetInteger();
            }
        }
        if (declared < 1 || sections != declared)
            Reader.RaiseError();
    } catch (...) {
        Reader.PopPosition();
        throw;
    }
    Reader.PopPosition();
}

void TCustomFractal::ReadParameters(TParReader &Reader, std::uint32_t Flags,
                                    const TFractalProgressEvent &Progress) {
    TWaitCursorScope wait;
    BeginChange();
    FLayers->BeginUpdate();
    // The list's update and the bracket close whatever happens; the first error passes on.
    std::exception_ptr failure;
    auto keepFirst = [&failure] {
        if (!failure)
            failure = std::current_exception();
    };
    try {
        ReadSections(Reader, Flags, Progress);
    } catch (const EAbort &e) {
        // The user cancelled (an abort without text): what was read so far stays. An abort that
        // says something, such as a formula that could not be found, passes on.
        if (*e.what() != '\0')
            keepFirst();
    } catch (...) {
        keepFirst();
    }
    FOnProgress = TFractalProgressEvent();
    try {
        FLayers->EndUpdate();
    } catch (...) {
        keepFirst();
    }
    try {
        EndChange();
    } catch (...) {
        keepFirst();
    }
    if (failure)
        std::rethrow_exception(failure);
}

void TCustomFractal::ReadSections(TParReader &Reader, std::uint32_t Flags,
                                  const TFractalProgressEvent &Progress) {
    std::int32_t declared = 0;
    std::int32_t width = FWidth, height = FHeight;
    std::int32_t active = 0;
    int version = 3;

    std::string key = Reader.PeekKey();
    // An entry that starts with a key is a Fractint parameter entry. Every count and value is
    // checked before anything changes, so that a refused entry leaves the document as it was.
    std::unique_ptr<TFractintImporter> importer;
    if (!key.empty()) {
        importer = std::make_unique<TFractintImporter>(*this);
        importer->SetSize = (Flags & rfTakeSize) != 0;
        importer->OnProgress = Progress;
        importer->ReadEntry(Reader);
    } else {
        CheckLayerSections(Reader);
    }

    std::string title = Reader.Name();
    std::replace(title.begin(), title.end(), '_', ' ');
    FTitle = title;
    ReadEntryInfo(Reader, Flags);
    if (Progress)
        Progress(this, 0);
    if (importer) {
        importer->Apply(Reader);
        return;
    }

    std::int32_t number = 0;
    for (;;) {
        std::string section;
        key = Reader.PeekKey(&section);
        if (!key.empty()) {
            // A key outside a known section.
            Reader.Next();
            continue;
        }
        if (section.empty())
            break;
        if (section == "fractal") {
            Reader.Next();
            for (;;) {
                key = Reader.NextKeyInSection();
                if (key.empty())
                    break;
                if (key == "title")
                    SetTitle(Reader.GetValue());
                else if (key == "width")
                    width = Reader.GetInteger();
                else if (key == "height")
                    height = Reader.GetInteger();
                else if (key == "layers")
                    declared = Reader.GetInteger();
                else if (key == "numlayers") {
                    declared = Reader.GetInteger();
                    version = 2;
                } else if (key == "active")
                    active = Reader.GetInteger();
                else
                    ReadKey(Reader, Flags, key);
            }
            if (Flags & rfTakeSize)
                SetImageSize(width, height);
            else if ((Flags & rfFitAspect) && width > 0 && height > 0) {
                const std::int64_t w = FWidth, h = FHeight;
                if (w * height <= h * width)
                    SetImageSize(FWidth, static_cast<std::int32_t>(w * height / width));
                else
                    SetImageSize(static_cast<std::int32_t>(h * width / height), FHeight);
            }
            FOnProgress = Progress;
            FProgressSpan = 100 / (declared + 1);
        } else if (section == "layer") {
            if (number >= declared) {
                Reader.Next();
                Reader.RaiseError();
            }
            if (Progress) {
                FProgressBase = (number + 1) * 100 / (declared + 1);
                Progress(this, FProgressBase);
            }
            if (number == FLayers->Count()) {
                std::unique_ptr<TLayer> layer = CreateLayer();
                TLayer *added = layer.get();
                FLayers->Add(std::move(layer));
                added->EndUpdate();
            }
            FLayers->Items(number).ReadParameters(Reader, MakeEvent<&TCustomFractal::LayerProgress>(this));
            ++number;
        } else {
            Reader.Next();
        }
    }
    if (FLayers->Count() == 0 || number != declared)
        Reader.RaiseError();
    if (Progress)
        Progress(this, 100);
    for (int i = FLayers->Count() - 1; i >= declared; --i)
        FLayers->Delete(i);
    if (version == 2) {
        TLayer &bottom = FLayers->Items(FLayers->Count() - 1);
        bottom.SetMergeMode(0);
        bottom.SetOpacity(100);
        bottom.SetTransparent(false);
    }
    SetActiveLayer(std::clamp(active, 0, FLayers->Count() - 1));
}

void TCustomFractal::WriteParameters(TParWriter &Writer, std::uint32_t Flags) {
    WriteComments(Writer);
    Writer.WriteSection("fractal");
    Writer.WriteQuoted("title", FTitle);
    Writer.WriteInteger("width", FWidth);
    Writer.WriteInteger("height", FHeight);
    Writer.WriteInteger("layers", FLayers->Count());
    if (Flags & wfActive)
        Writer.WriteInteger("active", FActiveIndex);
    WriteKeys(Writer, Flags);
    std::uint32_t layerFlags = 0;
    if (Flags & wfEditable)
        layerFlags |= TLayer::wpEditable;
    if (Flags & wfMaskOnly)
        layerFlags |= TLayer::wpMaskOnly;
    if (Flags & wfShortFileName)
        layerFlags |= TLayer::wpShortFileName;
    for (int i = 0; i < FLayers->Count(); ++i)
        FLayers->Items(i).WriteParameters(Writer, layerFlags);
    Writer.Finish();
}
