// Fractal document: the layer stack, the change bracket and its one committed change, reading and
// writing the document entry (with the refusals that keep the document as it was) and a
// two-layer calculation on several threads.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FracMessageWait.h"
#include "FracScriptedLayer.h"

#include "CompPersistent.h"
#include "FracCalculate.h"
#include "FracDocument.h"

namespace {

std::string FixturePath() {
    return std::string(TEST_DATA_DIR) + "fractal\\data\\FracLayer_fixtures.ofm";
}

std::unique_ptr<TParReader> ReaderOf(const std::string &Name, const std::string &Body) {
    return TEntryStream::CreateFromString<TParReader>(Name + " {\r\n" + Body + "}\r\n");
}

// A document that records its committed changes and repaint requests.
class TRecordingFractal : public TCustomFractal {
public:
    using TCustomFractal::TCustomFractal;

    struct TCommit {
        std::uint8_t Kind;
        std::string Caption;
    };
    std::vector<TCommit> Commits;
    int Repaints = 0;
    int ChangeEvents = 0;
    int CalculateEvents = 0;

    void CountChange(TObject *) { ++ChangeEvents; }
    void CountCalculate(TObject *) { ++CalculateEvents; }

protected:
    void Changed(std::uint8_t Kind, const std::string &Caption) override {
        Commits.push_back({Kind, Caption});
    }
    void InvalidateDisplay(const TLayerRect &) override { ++Repaints; }
};

std::string WrittenText(TCustomFractal &Fractal, std::uint32_t Flags = 0) {
    TParWriter writer;
    Fractal.WriteParameters(writer, Flags);
    return writer.GetText();
}

void ReadText(TCustomFractal &Fractal, const std::string &Name, const std::string &Body,
              std::uint32_t Flags = TCustomFractal::rfTakeSize) {
    Fractal.ReadParameters(*ReaderOf(Name, Body), Flags, TFractalProgressEvent());
}

class TFractalDocumentTest : public testing::Test {
protected:
    TCalculateManager Manager{3};
    std::unique_ptr<TRecordingFractal> Fractal = std::make_unique<TRecordingFractal>(&Manager);

    void TearDown() override { Fractal.reset(); }

    // Two small layers of fixture formulas: a Julia layer with its own merge mode, opacity and
    // transparency above a Mandelbrot background.
    void MakeTwoLayers() {
        TCustomFractal &fractal = *Fractal;
        fractal.BeginChange();
        fractal.SetImageSize(24, 16);
        fractal.SetTitle("Two layers");
        TLayer &bottom = *fractal.GetActiveLayer();
        bottom.GetFormula().SetSource(FixturePath(), "MandelPlain");
        bottom.GetFormula().SetMaxIter(40);
        fractal.DuplicateLayer("Julia");
        TLayer &top = fractal.GetLayers().Items(0);
        top.GetFormula().SetSource(FixturePath(), "JuliaPlain");
        top.GetFormula().SetMaxIter(30);
        top.SetMergeMode(static_cast<std::uint8_t>(MergeModeFromName("multiply")));
        top.SetOpacity(60);
        top.SetTransparent(true);
        fractal.EndChangeCaption("Make two layers");
    }
};

} // namespace

TEST_F(TFractalDocumentTest, FreshDocumentHasOneActiveBackgroundLayer) {
    ASSERT_EQ(Fractal->GetLayers().Count(), 1);
    EXPECT_EQ(Fractal->GetActiveIndex(), 0);
    EXPECT_EQ(Fractal->GetActiveLayer(), &Fractal->GetLayers().Items(0));
    EXPECT_EQ(Fractal->GetActiveLayer()->GetCaption(), "Background");
    EXPECT_FALSE(Fractal->IsChanging());

    // The current size again records nothing.
    const std::size_t commits = Fractal->Commits.size();
    Fractal->SetImageSize(Fractal->GetWidth(), Fractal->GetHeight());
    EXPECT_EQ(Fractal->Commits.size(), commits);

    // An index outside the list is refused and changes nothing.
    try {
        Fractal->SetActiveLayer(1);
        FAIL() << "no error";
    } catch (const EFractalError &e) {
        EXPECT_STREQ(e.what(), "Active layer index out of range");
    }
    EXPECT_EQ(Fractal->GetActiveIndex(), 0);
    EXPECT_EQ(Fractal->Commits.size(), commits);
}

