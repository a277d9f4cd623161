// The Fractal Mode tool window over a stand-in fractal window: the gesture names of the normal
// page, the select action kept in the registry, the select page's preview size for each action
// and box mode, and the switch page's preview (errors, pointer off the image).
#include <windows.h>

#include <cmath>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "FakeFractalHost.h"
#include "FormModeTool.h"
#include "FracCalculate.h"
#include "GenSetup.h"
#include "GenUtils.h"

using window_test::PumpPending;
using window_test::PumpUntil;

namespace {

// A click on a speed button as the mouse gives it: a grouped button goes down, then the click.
void ClickButton(TSpeedButton *Button) {
    if (Button->GroupIndex() != 0)
        Button->SetDown(true);
    Button->Click();
}

class ModeToolTest : public ShellWindowTest {
protected:
    void SetUp() override {
        StoreMouseMode(mmoNormal);
        TFractalConfiguration &options = *ConfigManager()->Fractal;
        SavedOptions = options.SwitchOptions;
        for (int kind = 0; kind < kMouseKindCount; ++kind) {
            SavedLeft[kind] = options.GetMouseLeft(kind);
            SavedRight[kind] = options.GetMouseRight(kind);
        }
    }
    void TearDown() override {
        CloseTool();
        if (Host) {
            FractalManager()->SetActiveFractal(nullptr);
            SelectArea()->Hide();
            SelectArea()->SetWindow(nullptr);
            Host.reset();
        }
        TFractalConfiguration &options = *ConfigManager()->Fractal;
        options.SwitchOptions = SavedOptions;
        for (int kind = 0; kind < kMouseKindCount; ++kind) {
            options.SetMouseLeft(kind, SavedLeft[kind]);
            options.SetMouseRight(kind, SavedRight[kind]);
        }
        StoreMouseMode(mmoNormal);
        PumpPending();
    }

    // The tool window in a dock bar of its own, as the main window holds it.
    TModeToolForm &OpenTool() {
        ToolHost = std::make_unique<TForm>(nullptr);
        ToolHost->SetBounds(700, 40, 320, 420);
        ToolHost->SetCaption("Dock");
        auto *bar = new TAdvDockBar(ToolHost.get());
        bar->SetParent(ToolHost.get());
        bar->SetAlign(alClient);
        ToolHost->Show();
        TToolPanel *panel = bar->AddTool(ToolFormClass<TModeToolForm>());
        panel->ShowTool();
        PumpPending();
        Tool = dynamic_cast<TModeToolForm *>(panel->ToolForm());
        EXPECT_NE(Tool, nullptr);
        return *Tool;
    }
    void CloseTool() {
        ToolHost.reset();
        Tool = nullptr;
        PumpPending();
    }

    // A stand-in fractal window, active for the manager; the box belongs to it.
    TFakeFractalHost &OpenHost() {
        Host = std::make_unique<TFakeFractalHost>(Manager, History, 640, 480);
        Host->Box = SelectArea();
        SelectArea()->SetWindow(Host.get());
        // The manager only keeps the window pointer to tell windows apart; the stand-in gives its
        // own address as the window's.
        FractalManager()->SetActiveFractal(reinterpret_cast<TFractalForm *>(Host.get()), Host.get());
        return *Host;
    }

