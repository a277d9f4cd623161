#include "FormMain.h"
#include "FormMainTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FormAbout.h"
#include "FormDocument.h"
#include "GenEyedrop.h"
#include "GenInstance.h"
#include "GenUtils.h"
#include "ShellInstance.h"
#include "ShellToolForms.h"
#include "StdCtrls.h"
#include "tests/WindowTestSupport.h"

using window_test::PumpPending;
using window_test::PumpUntil;

namespace {

const auto *const Environment = testing::AddGlobalTestEnvironment(new window_test::FormsEnvironment);

// A document window with one edit and its own tool-bar panel.
class TTestDocument : public TDocumentForm {
public:
    explicit TTestDocument(TComponent *AOwner) : TDocumentForm(AOwner) {
        SetCaption("Document");
        ToolPanel = new TPanel(this);
        Edit = new TEdit(this);
        Edit->SetParent(this);
        Edit->SetBounds(8, 8, 100, 22);
    }
    TWinControl *GetToolBar() override { return ToolPanel; }
    void UpdateStatusBar() override {
        ++StatusUpdates;
        MainForm->StatusBar->AddPanel("document", 100);
    }
    TPanel *ToolPanel;
    TEdit *Edit;
    int StatusUpdates = 0;
};

std::vector<std::string> PanelTexts(TStatusBar &Bar) {
    std::vector<std::string> texts;
    for (int i = 0; i < Bar.PanelCount(); ++i)
        texts.push_back(Bar.Panels(i).Text);
    return texts;
}

class MainFormTest : public MainWindowTest {
protected:
    TToolPanel *Tool(int Index) { return Form->DockBar->GetTool(Index); }
    // A key as the main window's shortcut handling and then its menu take it.
    bool PressKey(WORD Key, TShiftState Shift) {
        bool handled = false;
        Form->FormShortCut(Key, Shift, handled);
        return handled || Form->MainMenu->IsShortCut(Key, Shift);
    }
};

} // namespace

TEST(ExceptionMessage, TrailingDotsCollapseToOne) {
    struct Case {
        const char *Message, *Shown;
    } cases[] = {{"Bad...", "Bad."}, {"Bad", "Bad."}, {"Bad.", "Bad."}, {"", "."},
                 {"a.b..", "a.b."},  {"...", "."},    {"x. ", "x. ."}};
    for (const Case &c : cases)
        EXPECT_EQ(ExceptionMessageText(c.Message), c.Shown) << c.Message;
}

TEST(ExceptionMessage, AbortsAreSilentAndHeapListAndProcessorErrorsGoToTheCrashReport) {
    auto route = [](auto thrower) {
        try {
            thrower();
        } catch (...) {
            return ExceptionRoute(std::current_exception());
        }
        return TExceptionRoute::Silent;
    };
    EXPECT_EQ(route([] { throw EAbort("stop"); }), TExceptionRoute::Silent);
    EXPECT_EQ(route([] { throw 42; }), TExceptionRoute::Silent);
    EXPECT_EQ(route([] { throw Exception("Bad..."); }), TExceptionRoute::MessageBox);
    EXPECT_EQ(route([] { throw EListError("List index out of bounds (3)"); }), TExceptionRoute::CrashReport);
    EXPECT_EQ(route([] { throw EOutOfMemory("Out of memory"); }), TExceptionRoute::CrashReport);
    EXPECT_EQ(route([] { throw std::bad_alloc(); }), TExceptionRoute::CrashReport);
}

TEST(Splash, WaitEndsAfterItsTimeOrWhenTheCounterWraps) {
    struct Case {
        uint32_t Start, Now, Duration;
        bool Over;
    } cases[] = {{1000, 1500, 1000, false},
                 {1000, 2000, 1000, false},
                 {1000, 2001, 1000, true},
                 {0xFFFFFF00u, 0xFFFFFFF0u, 1000, false},
                 {0xFFFFFF00u, 5, 1000, true}};
    for (const Case &c : cases)
        EXPECT_EQ(SplashWaitOver(c.Start, c.Now, c.Duration), c.Over) << c.Start << " " << c.Now;
}

// The About window closes on Esc and on a click; as the splash it ignores both.
TEST(AboutForm, EscClosesTheAboutWindowButNotTheSplash) {
    for (bool splash : {false, true}) {
        TAboutForm about(nullptr);
        about.SplashMode = splash;
        about.Show();
        PumpPending();
        bool handled = false;
        about.OnShortCut(VK_ESCAPE, 0, handled);
        EXPECT_TRUE(handled);
        PumpPending();
        EXPECT_EQ(about.Visible(), splash) << splash;
        about.Hide();
    }
}

