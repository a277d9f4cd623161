#include "NetEngine.h"

#include <algorithm>

#include "CompEntries.h"
#include "CompFileManager.h"
#include "CompPersistent.h"
#include "FracAntiAlias.h"
#include "FracColoring.h"
#include "FracFormula.h"
#include "FracGradient.h"
#include "FracInterpolator.h"
#include "FracLayerEngine.h"
#include "FracMapping.h"
#include "FracMethods.h"
#include "FracTimer.h"
#include "FracTransform.h"
#include "NetGeneral.h"

namespace {

// A parameter reader whose formula references name the virtual files that stand for the
// client's files in the engine's account.
class TServerParReader : public TParReader {
public:
    TServerParReader(TEntryCollection &Collection, int Index, TVirtualAccount &Account)
        : TParReader(Collection, Index), FAccount(Account) {}
    void TranslateFileName(std::string &FileName, std::string &) override {
        FileName = FAccount.GetFile(FileName)->VirtualName();
    }

private:
    TVirtualAccount &FAccount;
};

// Frees a virtual account also when reading failed.
class TAccountHolder {
public:
    TAccountHolder() : FAccount(FileManager()->CreateAccount()) {}
    ~TAccountHolder() { FileManager()->FreeAccount(FAccount); }
    TAccountHolder(const TAccountHolder &) = delete;
    TAccountHolder &operator=(const TAccountHolder &) = delete;
    TVirtualAccount &operator*() const { return *FAccount; }

private:
    TVirtualAccount *FAccount;
};

TThreadPriority PriorityOf(std::uint8_t Value) {
    switch (Value) {
    case 0:
        return tpIdle;
    case 1:
        return tpLowest;
    case 3:
        return tpNormal;
    default:
        return tpLower;
    }
}

std::int64_t RectArea(const TLayerRect &R) {
    return std::int64_t(R.Right - R.Left) * (R.Bottom - R.Top);
}

} // namespace

// The timer's pixels are the counters of the engine's statistics.
class TServerTimer : public TCalculationTimer {
public:
    explicit TServerTimer(TLayerStatistics &Statistics) : FStatistics(Statistics) {}

protected:
    std::int64_t GetDonePixels() override { return FStatistics.Counted(); }
    std::int64_t GetTotalPixels() override { return FStatistics.Total(); }

private:
    TLayerStatistics &FStatistics;
};

class TServerCalculateThread : public TThread {
public:
    TServerCalculateThread(TServerCalculateEngine &Engine, TCompute &Piece)
        : TThread(true), FEngine(Engine), FPiece(Piece) {}

protected:
    // Nothing may leave the thread: an error ends the piece and is reported.
    void Execute() override {
        try {
            if (FPiece.State == psInterrupted)
                FPiece.Resume = true;
            FPiece.State = psRunning;
            FPiece.Calculate();
            if (!FPiece.Resume) {
                FPiece.State = psDone;
                FEngine.ThreadFinished();
            } else {
                FPiece.State = psInterrupted;
            }
        } catch (const std::exception &e) {
            FPiece.State = psDone;
            FEngine.ThreadFailed(e.what());
        } catch (...) {
            FPiece.State = psDone;
            FEngine.ThreadFailed("Unknown error in the calculation");
        }
    }

private:
    TServerCalculateEngine &FEngine;
    TCompute &FPiece;
};

TServerCalculateEngine::TServerCalculateEngine() {
    FAntiAliasing = std::make_unique<TAntiAliasingSettings>();
    FColorTable = std::make_unique<TGradientTable>();
    std::fill(std::begin(FColorTable->Entries), std::end(FColorTable->Entries), 0xFF000000u);
    FMapping = std::make_unique<TMapping>();
    FInside = std::make_unique<TColoring>(0);
    FOutside = std::make_unique<TColoring>(1);
    FFormula = std::make_unique<TFormula>();
    FFormula->SetColorings(FInside.get(), FOutside.get());
    // The formula's pixel routine always joins the current code of both colorings.
    FInside->OnCodeChanged = MakeNotifyEvent<&TServerCalculateEngine::ColoringCodeChanged>(this);
    FOutside->OnCodeChanged = MakeNotifyEvent<&TServerCalculateEngine::ColoringCodeChanged>(this);
    FGradient = std::make_unique<TGradient>(*FColorTable);
    FImage = std::make_unique<TLayerImage>();
    FImage->SetColorTable(FColorTable.get());
    FStatistics = std::make_unique<TLayerStatistics>();
    FTimer = std::make_unique<TServerTimer>(*FStatistics);
    FUpdateRects = std::make_unique<TUpdateRectList>();
}