    std::unique_ptr<TFakeFractalHost> Host;
    std::unique_ptr<TForm> ToolHost;
    TModeToolForm *Tool = nullptr;
    int SavedOptions = 0;
    int SavedLeft[kMouseKindCount] = {}, SavedRight[kMouseKindCount] = {};
};

TEST_F(ModeToolTest, NormalPageNamesTheFirstGestureOfEachAction) {
    // Labels: zoom, pan, rotate, stretch, skew.
    const char *const none = "(nothing assigned)";
    struct TCase {
        const char *Name;
        int Left[kMouseKindCount], Right[kMouseKindCount];
        const char *Labels[5];
    };
    // Kinds: plain, Shift, Ctrl, Alt, Shift + Ctrl, Ctrl + Alt.
    const TCase cases[] = {
        {"defaults",
         {1, 3, 2, 4, 5, 6},
         {7, 0, 0, 0, 0, 0},
         {"Shift + Left-drag", "Ctrl + Left-drag", "Alt + Left-drag", "Shift + Ctrl + Left-drag",
          "Ctrl + Alt + Left-drag"}},
        {"nothing", {0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}, {none, none, none, none, none}},
        // Ctrl with the right button is tried before Alt with the left one.
        {"rotate twice",
         {0, 0, 0, 4, 0, 0},
         {0, 0, 4, 0, 0, 0},
         {none, none, "Ctrl + Right-drag", none, none}},
        // The left button before the right one of the same keys; plain drags first of all.
        {"both buttons",
         {0, 0, 0, 0, 6, 5},
         {3, 2, 0, 0, 6, 0},
         {"Right-drag", "Shift + Right-drag", none, "Ctrl + Alt + Left-drag", "Shift + Ctrl + Left-drag"}},
    };
    OpenHost();
    TModeToolForm &tool = OpenTool();
    ASSERT_EQ(tool.GetShownPage(), TModeToolForm::mpNormal);
    TFractalConfiguration &options = *ConfigManager()->Fractal;
    for (const TCase &c : cases) {
        for (int kind = 0; kind < kMouseKindCount; ++kind) {
            options.SetMouseLeft(kind, c.Left[kind]);
            options.SetMouseRight(kind, c.Right[kind]);
        }
        ConfigManager()->Changed();
        TLabel *labels[] = {tool.ZoomValue, tool.PanValue, tool.RotateValue, tool.StretchValue,
                            tool.SkewValue};
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(labels[i]->Caption(), c.Labels[i]) << c.Name << " label " << i;
    }
}

TEST_F(ModeToolTest, FollowsTheActiveWindowAndItsMode) {
    TModeToolForm &tool = OpenTool();
    EXPECT_EQ(tool.Caption(), "Fractal Mode");
    EXPECT_FALSE(tool.NormalButton->Enabled());
    EXPECT_FALSE(tool.PageControl->Visible());
    TFakeFractalHost &host = OpenHost();
    host.Fractal->SetTitle("Mandel");
    FractalManager()->Notify(fekInteraction);
    EXPECT_EQ(tool.Caption(), "Fractal Mode - Mandel");
    EXPECT_TRUE(tool.SelectButton->Enabled());
    EXPECT_TRUE(tool.PageControl->Visible());
    // The select button puts the window into select mode: the box shows, the page follows.
    ClickButton(tool.SelectButton);
    EXPECT_EQ(GetMouseMode(), mmoSelect);
    EXPECT_TRUE(SelectArea()->GetActive());
    EXPECT_EQ(tool.GetShownPage(), TModeToolForm::mpSelect);
    EXPECT_TRUE(tool.SelectButton->Down());
    ClickButton(tool.NormalButton);
    EXPECT_EQ(GetMouseMode(), mmoNormal);
    EXPECT_FALSE(SelectArea()->GetActive());
    EXPECT_EQ(tool.GetShownPage(), TModeToolForm::mpNormal);
    EXPECT_EQ(tool.GetSelectPreviewSize().cx, 0);
    FractalManager()->SetActiveFractal(nullptr);
    EXPECT_EQ(tool.Caption(), "Fractal Mode");
}

TEST_F(ModeToolTest, TheSelectActionSurvivesARestart) {
    for (int action : {TModeToolForm::saCrop, TModeToolForm::saZoomOut, TModeToolForm::saZoomIn}) {
        TModeToolForm &tool = OpenTool();
        TAdvSpeedButton *buttons[] = {tool.SelectZoomInButton, tool.SelectZoomOutButton,
                                      tool.SelectCropButton};
        ClickButton(buttons[action]);
        EXPECT_EQ(tool.GetSelectAction(), action);
        CloseTool();
        EXPECT_EQ(ConfigManager()->ReadFormInteger("TModeToolForm", "SelectAction", -1), action);
        TModeToolForm &again = OpenTool();
        EXPECT_EQ(again.GetSelectAction(), action);
        TAdvSpeedButton *restored[] = {again.SelectZoomInButton, again.SelectZoomOutButton,
                                       again.SelectCropButton};
        EXPECT_TRUE(restored[action]->Down()) << action;
        CloseTool();
    }
}

// The preview takes the aspect of the view the action makes, fitted to the page less the action
// buttons (55) and a margin (6): the full height when the aspect allows, else the full width.
TEST_F(ModeToolTest, SelectPreviewTakesTheAspectOfTheAction) {
    TFakeFractalHost &host = OpenHost();
    TModeToolForm &tool = OpenTool();
    TSelectArea &box = *SelectArea();
    host.HostSetMouseMode(mmoSelect);
    ASSERT_TRUE(box.GetActive());
    // A box of stretch 1.5: Ctrl on its right edge (x = 427), dragged to 160 pixels off the centre.
    box.MouseDown(mbLeft, ssCtrl, 427, 240);
    box.MouseMove(ssCtrl, 480, 240);
    box.MouseUp(mbLeft, ssCtrl, 480, 240);
    ASSERT_DOUBLE_EQ(box.GetStretchValue(), 1.5);
    struct TCase {
        const char *Name;
        TAdvSpeedButton *Action;
        bool StretchMode;
        double Aspect; // width over height of the preview
    };
    const TCase cases[] = {
        {"zoom in, resize", tool.SelectZoomInButton, false, 640 * 1.5 / 480},
        {"zoom out, resize", tool.SelectZoomOutButton, false, 640 / 1.5 / 480},
        {"zoom in, stretch", tool.SelectZoomInButton, true, 640.0 / 480},
        {"zoom out, stretch", tool.SelectZoomOutButton, true, 640.0 / 480},
        {"crop", tool.SelectCropButton, true, 640 * 1.5 / 480},
    };
    const int roomWidth = tool.SelectTab->ClientWidth() - ScaleForScreenFont(55);
    const int roomHeight = tool.SelectTab->ClientHeight() - ScaleForScreenFont(6);
    ASSERT_GT(roomWidth, 0);
    ASSERT_GT(roomHeight, 0);
    for (const TCase &c : cases) {
        box.SetStretch(c.StretchMode);
        ClickButton(c.Action);
        const SIZE size = tool.GetSelectPreviewSize();
        long width = roomWidth, height = roomHeight;
        if (c.Aspect <= static_cast<double>(roomWidth) / roomHeight)
            width = std::lround(roomHeight * c.Aspect);
        else
            height = std::lround(roomWidth / c.Aspect);
        EXPECT_EQ(size.cx, width) << c.Name;
        EXPECT_EQ(size.cy, height) << c.Name;
        EXPECT_EQ(tool.SelectDisplay->Width(), width + 4) << c.Name;
        EXPECT_EQ(tool.SelectDisplay->Height(), height + 4) << c.Name;
        const bool crop = c.Action == tool.SelectCropButton;
        EXPECT_EQ(tool.SelectResizeButton->Enabled(), !crop) << c.Name;
        if (!crop)
            EXPECT_EQ(tool.SelectStretchButton->Down(), c.StretchMode) << c.Name;
    }
    // Apply runs the window's command of the pressed action.
    ClickButton(tool.SelectApplyButton);
    ClickButton(tool.SelectZoomOutButton);
    ClickButton(tool.SelectApplyButton);
    EXPECT_EQ(host.Commands, (std::vector<std::string>{"Crop", "Zoom Out"}));
}

// The sampled preview pixels that match no image pixel within one pixel of the place the box's
// view puts them (box centre, half-width and half-height in image pixels); at least 50 are sampled.
int PreviewMismatches(TModeToolForm &Tool, TBaseBitmap &Image, double CenterX, double CenterY,
                      double HalfWidth, double HalfHeight) {
    auto pixel = [](TBaseBitmap &Bitmap, int X, int Y) {
        return reinterpret_cast<const std::uint32_t *>(Bitmap.Bits() + Y * Bitmap.RowBytes())[X] & 0xFFFFFF;
    };
    TDirectBitmap &preview = *Tool.GetSelectPreview();
    const SIZE size = Tool.GetSelectPreviewSize();
    int mismatches = 0, checked = 0;
    TScopeLock<TBaseBitmap> previewLock(preview);
    TScopeLock<TBaseBitmap> imageLock(Image);
    for (int j = 3; j < size.cy - 3; j += 7)
        for (int i = 3; i < size.cx - 3; i += 7) {
            const int x =
                static_cast<int>(std::floor(CenterX - HalfWidth + (i + 0.5) * 2 * HalfWidth / size.cx));
            const int y =
                static_cast<int>(std::floor(CenterY - HalfHeight + (j + 0.5) * 2 * HalfHeight / size.cy));
            bool found = false;
            for (int dy = -1; dy <= 1 && !found; ++dy)
                for (int dx = -1; dx <= 1 && !found; ++dx)
                    found = pixel(preview, i, j) == pixel(Image, x + dx, y + dy);
            mismatches += !found;
            ++checked;
        }
    EXPECT_GT(checked, 50);
    return mismatches;
}

// The preview resamples the window's image into the box's view: each preview pixel shows the image
// pixel at the matching place of the box (nearest neighbour, so within a pixel of it).
TEST_F(ModeToolTest, SelectPreviewShowsTheImageInsideTheBox) {
    TFakeFractalHost &host = OpenHost();
    TModeToolForm &tool = OpenTool();
    TSelectArea &box = *SelectArea();
    host.HostSetMouseMode(mmoSelect);
    ASSERT_TRUE(box.GetActive());
    // A box off the centre: (270, 220), half-height 80, then for the second case stretched to 1.5.
    for (int i = 0; i < 10; ++i) {
        WORD key = VK_LEFT;
        box.KeyDown(key, 0);
    }
    for (int i = 0; i < 4; ++i) {
        WORD key = VK_UP;
        box.KeyDown(key, 0);
    }
    ASSERT_EQ(box.GetCenter().x, 270);
    ASSERT_EQ(box.GetCenter().y, 220);
    TDirectBitmap &image = host.Fractal->GetBitmap();
    if (image.Mode() != TBaseBitmap::bmRGB32)
        GTEST_SKIP() << "the screen has no 32-bit colours";
    for (bool stretchMode : {true, false}) {
        if (!stretchMode) {
            box.MouseDown(mbLeft, ssCtrl, 270 + 107, 220);
            box.MouseMove(ssCtrl, 270 + 160, 220);
            box.MouseUp(mbLeft, ssCtrl, 270 + 160, 220);
            ASSERT_DOUBLE_EQ(box.GetStretchValue(), 1.5);
        }
        TUpdateManager *manager = tool.GetSelectPreviewManager();
        ASSERT_NE(manager, nullptr);
        const int refreshes = manager->GetInvalidationRefreshCount();
        box.SetStretch(stretchMode);
        ClickButton(tool.SelectZoomInButton);
        ASSERT_TRUE(PumpUntil([&] { return manager->GetInvalidationRefreshCount() > refreshes; }));
        const double halfWidth = std::round(80 * box.GetStretchValue() * 640 / 480);
        const int mismatches = PreviewMismatches(tool, image, 270, 220, halfWidth, 80);
        EXPECT_EQ(mismatches, 0) << (stretchMode ? "stretch mode" : "resize mode");
    }
}

// Another window becoming active in select mode: the preview reads that window's image, and the
// first window may close.
TEST_F(ModeToolTest, SelectPreviewFollowsTheActiveWindow) {
    OpenHost();
    TModeToolForm &tool = OpenTool();
    Host->HostSetMouseMode(mmoSelect);
    ASSERT_EQ(tool.GetShownPage(), TModeToolForm::mpSelect);
    if (Host->Fractal->GetBitmap().Mode() != TBaseBitmap::bmRGB32)
        GTEST_SKIP() << "the screen has no 32-bit colours";
    TFakeFractalHost other(Manager, History, 320, 240, 120, 120, SIZE{0, 0}, "-0.75/0.1");
    other.Box = SelectArea();
    // As the fractal window's activation: the manager first, then the box moves along.
    FractalManager()->SetActiveFractal(reinterpret_cast<TFractalForm *>(&other), &other);
    SelectArea()->SetWindow(&other);
    Host.reset();
    ASSERT_EQ(SelectArea()->GetCenter().x, 160);
    ASSERT_EQ(SelectArea()->GetHalfHeight(), 40);
    TUpdateManager *manager = tool.GetSelectPreviewManager();
    ASSERT_NE(manager, nullptr);
    const int refreshes = manager->GetInvalidationRefreshCount();
    ClickButton(tool.SelectZoomInButton);
    ASSERT_TRUE(PumpUntil([&] { return manager->GetInvalidationRefreshCount() > refreshes; }));
    EXPECT_EQ(PreviewMismatches(tool, other.Fractal->GetBitmap(), 160, 120, std::round(40 * 320.0 / 240), 40),
              0);
    FractalManager()->SetActiveFractal(nullptr);
    SelectArea()->Hide();
    SelectArea()->SetWindow(nullptr);
}

TEST(PreviewSize, FitsTheRoomByHeightOrByWidth) {
    struct TCase {
        double Aspect;
        int Width, Height;
        LONG ExpectedWidth, ExpectedHeight;
    };
    const TCase cases[] = {
        {4.0 / 3, 100, 60, 80, 60}, {2.0, 100, 60, 100, 50}, {100.0 / 60, 100, 60, 100, 60},
        {0.5, 100, 60, 30, 60},     {0.001, 100, 60, 1, 60}, {1000, 100, 60, 100, 1},
        {1.5, 0, 0, 1, 1},
    };
    for (const TCase &c : cases) {
        const SIZE size = FitPreviewSize(c.Aspect, c.Width, c.Height);
        EXPECT_EQ(size.cx, c.ExpectedWidth) << c.Aspect;
        EXPECT_EQ(size.cy, c.ExpectedHeight) << c.Aspect;
    }
}

class SwitchPageTest : public ModeToolTest {
protected:
    // The preview calculates through the program's calculation manager.
    static void SetUpTestSuite() {
        ModeToolTest::SetUpTestSuite();
        FOwnsCalculation = CalculateManager() == nullptr;
        if (FOwnsCalculation)
            InitializeFracCalculate();
    }
    static void TearDownTestSuite() {
        if (FOwnsCalculation)
            FinalizeFracCalculate();
        ModeToolTest::TearDownTestSuite();
    }
    static inline bool FOwnsCalculation = false;