// ---------------------------------------------------------------------------------------------
// Hand-over of later starts

namespace {

class HandOverTest : public testing::Test {
protected:
    void SetUp() override {
        SavedMessage = InstanceMessage;
        InstanceMessage = static_cast<uint16_t>(RegisterWindowMessageA("OrbiskVantel_ShellTests_HandOver"));
        Receiver = std::make_unique<TInstanceReceiver>();
    }
    void TearDown() override {
        Receiver.reset();
        InstanceMessage = SavedMessage;
    }
    // A later start's message as GenInstance sends it; the answer.
    LRESULT Send(WPARAM Kind, const std::string &Text) {
        ATOM atom = Text.empty() ? 0 : GlobalAddAtomA(Text.c_str());
        LRESULT result = SendMessageA(Application->Handle(), InstanceMessage, Kind, atom);
        if (atom)
            GlobalDeleteAtom(atom);
        return result;
    }

public:
    void Received(const std::vector<std::string> &Names) { Deliveries.push_back(Names); }

protected:
    uint16_t SavedMessage = 0;
    std::unique_ptr<TInstanceReceiver> Receiver;
    std::vector<std::vector<std::string>> Deliveries;
};

} // namespace

TEST(HandOverNames, SwitchesAndEmptyArgumentsAreSkipped) {
    EXPECT_EQ(HandOverFileNames({"a.ofr", "/x", "", "D:\\my files\\b.opr", "/server"}),
              (std::vector<std::string>{"a.ofr", "D:\\my files\\b.opr"}));
}

// A start that comes while the splash shows is taken at once and opened after start-up, before
// any later one; from then on each is opened from the message loop, not inside the sender's wait.
TEST_F(HandOverTest, StartsDuringTheSplashQueueUntilStartUpHasRun) {
    EXPECT_EQ(Send(InstanceCommandLine, "\"C:\\Program Files\\ov.exe\" a.ofr \"D:\\my files\\b.opr\" /y"),
              InstanceAccepted);
    EXPECT_EQ(Send(InstanceArgument, "c.ofr"), InstanceAccepted);
    PumpPending();
    EXPECT_TRUE(Deliveries.empty());
    ASSERT_EQ(Receiver->Queue().size(), 2u);

    Receiver->StartupDone(MakeEvent<&HandOverTest::Received>(this));
    EXPECT_TRUE(Deliveries.empty()); // not inside the start-up message either
    ASSERT_TRUE(PumpUntil([&] { return Deliveries.size() == 2; }));
    EXPECT_EQ(Deliveries[0], (std::vector<std::string>{"a.ofr", "D:\\my files\\b.opr"}));
    EXPECT_EQ(Deliveries[1], (std::vector<std::string>{"c.ofr"}));

    EXPECT_EQ(Send(InstanceCommandLine, "ov.exe e.ofr"), InstanceAccepted);
    EXPECT_EQ(Deliveries.size(), 2u);
    ASSERT_TRUE(PumpUntil([&] { return Deliveries.size() == 3; }));
    EXPECT_EQ(Deliveries[2], (std::vector<std::string>{"e.ofr"}));
    EXPECT_TRUE(Receiver->Queue().empty());
}

// The hook is one of a chain: removing another hook leaves the hand-over working.
TEST_F(HandOverTest, OtherHooksComeAndGoWithoutDroppingTheHandOver) {
    struct TOther {
        bool Hook(TMessage &) { return false; }
    } first, second;
    Application->HookMainWindow(MakeEvent<&TOther::Hook>(&first));
    Application->HookMainWindow(MakeEvent<&TOther::Hook>(&second));
    Application->UnhookMainWindow(MakeEvent<&TOther::Hook>(&first));
    EXPECT_EQ(Send(InstanceArgument, "a.ofr"), InstanceAccepted);
    Application->UnhookMainWindow(MakeEvent<&TOther::Hook>(&second));
    EXPECT_EQ(Send(InstanceArgument, "b.ofr"), InstanceAccepted);
    EXPECT_EQ(Receiver->Queue().size(), 2u);
}

// ---------------------------------------------------------------------------------------------
// Main window