TServerCalculateEngine::~TServerCalculateEngine() {
    Stop();
    FCompute.reset();
    FImage->SetColorTable(nullptr);
    FFormula.reset(); // before the colorings it joins
}

void TServerCalculateEngine::ColoringCodeChanged(TObject *) {
    FFormula->AssemblePixelRoutine();
}

void TServerCalculateEngine::ThreadFinished() {
    FTimer->Stop();
    if (OnCall)
        OnCall(this);
}

void TServerCalculateEngine::ThreadFailed(const std::string &Message) {
    FTimer->Stop();
    if (OnError)
        OnError(this, Message);
}

void TServerCalculateEngine::LoadParameters(std::int32_t OffsetX, std::int32_t OffsetY,
                                            const std::string &Text, const TLayerRect &Rect) {
    ReapFinishedThread();
    if (FThread)
        throw EServerEngineError("Cannot load parameters");
    FCompute.reset();
    FRegion = Rect;
    {
        TAccountHolder account;
        std::unique_ptr<TEntryReader> entries = TEntryReader::CreateFromString(Text, true);
        int parameters = -1;
        for (int i = 0; i < entries->GetCount(); ++i) {
            TEntryData &entry = *entries->GetEntry(i);
            const std::string &name = entry.Name();
            const std::size_t separator = name.find("::");
            if (separator == std::string::npos) {
                if (parameters < 0)
                    parameters = i;
                continue;
            }
            std::string fileName = name.substr(0, separator);
            std::replace(fileName.begin(), fileName.end(), '*', ' ');
            (*account).GetFile(fileName)->CopyEntryAs(entry, name.substr(separator + 2), cmAsSource);
        }
        if (parameters < 0)
            throw EServerEngineError("No parameters received");
        TServerParReader reader(*entries, parameters, *account);
        ReadParameters(reader);
    }
    FMapping->SetOrigin(OffsetX, OffsetY);
    FCompute = CreateCompute(FMethod, FMapping.get(), FFormula.get(), FStatistics.get(), FUpdateRects.get(),
                             FImage.get(), FOutside.get(), FInside.get());
    FCompute->Rect = FRegion;
    FCompute->Gradient = FGradient.get();
    try {
        PrepareCalculation();
    } catch (...) {
        FCompute.reset();
        throw;
    }
}

