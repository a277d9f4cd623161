// Layer engine: runs on real formulas with small images, symmetry, resume state, errors of a
// piece, starts that fail, and stops while the last piece is released.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FracMessageWait.h"
#include "FracScriptedLayer.h"
#include "FracWatchdog.h"

#include "FracCalculate.h"
#include "FracLayer.h"
#include "FracMethods.h"

namespace {

std::string FixturePath() {
    return std::string(TEST_DATA_DIR) + "fractal\\data\\FracLayer_fixtures.ofm";
}

// Counts OnCalculationFinished (which comes from the thread that ended the run) and
// OnCalculationStart of a layer.
struct TRunRecorder {
    std::atomic<int> Finished{0};
    std::atomic<int> Started{0};
    bool LastResuming = false;
    void Finish(TObject *) { ++Finished; }
    void Start(TObject *, bool Resuming, bool) {
        ++Started;
        LastResuming = Resuming;
    }
};

// Dispatches this thread's messages (where the posted ends of runs arrive) until the layer
// reported Target finished runs; false after the time-out.
bool WaitForFinished(const TRunRecorder &Recorder, int Target, DWORD Timeout = 60000) {
    return WaitUntil([&] { return Recorder.Finished >= Target; }, Timeout);
}

class TLayerEngineTest : public testing::Test {
protected:
    TCalculateManager Manager{2};
    TUpdateRectList UpdateRects;

    struct TTestLayer {
        std::unique_ptr<TLayer> Layer;
        TRunRecorder Recorder;
    };

    // A 64 x 48 layer of the entry, maxiter 60, drawn by Method; its first run has finished.
    std::unique_ptr<TTestLayer> MakeLayer(const std::string &Entry, std::uint8_t Method = dmLinear,
                                          const char *CenterRe = "0", const char *Angle = "0") {
        auto test = std::make_unique<TTestLayer>();
        test->Layer = std::make_unique<TLayer>(&UpdateRects, &Manager);
        TLayer &layer = *test->Layer;
        layer.OnCalculationFinished = MakeEvent<&TRunRecorder::Finish>(&test->Recorder);
        layer.OnCalculationStart = MakeEvent<&TRunRecorder::Start>(&test->Recorder);
        layer.GetFormula().SetSource(FixturePath(), Entry);
        EXPECT_FALSE(layer.GetFormula().GetHasError()) << Entry;
        layer.GetFormula().SetMaxIter(60);
        layer.SetMethod(Method);
        layer.SetSize(64, 48);
        layer.GetMapping().Center.SetText(CenterRe, "0");
        layer.GetMapping().Angle.SetText(Angle);
        layer.EndUpdate();
        EXPECT_TRUE(WaitForFinished(test->Recorder, 1)) << Entry;
        EXPECT_EQ(layer.GetCalculationState(), csIdle);
        return test;
    }

    static std::vector<std::uint8_t> Pixels(TLayer &Layer) {
        TLayerImage &image = Layer.GetImage();
        const std::size_t size =
            static_cast<std::size_t>(image.Width()) * image.Height() * image.BytesPerPixel();
        return std::vector<std::uint8_t>(image.Pixels(), image.Pixels() + size);
    }

    static std::uint16_t Code(TLayer &Layer, int X, int Y) {
        std::uint16_t code;
        std::memcpy(&code, Layer.GetImage().PixelPtr(X, Y), 2);
        return code;
    }
};

} // namespace

TEST_F(TLayerEngineTest, AxisSymmetriesCalculateAPartAndMirrorTheRestExactly) {
    // The image is centred on the origin: the X axis lies on row 24, the Y axis on column 32.
    struct {
        const char *Entry, *Reference;
        std::uint8_t Symmetry;
        std::uint32_t Calculated;
    } cases[] = {
        // Rows 0 .. 24 (the axis row included); rows 25 .. 47 are copies.
        {"MandelX", "MandelPlain", 1, 64 * 25},
        // Columns 0 .. 32 of rows 0 .. 24, each axis included.
        {"JuliaXY", "JuliaReal", 7, 33 * 25},
    };
    for (const auto &c : cases) {
        auto mirrored = MakeLayer(c.Entry);
        auto full = MakeLayer(c.Reference);
        TLayer &layer = *mirrored->Layer;
        EXPECT_EQ(layer.GetSymmetry(), c.Symmetry) << c.Entry;
        EXPECT_EQ(layer.GetXAxisRow(), 24);
        EXPECT_EQ(layer.GetYAxisColumn(), 32);
        EXPECT_EQ(layer.GetStatistics().Total(), c.Calculated) << c.Entry;
        EXPECT_EQ(layer.GetStatistics().Counted(), c.Calculated) << c.Entry;
        EXPECT_EQ(full->Layer->GetStatistics().Total(), 64u * 48);
        EXPECT_EQ(layer.GetSymmetryPhase(), SymmetryPhaseDone);
        EXPECT_EQ(Pixels(layer), Pixels(*full->Layer)) << c.Entry;
        for (int x = 0; x < 64; ++x)
            ASSERT_NE(Code(layer, x, 47), UncalculatedCode) << c.Entry;
    }

    // Turned by more than 0.001 the image is no longer symmetric: everything is calculated.
    auto turned = MakeLayer("MandelX", dmLinear, "0", "0.002");
    EXPECT_EQ(turned->Layer->GetSymmetry(), 0);
    EXPECT_EQ(turned->Layer->GetStatistics().Total(), 64u * 48);
}

