// The fractal window's commands inside a main window: the general popup menu's items enabled and
// checked for the window's state (calculating or finished, the clipboard's kind, the undo history,
// full screen); Duplicate gives the finished image under the copy's title; the export and save
// names; colour cycling turns the editable layers' gradients, stops on a key press and comes
// back to the same gradient.
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/documents/DocumentTestSupport.h"
#include "tests/shell/FormMainTestSupport.h"

#include "ColorCycling.h"
#include "CompEntries.h"
#include "CompFileManager.h"
#include "CompPersistent.h"
#include "FormFractal.h"
#include "FormFullScreen.h"
#include "FracCalculate.h"
#include "FracClipboard.h"
#include "FracGradient.h"
#include "FracHistory.h"
#include "FracLayer.h"
#include "FracManager.h"
#include "GenSetup.h"
#include "PostedCalls.h"

namespace {

// Formulas of the shell's tests ("Mandel" among them).
std::string FormulaFile() {
    return std::string(TEST_DATA_DIR) + "shell\\data\\FracInteractive_fixtures.ofm";
}

class FractalCommandsTest : public MainWindowTest {
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
        FClipboardStarted = ClipboardManager() == nullptr;
        if (FClipboardStarted)
            InitializeFracClipboard();
        FCyclingStarted = ColorCyclingManager() == nullptr;
        if (FCyclingStarted)
            InitializeColorCycling();
        SetFractalMessageDialog([](const std::string &, TMsgDlgType, TMsgDlgButtons) { return mrNo; });
    }
    void TearDown() override {
        ColorCyclingManager()->Stop();
        for (TFractalForm *form : Forms)
            delete form;
        SetFractalMessageDialog(nullptr);
        StoreMouseMode(mmoNormal);
        if (FCyclingStarted)
            FinalizeColorCycling();
        if (FClipboardStarted)
            FinalizeFracClipboard();
        if (FManagerStarted)
            FinalizeFracManager();
        MainWindowTest::TearDown();
    }

