#include "FracLayer.h"

#include <windows.h>

#include <algorithm>

#include "FracAntiAlias.h"
#include "FracInterpolator.h"
#include "FracMethods.h"
#include "GenSetup.h"

namespace {

const char *const MergeModeNames[MergeModeCount] = {
    "",           "multiply", "screen",     "overlay", "softlight", "hardlight", "darken",      "lighten",
    "difference", "hue",      "saturation", "color",   "luminance", "addition",  "subtraction", "hsladd",
    "red",        "green",    "blue"};

// Parameter-text colour (red + 256 green + 65536 blue) and an alpha byte as a table colour
// (bytes blue, green, red, alpha from the low byte).
std::uint32_t TableColor(std::uint32_t Rgb, std::uint32_t Alpha) {
    const std::uint32_t red = Rgb & 0xFF, green = (Rgb >> 8) & 0xFF, blue = (Rgb >> 16) & 0xFF;
    return blue | (green << 8) | (red << 16) | ((Alpha & 0xFF) << 24);
}

// A solid colour as it is collected while a layer section is read: the RGB and the alpha come
// from two keys in either order.
struct TSolidKeys {
    std::uint32_t Rgb = 0;
    std::uint32_t Alpha = 255;
    std::uint32_t Color() const { return TableColor(Rgb, Alpha); }
};

std::uint8_t AlphaOf(std::uint32_t Color) {
    return static_cast<std::uint8_t>(Color >> 24);
}

} // namespace

const char *MergeModeName(std::uint8_t Mode) {
    return Mode < MergeModeCount ? MergeModeNames[Mode] : "";
}

int MergeModeFromName(const std::string &Name) {
    std::string lower = Name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : char(c); });
    for (int i = 1; i < MergeModeCount; ++i)
        if (lower == MergeModeNames[i])
            return i;
    return -1;
}

void GetThumbnailSize(std::int32_t Width, std::int32_t Height, std::int32_t &ThumbWidth,
                      std::int32_t &ThumbHeight) {
    ThumbWidth = ThumbHeight = 0;
    if (Width <= 0 || Height <= 0)
        return;
    const std::int64_t w = Width, h = Height;
    if (h <= w) {
        if (3 * w < 4 * h) {
            ThumbHeight = 27;
            ThumbWidth = static_cast<std::int32_t>(w * 27 / h);
        } else {
            ThumbWidth = 36;
            ThumbHeight = static_cast<std::int32_t>(h * 36 / w);
        }
    } else if (3 * h < 4 * w) {
        ThumbWidth = 27;
        ThumbHeight = static_cast<std::int32_t>(h * 27 / w);
    } else {
        ThumbHeight = 36;
        ThumbWidth = static_cast<std::int32_t>(w * 36 / h);
    }
}

// ---------------------------------------------------------------------------------------------
// TLayer

TLayer::TLayer(TUpdateRectList *AUpdateRects, TCalculateManager *AManager)
    : TLayerEngine(AUpdateRects, AManager) {
    GetInsideColoring().OnSolidChanged = MakeEvent<&TLayer::SolidColorChanged>(this);
    GetOutsideColoring().OnSolidChanged = MakeEvent<&TLayer::SolidColorChanged>(this);
    FColorTable = std::make_unique<TGradientTable>();
    std::fill(std::begin(FColorTable->Entries), std::end(FColorTable->Entries), 0xFF000000u);
    FGradient = std::make_unique<TGradient>(*FColorTable);
    FGradient->OnTableChange = MakeEvent<&TLayer::GradientChanged>(this);
    FGradient->OnTransparencyChange = MakeEvent<&TLayer::GradientTransparencyChanged>(this);
    FThumbnail = std::make_unique<TCanvasBitmap>(TBaseBitmap::bmRGB32, 0);
    GetImage().SetColorTable(FColorTable.get());
    SetClearFlag(true);
    UpdateBackgroundColor();
    ResetProperties();
    HookTransformations();
    UpdateSolidColors();
    FOpacity = 100;
}

TLayer::~TLayer() {
    StopCalculation();
    BeginUpdate();
    // The engine's threads are gone before the gradient and the table they read are freed.
    Detach();
    FGradient.reset();
    FThumbnail.reset();
    GetImage().SetColorTable(nullptr);
    FColorTable.reset();
}

void TLayer::PrepareCalculation() {
    TLayerEngine::PrepareCalculation();
    GetImage().Interpolator().Build(*FGradient);
}