TEST_F(TLayerEngineTest, OriginSymmetryLeftOfTheCentre) {
    // The origin ten pixels left of the image centre: column 22, row 24.
    auto probe = MakeLayer("JuliaPlain");
    const long double scale = probe->Layer->GetMapping().PixelScale.GetValue();
    const std::string centerRe = Format("%.19Lg", 10 * scale);
    auto mirrored = MakeLayer("JuliaOrigin", dmLinear, centerRe.c_str());
    auto full = MakeLayer("JuliaPlain", dmLinear, centerRe.c_str());
    TLayer &layer = *mirrored->Layer;
    ASSERT_EQ(layer.GetSymmetry(), 9);
    ASSERT_EQ(layer.GetYAxisColumn(), 22);
    ASSERT_EQ(layer.GetXAxisRow(), 24);
    // Calculated: the upper half with the axis row (rows 0 .. 24) and, of the lower half, the
    // columns whose reflection through column 22 lies outside the image (45 .. 63).
    EXPECT_EQ(layer.GetStatistics().Total(), 64u * 25 + 19u * 23);
    // The rest of the lower half is the point reflection.
    for (int y = 25; y < 48; ++y)
        for (int x = 0; x < 45; ++x)
            ASSERT_EQ(Code(layer, x, y), Code(layer, 44 - x, 48 - y)) << x << "," << y;
    // Against a full calculation: the reflected coordinates are equal up to the last bit of
    // the mapping's arithmetic, which may move a pixel at a boundary.
    int differing = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            differing += Code(layer, x, y) != Code(*full->Layer, x, y);
    EXPECT_LE(differing, 64 * 48 / 50);
}

TEST_F(TLayerEngineTest, LayerOfSizeZeroFinishesAtOnce) {
    TLayer layer(&UpdateRects, &Manager);
    TRunRecorder recorder;
    layer.OnCalculationFinished = MakeEvent<&TRunRecorder::Finish>(&recorder);
    layer.EndUpdate();
    layer.Recalculate();
    EXPECT_EQ(layer.GetCalculationState(), csIdle);
    EXPECT_TRUE(WaitForFinished(recorder, 1, 10000));
    EXPECT_EQ(recorder.Finished.load(), 1);
}

