#include "FracPersistent.h"

#include <algorithm>
#include <exception>

#include "CompEntries.h"
#include "CompPersistent.h"
#include "FracExport.h"
#include "FracFiles.h"
#include "FracFormulaBase.h"
#include "GenSetup.h"
#include "GenUtils.h"

namespace {

std::string OwnerName() {
    if (TConfigManager *config = ConfigManager(); config && config->General)
        return config->General->Owner;
    return std::string();
}

std::string DefaultComments() {
    if (TConfigManager *config = ConfigManager(); config && config->Fractal)
        return config->Fractal->GetDefaultComments();
    return std::string();
}

// A stream that holds data of its own: written, and reading neither an older nor a newer one.
bool OwnsData(const THistoryDataStream &Stream) {
    return Stream.Filled() && !Stream.Predecessor() && !Stream.Successor();
}

void WriteLayerInto(TLayer &Layer, THistoryDataStream &Stream) {
    Stream.SetSize(0);
    Stream.SetPosition(0);
    Layer.WriteCalculation(Stream);
}

} // namespace

TPersistentFractal::TPersistentFractal(TCalculateManager *AManager, THistoryDataManager *AHistoryManager)
    : TFractal(AManager) {
    FHistory = std::make_unique<THistoryList>(HistorySteps, true, AHistoryManager);
    FHistory->OnChange = MakeNotifyEvent<&TPersistentFractal::HistoryChanged>(this);
    FResolution = std::make_unique<TFloatValue>(DefaultResolution);
    FGamma = std::make_unique<TFloatValue>(DefaultGamma);
    for (TFloatValue *value : {FResolution.get(), FGamma.get()}) {
        value->OnChange = MakeNotifyEvent<&TPersistentFractal::InfoValueChanged>(this);
        value->OnValidate = MakeEvent<&TPersistentFractal::ValidateInfoValue>(this);
    }
    TLayerList &layers = GetLayers();
    layers.OnRemove = MakeEvent<&TPersistentFractal::LayerDeleted>(this);
    layers.OnAdd = MakeEvent<&TPersistentFractal::LayerInserted>(this);
    layers.OnMove = MakeEvent<&TPersistentFractal::LayerMoved>(this);
    GetUpdateManager().OnApplyView = MakeNotifyEvent<&TPersistentFractal::StoreRedrawLayerImages>(this);
    // The first step of the history is the initial state recorded here, comments included.
    FComments = DefaultComments();
    ResetInfo(rfResolution | rfGamma);
    // The stream of the "Background" layer, which the base made before there was a history.
    if (FHistory->GetCount() > 0 && FHistory->GetCurrent()->Data->GetCount() == 0)
        FHistory->GetCurrent()->Data->Insert(0);
}

TPersistentFractal::~TPersistentFractal() {
    // No layer event may reach the history while the base frees the layers.
    PauseCalculation();
    TLayerList &layers = GetLayers();
    layers.OnRemove = TLayerIndexEvent();
    layers.OnAdd = TLayerIndexEvent();
    layers.OnMove = TLayerMoveEvent();
    GetUpdateManager().OnApplyView = TNotifyEvent();
    FHistory->OnChange = TNotifyEvent();
    FRestoring = true;
}

// --- Credits and information -------------------------------------------------------------------

std::string TPersistentFractal::GetCreditsText() const {
    std::string text;
    for (const auto &credit : FCredits) {
        if (!text.empty())
            text += ';';
        text += credit->Name + ';' + DateToShortText(credit->Date);
    }
    return text;
}

void TPersistentFractal::SetAuthor(const std::string &Name) {
    if (FCredits.size() != 1) {
        FCredits.clear();
        FCredits.push_back(std::make_unique<TFractalCredit>(Name, Date()));
    } else {
        FCredits[0]->Name = Name;
    }
    Change(ckContinued, std::string());
}

void TPersistentFractal::SetCreated(const std::string &Text) {
    TDateTime date;
    try {
        date = LongTextToDate(Text);
    } catch (const EConvertError &) {
        return;
    }
    if (FCredits.size() == 1) {
        FCredits[0]->Date = date;
    } else {
        FCredits.clear();
        FCredits.push_back(std::make_unique<TFractalCredit>(OwnerName(), date));
    }
    Change(ckContinued, std::string());
}

