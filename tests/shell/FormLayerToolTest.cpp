// The Layer Properties tool window over a stand-in fractal window, and the formula parameter
// controls it shows: the texts each input accepts, refused texts that leave the layer and its undo
// history alone, the location texts at every precision, the parameter groups past the limit of
// groups of their own, rebinding without new windows, and the hint popup's message filter.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "E2EDriver.h"
#include "FakeFractalHost.h"
#include "FormLayerTool.h"
#include "FormulaParamControls.h"
#include "FracCalculate.h"
#include "GenSetup.h"
#include "GenUtils.h"

using window_test::PumpPending;
using window_test::PumpUntil;

namespace {

// ---------------------------------------------------------------------------------------------
// The texts the inputs accept

TEST(LayerInputTest, EachInputAcceptsExactlyItsRange) {
    using Check = bool (*)(const std::string &);
    struct TCase {
        const char *Input;
        Check Accepts;
        const char *Text;
        bool Accepted;
    };
    const TCase cases[] = {
        {"offset", layer_input::OffsetText, "0", true},
        {"offset", layer_input::OffsetText, "399", true},
        {"offset", layer_input::OffsetText, "-1", false},
        {"offset", layer_input::OffsetText, "400", false},
        {"offset", layer_input::OffsetText, "1.5", false},
        {"offset", layer_input::OffsetText, "abc", false},
        {"density", layer_input::DensityText, "0", true},
        {"density", layer_input::DensityText, "0.25", true},
        {"density", layer_input::DensityText, "-0.1", false},
        {"density", layer_input::DensityText, "", false},
        {"skew", layer_input::SkewText, "-90", false},
        {"skew", layer_input::SkewText, "90", false},
        {"skew", layer_input::SkewText, "89.999", true},
        {"skew", layer_input::SkewText, "-45", true},
        {"angle", layer_input::AngleText, "-360", true},
        {"angle", layer_input::AngleText, "360", true},
        {"angle", layer_input::AngleText, "360.0001", false},
        {"angle", layer_input::AngleText, "-360.5", false},
        {"magnification", layer_input::PositiveText, "0", false},
        {"magnification", layer_input::PositiveText, "-2", false},
        {"magnification", layer_input::PositiveText, "1e-300", true},
        {"stretch", layer_input::PositiveText, "0.666666666667", true},
        {"maximum iterations", layer_input::MaxIterationsText, "0", false},
        {"maximum iterations", layer_input::MaxIterationsText, "1", true},
        {"maximum iterations", layer_input::MaxIterationsText, "2147483647", true},
        {"maximum iterations", layer_input::MaxIterationsText, "2147483648", false},
        {"maximum iterations", layer_input::MaxIterationsText, "100x", false},
        {"precision", layer_input::IntegerText, "-5", true},
        {"precision", layer_input::IntegerText, "ten", false},
        {"centre", layer_input::FloatText, "-0.743643887037158704752191506114774", true},
        {"centre", layer_input::FloatText, "1e", false},
    };
    for (const TCase &c : cases)
        EXPECT_EQ(c.Accepted, c.Accepts(c.Text)) << c.Input << " '" << c.Text << "'";
}

TEST(HelpFormLayoutTest, LongTextsGetABoxOfAboutFourToThree) {
    // Text sizes for a width limit, as a text of 100000 square pixels would wrap: the height is
    // the area over the width (rounded up), the width the limit.
    const auto wrap = [](int Width) { return SIZE{Width, (100000 + Width - 1) / Width}; };
    // 250 wide gives 400 high: 4 x 400 > 750, so the width becomes round(sqrt(400 * 250 / 0.75))
    // = round(365.148...) = 365, which wraps to 274 lines of pixels.
    const SIZE box = THelpForm::LayoutSize(wrap);
    EXPECT_EQ(365 + 8, box.cx);
    EXPECT_EQ(274 + 8, box.cy);
    // A short text keeps its own size.
    const SIZE small = THelpForm::LayoutSize([](int) { return SIZE{120, 16}; });
    EXPECT_EQ(128, small.cx);
    EXPECT_EQ(24, small.cy);
    // Wide but low: no reshaping.
    const SIZE low = THelpForm::LayoutSize([](int Width) { return SIZE{Width, 150}; });
    EXPECT_EQ(258, low.cx);
    EXPECT_EQ(158, low.cy);
}

// ---------------------------------------------------------------------------------------------
// The window

// Counts the windows the thread makes while it is installed.
class TWindowCreationCounter {
public:
    TWindowCreationCounter() {
        Count = 0;
        FHook = SetWindowsHookExA(WH_CBT, &Hook, nullptr, GetCurrentThreadId());
    }
    ~TWindowCreationCounter() { UnhookWindowsHookEx(FHook); }
    static inline int Count = 0;

private:
    static LRESULT CALLBACK Hook(int Code, WPARAM WParam, LPARAM LParam) {
        if (Code == HCBT_CREATEWND)
            ++Count;
        return CallNextHookEx(nullptr, Code, WParam, LParam);
    }
    HHOOK FHook;
};

std::string TempPath(const std::string &Name) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + Name;
}

