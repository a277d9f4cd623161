// The persistent fractal document: undo and redo over more steps than the history keeps, restoring
// the parameter text and every layer's pixels; changes that belong to the current step; credits as
// authors come and go; the keys it adds to the document's entry and their round trip; "$CALCTIME";
// and the formula entries a parameter set carries.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DocumentTestSupport.h"

#include "CompEntries.h"
#include "CompPersistent.h"
#include "FracTimer.h"
#include "GenUtils.h"
#include "SysUtils.h"

namespace {

class TPersistentFractalTest : public testing::Test {
protected:
    static void SetUpTestSuite() { Configuration = new TDocumentConfiguration("Alice"); }
    static void TearDownTestSuite() {
        delete Configuration;
        Configuration = nullptr;
    }
    void SetUp() override { TDocumentConfiguration::SetOwner("Alice"); }

    std::unique_ptr<TPersistentFractal> NewDocument() {
        return std::make_unique<TPersistentFractal>(&Manager, &HistoryManager);
    }
    static std::string Formulas() { return DocumentDataPath("FracPersistent_fixtures.ofm"); }

    static inline TDocumentConfiguration *Configuration = nullptr;
    THistoryDataManager HistoryManager{"", 1 << 28};
    TCalculateManager Manager{2};
};

void ReadText(TCustomFractal &Fractal, const std::string &Text, std::uint32_t Flags) {
    auto reader = TEntryStream::CreateFromString<TParReader>("Read {\r\n" + Text + "}\r\n");
    Fractal.ReadParameters(*reader, Flags, TFractalProgressEvent());
}

} // namespace

TEST_F(TPersistentFractalTest, UndoAndRedoOverMoreStepsThanKeptRestoreTextAndPixels) {
    auto document = NewDocument();
    SetUpMandelbrot(*document, Formulas(), 24, 18);
    ASSERT_EQ(document->GetHistory().GetCount(), 1);
    // Undo and redo read the layers anew: a layer is fetched each time.
    auto layer = [&]() -> TLayer & { return document->GetLayers().Items(0); };

    // States 0 .. 33: two of three changes move the location (a new image), the third changes the
    // opacity (the image stays and is shared with the step before).
    std::vector<std::string> texts{document->StateText(TPersistentFractal::UndoWriteFlags)};
    std::vector<std::string> pixels{LayerPixels(layer())};
    std::vector<std::string> captions{""};
    for (int i = 1; i <= 33; ++i) {
        if (i % 3 == 0) {
            layer().SetOpacity(100 - i);
            captions.push_back("Layer Opacity");
        } else {
            layer().GetMapping().Center.SetText(std::to_string(-0.5 + i / 64.0), std::to_string(i / 128.0));
            captions.push_back("Center");
        }
        WaitCalculated(*document);
        texts.push_back(document->StateText(TPersistentFractal::UndoWriteFlags));
        pixels.push_back(LayerPixels(layer()));
        ASSERT_NE(texts[i], texts[i - 1]) << i;
    }
    // 34 states, of which the history keeps the last 32.
    THistoryList &history = document->GetHistory();
    ASSERT_EQ(history.GetCount(), TPersistentFractal::HistorySteps);
    EXPECT_EQ(history.ItemIndex(), 31);
    EXPECT_EQ(history.GetItem(0)->State, texts[2]);
    EXPECT_EQ(history.GetItem(31)->Caption, captions[33]);
    EXPECT_EQ(history.GetItem(30)->Caption, captions[32]);

    for (int state = 32; state >= 2; --state) {
        ASSERT_TRUE(history.CanUndo()) << state;
        history.Undo();
        ASSERT_TRUE(WaitUntil([&] { return CalculationDone(*document); }));
        EXPECT_EQ(document->StateText(TPersistentFractal::UndoWriteFlags), texts[state]) << state;
        EXPECT_TRUE(LayerPixels(layer()) == pixels[state]) << "pixels of state " << state;
        EXPECT_EQ(history.GetCurrent()->Caption, captions[state]) << state;
    }
    EXPECT_FALSE(history.CanUndo());
    for (int state = 3; state <= 33; ++state) {
        ASSERT_TRUE(history.CanRedo()) << state;
        history.Redo();
        ASSERT_TRUE(WaitUntil([&] { return CalculationDone(*document); }));
        EXPECT_EQ(document->StateText(TPersistentFractal::UndoWriteFlags), texts[state]) << state;
        EXPECT_TRUE(LayerPixels(layer()) == pixels[state]) << "pixels of state " << state;
    }
    EXPECT_FALSE(history.CanRedo());
    EXPECT_EQ(history.GetCount(), TPersistentFractal::HistorySteps);
}

