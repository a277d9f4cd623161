// The help handler as HTML Help sees it: each help command of the application turns into one call
// with the command number and data that HTML Help documents (HH_DISPLAY_TOPIC 0, HH_KEYWORD_LOOKUP
// 13, HH_DISPLAY_TEXT_POPUP 14, HH_HELP_CONTEXT 15), observed through the handler's seam; the Help
// menu and the welcome window reach it through the application's help.
#include <gtest/gtest.h>

#include <windows.h>

#include <htmlhelp.h>

#include <optional>
#include <string>
#include <vector>

#include "FormMainTestSupport.h"
#include "FormWelcome.h"
#include "GenProgram.h"
#include "GenRegistry.h"
#include "GenSetup.h"
#include "HelpHandler.h"

namespace {

// One call of HTML Help with its data read the way HTML Help reads it.
struct THelpCall {
    std::string File;
    UINT Command = 0;
    DWORD_PTR Number = 0; // context numbers
    std::string Text;     // topics, keywords
    std::optional<HH_AKLINK> Link;
    std::optional<HH_POPUP> Popup;
    std::string PopupFont;
};

class HelpRecorder {
public:
    explicit HelpRecorder(HWND Answer = nullptr) {
        SetHtmlHelpFunction([this, Answer](const std::string &File, UINT Command, DWORD_PTR Data) {
            THelpCall call;
            call.File = File;
            call.Command = Command;
            if (Command == HH_HELP_CONTEXT)
                call.Number = Data;
            else if (Command == HH_DISPLAY_TOPIC && Data)
                call.Text = reinterpret_cast<const char *>(Data);
            else if (Command == HH_KEYWORD_LOOKUP) {
                call.Link = *reinterpret_cast<const HH_AKLINK *>(Data);
                call.Text = call.Link->pszKeywords ? call.Link->pszKeywords : "(null)";
            } else if (Command == HH_DISPLAY_TEXT_POPUP) {
                call.Popup = *reinterpret_cast<const HH_POPUP *>(Data);
                call.PopupFont = call.Popup->pszFont ? call.Popup->pszFont : "";
            }
            Calls.push_back(call);
            return Answer;
        });
    }
    ~HelpRecorder() { SetHtmlHelpFunction(nullptr); }
    std::vector<THelpCall> Calls;
};

const std::string HelpFile = "C:\\Program\\OrbiskVantel.chm";

bool Ask(THelpHandler &Handler, WORD Command, intptr_t Data) {
    bool callHelp = true;
    const bool handled = Handler.HelpHook(Command, Data, callHelp);
    EXPECT_FALSE(callHelp) << "the system's own help engine must never run";
    return handled;
}

TEST(HelpHandlerTest, CommandsBecomeHtmlHelpCalls) {
    struct TCase {
        WORD Command;
        const char *Text; // the data as text, or nullptr for Number
        intptr_t Number;
        UINT HtmlCommand;
        const char *Expected; // topic or keyword
    };
    const TCase cases[] = {
        {HELP_FINDER, nullptr, 0, HH_DISPLAY_TOPIC, ""},
        {HELP_CONTEXT, nullptr, 1234, HH_HELP_CONTEXT, ""},
        {HELP_COMMAND, "JumpID(\"\",\"Html/support/support.html\")", 0, HH_DISPLAY_TOPIC,
         "Html/support/support.html"},
        {HELP_COMMAND, "JumpID(\"\",\"Html/tutorials/tutorials.html\")", 0, HH_DISPLAY_TOPIC,
         "Html/tutorials/tutorials.html"},
        {HELP_PARTIALKEY, "", 0, HH_KEYWORD_LOOKUP, ""},
        {HELP_KEY, "zoom", 0, HH_KEYWORD_LOOKUP, "zoom"},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Command);
        HelpRecorder recorder;
        THelpHandler handler(HelpFile);
        EXPECT_TRUE(Ask(handler, c.Command, c.Text ? reinterpret_cast<intptr_t>(c.Text) : c.Number));
        ASSERT_EQ(1u, recorder.Calls.size());
        const THelpCall &call = recorder.Calls[0];
        EXPECT_EQ(HelpFile, call.File);
        EXPECT_EQ(c.HtmlCommand, call.Command);
        EXPECT_EQ(std::string(c.Expected), call.Text);
        if (c.HtmlCommand == HH_HELP_CONTEXT)
            EXPECT_EQ(static_cast<DWORD_PTR>(c.Number), call.Number);
        if (call.Link) {
            EXPECT_EQ(static_cast<int>(sizeof(HH_AKLINK)), call.Link->cbStruct);
            EXPECT_TRUE(call.Link->fIndexOnFail);
            EXPECT_FALSE(call.Link->fReserved);
            EXPECT_EQ(nullptr, call.Link->pszUrl);
            EXPECT_EQ(nullptr, call.Link->pszMsgText);
            EXPECT_EQ(nullptr, call.Link->pszMsgTitle);
            EXPECT_EQ(nullptr, call.Link->pszWindow);
        }
    }
}