// A formula file with an entry "Many" of Count float parameters p1 .. pCount (p1 defaults to 1,
// the others to their index), of which the first Hidden are invisible through a boolean switch,
// and an entry "Mixed" with one parameter of each kind.
std::string WriteFormulaFile(int Count) {
    std::string text =
        "Many {\r\ninit:\r\n  z = 0\r\nloop:\r\n  z = sqr(z) + #pixel\r\nbailout:\r\n  |z| < 4\r\n"
        "default:\r\n";
    for (int i = 1; i <= Count; ++i)
        text += "  float param p" + std::to_string(i) + "\r\n    caption = \"P" + std::to_string(i) +
                "\"\r\n    default = " + std::to_string(i) + "\r\n  endparam\r\n";
    text +=
        "}\r\n\r\nMixed {\r\ninit:\r\n  z = 0\r\nloop:\r\n  z = sqr(z) + #pixel\r\nbailout:\r\n"
        "  |z| < @bail\r\ndefault:\r\n"
        "  heading\r\n    caption = \"Shape\"\r\n  endheading\r\n"
        "  float param bail\r\n    caption = \"Bailout\"\r\n    default = 4\r\n    min = 1\r\n"
        "    hint = \"How far an orbit may go.\"\r\n  endparam\r\n"
        "  int param steps\r\n    caption = \"Steps\"\r\n    default = 3\r\n    max = 10\r\n  endparam\r\n"
        "  complex param seed\r\n    caption = \"Seed\"\r\n    default = (0.25, -0.5)\r\n  endparam\r\n"
        "  bool param flag\r\n    caption = \"Flag\"\r\n    default = true\r\n  endparam\r\n"
        "  func fn1\r\n    caption = \"Function\"\r\n    default = cos()\r\n  endfunc\r\n"
        "}\r\n";
    const std::string file = TempPath("ov-layer-tool-" + std::to_string(Count) + ".ofm");
    FILE *out = std::fopen(file.c_str(), "wb");
    if (!out)
        return {};
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
    return file;
}

// Types Text into an input as a user does, over its whole text, and confirms it with Enter.
void TypeInto(TWinControl *Input, const std::string &Text) {
    Input->SetFocus();
    auto *combo = dynamic_cast<TAdvComboBox *>(Input);
    HWND edit = combo ? combo->EditHandle() : Input->Handle();
    SendMessageA(edit, EM_SETSEL, 0, -1);
    SendMessageA(edit, WM_CHAR, VK_BACK, 0);
    for (char ch : Text)
        SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(ch), 0);
    SendMessageA(edit, WM_KEYDOWN, VK_RETURN, 0);
    PumpPending();
}

// Exceptions the window shows are recorded, not put up in a message box.
struct TExceptionRecorder {
    int Count = 0;
    void Record(TObject *, std::exception_ptr) { ++Count; }
};