    // The stand-in's fractal takes Entry of the switch fixture; the window goes into switch mode.
    TModeToolForm &OpenSwitchPage(const char *Entry) {
        TFakeFractalHost &host = OpenHost();
        TInteractiveFractal &fractal = *host.Fractal;
        fractal.BeginChange();
        fractal.GetActiveLayer()->GetFormula().SetSource(ShellTestDataPath("ModeTool_switch.ofm"), Entry);
        fractal.EndChangeCaption("Formula");
        WaitCalculated(fractal);
        TModeToolForm &tool = OpenTool();
        host.HostSetMouseMode(mmoSwitch);
        FractalManager()->Notify(fekInteraction);
        EXPECT_EQ(tool.GetShownPage(), TModeToolForm::mpSwitch);
        return tool;
    }
};

TEST_F(SwitchPageTest, ASwitchFormulaWithErrorsShowsSoAndNoPreview) {
    TModeToolForm &tool = OpenSwitchPage("BrokenMandel");
    EXPECT_TRUE(tool.GetSwitchErrors());
    EXPECT_EQ(tool.GetSwitchMessage(), "Contains errors.");
    ASSERT_NE(tool.GetSwitchPreview(), nullptr);
    EXPECT_EQ(tool.GetSwitchPreview()->GetBitmap().Window(), nullptr);
    // Back to normal mode: the page and its preview go.
    StoreMouseMode(mmoNormal);
    FractalManager()->Notify(fekInteraction);
    EXPECT_EQ(tool.GetSwitchPreview(), nullptr);
    EXPECT_EQ(tool.GetSwitchMessage(), "");
}

TEST_F(SwitchPageTest, ThePreviewFollowsThePointerOnTheImageOnly) {
    TModeToolForm &tool = OpenSwitchPage("Mandel");
    EXPECT_FALSE(tool.GetSwitchErrors());
    EXPECT_EQ(tool.GetSwitchMessage(), "");
    TFractal *preview = tool.GetSwitchPreview();
    ASSERT_NE(preview, nullptr);
    // The preview keeps the image's aspect.
    const SIZE size = tool.GetSwitchPreviewSize();
    EXPECT_NEAR(static_cast<double>(size.cx) / size.cy, 640.0 / 480, 0.05);
    EXPECT_EQ(preview->GetWidth(), size.cx);
    EXPECT_EQ(preview->GetLayers().Items(0).GetFormula().GetEntryName(), "Julia");

    const TPoint onImage = Host->Display->ClientToScreen(TPoint{10, 20});
    ASSERT_TRUE(window_test::MovePointer(onImage));
    ASSERT_TRUE(PumpUntil([&] { return preview->GetBitmap().Window() != nullptr; }));

    const TPoint offImage = Host->Display->ClientToScreen(TPoint{-30, 20});
    ASSERT_TRUE(window_test::MovePointer(offImage));
    ASSERT_TRUE(PumpUntil([&] { return preview->GetBitmap().Window() == nullptr; }));
}

} // namespace