TEST_F(TFractalDocumentTest, OneBracketOverSeveralChangesCommitsOnceWithItsCaption) {
    MakeTwoLayers();
    Fractal->Commits.clear();
    Fractal->ChangeEvents = 0;
    Fractal->OnChange = MakeNotifyEvent<&TRecordingFractal::CountChange>(Fractal.get());

    Fractal->BeginChange();
    Fractal->GetLayers().Items(0).SetOpacity(30);
    Fractal->GetLayers().Items(1).SetCaption("Renamed");
    Fractal->SetTitle("Retitled");
    Fractal->GetLayers().Move(0, 1);
    Fractal->BeginChange(); // nested: only the outer bracket commits
    Fractal->GetLayers().Items(0).SetVisible(false);
    Fractal->EndChangeCaption("Inner");
    EXPECT_TRUE(Fractal->Commits.empty());
    EXPECT_EQ(Fractal->ChangeEvents, 0);
    Fractal->EndChangeCaption("Several Changes");

    ASSERT_EQ(Fractal->Commits.size(), 1u);
    EXPECT_EQ(Fractal->Commits[0].Kind, TCustomFractal::ckNewStep);
    EXPECT_EQ(Fractal->Commits[0].Caption, "Several Changes");
    EXPECT_EQ(Fractal->ChangeEvents, 1);
    EXPECT_EQ(Fractal->GetPendingKind(), 0);
    EXPECT_FALSE(Fractal->GetChangePending());
    EXPECT_FALSE(Fractal->GetRectPending());
    // The caption outlives the commit.
    EXPECT_EQ(Fractal->GetPendingCaption(), "Several Changes");
    EXPECT_EQ(Fractal->GetTitle(), "Retitled");
    EXPECT_EQ(Fractal->GetLayers().Items(1).GetCaption(), "Julia");

    // A title change alone belongs to the current step.
    Fractal->SetTitle("Again");
    ASSERT_EQ(Fractal->Commits.size(), 2u);
    EXPECT_EQ(Fractal->Commits[1].Kind, TCustomFractal::ckContinued);
}

TEST_F(TFractalDocumentTest, DuplicateInsertsTheCopyAboveTheActiveLayer) {
    MakeTwoLayers();
    Fractal->SetActiveLayer(1);
    TLayer *source = &Fractal->GetLayers().Items(1);
    Fractal->Commits.clear();
    TLayer *copy = Fractal->DuplicateLayer("Copy");
    ASSERT_EQ(Fractal->GetLayers().Count(), 3);
    EXPECT_EQ(&Fractal->GetLayers().Items(1), copy);
    EXPECT_EQ(&Fractal->GetLayers().Items(2), source);
    EXPECT_EQ(copy->GetCaption(), "Copy");
    EXPECT_EQ(copy->GetFormula().GetMaxIter(), 40);
    ASSERT_EQ(Fractal->Commits.size(), 1u);
    EXPECT_EQ(Fractal->Commits[0].Caption, "Duplicate Layer");
}

TEST_F(TFractalDocumentTest, WriteReadWriteGivesIdenticalText) {
    MakeTwoLayers();
    const std::uint32_t flags = TCustomFractal::wfEditable | TCustomFractal::wfActive;
    const std::string first = WrittenText(*Fractal, flags);
    EXPECT_NE(first.find("layers=2"), std::string::npos) << first;

    TRecordingFractal copy(&Manager);
    copy.ReadParameters(*ReaderOf("Two_layers", first), TCustomFractal::rfTakeSize, TFractalProgressEvent());
    EXPECT_EQ(WrittenText(copy, flags), first);
    EXPECT_EQ(copy.GetWidth(), 24);
    EXPECT_EQ(copy.GetHeight(), 16);
    ASSERT_EQ(copy.GetLayers().Count(), 2);
    EXPECT_EQ(copy.GetLayers().Items(0).GetOpacity(), 60);
    EXPECT_TRUE(copy.GetLayers().Items(0).GetTransparent());
    EXPECT_EQ(copy.GetLayers().Items(1).GetFormula().GetMaxIter(), 40);
}

// Progress that cancels the read, as a user's cancel button does, once the first layer is read.
class TCancellingProgress {
public:
    void Step(TObject *, int Percent) {
        if (Percent > 50)
            Abort();
    }
};