class LayerToolTest : public ShellWindowTest {
protected:
    void SetUp() override {
        SavedException = Application->OnException;
        Application->OnException = MakeEvent<&TExceptionRecorder::Record>(&Exceptions);
    }
    void TearDown() override {
        Application->OnException = SavedException;
        EXPECT_EQ(0, Exceptions.Count) << "exceptions shown to the user";
        TFormulaInterface::SetOwnGroupLimit(0);
        ToolHost.reset();
        Tool = nullptr;
        for (auto &host : Hosts)
            if (host) {
                FractalManager()->SetActiveFractal(nullptr);
                host.reset();
            }
        PumpPending();
    }

    // The tool window in a dock bar of its own, as the main window holds it.
    TLayerToolForm &OpenTool() {
        ToolHost = std::make_unique<TForm>(nullptr);
        ToolHost->SetBounds(600, 20, 320, 560);
        ToolHost->SetCaption("Dock");
        auto *bar = new TAdvDockBar(ToolHost.get());
        bar->SetParent(ToolHost.get());
        bar->SetAlign(alClient);
        ToolHost->Show();
        TToolPanel *panel = bar->AddTool(ToolFormClass<TLayerToolForm>());
        panel->ShowTool();
        PumpPending();
        Tool = dynamic_cast<TLayerToolForm *>(panel->ToolForm());
        EXPECT_NE(Tool, nullptr);
        return *Tool;
    }

    TFakeFractalHost &OpenHost(int Index, const char *Title) {
        Hosts[Index] = std::make_unique<TFakeFractalHost>(Manager, History, 160, 120, 40 + 200 * Index, 40);
        Hosts[Index]->Fractal->SetTitle(Title);
        Activate(Index);
        return *Hosts[Index];
    }
    void Activate(int Index) {
        FractalManager()->SetActiveFractal(reinterpret_cast<TFractalForm *>(Hosts[Index].get()),
                                           Hosts[Index].get());
        PumpPending();
    }
    TLayer &Layer(int Index = 0) { return *Hosts[Index]->Fractal->GetActiveLayer(); }
    THistoryList &HistoryOf(int Index = 0) { return Hosts[Index]->Fractal->GetHistory(); }
    // What the fractal window does after a change of its document.
    void Changed() {
        FractalManager()->Notify(fekFractal);
        PumpPending();
    }
    void ShowPage(int Page) {
        Tool->PageControl->SetActivePageIndex(Page);
        Tool->RefreshPage();
        PumpPending();
    }
    void SelectFormula(const std::string &File, const std::string &Entry) {
        TInteractiveFractal &fractal = *Hosts[0]->Fractal;
        fractal.BeginChange();
        Layer().GetFormula().SetSource(File, Entry);
        fractal.EndChangeCaption("Select");
        Changed();
    }

    TExceptionRecorder Exceptions;
    TExceptionEvent SavedException;
    std::unique_ptr<TFakeFractalHost> Hosts[2];
    std::unique_ptr<TForm> ToolHost;
    TLayerToolForm *Tool = nullptr;
};

TEST_F(LayerToolTest, WithoutAFractalWindowEverythingIsEmptyAndDisabled) {
    FractalManager()->SetActiveFractal(nullptr);
    TLayerToolForm &tool = OpenTool();
    EXPECT_EQ("Layer Properties", tool.Caption());
    for (int page : {TLayerToolForm::tpLocation, TLayerToolForm::tpFormula, TLayerToolForm::tpInside}) {
        ShowPage(page);
        EXPECT_EQ(nullptr, tool.ActiveLayer());
    }
    ShowPage(TLayerToolForm::tpLocation);
    EXPECT_EQ("", tool.LocCenterRealInput->Text());
    EXPECT_FALSE(tool.LocMagnInput->Enabled());
    EXPECT_FALSE(tool.LocPasteButton->Enabled());
    ShowPage(TLayerToolForm::tpFormula);
    EXPECT_EQ("", tool.FormMaxIterInput->Text());
    EXPECT_FALSE(tool.FormMaxIterInput->Enabled());
    EXPECT_EQ(0, tool.ParamInterface().GroupCount());
    // Commands do nothing.
    tool.PasteClick(nullptr);
    tool.ResetClick(nullptr);
    tool.LocResetButtonClick(nullptr);
}