TEST_F(TPersistentFractalTest, UndoOfAddedAndRemovedLayersKeepsEachLayersPixels) {
    auto document = NewDocument();
    SetUpMandelbrot(*document, Formulas(), 20, 16);
    const std::string bottom = LayerPixels(document->GetLayers().Items(0));
    // A copy above, then moved elsewhere and recoloured by a new location.
    document->DuplicateLayer("Copy");
    WaitCalculated(*document);
    ASSERT_EQ(document->GetLayers().Count(), 2);
    TLayer &copy = document->GetLayers().Items(0);
    copy.GetMapping().Magnification.SetText("3");
    WaitCalculated(*document);
    const std::string zoomed = LayerPixels(copy);
    ASSERT_NE(zoomed, bottom);
    document->GetLayers().Delete(1);
    WaitCalculated(*document);
    ASSERT_EQ(document->GetLayers().Count(), 1);

    THistoryList &history = document->GetHistory();
    history.Undo(); // the bottom layer is back
    ASSERT_EQ(document->GetLayers().Count(), 2);
    EXPECT_TRUE(LayerPixels(document->GetLayers().Items(0)) == zoomed);
    EXPECT_TRUE(LayerPixels(document->GetLayers().Items(1)) == bottom);
    history.Undo(); // the copy's own location
    EXPECT_TRUE(LayerPixels(document->GetLayers().Items(0)) == bottom);
    history.Undo(); // no copy
    ASSERT_EQ(document->GetLayers().Count(), 1);
    EXPECT_TRUE(LayerPixels(document->GetLayers().Items(0)) == bottom);
    history.Redo();
    history.Redo();
    history.Redo();
    ASSERT_EQ(document->GetLayers().Count(), 1);
    EXPECT_TRUE(LayerPixels(document->GetLayers().Items(0)) == zoomed);
    ASSERT_TRUE(WaitUntil([&] { return CalculationDone(*document); }));
}

TEST_F(TPersistentFractalTest, InformationChangesReplaceTheCurrentStepAndAddNone) {
    auto document = NewDocument();
    SetUpMandelbrot(*document, Formulas(), 16, 12);
    // Undo and redo read the layers anew: a layer is fetched each time.
    auto layer = [&]() -> TLayer & { return document->GetLayers().Items(0); };
    layer().GetMapping().Magnification.SetText("2");
    WaitCalculated(*document);
    THistoryList &history = document->GetHistory();
    ASSERT_EQ(history.GetCount(), 2);
    history.Undo();
    ASSERT_TRUE(history.CanRedo());
    document->SetModified(false);

    struct TCase {
        const char *Name;
        void (*Apply)(TPersistentFractal &);
        const char *Written;
    };
    const TCase cases[] = {
        {"comments", [](TPersistentFractal &d) { d.SetComments("First line\r\nSecond line"); },
         "; Second line"},
        {"title", [](TPersistentFractal &d) { d.SetTitle("Renamed"); }, "title=\"Renamed\""},
        {"resolution", [](TPersistentFractal &d) { d.GetResolution().SetText("72"); }, "resolution=72"},
        {"gamma", [](TPersistentFractal &d) { d.GetGamma().SetText("1.8"); }, "gamma=1.8"},
        {"author", [](TPersistentFractal &d) { d.SetAuthor("Carol"); }, "credits=\"Carol;"},
    };
    const std::string caption = history.GetCurrent()->Caption;
    for (const TCase &c : cases) {
        const int count = history.GetCount();
        c.Apply(*document);
        EXPECT_EQ(history.GetCount(), count > 1 ? 1 : count)
            << c.Name << ": the redo step goes, nothing is added";
        EXPECT_TRUE(document->GetModified()) << c.Name;
        EXPECT_NE(history.GetCurrent()->State.find(c.Written), std::string::npos)
            << c.Name << ":\n"
            << history.GetCurrent()->State;
        EXPECT_EQ(history.GetCurrent()->Caption, caption) << c.Name << ": the step keeps its caption";
    }
    EXPECT_FALSE(history.CanRedo());

    // Values out of range are refused and keep their text; nothing is recorded.
    const std::string state = history.GetCurrent()->State;
    EXPECT_THROW(document->GetResolution().SetText("0.5"), EFloatValueError);
    EXPECT_THROW(document->GetGamma().SetText("10.5"), EFloatValueError);
    EXPECT_EQ(document->GetResolution().GetText(), "72");
    EXPECT_EQ(document->GetGamma().GetText(), "1.8");
    document->GetResolution().SetText("10000");
    document->GetGamma().SetText("0.1");
    EXPECT_EQ(history.GetCount(), 1);

    // Clearing keeps the current step only and counts as a change without undo.
    layer().GetMapping().Magnification.SetText("4");
    WaitCalculated(*document);
    ASSERT_EQ(history.GetCount(), 2);
    document->SetModified(false);
    document->ClearHistory();
    EXPECT_EQ(history.GetCount(), 1);
    EXPECT_TRUE(document->GetModified());
    EXPECT_FALSE(history.CanUndo());
}