    TFractalForm *OpenWindow(std::int32_t Width, std::int32_t Height) {
        auto document = std::make_unique<TInteractiveFractal>(&Manager, &HistoryManager);
        SetUpMandelbrot(*document, FormulaFile(), Width, Height, "-0.5/0", "1", 20);
        document->SetTitle("Small Mandelbrot");
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
    bool FManagerStarted = false, FClipboardStarted = false, FCyclingStarted = false;
};

// What the general popup menu shows, item by item.
struct TPopupState {
    bool UndoEnabled, RedoEnabled, PasteEnabled, DuplicateEnabled, FullScreenChecked, ExportEnabled;
};

TPopupState PopupState(TFractalForm &Form) {
    Form.UpdateCommandItems();
    return {Form.UndoItem->Enabled(),
            Form.RedoItem->Enabled(),
            Form.PasteItem->Enabled(),
            Form.PopupDuplicateItem->Enabled(),
            Form.PopupFullScreenItem->Checked(),
            Form.ExportItem->Enabled()};
}

// The popup items follow the window's state: Undo and Redo the history, Paste a fractal on the
// clipboard, Duplicate and Full Screen the full-screen view, Export a finished calculation. The
// commands that are always there (the modes, Copy, the gradient submenu) stay enabled.
TEST_F(FractalCommandsTest, PopupItemsAreEnabledExactlyForTheWindowsState) {
    TFractalForm *form = OpenWindow(64, 48);
    TInteractiveFractal &fractal = form->Fractal();

    // Finished, nothing to undo, text on the clipboard.
    ClipboardManager()->SetText("plain words", cbText);
    TPopupState state = PopupState(*form);
    EXPECT_FALSE(state.UndoEnabled);
    EXPECT_FALSE(state.RedoEnabled);
    EXPECT_FALSE(state.PasteEnabled);
    EXPECT_TRUE(state.DuplicateEnabled);
    EXPECT_FALSE(state.FullScreenChecked);
    EXPECT_TRUE(state.ExportEnabled);
    for (TMenuItem *item : {form->NormalModeItem, form->SelectModeItem, form->PopupCopyItem,
                            form->PopupGradientItem, form->RandomizeItem, form->CycleForwardItem})
        EXPECT_TRUE(item->Enabled()) << item->Caption();

    // A fractal on the clipboard enables Paste at once (the clipboard manager tells the window).
    ClipboardManager()->SetText("Small {\r\nfractal:\r\n  title=\"Small\"\r\n}\r\n", cbFractal);
    EXPECT_TRUE(form->PasteItem->Enabled());
    EXPECT_TRUE(form->EditPasteItem->Enabled());

    // A change can be undone; after Undo it can be redone.
    fractal.ResetLocation();
    WaitCalculated(fractal);
    window_test::PumpPending();
    EXPECT_TRUE(PopupState(*form).UndoEnabled);
    form->UndoItem->Click();
    WaitCalculated(fractal);
    window_test::PumpPending();
    state = PopupState(*form);
    EXPECT_TRUE(state.RedoEnabled);

    // A calculation that is not done disables Export (Copy then takes only the parameters).
    fractal.PauseCalculation();
    fractal.GetActiveLayer()->GetFormula().SetMaxIter(50);
    window_test::PumpPending();
    if (!fractal.IsCalculationDone())
        EXPECT_FALSE(PopupState(*form).ExportEnabled);
    WaitCalculated(fractal);

    // In full screen: Full Screen checked, Duplicate disabled; looked at while the view is shown.
    TPostedCalls calls;
    TPopupState inFullScreen{};
    bool shown = false, refused = false;
    calls.Post([&] {
        shown = form->InFullScreen() && form->FullScreenForm() && form->FullScreenForm()->Visible();
        inFullScreen = PopupState(*form);
        refused = form->Duplicate() == nullptr;
        form->ShowFullScreen(); // a second time: closes the view
    });
    form->ShowFullScreen();
    EXPECT_TRUE(shown);
    EXPECT_TRUE(inFullScreen.FullScreenChecked);
    EXPECT_FALSE(inFullScreen.DuplicateEnabled);
    EXPECT_TRUE(refused) << "Duplicate is refused in full screen";
    // Back from full screen the image is drawn on the window's own panel again.
    EXPECT_FALSE(form->InFullScreen());
    EXPECT_EQ(form->DefaultDisplay, form->Display());
    state = PopupState(*form);
    EXPECT_FALSE(state.FullScreenChecked);
    EXPECT_TRUE(state.DuplicateEnabled);
}

// Duplicate gives a second window titled "Copy of" the source's title with the same parameters
// and the finished image, without calculating it again.
TEST_F(FractalCommandsTest, DuplicateCopiesParametersAndTheFinishedImage) {
    TFractalForm *form = OpenWindow(64, 48);
    form->SetParameterEntry("C:\\sets\\Mine.opr", "Small");
    TFractalForm *copy = form->Duplicate();
    ASSERT_NE(nullptr, copy);
    Forms.push_back(copy);
    EXPECT_EQ("Copy of Small Mandelbrot", copy->Fractal().GetTitle());
    EXPECT_EQ("C:\\sets\\Mine.opr", copy->ParameterFile());
    EXPECT_EQ("Small", copy->ParameterEntry());
    EXPECT_TRUE(copy->Fractal().IsCalculationDone()) << "the copy needs no calculation";
    // The parameter texts differ only in the title line.
    auto withoutTitle = [](TInteractiveFractal &Fractal) {
        std::string text = Fractal.StateText(TPersistentFractal::FileWriteFlags);
        const std::size_t title = text.find("title=");
        if (title != std::string::npos)
            text.erase(title, text.find('\n', title) - title);
        return text;
    };
    EXPECT_EQ(withoutTitle(form->Fractal()), withoutTitle(copy->Fractal()));
    // Every pixel of the merged image is the source's.
    const std::vector<std::uint8_t> source = ClipboardImage(form->Fractal(), 300);
    const std::vector<std::uint8_t> copied = ClipboardImage(copy->Fractal(), 300);
    EXPECT_TRUE(source == copied);
}

// The bitmap the clipboard gets: 24-bit, rows bottom-up and padded to four bytes, the resolution
// in pixels per metre. A 5-pixel row takes 15 bytes and is padded to 16.
TEST_F(FractalCommandsTest, ClipboardImageIsABottomUpTwentyFourBitBitmap) {
    TFractalForm *form = OpenWindow(5, 3);
    const std::vector<std::uint8_t> image = ClipboardImage(form->Fractal(), 300);
    ASSERT_EQ(sizeof(BITMAPINFOHEADER) + 3 * 16, image.size());
    BITMAPINFOHEADER header;
    std::memcpy(&header, image.data(), sizeof(header));
    EXPECT_EQ(5, header.biWidth);
    EXPECT_EQ(3, header.biHeight);
    EXPECT_EQ(24, header.biBitCount);
    EXPECT_EQ(1, header.biPlanes);
    EXPECT_EQ(static_cast<DWORD>(BI_RGB), header.biCompression);
    EXPECT_EQ(48u, header.biSizeImage);
    // 300 dpi is 11811 pixels per metre (300 / 0.0254, rounded).
    EXPECT_EQ(11811, header.biXPelsPerMeter);
    EXPECT_EQ(11811, header.biYPelsPerMeter);
    EXPECT_EQ(0u, header.biClrUsed);
    // The first row stored is the image's bottom row.
    std::uint8_t bottom[5 * 4 + 16];
    form->Fractal().GetUpdateManager().GetMergedRow(2, bottom, true);
    EXPECT_EQ(0, std::memcmp(bottom, image.data() + sizeof(header), 15));
    EXPECT_EQ(0, image[sizeof(header) + 15]) << "padding";
}

// F5, F6, F7 and Page Up set the modes only without modifiers: Shift+F6 (the Color Cycling tool
// window's key in the main window) leaves the mode alone.
TEST_F(FractalCommandsTest, ModeKeysWithModifiersAreLeftToTheMainWindow) {
    TFractalForm *form = OpenWindow(32, 24);
    struct TCase {
        WORD Key;
        TShiftState Shift;
        bool Handled;
        int Mode;
    } cases[] = {
        {VK_F6, ssShift, false, mmoNormal},  {VK_F5, ssCtrl, false, mmoNormal},
        {VK_PRIOR, ssAlt, false, mmoNormal}, {VK_F6, 0, true, mmoSelect},
        {VK_F5, 0, true, mmoNormal},
    };
    for (const TCase &c : cases) {
        bool handled = false;
        form->FormShortCut(c.Key, c.Shift, handled);
        EXPECT_EQ(c.Handled, handled) << c.Key << " with " << c.Shift;
        EXPECT_EQ(c.Mode, GetMouseMode()) << c.Key << " with " << c.Shift;
    }
}

// Save Parameters appends the fractal as an entry of the chosen file under the chosen title; the
// window then belongs to that entry. Export writes the chosen format with its extension added.
TEST_F(FractalCommandsTest, SaveParametersAndExportWriteTheChosenFiles) {
    const bool ownFiles = FileManager() == nullptr;
    if (ownFiles)
        InitializeCompFileManager();
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string parameters = std::string(folder) + "ov-fraccmd-params.opr";
    const std::string picture = std::string(folder) + "ov-fraccmd-export";
    DeleteFileA(parameters.c_str());
    DeleteFileA((picture + ".bmp").c_str());
    TFractalForm *form = OpenWindow(16, 12);
    form->SetFractalFile("C:\\old.ofr");
    SetSaveParametersDialog([&](TParameterSaveChoice &Choice) {
        EXPECT_EQ("Small Mandelbrot", Choice.Title);
        Choice.FileName = parameters;
        Choice.Entry = "Saved";
        Choice.Title = "Saved Mandelbrot";
        return true;
    });
    EXPECT_TRUE(form->SaveParameters());
    SetSaveParametersDialog(nullptr);
    EXPECT_EQ(parameters, form->ParameterFile());
    EXPECT_EQ("Saved", form->ParameterEntry());
    EXPECT_EQ("", form->FractalFile());
    EXPECT_EQ("Saved Mandelbrot", form->Fractal().GetTitle());
    EXPECT_FALSE(form->Fractal().GetModified());
    {
        auto entries = TEntryReader::CreateFromFile(parameters, true);
        EXPECT_GE(entries->IndexOfName("Saved"), 0);
    }

    SetFractalFileDialog([&](TSaveDialog &Dialog) {
        EXPECT_EQ("Export Image", Dialog.Title);
        Dialog.FileName = picture;
        Dialog.FilterIndex = 1; // BMP
        return true;
    });
    EXPECT_TRUE(form->ExportImage());
    SetFractalFileDialog(nullptr);
    const DWORD attributes = GetFileAttributesA((picture + ".bmp").c_str());
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, attributes) << "no " << picture << ".bmp";
    EXPECT_EQ(0, ConfigManager()->General->ExportFormat);
    DeleteFileA(parameters.c_str());
    DeleteFileA((picture + ".bmp").c_str());
    if (ownFiles)
        FinalizeCompFileManager();
}