TEST_F(LayerToolTest, FollowsTheActiveWindowAndItsLayer) {
    OpenHost(0, "First");
    TLayerToolForm &tool = OpenTool();
    OpenHost(1, "Second");
    Layer(0).GetFormula().SetMaxIter(33);
    Layer(1).GetFormula().SetMaxIter(44);
    ShowPage(TLayerToolForm::tpFormula);
    EXPECT_EQ("Layer Properties - Second, " + Layer(1).GetCaption(), tool.Caption());
    EXPECT_EQ("44", tool.FormMaxIterInput->Text());
    Activate(0);
    EXPECT_EQ("Layer Properties - First, " + Layer(0).GetCaption(), tool.Caption());
    EXPECT_EQ("33", tool.FormMaxIterInput->Text());
}

TEST_F(LayerToolTest, TypedValuesReachTheLayerAsOneUndoStepEach) {
    OpenHost(0, "First");
    TLayerToolForm &tool = OpenTool();
    ShowPage(TLayerToolForm::tpFormula);
    const int step = HistoryOf().ItemIndex();
    TypeInto(tool.FormMaxIterInput, "77");
    EXPECT_EQ(77, Layer().GetFormula().GetMaxIter());
    ASSERT_EQ(step + 1, HistoryOf().ItemIndex());
    EXPECT_EQ("Maximum Iterations", HistoryOf().GetCurrent()->Caption);

    ShowPage(TLayerToolForm::tpInside);
    TypeInto(tool.Inside.OffsetInput, "399");
    EXPECT_EQ(399, Layer().GetInsideColoring().GetOffset());
    EXPECT_EQ("Offset", HistoryOf().GetCurrent()->Caption);
    TypeInto(tool.Inside.DensityInput, "0");
    EXPECT_EQ("0", Layer().GetInsideColoring().Density.GetText());
    EXPECT_EQ("Color Density", HistoryOf().GetCurrent()->Caption);
    // The outside coloring was not touched.
    EXPECT_EQ(0, Layer().GetOutsideColoring().GetOffset());
}

TEST_F(LayerToolTest, RefusedTextsChangeNothingAndAreReplacedByTheLastOne) {
    OpenHost(0, "First");
    TLayerToolForm &tool = OpenTool();
    struct TCase {
        int Page;
        TWinControl *TLayerToolForm::*Input;
        const char *Refused;
    };
    ShowPage(TLayerToolForm::tpInside);
    TypeInto(tool.Inside.OffsetInput, "120");
    ShowPage(TLayerToolForm::tpLocation);
    const std::string magnification = Layer().GetMapping().Magnification.GetText();
    const std::string skew = Layer().GetMapping().SkewDegrees.GetText();
    const std::string angle = Layer().GetMapping().AngleDegrees.GetText();
    const std::string location = tool.LocCenterRealInput->Text();
    struct TRefusal {
        int Page;
        TWinControl *Input;
        const char *Text;
        std::string Kept;
    };
    const TRefusal refusals[] = {
        {TLayerToolForm::tpInside, tool.Inside.OffsetInput, "400", "120"},
        {TLayerToolForm::tpInside, tool.Inside.OffsetInput, "-1", "120"},
        {TLayerToolForm::tpInside, tool.Inside.DensityInput, "-0.1",
         Layer().GetInsideColoring().Density.GetText()},
        {TLayerToolForm::tpFormula, tool.FormMaxIterInput, "0", IntToStr(Layer().GetFormula().GetMaxIter())},
        {TLayerToolForm::tpLocation, tool.LocMagnInput, "0", magnification},
        {TLayerToolForm::tpLocation, tool.LocSkewInput, "90", skew},
        {TLayerToolForm::tpLocation, tool.LocSkewInput, "-90", skew},
        {TLayerToolForm::tpLocation, tool.LocCenterRealInput, "1e", location},
    };
    for (const TRefusal &refusal : refusals) {
        ShowPage(refusal.Page);
        const int step = HistoryOf().ItemIndex();
        const int count = HistoryOf().GetCount();
        TypeInto(refusal.Input, refusal.Text);
        EXPECT_EQ(refusal.Kept, refusal.Input->Text()) << refusal.Text;
        EXPECT_EQ(step, HistoryOf().ItemIndex()) << refusal.Text;
        EXPECT_EQ(count, HistoryOf().GetCount()) << refusal.Text;
    }
    EXPECT_EQ(120, Layer().GetInsideColoring().GetOffset());
    EXPECT_EQ(magnification, Layer().GetMapping().Magnification.GetText());
    EXPECT_EQ(skew, Layer().GetMapping().SkewDegrees.GetText());
    // Angles of a full turn either way are taken.
    ShowPage(TLayerToolForm::tpLocation);
    for (const char *text : {"-360", "360"}) {
        TypeInto(tool.LocAngleInput, text);
        EXPECT_EQ(text, Layer().GetMapping().AngleDegrees.GetText());
        EXPECT_EQ("Rotation Angle", HistoryOf().GetCurrent()->Caption);
    }
    EXPECT_NE(angle, Layer().GetMapping().AngleDegrees.GetText());
}