namespace {

// Code that stands for a formula gone wrong: an illegal instruction (ud2).
class TBadCode {
public:
    TBadCode() {
        FCode = static_cast<std::uint8_t *>(
            VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
        FCode[0] = 0x0F;
        FCode[1] = 0x0B;
        FCode[2] = 0xC3;
    }
    ~TBadCode() { VirtualFree(FCode, 0, MEM_RELEASE); }
    void Run() const { reinterpret_cast<void (*)()>(FCode)(); }

private:
    std::uint8_t *FCode;
};

// A piece whose pixel routine faults after its first pixel.
class TFaultingPiece : public TCompute {
public:
    TFaultingPiece(TLayer &Layer, const TBadCode &Bad)
        : TCompute(&Layer.GetMapping(), &Layer.GetStatistics(), Layer.GetUpdateRects(), &Layer.GetImage(),
                   &Layer.GetOutsideColoring(), &Layer.GetInsideColoring(), &Layer.GetFormula()),
          FBad(Bad) {}
    void CalculateAntiAliased() override { CalculatePixels(); }
    void CalculatePixels() override {
        CalculatePixel(Rect.Left, Rect.Top);
        FBad.Run();
    }

private:
    const TBadCode &FBad;
};

class TFaultingLayer : public TLayer {
public:
    TFaultingLayer(TUpdateRectList *Rects, TCalculateManager *Manager, const TBadCode &Bad)
        : TLayer(Rects, Manager), FBad(Bad) {}

protected:
    std::unique_ptr<TCompute> CreatePiece() override { return std::make_unique<TFaultingPiece>(*this, FBad); }

private:
    const TBadCode &FBad;
};

} // namespace

TEST_F(TLayerEngineTest, FaultInGeneratedCodeEndsTheLayerWithAnErrorAndTheNextLayerCalculates) {
    TBadCode bad;
    TFaultingLayer faulty(&UpdateRects, &Manager, bad);
    TRunRecorder recorder;
    faulty.OnCalculationFinished = MakeEvent<&TRunRecorder::Finish>(&recorder);
    faulty.GetFormula().SetSource(FixturePath(), "MandelPlain");
    faulty.SetSize(64, 48);
    faulty.EndUpdate();
    ASSERT_TRUE(WaitForFinished(recorder, 1));
    const std::string error = faulty.GetCalculationError();
    EXPECT_FALSE(error.empty());
    // Under emulation the fault may arrive as another code than the illegal instruction.
    EXPECT_TRUE(error.find("C000001D") != std::string::npos ||
                error.find("privileged") != std::string::npos || error.find("xception") != std::string::npos)
        << error;
    // Not taken for a complete picture.
    EXPECT_EQ(faulty.GetCalculationState(), csInterrupted);

    auto next = MakeLayer("MandelPlain");
    EXPECT_TRUE(next->Layer->GetCalculationError().empty());
    EXPECT_EQ(next->Layer->GetStatistics().Counted(), 64u * 48);
}

// A start that fails after the owner heard of it: the layer stops with its work left and the
// error as its calculation error, the owner hears of the end, nothing waits for a run that never
// went, and once the cause is gone the layer calculates afresh.
TEST_F(TLayerEngineTest, AStartThatFailsEndsItsRunAndTheLayerCalculatesLater) {
    struct TCase {
        const char *Name;
        bool RefusePrecision, RefusePieces, NoManager;
        const char *Error;
    };
    const TCase cases[] = {
        {"the precision cannot be chosen", true, false, false, "The precision cannot be chosen"},
        {"a piece cannot be made", false, true, false, "Out of memory"},
        {"no calculation manager", false, false, true, "No calculation manager"},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TLayerScript script;
        auto layer = std::make_unique<TScriptedLayer>(&UpdateRects, c.NoManager ? nullptr : &Manager, script);
        TRunRecorder recorder;
        layer->OnCalculationFinished = MakeEvent<&TRunRecorder::Finish>(&recorder);
        layer->OnCalculationStart = MakeEvent<&TRunRecorder::Start>(&recorder);
        layer->GetFormula().SetSource(FixturePath(), "MandelPlain");
        layer->GetFormula().SetMaxIter(60);
        layer->SetSize(64, 48);
        script.RefusePrecision = c.RefusePrecision;
        script.RefusePieces = c.RefusePieces;
        try {
            layer->EndUpdate();
            ADD_FAILURE() << "started";
        } catch (const Exception &E) {
            EXPECT_EQ(E.Message(), c.Error);
        }
        {
            TWatchdog watchdog(std::string("stopping a layer whose start failed: ") + c.Name, 20000);
            EXPECT_EQ(layer->GetCalculationState(), csInterrupted);
            EXPECT_EQ(recorder.Started.load(), 1);
            EXPECT_EQ(recorder.Finished.load(), 1);
            EXPECT_EQ(layer->GetCalculationError(), c.Error);
            EXPECT_FALSE(Manager.IsRegistered(layer.get()));
            layer->StopCalculation();
            layer->WaitForThreads();
            EXPECT_EQ(recorder.Finished.load(), 1);
        }

        script.RefusePrecision = false;
        script.RefusePieces = false;
        if (c.NoManager)
            InitializeFracCalculate();
        layer->ResumeCalculation();
        ASSERT_TRUE(WaitForFinished(recorder, 2));
        EXPECT_EQ(recorder.Started.load(), 2);
        EXPECT_FALSE(recorder.LastResuming) << "calculated afresh";
        EXPECT_EQ(layer->GetCalculationState(), csIdle);
        EXPECT_EQ(layer->GetCalculationError(), "");
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                ASSERT_NE(Code(*layer, x, y), UncalculatedCode) << x << "," << y;
        {
            TWatchdog watchdog(std::string("freeing a layer whose start failed: ") + c.Name, 20000);
            layer.reset();
        }
        if (c.NoManager)
            FinalizeFracCalculate();
    }
}

TEST_F(TLayerEngineTest, CalculationRoundTripAndResumeGiveTheSameImage) {
    auto reference = MakeLayer("MandelPlain", dmMultiPass);
    TMemoryStream complete;
    reference->Layer->WriteCalculation(complete);

    // A finished calculation read back is shown as it is, not calculated again.
    auto copy = MakeLayer("MandelPlain", dmMultiPass);
    copy->Layer->GetImage().Clear();
    const int startsBefore = copy->Recorder.Started;
    complete.SetPosition(0);
    copy->Layer->ReadCalculation(complete);
    EXPECT_EQ(copy->Layer->GetCalculationState(), csIdle);
    EXPECT_EQ(copy->Recorder.Started.load(), startsBefore);
    EXPECT_EQ(Pixels(*copy->Layer), Pixels(*reference->Layer));
    EXPECT_EQ(copy->Layer->GetStatistics().Counted(), 64u * 48);

    // An interrupted run written and read back completes to the same picture.
    auto interrupted = MakeLayer("MandelPlain", dmMultiPass);
    interrupted->Layer->Recalculate();
    interrupted->Layer->StopCalculation(); // usually with work left; a finished run does as well
    TMemoryStream partial;
    interrupted->Layer->WriteCalculation(partial);
    interrupted->Layer->StopCalculation();
    auto resumed = MakeLayer("MandelPlain", dmMultiPass);
    resumed->Layer->GetImage().Clear();
    const int finishedBefore = resumed->Recorder.Finished;
    partial.SetPosition(0);
    resumed->Layer->ReadCalculation(partial);
    if (resumed->Layer->GetCalculationState() != csIdle) {
        EXPECT_TRUE(resumed->Recorder.LastResuming);
        ASSERT_TRUE(WaitForFinished(resumed->Recorder, finishedBefore + 1));
    }
    EXPECT_EQ(resumed->Layer->GetCalculationState(), csIdle);
    EXPECT_EQ(Pixels(*resumed->Layer), Pixels(*reference->Layer));
}

TEST_F(TLayerEngineTest, ResumeVersions) {
    auto test = MakeLayer("MandelPlain");
    TLayer &layer = *test->Layer;
    auto record = [](std::uint32_t Version) {
        auto stream = std::make_unique<TMemoryStream>();
        stream->WriteUInt32(Version);
        std::vector<std::uint8_t> zeros(OldLayerResumeSize);
        stream->WriteBuffer(zeros.data(), static_cast<std::int32_t>(zeros.size()));
        stream->SetPosition(0);
        return stream;
    };
    // A newer record is refused and the layer calculates again.
    const int finished = test->Recorder.Finished;
    EXPECT_THROW(layer.ReadResumeState(*record(257)), ELayerError);
    ASSERT_TRUE(WaitForFinished(test->Recorder, finished + 1));
    // An older one is skipped by its size; the picture counts as complete ...
    const int starts = test->Recorder.Started;
    auto older = record(255);
    layer.ReadResumeState(*older);
    EXPECT_EQ(older->Position(), 4 + OldLayerResumeSize);
    EXPECT_EQ(layer.GetCalculationState(), csIdle);
    EXPECT_EQ(test->Recorder.Started.load(), starts);
    // ... unless its version was 2, which asks for a new calculation.
    layer.ReadResumeState(*record(2));
    EXPECT_EQ(test->Recorder.Started.load(), starts + 1);
    EXPECT_FALSE(test->Recorder.LastResuming);
    ASSERT_TRUE(WaitForFinished(test->Recorder, finished + 2));
}

TEST_F(TLayerEngineTest, MalformedResumeRecordsWriteNoPixelAndTheLayerCalculatesAgain) {
    auto source = MakeLayer("MandelPlain");
    TMemoryStream good;
    source->Layer->WriteCalculation(good);
    const std::vector<std::uint8_t> bytes(static_cast<const std::uint8_t *>(good.Memory()),
                                          static_cast<const std::uint8_t *>(good.Memory()) + good.Size());
    const int engine = 9 + StatisticsRecordSize; // the engine record's offset
    auto put32 = [](std::vector<std::uint8_t> &Data, int Offset, std::uint32_t Value) {
        std::memcpy(Data.data() + Offset, &Value, 4);
    };
    struct {
        const char *Name;
        int Offset;
        std::uint32_t Value;
        int Size; // bytes to keep; 0: all
    } cases[] = {
        {"newer layer version", 0, 257, 0},
        {"calculation state", 4, 7, 0},
        {"symmetry phase", 5, 77, 0},
        {"statistics version", 9, 2, 0},
        {"counted above total", 9 + 12, 100000, 0},
        {"engine version", engine, 3, 0},
        {"strip width", engine + 4, 17, 0},
        {"piece count", engine + 8, 0x7FFFFFFF, 0},
        {"piece outside the image", engine + 12 + 4 + 8, 1000, 0},
        {"cut short", 0, 257, engine + 20},
    };
    for (const auto &c : cases) {
        std::vector<std::uint8_t> data = bytes;
        if (c.Size)
            data.resize(static_cast<std::size_t>(c.Size));
        else
            put32(data, c.Offset, c.Value);
        if (c.Size)
            put32(data, 0, 256);
        auto test = MakeLayer("MandelPlain");
        TLayer &layer = *test->Layer;
        const int finished = test->Recorder.Finished;
        // A marker in every pixel shows what the record wrote.
        TLayerImage &image = layer.GetImage();
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                image.SetCode(x, y, 1234);
        TMemoryStream stream;
        stream.WriteBuffer(data.data(), static_cast<std::int32_t>(data.size()));
        stream.SetPosition(0);
        layer.BeginUpdate();
        EXPECT_ANY_THROW(layer.ReadCalculation(stream)) << c.Name;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                ASSERT_EQ(Code(layer, x, y), 1234) << c.Name;
        layer.EndUpdate();
        ASSERT_TRUE(WaitForFinished(test->Recorder, finished + 1)) << c.Name;
        EXPECT_EQ(layer.GetCalculationState(), csIdle) << c.Name;
        EXPECT_EQ(Pixels(layer), Pixels(*source->Layer)) << c.Name;
    }
}

// Watches every repaint request of a layer for a pixel that shows "not calculated". Requests come
// on this thread, before a new run's threads write anything.
struct TBlankWatch {
    TLayer *Layer = nullptr;
    bool SawBlank = false;
    void Invalidate(TObject *, const TLayerRect &) {
        TLayerImage &image = Layer->GetImage();
        for (int y = 0; y < image.Height(); ++y)
            for (int x = 0; x < image.Width(); ++x) {
                std::uint16_t code;
                std::memcpy(&code, image.PixelPtr(x, y), 2);
                SawBlank = SawBlank || code == UncalculatedCode;
            }
    }
};

TEST_F(TLayerEngineTest, ARefusedRecordOutsideAnUpdateKeepsEveryPixel) {
    auto source = MakeLayer("MandelPlain");
    TMemoryStream good;
    source->Layer->WriteCalculation(good);
    const std::vector<std::uint8_t> bytes(static_cast<const std::uint8_t *>(good.Memory()),
                                          static_cast<const std::uint8_t *>(good.Memory()) + good.Size());
    struct {
        const char *Name;
        std::size_t Size; // bytes kept
        int StateByte;    // -1: as written
    } cases[] = {
        {"cut after its version", 4, -1},
        {"bad state byte", bytes.size(), 9},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        auto test = MakeLayer("MandelPlain");
        TLayer &layer = *test->Layer;
        const std::vector<std::uint8_t> picture = Pixels(layer);
        std::vector<std::uint8_t> data(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(c.Size));
        if (c.StateByte >= 0)
            data[4] = static_cast<std::uint8_t>(c.StateByte);
        TMemoryStream stream;
        stream.WriteBuffer(data.data(), static_cast<std::int32_t>(data.size()));
        stream.SetPosition(0);
        TBlankWatch watch;
        watch.Layer = &layer;
        layer.OnInvalidate = MakeEvent<&TBlankWatch::Invalidate>(&watch);
        const int finished = test->Recorder.Finished;
        EXPECT_ANY_THROW(layer.ReadCalculation(stream));
        // The layer calculates again, over the picture it had: nothing is blanked on the way.
        ASSERT_TRUE(WaitForFinished(test->Recorder, finished + 1));
        EXPECT_FALSE(watch.SawBlank);
        EXPECT_EQ(Pixels(layer), picture);
        layer.OnInvalidate = TLayerInvalidateEvent();
    }
}

TEST_F(TLayerEngineTest, StopWhileTheLastPieceIsReleasedNeverWaitsForThisThread) {
    // The thread that releases the last piece ends the run while this thread stops it: every
    // stop returns, whichever of the two ends the run.
    auto test = MakeLayer("MandelPlain");
    TLayer &layer = *test->Layer;
    for (int i = 0; i < 20; ++i) {
        layer.Recalculate();
        layer.StopCalculation();
        EXPECT_NE(layer.GetCalculationState(), csCalculating);
    }
    layer.ResumeCalculation();
    if (layer.GetCalculationState() == csCalculating) {
        ASSERT_TRUE(WaitForFinished(test->Recorder, test->Recorder.Finished + 1));
    }
    EXPECT_EQ(layer.GetCalculationState(), csIdle);
    EXPECT_EQ(layer.GetStatistics().Counted(), 64u * 48);
}
