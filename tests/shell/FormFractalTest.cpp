// The fractal window inside a main window: drags through the window's mouse handlers move the
// location by exact amounts and undo returns it; switch mode only for formulas that name a switch
// formula; the save question when closing a changed fractal; the finish sound after more than a
// minute; the status panel of a finished calculation.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/documents/DocumentTestSupport.h"
#include "tests/shell/FormMainTestSupport.h"

#include "FormFractal.h"
#include "FileHistory.h"
#include "FormFractalStartup.h"
#include "FracCalculate.h"
#include "FracHistory.h"
#include "FracLayer.h"
#include "FracManager.h"
#include "FracMapping.h"
#include "GenSetup.h"
#include "SelectArea.h"
#include "HugeMath.h"

namespace {

std::string ShellDataPath(const std::string &Name) {
    return std::string(TEST_DATA_DIR) + "shell\\data\\" + Name;
}

// The formulas that ship with the program (one of them names a switch formula).
std::string ShippedFormulas() {
    return std::string(TEST_DATA_DIR) + "..\\resources\\formulas\\Standard.ofm";
}

// |A - B| of two decimal texts, in 100 digits.
long double Distance(const std::string &A, const std::string &B) {
    THugeFloat a(100), b(100);
    a.SetText(A);
    b.SetText(B);
    a.Subtract(b);
    a.Abs();
    return a.GetExtended();
}

class FractalWindowTest : public MainWindowTest {
protected:
    static void SetUpTestSuite() { Configuration = new TDocumentConfiguration("Alice"); }
    static void TearDownTestSuite() {
        delete Configuration;
        Configuration = nullptr;
    }
    void SetUp() override {
        MainWindowTest::SetUp();
        FManagerStarted = FractalManager() == nullptr;
        if (FManagerStarted)
            InitializeFracManager();
        SetFractalMessageDialog([this](const std::string &Message, TMsgDlgType, TMsgDlgButtons) {
            Messages.push_back(Message);
            return Answer;
        });
    }
    void TearDown() override {
        for (TFractalForm *form : Forms)
            delete form;
        SetFractalMessageDialog(nullptr);
        SetFractalSoundPlayer(nullptr);
        StoreMouseMode(mmoNormal);
        if (FManagerStarted)
            FinalizeFracManager();
        MainWindowTest::TearDown();
    }

    // A shown window for a calculated Mandelbrot set of the given formula file.
    TFractalForm *OpenWindow(std::int32_t Width, std::int32_t Height, const std::string &Center,
                             const std::string &Magnification, const std::string &FormulaFile) {
        auto document = std::make_unique<TInteractiveFractal>(&Manager, &HistoryManager);
        SetUpMandelbrot(*document, FormulaFile, Width, Height, Center, Magnification, 6);
        TFractalForm *form = TFractalForm::CreateWithFractal(Application, std::move(document));
        Forms.push_back(form);
        form->Show();
        window_test::PumpPending();
        return form;
    }

