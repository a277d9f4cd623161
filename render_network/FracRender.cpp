#include "FracRender.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

#include "FracLayer.h"
#include "GenSetup.h"
#include "GenUtils.h"

#undef DeleteFile

// ---------------------------------------------------------------------------------------------
// Names and layout

std::string RenderDataFileName(const std::string &Folder, std::uint32_t Id, std::uint32_t Strip) {
    return Format("%s%.4x%.4x.odr", Folder, Id & 0xFFFF, Strip & 0xFFFF);
}

void RenderStripLayout(std::int32_t Width, std::int32_t Height, std::int32_t &StripHeight,
                       std::int32_t &StripCount) {
    Width = std::max(Width, 1);
    Height = std::max(Height, 1);
    StripHeight = std::clamp(RenderStripPixels / Width, 1, Height);
    // A very tall image of very wide rows would need more strips than there are strip numbers
    // below the header's: its strips get taller instead.
    const std::int32_t leastHeight = (Height + MaxRenderStripCount - 1) / MaxRenderStripCount;
    StripHeight = std::max(StripHeight, leastHeight);
    StripCount = (Height + StripHeight - 1) / StripHeight;
}

std::string RenderFileNameOf(const std::string &Title) {
    std::string name = MakeValidFileName(Title);
    // The system takes these names for devices whatever extension follows them.
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    base = UpperCase(base);
    static const char *const reserved[] = {
        "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",   "COM8",
        "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9", "CONIN$", "CONOUT$"};
    for (const char *device : reserved)
        if (base == device)
            return name + "_";
    return name;
}

// ---------------------------------------------------------------------------------------------
// Dithering