std::unique_ptr<TCompute> TLayer::CreatePiece() {
    std::unique_ptr<TCompute> piece = TLayerEngine::CreatePiece();
    piece->Gradient = FGradient.get();
    if (auto *antiAliased = dynamic_cast<TComputeAntiAliasing *>(piece.get()))
        antiAliased->SetOpaque(!FTransparent);
    return piece;
}

void TLayer::Changed(TLayerChangeKind Kind, const std::string &Caption) {
    FThumbnailValid = false;
    TLayerEngine::Changed(Kind, Caption);
}

void TLayer::SetSize(std::int32_t Width, std::int32_t Height) {
    TLayerEngine::SetSize(Width, Height);
    GetThumbnailSize(GetWidth(), GetHeight(), FThumbnailWidth, FThumbnailHeight);
    FThumbnailValid = false;
}

// --- Properties --------------------------------------------------------------------------------

void TLayer::SetCaption(const std::string &Value) {
    if (Value == FCaption)
        return;
    FCaption = Value;
    Modified();
}

void TLayer::SetEditable(bool Value) {
    if (Value == FEditable)
        return;
    FEditable = Value;
    Modified();
}

void TLayer::SetVisible(bool Value) {
    if (Value == FVisible)
        return;
    FVisible = Value;
    BeginUpdate();
    InvalidateAll();
    Modified();
    EndUpdate();
}

void TLayer::SetOpacity(std::int32_t Value) {
    Value = std::clamp(Value, 0, 100);
    if (Value == FOpacity)
        return;
    FOpacity = Value;
    BeginUpdate();
    InvalidateAll();
    RequestRedraw(1, "Layer Opacity");
    EndUpdate();
}

void TLayer::SetMergeMode(std::uint8_t Value) {
    if (Value >= MergeModeCount || Value == FMergeMode)
        return;
    FMergeMode = Value;
    BeginUpdate();
    InvalidateAll();
    RequestRedraw(0, "Merge Mode");
    EndUpdate();
}

void TLayer::SetMask(bool Value) {
    if (Value == FMask)
        return;
    FMask = Value;
    BeginUpdate();
    if (Value)
        FTransparent = true;
    else
        FMaskOnly = false;
    InvalidateAll();
    RequestRedraw(0, "Layer Mask");
    EndUpdate();
}

void TLayer::SetMaskOnly(bool Value) {
    if (Value == FMaskOnly || !FMask)
        return;
    FMaskOnly = Value;
    BeginUpdate();
    if (Value)
        FTransparent = true;
    InvalidateAll();
    Modified();
    EndUpdate();
}

void TLayer::SetTransparent(bool Value) {
    if (Value == FTransparent)
        return;
    FTransparent = Value;
    FMaskOnly = false;
    BeginUpdate();
    InvalidateAll();
    if (!IsGradientChanging())
        Modified();
    EndUpdate();
}

void TLayer::ResetProperties() {
    BeginUpdate();
    SetVisible(true);
    SetEditable(true);
    SetTransparent(false);
    SetMask(false);
    SetOpacity(50);
    SetMergeMode(0);
    SetCaption(std::string());
    EndUpdate();
}

void TLayer::ResetLocation() {
    const TFormulaSettings &location = GetFormula().GetLocationSettings();
    TMapping &mapping = GetMapping();
    mapping.BeginUpdate();
    try {
        mapping.Center.SetText(location.Center.Re.GetText(), location.Center.Im.GetText());
        mapping.Magnification.SetText(location.Magn.GetText());
        mapping.Angle.SetText(location.Angle.GetText());
        mapping.Stretch.SetText(location.Stretch.GetText());
        mapping.Skew.SetText(location.Skew.GetText());
    } catch (...) {
        mapping.EndUpdateCaption("Reset Location");
        throw;
    }
    mapping.EndUpdateCaption("Reset Location");
}

// --- Colour table, gradient and solid colours ----------------------------------------------------

void TLayer::UpdateSolidColors() {
    TGradientTable &table = *FColorTable;
    table[InsideSolidCode] = GetInsideColoring().GetSolidColor();
    table[OutsideSolidCode] = GetOutsideColoring().GetSolidColor();
    TTransformList &transforms = GetMapping().GetTransformations();
    const int count = std::min(transforms.GetCount(), TransformCodeCount);
    for (int i = 0; i < count; ++i)
        table[FirstTransformCode + i] = transforms.GetItem(i).GetSolidColor();
}

void TLayer::UpdateBackgroundColor() {
    TConfigManager *config = ConfigManager();
    const std::uint32_t rgb =
        config && config->Fractal ? static_cast<std::uint32_t>(config->Fractal->BackgroundColor) : 0;
    (*FColorTable)[UncalculatedCode] = TableColor(rgb, 255);
}

