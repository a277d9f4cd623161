// Forms with standard controls: layout by alignment, recreation that keeps state, handle
// accounting, typed input, reflected notifications, the exception display and shortcuts.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <vector>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "../WindowTestSupport.h"
#include "Buttons.h"
#include "ComCtrls.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "Menus.h"
#include "StdCtrls.h"

using namespace window_test;

namespace {

const auto *const Environment = testing::AddGlobalTestEnvironment(new FormsEnvironment);

// Counts events of controls.
struct Counter {
    int Count = 0;
    std::string Last;
    void Notify(TObject *) { ++Count; }
    void Fail(TObject *) { throw Exception("Click handler failed..."); }
    void Shown(TObject *, std::exception_ptr E) {
        ++Count;
        Last = ExceptionDisplayText(E);
    }
};

// A form of the kind the program builds in code.
struct SampleForm {
    explicit SampleForm(TForm *Form) {
        Panel = new TPanel(Form);
        Panel->SetParent(Form);
        Panel->SetAlign(alTop);
        Panel->SetHeight(40);
        Edit = new TEdit(Form);
        Edit->SetParent(Panel);
        Edit->SetBounds(8, 8, 100, 21);
        Combo = new TComboBox(Form);
        Combo->SetParent(Panel);
        Combo->SetBounds(120, 8, 100, 21);
        Status = new TStatusBar(Form);
        Status->SetParent(Form);
        Status->AddPanel("Ready", 100);
        Status->AddPanel("", 100);
        List = new TListView(Form);
        List->SetParent(Form);
        List->SetViewStyle(vsReport);
        List->SetAlign(alLeft);
        List->SetWidth(150);
        List->AddColumn("Name", 100);
        Client = new TPanel(Form);
        Client->SetParent(Form);
        Client->SetAlign(alClient);
    }
    TPanel *Panel;
    TEdit *Edit;
    TComboBox *Combo;
    TStatusBar *Status;
    TListView *List;
    TPanel *Client;
};

// Checks the places that alignment gives: top, bottom, left, then the rest.
void ExpectAligned(TForm &Form, SampleForm &Sample) {
    RECT client;
    GetClientRect(Form.Handle(), &client);
    int width = client.right, height = client.bottom;
    int statusHeight = Sample.Status->Height();
    EXPECT_EQ(Sample.Panel->Left(), 0);
    EXPECT_EQ(Sample.Panel->Top(), 0);
    EXPECT_EQ(Sample.Panel->Width(), width);
    EXPECT_EQ(Sample.Panel->Height(), 40);
    EXPECT_EQ(Sample.Status->Top(), height - statusHeight);
    EXPECT_EQ(Sample.Status->Width(), width);
    EXPECT_EQ(Sample.List->Left(), 0);
    EXPECT_EQ(Sample.List->Top(), 40);
    EXPECT_EQ(Sample.List->Width(), 150);
    EXPECT_EQ(Sample.List->Height(), height - 40 - statusHeight);
    EXPECT_EQ(Sample.Client->Left(), 150);
    EXPECT_EQ(Sample.Client->Top(), 40);
    EXPECT_EQ(Sample.Client->Width(), width - 150);
    EXPECT_EQ(Sample.Client->Height(), height - 40 - statusHeight);
    // The windows are where the controls say.
    RECT r;
    GetWindowRect(Sample.Client->Handle(), &r);
    MapWindowPoints(nullptr, Form.Handle(), reinterpret_cast<POINT *>(&r), 2);
    EXPECT_EQ(r.left, 150);
    EXPECT_EQ(r.bottom, height - statusHeight);
}

TEST(FormLifeTest, LaysOutRecreatesAndFreesEverything) {
    PumpPending();
    int windowsBefore = ThreadWindowCount();
    DWORD gdiBefore = GdiObjectCount();
    int libraryBefore = LibraryGdiObjectCount();
    DWORD userBefore = UserObjectCount();
    {
        auto *form = new TForm(nullptr);
        form->SetBounds(30, 30, 500, 360);
        SampleForm sample(form);
        sample.Combo->Items().Add("one");
        sample.Combo->Items().Add("two");
        sample.Combo->Items().Add("three");
        sample.Combo->SetItemIndex(1);
        form->Show();
        PumpPending();
        ExpectAligned(*form, sample);

        form->SetBounds(30, 30, 640, 420);
        ASSERT_TRUE(PumpUntil([&] { return sample.Client->Width() > 500 - 150; }));
        ExpectAligned(*form, sample);

        HWND oldCombo = sample.Combo->Handle();
        form->RecreateWnd();
        PumpPending();
        EXPECT_FALSE(IsWindow(oldCombo));
        EXPECT_EQ(sample.Combo->Items().Count(), 3);
        EXPECT_EQ(sample.Combo->ItemIndex(), 1);
        EXPECT_EQ(SendMessageA(sample.Combo->Handle(), CB_GETCOUNT, 0, 0), 3);
        EXPECT_EQ(sample.Combo->Text(), "two");
        ExpectAligned(*form, sample);
        // Fonts, brushes and canvases of the controls are counted while they live.
        EXPECT_GT(LibraryGdiObjectCount(), libraryBefore);
        delete form;
    }
    PumpPending();
    EXPECT_EQ(ThreadWindowCount(), windowsBefore);
    EXPECT_EQ(GdiObjectCount(), gdiBefore);
    EXPECT_EQ(LibraryGdiObjectCount(), libraryBefore);
    EXPECT_EQ(UserObjectCount(), userBefore);
}

class FormInputTest : public HostFormTest {};

TEST_F(FormInputTest, TypingFiresOneChangePerKey) {
    auto *edit = new TEdit(Form);
    edit->SetParent(Form);
    Counter changes;
    edit->OnChange = MakeNotifyEvent<&Counter::Notify>(&changes);
    edit->SetFocus();
    ASSERT_TRUE(PumpUntil([&] { return edit->Focused(); }));
    SendKeys({'A'});
    SendKeys({'B'});
    SendKeys({'C'});
    ASSERT_TRUE(PumpUntil([&] { return edit->Text().size() == 3; })) << edit->Text();
    EXPECT_EQ(LowerCase(edit->Text()), "abc");
    EXPECT_EQ(changes.Count, 3);
    // Text set by the program is one change too.
    edit->SetText("xyz");
    EXPECT_EQ(changes.Count, 4);
}

TEST_F(FormInputTest, ChildCommandsReachTheChildControl) {
    // The button sits two levels down: its WM_COMMAND goes to the panel, which reflects it.
    auto *panel = new TPanel(Form);
    panel->SetParent(Form);
    panel->SetAlign(alClient);
    auto *group = new TGroupBox(Form);
    group->SetParent(panel);
    group->SetBounds(10, 10, 200, 100);
    auto *button = new TButton(Form);
    button->SetParent(group);
    button->SetBounds(10, 30, 80, 25);
    Counter clicks, panelClicks;
    button->OnClick = MakeNotifyEvent<&Counter::Notify>(&clicks);
    panel->OnClick = MakeNotifyEvent<&Counter::Notify>(&panelClicks);
    SendMessageA(button->Handle(), BM_CLICK, 0, 0);
    PumpPending();
    EXPECT_EQ(clicks.Count, 1);
    EXPECT_EQ(panelClicks.Count, 0);
}

TEST_F(FormInputTest, ClickHandlerExceptionIsShownAndTheLoopGoesOn) {
    auto *button = new TButton(Form);
    button->SetParent(Form);
    Counter failing, shown, later;
    button->OnClick = MakeNotifyEvent<&Counter::Fail>(&failing);
    Application->OnException = MakeEvent<&Counter::Shown>(&shown);
    SendMessageA(button->Handle(), BM_CLICK, 0, 0);
    EXPECT_EQ(shown.Count, 1);
    EXPECT_EQ(shown.Last, "Click handler failed.");
    // Messages are still handled, and the next click reaches its handler.
    button->OnClick = MakeNotifyEvent<&Counter::Notify>(&later);
    PostMessageA(button->Handle(), BM_CLICK, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return later.Count == 1; }));
    Application->OnException = nullptr;
}