TEST(FractalCommandNames, ExportAndFractalFileNames) {
    struct TCase {
        const char *Name;
        int Format;
        const char *Expected;
    } cases[] = {
        {"C:\\out\\picture.JPEG", 3, "C:\\out\\picture.JPEG"},
        {"C:\\out\\picture.jpg", 3, "C:\\out\\picture.jpg"},
        {"C:\\out\\picture.gif", 2, "C:\\out\\picture.gif.png"},
        {"C:\\out\\picture", 0, "C:\\out\\picture.bmp"},
        {"C:\\out\\picture.Tiff", 5, "C:\\out\\picture.Tiff"},
        {"C:\\out\\picture.tga", 1, "C:\\out\\picture.tga.psd"},
    };
    for (const TCase &c : cases)
        EXPECT_EQ(c.Expected, ExportFileName(c.Name, c.Format)) << c.Name;
    EXPECT_EQ("C:\\f\\Mine.OFR", FractalFileName("C:\\f\\Mine.OFR"));
    EXPECT_EQ("C:\\f\\Mine.opr.ofr", FractalFileName("C:\\f\\Mine.opr"));
}

TEST(FractalCommandNames, ParameterTextsAbove2048BytesArePacked) {
    EXPECT_FALSE(PackParameterText(std::string(2048, 'x'), true, false));
    EXPECT_TRUE(PackParameterText(std::string(2049, 'x'), true, false));
    EXPECT_FALSE(PackParameterText(std::string(2049, 'x'), false, false));
    EXPECT_TRUE(PackParameterText("short", true, true)) << "with the formulas";
}