TEST(HelpHandlerTest, OtherMacrosDoNothing) {
    for (const char *macro :
         {"", "Contents()", "JumpID(\"\",\"Html/a.html\"", "JumpID(\"x\",\"Html/a.html\")",
          "jumpid(\"\",\"Html/a.html\")", "JumpID(\"\",\")"}) {
        HelpRecorder recorder;
        THelpHandler handler(HelpFile);
        EXPECT_TRUE(Ask(handler, HELP_COMMAND, reinterpret_cast<intptr_t>(macro)));
        EXPECT_TRUE(recorder.Calls.empty()) << macro;
    }
}

TEST(HelpHandlerTest, ContextPopupComesFromThePopupFile) {
    HelpRecorder recorder;
    THelpHandler handler(HelpFile);
    POINT cursor;
    GetCursorPos(&cursor);
    Ask(handler, HELP_CONTEXTPOPUP, 77);
    ASSERT_EQ(1u, recorder.Calls.size());
    const THelpCall &call = recorder.Calls[0];
    EXPECT_EQ(static_cast<UINT>(HH_DISPLAY_TEXT_POPUP), call.Command);
    EXPECT_EQ(HelpFile + "::/Popups.txt", call.File);
    ASSERT_TRUE(call.Popup);
    const HH_POPUP &popup = *call.Popup;
    EXPECT_EQ(static_cast<int>(sizeof(HH_POPUP)), popup.cbStruct);
    EXPECT_EQ(nullptr, popup.hinst);
    EXPECT_EQ(77u, popup.idString);
    EXPECT_EQ(nullptr, popup.pszText);
    EXPECT_EQ(cursor.x, popup.pt.x);
    EXPECT_EQ(cursor.y, popup.pt.y);
    EXPECT_EQ(static_cast<COLORREF>(-1), popup.clrForeground);
    EXPECT_EQ(static_cast<COLORREF>(-1), popup.clrBackground);
    EXPECT_EQ(10, popup.rcMargins.left);
    EXPECT_EQ(8, popup.rcMargins.top);
    EXPECT_EQ(10, popup.rcMargins.right);
    EXPECT_EQ(8, popup.rcMargins.bottom);
    EXPECT_EQ("Tahoma,8,,", call.PopupFont);
}

TEST(HelpHandlerTest, PopupsAreMovedOntoTheirMonitor) {
    struct TCase {
        RECT Popup, Monitor, Expected;
    };
    // A secondary monitor left of the primary one, and the primary one.
    const RECT left{-1280, 0, 0, 1024}, primary{0, 0, 1024, 768};
    const TCase cases[] = {
        {{-100, 50, 150, 150}, left, {-250, 50, 0, 150}},          // passes the right edge
        {{-1300, 50, -1100, 150}, left, {-1280, 50, -1080, 150}},  // left of it
        {{-600, -20, -400, 80}, left, {-600, 0, -400, 100}},       // above it
        {{-600, 1000, -400, 1100}, left, {-600, 924, -400, 1024}}, // below it
        {{900, 700, 1100, 800}, primary, {824, 668, 1024, 768}},   // off two edges
        {{10, 10, 110, 60}, primary, {10, 10, 110, 60}},           // inside: stays
    };
    for (const TCase &c : cases) {
        const RECT fitted = FitRectOnMonitor(c.Popup, c.Monitor);
        EXPECT_EQ(c.Expected.left, fitted.left);
        EXPECT_EQ(c.Expected.top, fitted.top);
        EXPECT_EQ(c.Expected.right, fitted.right);
        EXPECT_EQ(c.Expected.bottom, fitted.bottom);
    }
}

LRESULT CALLBACK CloseRecorder(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam) {
    if (Msg == WM_CLOSE) {
        SetPropA(Window, "closed", reinterpret_cast<HANDLE>(1));
        return 0;
    }
    return DefWindowProcA(Window, Msg, WParam, LParam);
}