void TPersistentFractal::SetCreditsText(const std::string &Text) {
    FCredits.clear();
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = Text.find(';', start);
        parts.push_back(Text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].empty() || parts[i + 1].empty())
            continue;
        try {
            FCredits.push_back(std::make_unique<TFractalCredit>(parts[i], ShortTextToDate(parts[i + 1])));
        } catch (const EConvertError &) {
        }
    }
    Change(ckContinued, std::string());
}

void TPersistentFractal::ResetCredits() {
    BeginChange();
    try {
        SetAuthor(OwnerName());
        FCredits[0]->Date = Date();
    } catch (...) {
        EndChange();
        throw;
    }
    EndChange();
}

void TPersistentFractal::ResetInfo(std::uint32_t Flags) {
    BeginChange();
    try {
        if (Flags & rfResolution)
            FResolution->SetText(DefaultResolution);
        if (Flags & rfGamma)
            FGamma->SetText(DefaultGamma);
        if (!FRestoring)
            ResetCredits();
    } catch (...) {
        EndChange();
        throw;
    }
    EndChange();
}

void TPersistentFractal::SetComments(const std::string &Text) {
    if (Text == FComments)
        return;
    FComments = Text;
    Change(ckContinued, std::string());
}

void TPersistentFractal::ResetComments() {
    SetComments(DefaultComments());
}

std::string TPersistentFractal::ExpandCalcTime(const std::string &Line) {
    static const std::string placeholder = "$CALCTIME";
    std::size_t at = 0;
    std::string result = Line;
    std::string time;
    bool timeTaken = false;
    while ((at = UpperCase(result).find(placeholder, at)) != std::string::npos) {
        if (!timeTaken) {
            TFractalTimer &timer = GetTimer();
            if (!IsCalculating() && !HasPausedLayers())
                time = timer.GetElapsedText();
            else
                time = FormatCalculationTime(timer.GetElapsed() + timer.GetRemaining()) + " (estimated)";
            timeTaken = true;
        }
        result.replace(at, placeholder.size(), time);
        at += time.size();
    }
    return result;
}

void TPersistentFractal::InfoValueChanged(TObject *) {
    Change(ckContinued, std::string());
}

void TPersistentFractal::ValidateInfoValue(TObject *Sender, const std::string &Text, bool &Accept) {
    const long double value = StrToFloat(Text);
    if (Sender == FResolution.get())
        Accept = value >= 1 && value <= 10000;
    else
        Accept = value >= 0.1L && value <= 10;
}

// --- Undo history ------------------------------------------------------------------------------

std::string TPersistentFractal::StateText(std::uint32_t Flags) {
    TParWriter writer;
    WriteParameters(writer, Flags);
    return writer.GetText();
}

THistoryDataStream *TPersistentFractal::StepStream(THistoryItem *Step, int Index) const {
    if (!Step || !Step->Data || Index < 0 || Index >= Step->Data->GetCount())
        return nullptr;
    return Step->Data->GetItem(Index);
}

void TPersistentFractal::KeepStepView(THistoryItem &Step) {
    if (!Step.Data)
        return;
    Step.Data->CalculationTime = GetTimer().GetElapsed();
    auto bitmap = std::make_unique<TCanvasBitmap>();
    GetUpdateManager().CopyToBitmap(*bitmap);
    Step.Data->Bitmap = std::move(bitmap);
}

void TPersistentFractal::BeginUndoStep() {
    if (FStepStarted)
        return;
    if (FHistory->GetCount() > 0)
        KeepStepView(*FHistory->GetCurrent());
    FHistory->Add(std::string(), std::string());
    FStepStarted = true;
}

void TPersistentFractal::SecureLayerImage(int Index) {
    if (FHistory->GetCount() == 0)
        return;
    THistoryDataStream *current = StepStream(FHistory->GetCurrent(), Index);
    THistoryDataStream *previous = current ? current->Predecessor() : nullptr;
    if (!previous)
        return;
    TLayer &layer = GetLayers().Items(Index);
    if (layer.GetImageChanged() || !OwnsData(*previous))
        WriteLayerInto(layer, *previous);
}