namespace {

constexpr int DitherMatrix[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
constexpr int DitherLevels = 4096;

struct TDitherTable {
    std::uint8_t Values[4][4][DitherLevels];
};

constexpr TDitherTable BuildDitherTable() {
    TDitherTable table{};
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
            for (int v = 0; v < DitherLevels; ++v) {
                int out = v * 255 / 4095;
                if ((v * 4080 / 4095) % 16 > DitherMatrix[x][y])
                    ++out;
                table.Values[x][y][v] = std::uint8_t(std::min(out, 255));
            }
    return table;
}

// Made by the compiler: no start-up work and nothing that a thread could see half built.
constexpr TDitherTable DitherTable = BuildDitherTable();

int TwelveBits(float Channel) {
    if (!(Channel > 0))
        return 0;
    if (Channel >= 1)
        return DitherLevels - 1;
    return static_cast<int>(std::lround(static_cast<long double>(Channel) * 4095));
}

} // namespace

std::uint8_t RenderDither(std::int32_t X, std::int32_t Y, std::int32_t V) {
    return DitherTable.Values[X & 3][Y & 3][std::clamp(V, 0, DitherLevels - 1)];
}

void DitherFloatRow(const TFloatColor *Row, std::int32_t Count, std::int32_t Y, std::uint8_t *Out) {
    for (std::int32_t x = 0; x < Count; ++x) {
        const std::uint8_t *levels = DitherTable.Values[x & 3][Y & 3];
        Out[4 * x + 0] = levels[TwelveBits(Row[x].Blue)];
        Out[4 * x + 1] = levels[TwelveBits(Row[x].Green)];
        Out[4 * x + 2] = levels[TwelveBits(Row[x].Red)];
        Out[4 * x + 3] = levels[TwelveBits(Row[x].Alpha)];
    }
}

// ---------------------------------------------------------------------------------------------
// Render fractal, timer, steps

TRenderFractal::TRenderFractal(TCalculateManager *AManager) : TCustomFractal(AManager) {
    SetThreadPriority(1);
}

TRenderFractal::~TRenderFractal() = default;

void TRenderFractal::CalculationFinished(TObject *Sender) {
    TCustomFractal::CalculationFinished(Sender);
    if (OnCalculated)
        OnCalculated(Sender);
}

std::int64_t TRenderTimer::GetDonePixels() {
    return FEngine.GetDonePixels();
}

std::int64_t TRenderTimer::GetTotalPixels() {
    return FEngine.GetTotalPixels();
}

namespace {

class TRenderThread : public TGeneralThread {
public:
    explicit TRenderThread(std::function<void()> AStep) : TGeneralThread(true), FStep(std::move(AStep)) {}
    DECLARE_CLASS_NAME(TRenderThread)

protected:
    void DoExecute() override { FStep(); }

private:
    std::function<void()> FStep;
};

// Starts Step on a thread of the lowest priority above idle that frees itself when it ends.
void RunRenderThread(std::function<void()> Step) {
    auto *thread = new TJoinedThread<TRenderThread>(std::move(Step));
    thread->SetPriority(tpLowest);
    thread->SetFreeOnTerminate(true);
    thread->Start();
}

} // namespace

// Counts a step or a layer event for the engine's destructor, which waits for the count to reach
// zero; the count falls as the last thing that touches the engine.
class TRenderStepGuard {
public:
    explicit TRenderStepGuard(TRenderEngine &AEngine) : FEngine(AEngine) {
        TScopeLock<TCriticalSection> lock(FEngine.FActivityLock);
        if (FEngine.FActivity++ == 0)
            FEngine.FIdleEvent->ResetEvent();
    }
    ~TRenderStepGuard() {
        TScopeLock<TCriticalSection> lock(FEngine.FActivityLock);
        if (--FEngine.FActivity == 0)
            FEngine.FIdleEvent->SetEvent();
    }
    TRenderStepGuard(const TRenderStepGuard &) = delete;
    TRenderStepGuard &operator=(const TRenderStepGuard &) = delete;

private:
    TRenderEngine &FEngine;
};

// ---------------------------------------------------------------------------------------------
// TRenderEngine

TRenderEngine::TRenderEngine(TCalculateManager *AManager)
    : AntiAliasing(std::make_unique<TAntiAliasingSettings>()),
      Fractal(std::make_unique<TRenderFractal>(AManager)), Log(std::make_unique<TLogFile>(std::string())),
      StopEvent(std::make_unique<TEvent>(true, false)), Timer(std::make_unique<TRenderTimer>(*this)),
      FIdleEvent(std::make_unique<TEvent>(true, true)) {
    AntiAliasing->Depth = 0;
    AntiAliasing->Enabled = false;
    Log->TimeStamps = true;
    Fractal->OnCalculated = MakeNotifyEvent<&TRenderEngine::LayerCalculated>(this);
}

TRenderEngine::~TRenderEngine() {
    try {
        Stop();
    } catch (...) {
        // A destructor goes on: the job is freed whatever its files say.
    }
    FIdleEvent->WaitForever();
    {
        // The last step has left the count's lock before the engine goes.
        TScopeLock<TCriticalSection> lock(FActivityLock);
    }
    Fractal->OnCalculated = TNotifyEvent();
    Fractal.reset();
}

std::string TRenderEngine::LogFileName() const {
    if (ParameterFileMode)
        return AddTrailingBackslash(Destination) + ChangeFileExt(ExtractFileName(Source), ".log");
    return ChangeFileExt(Destination, ".log");
}

std::vector<std::string> TRenderEngine::ImageEntries(std::unique_ptr<TEntryReader> &Reader) {
    Reader = TEntryReader::CreateFromString(ParameterText, true);
    std::vector<std::string> names;
    for (int i = 0; i < Reader->GetCount(); ++i) {
        const std::string &name = Reader->GetEntry(i)->Name();
        if (name.find(':') == std::string::npos)
            names.push_back(name);
    }
    return names;
}

std::int32_t TRenderEngine::GetEntryCount() {
    TScopeLock<TCriticalSection> lock(Lock);
    if (FEntryCount < 0) {
        try {
            std::unique_ptr<TEntryReader> reader;
            FEntryCount = std::int32_t(ImageEntries(reader).size());
        } catch (const std::exception &) {
            FEntryCount = 0;
        }
    }
    return FEntryCount;
}

TRenderState TRenderEngine::GetState() {
    TScopeLock<TCriticalSection> lock(Lock);
    return State;
}

std::int32_t TRenderEngine::GetEntryIndex() {
    TScopeLock<TCriticalSection> lock(Lock);
    return EntryIndex;
}

TRenderResume TRenderEngine::GetResumeMode() {
    TScopeLock<TCriticalSection> lock(Lock);
    return ResumeMode;
}

std::int32_t TRenderEngine::GetProgress() {
    TScopeLock<TCriticalSection> lock(Lock);
    if (State == TRenderState::Loading)
        return LoadProgress;
    if (State == TRenderState::Saving)
        return SaveProgress;
    return Timer->GetPercentage();
}

std::int64_t TRenderEngine::GetTotalPixels() {
    return std::int64_t(Width + 1) * std::int64_t(Height + 1);
}

std::int32_t TRenderEngine::StripRows() const {
    if (CurrentStrip >= StripCount - 1)
        return Height - (StripCount - 1) * StripHeight;
    return StripHeight;
}

std::int64_t TRenderEngine::GetDonePixels() {
    TScopeLock<TCriticalSection> lock(Lock);
    const std::int64_t total = GetTotalPixels();
    const bool waiting = State == TRenderState::Waiting;
    if (State == TRenderState::Saving || State == TRenderState::Finished ||
        (waiting && ResumeMode == TRenderResume::Saving))
        return total;
    if (State == TRenderState::Loading || (waiting && ResumeMode == TRenderResume::FromScratch))
        return 0;
    if (Height + 1 <= 0 || StripCount <= 0)
        return 0;
    const TLayerList &layers = Fractal->GetLayers();
    const int layerCount = layers.Count();
    if (layerCount == 0)
        return 0;
    const double s = CurrentStrip > 0 ? double(CurrentStrip * StripHeight + 1) / double(Height + 1) : 0;
    double f = 0;
    if (CurrentLayer >= 0 && CurrentLayer < layerCount) {
        const TLayerStatistics &statistics = layers.Items(CurrentLayer).GetStatistics();
        if (statistics.Total() > 0)
            f = double(statistics.Counted()) / double(statistics.Total());
    }
    if (AntiAliasing->Depth > 0) {
        const double w = (AntiAliasing->Threshold > 0 ? 0.75 : 1.0) *
                         std::pow(AntiAliasing->Split3x3 ? 3.0 : 2.0, double(AntiAliasing->Depth));
        f = FAntiAliasingPass ? (w * f + 1) / (1 + w) : f / (1 + w);
    }
    const double g = double(CurrentStrip > 0 ? StripRows() : StripHeight + 1) / double(Height + 1);
    return std::int64_t(double(total) * (s + (CurrentLayer + f) / layerCount * g));
}

std::string TRenderEngine::ImageCaption(const std::string &EntryName) const {
    return ParameterFileMode ? EntryName + " in " + Source : Source;
}

void TRenderEngine::ReadProgress(TObject *, int Percent) {
    TScopeLock<TCriticalSection> lock(Lock);
    LoadProgress = Percent;
}

void TRenderEngine::RunStep(void (TRenderEngine::*Step)()) {
    // Counted here, before the thread exists, so that the destructor cannot miss it.
    auto guard = std::make_shared<TRenderStepGuard>(*this);
    RunRenderThread([this, Step, guard]() mutable {
        (this->*Step)();
        guard.reset();
    });
}

void TRenderEngine::Start() {
    {
        TScopeLock<TCriticalSection> lock(Lock);
        if (State != TRenderState::Waiting || StopRequested)
            return;
        Log->FileName = LogFileName();
        Log->Enabled = GenerateLog;
        if (ResumeMode != TRenderResume::FromScratch) {
            Log->AddEmptyLine();
            Log->AddFormat("Resuming job %s.", Name);
        } else {
            EntryIndex = 0;
            if (GenerateLog)
                Log->Clear();
            Log->AddFormat("Starting job %s.", Name);
        }
        LoadProgress = 0;
        SaveProgress = 0;
        State = TRenderState::Loading;
        StopEvent->ResetEvent();
    }
    RunStep(&TRenderEngine::LoadStep);
}

void TRenderEngine::ComeToRest() {
    State = TRenderState::Waiting;
    StopEvent->SetEvent();
}

void TRenderEngine::Stop() {
    bool wait = false;
    {
        TScopeLock<TCriticalSection> lock(Lock);
        if (StopRequested)
            wait = true;
        else if (State != TRenderState::Waiting && State != TRenderState::Finished) {
            StopRequested = true;
            wait = true;
            const TLayerList &layers = Fractal->GetLayers();
            if (State == TRenderState::Calculating && CurrentLayer >= 0 && CurrentLayer < layers.Count())
                layers.Items(CurrentLayer).StopCalculation();
        }
    }
    if (wait) {
        StopEvent->WaitForever();
        Log->Add("Job interrupted.");
    }
    TScopeLock<TCriticalSection> lock(Lock);
    StopRequested = false;
}

void TRenderEngine::AbandonJob(const char *What, const std::string &Message) {
    try {
        DeleteFiles();
    } catch (...) {
        // The job ends all the same; what remains on disk is unused.
    }
    Log->AddFormat("%s (%s).", std::string(What), Message);
    Finish();
}

void TRenderEngine::Finish() {
    TScopeLock<TCriticalSection> lock(Lock);
    if (StopRequested) {
        ComeToRest();
        return;
    }
    State = TRenderState::Finished;
    ResumeMode = TRenderResume::FromScratch;
    Log->Add("Job finished.");
    if (OnFinished) {
        // The handler may free the job: it runs on a thread of its own that the engine does
        // not count, so the engine's destructor does not wait for the thread that frees it.
        TNotifyEvent handler = OnFinished;
        RunRenderThread([handler, this] { handler(this); });
    }
}

void TRenderEngine::LoadStep() {
    for (;;) {
        std::unique_ptr<TEntryReader> entries;
        std::vector<std::string> names;
        try {
            names = ImageEntries(entries);
        } catch (const std::exception &E) {
            Log->AddFormat("Error loading %s: %s.", Source, std::string(E.what()));
        }
        {
            TScopeLock<TCriticalSection> lock(Lock);
            FEntryCount = std::int32_t(names.size());
        }
        if (EntryIndex >= std::int32_t(names.size())) {
            Finish();
            return;
        }
        const std::string &entryName = names[std::size_t(EntryIndex)];
        FCaption = ImageCaption(entryName);
        bool valid = true;
        Fractal->BeginChange();
        try {
            int index = 0;
            for (int i = 0; i < entries->GetCount(); ++i)
                if (entries->GetEntry(i)->Name() == entryName) {
                    index = i;
                    break;
                }
            auto reader = TCollectionParReader::Create<TRenderParReader>(*entries, index);
            Fractal->ReadParameters(*reader, TCustomFractal::rfTakeSize,
                                    MakeEvent<&TRenderEngine::ReadProgress>(this));
            for (const std::string &warning : reader->CompileErrors())
                Log->Add("Warning: " + warning);
            for (const std::string &warning : reader->MissingParameters())
                Log->Add("Warning: " + warning);
        } catch (const std::exception &E) {
            Log->AddFormat("Error loading %s: %s.", FCaption, std::string(E.what()));
            valid = false;
        }
        TLayerList &layers = Fractal->GetLayers();
        try {
            for (int i = 0; i < layers.Count(); ++i) {
                TLayer &layer = layers.Items(i);
                // The layer stays inside this update for as long as it lives: no change of its
                // size or location starts a calculation that the engine did not ask for.
                layer.BeginUpdate();
                layer.GetImage().SetMode(lmFloatColor);
                layer.SetSize(1, 1);
            }
        } catch (const std::exception &E) {
            if (valid)
                Log->AddFormat("Error loading %s: %s.", FCaption, std::string(E.what()));
            valid = false;
        }
        Fractal->EndChange();

        if (valid) {
            const bool emptyPortion = Portion.Left >= Portion.Right || Portion.Top >= Portion.Bottom;
            if (Fractal->GetWidth() < 1 || Fractal->GetHeight() < 1 || RequestedWidth <= 0 ||
                RequestedHeight <= 0 || emptyPortion || layers.Count() == 0) {
                Log->AddFormat("Error loading %s.", FCaption);
                valid = false;
            } else if (ParameterFileMode && !Fractal->CanRender()) {
                Log->AddFormat("Skipping %s: One or more formulas used by this fractal are not "
                               "compatible with rendering to disk.",
                               FCaption);
                valid = false;
            }
        }
        if (!valid) {
            TScopeLock<TCriticalSection> lock(Lock);
            ++EntryIndex;
            continue;
        }

        {
            TScopeLock<TCriticalSection> lock(Lock);
            VirtualWidth = RequestedWidth;
            VirtualHeight = RequestedHeight;
            WorkingPortion = Portion;
            if (KeepAspectRatio) {
                const long double aspect = (long double)Fractal->GetWidth() / Fractal->GetHeight();
                if ((long double)RequestedWidth / RequestedHeight <= aspect) {
                    VirtualHeight = std::int32_t(std::lround(RequestedWidth / aspect));
                    WorkingPortion.Bottom = std::max(WorkingPortion.Top + 1,
                                                     WorkingPortion.Bottom + VirtualHeight - RequestedHeight);
                } else {
                    VirtualWidth = std::int32_t(std::lround(RequestedHeight * aspect));
                    WorkingPortion.Right = std::max(WorkingPortion.Left + 1,
                                                    WorkingPortion.Right + VirtualWidth - RequestedWidth);
                }
            }
            Width = WorkingPortion.Right - WorkingPortion.Left;
            Height = WorkingPortion.Bottom - WorkingPortion.Top;
            RenderStripLayout(Width, Height, StripHeight, StripCount);
        }
        try {
            WriteHeader();
        } catch (const std::exception &E) {
            AbandonJob("Error saving header file", E.what());
            return;
        }
        {
            TScopeLock<TCriticalSection> lock(Lock);
            if (ResumeMode == TRenderResume::Saving) {
                State = TRenderState::Saving;
            } else {
                if (StopRequested) {
                    ComeToRest();
                    return;
                }
                State = TRenderState::Calculating;
                if (ResumeMode == TRenderResume::FromScratch) {
                    CurrentStrip = 0;
                    CurrentLayer = 0;
                    FAntiAliasingPass = false;
                    Timer->Start();
                } else
                    Timer->Resume();
                Log->AddFormat("Calculating %s.", FCaption);
                try {
                    StartStrip();
                } catch (const std::exception &E) {
                    AbandonJob("Error saving block", E.what());
                }
                return;
            }
        }
        SaveStep();
        return;
    }
}

void TRenderEngine::StartStrip() {
    TLayerList &layers = Fractal->GetLayers();
    const std::int32_t rows = StripRows();
    const bool resuming = ResumeMode == TRenderResume::InStrip;
    const bool later = CurrentStrip > 0;
    FKeptRows.resize(std::size_t(layers.Count()));
    for (int i = 0; i < layers.Count(); ++i) {
        TLayer &layer = layers.Items(i);
        TLayerImage &image = layer.GetImage();
        std::vector<std::uint8_t> &kept = FKeptRows[std::size_t(i)];
        if (later && !resuming) {
            // Adjacent strips share their boundary row: the previous strip's last sample row is
            // this strip's row 0, calculated once.
            kept.assign(image.PixelPtr(0, image.Height() - 1),
                        image.PixelPtr(0, image.Height() - 1) + std::size_t(Width + 1) * 16);
        }
        layer.SetSize(Width + 1, rows + 1);
        // A stale anti-aliasing buffer (a same-size strip before) goes; resuming reads its own.
        if (!resuming)
            image.ApplyAntiAliasBuffer();
        if (later && !resuming && kept.size() == std::size_t(Width + 1) * 16) {
            TScopeLock<TLayerImage> lock(image);
            std::memcpy(image.PixelPtr(0, 0), kept.data(), kept.size());
        }
        layer.SetCalculationRect(TLayerRect{0, later ? 1 : 0, Width + 1, rows + 1});
        TMapping &mapping = layer.GetMapping();
        mapping.BeginUpdate();
        mapping.SetWidth(VirtualWidth);
        mapping.SetHeight(VirtualHeight);
        mapping.EndUpdate();
        mapping.SetOrigin(WorkingPortion.Left, CurrentStrip * StripHeight + WorkingPortion.Top);
        layer.AntiAliasing().Assign(*AntiAliasing);
        layer.AntiAliasing().Enabled = false;
        layer.SetClearFlag(true);
    }
    if (resuming) {
        if (!ReadStripData()) {
            for (int i = 0; i < layers.Count(); ++i)
                layers.Items(i).GetImage().ApplyAntiAliasBuffer();
            // The strip starts over. Its row 0 is the boundary row the strip before kept: the same
            // samples as in one go (calculated again, a guessing method could fill them otherwise).
            const bool kept = later && ReadBoundaryRows();
            for (int i = 0; i < layers.Count(); ++i)
                layers.Items(i).SetCalculationRect(TLayerRect{0, kept ? 1 : 0, Width + 1, rows + 1});
        }
    } else {
        FAntiAliasingPass = false;
        CurrentLayer = 0;
    }
    StartLayer();
}

void TRenderEngine::StartLayer() {
    ResumeMode = TRenderResume::FromScratch;
    TLayer &layer = Fractal->GetLayers().Items(CurrentLayer);
    layer.AntiAliasing().Enabled = FAntiAliasingPass;
    if (FAntiAliasingPass) {
        layer.GetImage().CreateAntiAliasBuffer();
        layer.SetCalculationRect(TLayerRect{0, 0, Width, StripRows()});
        // The pass reads the plain samples: they must not be cleared at its start.
        layer.SetClearFlag(false);
    }
    layer.StartCalculation();
}

void TRenderEngine::LayerCalculated(TObject *Sender) {
    TRenderStepGuard guard(*this);
    bool save = false;
    {
        TScopeLock<TCriticalSection> lock(Lock);
        TLayerList &layers = Fractal->GetLayers();
        if (State != TRenderState::Calculating || CurrentLayer < 0 || CurrentLayer >= layers.Count() ||
            Sender != &layers.Items(CurrentLayer))
            return;
        try {
            TLayer &layer = layers.Items(CurrentLayer);
            const bool stop = StopRequested;
            if (FAntiAliasingPass && !stop)
                layer.GetImage().ApplyAntiAliasBuffer();
            const bool lastLayer = CurrentLayer == layers.Count() - 1;
            const bool stripDone = lastLayer && (FAntiAliasingPass || AntiAliasing->Depth == 0);
            if (stripDone || stop) {
                if (stop)
                    ResumeMode = TRenderResume::InStrip;
                WriteStripData();
                if (OnStripWritten)
                    OnStripWritten(this);
            }
            if (stop) {
                Timer->Stop();
                ComeToRest();
                return;
            }
            if (AntiAliasing->Depth > 0 && !FAntiAliasingPass) {
                FAntiAliasingPass = true;
                StartLayer();
                return;
            }
            FAntiAliasingPass = false;
            if (!lastLayer) {
                ++CurrentLayer;
                StartLayer();
                return;
            }
            if (CurrentStrip + 1 < StripCount) {
                ++CurrentStrip;
                StartStrip();
                return;
            }
            State = TRenderState::Saving;
            save = true;
        } catch (const std::exception &E) {
            AbandonJob("Error saving block", E.what());
            return;
        }
    }
    if (save) {
        Timer->Stop();
        RunStep(&TRenderEngine::SaveStep);
    }
}

void TRenderEngine::SaveStep() {
    try {
        SaveImage();
    } catch (const std::exception &E) {
        Log->AddFormat("Error saving image (%s).", std::string(E.what()));
    }
    {
        TScopeLock<TCriticalSection> lock(Lock);
        if (StopRequested) {
            ResumeMode = TRenderResume::Saving;
            ComeToRest();
            return;
        }
        try {
            DeleteFiles();
        } catch (...) {
            // Files that cannot be deleted stay; the next image writes its own.
        }
        ++EntryIndex;
        State = TRenderState::Loading;
        ResumeMode = TRenderResume::FromScratch;
        LoadProgress = 0;
        SaveProgress = 0;
    }
    LoadStep();
}

// ---------------------------------------------------------------------------------------------
// TRenderJob

namespace {

constexpr char HeaderMagic[4] = {'O', 'B', 'R', 'J'};
constexpr char StripMagic[4] = {'O', 'B', 'R', 'B'};
constexpr char BundleMagic[4] = {'O', 'B', 'B', 'J'};
// Longest text a header may carry (job texts are parameter entries, not images).
constexpr std::int64_t MaxHeaderText = 64 * 1024 * 1024;

std::string DefaultSystemFolder() {
    if (ConfigManager() && ConfigManager()->Folder)
        return AddTrailingBackslash(ConfigManager()->Folder->System);
    return std::string();
}

bool ReadMagic(TStream &Stream, const char (&Magic)[4]) {
    char bytes[4];
    return Stream.Read(bytes, 4) == 4 && std::memcmp(bytes, Magic, 4) == 0;
}

std::unique_ptr<TFileStream> OpenForReading(const std::string &FileName) {
    if (!FileExists(FileName))
        return nullptr;
    try {
        return std::make_unique<TFileStream>(FileName, fmOpenRead | fmShareDenyNone);
    } catch (const std::exception &) {
        return nullptr;
    }
}

// The 28-byte header of a strip file; false when it is not complete and consistent.
struct TStripHeader {
    std::uint32_t Size = 0;
    std::int32_t Layer = 0;
    std::uint32_t Kind = 0;
    double Time = 0;
};

bool ReadStripHeader(TStream &Stream, TStripHeader &Header) {
    const std::int64_t size = Stream.Size();
    if (size < RenderStripHeaderSize)
        return false;
    Stream.SetPosition(0);
    if (!ReadMagic(Stream, StripMagic) || Stream.ReadUInt32() != RenderStripVersion)
        return false;
    Header.Size = Stream.ReadUInt32();
    Header.Layer = Stream.ReadInt32();
    Header.Kind = Stream.ReadUInt32();
    Header.Time = Stream.ReadFloat64();
    return std::int64_t(Header.Size) == size;
}

} // namespace

TRenderJob::TRenderJob(TCalculateManager *AManager, const std::string &AFolder)
    : TRenderEngine(AManager),
      FFolder(AFolder.empty() ? DefaultSystemFolder() : AddTrailingBackslash(AFolder)) {}

TRenderJob::~TRenderJob() {
    try {
        Stop();
    } catch (...) {
        // As the engine's destructor.
    }
}

void TRenderJob::DeleteFiles() {
    DeleteFile(FileNameOf(RenderHeaderIndex));
    for (std::int32_t i = 0; i < StripCount; ++i)
        DeleteFile(FileNameOf(std::uint32_t(i)));
}

void TRenderJob::WriteHeader() {
    TSafeFileStream s(FileNameOf(RenderHeaderIndex), fmCreate);
    s.WriteBuffer(HeaderMagic, 4);
    s.WriteUInt32(RenderHeaderVersion);
    s.WriteInt32(EntryIndex);
    s.WriteInt32(Width);
    s.WriteInt32(Height);
    s.WriteInt32(StripHeight);
    s.WriteInt32(StripCount);
    s.WriteInt32(AntiAliasing->Depth);
    s.WriteUInt8(AntiAliasing->Split3x3 ? 1 : 0);
    s.WriteFloat64(AntiAliasing->Threshold);
    s.WriteUInt32(std::uint32_t(Name.size()));
    s.WriteUInt32(std::uint32_t(Destination.size()));
    s.WriteUInt8(Format);
    s.WriteInt32(RequestedHeight);
    s.WriteUInt8(GenerateLog ? 1 : 0);
    s.WriteUInt8(ParameterFileMode ? 1 : 0);
    s.WriteUInt8(OpenWhenFinished ? 1 : 0);
    s.WriteUInt8(KeepAspectRatio ? 1 : 0);
    s.WriteUInt32(std::uint32_t(ParameterText.size()));
    s.WriteFloat64(Resolution);
    s.WriteUInt8(ExportLayers ? 1 : 0);
    s.WriteInt32(Quality);
    s.WriteUInt8(Transparency ? 1 : 0);
    s.WriteUInt32(std::uint32_t(Source.size()));
    s.WriteInt32(RequestedWidth);
    s.WriteInt32(Portion.Left);
    s.WriteInt32(Portion.Top);
    s.WriteInt32(Portion.Right);
    s.WriteInt32(Portion.Bottom);
    s.WriteString(Name);
    s.WriteString(Destination);
    s.WriteString(ParameterText);
    s.WriteString(Source);
    s.Commit();
}

void TRenderJob::ReadHeader() {
    const std::string fileName = FileNameOf(RenderHeaderIndex);
    std::unique_ptr<TFileStream> stream = OpenForReading(fileName);
    if (!stream)
        throw ERenderError("Could not open '%s'", fileName);
    TStream &s = *stream;
    if (s.Size() < RenderHeaderFixedSize || !ReadMagic(s, HeaderMagic) ||
        s.ReadUInt32() != RenderHeaderVersion)
        throw ERenderError("'%s' is not a render job of this version", fileName);
    const std::int32_t entryIndex = s.ReadInt32();
    const std::int32_t width = s.ReadInt32();
    const std::int32_t height = s.ReadInt32();
    const std::int32_t stripHeight = s.ReadInt32();
    const std::int32_t stripCount = s.ReadInt32();
    const std::int32_t depth = s.ReadInt32();
    const bool split = s.ReadUInt8() != 0;
    const double threshold = s.ReadFloat64();
    const std::uint32_t nameLength = s.ReadUInt32();
    const std::uint32_t destinationLength = s.ReadUInt32();
    const std::uint8_t format = s.ReadUInt8();
    const std::int32_t requestedHeight = s.ReadInt32();
    const bool generateLog = s.ReadUInt8() != 0;
    const bool parameterFile = s.ReadUInt8() != 0;
    const bool openFinished = s.ReadUInt8() != 0;
    const bool keepAspect = s.ReadUInt8() != 0;
    const std::uint32_t textLength = s.ReadUInt32();
    const double resolution = s.ReadFloat64();
    const bool exportLayers = s.ReadUInt8() != 0;
    const std::int32_t quality = s.ReadInt32();
    const bool transparency = s.ReadUInt8() != 0;
    const std::uint32_t sourceLength = s.ReadUInt32();
    const std::int32_t requestedWidth = s.ReadInt32();
    TRenderRect portion;
    portion.Left = s.ReadInt32();
    portion.Top = s.ReadInt32();
    portion.Right = s.ReadInt32();
    portion.Bottom = s.ReadInt32();
    // Each length is checked against what the file holds (and a cap) before anything is made.
    const std::string name = s.ReadString(nameLength, MaxHeaderText);
    const std::string destination = s.ReadString(destinationLength, MaxHeaderText);
    const std::string text = s.ReadString(textLength, MaxHeaderText);
    const std::string source = s.ReadString(sourceLength, MaxHeaderText);
    if (stripCount < 0 || stripCount > MaxRenderStripCount || stripHeight < 0 || width < 0 || height < 0 ||
        format >= ExportFormatCount || depth < 0 || depth > 4 || entryIndex < 0)
        throw ERenderError("'%s' is not a render job of this version", fileName);

    TScopeLock<TCriticalSection> lock(Lock);
    EntryIndex = entryIndex;
    Width = width;
    Height = height;
    StripHeight = stripHeight;
    StripCount = stripCount;
    AntiAliasing->Depth = depth;
    AntiAliasing->Split3x3 = split;
    AntiAliasing->Threshold = threshold;
    Format = format;
    RequestedHeight = requestedHeight;
    GenerateLog = generateLog;
    ParameterFileMode = parameterFile;
    OpenWhenFinished = openFinished;
    KeepAspectRatio = keepAspect;
    Resolution = resolution;
    ExportLayers = exportLayers;
    Quality = quality;
    Transparency = transparency;
    RequestedWidth = requestedWidth;
    Portion = portion;
    Name = name;
    Destination = destination;
    ParameterText = text;
    Source = source;
}

void TRenderJob::LoadFromFiles(std::uint32_t AId) {
    Id = AId;
    ReadHeader();
    TScopeLock<TCriticalSection> lock(Lock);
    CurrentStrip = 0;
    double time = 0;
    while (CurrentStrip < StripCount) {
        std::unique_ptr<TFileStream> stream = OpenForReading(FileNameOf(std::uint32_t(CurrentStrip)));
        if (!stream)
            break;
        TStripHeader header;
        try {
            if (!ReadStripHeader(*stream, header))
                break;
        } catch (const std::exception &) {
            break;
        }
        time = header.Time;
        if (header.Kind != std::uint32_t(TRenderStripKind::Finished))
            break;
        ++CurrentStrip;
    }
    if (StripCount == 0)
        ResumeMode = TRenderResume::FromScratch;
    else if (CurrentStrip < StripCount)
        ResumeMode = TRenderResume::InStrip;
    else
        ResumeMode = TRenderResume::Saving;
    Timer->SetElapsed(time);
}

void TRenderJob::SetId(std::uint32_t AId) {
    Id = AId;
    WriteHeader();
}

void TRenderJob::WriteStripData() {
    TSafeFileStream s(FileNameOf(std::uint32_t(CurrentStrip)), fmCreate);
    const bool interrupted = StopRequested;
    const TRenderStripKind kind = !interrupted        ? TRenderStripKind::Finished
                                  : FAntiAliasingPass ? TRenderStripKind::AntiAliasingPass
                                                      : TRenderStripKind::PlainPass;
    s.WriteBuffer(StripMagic, 4);
    s.WriteUInt32(RenderStripVersion);
    s.WriteUInt32(0);
    s.WriteInt32(CurrentLayer);
    s.WriteUInt32(std::uint32_t(kind));
    s.WriteFloat64(Timer->GetElapsed());
    TLayerList &layers = Fractal->GetLayers();
    if (kind == TRenderStripKind::Finished) {
        const std::int32_t rows = StripRows();
        const int bytesPerPixel = Transparency ? 4 : 3;
        std::vector<std::uint8_t> out(std::size_t(Width) * 4 + 16);
        if (!FMergeEngine)
            FMergeEngine = std::make_unique<TRenderMergeEngine>(&layers);
        FMergeEngine->SetSize(Width, rows);
        for (std::int32_t r = 0; r < rows; ++r) {
            void *row = nullptr;
            FMergeEngine->MergeRow(0, r, Width, row, Transparency ? mbNone : mbWhite, 0);
            const std::int32_t y = r + CurrentStrip * StripHeight;
            DitherFloatRow(static_cast<const TFloatColor *>(row), Width, y, out.data());
            if (bytesPerPixel == 3)
                for (std::int32_t x = 0; x < Width; ++x)
                    std::memmove(&out[std::size_t(x) * 3], &out[std::size_t(x) * 4], 3);
            s.WriteBuffer(out.data(), Width * bytesPerPixel);
        }
        if (ExportLayers) {
            std::vector<bool> isMask;
            for (int i = 0; i < layers.Count(); ++i)
                isMask.push_back(layers.Items(i).GetMask());
            std::vector<TFloatColor> row(static_cast<std::size_t>(Width));
            std::vector<TFloatColor> mask(static_cast<std::size_t>(Width));
            for (const TExportLayerGroup &group : GroupExportLayers(isMask)) {
                TLayer &layer = layers.Items(group.Layer);
                for (std::int32_t r = 0; r < rows; ++r) {
                    {
                        TScopeLock<TLayerImage> lock(layer.GetImage());
                        std::memcpy(row.data(), layer.GetImage().PixelPtr(0, r), std::size_t(Width) * 16);
                    }
                    if (!layer.GetTransparent())
                        for (TFloatColor &c : row)
                            c.Alpha = 1;
                    for (std::int32_t m : group.Masks) {
                        TLayer &maskLayer = layers.Items(m);
                        if (!maskLayer.GetTransparent())
                            continue;
                        {
                            TScopeLock<TLayerImage> lock(maskLayer.GetImage());
                            std::memcpy(mask.data(), maskLayer.GetImage().PixelPtr(0, r),
                                        std::size_t(Width) * 16);
                        }
                        for (std::int32_t x = 0; x < Width; ++x)
                            row[std::size_t(x)].Alpha *= mask[std::size_t(x)].Alpha;
                    }
                    DitherFloatRow(row.data(), Width, r + CurrentStrip * StripHeight, out.data());
                    s.WriteBuffer(out.data(), Width * 4);
                }
            }
        }
        // Each layer's last sample row, the next strip's row 0: a strip that starts over after the
        // program ended without a word takes it from here.
        for (int i = 0; i < layers.Count(); ++i) {
            TLayerImage &image = layers.Items(i).GetImage();
            TScopeLock<TLayerImage> lock(image);
            s.WriteBuffer(image.PixelPtr(0, image.Height() - 1), (Width + 1) * 16);
        }
    } else {
        for (int i = 0; i < layers.Count(); ++i)
            layers.Items(i).WriteCalculation(s);
    }
    const std::int64_t size = s.Position();
    if (size > 0xFFFFFFFFll)
        throw ERenderError("The strip is too large to be saved");
    s.SetPosition(8);
    s.WriteUInt32(std::uint32_t(size));
    s.Commit();
}

bool TRenderJob::ReadStripData() {
    CurrentLayer = 0;
    FAntiAliasingPass = false;
    std::unique_ptr<TFileStream> stream = OpenForReading(FileNameOf(std::uint32_t(CurrentStrip)));
    if (!stream)
        return false;
    TLayerList &layers = Fractal->GetLayers();
    try {
        TStripHeader header;
        if (!ReadStripHeader(*stream, header) || header.Kind == std::uint32_t(TRenderStripKind::Finished) ||
            header.Kind > std::uint32_t(TRenderStripKind::AntiAliasingPass) || header.Layer < 0 ||
            header.Layer >= layers.Count())
            return false;
        const bool pass = header.Kind == std::uint32_t(TRenderStripKind::AntiAliasingPass);
        for (int i = 0; i < layers.Count(); ++i) {
            TLayer &layer = layers.Items(i);
            if (i == header.Layer && pass)
                layer.GetImage().CreateAntiAliasBuffer();
            layer.ReadCalculation(*stream);
        }
        CurrentLayer = header.Layer;
        FAntiAliasingPass = pass;
        return true;
    } catch (const std::exception &) {
        CurrentLayer = 0;
        FAntiAliasingPass = false;
        return false;
    }
}

bool TRenderJob::ReadBoundaryRows() {
    std::unique_ptr<TFileStream> stream = OpenForReading(FileNameOf(std::uint32_t(CurrentStrip - 1)));
    if (!stream)
        return false;
    TLayerList &layers = Fractal->GetLayers();
    try {
        TStripHeader header;
        const std::int64_t rowBytes = std::int64_t(Width + 1) * 16;
        const std::int64_t bytes = rowBytes * layers.Count();
        if (!ReadStripHeader(*stream, header) || header.Kind != std::uint32_t(TRenderStripKind::Finished) ||
            std::int64_t(header.Size) - RenderStripHeaderSize < bytes)
            return false;
        std::vector<std::uint8_t> rows(static_cast<std::size_t>(bytes));
        stream->SetPosition(std::int64_t(header.Size) - bytes);
        stream->ReadBuffer(rows.data(), std::int32_t(bytes));
        for (int i = 0; i < layers.Count(); ++i) {
            TLayerImage &image = layers.Items(i).GetImage();
            TScopeLock<TLayerImage> lock(image);
            std::memcpy(image.PixelPtr(0, 0), &rows[std::size_t(i * rowBytes)], std::size_t(rowBytes));
        }
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

std::int32_t TRenderJob::RowsOfStrip(std::int32_t Strip) const {
    if (Strip >= StripCount - 1)
        return Height - (StripCount - 1) * StripHeight;
    return StripHeight;
}

std::string TRenderJob::ImageFileName() const {
    if (!DirectoryExists(Destination))
        return Destination;
    std::string name = RenderFileNameOf(Fractal->GetTitle());
    if (Trim(name).empty())
        name = ::Format("Image%.3d", EntryIndex);
    return AddTrailingBackslash(Destination) + name + ExportFileExtensions[2 * (Format % ExportFormatCount)];
}

void TRenderJob::OpenImage(const std::string &FileName) {
    if (FileExists(FileName))
        ShellExecuteA(nullptr, nullptr, FileName.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void TRenderJob::CheckStop() {
    if (StopRequested)
        Abort();
}

void TRenderJob::ReadStripBytes(std::int32_t Y, std::int64_t Offset, std::uint8_t *Buffer,
                                std::int32_t Count) {
    const std::int32_t strip = StripHeight > 0 ? Y / StripHeight : 0;
    if (strip != FOpenStrip || !FStripStream) {
        FStripStream.reset();
        FOpenStrip = -1;
        const std::string fileName = FileNameOf(std::uint32_t(strip));
        FStripStream = std::make_unique<TFileStream>(fileName, fmOpenRead | fmShareDenyNone);
        FOpenStrip = strip;
    }
    FStripStream->SetPosition(Offset);
    FStripStream->ReadBuffer(Buffer, Count);
}

void TRenderJob::GetMergedRow(std::int32_t Y, std::uint8_t *Row, bool WithAlpha) {
    CheckStop();
    const int bytesPerPixel = Transparency ? 4 : 3;
    const std::int64_t offset = RenderStripHeaderSize + std::int64_t(Y % StripHeight) * Width * bytesPerPixel;
    std::vector<std::uint8_t> stored(std::size_t(Width) * bytesPerPixel);
    ReadStripBytes(Y, offset, stored.data(), std::int32_t(stored.size()));
    const int outBytes = WithAlpha ? 4 : 3;
    for (std::int32_t x = 0; x < Width; ++x) {
        std::memcpy(Row + std::size_t(x) * outBytes, &stored[std::size_t(x) * bytesPerPixel], 3);
        if (WithAlpha)
            Row[std::size_t(x) * 4 + 3] = bytesPerPixel == 4 ? stored[std::size_t(x) * 4 + 3] : 255;
    }
    {
        TScopeLock<TCriticalSection> lock(Lock);
        SaveProgress = std::int32_t(std::lround(100 * FImage->Progress));
    }
}

void TRenderJob::GetLayerInfo(std::int32_t ExportLayer, TExportLayerInfo &Info) {
    CheckStop();
    GetExportLayerInfo(Fractal->GetLayers(), FGroups.at(std::size_t(ExportLayer)), Info);
}

void TRenderJob::GetLayerRow(std::int32_t ExportLayer, std::int32_t Y, std::uint8_t *Row) {
    CheckStop();
    const int bytesPerPixel = Transparency ? 4 : 3;
    const std::int32_t rows = RowsOfStrip(Y / StripHeight);
    const std::int64_t offset = RenderStripHeaderSize + std::int64_t(rows) * Width * bytesPerPixel +
                                std::int64_t(ExportLayer) * rows * Width * 4 +
                                std::int64_t(Y % StripHeight) * Width * 4;
    ReadStripBytes(Y, offset, Row, Width * 4);
}

void TRenderJob::SaveImage() {
    const std::string fileName = ImageFileName();
    Log->AddFormat("Saving image to %s.", fileName);
    std::unique_ptr<TExportImage> image = CreateExportImage(fileName, Format);
    const TLayerList &layers = Fractal->GetLayers();
    std::vector<bool> isMask;
    for (int i = 0; i < layers.Count(); ++i)
        isMask.push_back(layers.Items(i).GetMask());
    FGroups = GroupExportLayers(isMask);
    TExportImageInfo info;
    info.Width = Width;
    info.Height = Height;
    info.LayerCount = std::int32_t(FGroups.size());
    info.Resolution = Resolution;
    info.Gamma = 2.5;
    info.Title = Fractal->GetTitle();
    if (ConfigManager() && ConfigManager()->General)
        info.Author = ConfigManager()->General->Owner;
    info.Date = Date();
    info.Quality = Quality;
    info.Transparency = Transparency;
    info.Layers = ExportLayers;
    image->OnGetRow = [this](std::int32_t Y, std::uint8_t *Row, bool WithAlpha) {
        GetMergedRow(Y, Row, WithAlpha);
    };
    image->OnGetLayerInfo = [this](std::int32_t I, TExportLayerInfo &Info) { GetLayerInfo(I, Info); };
    image->OnGetLayerRow = [this](std::int32_t I, std::int32_t Y, std::uint8_t *Row) {
        GetLayerRow(I, Y, Row);
    };
    FImage = image.get();
    try {
        image->Execute(info);
    } catch (...) {
        FImage = nullptr;
        FStripStream.reset();
        FOpenStrip = -1;
        throw;
    }
    FImage = nullptr;
    FStripStream.reset();
    FOpenStrip = -1;
    const bool stopped = StopRequested;
    // Freeing the writer puts the finished file in place of the target.
    image.reset();
    if (!ParameterFileMode && OpenWhenFinished && !stopped)
        OpenImage(fileName);
}

// ---------------------------------------------------------------------------------------------
// Bundles

void WriteRenderBundle(const TRenderJob &Job, const std::string &FileName) {
    std::vector<std::string> files{Job.FileNameOf(RenderHeaderIndex)};
    for (std::uint32_t i = 0; i < std::uint32_t(MaxRenderStripCount) && FileExists(Job.FileNameOf(i)); ++i)
        files.push_back(Job.FileNameOf(i));
    TSafeFileStream s(FileName, fmCreate);
    s.WriteBuffer(BundleMagic, 4);
    s.WriteUInt32(RenderBundleVersion);
    s.WriteUInt32(std::uint32_t(files.size()));
    for (const std::string &name : files) {
        TFileStream file(name, fmOpenRead | fmShareDenyNone);
        const std::int64_t size = file.Size();
        if (size > 0xFFFFFFFFll)
            throw ERenderError("'%s' is too large for a backup", name);
        s.WriteUInt32(std::uint32_t(size));
        if (size > 0)
            s.CopyFrom(file, size);
    }
    s.Commit();
}

void ReadRenderBundle(const std::string &FileName, const std::string &Folder, std::uint32_t Id) {
    const std::string folder = AddTrailingBackslash(Folder);
    auto fail = [] { throw ERenderError("Could not read backup job"); };
    std::unique_ptr<TFileStream> stream = OpenForReading(FileName);
    if (!stream)
        fail();
    TStream &s = *stream;
    const std::int64_t size = s.Size();
    std::uint32_t count = 0;
    if (size < RenderBundleHeaderSize || !ReadMagic(s, BundleMagic) || s.ReadUInt32() != RenderBundleVersion)
        fail();
    count = s.ReadUInt32();
    if (count < 1 || count > MaxRenderBundleFiles)
        fail();
    // Every length is checked against the file before a single job file is written.
    std::int64_t position = RenderBundleHeaderSize;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (size - position < 4)
            fail();
        s.SetPosition(position);
        const std::uint32_t length = s.ReadUInt32();
        position += 4;
        if (std::int64_t(length) > size - position)
            fail();
        position += length;
    }
    std::vector<std::string> written;
    try {
        s.SetPosition(RenderBundleHeaderSize);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t length = s.ReadUInt32();
            const std::string name = RenderDataFileName(folder, Id, i == 0 ? RenderHeaderIndex : i - 1);
            TSafeFileStream file(name, fmCreate);
            if (length > 0)
                file.CopyFrom(s, length);
            file.Commit();
            written.push_back(name);
        }
    } catch (const std::exception &) {
        for (const std::string &name : written)
            DeleteFile(name);
        fail();
    }
}