TEST(HelpHandlerTest, QuitClosesTheKnownHelpWindow) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = CloseRecorder;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "OVHelpWindowStandIn";
    RegisterClassA(&windowClass);
    HWND helpWindow = CreateWindowA("OVHelpWindowStandIn", "help", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                    GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, helpWindow);
    HelpRecorder recorder(helpWindow);
    THelpHandler handler(HelpFile);
    Ask(handler, HELP_QUIT, 0); // no window yet: nothing happens
    Ask(handler, HELP_FINDER, 0);
    EXPECT_EQ(helpWindow, handler.HelpWindow());
    Ask(handler, HELP_QUIT, 0);
    EXPECT_EQ(nullptr, handler.HelpWindow());
    EXPECT_TRUE(window_test::PumpUntil([&] { return GetPropA(helpWindow, "closed") != nullptr; }));
    RemovePropA(helpWindow, "closed");
    DestroyWindow(helpWindow);
    EXPECT_EQ(1u, recorder.Calls.size()); // the quit itself calls nothing
}

// The application's help reaches the handler once the module has started.
class HelpModule : public MainWindowTest {
protected:
    void SetUp() override {
        InitializeHelpHandler();
        MainWindowTest::SetUp();
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        FinalizeHelpHandler();
    }
};

TEST_F(HelpModule, HelpMenuOpensItsTopics) {
    HelpRecorder recorder;
    struct TCase {
        TMenuItem *Item;
        UINT Command;
        const char *Text;
    };
    const TCase cases[] = {
        {Form->ContentsItem, HH_DISPLAY_TOPIC, ""},
        {Form->IndexItem, HH_KEYWORD_LOOKUP, ""},
        {Form->WhatsNewItem, HH_DISPLAY_TOPIC, "Html/whatsnew/newfeatures.html"},
        {Form->TutorialsItem, HH_DISPLAY_TOPIC, "Html/tutorials/tutorials.html"},
        {Form->WorkspaceItem, HH_DISPLAY_TOPIC, "Html/workspace/workspace.html"},
        {Form->KeyboardItem, HH_DISPLAY_TOPIC, "Html/keyboard/general.html"},
        {Form->SupportItem, HH_DISPLAY_TOPIC, "Html/support/support.html"},
    };
    for (const TCase &c : cases) {
        recorder.Calls.clear();
        c.Item->Click();
        ASSERT_EQ(1u, recorder.Calls.size()) << c.Text;
        EXPECT_EQ(c.Command, recorder.Calls[0].Command) << c.Text;
        EXPECT_EQ(std::string(c.Text), recorder.Calls[0].Text);
        EXPECT_EQ(ChangeFileExt(HelpHandler()->HelpFile(), ".chm"), recorder.Calls[0].File);
    }
}

TEST_F(HelpModule, WelcomeChoicesOpenTheirPagesAndSwitchThemselvesOff) {
    const bool started = ConfigManager() == nullptr;
    if (started) {
        InitializeGenProgram();
        InitializeGenRegistry();
        InitializeGenSetup();
    }
    const bool saved = ConfigManager()->General->StartupWelcome;
    struct TCase {
        int Choice; // 0 start, 1 what's new, 2 tutorials, 3 workspace
        bool Show;
        int Result;
        const char *Opened; // nullptr: nothing
    };
    const TCase cases[] = {
        {2, true, mrOk, "Html/tutorials/tutorials.html"},
        {1, true, mrOk, "Html/whatsnew/newfeatures.html"},
        {3, false, mrOk, "Html/workspace/workspace.html"},
        {0, true, mrOk, nullptr},
        {2, false, mrCancel, nullptr},
        {2, true, mrCancel, nullptr},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Choice);
        HelpRecorder recorder;
        TWelcomeForm form(nullptr);
        EXPECT_TRUE(form.StartRadio->Checked());
        EXPECT_TRUE(form.ShowCheck->Checked());
        TRadioButton *radios[] = {form.StartRadio, form.WhatsNewRadio, form.TutorialsRadio,
                                  form.WorkspaceRadio};
        radios[c.Choice]->SetChecked(true);
        form.ShowCheck->SetChecked(c.Show);
        ConfigManager()->General->StartupWelcome = !c.Show;
        ApplyWelcome(form, c.Result);
        EXPECT_EQ(c.Show, ConfigManager()->General->StartupWelcome);
        if (c.Opened) {
            ASSERT_EQ(1u, recorder.Calls.size());
            EXPECT_EQ(std::string(c.Opened), recorder.Calls[0].Text);
        } else
            EXPECT_TRUE(recorder.Calls.empty());
    }
    ConfigManager()->General->StartupWelcome = saved;
    if (started) {
        FinalizeGenSetup();
        FinalizeGenRegistry();
        FinalizeGenProgram();
    }
}

} // namespace