TEST_F(LayerToolTest, LocationTextsAreShownExactlyAtEveryPrecision) {
    OpenHost(0, "First");
    TLayerToolForm &tool = OpenTool();
    ShowPage(TLayerToolForm::tpLocation);
    struct TCase {
        const char *Re, *Im, *Magnification;
        std::uint8_t Precision; // 0 double, 1 extended, 2 arbitrary
    };
    const TCase cases[] = {
        {"-0.75", "0.1", "2.5", 0},
        {"-1.7497219817812", "0.00000000000000001", "3.5e8", 1},
        {"-0.743643887037158704752191506114774", "0.131825904205311970493132056385139", "1.5e30", 2},
    };
    for (const TCase &c : cases) {
        TInteractiveFractal &fractal = *Hosts[0]->Fractal;
        fractal.BeginChange();
        Layer().GetMapping().Center.SetText(c.Re, c.Im);
        Layer().GetMapping().Magnification.SetText(c.Magnification);
        Layer().GetMapping().Stretch.SetText("1.33333333333");
        Layer().GetMapping().SkewDegrees.SetText("15");
        Layer().GetMapping().AngleDegrees.SetText("22.5");
        fractal.EndChangeCaption("Move");
        Changed();
        EXPECT_EQ(c.Precision, Layer().GetPrecision()) << c.Magnification;
        EXPECT_EQ(c.Re, tool.LocCenterRealInput->Text());
        EXPECT_EQ(c.Im, tool.LocCenterImagInput->Text());
        EXPECT_EQ(c.Magnification, tool.LocMagnInput->Text());
        EXPECT_EQ("1.33333333333", tool.LocStretchInput->Text());
        EXPECT_EQ("15", tool.LocSkewInput->Text());
        EXPECT_EQ("22.5", tool.LocAngleInput->Text());
        const TMapping &mapping = Layer().GetMapping();
        EXPECT_EQ(mapping.LeftTop.Re.GetText(), tool.LocLTRealInput->Text());
        EXPECT_EQ(mapping.RightTop.Im.GetText(), tool.LocRTImagInput->Text());
        EXPECT_EQ(mapping.RightBottom.Re.GetText(), tool.LocRBRealInput->Text());
    }
    // A typed centre keeps every digit.
    const char *typed = "-0.74364388703715870475219150611477400001";
    TypeInto(tool.LocCenterRealInput, typed);
    EXPECT_EQ(typed, Layer().GetMapping().Center.Re.GetText());
    EXPECT_EQ("Center", HistoryOf().GetCurrent()->Caption);
}