// The default display: a message box opened from a posted message, closed here by a timer.
std::string BoxText;

BOOL CALLBACK FindDialog(HWND window, LPARAM data) {
    char name[32] = {};
    GetClassNameA(window, name, sizeof(name));
    if (std::string(name) == "#32770" && IsWindowVisible(window)) {
        *reinterpret_cast<HWND *>(data) = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectText(HWND child, LPARAM) {
    char text[256] = {};
    GetWindowTextA(child, text, sizeof(text));
    BoxText += std::string(text) + "|";
    return TRUE;
}

void CALLBACK CloseMessageBox(HWND, UINT, UINT_PTR, DWORD) {
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&box));
    if (!box)
        return;
    EnumChildWindows(box, CollectText, 0);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
}

TEST_F(FormInputTest, WithoutAHandlerTheExceptionGoesToAMessageBox) {
    auto *button = new TButton(Form);
    button->SetParent(Form);
    Counter failing;
    button->OnClick = MakeNotifyEvent<&Counter::Fail>(&failing);
    BoxText.clear();
    UINT_PTR timer = SetTimer(nullptr, 0, 50, CloseMessageBox);
    SendMessageA(button->Handle(), BM_CLICK, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return !BoxText.empty(); }));
    KillTimer(nullptr, timer);
    EXPECT_NE(BoxText.find("Click handler failed.|"), std::string::npos) << BoxText;
}