TEST_F(TPersistentFractalTest, CreditsFollowTheAuthorsOfTheChanges) {
    auto document = NewDocument();
    // A new document is credited to the owner, today.
    ASSERT_EQ(document->GetCreditCount(), 1);
    EXPECT_EQ(document->GetCredit(0).Name, "Alice");
    EXPECT_EQ(document->GetCredit(0).Date, Date());
    SetUpMandelbrot(*document, Formulas(), 16, 12);
    document->SetCreditsText("Alice;1/2/2003");
    document->TrackCredits = true;
    // Undo and redo read the layers anew: a layer is fetched each time.
    auto layer = [&]() -> TLayer & { return document->GetLayers().Items(0); };

    // Alice edits: her credit is renewed, no new one.
    layer().GetMapping().Magnification.SetText("2");
    WaitCalculated(*document);
    ASSERT_EQ(document->GetCreditCount(), 1);
    EXPECT_EQ(document->GetCredit(0).Date, Date());
    const std::string aliceState = document->GetCredit(0).State;
    EXPECT_EQ(aliceState, document->StateText(TPersistentFractal::CreditWriteFlags));
    EXPECT_EQ(aliceState.find("credits="), std::string::npos);

    // Bob edits twice: one credit for him, newest first.
    TDocumentConfiguration::SetOwner("Bob");
    layer().GetMapping().Magnification.SetText("3");
    WaitCalculated(*document);
    layer().SetOpacity(50);
    ASSERT_EQ(document->GetCreditCount(), 2);
    EXPECT_EQ(document->GetCredit(0).Name, "Bob");
    EXPECT_EQ(document->GetCredit(1).Name, "Alice");
    EXPECT_EQ(document->GetCredit(1).State, aliceState);

    // Bob puts everything back as Alice left it: his credit goes.
    layer().SetOpacity(100);
    layer().GetMapping().Magnification.SetText("2");
    WaitCalculated(*document);
    ASSERT_EQ(document->GetCreditCount(), 1);
    EXPECT_EQ(document->GetCredit(0).Name, "Alice");

    // Bob edits again, then undoes to a state of Alice's: the credits of that state come back.
    layer().GetMapping().Magnification.SetText("5");
    WaitCalculated(*document);
    ASSERT_EQ(document->GetCreditCount(), 2);
    THistoryList &history = document->GetHistory();
    history.Undo();
    ASSERT_EQ(document->GetCreditCount(), 1);
    EXPECT_EQ(document->GetCredit(0).Name, "Alice");
    // Carol edits from there: she becomes the newest credit.
    TDocumentConfiguration::SetOwner("Carol");
    layer().GetMapping().Magnification.SetText("6");
    WaitCalculated(*document);
    ASSERT_EQ(document->GetCreditCount(), 2);
    EXPECT_EQ(document->GetCredit(0).Name, "Carol");
    EXPECT_EQ(document->GetCredit(0).Date, Date());

    // While a parameter set is read nobody is credited for it.
    document->TrackCredits = false;
    layer().GetMapping().Magnification.SetText("7");
    WaitCalculated(*document);
    EXPECT_EQ(document->GetCreditCount(), 2);
}