    static inline TDocumentConfiguration *Configuration = nullptr;
    THistoryDataManager HistoryManager{"", 1 << 28};
    TCalculateManager Manager{2};
    std::vector<TFractalForm *> Forms;
    std::vector<std::string> Messages;
    int Answer = mrCancel;
    bool FManagerStarted = false;
};

// A Ctrl+left drag pans: with Ctrl held throughout at full speed, with the modifiers released once
// and Ctrl pressed again at a quarter (rounded toward zero). The image is 128 x 96 pixels (4:3), so
// a pixel spans 4 / (128 M) of the plane: 64 pixels are 2 / M, 16 pixels 0.5 / M.
TEST_F(FractalWindowTest, CtrlDragPansByTheExactAmountAndUndoReturnsTheView) {
    struct TCase {
        const char *Name;
        bool ReleaseModifiers;
        const char *Re;
    } cases[] = {
        {"Ctrl held throughout", false, "-0.7436438890371587"},
        {"Ctrl pressed again", true, "-0.7436438875371587"},
    };
    const std::string startRe = "-0.7436438870371587", startIm = "0.131825904205312";
    TFractalForm *form =
        OpenWindow(128, 96, startRe + "/" + startIm, "1e9", ShellDataPath("FracInteractive_fixtures.ofm"));
    // Undo puts new layers in place: the mapping is looked up each time.
    const auto re = [&] { return form->Fractal().GetLayers().Items(0).GetMapping().Center.Re.GetText(); };
    const auto im = [&] { return form->Fractal().GetLayers().Items(0).GetMapping().Center.Im.GetText(); };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        form->DisplayMouseDown(nullptr, mbLeft, ssCtrl | ssLeft, 32, 40);
        EXPECT_EQ(GetMouseMode(), mmoViewPress);
        form->DisplayMouseMove(nullptr, ssCtrl | ssLeft, 64, 40);
        EXPECT_EQ(GetMouseMode(), mmoDragging);
        EXPECT_EQ(form->Fractal().GetDragKind(), TInteractiveFractal::TDragKind::Pan);
        // The status bar follows the drag: the pan layout, its text and the offset so far.
        TStatusBar *bar = form->GetStatusBar();
        ASSERT_NE(bar, nullptr);
        ASSERT_EQ(bar->PanelCount(), 3 + 1) << "the drag's panels and the main window's task panel";
        EXPECT_EQ(bar->Panels(0).Text, " Drag to pan. Use Ctrl for fine adjustment, Esc to cancel.");
        EXPECT_EQ(bar->Panels(1).Text, " X: 32");
        EXPECT_EQ(bar->Panels(2).Text, " Y: 0");
        if (c.ReleaseModifiers)
            form->DisplayMouseMove(nullptr, ssLeft, 80, 40);
        form->DisplayMouseUp(nullptr, mbLeft, ssCtrl, 96, 40);
        EXPECT_EQ(GetMouseMode(), mmoNormal);
        EXPECT_LT(Distance(re(), c.Re), 1e-25L) << re();
        EXPECT_LT(Distance(im(), startIm), 1e-25L) << im();
        WaitCalculated(form->Fractal());
        form->UndoItem->Click();
        EXPECT_LT(Distance(re(), startRe), 1e-25L) << re();
        WaitCalculated(form->Fractal());
    }
    // A press without movement does nothing; Esc during a drag restores the view.
    form->DisplayMouseDown(nullptr, mbLeft, ssLeft, 20, 20);
    form->DisplayMouseUp(nullptr, mbLeft, 0, 20, 20);
    EXPECT_EQ(GetMouseMode(), mmoNormal);
    form->DisplayMouseDown(nullptr, mbLeft, ssCtrl | ssLeft, 32, 40);
    form->DisplayMouseMove(nullptr, ssCtrl | ssLeft, 90, 40);
    bool handled = false;
    form->FormShortCut(VK_ESCAPE, 0, handled);
    EXPECT_TRUE(handled);
    EXPECT_EQ(GetMouseMode(), mmoNormal);
    EXPECT_LT(Distance(re(), startRe), 1e-25L);
    EXPECT_FALSE(form->Fractal().GetHistory().CanUndo());
}

// Space enters switch mode only when the active layer's formula names a formula to switch to.
// A left drag with the Select action draws the selection box from the press point; the box menu's
// Zoom In and Crop then give exactly what the view operations give headless for that box, and undo
// returns the view.
TEST_F(FractalWindowTest, BoxZoomAndCropThroughTheWindowEqualTheHeadlessOperations) {
    const std::string center = "-0.75/0.1", magnification = "4";
    const std::string formulas = ShellDataPath("FracInteractive_fixtures.ofm");
    TFractalForm *form = OpenWindow(128, 96, center, magnification, formulas);
    WaitCalculated(form->Fractal());
    const auto location = [](TInteractiveFractal &Fractal) {
        const TMapping &mapping = Fractal.GetLayers().Items(0).GetMapping();
        return std::vector<std::string>{mapping.Center.Re.GetText(), mapping.Center.Im.GetText(),
                                        mapping.Magnification.GetText(), std::to_string(Fractal.GetWidth()),
                                        std::to_string(Fractal.GetHeight())};
    };
    const std::vector<std::string> start = location(form->Fractal());
    struct TCase {
        const char *Name;
        void (TFractalForm::*Command)();
        void (*Headless)(TInteractiveFractal &, const TViewBox &, bool);
    } cases[] = {
        {"zoom in", &TFractalForm::SelectZoomIn,
         [](TInteractiveFractal &F, const TViewBox &B, bool Stretch) { F.SelectZoomIn(B, Stretch); }},
        {"crop", &TFractalForm::SelectCrop,
         [](TInteractiveFractal &F, const TViewBox &B, bool) { F.SelectCrop(B); }},
    };
    const bool boxStarted = SelectArea() == nullptr;
    if (boxStarted)
        InitializeSelectArea();
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        // Left press at (40, 30), dragged beyond the drag threshold: a new box around the press
        // point, sized by the drag.
        form->DisplayMouseDown(nullptr, mbLeft, ssLeft, 40, 30);
        EXPECT_EQ(GetMouseMode(), mmoSelectPress);
        form->DisplayMouseMove(nullptr, ssLeft, 60, 44);
        EXPECT_EQ(GetMouseMode(), mmoSelect);
        form->DisplayMouseMove(nullptr, ssLeft, 64, 46);
        form->DisplayMouseUp(nullptr, mbLeft, 0, 64, 46);
        ASSERT_TRUE(SelectArea()->GetActive());
        EXPECT_EQ(SelectArea()->GetCenter().x, 40);
        EXPECT_EQ(SelectArea()->GetCenter().y, 30);
        EXPECT_GT(SelectArea()->GetHalfHeight(), 4);
        const TViewBox box = SelectArea()->GetViewBox();
        const bool stretch = SelectArea()->GetStretch();

        auto headless = std::make_unique<TInteractiveFractal>(&Manager, &HistoryManager);
        SetUpMandelbrot(*headless, formulas, 128, 96, center, magnification, 6);
        c.Headless(*headless, box, stretch);
        (form->*c.Command)();
        EXPECT_EQ(GetMouseMode(), mmoNormal);
        EXPECT_FALSE(SelectArea()->GetActive());
        EXPECT_EQ(location(form->Fractal()), location(*headless));
        EXPECT_NE(location(form->Fractal()), start);
        WaitCalculated(form->Fractal());
        form->UndoItem->Click();
        EXPECT_EQ(location(form->Fractal()), start);
        WaitCalculated(form->Fractal());
    }
    if (boxStarted)
        FinalizeSelectArea();
}