TEST_F(FormInputTest, MenuShortcutsAndKeyPreview) {
    auto *menu = new TMainMenu(Form);
    auto *file = new TMenuItem(Form);
    file->SetCaption("&File");
    menu->Items().Add(file);
    auto *export_ = new TMenuItem(Form);
    export_->SetCaption("&Export");
    export_->SetShortCut(ShortCut('E', ssCtrl | ssShift));
    file->Add(export_);
    Form->SetMenu(menu);
    Counter commands;
    export_->OnClick = MakeNotifyEvent<&Counter::Notify>(&commands);
    auto *edit = new TEdit(Form);
    edit->SetParent(Form);
    edit->SetFocus();
    ASSERT_TRUE(PumpUntil([&] { return edit->Focused(); }));
    SendKeys({VK_CONTROL, VK_SHIFT, 'E'});
    EXPECT_TRUE(PumpUntil([&] { return commands.Count == 1; }));
    EXPECT_EQ(edit->Text(), "");
    // The menu command itself, as the window's menu sends it.
    SendMessageA(Form->Handle(), WM_COMMAND, export_->Command(), 0);
    EXPECT_EQ(commands.Count, 2);
}

TEST(ShortCutTextTest, TextsAndTheirInverse) {
    struct Case {
        TShortCut Key;
        const char *Text;
    } cases[] = {
        {ShortCut('E', ssCtrl | ssShift), "Ctrl+Shift+E"},
        {ShortCut(VK_F3, 0), "F3"},
        {ShortCut(VK_DELETE, ssCtrl), "Ctrl+Del"},
        {ShortCut('1', ssAlt), "Alt+1"},
        {ShortCut(VK_RETURN, ssShift | ssAlt), "Shift+Alt+Enter"},
        {ShortCut(VK_OEM_PLUS, ssCtrl), "Ctrl+="},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ShortCutToText(c.Key), c.Text);
        EXPECT_EQ(TextToShortCut(c.Text), c.Key) << c.Text;
    }
    EXPECT_EQ(ShortCutToText(scNone), "");
    EXPECT_EQ(TextToShortCut("Ctrl+Nothing"), scNone);
}

