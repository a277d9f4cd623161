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

// The exception in flight as one of the library's: a read hands its caller nothing else.
std::exception_ptr LibraryException() {
    try {
        throw;
    } catch (const Exception &) {
        return std::current_exception();
    } catch (const std::bad_alloc &) {
        return std::make_exception_ptr(EOutOfMemory("Out of memory"));
    } catch (const std::exception &e) {
        return std::make_exception_ptr(
            EFractalError("The fractal could not be read: %s", std::string(e.what())));
    } catch (...) {
        return std::make_exception_ptr(EFractalError("The fractal could not be read"));
    }
}

} // namespace

std::int64_t ImageMemoryEstimate(std::int32_t Width, std::int32_t Height, std::int32_t Layers) {
    return static_cast<std::int64_t>(std::max(Width, 0)) * std::max(Height, 0) *
           (2 * static_cast<std::int64_t>(std::max(Layers, 0)) + 5);
}

bool ImageSizeAllowed(std::int32_t Width, std::int32_t Height, std::int32_t Layers) {
    // The estimate is taken only for sizes whose product cannot overflow 64 bits.
    return Width >= 1 && Height >= 1 && Layers >= 1 && Layers <= MaxLayerCount &&
           ImageMemoryEstimate(Width, Height, Layers) <= MaxImageMemory;
}

void CheckImageSize(std::int32_t Width, std::int32_t Height, std::int32_t Layers) {
    if (!ImageSizeAllowed(Width, Height, Layers))
        throw EFractalError("An image of %d x %d pixels with %d layers is not possible", Width, Height,
                            Layers);
}

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
    if (FLayers->Count() < 1) {
        // No layer is active in an empty list.
        FActiveIndex = 0;
        FActiveLayer = nullptr;
        FLastChangedLayer = nullptr;
        return;
    }
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
    Layer->SetSize(FNewLayerWidth >= 0 ? FNewLayerWidth : FWidth,
                   FNewLayerHeight >= 0 ? FNewLayerHeight : FHeight);
    Layer->SetPriority(FPriority);
    for (int i = 0; i < FChangeCount; ++i)
        Layer->BeginUpdate();
    return Layer;
}

std::unique_ptr<TLayer> TCustomFractal::CreateLayer() {
    return NewLayer();
}

std::unique_ptr<TLayer> TCustomFractal::CreateLayerOfSize(std::int32_t AWidth, std::int32_t AHeight) {
    FNewLayerWidth = AWidth;
    FNewLayerHeight = AHeight;
    std::unique_ptr<TLayer> layer;
    try {
        layer = CreateLayer();
    } catch (...) {
        FNewLayerWidth = FNewLayerHeight = -1;
        throw;
    }
    FNewLayerWidth = FNewLayerHeight = -1;
    layer->EndUpdate();
    return layer;
}

void TCustomFractal::InstallLayers(std::vector<std::unique_ptr<TLayer>> Layers, std::int32_t AWidth,
                                   std::int32_t AHeight) {
    std::vector<std::unique_ptr<TLayer>> old = FLayers->Replace(std::move(Layers));
    auto takeActive = [this] {
        FActiveIndex = std::clamp(FActiveIndex, 0, std::max(FLayers->Count() - 1, 0));
        FActiveLayer = FLayers->Count() > 0 ? &FLayers->Items(FActiveIndex) : nullptr;
        FLastChangedLayer = nullptr;
    };
    takeActive();
    if (AWidth != FWidth || AHeight != FHeight) {
        // The layers have that size already: only the document and its display follow.
        try {
            SetSize(AWidth, AHeight);
        } catch (...) {
            FLayers->Replace(std::move(old)).swap(Layers);
            takeActive();
            throw;
        }
    }
    // The old layers go only now; each stops its calculation on the way.
    old.clear();
}

// --- Properties --------------------------------------------------------------------------------

void TCustomFractal::SetTitle(const std::string &Value) {
    if (Value == FTitle)
        return;
    FTitle = Value;
    Change(ckContinued, std::string());
}

void TCustomFractal::SetSize(std::int32_t AWidth, std::int32_t AHeight) {
    // Every image is allocated before any layer changes, so that a size memory cannot hold leaves
    // the document and all layers at the old size.
    try {
        for (int i = 0; i < FLayers->Count(); ++i)
            FLayers->Items(i).GetImage().ReserveSize(AWidth, AHeight);
    } catch (...) {
        for (int i = 0; i < FLayers->Count(); ++i)
            FLayers->Items(i).GetImage().ReleaseReserve();
        std::rethrow_exception(LibraryException());
    }
    FWidth = AWidth;
    FHeight = AHeight;
    for (int i = 0; i < FLayers->Count(); ++i)
        FLayers->Items(i).SetSize(AWidth, AHeight);
}