// Rotation on the gradient's circle of 400 steps, kept in -200..199; forward lowers it. The
// track bar's speed is round(e^(0.03 position)); values worked out with Python's math module.
TEST(ColorCyclingSteps, RotationWrapsAndSpeedFollowsTheTrackBar) {
    struct TRotation {
        int Rotation, Steps, Expected;
    } rotations[] = {{199, 3, 196}, {199, -3, -198}, {-199, 3, 198}, {-200, -20, -180}, {0, 20, -20}};
    for (const TRotation &r : rotations)
        EXPECT_EQ(r.Expected, CycledRotation(r.Rotation, r.Steps)) << r.Rotation << " by " << r.Steps;
    EXPECT_EQ(23, CyclingPositionOfSpeed(2));
    EXPECT_EQ(100, CyclingPositionOfSpeed(20));
    EXPECT_EQ(0, CyclingPositionOfSpeed(1));
    EXPECT_EQ(20, CyclingSpeedOfPosition(100));
    EXPECT_EQ(1, CyclingSpeedOfPosition(0));
    EXPECT_EQ(2, CyclingSpeedOfPosition(23));
}

std::string GradientText(TLayer &Layer) {
    TParWriter writer;
    Layer.GetGradient().SaveToWriter(writer);
    writer.Finish();
    return writer.GetText();
}