TEST(ExceptionTextTest, TrailingDotsCollapseToOne) {
    struct Case {
        const char *Message, *Shown;
    } cases[] = {
        {"Failed...", "Failed."}, {"Failed.", "Failed."}, {"Failed", "Failed"}, {"...", "."}, {"", ""}};
    for (const Case &c : cases)
        EXPECT_EQ(ExceptionDisplayText(std::make_exception_ptr(Exception(std::string(c.Message)))), c.Shown);
    EXPECT_EQ(ExceptionDisplayText(std::make_exception_ptr(42)), "Unknown exception");
}

// An application whose default help call is recorded instead of starting the system's help.
class TRecordingHelpApplication : public TApplication {
public:
    using TApplication::TApplication;
    std::vector<std::pair<WORD, intptr_t>> DefaultCalls;

protected:
    bool CallDefaultHelp(WORD Command, intptr_t Data) override {
        DefaultCalls.emplace_back(Command, Data);
        return true;
    }
};

struct HelpHandler {
    bool Answer = false;
    bool ClearCallHelp = false;
    bool Help(WORD, intptr_t, bool &CallHelp) {
        if (ClearCallHelp)
            CallHelp = false;
        return Answer;
    }
};

TEST(ApplicationHelpTest, DefaultHelpRunsUnlessOnHelpClearsCallHelp) {
    struct Case {
        bool Assigned, Answer, ClearCallHelp;
        bool DefaultRuns, Result;
    } cases[] = {
        {false, false, false, true, true}, {true, false, false, true, true},  {true, true, false, true, true},
        {true, true, true, false, true},   {true, false, true, false, false},
    };
    for (const Case &c : cases) {
        TRecordingHelpApplication app(nullptr);
        HelpHandler handler{c.Answer, c.ClearCallHelp};
        if (c.Assigned)
            app.OnHelp = MakeEvent<&HelpHandler::Help>(&handler);
        EXPECT_EQ(app.HelpCommand(HELP_CONTEXT, 42), c.Result) << c.Assigned << c.Answer << c.ClearCallHelp;
        const std::vector<std::pair<WORD, intptr_t>> expected =
            c.DefaultRuns ? std::vector<std::pair<WORD, intptr_t>>{{HELP_CONTEXT, 42}}
                          : std::vector<std::pair<WORD, intptr_t>>{};
        EXPECT_EQ(app.DefaultCalls, expected) << c.Assigned << c.Answer << c.ClearCallHelp;
    }
    // Without a help file the system's help is not asked.
    ASSERT_TRUE(Application->HelpFile().empty());
    EXPECT_FALSE(Application->HelpContext(7));
}

class TimerTest : public HostFormTest {};

TEST_F(TimerTest, FiresWhileEnabledAndStopsWhenDisabled) {
    auto *timer = new TTimer(Form);
    Counter ticks;
    timer->SetInterval(30);
    timer->SetOnTimer(MakeNotifyEvent<&Counter::Notify>(&ticks));
    ASSERT_TRUE(PumpUntil([&] { return ticks.Count >= 2; }));
    timer->SetEnabled(false);
    int stopped = ticks.Count;
    // Bounded wait for a tick that must not come: the timer messages of three intervals.
    PumpUntil([] { return false; }, 150);
    EXPECT_EQ(ticks.Count, stopped);
}

class GraphicControlTest : public HostFormTest {};