void TCustomFractal::SetImageSize(std::int32_t AWidth, std::int32_t AHeight) {
    if (AWidth == FWidth && AHeight == FHeight)
        return;
    CheckImageSize(AWidth, AHeight, std::max(FLayers->Count(), 1));
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
        // The user cancelled (an abort without text): the read ends quietly, and since nothing is
        // committed before the end, the document stays as it was. An abort that says something,
        // such as a formula that could not be found, passes on.
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
    if (failure) {
        // Nothing outside the library's exceptions leaves a read (an allocation failure of a
        // standard container, say).
        try {
            std::rethrow_exception(failure);
        } catch (...) {
            failure = LibraryException();
        }
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
    ReadEntryInfo(Reader, Flags);
    if (Progress)
        Progress(this, 0);
    if (importer) {
        importer->Apply(Reader);
        FTitle = title;
        return;
    }

    // The layers are read into new ones; the document changes only once all were read.
    std::vector<std::unique_ptr<TLayer>> layers;
    bool titleGiven = false;
    std::string givenTitle;
    std::int32_t layerWidth = FWidth, layerHeight = FHeight;
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
            // The layers already read were made for the size this section gave.
            if (!layers.empty())
                Reader.RaiseError();
            for (;;) {
                key = Reader.NextKeyInSection();
                if (key.empty())
                    break;
                if (key == "title") {
                    givenTitle = Reader.GetValue();
                    titleGiven = true;
                } else if (key == "width" || key == "height") {
                    // 0 stands only for a document that never had a size (both sides 0, below).
                    const std::int32_t value = Reader.GetInteger();
                    if (value < 0)
                        Reader.RaiseError();
                    (key == "width" ? width : height) = value;
                } else if (key == "layers")
                    declared = Reader.GetInteger();
                else if (key == "numlayers") {
                    declared = Reader.GetInteger();
                    version = 2;
                } else if (key == "active")
                    active = Reader.GetInteger();
                else
                    ReadKey(Reader, Flags, key);
            }
            layerWidth = FWidth;
            layerHeight = FHeight;
            if (Flags & rfTakeSize) {
                layerWidth = width;
                layerHeight = height;
            } else if ((Flags & rfFitAspect) && width > 0 && height > 0 && FWidth > 0 && FHeight > 0) {
                // A side never falls below one pixel, however long the other one is.
                const std::int64_t w = FWidth, h = FHeight;
                if (w * height <= h * width)
                    layerHeight = static_cast<std::int32_t>(std::max<std::int64_t>(w * height / width, 1));
                else
                    layerWidth = static_cast<std::int32_t>(std::max<std::int64_t>(h * width / height, 1));
            }
            // A document that never had a size (0 x 0, as such a document writes itself) may keep
            // it; any other size must hold the declared layers.
            const bool unsized = layerWidth == 0 && layerHeight == 0;
            if (unsized ? declared > MaxLayerCount : !ImageSizeAllowed(layerWidth, layerHeight, declared))
                CheckImageSize(layerWidth, layerHeight, declared);
            FOnProgress = Progress;
            FProgressSpan = 100 / (declared + 1);
        } else if (section == "layer") {
            const std::int32_t number = static_cast<std::int32_t>(layers.size());
            if (number >= declared) {
                Reader.Next();
                Reader.RaiseError();
            }
            if (Progress) {
                FProgressBase = (number + 1) * 100 / (declared + 1);
                Progress(this, FProgressBase);
            }
            layers.push_back(CreateLayerOfSize(layerWidth, layerHeight));
            layers.back()->ReadParameters(Reader, MakeEvent<&TCustomFractal::LayerProgress>(this));
        } else {
            Reader.Next();
        }
    }
    if (layers.empty() || static_cast<std::int32_t>(layers.size()) != declared)
        Reader.RaiseError();
    if (version == 2) {
        TLayer &bottom = *layers.back();
        bottom.SetMergeMode(0);
        bottom.SetOpacity(100);
        bottom.SetTransparent(false);
    }
    if (Progress)
        Progress(this, 100);

    // Everything was read: one step puts it in place.
    InstallLayers(std::move(layers), layerWidth, layerHeight);
    FTitle = title;
    if (titleGiven)
        SetTitle(givenTitle);
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