// Cycling turns the editable layers only; as many steps back as forward give the same gradient;
// a key press stops it, a press in an exempt window does not; a stored speed of 0 is held to 1.
TEST_F(FractalCommandsTest, CyclingTurnsEditableLayersAndStopsOnAKey) {
    TFractalForm *form = OpenWindow(32, 24);
    TInteractiveFractal &fractal = form->Fractal();
    fractal.DuplicateLayer("Second");
    WaitCalculated(fractal);
    TLayerList &layers = fractal.GetLayers();
    ASSERT_EQ(2, layers.Count());
    layers.Items(1).SetEditable(false);
    const std::string first = GradientText(layers.Items(0)), second = GradientText(layers.Items(1));
    FractalManager()->SetActiveFractal(form, form);

    TColorCyclingManager &cycling = *ColorCyclingManager();
    cycling.SetSpeed(3);
    cycling.CycleForward();
    for (int i = 0; i < 5; ++i)
        cycling.Tick();
    EXPECT_EQ(-15, layers.Items(0).GetGradient().ColorItems().Rotation());
    EXPECT_NE(first, GradientText(layers.Items(0)));
    EXPECT_EQ(second, GradientText(layers.Items(1))) << "a layer that is not editable keeps its colours";
    cycling.CycleBackward();
    for (int i = 0; i < 5; ++i)
        cycling.Tick();
    EXPECT_EQ(first, GradientText(layers.Items(0)));

    // A press in an exempt window goes on; a key press stops.
    const HWND exempt = form->Handle();
    cycling.AddWindow(exempt);
    MSG press{exempt, WM_LBUTTONDOWN, 0, 0};
    bool handled = false;
    cycling.AppMessage(press, handled);
    EXPECT_EQ(TColorCyclingManager::cdBackward, cycling.GetDirection());
    MSG systemKey{exempt, WM_SYSKEYDOWN, VK_MENU, 0};
    cycling.AppMessage(systemKey, handled);
    EXPECT_EQ(TColorCyclingManager::cdBackward, cycling.GetDirection()) << "Alt keys go on";
    MSG elsewhere{Form->Handle(), WM_RBUTTONDOWN, 0, 0};
    cycling.AppMessage(elsewhere, handled);
    EXPECT_EQ(TColorCyclingManager::cdStopped, cycling.GetDirection());
    cycling.CycleForward();
    MSG key{Form->Handle(), WM_KEYDOWN, 'A', 0};
    cycling.AppMessage(key, handled);
    EXPECT_EQ(TColorCyclingManager::cdStopped, cycling.GetDirection());
    cycling.RemoveWindow(exempt);
    EXPECT_FALSE(cycling.IsExempt(exempt));

    // The speed is stored; a stored 0 comes back as 1.
    EXPECT_EQ(3, ConfigManager()->Fractal->ColorCyclingSpeed);
    ConfigManager()->Fractal->ColorCyclingSpeed = 0;
    TColorCyclingManager fresh;
    EXPECT_EQ(1, fresh.GetSpeed());
}

// Cycling started by a key of the window runs on its timer, stops at a real key press that goes
// through the message loop, and leaves the other message filters in place.
TEST_F(FractalCommandsTest, CyclingStopsAtAKeyPressInTheMessageLoop) {
    TFractalForm *form = OpenWindow(32, 24);
    FractalManager()->SetActiveFractal(form, form);
    struct TCounter {
        int Keys = 0;
        void Filter(MSG &Msg, bool &) {
            if (Msg.message == WM_KEYDOWN)
                ++Keys;
        }
    } other;
    Application->AddMessageFilter(MakeEvent<&TCounter::Filter>(&other));
    TColorCyclingManager &cycling = *ColorCyclingManager();
    TGradientColorItems &colors = form->Fractal().GetLayers().Items(0).GetGradient().ColorItems();
    const int start = colors.Rotation();
    form->CycleForwardItem->Click();
    EXPECT_TRUE(window_test::PumpUntil([&] { return colors.Rotation() != start; }, 20000));
    PostMessageA(form->Handle(), WM_KEYDOWN, VK_SHIFT, 0);
    EXPECT_TRUE(window_test::PumpUntil([&] { return cycling.GetDirection() == 0; }, 20000));
    EXPECT_EQ(1, other.Keys) << "the other filter still sees the keys";
    PostMessageA(form->Handle(), WM_KEYDOWN, VK_SHIFT, 0);
    window_test::PumpPending();
    EXPECT_EQ(2, other.Keys);
    Application->RemoveMessageFilter(MakeEvent<&TCounter::Filter>(&other));
}

} // namespace