TEST_F(TFractalDocumentTest, CancelEndsTheReadQuietlyButAMissingFormulaIsReported) {
    MakeTwoLayers();
    const std::string text = WrittenText(*Fractal);

    // A cancel keeps what was read so far and says nothing.
    TRecordingFractal cancelled(&Manager);
    TCancellingProgress progress;
    EXPECT_NO_THROW(cancelled.ReadParameters(*ReaderOf("Two_layers", text), TCustomFractal::rfTakeSize,
                                             MakeEvent<&TCancellingProgress::Step>(&progress)));
    EXPECT_FALSE(cancelled.IsChanging());
    EXPECT_GE(cancelled.GetLayers().Count(), 1);

    // A formula that cannot be found is no cancel: the reader hears why.
    std::string missing = text;
    const std::size_t at = missing.find("MandelPlain");
    ASSERT_NE(at, std::string::npos);
    missing.replace(at, 11, "NoSuchEntry");
    TRecordingFractal broken(&Manager);
    try {
        broken.ReadParameters(*ReaderOf("Two_layers", missing), TCustomFractal::rfTakeSize,
                              TFractalProgressEvent());
        FAIL() << "no error";
    } catch (const EAbort &e) {
        EXPECT_NE(std::string(e.what()).find("Could not find 'NoSuchEntry'"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(broken.IsChanging());
}

TEST_F(TFractalDocumentTest, TitleComesFromTheEntryNameUnlessTheSectionGivesOne) {
    ReadText(*Fractal, "My_Fine_Fractal", "fractal:\r\n  width=8\r\n  height=6\r\n  layers=1\r\nlayer:\r\n");
    EXPECT_EQ(Fractal->GetTitle(), "My Fine Fractal");
    ReadText(*Fractal, "x", "fractal:\r\n  title=\"Given\"\r\n  layers=1\r\nlayer:\r\n");
    EXPECT_EQ(Fractal->GetTitle(), "Given");
}

TEST_F(TFractalDocumentTest, OlderNumLayersEntryGetsAnOpaqueNormalBottomLayer) {
    const std::string layers = "layer:\r\n  caption=\"Top\"\r\n  mergemode=screen\r\n  opacity=40\r\n"
                               "  transparent=yes\r\n"
                               "layer:\r\n  caption=\"Bottom\"\r\n  mergemode=multiply\r\n  opacity=30\r\n"
                               "  transparent=yes\r\n";
    ReadText(*Fractal, "old", "fractal:\r\n  width=8\r\n  height=6\r\n  numlayers=2\r\n" + layers);
    ASSERT_EQ(Fractal->GetLayers().Count(), 2);
    const TLayer &top = Fractal->GetLayers().Items(0);
    const TLayer &bottom = Fractal->GetLayers().Items(1);
    EXPECT_EQ(bottom.GetMergeMode(), 0);
    EXPECT_EQ(bottom.GetOpacity(), 100);
    EXPECT_FALSE(bottom.GetTransparent());
    EXPECT_EQ(top.GetMergeMode(), MergeModeFromName("screen"));
    EXPECT_EQ(top.GetOpacity(), 40);
    EXPECT_TRUE(top.GetTransparent());

    // The current format keeps what the bottom section says.
    ReadText(*Fractal, "new", "fractal:\r\n  width=8\r\n  height=6\r\n  layers=2\r\n" + layers);
    EXPECT_EQ(Fractal->GetLayers().Items(1).GetMergeMode(), MergeModeFromName("multiply"));
    EXPECT_EQ(Fractal->GetLayers().Items(1).GetOpacity(), 30);
}

TEST_F(TFractalDocumentTest, ReadingFewerLayersDeletesTheRestAndTakesTheActiveIndex) {
    MakeTwoLayers();
    Fractal->DuplicateLayer("Third");
    ASSERT_EQ(Fractal->GetLayers().Count(), 3);
    ReadText(*Fractal, "two",
             "fractal:\r\n  width=8\r\n  height=6\r\n  layers=2\r\n  active=1\r\n"
             "layer:\r\n  caption=\"A\"\r\nlayer:\r\n  caption=\"B\"\r\n");
    ASSERT_EQ(Fractal->GetLayers().Count(), 2);
    EXPECT_EQ(Fractal->GetLayers().Items(0).GetCaption(), "A");
    EXPECT_EQ(Fractal->GetLayers().Items(1).GetCaption(), "B");
    EXPECT_EQ(Fractal->GetActiveIndex(), 1);
    EXPECT_EQ(Fractal->GetActiveLayer(), &Fractal->GetLayers().Items(1));
    EXPECT_FALSE(Fractal->IsChanging());
}

TEST_F(TFractalDocumentTest, FittingTheAspectRatioIntoTheCurrentSize) {
    Fractal->SetImageSize(640, 480);
    ReadText(*Fractal, "square", "fractal:\r\n  width=800\r\n  height=800\r\n  layers=1\r\nlayer:\r\n",
             TCustomFractal::rfFitAspect);
    EXPECT_EQ(Fractal->GetWidth(), 480);
    EXPECT_EQ(Fractal->GetHeight(), 480);
    EXPECT_EQ(Fractal->GetLayers().Items(0).GetWidth(), 480);
}

TEST_F(TFractalDocumentTest, EntriesWithWrongLayerCountsAreRefusedAndTheDocumentStaysAsItWas) {
    MakeTwoLayers();
    Fractal->DuplicateLayer("Third");
    Fractal->SetActiveLayer(2);
    const std::string before = WrittenText(*Fractal, TCustomFractal::wfActive);
    const TLayer *active = Fractal->GetActiveLayer();

    const std::string one = "layer:\r\n  caption=\"Read\"\r\n  opacity=10\r\n";
    struct TCase {
        const char *Name;
        std::string Body;
    } cases[] = {
        {"zero declared, one section", "fractal:\r\n  width=9\r\n  layers=0\r\n" + one},
        {"zero declared, no section", "fractal:\r\n  width=9\r\n  layers=0\r\n"},
        {"none declared", "fractal:\r\n  width=9\r\n" + one},
        {"two declared, three sections", "fractal:\r\n  width=9\r\n  layers=2\r\n" + one + one + one},
        {"two declared, one section", "fractal:\r\n  width=9\r\n  layers=2\r\n" + one},
        {"older format, zero declared", "fractal:\r\n  numlayers=0\r\n" + one},
        {"negative count", "fractal:\r\n  layers=-1\r\n"},
        {"no fractal section", one},
    };
    for (const TCase &c : cases) {
        Fractal->Commits.clear();
        EXPECT_THROW(ReadText(*Fractal, "bad", c.Body), EInvalidParFile) << c.Name;
        EXPECT_EQ(WrittenText(*Fractal, TCustomFractal::wfActive), before) << c.Name;
        EXPECT_EQ(Fractal->GetLayers().Count(), 3) << c.Name;
        EXPECT_EQ(Fractal->GetActiveLayer(), active) << c.Name;
        EXPECT_EQ(Fractal->GetTitle(), "Two layers") << c.Name;
        EXPECT_FALSE(Fractal->IsChanging()) << c.Name;
        EXPECT_TRUE(Fractal->Commits.empty()) << c.Name;
    }
}

TEST_F(TFractalDocumentTest, TwoLayersCalculateOnSeveralThreadsToTheEnd) {
    Fractal->OnCalculate = MakeNotifyEvent<&TRecordingFractal::CountCalculate>(Fractal.get());
    MakeTwoLayers();
    const std::string text = WrittenText(*Fractal);

    TRecordingFractal fractal(&Manager);
    fractal.OnCalculate = MakeNotifyEvent<&TRecordingFractal::CountCalculate>(&fractal);
    fractal.ReadParameters(*ReaderOf("calc", text), TCustomFractal::rfTakeSize, TFractalProgressEvent());
    ASSERT_EQ(fractal.GetLayers().Count(), 2);
    auto allDone = [&] {
        if (!fractal.IsCalculationDone())
            return false;
        for (int i = 0; i < fractal.GetLayers().Count(); ++i)
            if (fractal.GetLayers().Items(i).GetCalculationState() != csIdle)
                return false;
        return true;
    };
    ASSERT_TRUE(WaitUntil(allDone));
    EXPECT_GE(fractal.CalculateEvents, 1);
    EXPECT_EQ(fractal.GetCalculatingCount(), 0);
    EXPECT_FALSE(fractal.GetTimer().Running());
    EXPECT_DOUBLE_EQ(fractal.GetTimer().GetProgress(), 1.0);
    for (int i = 0; i < 2; ++i) {
        TLayer &layer = fractal.GetLayers().Items(i);
        EXPECT_EQ(layer.GetCalculationError(), "") << i;
        EXPECT_EQ(layer.GetImage().Width(), 24);
        EXPECT_EQ(layer.GetImage().Height(), 16);
    }
}

namespace {

constexpr DWORD Patience = 60000; // ms; only a fault makes a test wait this long

// A document whose one layer is scripted (its pieces wait at the script's gate), which says when
// its count of calculating layers falls to 0, and which can hold the thread that reports a run's
// end at the door of its count until the test lets it in.
class TGatedFractal : public TRecordingFractal {
public:
    TGatedFractal(TCalculateManager *AManager, TLayerScript &AScript)
        : TRecordingFractal(AManager), FManager(AManager), FScript(AScript) {
        // The base made a plain background layer; this document's only layer is a scripted one.
        std::unique_ptr<TLayer> layer = CreateLayer();
        layer->SetCaption("Background");
        TLayer *scripted = layer.get();
        GetLayers().Insert(0, std::move(layer));
        scripted->EndUpdate();
        GetLayers().Delete(1);
        Ended.ResetEvent();
    }

    TLayer &Layer() const { return GetLayers().Items(0); }

    // Ends arriving from a calculation thread wait at the door while it is closed.
    std::atomic<bool> HoldEnds{false};
    TEvent Door{true, false};
    TEvent EndHeld{true, false};
    // Set whenever the count falls to 0.
    TEvent Ended{true, false};

protected:
    std::unique_ptr<TLayer> CreateLayer() override {
        return PrepareLayer(std::make_unique<TScriptedLayer>(&GetUpdateRects(), FManager, FScript));
    }
    void CalculationFinished(TObject *Sender) override {
        if (HoldEnds) {
            EndHeld.SetEvent();
            EXPECT_EQ(Door.WaitFor(Patience), TEvent::wrSignaled);
        }
        TRecordingFractal::CalculationFinished(Sender);
        if (GetCalculatingCount() == 0)
            Ended.SetEvent();
    }

private:
    TCalculateManager *FManager;
    TLayerScript &FScript;
};

} // namespace

// The thread that ends a layer's run ends it in the document's count, without any help from
// the thread that made the document (which dispatches no message here); freeing or restarting
// the layer afterwards keeps the count balanced.
TEST_F(TFractalDocumentTest, ARunEndsInTheCountOnTheThreadThatEndsIt) {
    const struct {
        const char *Name;
        bool Delete;
    } cases[] = {{"layer freed", true}, {"layer restarted", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        TLayerScript script;
        script.Gate.ResetEvent();
        TGatedFractal fractal(&Manager, script);
        fractal.SetImageSize(24, 16);
        TLayer &layer = fractal.Layer();
        ASSERT_EQ(layer.GetCalculationState(), csCalculating);
        EXPECT_EQ(fractal.GetCalculatingCount(), 1);
        EXPECT_TRUE(fractal.GetTimer().Running());
        script.Gate.SetEvent();
        ASSERT_EQ(fractal.Ended.WaitFor(Patience), TEvent::wrSignaled) << "the end waits for this thread";
        EXPECT_EQ(layer.GetCalculationState(), csIdle);
        EXPECT_FALSE(fractal.GetTimer().Running());
        if (c.Delete) {
            fractal.GetLayers().Delete(0);
        } else {
            script.Gate.ResetEvent();
            fractal.Ended.ResetEvent();
            layer.GetFormula().SetMaxIter(layer.GetFormula().GetMaxIter() + 1);
            EXPECT_EQ(fractal.GetCalculatingCount(), 1);
            script.Gate.SetEvent();
            ASSERT_EQ(fractal.Ended.WaitFor(Patience), TEvent::wrSignaled);
            EXPECT_EQ(layer.GetCalculationState(), csIdle);
        }
        EXPECT_EQ(fractal.GetCalculatingCount(), 0);
        EXPECT_TRUE(fractal.IsCalculationDone());
        EXPECT_FALSE(fractal.GetTimer().Running());
    }
}

// The layer calculates again while the thread that ended its last run is still on its way into
// the document's count: the new run is counted at once, the old one's end still arrives, and the
// document's calculation ends with the new run.
TEST_F(TFractalDocumentTest, ARestartWhileTheLastEndIsReportedKeepsTheCountBalanced) {
    TLayerScript script;
    script.Gate.ResetEvent();
    TGatedFractal fractal(&Manager, script);
    fractal.HoldEnds = true;
    fractal.SetImageSize(24, 16);
    TLayer &layer = fractal.Layer();
    script.Gate.SetEvent();
    ASSERT_EQ(fractal.EndHeld.WaitFor(Patience), TEvent::wrSignaled);
    EXPECT_EQ(layer.GetCalculationState(), csIdle);
    EXPECT_EQ(fractal.GetCalculatingCount(), 1);

    fractal.HoldEnds = false;
    script.Gate.ResetEvent();
    layer.GetFormula().SetMaxIter(layer.GetFormula().GetMaxIter() + 1);
    EXPECT_EQ(layer.GetCalculationState(), csCalculating);
    EXPECT_EQ(fractal.GetCalculatingCount(), 2);

    fractal.Door.SetEvent();
    script.Gate.SetEvent();
    ASSERT_EQ(fractal.Ended.WaitFor(Patience), TEvent::wrSignaled)
        << "still counted as calculating: " << fractal.GetCalculatingCount();
    EXPECT_EQ(fractal.GetCalculatingCount(), 0);
    EXPECT_EQ(layer.GetCalculationState(), csIdle);
    EXPECT_TRUE(fractal.IsCalculationDone());
    EXPECT_FALSE(fractal.GetTimer().Running());
}

// A start that fails after the document counted it (here the layer cannot choose its precision)
// leaves the layer paused and the document not calculating; resumed later, it ends normally.
TEST_F(TFractalDocumentTest, AFailedStartLeavesTheDocumentNotCalculating) {
    TLayerScript script;
    TGatedFractal fractal(&Manager, script);
    fractal.SetImageSize(24, 16);
    ASSERT_TRUE(WaitUntil([&] { return fractal.IsCalculationDone(); }, Patience));
    script.RefusePrecision = true;
    EXPECT_THROW(fractal.Layer().Recalculate(), ELayerError);
    EXPECT_EQ(fractal.GetCalculatingCount(), 0);
    EXPECT_FALSE(fractal.IsCalculating());
    EXPECT_TRUE(fractal.HasPausedLayers());
    EXPECT_FALSE(fractal.GetTimer().Running());

    script.RefusePrecision = false;
    fractal.ResumeCalculation();
    ASSERT_TRUE(WaitUntil([&] { return fractal.IsCalculationDone(); }, Patience));
    EXPECT_EQ(fractal.Layer().GetCalculationState(), csIdle);
}

namespace {
struct TProgressRecorder {
    std::vector<int> Percents;
    void Progress(TObject *, int Percent) { Percents.push_back(Percent); }
};
} // namespace

TEST_F(TFractalDocumentTest, ReadingReportsProgressFromZeroToHundredInOrder) {
    TProgressRecorder recorder;
    Fractal->ReadParameters(*ReaderOf("p", "fractal:\r\n  width=8\r\n  height=6\r\n  layers=2\r\n"
                                           "layer:\r\n  caption=\"A\"\r\nlayer:\r\n  caption=\"B\"\r\n"),
                            TCustomFractal::rfTakeSize, MakeEvent<&TProgressRecorder::Progress>(&recorder));
    ASSERT_GE(recorder.Percents.size(), 4u);
    EXPECT_EQ(recorder.Percents.front(), 0);
    EXPECT_EQ(recorder.Percents.back(), 100);
    // Each layer starts at its share: 100 / 3 and 200 / 3.
    EXPECT_NE(std::find(recorder.Percents.begin(), recorder.Percents.end(), 33), recorder.Percents.end());
    EXPECT_NE(std::find(recorder.Percents.begin(), recorder.Percents.end(), 66), recorder.Percents.end());
    for (std::size_t i = 1; i < recorder.Percents.size(); ++i)
        EXPECT_LE(recorder.Percents[i - 1], recorder.Percents[i]) << i;
}

TEST(TFractalImageSize, TheLimitFollowsTheMemoryEstimate) {
    // The image settings' estimate: width x height x (2 x layers + 5) bytes.
    EXPECT_EQ(ImageMemoryEstimate(640, 480, 2), 640LL * 480 * 9);
    EXPECT_EQ(ImageMemoryEstimate(100000, 100000, 3), 100000LL * 100000 * 11);
    const struct {
        std::int32_t Width, Height, Layers;
        bool Allowed;
    } cases[] = {
        {640, 480, 1, true},      {8192, 8192, 1, true},       {16384, 16384, 1, false},
        {8192, 8192, 2, true},    {16384, 16384, 2, false},    {60000, 60000, 1, false},
        {16777216, 16, 1, false}, {-5, -7, 1, false},          {0, 480, 1, false},
        {640, 480, 0, false},     {4, 3, MaxLayerCount, true}, {4, 3, MaxLayerCount + 1, false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ImageSizeAllowed(c.Width, c.Height, c.Layers), c.Allowed)
            << c.Width << " x " << c.Height << ", " << c.Layers;
        EXPECT_EQ(ImageSizeAllowed(c.Width, c.Height, c.Layers),
                  c.Width > 0 && c.Height > 0 && c.Layers > 0 && c.Layers <= MaxLayerCount &&
                      ImageMemoryEstimate(c.Width, c.Height, c.Layers) <= MaxImageMemory);
    }
}

TEST_F(TFractalDocumentTest, SizesBeyondTheLimitAreRefusedBeforeAnythingChanges) {
    MakeTwoLayers();
    const std::string before = WrittenText(*Fractal, TCustomFractal::wfActive);
    const TLayer *active = Fractal->GetActiveLayer();
    const std::string layer = "layer:\r\n  caption=\"Big\"\r\n";
    const struct {
        const char *Name;
        std::string Body;
    } cases[] = {
        {"60000 x 60000", "fractal:\r\n  width=60000\r\n  height=60000\r\n  layers=1\r\n" + layer},
        {"100000 x 100000", "fractal:\r\n  width=100000\r\n  height=100000\r\n  layers=1\r\n" + layer},
        {"16777216 x 16", "fractal:\r\n  width=16777216\r\n  height=16\r\n  layers=1\r\n" + layer},
        {"two layers of 16384 x 16384",
         "fractal:\r\n  width=16384\r\n  height=16384\r\n  layers=2\r\n" + layer + layer},
        {"-5 x -7", "fractal:\r\n  width=-5\r\n  height=-7\r\n  layers=1\r\n" + layer},
        {"zero width", "fractal:\r\n  width=0\r\n  layers=1\r\n" + layer},
        {"10000 bare layers",
         [] {
             std::string body = "fractal:\r\n  layers=10000\r\n";
             for (int i = 0; i < 10000; ++i)
                 body += "layer:\r\n";
             return body;
         }()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_THROW(ReadText(*Fractal, "big", c.Body), Exception);
        EXPECT_EQ(Fractal->GetWidth(), 24);
        EXPECT_EQ(Fractal->GetHeight(), 16);
        ASSERT_EQ(Fractal->GetLayers().Count(), 2);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(Fractal->GetLayers().Items(i).GetWidth(), 24);
            EXPECT_EQ(Fractal->GetLayers().Items(i).GetImage().Width(), 24);
        }
        EXPECT_EQ(Fractal->GetActiveLayer(), active);
        EXPECT_EQ(WrittenText(*Fractal, TCustomFractal::wfActive), before);
        EXPECT_FALSE(Fractal->IsChanging());
    }
    // Setting such a size is refused the same way; the document goes on as before.
    EXPECT_THROW(Fractal->SetImageSize(60000, 60000), EFractalError);
    EXPECT_THROW(Fractal->SetImageSize(-5, -7), EFractalError);
    EXPECT_EQ(Fractal->GetWidth(), 24);
    EXPECT_EQ(WrittenText(*Fractal, TCustomFractal::wfActive), before);
    EXPECT_NE(Fractal->DuplicateLayer("After"), nullptr);
    EXPECT_EQ(Fractal->GetLayers().Items(1).GetImage().Width(), 24);
}

TEST_F(TFractalDocumentTest, ASizeMemoryCannotHoldLeavesEveryLayerAtTheOldSize) {
    Fractal->SetImageSize(8, 6);
    Fractal->DuplicateLayer("Second");
    // Colours of 16 bytes a pixel in the lower layer: its image of that size fits no 32-bit
    // address space, while the estimate (two bytes a pixel a layer) stays within the limit.
    Fractal->GetLayers().Items(1).GetImage().SetMode(lmFloatColor);
    const std::int32_t side = 10900;
    ASSERT_TRUE(ImageSizeAllowed(side, side, 2));
    EXPECT_THROW(Fractal->SetImageSize(side, side), EOutOfMemory);
    EXPECT_EQ(Fractal->GetWidth(), 8);
    EXPECT_EQ(Fractal->GetHeight(), 6);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Fractal->GetLayers().Items(i).GetWidth(), 8);
        EXPECT_EQ(Fractal->GetLayers().Items(i).GetImage().Width(), 8);
        EXPECT_EQ(Fractal->GetLayers().Items(i).GetImage().Height(), 6);
    }
    EXPECT_FALSE(Fractal->IsChanging());
}

// A document whose layers come from a factory that fails the way the standard library does.
class TFailingLayersFractal : public TRecordingFractal {
public:
    using TRecordingFractal::TRecordingFractal;
    int FailAt = -1; // the layer made at this count fails; -1 never
    bool BadAlloc = true;

protected:
    std::unique_ptr<TLayer> CreateLayer() override {
        if (FailAt >= 0 && Made++ == FailAt) {
            if (BadAlloc)
                throw std::bad_alloc();
            throw std::runtime_error("factory broke");
        }
        return TRecordingFractal::CreateLayer();
    }

private:
    int Made = 0;
};

TEST_F(TFractalDocumentTest, AFailedReadLeavesTheOldLayersWhole) {
    MakeTwoLayers();
    const std::string text = WrittenText(*Fractal, TCustomFractal::wfActive);
    Fractal->DuplicateLayer("Third");
    const std::string before = WrittenText(*Fractal, TCustomFractal::wfActive);
    const TLayer *active = Fractal->GetActiveLayer();

    // The second layer of the entry fails after the first one was read.
    std::string badValue = text;
    const std::size_t last = badValue.rfind("layer:");
    ASSERT_NE(last, std::string::npos);
    badValue.insert(badValue.find("\r\n", last) + 2, "  opacity=lots\r\n");
    std::string missing = text;
    const std::size_t at = missing.find("MandelPlain");
    ASSERT_NE(at, std::string::npos);
    missing.replace(at, 11, "NoSuchEntry");
    TCancellingProgress progress;
    const struct {
        const char *Name;
        std::string Body;
        TFractalProgressEvent Progress;
    } cases[] = {
        {"bad value in the last layer", badValue, TFractalProgressEvent()},
        {"missing formula in the last layer", missing, TFractalProgressEvent()},
        {"cancelled after the first layer", text, MakeEvent<&TCancellingProgress::Step>(&progress)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        try {
            Fractal->ReadParameters(*ReaderOf("Two_layers", c.Body), TCustomFractal::rfTakeSize, c.Progress);
        } catch (const Exception &) {
        }
        ASSERT_EQ(Fractal->GetLayers().Count(), 3);
        EXPECT_EQ(Fractal->GetActiveLayer(), active);
        EXPECT_EQ(WrittenText(*Fractal, TCustomFractal::wfActive), before);
        EXPECT_FALSE(Fractal->IsChanging());
    }

    // A standard library failure leaves the read as one of the library's exceptions.
    for (const bool badAlloc : {true, false}) {
        SCOPED_TRACE(badAlloc);
        TFailingLayersFractal failing(&Manager);
        const std::string fresh = WrittenText(failing, TCustomFractal::wfActive);
        failing.FailAt = 0;
        failing.BadAlloc = badAlloc;
        try {
            failing.ReadParameters(*ReaderOf("Two_layers", text), TCustomFractal::rfTakeSize,
                                   TFractalProgressEvent());
            ADD_FAILURE() << "no error";
        } catch (const EOutOfMemory &e) {
            EXPECT_TRUE(badAlloc) << e.what();
        } catch (const EFractalError &e) {
            EXPECT_FALSE(badAlloc);
            EXPECT_NE(std::string(e.what()).find("factory broke"), std::string::npos) << e.what();
        } catch (const std::exception &e) {
            ADD_FAILURE() << "escaped: " << e.what();
        }
        EXPECT_EQ(WrittenText(failing, TCustomFractal::wfActive), fresh);
        ASSERT_EQ(failing.GetLayers().Count(), 1);
        EXPECT_EQ(failing.GetActiveLayer(), &failing.GetLayers().Items(0));
    }
}

TEST_F(TFractalDocumentTest, AnEmptyLayerListKeepsNoActiveLayer) {
    MakeTwoLayers();
    Fractal->GetLayers().Clear();
    EXPECT_EQ(Fractal->GetActiveLayer(), nullptr);
    EXPECT_EQ(Fractal->GetActiveIndex(), 0);
    // The next layer becomes the active one.
    TLayer *layer = Fractal->DuplicateLayer("New");
    EXPECT_EQ(Fractal->GetActiveLayer(), layer);
}