void TPersistentFractal::StoreLayerImages(bool EditableOnly) {
    if (FRestoring)
        return;
    BeginUndoStep();
    TLayerList &layers = GetLayers();
    for (int i = 0; i < layers.Count(); ++i) {
        TLayer &layer = layers.Items(i);
        if (layer.GetHistoryStored() || (EditableOnly && !layer.GetEditable()))
            continue;
        SecureLayerImage(i);
        layer.SetHistoryStored(true);
    }
}

void TPersistentFractal::StoreRedrawLayerImages(TObject *) {
    // The layers whose pixels the update manager rewrites right after this.
    const bool all = GetUpdateManager().GetForceTransform();
    StoreLayerImages(!all);
    TLayerList &layers = GetLayers();
    for (int i = 0; i < layers.Count(); ++i)
        if (all || layers.Items(i).GetEditable())
            layers.Items(i).SetImageChanged(true);
}

void TPersistentFractal::ClearHistory() {
    FHistory->Clear();
    FStepStarted = IsChanging();
    Change(0, std::string());
}

void TPersistentFractal::Change(std::uint8_t Kind, const std::string &Caption) {
    FModified = true;
    TFractal::Change(Kind, Caption);
}

void TPersistentFractal::Changed(std::uint8_t Kind, const std::string &Caption) {
    TFractal::Changed(Kind, Caption);
    UpdateCredits();
    if (!FRestoring) {
        const std::string text = StateText(UndoWriteFlags);
        if (FHistory->GetCount() == 0 || Kind != ckContinued) {
            BeginUndoStep();
            THistoryItem *step = FHistory->GetCurrent();
            step->Caption = Caption;
            step->State = text;
            FStepStarted = false;
        } else {
            FHistory->DeleteRedoSteps();
            FHistory->GetCurrent()->State = text;
        }
        TLayerList &layers = GetLayers();
        for (int i = 0; i < layers.Count(); ++i)
            layers.Items(i).SetHistoryStored(false);
    }
    if (FHistory->GetCount() > 0)
        FCurrentStep = FHistory->GetCurrent();
}

void TPersistentFractal::UpdateCredits() {
    const std::string text = StateText(CreditWriteFlags);
    if (TrackCredits && !FRestoring) {
        int found = -1;
        for (int i = GetCreditCount() - 1; i >= 0; --i)
            if (SameText(FCredits[static_cast<std::size_t>(i)]->State, text)) {
                found = i;
                break;
            }
        if (found >= 0) {
            // Back at that author's state: the newer credits go.
            FCredits.erase(FCredits.begin(), FCredits.begin() + found);
        } else {
            const std::string owner = OwnerName();
            if (FCredits.empty() || !SameText(FCredits[0]->Name, owner))
                FCredits.insert(FCredits.begin(), std::make_unique<TFractalCredit>(owner, Date()));
            FCredits[0]->Name = owner;
            FCredits[0]->Date = Date();
        }
    }
    if (!FCredits.empty())
        FCredits[0]->State = text;
}