TEST_F(GraphicControlTest, PressAndReleaseInsideClickOnce) {
    auto *button = new TSpeedButton(Form);
    button->SetParent(Form);
    button->SetBounds(20, 20, 24, 24);
    Counter clicks;
    button->OnClick = MakeNotifyEvent<&Counter::Notify>(&clicks);
    HWND window = Form->Handle();
    struct Case {
        POINT Down, Up;
        int Clicks;
    } cases[] = {{{30, 30}, {31, 31}, 1}, {{30, 30}, {200, 200}, 0}, {{100, 100}, {30, 30}, 0}};
    for (const Case &c : cases) {
        clicks.Count = 0;
        SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(c.Down.x, c.Down.y));
        SendMessageA(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(c.Up.x, c.Up.y));
        SendMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(c.Up.x, c.Up.y));
        EXPECT_EQ(clicks.Count, c.Clicks);
    }
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(GraphicControlTest, LabelAndPanelPaintWithTheirColours) {
    auto *panel = new TPanel(Form);
    panel->SetParent(Form);
    panel->SetBounds(0, 0, 60, 40);
    panel->SetBevelOuter(bvNone);
    panel->SetColor(clRed);
    TBitmap image;
    PaintControl(*panel, image);
    EXPECT_EQ(PixelAt(image, 30, 20), 0x0000FFu);
    panel->SetBevelOuter(bvRaised);
    PaintControl(*panel, image);
    EXPECT_EQ(PixelAt(image, 0, 0), ColorToRGB(clBtnHighlight));
    EXPECT_EQ(PixelAt(image, 59, 39), ColorToRGB(clBtnShadow));

    auto *label = new TLabel(Form);
    label->SetParent(Form);
    label->SetAutoSize(false);
    label->SetBounds(0, 50, 80, 20);
    EXPECT_EQ(label->Color(), Form->Color()); // parent colour
    PaintControl(*label, image);
    EXPECT_EQ(PixelAt(image, 79, 19), ColorToRGB(clBtnFace));
}

} // namespace