TEST_F(MainFormTest, BarsFillTheWindowAroundTheDocumentArea) {
    const RECT client = Form->ClientRect();
    EXPECT_TRUE(Form->StatusBar->Showing());
    EXPECT_TRUE(Form->DockBar->Showing());
    EXPECT_TRUE(Form->ToolBar->Showing());
    EXPECT_EQ(Form->StatusBar->Top() + Form->StatusBar->Height(), client.bottom);
    EXPECT_EQ(Form->DockBar->Left() + Form->DockBar->Width(), client.right);
    EXPECT_EQ(Form->DockBar->Height(), Form->StatusBar->Top());
    EXPECT_EQ(Form->ToolBar->Width(), Form->DockBar->Left());
    // Without the status bar the dock bar reaches the bottom.
    Form->StatusBarItem->Click();
    EXPECT_FALSE(Form->StatusBar->Visible());
    EXPECT_EQ(Form->DockBar->Height(), client.bottom);
    Form->StatusBarItem->Click();
    EXPECT_EQ(Form->DockBar->Height(), Form->StatusBar->Top());
}

TEST_F(MainFormTest, MenusAndDockBarHoldTheToolWindowsInDockOrder) {
    ASSERT_EQ(Form->DockBar->GetToolCount(), ShellToolCount);
    const char *captions[] = {"Layer Properties", "Fractal Properties", "Fractal Mode",
                              "Statistics",       "Color Cycling",      "Network",
                              "Render to Disk",   "Compiler Messages"};
    for (int i = 0; i < ShellToolCount; ++i) {
        EXPECT_EQ(Tool(i)->ToolForm()->Caption(), captions[i]);
        EXPECT_EQ(Form->WindowToolItems[i]->ShortCut(), ShortCut(static_cast<WORD>(VK_F2 + i), ssShift));
        // The default layout shows the first three.
        EXPECT_EQ(Tool(i)->ToolVisible(), i < 3) << i;
        EXPECT_EQ(Form->WindowToolItems[i]->Checked(), i < 3) << i;
    }
    EXPECT_EQ(Form->BarToolItems[7]->Hint(), "Shows or hides the Messages tool window.");
    const std::vector<std::string> menus = {"&File", "&Options", "&Window", "&Help"};
    ASSERT_EQ(Form->MainMenu->Items().Count(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Form->MainMenu->Items()[i]->Caption(), menus[i]);
    // Commands whose windows the program does not have yet are there but cannot be chosen.
    EXPECT_FALSE(Form->NewFractalItem->Enabled());
    EXPECT_FALSE(Form->ToolButtons[0]->Enabled());
    EXPECT_TRUE(Form->ExitItem->Enabled());
    EXPECT_TRUE(Form->AboutItem->Enabled());
}

TEST_F(MainFormTest, StatusBarShowsDocumentPanelsHintsAndProgress) {
    TStatusBar &bar = *Form->StatusBar;
    EXPECT_EQ(PanelTexts(bar), (std::vector<std::string>{" Press F1 to get help.", ""}));
    Application->SetHint("Opens an existing document.");
    EXPECT_EQ(Form->StatusMode, smHint);
    EXPECT_EQ(PanelTexts(bar), (std::vector<std::string>{" Opens an existing document.", ""}));
    EXPECT_FALSE(bar.Panels(0).Bevel);
    Application->SetHint("");
    EXPECT_EQ(Form->StatusMode, smDocument);

    Form->ShowProgress(nullptr, 0, "Calculating", 0);
    EXPECT_EQ(Form->StatusMode, smProgress);
    ASSERT_EQ(bar.PanelCount(), 3);
    EXPECT_EQ(bar.Panels(0).Text, "Calculating");
    EXPECT_EQ(bar.Panels(1).Style, psOwnerDraw);
    // A hint does not interrupt a progress.
    Application->SetHint("Some hint");
    EXPECT_EQ(Form->StatusMode, smProgress);
    Form->ShowProgress(nullptr, 1, "Calculating 50%", 50);
    EXPECT_EQ(Form->ProgressPercent(), 50);
    EXPECT_EQ(bar.Panels(0).Text, "Calculating 50%");
    PumpPending();
    RECT r = bar.PanelRect(1);
    InflateRect(&r, -1, -1);
    EXPECT_EQ(Form->ProgressBlocks(), DrawProgressBlocks(nullptr, r, 0.5));
    Form->ShowProgress(nullptr, 2, "", 0);
    EXPECT_EQ(Form->StatusMode, smDocument);
}

TEST_F(MainFormTest, DocumentWindowsEnableTheWindowMenuAndOwnTheStatusBar) {
    auto enabled = [&] {
        return std::vector<bool>{Form->CascadeItem->Enabled(),         Form->TileHorizontalItem->Enabled(),
                                 Form->TileVerticalItem->Enabled(),    Form->MinimizeAllItem->Enabled(),
                                 Form->UndoMinimizeAllItem->Enabled(), Form->ArrangeIconsItem->Enabled()};
    };
    EXPECT_EQ(enabled(), std::vector<bool>(6, false));
    auto *document = new TTestDocument(nullptr);
    PumpPending();
    EXPECT_EQ(enabled(), std::vector<bool>(6, true));
    EXPECT_EQ(Form->StatusBar->TaskPanel().FormCount(), 1);
    EXPECT_EQ(document->GetStatusBar(), Form->StatusBar);
    EXPECT_EQ(PanelTexts(*Form->StatusBar), (std::vector<std::string>{"document", ""}));
    EXPECT_EQ(document->ToolPanel->Parent(), Form->ToolBar);
    // During a hint the document may not write to the bar.
    Application->SetHint("hint");
    EXPECT_EQ(document->GetStatusBar(), nullptr);
    Application->SetHint("");
    delete document;
    PumpPending();
    EXPECT_EQ(enabled(), std::vector<bool>(6, false));
    EXPECT_EQ(Form->StatusBar->TaskPanel().FormCount(), 0);
    EXPECT_EQ(PanelTexts(*Form->StatusBar), (std::vector<std::string>{" Press F1 to get help.", ""}));
}

// With the dock bar rolled up, a docked tool's shortcut shows it and unrolls the bar instead of
// hiding it; otherwise the shortcut toggles the tool.
TEST_F(MainFormTest, ToolShortcutOnARolledUpDockBarShowsTheToolAndUnrolls) {
    Form->DockBar->SetRolledUp(true);
    EXPECT_FALSE(Form->WindowToolItems[0]->Checked());
    ASSERT_TRUE(PressKey(VK_F2, ssShift));
    EXPECT_FALSE(Form->DockBar->RolledUp());
    EXPECT_TRUE(Tool(0)->ToolVisible());
    EXPECT_TRUE(Form->WindowToolItems[0]->Checked());
    ASSERT_TRUE(PressKey(VK_F2, ssShift));
    EXPECT_FALSE(Tool(0)->ToolVisible());
    EXPECT_FALSE(Form->DockBar->RolledUp());
    ASSERT_TRUE(PressKey(VK_F5, ssShift));
    EXPECT_TRUE(Tool(3)->ToolVisible());
}

// F12 hides the floating tools and rolls the dock bar up; F12 again brings back exactly the
// floating tools that were shown and the bar's former roll state.
TEST_F(MainFormTest, F12TwiceRestoresFloatingToolsAndTheRollState) {
    for (bool rolledUp : {false, true}) {
        Tool(3)->SetDocked(false);
        Tool(4)->SetDocked(false);
        Tool(3)->ShowTool();
        Tool(4)->HideTool();
        Form->DockBar->SetRolledUp(rolledUp);
        // Rolled up with a floating tool shown: the tool windows still count as shown.
        EXPECT_TRUE(Form->ToolWindowsItem->Checked()) << rolledUp;
        ASSERT_TRUE(PressKey(VK_F12, 0));
        EXPECT_FALSE(Tool(3)->ToolVisible()) << rolledUp;
        EXPECT_FALSE(Tool(4)->ToolVisible()) << rolledUp;
        EXPECT_TRUE(Form->DockBar->RolledUp()) << rolledUp;
        EXPECT_FALSE(Form->ToolWindowsItem->Checked()) << rolledUp;
        EXPECT_FALSE(Form->BarToolWindowsItem->Checked()) << rolledUp;
        ASSERT_TRUE(PressKey(VK_F12, 0));
        EXPECT_TRUE(Tool(3)->ToolVisible()) << rolledUp;
        EXPECT_FALSE(Tool(4)->ToolVisible()) << rolledUp;
        EXPECT_EQ(Form->DockBar->RolledUp(), rolledUp);
        EXPECT_TRUE(Form->ToolWindowsItem->Checked()) << rolledUp;
        EXPECT_TRUE(Tool(0)->ToolVisible()) << rolledUp; // docked tools keep their state
        Tool(3)->SetDocked(true);
        Tool(4)->SetDocked(true);
    }
}

// F11 moves the focus from the document to the first visible tool and back; Ctrl+F11 and
// Ctrl+Shift+F11 cycle through the visible tools and wrap.
TEST_F(MainFormTest, F11MovesTheFocusBetweenDocumentAndToolWindows) {
    std::vector<TEdit *> edits;
    for (int i = 0; i < ShellToolCount; ++i) {
        auto *edit = new TEdit(Tool(i)->ToolForm());
        edit->SetParent(Tool(i)->ToolForm());
        edit->SetBounds(4, 4, 80, 22);
        // First in the tool's tab order, before the tool's own controls.
        edit->SetTabOrder(0);
        edits.push_back(edit);
    }
    auto *document = new TTestDocument(nullptr);
    PumpPending();
    document->Edit->SetFocus();
    ASSERT_EQ(GetFocus(), document->Edit->Handle());

    struct Step {
        TShiftState Shift;
        int Tool; // -1: the document
    } steps[] = {{0, 0},  {ssCtrl, 1}, {ssCtrl, 2}, {ssCtrl, 0}, {ssCtrl | ssShift, 2}, {ssCtrl | ssShift, 1},
                 {0, -1}, {ssCtrl, 0}};
    for (const Step &step : steps) {
        ASSERT_TRUE(PressKey(VK_F11, step.Shift));
        PumpPending();
        HWND expected = step.Tool < 0 ? document->Edit->Handle() : edits[step.Tool]->Handle();
        EXPECT_EQ(GetFocus(), expected) << step.Shift << " " << step.Tool;
    }
    delete document;
    PumpPending();
}

TEST_F(MainFormTest, CtrlCInAToolEditCopiesTheEditsSelection) {
    auto *edit = new TEdit(Tool(0)->ToolForm());
    edit->SetParent(Tool(0)->ToolForm());
    edit->SetBounds(4, 4, 80, 22);
    edit->SetText("copied text");
    edit->SetFocus();
    SendMessageA(edit->Handle(), EM_SETSEL, 0, -1);
    EXPECT_TRUE(PressKey('C', ssCtrl));
    ASSERT_TRUE(OpenClipboard(nullptr));
    HANDLE data = GetClipboardData(CF_TEXT);
    std::string text = data ? static_cast<const char *>(GlobalLock(data)) : "";
    if (data)
        GlobalUnlock(data);
    CloseClipboard();
    EXPECT_EQ(text, "copied text");
    // Without a focused edit the key is left to the menus.
    SetFocus(Form->StatusBar->Handle());
    bool handled = false;
    Form->FormShortCut('C', ssCtrl, handled);
    EXPECT_FALSE(handled);
}

// An exception of the interface thread becomes a posted message with its text; an abort none.
TEST_F(MainFormTest, InterfaceExceptionsArePostedForTheMessageBox) {
    auto posted = [&](auto thrower) {
        try {
            thrower();
        } catch (...) {
            Form->AppException(Form, std::current_exception());
        }
        MSG msg;
        std::string text = "<none>";
        if (PeekMessageA(&msg, Form->Handle(), WM_SHOWEXCEPTION, WM_SHOWEXCEPTION, PM_REMOVE)) {
            std::unique_ptr<char[]> copy(reinterpret_cast<char *>(msg.lParam));
            text = copy.get();
        }
        return text;
    };
    EXPECT_EQ(posted([] { throw Exception("Bad..."); }), "Bad...");
    EXPECT_EQ(posted([] { throw EAbort("quiet"); }), "<none>");
}

// While the eyedropper picks, a document window is neither raised nor activated (the pick may
// click into any window); after the pick it is again.
TEST_F(MainFormTest, DocumentsStayBehindWhileTheEyedropperPicks) {
    struct TPick {
        void Color(uint8_t, TColor) {}
    } pick;
    auto *first = new TTestDocument(nullptr);
    auto *second = new TTestDocument(nullptr);
    PumpPending();
    ASSERT_EQ(Form->ActiveMDIChild(), second);
    auto raise = [&](TTestDocument *document) {
        SetWindowPos(document->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        PumpPending();
        return GetWindow(Form->ClientHandle(), GW_CHILD) == document->Handle();
    };
    Eyedropper().StartColor(Form, MakeEvent<&TPick::Color>(&pick));
    ASSERT_TRUE(Eyedropper().IsActive());
    EXPECT_FALSE(raise(first));
    EXPECT_EQ(Form->ActiveMDIChild(), second);
    Eyedropper().Cancel();
    EXPECT_TRUE(raise(first));
    delete first;
    delete second;
    PumpPending();
}
