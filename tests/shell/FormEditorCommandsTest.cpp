// The text editor's commands as the user reaches them: the Insert and Edit menus, the keys in the
// text, the entry drop-down, the find and replace dialogs and printing, with the dialogs answered
// by the test.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AdvCtrls.h"
#include "AdvDlgs.h"
#include "FormEditor.h"
#include "Forms.h"
#include "GenSetup.h"
#include "Menus.h"
#include "StdCtrls.h"
#include "EditorWindowTestSupport.h"
#include "tests/foundation/TempFolderTest.h"

namespace {

// What was printed; the editor frees the target it printed on, so the target writes here.
struct TPrintRecord {
    std::string Title;
    std::vector<std::vector<std::string>> Pages;
    bool Ended = false;
};

class TRecordingPrinter : public TEditorPrintTarget {
public:
    TRecordingPrinter(TPrintRecord &ARecord, int APageLines) : FRecord(ARecord), FPageLines(APageLines) {}
    int LinesPerPage() override { return FPageLines; }
    void BeginDocument(const std::string &Title) override { FRecord.Title = Title; }
    void PrintPage(const std::vector<std::string> &Lines) override { FRecord.Pages.push_back(Lines); }
    void EndDocument() override { FRecord.Ended = true; }

private:
    TPrintRecord &FRecord;
    int FPageLines;
};

class TCommandPrompts : public TEditorPrompts {
public:
    std::vector<std::string> Messages;
    // New entry
    bool NewEntryAnswer = false;
    TNewEntryOptions NewEntry;
    TEditorKind NewEntryKind = TEditorKind::Text;
    // Templates
    std::vector<std::string> TemplatePatterns;
    std::string TemplateAnswer;
    // Printing
    std::unique_ptr<TEditorPrintTarget> Printer; // handed out once
    int PrintDialogs = 0;

    int AskSaveChanges(const std::string &) override { return mrNo; }
    bool AskSaveFileName(TEditorKind, std::string &) override { return false; }
    bool Confirm(const std::string &) override { return false; }
    void Inform(const std::string &Text, bool) override { Messages.push_back(Text); }
    bool AskNewEntry(TEditorKind Kind, TNewEntryOptions &Options) override {
        NewEntryKind = Kind;
        if (NewEntryAnswer)
            Options = NewEntry;
        return NewEntryAnswer;
    }
    bool ChooseTemplate(const std::string &Pattern, const TEditorTemplateList &,
                        std::string &Template) override {
        TemplatePatterns.push_back(Pattern);
        Template = TemplateAnswer;
        return !TemplateAnswer.empty();
    }
    std::unique_ptr<TEditorPrintTarget> AskPrinter() override {
        ++PrintDialogs;
        return std::move(Printer);
    }
};

// The item of a menu found by its path of captions.
TMenuItem *MenuItem(TMenuItem &Root, const std::vector<std::string> &Path) {
    TMenuItem *item = &Root;
    for (const std::string &caption : Path) {
        TMenuItem *next = nullptr;
        for (int i = 0; i < item->Count() && !next; ++i)
            if ((*item)[i]->Caption() == caption)
                next = (*item)[i];
        if (!next)
            return nullptr;
        item = next;
    }
    return item;
}

class FormEditorCommandsTest : public TEditorWindowTest<TTempFolderTest> {
protected:
    FormEditorCommandsTest() : TEditorWindowTest("FormEditorCommandsTest") {}
    void SetUp() override {
        TTempFolderTest::SetUp();
        TEditorConfiguration &editor = *ConfigManager()->Editor;
        SavedEditor = {editor.AutoIndent, editor.TabCharacters, editor.TabSize};
        editor.AutoIndent = true;
        editor.TabCharacters = false;
        editor.TabSize = 2;
        editor.Templates->Clear();
        editor.Templates->AddDefaults();
        SetEditorPrompts(&Prompts);
        Form = std::make_unique<TEditForm>(nullptr, false);
        Form->Show();
    }
    void TearDown() override {
        Form.reset();
        SetEditorPrompts(nullptr);
        TEditorConfiguration &editor = *ConfigManager()->Editor;
        editor.AutoIndent = SavedEditor.AutoIndent;
        editor.TabCharacters = SavedEditor.TabCharacters;
        editor.TabSize = SavedEditor.TabSize;
        TTempFolderTest::TearDown();
    }
    void Type(const std::string &Text) { Form->Text().ReplaceSelection(Text); }
    int Caret() {
        int start = 0, length = 0;
        Form->Edit->GetSelection(start, length);
        return start;
    }
    // A key as the keyboard gives it to the text: the key-down, then its character.
    void PressKey(WORD Key, char Character) {
        Form->Edit->Perform(WM_KEYDOWN, Key, 0);
        Form->Edit->Perform(WM_CHAR, static_cast<unsigned char>(Character), 0);
    }
    void Click(const std::vector<std::string> &Path) {
        TMenuItem *item = MenuItem(Form->MainMenu->Items(), Path);
        ASSERT_NE(item, nullptr) << Path.back();
        ASSERT_TRUE(item->Enabled()) << Path.back();
        item->Click();
    }