TEST_F(TPersistentFractalTest, CreditTextsAuthorsAndCreationDates) {
    auto document = NewDocument();
    // Pairs with an empty part or a date that does not convert are left out.
    document->SetCreditsText("Ann;1/2/2003;Bob;soon;;5/6/2007;Dan;;Eve;12/31/2010");
    ASSERT_EQ(document->GetCreditCount(), 2);
    EXPECT_EQ(document->GetCredit(0).Name, "Ann");
    EXPECT_EQ(document->GetCredit(1).Name, "Eve");
    EXPECT_EQ(document->GetCreditsText(), "Ann;1/2/2003;Eve;12/31/2010");
    EXPECT_EQ(document->GetCredit(0).Date, EncodeDate(2003, 1, 2));

    // Author and creation date of older entries: with several credits each replaces them all.
    document->SetCreated("August 19, 2004");
    ASSERT_EQ(document->GetCreditCount(), 1);
    EXPECT_EQ(document->GetCreditsText(), "Alice;8/19/2004");
    document->SetAuthor("Zed");
    EXPECT_EQ(document->GetCreditsText(), "Zed;8/19/2004");
    document->SetCreated("sometime");
    EXPECT_EQ(document->GetCreditsText(), "Zed;8/19/2004");
    document->SetCreditsText("A;1/1/2001;B;2/2/2002");
    document->SetAuthor("Solo");
    ASSERT_EQ(document->GetCreditCount(), 1);
    EXPECT_EQ(document->GetCredit(0).Name, "Solo");
    EXPECT_EQ(document->GetCredit(0).Date, Date());

    // Keys that older entries carry are read; resolution and gamma only with their read flags.
    ReadText(*document,
             "fractal:\r\n  title=\"Old\" width=16 height=12 layers=1 author=\"Old Hand\" created=\"March 4, "
             "1999\"\r\n"
             "  resolution=150 gamma=2.2\r\nlayer:\r\n  caption=\"Background\"\r\n",
             TCustomFractal::rfTakeSize);
    EXPECT_EQ(document->GetCreditsText(), "Old Hand;3/4/1999");
    EXPECT_EQ(document->GetResolution().GetText(), "300");
    EXPECT_EQ(document->GetGamma().GetText(), "2.5");
    ReadText(*document,
             "fractal:\r\n  title=\"Old\" width=16 height=12 layers=1 resolution=150 gamma=2.2\r\n"
             "layer:\r\n  caption=\"Background\"\r\n",
             TPersistentFractal::NormalReadFlags);
    EXPECT_EQ(document->GetResolution().GetText(), "150");
    EXPECT_EQ(document->GetGamma().GetText(), "2.2");
}

TEST_F(TPersistentFractalTest, KeysOfTheEntryAndTheirRoundTrip) {
    // Entries for files name their formula files without folder: they are found in the formula
    // folder.
    TFolderConfiguration &folders = *ConfigManager()->Folder;
    const std::string savedFolder = folders.Formula;
    folders.Formula = DocumentDataPath("");
    struct TRestore {
        TFolderConfiguration &Folders;
        std::string Saved;
        ~TRestore() { Folders.Formula = Saved; }
    } restore{folders, savedFolder};
    auto document = NewDocument();
    SetUpMandelbrot(*document, Formulas(), 16, 12);
    // Defaults are not written; the credits only without flag 32.
    std::string text = document->StateText(TPersistentFractal::FileWriteFlags);
    EXPECT_EQ(text.find("resolution="), std::string::npos);
    EXPECT_EQ(text.find("gamma="), std::string::npos);
    EXPECT_NE(text.find("credits=\"Alice;"), std::string::npos) << text;
    EXPECT_EQ(document->StateText(TPersistentFractal::CreditWriteFlags).find("credits="), std::string::npos);

    // Save parameters clears Modified; other writes do not.
    document->SetModified(true);
    document->StateText(TPersistentFractal::FileWriteFlags);
    EXPECT_TRUE(document->GetModified());
    document->StateText(TPersistentFractal::SaveParametersFlags);
    EXPECT_FALSE(document->GetModified());

    document->SetComments("A study\r\nof the main bulb");
    document->GetResolution().SetText("72");
    document->GetGamma().SetText("1.8");
    document->SetCreditsText("Alice;1/2/2003;Bob;4/5/2006");
    document->DuplicateLayer("Second");
    WaitCalculated(*document);
    const std::string saved = document->StateText(TPersistentFractal::FileWriteFlags);
    EXPECT_EQ(saved.rfind("; A study\r\n; of the main bulb\r\nfractal:", 0), 0u) << saved;

    auto loaded = NewDocument();
    ReadText(*loaded, saved, TPersistentFractal::NormalReadFlags);
    EXPECT_EQ(loaded->GetComments(), "A study\r\nof the main bulb");
    EXPECT_EQ(loaded->GetCreditsText(), "Alice;1/2/2003;Bob;4/5/2006");
    EXPECT_EQ(loaded->GetLayers().Count(), 2);
    EXPECT_EQ(loaded->StateText(TPersistentFractal::FileWriteFlags), saved);
    WaitCalculated(*loaded);
}