void TLayer::UpdateTransparency() {
    bool transparent = FGradient->HasTransparency() || GetInsideColoring().GetOutputMode() == 2 ||
                       GetOutsideColoring().GetOutputMode() == 2 ||
                       AlphaOf(GetInsideColoring().GetSolidColor()) != 255 ||
                       AlphaOf(GetOutsideColoring().GetSolidColor()) != 255;
    TTransformList &transforms = GetMapping().GetTransformations();
    for (int i = 0; i < transforms.GetCount() && !transparent; ++i)
        transparent = AlphaOf(transforms.GetItem(i).GetSolidColor()) != 255;
    SetTransparent(transparent);
}

void TLayer::GradientChanged(TObject *, int Flags) {
    BeginUpdate();
    if (Flags & 2)
        RequestRedraw(2, "Gradient");
    if (Flags & 1) {
        FThumbnailValid = false;
        ColorsChanged();
    }
    EndUpdate();
}

void TLayer::ColorsChanged() {
    if (GetImage().Mode() == lmColor) {
        // The pixels hold colours: the old picture stays until the new one replaces it.
        SetClearFlag(false);
        Recalculate();
    } else {
        InvalidateAll();
    }
}

void TLayer::GradientTransparencyChanged(TObject *) {
    UpdateTransparency();
}

void TLayer::SolidColorChanged(TObject *Sender) {
    FThumbnailValid = false;
    UpdateSolidColors();
    if (!IsGradientChanging()) {
        const char *caption = Sender == &GetInsideColoring()    ? "Inside Solid Color"
                              : Sender == &GetOutsideColoring() ? "Outside Solid Color"
                                                                : "Transformation Solid Color";
        RequestRedraw(0, caption);
    }
    BeginUpdate();
    UpdateTransparency();
    ColorsChanged();
    EndUpdate();
}

void TLayer::HookTransformations() {
    TTransformList &transforms = GetMapping().GetTransformations();
    for (int i = 0; i < transforms.GetCount(); ++i)
        transforms.GetItem(i).OnSolidChanged = MakeEvent<&TLayer::SolidColorChanged>(this);
}

void TLayer::TransformationsChanged() {
    HookTransformations();
    UpdateSolidColors();
}

void TLayer::BeginGradientChange() {
    ++FGradientChangeCount;
}

void TLayer::EndGradientChange(bool Changed, const std::string &Caption) {
    --FGradientChangeCount;
    if (FGradientChangeCount <= 0) {
        FGradientChangeCount = 0;
        if (Changed) {
            BeginUpdate();
            RequestRedraw(0, Caption);
            InvalidateAll();
            EndUpdate();
        }
    }
}

bool TLayer::IsGradientChanging() const {
    return FGradientChangeCount > 0 || FGradient->IsAdjusting();
}

// --- Thumbnail -----------------------------------------------------------------------------------

bool TLayer::ThumbnailNeedsUpdate() const {
    return IsCalculating() || !FThumbnailValid;
}

void TLayer::UpdateThumbnail() {
    if (FThumbnailWidth <= 0 || FThumbnailHeight <= 0)
        return;
    TLayerImage &image = GetImage();
    if (image.Width() <= 0 || image.Height() <= 0)
        return;
    FThumbnail->SetSize(FThumbnailWidth, FThumbnailHeight);
    std::vector<std::uint32_t> row(static_cast<std::size_t>(FThumbnailWidth));
    const std::uint32_t step = (static_cast<std::uint32_t>(image.Width()) << 16) / FThumbnailWidth;
    TScopeLock<TLayerImage> guard(image);
    for (int y = 0; y < FThumbnailHeight; ++y) {
        const int sourceY =
            static_cast<int>(static_cast<std::int64_t>(image.Height()) * y / FThumbnailHeight);
        std::uint32_t position = 0;
        for (int x = 0; x < FThumbnailWidth; ++x, position += step) {
            const int sourceX = std::min(static_cast<int>(position >> 16), image.Width() - 1);
            std::uint32_t color = image.GetPixelColor(sourceX, sourceY);
            if (FMask) {
                const std::uint32_t alpha = color >> 24;
                color = alpha | (alpha << 8) | (alpha << 16) | (alpha << 24);
            }
            row[static_cast<std::size_t>(x)] = color;
        }
        FThumbnail->WriteRow(0, y, row.data(), FThumbnailWidth);
    }
}