void TPersistentFractal::HistoryChanged(TObject *) {
    BeginWaitCursor();
    FRestoring = true;
    BeginChange();
    // Calculation resumes and the bracket closes also when a step fails; the first error passes on.
    std::exception_ptr failure;
    try {
        PauseCalculation();
        RestoreStep();
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        ResumeCalculation();
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    try {
        EndChange();
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    FRestoring = false;
    FCurrentStep = FHistory->GetCurrent();
    EndWaitCursor();
    if (failure)
        std::rethrow_exception(failure);
}

void TPersistentFractal::RestoreStep() {
    TLayerList &layers = GetLayers();
    // The step being left gets the images as they are now, unless it holds them already.
    if (FCurrentStep) {
        KeepStepView(*FCurrentStep);
        for (int i = 0; i < layers.Count(); ++i) {
            THistoryDataStream *stream = StepStream(FCurrentStep, i);
            if (!stream)
                continue;
            TLayer &layer = layers.Items(i);
            if (layer.GetImageChanged() || !stream->Filled() || stream->Size() == 0)
                WriteLayerInto(layer, *stream);
        }
    }
    THistoryItem *step = FHistory->GetCurrent();
    auto reader = TEntryStream::CreateFromString<TParReader>("State {\r\n" + step->State + "}\r\n");
    ReadParameters(*reader, NormalReadFlags, TFractalProgressEvent());
    for (int i = 0; i < layers.Count(); ++i) {
        THistoryDataStream *stream = StepStream(step, i);
        if (!stream)
            continue;
        // A layer whose image cannot be read keeps what it has (and calculates anew).
        try {
            stream->SetPosition(0);
            layers.Items(i).ReadCalculation(*stream);
        } catch (const Exception &) {
        }
    }
    if (step->Data)
        GetTimer().SetElapsed(step->Data->CalculationTime);
}

// --- Layer list events -------------------------------------------------------------------------

void TPersistentFractal::LayerInserted(TObject *, int Index) {
    if (FRestoring || FHistory->GetCount() == 0)
        return;
    BeginUndoStep();
    THistoryDataList &data = *FHistory->GetCurrent()->Data;
    data.Insert(std::clamp(Index, 0, data.GetCount()));
}

void TPersistentFractal::LayerMoved(TObject *, int From, int To) {
    if (FRestoring || FHistory->GetCount() == 0)
        return;
    BeginUndoStep();
    THistoryDataList &data = *FHistory->GetCurrent()->Data;
    if (From < data.GetCount() && To < data.GetCount())
        data.Move(From, To);
}

void TPersistentFractal::LayerDeleted(TObject *, int Index) {
    if (FRestoring || FHistory->GetCount() == 0)
        return;
    BeginUndoStep();
    GetLayers().Items(Index).StopCalculation();
    SecureLayerImage(Index);
    THistoryDataList &data = *FHistory->GetCurrent()->Data;
    if (Index < data.GetCount())
        data.Delete(Index);
}

// --- Overrides of the document ---------------------------------------------------------------

void TPersistentFractal::SetSize(std::int32_t AWidth, std::int32_t AHeight) {
    StoreLayerImages();
    TFractal::SetSize(AWidth, AHeight);
}

void TPersistentFractal::CalculationStarted(TObject *Sender, bool Continued, bool NewUndoStep) {
    if (FHistory->GetCount() > 0 && !FRestoring && !Continued && NewUndoStep) {
        BeginUndoStep();
        const int index = GetLayers().IndexOf(static_cast<TLayer *>(Sender));
        if (index >= 0) {
            if (!GetLayers().Items(index).GetHistoryStored())
                SecureLayerImage(index);
            // The run replaces the image: the new step holds none until it is left.
            if (THistoryDataStream *stream = StepStream(FHistory->GetCurrent(), index))
                stream->Reset();
        }
    }
    TFractal::CalculationStarted(Sender, Continued, NewUndoStep);
}

void TPersistentFractal::ReadEntryInfo(TParReader &Reader, std::uint32_t Flags) {
    ResetInfo(Flags);
    std::string comments;
    Reader.ReadComments(comments);
    SetComments(comments);
}

void TPersistentFractal::ReadKey(TParReader &Reader, std::uint32_t Flags, const std::string &Key) {
    // A resolution or gamma out of range is ignored: the value keeps what it had.
    auto readInfo = [&](TFloatValue &Value) {
        try {
            Value.SetText(Reader.GetValue());
        } catch (const Exception &) {
        }
    };
    if (Key == "resolution") {
        if (Flags & rfResolution)
            readInfo(*FResolution);
    } else if (Key == "gamma") {
        if (Flags & rfGamma)
            readInfo(*FGamma);
    } else if (Key == "credits") {
        SetCreditsText(Reader.GetValue());
    } else if (Key == "author") {
        SetAuthor(Reader.GetValue());
    } else if (Key == "created") {
        SetCreated(Reader.GetValue());
    }
}

void TPersistentFractal::WriteComments(TParWriter &Writer) {
    if (FComments.empty())
        return;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = FComments.find("\r\n", start);
        Writer.WriteComment(ExpandCalcTime(
            FComments.substr(start, end == std::string::npos ? std::string::npos : end - start)));
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
}

void TPersistentFractal::WriteKeys(TParWriter &Writer, std::uint32_t Flags) {
    if (FResolution->GetValue() != 300)
        Writer.WriteFloatValue("resolution", *FResolution);
    if (FGamma->GetValue() != 2.5L)
        Writer.WriteFloatValue("gamma", *FGamma);
    if (!FCredits.empty() && !(Flags & wfNoCredits))
        Writer.WriteQuoted("credits", GetCreditsText());
    if (Flags & wfClearModified)
        FModified = false;
}

// --- Formula entries ---------------------------------------------------------------------------

void TPersistentFractal::WriteFormulaEntries(TEntryCollection &EntryFile, bool Compress) {
    TLayerList &layers = GetLayers();
    for (int i = 0; i < layers.Count(); ++i) {
        TLayer &layer = layers.Items(i);
        TTransformList &transforms = layer.GetMapping().GetTransformations();
        for (int t = 0; t < transforms.GetCount(); ++t)
            WriteFormulaEntry(EntryFile, transforms.GetItem(t), Compress);
        WriteFormulaEntry(EntryFile, layer.GetFormula(), Compress);
        WriteFormulaEntry(EntryFile, layer.GetInsideColoring(), Compress);
        WriteFormulaEntry(EntryFile, layer.GetOutsideColoring(), Compress);
    }
}

void TPersistentFractal::WriteFormulaEntry(TEntryCollection &EntryFile, TFormulaBase &Formula,
                                           bool Compress) {
    const std::string &fileName = Formula.GetFileName();
    if (fileName.empty() || Formula.GetEntryName().empty())
        return;
    const std::string file = ExtractFileName(fileName);
    if (SameText(ChangeFileExt(file, ""), "Standard"))
        return;
    std::string name = file;
    std::replace(name.begin(), name.end(), ' ', '_');
    name += ":" + Formula.GetEntryName();
    TEntryCollectionLock lock(EntryFile);
    const int index = EntryFile.IndexOfName(name);
    if (index >= 0)
        EntryFile.DeleteEntry(index);
    EntryFile.AppendEntry(Formula.GetSourceText(), name, std::string(), Compress);
}

void TPersistentFractal::LoadFromFile(const std::string &FileName) {
    // The whole file is read and checked first: a file that cannot be used leaves the document,
    // its history included, as it was.
    TFractalReader reader(*this, FileName);
    reader.Prepare();
    if (FHistory->GetCount() > 0 && !FRestoring) {
        BeginUndoStep();
        TLayerList &layers = GetLayers();
        for (int i = 0; i < layers.Count(); ++i) {
            if (!layers.Items(i).GetHistoryStored())
                SecureLayerImage(i);
            if (THistoryDataStream *stream = StepStream(FHistory->GetCurrent(), i))
                stream->Reset();
        }
    }
    reader.Apply();
    SetTitle(ExtractFileTitle(FileName));
    FModified = false;
}

void TPersistentFractal::SaveToFile(const std::string &FileName) {
    TFractalWriter(*this, FileName).Execute();
}

void TPersistentFractal::SaveAs(const std::string &FileName) {
    // A failed write raises before the title and the modified flag change.
    SaveToFile(FileName);
    SetTitle(ExtractFileTitle(FileName));
    FModified = false;
}

void TPersistentFractal::ExportImage(const std::string &FileName, int Format, bool Layers, bool Transparency,
                                     int Quality) {
    TFractalExporter exporter(*this, Layers, Transparency, Quality, Format, FileName);
    exporter.Resolution = static_cast<double>(FResolution->GetValue());
    exporter.Gamma = static_cast<double>(FGamma->GetValue());
    exporter.Comments = FComments;
    if (!FCredits.empty()) {
        exporter.HasCredit = true;
        exporter.Author = FCredits.front()->Name;
        exporter.Date = FCredits.front()->Date;
    }
    exporter.Execute();
}