TEST_F(FractalWindowTest, SpaceEntersSwitchModeOnlyForAFormulaWithASwitchFormula) {
    struct TCase {
        const char *Name;
        std::string FormulaFile;
        int Mode;
    } cases[] = {
        {"no switch formula", "", mmoNormal},
        {"switches to Julia", ShippedFormulas(), mmoSwitch},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TFractalForm *form = OpenWindow(32, 24, "-0.5/0", "1", ShellDataPath("FracInteractive_fixtures.ofm"));
        if (!c.FormulaFile.empty()) {
            form->Fractal().BeginChange();
            form->Fractal().GetActiveLayer()->GetFormula().SetSource(c.FormulaFile, "Mandelbrot");
            form->Fractal().EndChange();
            WaitCalculated(form->Fractal());
        }
        bool handled = false;
        form->FormShortCut(VK_SPACE, 0, handled);
        EXPECT_EQ(GetMouseMode(), c.Mode);
        EXPECT_EQ(form->SwitchModeItem->Enabled(), c.Mode == mmoSwitch);
        handled = false;
        form->FormShortCut(VK_ESCAPE, 0, handled);
        EXPECT_EQ(GetMouseMode(), mmoNormal);
    }
}

// Closing a changed fractal asks; Cancel keeps the window, No lets it close, Yes closes only when
// the save succeeded: not when the file cannot be written or no name is given.
TEST_F(FractalWindowTest, ClosingAChangedFractalAsksToSave) {
    TFractalForm *form = OpenWindow(32, 24, "-0.5/0", "1", ShellDataPath("FracInteractive_fixtures.ofm"));
    form->Fractal().SetTitle("Spiral");
    form->Fractal().SetModified(false);
    EXPECT_TRUE(form->CloseQuery()) << "an unchanged fractal closes without a question";
    EXPECT_TRUE(Messages.empty());
    form->Fractal().SetModified(true);
    struct TCase {
        int Answer;
        bool Closes;
        size_t Messages;
    } cases[] = {{mrCancel, false, 1}, {mrNo, true, 1}, {mrYes, false, 2}};
    form->SetFractalFile("C:\\no such folder\\Spiral.ofr");
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Answer);
        Messages.clear();
        Answer = c.Answer;
        EXPECT_EQ(form->CloseQuery(), c.Closes);
        ASSERT_EQ(Messages.size(), c.Messages);
        EXPECT_EQ(Messages[0], "Save changes to 'Spiral'?");
    }
    // An untitled fractal asks for a name first; no name keeps the window.
    form->SetFractalFile("");
    bool asked = false;
    form->OnAskFileName = [&] {
        asked = true;
        return std::string();
    };
    Answer = mrYes;
    Messages.clear();
    EXPECT_FALSE(form->CloseQuery());
    EXPECT_TRUE(asked);
    EXPECT_EQ(Messages.size(), 1u);
    // Yes with a name that can be written saves the fractal there and lets the window close.
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string target = std::string(folder) + "ov-fractal-window-save.ofr";
    DeleteFileA(target.c_str());
    form->OnAskFileName = [&] { return target; };
    Messages.clear();
    EXPECT_TRUE(form->CloseQuery());
    EXPECT_EQ(Messages.size(), 1u);
    EXPECT_NE(GetFileAttributesA(target.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(form->FractalFile(), target);
    EXPECT_FALSE(form->Fractal().GetModified());
    DeleteFileA(target.c_str());
    form->Fractal().SetModified(true);
    TFractalConfiguration &options = *ConfigManager()->Fractal;
    const bool saved = options.SaveWhenClosing;
    options.SaveWhenClosing = false;
    Messages.clear();
    EXPECT_TRUE(form->CloseQuery());
    EXPECT_TRUE(Messages.empty());
    options.SaveWhenClosing = saved;
}

// The finish sound plays only after a calculation of more than a minute, and only when enabled;
// a finished calculation reads " Completed" in the first status panel.
TEST_F(FractalWindowTest, FinishedCalculationShowsCompletedAndPlaysTheSoundAfterAMinute) {
    TFractalForm *form = OpenWindow(32, 24, "-0.5/0", "1", ShellDataPath("FracInteractive_fixtures.ofm"));
    std::vector<std::string> played;
    SetFractalSoundPlayer([&](const std::string &File) { played.push_back(File); });
    TFractalConfiguration &options = *ConfigManager()->Fractal;
    const bool savedEnabled = options.SoundEnabled;
    const std::string savedFile = options.SoundFile;
    options.SoundFile = "C:\\done.wav";
    struct TCase {
        bool Enabled;
        int Seconds;
        bool Plays;
    } cases[] = {{true, 60, false}, {true, 61, true}, {false, 61, false}};
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Seconds);
        options.SoundEnabled = c.Enabled;
        played.clear();
        form->Fractal().GetTimer().SetElapsed(c.Seconds / 86400.0);
        form->TimerTimer(nullptr);
        EXPECT_EQ(played.size(), c.Plays ? 1u : 0u);
    }
    options.SoundEnabled = savedEnabled;
    options.SoundFile = savedFile;
    TStatusBar *bar = form->GetStatusBar();
    ASSERT_NE(bar, nullptr);
    ASSERT_GE(bar->PanelCount(), 4);
    EXPECT_EQ(bar->Panels(0).Text, " Completed");
    EXPECT_EQ(bar->Panels(3).Text.rfind(" Elapsed: ", 0), 0u);
}