void TLayer::DrawThumbnail(HDC Canvas, std::int32_t X, std::int32_t Y) {
    if (IsCalculating() || !FThumbnailValid) {
        FThumbnailValid = true;
        if (!IsGradientChanging())
            UpdateThumbnail();
    }
    if (!Canvas || FThumbnail->Width() <= 0)
        return;
    RECT dest = {X, Y, X + FThumbnail->Width(), Y + FThumbnail->Height()};
    FThumbnail->BlitTo(Canvas, dest, 0, 0);
}

// --- Parameter text ------------------------------------------------------------------------------

void TLayer::ReadParameters(TParReader &Reader, const TLayerProgressEvent &Progress) {
    BeginUpdate();
    try {
        ResetProperties();
        std::uint8_t method = dmGuessing;
        std::int32_t precision = 0;
        bool transparent = false;
        TSolidKeys inside, outside, transform;
        if (Progress)
            Progress(this, 0);

        std::string section;
        std::string key = Reader.PeekKey(&section);
        if (key.empty() && !section.empty()) {
            if (section != "layer")
                Reader.RaiseError();
            Reader.Next();
        }
        for (;;) {
            key = Reader.NextKeyInSection();
            if (key.empty())
                break;
            if (key == "insolid")
                inside.Rgb = Reader.GetCardinal();
            else if (key == "outsolid")
                outside.Rgb = Reader.GetCardinal();
            else if (key == "mapsolid")
                transform.Rgb = Reader.GetCardinal();
            else if (key == "inalpha")
                inside.Alpha = Reader.GetCardinal();
            else if (key == "outalpha")
                outside.Alpha = Reader.GetCardinal();
            else if (key == "mapalpha")
                transform.Alpha = Reader.GetCardinal();
            else if (key == "method") {
                method = ComputeMethodFromName(Reader.GetLowerValue());
            } else if (key == "caption")
                SetCaption(Reader.GetValue());
            else if (key == "opacity")
                SetOpacity(Reader.GetInteger());
            else if (key == "visible")
                SetVisible(Reader.GetBoolean());
            else if (key == "editable")
                SetEditable(Reader.GetBoolean());
            else if (key == "alpha" || key == "transparent")
                transparent = Reader.GetBoolean();
            else if (key == "mask")
                SetMask(Reader.GetBoolean());
            else if (key == "maskonly")
                SetMaskOnly(Reader.GetBoolean());
            else if (key == "mergemode") {
                const int mode = MergeModeFromName(Reader.GetValue());
                if (mode >= 0)
                    SetMergeMode(static_cast<std::uint8_t>(mode));
            } else if (key == "precision")
                precision = Reader.GetInteger();
        }
        GetInsideColoring().SetSolidColor(inside.Color());
        GetOutsideColoring().SetSolidColor(outside.Color());

        for (;;) {
            key = Reader.PeekKey(&section);
            if (!key.empty() || section.empty())
                break;
            if (section == "mapping") {
                if (Progress)
                    Progress(this, 10);
                GetMapping().ReadParameters(Reader, transform.Color());
            } else if (section == "formula") {
                if (Progress)
                    Progress(this, 30);
                GetFormula().LoadFromReader(Reader);
            } else if (section == "inside") {
                if (Progress)
                    Progress(this, 50);
                GetInsideColoring().ReadWithDefaultSolid(Reader, inside.Color());
            } else if (section == "outside") {
                if (Progress)
                    Progress(this, 70);
                GetOutsideColoring().ReadWithDefaultSolid(Reader, outside.Color());
            } else if (section == "gradient") {
                if (Progress)
                    Progress(this, 90);
                FGradient->ReadParameters(Reader, 10);
            } else {
                break;
            }
        }
        SetMethod(method);
        SetAdditionalPrecision(precision);
        SetTransparent(transparent);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TLayer::WriteParameters(TParWriter &Writer, std::uint32_t Flags) {
    Writer.WriteSection("layer");
    if (const std::string method = ComputeMethodName(GetMethod()); !method.empty())
        Writer.WriteString("method", method);
    Writer.WriteQuoted("caption", FCaption);
    if (FOpacity != 50)
        Writer.WriteInteger("opacity", FOpacity);
    if (!FVisible)
        Writer.WriteBoolean("visible", false);
    if ((Flags & wpEditable) && !FEditable)
        Writer.WriteBoolean("editable", false);
    if (FTransparent)
        Writer.WriteBoolean("transparent", true);
    if (FMask)
        Writer.WriteBoolean("mask", true);
    if ((Flags & wpMaskOnly) && FMask && FMaskOnly)
        Writer.WriteBoolean("maskonly", true);
    if (FMergeMode != 0)
        Writer.WriteString("mergemode", MergeModeName(FMergeMode));
    if (GetAdditionalPrecision() != 0)
        Writer.WriteInteger("precision", GetAdditionalPrecision());
    const std::uint32_t partFlags = (Flags & wpShortFileName) ? 2 : 0;
    GetMapping().WriteParameters(Writer, partFlags);
    GetFormula().WriteParameters(Writer, partFlags);
    GetInsideColoring().WriteParameters(Writer, partFlags);
    GetOutsideColoring().WriteParameters(Writer, partFlags);
    FGradient->WriteParameters(Writer, 3);
}

// --- Calculation data ----------------------------------------------------------------------------

void TLayer::WriteCalculation(TStream &Stream) {
    const bool calculating = IsCalculating();
    if (calculating)
        StopCalculation();
    WriteResumeState(Stream);
    GetImage().SaveData(Stream);
    SetStarted(false);
    if (calculating)
        ResumeCalculation();
}

void TLayer::ReadCalculation(TStream &Stream) {
    // The resume state's requests wait until the image data is in: a short image leaves every
    // pixel as it was and the layer calculates again instead of showing a picture it lacks.
    BeginUpdate();
    try {
        ReadResumeState(Stream);
        GetImage().LoadData(Stream);
    } catch (...) {
        AbandonResumeState();
        SetStarted(false);
        EndUpdate();
        throw;
    }
    SetStarted(false);
    EndUpdate();
}

// ---------------------------------------------------------------------------------------------
// TLayerList

TLayerList::~TLayerList() {
    FLayers.clear();
}

int TLayerList::Add(std::unique_ptr<TLayer> Layer) {
    const int index = Count();
    Insert(index, std::move(Layer));
    return index;
}

void TLayerList::Insert(int Index, std::unique_ptr<TLayer> Layer) {
    Index = std::clamp(Index, 0, Count());
    DoBeforeChange();
    if (OnAdd)
        OnAdd(this, Index);
    FLayers.insert(FLayers.begin() + Index, std::move(Layer));
    Changed("Add Layer");
}

void TLayerList::Delete(int Index) {
    if (Index < 0 || Index >= Count())
        return;
    DoBeforeChange();
    if (OnRemove)
        OnRemove(this, Index);
    std::unique_ptr<TLayer> layer = std::move(FLayers[static_cast<std::size_t>(Index)]);
    FLayers.erase(FLayers.begin() + Index);
    layer.reset();
    Changed("Remove Layer");
}

void TLayerList::Move(int From, int To) {
    if (From < 0 || From >= Count() || To < 0 || To >= Count() || From == To)
        return;
    DoBeforeChange();
    if (OnMove)
        OnMove(this, From, To);
    std::unique_ptr<TLayer> layer = std::move(FLayers[static_cast<std::size_t>(From)]);
    FLayers.erase(FLayers.begin() + From);
    FLayers.insert(FLayers.begin() + To, std::move(layer));
    Changed("Move Layer");
}

std::vector<std::unique_ptr<TLayer>> TLayerList::Replace(std::vector<std::unique_ptr<TLayer>> Layers) {
    DoBeforeChange();
    for (int i = Count() - 1; i >= 0; --i)
        if (OnRemove)
            OnRemove(this, i);
    for (int i = 0; i < static_cast<int>(Layers.size()); ++i)
        if (OnAdd)
            OnAdd(this, i);
    FLayers.swap(Layers);
    Changed(std::string());
    return Layers;
}

void TLayerList::Clear() {
    BeginUpdate();
    try {
        while (Count() > 0)
            Delete(0);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TLayerList::EndUpdateCaption(const std::string &Caption) {
    --FUpdateCount;
    if (FUpdateCount <= 0) {
        FUpdateCount = 0;
        if (!Caption.empty())
            FPendingCaption = Caption;
        DoChange();
    }
}

int TLayerList::IndexOf(const TLayer *Layer) const {
    for (int i = 0; i < Count(); ++i)
        if (FLayers[static_cast<std::size_t>(i)].get() == Layer)
            return i;
    return -1;
}

void TLayerList::DoBeforeChange() {
    if (FBeforeChangeFired)
        return;
    FBeforeChangeFired = true;
    if (OnBeforeChange)
        OnBeforeChange(this);
}

void TLayerList::Changed(const std::string &Caption) {
    FChangePending = true;
    FPendingCaption = Caption;
    if (FUpdateCount == 0)
        DoChange();
}

void TLayerList::DoChange() {
    if (!FChangePending) {
        FBeforeChangeFired = false;
        return;
    }
    FChangePending = false;
    FBeforeChangeFired = false;
    const std::string caption = FPendingCaption;
    FPendingCaption.clear();
    if (OnChange)
        OnChange(this, caption);
}