TEST_F(LayerToolTest, ParametersPastTheLimitGoIntoOneMoreParametersList) {
    TFormulaInterface::SetOwnGroupLimit(40);
    OpenHost(0, "First");
    TLayerToolForm &tool = OpenTool();
    ShowPage(TLayerToolForm::tpFormula);
    for (int count : {41, 42}) {
        const std::string file = WriteFormulaFile(count);
        ASSERT_FALSE(file.empty());
        SelectFormula(file, "Many");
        ASSERT_FALSE(Layer().GetFormula().GetHasError());
        ASSERT_EQ(count, Layer().GetFormula().GetParams().GetCount());
        TFormulaInterface &params = tool.ParamInterface();
        if (count == 41) {
            // A single parameter past the limit gets a group of its own.
            ASSERT_EQ(41, params.GroupCount());
            EXPECT_EQ(nullptr, dynamic_cast<TSelectInterface *>(params.Groups(40)));
            EXPECT_EQ("P41:", params.Groups(40)->Label()->Caption());
        } else {
            ASSERT_EQ(41, params.GroupCount());
            auto *select = dynamic_cast<TSelectInterface *>(params.Groups(40));
            ASSERT_NE(nullptr, select);
            ASSERT_EQ(2, select->List()->Items().Count());
            EXPECT_EQ("P41", select->List()->Items().Strings(0));
            EXPECT_EQ("P42", select->List()->Items().Strings(1));
            EXPECT_EQ("P41:", select->Shown()->Label()->Caption());
            // The choice stays by name across a relayout.
            select->List()->SetItemIndex(1);
            select->ShowChosen();
            Changed();
            ASSERT_EQ(select, params.Groups(40));
            EXPECT_EQ(1, select->List()->ItemIndex());
            EXPECT_EQ("P42", select->Shown()->Parameter()->GetCaption());
        }
        for (int i = 0; i < 40; ++i)
            EXPECT_EQ("P" + std::to_string(i + 1) + ":", params.Groups(i)->Label()->Caption());
        DeleteFileA(file.c_str());
    }
    // Invisible parameters take no slot: hiding one brings the 42nd back to a group of its own.
    Layer().GetFormula().GetParams().GetItem(3)->SetVisible(false);
    Changed();
    ASSERT_EQ(41, tool.ParamInterface().GroupCount());
    EXPECT_EQ(nullptr, dynamic_cast<TSelectInterface *>(tool.ParamInterface().Groups(40)));
    EXPECT_EQ("P42:", tool.ParamInterface().Groups(40)->Label()->Caption());
}

TEST_F(LayerToolTest, EditingAParameterRebindsTheSameControlsWithoutNewWindows) {
    OpenHost(0, "First");
    TLayerToolForm &tool = OpenTool();
    ShowPage(TLayerToolForm::tpFormula);
    const std::string file = WriteFormulaFile(30);
    SelectFormula(file, "Many");
    TFormulaInterface &params = tool.ParamInterface();
    ASSERT_EQ(30, params.GroupCount());
    std::vector<TWinControl *> controls;
    for (int i = 0; i < params.GroupCount(); ++i)
        controls.push_back(params.Groups(i)->MainControl());
    const int step = HistoryOf().ItemIndex();
    {
        TWindowCreationCounter counter;
        for (int i = 0; i < 5; ++i) {
            TypeInto(params.Groups(7)->MainControl(), "2.5" + std::to_string(i));
            Changed();
        }
        EXPECT_EQ(0, TWindowCreationCounter::Count) << "windows made while editing";
    }
    EXPECT_EQ("2.54",
              static_cast<TFloatParam *>(Layer().GetFormula().GetParams().GetItem(7))->Value.GetText());
    EXPECT_EQ(step + 5, HistoryOf().ItemIndex());
    EXPECT_EQ("P8", HistoryOf().GetCurrent()->Caption);
    for (int i = 0; i < params.GroupCount(); ++i)
        EXPECT_EQ(controls[i], params.Groups(i)->MainControl()) << i;
    DeleteFileA(file.c_str());
}