void TServerCalculateEngine::ReadParameters(TParReader &Reader) {
    FMethod = dmGuessing;
    std::uint8_t mode = lmCode;
    FAntiAliasing->Enabled = false;
    FAntiAliasing->Depth = 0;
    FAntiAliasing->Split3x3 = false;
    FAntiAliasing->Threshold = 0;
    FPrecision = 0;
    FDecimals = 0;
    FResumable = false;
    FOpaque = false;

    std::string section;
    std::string key = Reader.PeekKey(&section);
    if (!key.empty() || section != "network")
        Reader.RaiseError();
    Reader.Next();
    std::int32_t virtualWidth = 0, virtualHeight = 0, width = 0, height = 0;
    for (key = Reader.NextKeyInSection(); !key.empty(); key = Reader.NextKeyInSection()) {
        if (key == "virtualwidth")
            virtualWidth = Reader.GetInteger();
        else if (key == "virtualheight")
            virtualHeight = Reader.GetInteger();
        else if (key == "width")
            width = Reader.GetInteger();
        else if (key == "height")
            height = Reader.GetInteger();
        else if (key == "method") {
            const std::string value = Reader.GetLowerValue();
            FMethod = value == "multipass" ? dmMultiPass : value == "linear" ? dmLinear : dmGuessing;
        } else if (key == "format") {
            const std::string value = Reader.GetLowerValue();
            mode = value == "color" ? lmColor : value == "floatcolor" ? lmFloatColor : lmCode;
        } else if (key == "aa_enabled")
            FAntiAliasing->Enabled = Reader.GetBoolean();
        else if (key == "aa_depth")
            FAntiAliasing->Depth = Reader.GetInteger();
        else if (key == "aa_subdivisions")
            FAntiAliasing->Split3x3 = Reader.GetLowerValue() == "3x3";
        else if (key == "aa_threshold")
            FAntiAliasing->Threshold = double(Reader.GetFloat());
        else if (key == "precision") {
            const std::string value = Reader.GetLowerValue();
            FPrecision = value == "extended" ? 1 : value == "arbitrary" ? 2 : 0;
        } else if (key == "decimals")
            FDecimals = Reader.GetInteger();
        else if (key == "resumable")
            FResumable = Reader.GetBoolean();
        else if (key == "opaque")
            FOpaque = Reader.GetBoolean();
    }

    // The client's geometry decides every allocation and every pixel write that follows: it is
    // checked before the image is sized.
    const std::int64_t pixelBytes = std::int64_t(std::max(width, 0)) * std::max(height, 0) *
                                    LayerImageBytesPerPixel(mode) * (FAntiAliasing->Enabled ? 2 : 1);
    const bool geometryValid = virtualWidth >= 1 && virtualHeight >= 1 && width >= 1 && height >= 1 &&
                               pixelBytes <= MaxServerImageBytes && FRegion.Left >= 0 && FRegion.Top >= 0 &&
                               FRegion.Left < FRegion.Right && FRegion.Top < FRegion.Bottom &&
                               FRegion.Right <= width && FRegion.Bottom <= height &&
                               FAntiAliasing->Depth >= 0 && FAntiAliasing->Depth <= 4 && FDecimals >= 0 &&
                               FDecimals <= 100000;
    if (!geometryValid)
        throw EServerEngineError("Invalid image geometry");
    FMapping->SetWidth(virtualWidth);
    FMapping->SetHeight(virtualHeight);
    FImage->SetMode(mode);
    FImage->SetSize(width, height);

    for (;;) {
        key = Reader.PeekKey(&section);
        if (!key.empty() || section.empty())
            break;
        if (section == "mapping")
            FMapping->LoadParameters(Reader);
        else if (section == "formula")
            FFormula->LoadFromReader(Reader);
        else if (section == "inside")
            FInside->LoadFromReader(Reader);
        else if (section == "outside")
            FOutside->LoadFromReader(Reader);
        else if (section == "gradient")
            FGradient->ReadParameters(Reader, 10);
        else
            break;
    }
}

void TServerCalculateEngine::PrepareCalculation() {
    FImage->Clear();
    ApplyFormulaConstants(*FMapping, *FFormula, *FInside, *FOutside, FDecimals, FPrecision);
    TTransformList &transforms = FMapping->GetTransformations();
    TGradientTable &table = *FColorTable;
    table[InsideSolidCode] = FInside->GetSolidColor();
    table[OutsideSolidCode] = FOutside->GetSolidColor();
    for (int i = 0; i < transforms.GetCount() && i < TransformCodeCount; ++i)
        table[FirstTransformCode + i] = transforms.GetItem(i).GetSolidColor();
    FCompute->AntiAliasing->Assign(*FAntiAliasing);
    if (auto *antiAliased = dynamic_cast<TComputeAntiAliasing *>(FCompute.get()))
        antiAliased->SetOpaque(FOpaque);
    FImage->Interpolator().Build(*FGradient);
    FStatistics->Reset(std::uint32_t(RectArea(FRegion)), FFormula->GetMaxIter());
    FStatistics->SetSuspended(FAntiAliasing->Enabled);
    FStopped = false;
}