namespace {

struct ModalCloser {
    TButton *Button = nullptr;
    void Shown(TObject *) { PostMessageA(Button->Handle(), BM_CLICK, 0, 0); }
};

TEST(ModalFormTest, ShowModalReturnsTheResultOfTheButton) {
    auto *owner = new TForm(nullptr);
    owner->Show();
    auto *dialog = new TForm(nullptr);
    dialog->SetBorderStyle(bsDialog);
    auto *ok = new TButton(dialog);
    ok->SetParent(dialog);
    ok->SetModalResult(mrOk);
    ModalCloser closer{ok};
    dialog->OnShow = MakeNotifyEvent<&ModalCloser::Shown>(&closer);
    EXPECT_EQ(dialog->ShowModal(), mrOk);
    EXPECT_FALSE(dialog->Visible());
    EXPECT_TRUE(IsWindowEnabled(owner->Handle())); // enabled again after the modal loop
    EXPECT_THROW(
        {
            dialog->Show();
            dialog->ShowModal();
        },
        Exception);
    delete dialog;
    delete owner;
}

struct CloseWatcher {
    int Closed = 0;
    void Close(TObject *, TCloseAction &Action) {
        ++Closed;
        Action = caFree;
    }
};

// A shown MDI frame as the application's main form.
TForm *ShowFrame() {
    auto *main = new TForm(nullptr);
    main->SetFormStyle(fsMDIForm);
    Application->SetMainForm(main);
    main->SetBounds(0, 0, 600, 400);
    main->Show();
    return main;
}

TEST(MDIFormTest, ChildrenLiveInTheClientWindowAndFreeThemselves) {
    TForm *main = ShowFrame();
    ASSERT_NE(main->ClientHandle(), nullptr);
    auto *child = new TForm(nullptr);
    child->SetFormStyle(fsMDIChild);
    child->SetCaption("Child");
    child->Show();
    EXPECT_EQ(GetParent(child->Handle()), main->ClientHandle());
    EXPECT_NE(GetWindowLongA(child->Handle(), GWL_EXSTYLE) & WS_EX_MDICHILD, 0);
    EXPECT_EQ(main->MDIChildCount(), 1);
    EXPECT_EQ(main->MDIChildren(0), child);
    EXPECT_EQ(main->ActiveMDIChild(), child);
    int formsBefore = Screen->FormCount();
    CloseWatcher watcher;
    child->OnClose = MakeEvent<&CloseWatcher::Close>(&watcher);
    child->Close();
    EXPECT_TRUE(PumpUntil([&] { return Screen->FormCount() == formsBefore - 1; }));
    EXPECT_EQ(watcher.Closed, 1);
    EXPECT_EQ(main->MDIChildCount(), 0);
    Application->SetMainForm(nullptr);
    delete main;
}

// Closing the frame asks each document window first: one that refuses keeps the frame open, and
// the frame's own question comes only once all of them agreed.
struct CloseQueryRecorder {
    std::vector<std::string> *Asked;
    std::string Name;
    bool Allow = true;
    void Query(TObject *, bool &CanClose) {
        Asked->push_back(Name);
        CanClose = Allow;
    }
};

TEST(MDIFormTest, TheFrameClosesOnlyWhenEveryChildAgrees) {
    TForm *main = ShowFrame();
    std::vector<std::string> asked;
    CloseQueryRecorder frame{&asked, "frame"}, child0{&asked, "child0"}, child1{&asked, "child1"};
    main->OnCloseQuery = MakeEvent<&CloseQueryRecorder::Query>(&frame);
    for (int i = 0; i < 2; ++i) {
        auto *child = new TForm(nullptr);
        child->SetFormStyle(fsMDIChild);
        child->Show();
    }
    ASSERT_EQ(main->MDIChildCount(), 2);
    // Named by their place in MDIChildren.
    main->MDIChildren(0)->OnCloseQuery = MakeEvent<&CloseQueryRecorder::Query>(&child0);
    main->MDIChildren(1)->OnCloseQuery = MakeEvent<&CloseQueryRecorder::Query>(&child1);

    struct TCase {
        bool Allow0, Allow1;
        bool Closes;
        std::vector<std::string> Asked;
    } cases[] = {
        {true, true, true, {"child0", "child1", "frame"}},
        {true, false, false, {"child0", "child1"}},
        {false, true, false, {"child0"}},
    };
    for (const TCase &c : cases) {
        child0.Allow = c.Allow0;
        child1.Allow = c.Allow1;
        asked.clear();
        EXPECT_EQ(main->CloseQuery(), c.Closes);
        EXPECT_EQ(asked, c.Asked);
    }
    while (main->MDIChildCount() > 0)
        delete main->MDIChildren(0);
    Application->SetMainForm(nullptr);
    delete main;
}

TEST(ScreenTest, FormsMonitorsAndFonts) {
    int before = Screen->FormCount();
    auto *form = new TForm(nullptr);
    EXPECT_EQ(Screen->FormCount(), before + 1);
    EXPECT_EQ(Screen->Forms(before), form);
    delete form;
    EXPECT_EQ(Screen->FormCount(), before);
    ASSERT_GE(Screen->MonitorCount(), 1);
    TMonitor primary = Screen->MonitorFromPoint({1, 1});
    EXPECT_TRUE(primary.Primary);
    EXPECT_EQ(primary.BoundsRect.right - primary.BoundsRect.left, Screen->Width());
    EXPECT_GT(Screen->Fonts().Count(), 0);
    EXPECT_EQ(Mouse.DragThreshold(), std::max(GetSystemMetrics(SM_CXDRAG), GetSystemMetrics(SM_CYDRAG)) > 0
                                         ? std::max(GetSystemMetrics(SM_CXDRAG), GetSystemMetrics(SM_CYDRAG))
                                         : 5);
    // The font of controls is the system's message font.
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = offsetof(NONCLIENTMETRICSA, lfMessageFont) + sizeof(LOGFONTA);
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0));
    TFont font;
    EXPECT_EQ(font.Name(), metrics.lfMessageFont.lfFaceName);
    EXPECT_EQ(font.Height(), metrics.lfMessageFont.lfHeight);
    // The screen cursor overrides the controls' own and comes back.
    Screen->SetCursor(crHourGlass);
    EXPECT_EQ(Screen->Cursor(), crHourGlass);
    Screen->SetCursor(crDefault);
    EXPECT_EQ(Screen->Cursor(), crDefault);
}

} // namespace