TEST_F(TPersistentFractalTest, CalcTimeIsTheElapsedTimeOrAnEstimate) {
    auto document = NewDocument();
    SetUpMandelbrot(*document, Formulas(), 16, 12);
    document->GetTimer().SetElapsed(1.5 / 24);
    EXPECT_EQ(document->ExpandCalcTime("Took $CALCTIME, $calctime."), "Took 1:30:00.00, 1:30:00.00.");
    document->SetComments("Time: $CalcTime");
    EXPECT_NE(document->StateText(0).find("; Time: 1:30:00.00\r\n"), std::string::npos);
    EXPECT_EQ(document->GetComments(), "Time: $CalcTime");

    // While a layer is paused the time is an estimate.
    // Undo and redo read the layers anew: a layer is fetched each time.
    auto layer = [&]() -> TLayer & { return document->GetLayers().Items(0); };
    layer().GetFormula().SetMaxIter(4000);
    document->PauseCalculation();
    if (document->HasPausedLayers()) {
        const std::string text = document->ExpandCalcTime("$CALCTIME");
        EXPECT_EQ(text.size() > 12 ? text.substr(text.size() - 12) : text, " (estimated)");
    }
    document->ResumeCalculation();
    WaitCalculated(*document);
}

TEST_F(TPersistentFractalTest, FormulaEntriesAreNamedAfterTheirFilesExceptStandard) {
    auto document = NewDocument();
    // Undo and redo read the layers anew: a layer is fetched each time.
    auto layer = [&]() -> TLayer & { return document->GetLayers().Items(0); };
    layer().GetFormula().SetSource(DocumentDataPath("My Forms.ofm"), "Spiral");
    document->DuplicateLayer("Second");
    document->GetLayers().Items(0).GetFormula().SetSource(DocumentDataPath("standard.ofm"), "Basic");
    WaitCalculated(*document);

    TEntryWriter entries;
    entries.AppendEntry(std::string("old text\r\n"), "My_Forms.ofm:Spiral", "", false);
    document->WriteFormulaEntries(entries, false);
    document->WriteFormulaEntries(entries, true);
    ASSERT_EQ(entries.GetCount(), 1) << entries.GetText();
    EXPECT_EQ(entries.GetEntry(0)->Name(), "My_Forms.ofm:Spiral");
    // The first layer is below the copy now.
    EXPECT_EQ(entries.GetEntry(0)->GetText(), document->GetLayers().Items(1).GetFormula().GetSourceText());
    EXPECT_NE(entries.GetEntry(0)->GetText().find("#pixel * 0.5"), std::string::npos);
}

TEST_F(TPersistentFractalTest, ANewDocumentHasOneStepWithTheDefaults) {
    TFractalConfiguration &options = *ConfigManager()->Fractal;
    const std::string saved = options.DefaultComments;
    options.DefaultComments = "A note for every new fractal";
    auto document = NewDocument();
    options.DefaultComments = saved;
    EXPECT_EQ(document->GetComments(), "A note for every new fractal");
    EXPECT_EQ(document->GetResolution().GetText(), "300");
    EXPECT_EQ(document->GetGamma().GetText(), "2.5");
    ASSERT_EQ(document->GetHistory().GetCount(), 1);
    EXPECT_EQ(document->GetCurrentStep(), document->GetHistory().GetCurrent());
    EXPECT_EQ(document->GetHistory().GetCurrent()->Data->GetCount(), 1);
    EXPECT_EQ(document->GetHistory().GetCurrent()->State,
              document->StateText(TPersistentFractal::UndoWriteFlags));
    EXPECT_NE(document->GetHistory().GetCurrent()->State.find("; A note for every new fractal\r\n"),
              std::string::npos);
}

TEST_F(TPersistentFractalTest, ExportedImagesCarryTheDocumentsResolution) {
    auto document = NewDocument();
    SetUpMandelbrot(*document, Formulas(), 24, 18);
    document->GetResolution().SetText("600");
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string fileName = std::string(folder) + "OvPersistentExport.bmp";
    DeleteFileA(fileName.c_str());
    document->ExportImage(fileName, 0, false, false, 90);

    std::string bytes;
    {
        auto stream = std::make_unique<TFileStream>(fileName, fmOpenRead);
        bytes.resize(static_cast<std::size_t>(stream->Size()));
        stream->ReadBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    }
    DeleteFileA(fileName.c_str());
    auto le32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
    };
    // 24 x 18 pixels of 3 bytes: rows of 72 bytes need no padding.
    ASSERT_EQ(bytes.size(), 54u + 18u * 72u);
    EXPECT_EQ(le32(18), 24u);
    EXPECT_EQ(le32(22), 18u);
    // 600 dots per inch are 23622.05 dots per metre.
    EXPECT_EQ(le32(38), 23622u);
    EXPECT_EQ(le32(42), 23622u);
    // The set and its outside differ: the image is the calculated one, not a blank.
    const std::string pixels = bytes.substr(54);
    EXPECT_NE(pixels.find_first_not_of(pixels[0]), std::string::npos);
}