std::size_t TServerCalculateEngine::MaxCalculateDataSize() const {
    // Plain samples of the rectangle grown by one column and row, the piece record and the
    // pixels or anti-aliasing cells of the rectangle, each at most 16 bytes per pixel.
    const std::int64_t w = FRegion.Right - FRegion.Left + 1, h = FRegion.Bottom - FRegion.Top + 1;
    return std::size_t(std::max<std::int64_t>(w * h * 16 * 2 + 4096, 4096));
}

void TServerCalculateEngine::LoadCalculateData(const void *Data, std::size_t Size) {
    if (!FCompute)
        throw EServerEngineError("Cannot load calculate data");
    try {
        TStringStream stream(InflateData(Data, Size, MaxCalculateDataSize()));
        if (FAntiAliasing->Enabled) {
            if (FImage->Mode() != lmFloatColor)
                throw EServerEngineError("Invalid image format");
            FImage->CreateAntiAliasBuffer();
            FImage->ReadRect(stream,
                             TLayerRect{FRegion.Left, FRegion.Top, FRegion.Right + 1, FRegion.Bottom + 1});
        }
        if (FResumable) {
            FCompute->ReadResumeState(stream);
            // The record carries its own rectangle: one that leaves the piece's region would let
            // the calculation write outside what the client asked for.
            const TLayerRect &r = FCompute->Rect;
            if (r.Left < FRegion.Left || r.Top < FRegion.Top || r.Right > FRegion.Right ||
                r.Bottom > FRegion.Bottom)
                throw EServerEngineError(UnsupportedResumeState);
            if (FAntiAliasing->Enabled)
                FImage->ReadAntiAliasRect(stream, FCompute->Rect);
            else
                FImage->ReadRect(stream, FCompute->Rect);
        }
    } catch (...) {
        // Whatever was read stays unused: the piece starts from its beginning.
        FCompute->Rect = FRegion;
        FCompute->State = psNew;
        FCompute->Pass = -1;
        FCompute->Resume = false;
        throw;
    }
}

void TServerCalculateEngine::Start() {
    if (!FCompute)
        throw EServerEngineError("Cannot start calculation");
    if (FThread)
        throw EServerEngineError("Calculation already started");
    FThread = std::make_unique<TJoinedThread<TServerCalculateThread>>(*this, *FCompute);
    FThread->SetPriority(PriorityOf(FPriority));
    FThread->Start();
    if (FStopped)
        FTimer->Resume();
    else
        FTimer->Start();
}

void TServerCalculateEngine::ReapFinishedThread() {
    // A thread whose piece ended by itself is no running calculation any more.
    if (FThread && FThread->Finished())
        FThread.reset();
}

void TServerCalculateEngine::Stop() {
    if (!FThread)
        return;
    FTimer->Stop();
    FStopped = true;
    FCompute->Stop();
    FThread.reset(); // waits for the thread
}

void TServerCalculateEngine::GetStatus(double &Progress, double &Rate, bool &Done) {
    const std::uint32_t total = FStatistics->Total();
    Progress = total < 1 ? 0.0 : double(FStatistics->Counted()) / total;
    Rate = FTimer->GetPixelsPerSecond();
    Done = FCompute && FCompute->State == psDone;
}

double TServerCalculateEngine::GetRate() {
    return FTimer->GetPixelsPerSecond();
}

void TServerCalculateEngine::WriteData(TStream &Stream) {
    if (!FCompute)
        return;
    Stop();
    TMemoryStream plain;
    FCompute->WriteResumeState(plain);
    FStatistics->WriteResumeState(plain);
    if (FAntiAliasing->Enabled)
        FImage->WriteAntiAliasRect(plain, FCompute->Rect);
    else
        FImage->WriteRect(plain, FCompute->Rect);
    const std::string packed = DeflateData(plain.Memory(), std::size_t(plain.Size()));
    Stream.WriteBuffer(packed.data(), std::int32_t(packed.size()));
    if (FCompute->State == psInterrupted)
        Start();
}