namespace {

// Filters and hooks that record what they saw; Take says whether they handle it.
struct Filter {
    std::vector<UINT> Seen;
    bool Take = false;
    void OnMessage(MSG &Msg, bool &Handled) {
        Seen.push_back(Msg.message);
        Handled = Take;
    }
    bool OnWindow(TMessage &Message) {
        Seen.push_back(Message.Msg);
        if (Take)
            Message.Result = 77;
        return Take;
    }
};

constexpr UINT TestMessage = WM_APP + 0x321;

std::vector<std::string> MenuBarTexts(HMENU Menu) {
    std::vector<std::string> texts;
    for (int i = 0; i < GetMenuItemCount(Menu); ++i) {
        char text[64] = {};
        GetMenuStringA(Menu, i, text, sizeof(text), MF_BYPOSITION);
        texts.push_back(text);
    }
    return texts;
}

TMenuItem *AddMenuItem(TMenuItem &Parent, const std::string &Caption, int GroupIndex = 0) {
    auto *item = new TMenuItem(nullptr);
    item->SetCaption(Caption);
    item->SetGroupIndex(GroupIndex);
    Parent.Add(item);
    return item;
}

} // namespace

// Components add and remove their own filters in any order; one that leaves first does not take
// another's with it (a single replaced hook that was put back out of order was lost).
TEST(MessageFilterTest, FiltersComeAndGoInAnyOrder) {
    Filter first, second, third;
    Application->AddMessageFilter(MakeEvent<&Filter::OnMessage>(&first));
    Application->AddMessageFilter(MakeEvent<&Filter::OnMessage>(&second));
    Application->AddMessageFilter(MakeEvent<&Filter::OnMessage>(&third));
    second.Take = true;
    PostMessageA(Application->Handle(), TestMessage, 0, 0);
    PumpPending();
    EXPECT_EQ(std::count(first.Seen.begin(), first.Seen.end(), TestMessage), 1);
    EXPECT_EQ(std::count(second.Seen.begin(), second.Seen.end(), TestMessage), 1);
    EXPECT_EQ(std::count(third.Seen.begin(), third.Seen.end(), TestMessage), 0); // taken before it
    Application->RemoveMessageFilter(MakeEvent<&Filter::OnMessage>(&first));
    Application->RemoveMessageFilter(MakeEvent<&Filter::OnMessage>(&second));
    first.Seen.clear();
    third.Seen.clear();
    PostMessageA(Application->Handle(), TestMessage, 0, 0);
    PumpPending();
    EXPECT_TRUE(first.Seen.empty());
    EXPECT_EQ(std::count(third.Seen.begin(), third.Seen.end(), TestMessage), 1);
    Application->RemoveMessageFilter(MakeEvent<&Filter::OnMessage>(&third));
}

// Hooks of the application window see sent messages too; the one that takes a message answers it.
TEST(MessageFilterTest, ApplicationWindowHooksAnswerSentMessages) {
    Filter first, second;
    Application->HookMainWindow(MakeEvent<&Filter::OnWindow>(&first));
    Application->HookMainWindow(MakeEvent<&Filter::OnWindow>(&second));
    second.Take = true;
    EXPECT_EQ(SendMessageA(Application->Handle(), TestMessage, 0, 0), 77);
    Application->UnhookMainWindow(MakeEvent<&Filter::OnWindow>(&first));
    first.Seen.clear();
    EXPECT_EQ(SendMessageA(Application->Handle(), TestMessage, 0, 0), 77);
    EXPECT_TRUE(first.Seen.empty());
    Application->UnhookMainWindow(MakeEvent<&Filter::OnWindow>(&second));
    EXPECT_EQ(SendMessageA(Application->Handle(), TestMessage, 0, 0), 0);
}