    struct {
        bool AutoIndent, TabCharacters;
        int TabSize;
    } SavedEditor{};
    TCommandPrompts Prompts;
    std::unique_ptr<TEditForm> Form;
};

TEST_F(FormEditorCommandsTest, NewFormulaAppendsTheSkeletonTheDialogAskedFor) {
    Form->SetKind(TEditorKind::Formula);
    Prompts.NewEntry.Title = "Test";
    Prompts.NewEntry.Qualifier = "XAXIS";
    Prompts.NewEntry.InsertComments = false;
    Prompts.NewEntry.GlobalSection = false;

    // Cancelled: nothing changes.
    Click({"&Insert", "&New Formula..."});
    EXPECT_EQ(Prompts.NewEntryKind, TEditorKind::Formula);
    EXPECT_EQ(Form->Edit->PlainText(), "");

    Prompts.NewEntryAnswer = true;
    Click({"&Insert", "&New Formula..."});
    const std::string expected = "\rTest(XAXIS) {\rinit:\r  \r  \rloop:\r  \rbailout:\r  \rdefault:\r"
                                 "  title = \"Test\"\rswitch:\r}\r";
    EXPECT_EQ(Form->Edit->PlainText(), expected);
    // The caret at the end of the first line of two blanks after "init:".
    EXPECT_EQ(Caret(), static_cast<int>(std::string("\rTest(XAXIS) {\rinit:\r  ").size()));
    // One step of the control's undo takes the whole entry back.
    Click({"&Edit", "&Undo"});
    EXPECT_EQ(Form->Edit->PlainText(), "");
}

TEST_F(FormEditorCommandsTest, CompletionAsksTheTemplatesDialogOnlyWhenSeveralTemplatesStartWithTheWord) {
    // "ife" is a pattern of its own: no dialog.
    Type("  ife");
    Click({"&Insert", "Complete &Template"});
    EXPECT_EQ(Form->Edit->PlainText(), "  if \r    \r  else\r    \r  endif");
    EXPECT_EQ(Caret(), 5);
    EXPECT_TRUE(Prompts.TemplatePatterns.empty());

    // "d" only starts patterns: the dialog is asked, and its choice replaces the word.
    Form->Edit->SetText("x = d");
    Form->Edit->SetSelection(5, 0);
    Prompts.TemplateAnswer = "int |[]";
    Click({"&Insert", "Complete &Template"});
    EXPECT_EQ(Prompts.TemplatePatterns, std::vector<std::string>{"d"});
    EXPECT_EQ(Form->Edit->PlainText(), "x = int []");
    EXPECT_EQ(Caret(), 8);

    // A cancelled dialog changes nothing.
    Form->Edit->SetText("x = d");
    Form->Edit->SetSelection(5, 0);
    Prompts.TemplateAnswer.clear();
    Click({"&Insert", "Complete &Template"});
    EXPECT_EQ(Form->Edit->PlainText(), "x = d");

    // No template starts with "x".
    Form->Edit->SetText("x");
    Form->Edit->SetSelection(1, 0);
    Click({"&Insert", "Complete &Template"});
    ASSERT_EQ(Prompts.Messages.size(), 1u);
    EXPECT_EQ(Prompts.Messages[0], "There are no templates matching the pattern 'x'.\rClick Options on the "
                                   "Options menu to define patterns and templates.");
}

TEST_F(FormEditorCommandsTest, InsertMenuItemsInsertTheirSnippets) {
    struct {
        std::vector<std::string> Path;
        std::string Text;
        int Caret;
    } const cases[] = {
        {{"&Insert", "&Operator", "&Boolean", "&Or ( || )"}, "||", 2},
        {{"&Insert", "&Operator", "&Modulus squared ( |...| )"}, "||", 1},
        {{"&Insert", "&Function", "&Trigonometric", "atan2"}, "atan2()", 6},
        {{"&Insert", "&Predefined symbol", "pixel"}, "#pixel", 6},
        {{"&Insert", "&Label", "loop"}, "loop:\r  ", 8},
    };
    for (const auto &c : cases) {
        Form->Edit->SetText("");
        Click(c.Path);
        EXPECT_EQ(Form->Edit->PlainText(), c.Text) << c.Path.back();
        EXPECT_EQ(Caret(), c.Caret) << c.Path.back();
    }
}

TEST_F(FormEditorCommandsTest, EnterKeepsTheIndentationAndTabInsertsBlanks) {
    Type("    x = 1");
    PressKey(VK_RETURN, '\r');
    EXPECT_EQ(Form->Edit->PlainText(), "    x = 1\r    ");
    PressKey(VK_TAB, '\t');
    EXPECT_EQ(Form->Edit->PlainText(), "    x = 1\r      ");
    // At the start of a line there is no indentation to keep.
    Form->Edit->SetSelection(0, 0);
    PressKey(VK_RETURN, '\r');
    EXPECT_EQ(Form->Edit->PlainText(), "\r    x = 1\r      ");

    // With tab characters on, Tab is the control's own.
    ConfigManager()->Editor->TabCharacters = true;
    Form->Edit->SetText("");
    PressKey(VK_TAB, '\t');
    EXPECT_EQ(Form->Edit->PlainText(), "\t");
}

TEST_F(FormEditorCommandsTest, EditCommandsFollowTheSelection) {
    Type("a\rb\rc");
    Form->Edit->SetSelection(5, 0);
    Form->UpdateStatus();
    for (TMenuItem *item : {Form->CutItem, Form->CopyItem, Form->DeleteItem, Form->IndentItem,
                            Form->CommentItem, Form->PopupCutItem, Form->PopupCommentItem})
        EXPECT_FALSE(item->Enabled()) << item->Caption();
    Form->Edit->SetSelection(0, 3);
    for (TMenuItem *item : {Form->CutItem, Form->CopyItem, Form->DeleteItem, Form->IndentItem,
                            Form->CommentItem, Form->PopupCutItem, Form->PopupCommentItem})
        EXPECT_TRUE(item->Enabled()) << item->Caption();
    Click({"&Edit", "&Indent Block"});
    EXPECT_EQ(Form->Edit->PlainText(), " a\r b\rc");
    Click({"&Edit", "Co&mment Block"});
    EXPECT_EQ(Form->Edit->PlainText(), ";  a\r;  b\rc");
    Click({"&Edit", "U&ncomment Block"});
    EXPECT_EQ(Form->Edit->PlainText(), " a\r b\rc");
    Click({"&Edit", "&Delete"});
    EXPECT_EQ(Form->Edit->PlainText(), "c");
}

TEST_F(FormEditorCommandsTest, FindAndReplaceDialogsShareOneSearch) {
    Type("abBb");
    Form->Edit->SetSelection(0, 0);
    Form->FindDialog->SetFindText("b");
    Form->FindDialog->SetOptions(Form->FindDialog->Options() | FindOption(frMatchCase));
    Form->FindDialog->OnFind(Form->FindDialog);
    int start = 0, length = 0;
    Form->Edit->GetSelection(start, length);
    EXPECT_EQ(start, 1);
    EXPECT_EQ(length, 1);
    // The replace dialog took the find text and the case option.
    EXPECT_EQ(Form->ReplaceDialog->FindText(), "b");
    EXPECT_TRUE(Form->ReplaceDialog->Options() & FindOption(frMatchCase));

    Form->ReplaceDialog->SetReplaceText("X");
    Form->ReplaceDialog->SetOptions(Form->ReplaceDialog->Options() | FindOption(frReplaceAll));
    Form->Edit->SetSelection(0, 0);
    Form->ReplaceDialog->OnReplace(Form->ReplaceDialog);
    EXPECT_EQ(Form->Edit->PlainText(), "aXBX");
    EXPECT_TRUE(Prompts.Messages.empty());

    Form->FindDialog->OnFind(Form->FindDialog);
    EXPECT_EQ(Prompts.Messages, std::vector<std::string>{"Could not find 'b'."});
}

TEST_F(FormEditorCommandsTest, TheEntryDropDownFollowsTheCaretAndGoesToEntries) {
    Put("entries.ofm", "Beta {\r\n  x\r\n}\r\nAlpha {\r\n  y\r\n}\r\ncomment {\r\n}\r\n");
    Form->LoadFromFile(Root + "entries.ofm");
    ASSERT_TRUE(Form->FormulaInput->Enabled());
    Form->GoToPosition(4, 2);
    Form->UpdateCurrentEntry();
    ASSERT_EQ(Form->FormulaInput->Items().Count(), 1);
    EXPECT_EQ(Form->FormulaInput->Items()[0], "Alpha");

    Form->FillEntryList();
    ASSERT_EQ(Form->FormulaInput->Items().Count(), 2);
    EXPECT_EQ(Form->FormulaInput->Items()[0], "Alpha");
    EXPECT_EQ(Form->FormulaInput->Items()[1], "Beta");
    EXPECT_EQ(Form->FormulaInput->ItemIndex(), 0);
    // Choosing Beta puts the caret on its header.
    Form->FormulaInput->SetItemIndex(1);
    Form->FormulaInput->OnSelect(Form->FormulaInput);
    int line = -1, column = -1;
    Form->GetCaretPosition(line, column);
    EXPECT_EQ(line, 0);

    // A plain text has no entries.
    Put("notes.txt", "Beta {\r\n}\r\n");
    Form->LoadFromFile(Root + "notes.txt");
    EXPECT_FALSE(Form->FormulaInput->Enabled());
}

TEST_F(FormEditorCommandsTest, PrintingSendsTheTextPageByPageUnderTheCaption) {
    Put("print.ofm", "a\r\n\tb\r\nxy\tz\r\nlast");
    Form->LoadFromFile(Root + "print.ofm");
    // The print dialog cancelled: nothing is printed.
    Click({"&File", "&Print..."});
    EXPECT_EQ(Prompts.PrintDialogs, 1);

    TPrintRecord record;
    Prompts.Printer = std::make_unique<TRecordingPrinter>(record, 3);
    Click({"&File", "&Print..."});
    EXPECT_EQ(record.Title, "print.ofm");
    // Tabs go to the next multiple of the tab size (2).
    EXPECT_EQ(record.Pages, (std::vector<std::vector<std::string>>{{"a", "  b", "xy  z"}, {"last"}}));
    EXPECT_TRUE(record.Ended);
}

} // namespace