// An image larger than the main window's client area: the window fits the area less 40 pixels
// (scroll bars show the rest) and moves to 20 where it would stick out.
TEST_F(FractalWindowTest, ALargeImageGivesAWindowThatFitsTheClientArea) {
    TFractalForm *form = OpenWindow(32, 24, "-0.5/0", "1", ShellDataPath("FracInteractive_fixtures.ofm"));
    RECT area;
    ASSERT_TRUE(GetClientRect(Form->ClientHandle(), &area));
    form->Fractal().SetImageSize(area.right + 200, area.bottom + 200);
    window_test::PumpPending();
    EXPECT_EQ(form->Width(), area.right - 40);
    EXPECT_EQ(form->Height(), area.bottom - 40);
    EXPECT_LE(form->Left(), 20);
    EXPECT_LE(form->Top(), 20);
    EXPECT_EQ(form->Display()->Width(), area.right + 200);
    EXPECT_EQ(form->Display()->Left(), 0) << "a display larger than the box starts at its corner";
}

// Renaming the fractal tells the tool windows once (interaction event) and changes the caption.
struct TEventCounter {
    int Count = 0;
    void Counted(TObject *) { ++Count; }
};

TEST_F(FractalWindowTest, RenamingTheFractalSendsTheInteractionEventOnce) {
    TFractalForm *form = OpenWindow(32, 24, "-0.5/0", "1", ShellDataPath("FracInteractive_fixtures.ofm"));
    TEventCounter counter;
    const TNotifyEvent counted = MakeNotifyEvent<&TEventCounter::Counted>(&counter);
    FractalManager()->Subscribe(FractalEventSet({fekInteraction}), counted);
    form->Fractal().SetTitle("Renamed");
    window_test::PumpPending();
    EXPECT_EQ(counter.Count, 1);
    EXPECT_EQ(form->Caption(), "Renamed");
    form->Fractal().SetTitle("Renamed");
    EXPECT_EQ(counter.Count, 1);
    FractalManager()->Unsubscribe(counted);
}