// An active MDI child's menu replaces the frame's groups of the same index; the bar goes back
// when the child goes. Its commands and the frame's run through the frame's menu.
TEST(MDIFormTest, ChildMenusMergeByGroupIndex) {
    auto *main = new TForm(nullptr);
    main->SetFormStyle(fsMDIForm);
    auto *mainMenu = new TMainMenu(main);
    AddMenuItem(mainMenu->Items(), "&File", 1);
    AddMenuItem(mainMenu->Items(), "&Options", 5);
    AddMenuItem(mainMenu->Items(), "&Window", 6);
    AddMenuItem(mainMenu->Items(), "&Help", 7);
    main->SetMenu(mainMenu);
    Application->SetMainForm(main);
    main->SetBounds(0, 0, 600, 400);
    main->Show();
    Counter activations;
    Screen->OnActiveFormChange = MakeNotifyEvent<&Counter::Notify>(&activations);
    EXPECT_EQ(MenuBarTexts(GetMenu(main->Handle())),
              (std::vector<std::string>{"&File", "&Options", "&Window", "&Help"}));

    auto *child = new TForm(nullptr);
    auto *childMenu = new TMainMenu(child);
    TMenuItem *childFile = AddMenuItem(childMenu->Items(), "&File", 1);
    TMenuItem *save = AddMenuItem(*childFile, "&Save");
    Counter saves;
    save->OnClick = MakeNotifyEvent<&Counter::Notify>(&saves);
    AddMenuItem(childMenu->Items(), "&Edit", 2);
    AddMenuItem(childMenu->Items(), "&View", 6);
    child->SetMenu(childMenu);
    child->SetFormStyle(fsMDIChild);
    child->Show();
    PumpPending();
    EXPECT_GE(activations.Count, 1);
    EXPECT_EQ(Screen->ActiveForm(), child);
    EXPECT_EQ(MenuBarTexts(GetMenu(main->Handle())),
              (std::vector<std::string>{"&File", "&Edit", "&Options", "&View", "&Help"}));
    SendMessageA(main->Handle(), WM_COMMAND, save->Command(), 0);
    EXPECT_EQ(saves.Count, 1);

    delete child;
    PumpPending();
    EXPECT_EQ(mainMenu->Merged(), nullptr);
    EXPECT_EQ(MenuBarTexts(GetMenu(main->Handle())),
              (std::vector<std::string>{"&File", "&Options", "&Window", "&Help"}));
    Screen->OnActiveFormChange = nullptr;
    Application->SetMainForm(nullptr);
    delete main;
}

// With key preview the main form sees the keys typed into an MDI child first, and its menu's
// shortcuts serve the child.
TEST(MDIFormTest, MainFormPreviewsTheKeysOfItsChildren) {
    struct Preview {
        int F11 = 0;
        void ShortCut(WORD Key, TShiftState, bool &Handled) {
            if (Key == VK_F11) {
                ++F11;
                Handled = true;
            }
        }
    } preview;
    auto *main = new TForm(nullptr);
    main->SetFormStyle(fsMDIForm);
    main->SetKeyPreview(true);
    main->OnShortCut = MakeEvent<&Preview::ShortCut>(&preview);
    auto *mainMenu = new TMainMenu(main);
    TMenuItem *file = AddMenuItem(mainMenu->Items(), "&File", 1);
    TMenuItem *exportItem = AddMenuItem(*file, "&Export");
    exportItem->SetShortCut(ShortCut('E', ssCtrl | ssShift));
    Counter exports;
    exportItem->OnClick = MakeNotifyEvent<&Counter::Notify>(&exports);
    main->SetMenu(mainMenu);
    Application->SetMainForm(main);
    main->SetBounds(0, 0, 600, 400);
    main->Show();
    auto *child = new TForm(nullptr);
    child->SetFormStyle(fsMDIChild);
    auto *edit = new TEdit(child);
    edit->SetParent(child);
    child->Show();
    edit->SetFocus();
    ASSERT_TRUE(PumpUntil([&] { return edit->Focused(); }));
    SendKeys({VK_F11});
    EXPECT_TRUE(PumpUntil([&] { return preview.F11 == 1; }));
    SendKeys({VK_CONTROL, VK_SHIFT, 'E'});
    EXPECT_TRUE(PumpUntil([&] { return exports.Count == 1; }));
    EXPECT_EQ(edit->Text(), "");
    delete child;
    Application->SetMainForm(nullptr);
    delete main;
}