TEST_F(LayerToolTest, EachKindOfParameterGetsItsGroupAndWritesItsValue) {
    OpenHost(0, "First");
    TLayerToolForm &tool = OpenTool();
    ShowPage(TLayerToolForm::tpFormula);
    const std::string file = WriteFormulaFile(1);
    SelectFormula(file, "Mixed");
    ASSERT_FALSE(Layer().GetFormula().GetHasError());
    TFormulaInterface &params = tool.ParamInterface();
    ASSERT_EQ(6, params.GroupCount());
    EXPECT_NE(nullptr, dynamic_cast<THeadingInterface *>(params.Groups(0)));
    auto *bailout = dynamic_cast<TFloatInterface *>(params.Groups(1));
    auto *steps = dynamic_cast<TIntInterface *>(params.Groups(2));
    auto *seed = dynamic_cast<TComplexInterface *>(params.Groups(3));
    auto *flag = dynamic_cast<TBoolInterface *>(params.Groups(4));
    auto *function = dynamic_cast<TFuncInterface *>(params.Groups(5));
    ASSERT_TRUE(bailout && steps && seed && flag && function);
    EXPECT_EQ("Seed (Re):", seed->Label()->Caption());
    EXPECT_EQ("0.25", seed->RealEdit()->Text());
    EXPECT_EQ("-0.5", seed->ImagEdit()->Text());
    EXPECT_EQ("cos", function->MainControl()->Text());
    // The groups stand one below the other.
    EXPECT_LT(bailout->MainControl()->Top(), steps->MainControl()->Top());
    EXPECT_EQ(seed->RealEdit()->Top() + ScaleForScreenFont(24), seed->ImagEdit()->Top());

    // The window as a user sees it, kept for a look.
    PumpPending();
    const RECT frame = e2e::WindowRect(ToolHost->Handle());
    const e2e::TImage shown = e2e::CropImage(e2e::CaptureSettledScreen(), frame);
    EXPECT_TRUE(e2e::WritePng(e2e::ArtifactsFolder() + "\\layer-window.png", shown));

    TParamList &list = Layer().GetFormula().GetParams();
    TypeInto(bailout->MainControl(), "0.5"); // below the minimum of 1: refused
    EXPECT_EQ("4", static_cast<TFloatParam *>(list.GetItem(1))->Value.GetText());
    EXPECT_EQ("4", bailout->MainControl()->Text());
    TypeInto(steps->MainControl(), "11"); // above the maximum of 10: refused
    EXPECT_EQ(3, static_cast<TIntParam *>(list.GetItem(2))->GetValue());
    TypeInto(steps->MainControl(), "10");
    EXPECT_EQ(10, static_cast<TIntParam *>(list.GetItem(2))->GetValue());
    TypeInto(seed->ImagEdit(), "0.125");
    EXPECT_EQ("0.25", static_cast<TComplexParam *>(list.GetItem(3))->Value.Re.GetText());
    EXPECT_EQ("0.125", static_cast<TComplexParam *>(list.GetItem(3))->Value.Im.GetText());
    // A click on the check box.
    SendMessageA(flag->MainControl()->Handle(), BM_CLICK, 0, 0);
    PumpPending();
    EXPECT_FALSE(static_cast<TBoolParam *>(list.GetItem(4))->GetValue());
    DeleteFileA(file.c_str());
}

// Counts the messages a filter of its own sees.
struct TFilterProbe {
    int Seen = 0;
    void Filter(MSG &Msg, bool &Handled) {
        if (Msg.message == WM_APP + 7)
            ++Seen;
    }
};

TEST_F(LayerToolTest, TheHelpPopupTakesAwayOnlyItsOwnMessageFilter) {
    TFilterProbe probe;
    Application->AddMessageFilter(MakeEvent<&TFilterProbe::Filter>(&probe));
    ShowParameterHelp(200, 200, "How far an orbit may go before it counts as escaped.");
    ASSERT_NE(nullptr, ParameterHelpForm());
    EXPECT_TRUE(ParameterHelpForm()->Visible());
    // Another text goes to the open popup.
    ShowParameterHelp(220, 220, "Another hint.");
    EXPECT_EQ("Another hint.", ParameterHelpForm()->Text());
    // A key closes it.
    PostMessageA(Application->Handle(), WM_KEYDOWN, VK_SHIFT, 0);
    PumpPending();
    EXPECT_EQ(nullptr, ParameterHelpForm());
    PostMessageA(Application->Handle(), WM_APP + 7, 0, 0);
    PumpPending();
    EXPECT_EQ(1, probe.Seen);
    // An empty hint opens nothing.
    ShowParameterHelp(200, 200, "");
    EXPECT_EQ(nullptr, ParameterHelpForm());
    Application->RemoveMessageFilter(MakeEvent<&TFilterProbe::Filter>(&probe));
}

} // namespace