// The default fractal that ships with the program reads with the shipped formulas (found through
// the formula folder): the Mandelbrot set at the default size, a formula that can switch.
TEST_F(FractalWindowTest, TheShippedDefaultFractalReadsWithTheShippedFormulas) {
    TFolderConfiguration &folders = *ConfigManager()->Folder;
    const std::string savedFolder = folders.Formula;
    folders.Formula = std::string(TEST_DATA_DIR) + "..\\resources\\formulas\\";
    auto fractal = std::make_unique<TInteractiveFractal>(&Manager, &HistoryManager);
    EXPECT_NO_THROW(ReadParameterSet(
        *fractal, std::string(TEST_DATA_DIR) + "..\\resources\\parameters\\Examples.opr", "Default"));
    folders.Formula = savedFolder;
    EXPECT_EQ(fractal->GetTitle(), "Mandelbrot Set");
    EXPECT_EQ(fractal->GetWidth(), 640);
    EXPECT_EQ(fractal->GetHeight(), 480);
    const TFormula &formula = fractal->GetActiveLayer()->GetFormula();
    EXPECT_EQ(formula.GetEntryName(), "Mandelbrot");
    EXPECT_FALSE(formula.GetHasError());
    EXPECT_EQ(formula.GetSwitchType(), "Julia");
}

// While it calculates, a window that is not the active one shows its percentage before its title;
// the active one shows the plain title (its progress is in the status bar).
TEST_F(FractalWindowTest, AnInactiveCalculatingWindowShowsItsPercentageInTheCaption) {
    TFractalForm *first = OpenWindow(96, 72, "-0.5/0", "1", ShellDataPath("FracInteractive_fixtures.ofm"));
    first->Fractal().SetTitle("First");
    first->Fractal().BeginChange();
    // Without periodicity checking every point of the set takes all its iterations.
    first->Fractal().GetActiveLayer()->GetFormula().SetPeriodicity(0);
    first->Fractal().GetActiveLayer()->GetFormula().SetMaxIter(1000000);
    first->Fractal().EndChange();
    TFractalForm *second = OpenWindow(32, 24, "-0.5/0", "1", ShellDataPath("FracInteractive_fixtures.ofm"));
    second->Fractal().SetTitle("Second");
    window_test::PumpPending();
    ASSERT_TRUE(first->Fractal().IsCalculating()) << "the calculation ended too soon for the test";
    ASSERT_FALSE(first->Active());
    first->UpdateTitle();
    const std::string caption = first->Caption();
    EXPECT_EQ(caption.front(), '[') << caption;
    EXPECT_NE(caption.find("%] First"), std::string::npos) << caption;
    EXPECT_EQ(second->Caption(), "Second");
}

// A click in switch mode opens the switch formula's fractal for the clicked point in a new window
// (the default switch options) and leaves switch mode.
TEST_F(FractalWindowTest, AClickInSwitchModeOpensTheRelatedFractal) {
    // The new fractal lives on the program's own calculation and history managers.
    const bool startedHistory = HistoryDataManager() == nullptr,
               startedCalculation = CalculateManager() == nullptr;
    if (startedHistory)
        InitializeFracHistory();
    if (startedCalculation)
        InitializeFracCalculate();
    TFractalForm *form = OpenWindow(32, 24, "-0.5/0", "1", ShellDataPath("FracInteractive_fixtures.ofm"));
    form->Fractal().BeginChange();
    form->Fractal().GetActiveLayer()->GetFormula().SetSource(ShippedFormulas(), "Mandelbrot");
    form->Fractal().EndChange();
    WaitCalculated(form->Fractal());
    form->SetMouseMode(mmoSwitch);
    ASSERT_EQ(GetMouseMode(), mmoSwitch);
    const int before = Screen->FormCount();
    form->DisplayMouseDown(nullptr, mbLeft, ssLeft, 8, 6);
    form->DisplayMouseUp(nullptr, mbLeft, 0, 8, 6);
    EXPECT_EQ(GetMouseMode(), mmoNormal);
    ASSERT_EQ(Screen->FormCount(), before + 1);
    TFractalForm *julia = nullptr;
    for (int i = 0; i < Screen->FormCount() && !julia; ++i)
        if (auto *candidate = dynamic_cast<TFractalForm *>(Screen->Forms(i)); candidate && candidate != form)
            julia = candidate;
    ASSERT_NE(julia, nullptr);
    Forms.push_back(julia);
    EXPECT_EQ(julia->Fractal().GetActiveLayer()->GetFormula().GetEntryName(), "Julia");
    EXPECT_EQ(julia->Fractal().GetWidth(), 32) << "the original size";
    EXPECT_EQ(julia->Fractal().GetHistory().GetItem(julia->Fractal().GetHistory().ItemIndex())->Caption,
              "Switch");
}

} // namespace
