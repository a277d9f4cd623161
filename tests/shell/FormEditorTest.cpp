// The text editor window over the real rich edit control: positions with tabs, loading and
// saving, the close question, and the tab stops after the whole text is replaced.
#include <windows.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AdvCtrls.h"
#include "FormEditor.h"
#include "Forms.h"
#include "tests/foundation/TempFolderTest.h"

namespace {

// Answers the editor's questions as a test sets them and records what was asked.
class TScriptedPrompts : public TEditorPrompts {
public:
    int SaveChangesAnswer = mrCancel;
    bool SaveDialogAnswer = false;
    std::string SaveDialogName;
    std::vector<std::string> Asked;
    std::vector<std::string> Messages;

    int AskSaveChanges(const std::string &Caption) override {
        Asked.push_back("Save changes to '" + Caption + "'?");
        return SaveChangesAnswer;
    }
    bool AskSaveFileName(TEditorKind, std::string &FileName) override {
        Asked.push_back("save dialog");
        if (SaveDialogAnswer)
            FileName = SaveDialogName;
        return SaveDialogAnswer;
    }
    bool Confirm(const std::string &Text) override {
        Asked.push_back(Text);
        return false;
    }
    void Inform(const std::string &Text, bool) override { Messages.push_back(Text); }
};

class FormEditorTest : public TTempFolderTest {
protected:
    FormEditorTest() : TTempFolderTest("FormEditorTest") {}
    static void SetUpTestSuite() {
        FOwnsForms = Application == nullptr;
        if (FOwnsForms)
            InitializeForms();
    }
    static void TearDownTestSuite() {
        if (FOwnsForms)
            FinalizeForms();
    }
    void SetUp() override {
        TTempFolderTest::SetUp();
        SetEditorPrompts(&Prompts);
        Form = std::make_unique<TEditForm>(nullptr, false);
        Form->Show();
    }
    void TearDown() override {
        Form.reset();
        SetEditorPrompts(nullptr);
        TTempFolderTest::TearDown();
    }
    // Types text at the caret as the user would (through the control, undoable).
    void Type(const std::string &Text) { Form->Text().ReplaceSelection(Text); }

    TScriptedPrompts Prompts;
    std::unique_ptr<TEditForm> Form;
    static inline bool FOwnsForms = false;
};

TEST_F(FormEditorTest, PositionsCountTabsInTheControl) {
    Put("tabs.ofm", "first\r\n\tx\r\nlast");
    Form->LoadFromFile(Root + "tabs.ofm");
    Form->GoToPosition(1, 2);
    int start = 0, length = 0;
    Form->Edit->GetSelection(start, length);
    EXPECT_EQ(start, 7); // "first" CR tab: the caret stands before "x"
    int line = -1, column = -1;
    Form->GetCaretPosition(line, column);
    EXPECT_EQ(line, 1);
    EXPECT_EQ(column, 2);
}

TEST_F(FormEditorTest, LoadNamesTheWindowAndTypingSetsModified) {
    Put("Sample.ofm", "Test {\r\n}\r\n");
    Form->LoadFromFile(Root + "Sample.ofm");
    EXPECT_EQ(Form->Caption(), "Sample.ofm");
    EXPECT_EQ(Form->Kind(), TEditorKind::Formula);
    EXPECT_FALSE(Form->Modified());
    EXPECT_EQ(Form->Edit->PlainText(), "Test {\r}\r");
    Type("x");
    EXPECT_TRUE(Form->Modified());
}

TEST_F(FormEditorTest, UntitledKindsTakeTheirCaptionAndSavingUnderAnotherExtensionChangesTheKind) {
    Form->SetKind(TEditorKind::Formula);
    EXPECT_EQ(Form->Caption().rfind("Formula", 0), 0u) << Form->Caption();
    Type("a\rb");
    Prompts.SaveDialogAnswer = true;
    Prompts.SaveDialogName = Root + "x.oxf";
    ASSERT_TRUE(Form->Save(""));
    EXPECT_EQ(Form->Kind(), TEditorKind::Transformation);
    EXPECT_EQ(Form->Caption(), "x.oxf");
    EXPECT_FALSE(Form->Modified());
    EXPECT_EQ(Get("x.oxf"), "a\r\nb");
}

TEST_F(FormEditorTest, CloseWithYesKeepsTheWindowUntilTheSaveSucceeded) {
    Type("unsaved text");
    Prompts.SaveChangesAnswer = mrYes;
    // Untitled: Yes opens the Save dialog; cancelling it keeps the window and its text.
    Prompts.SaveDialogAnswer = false;
    EXPECT_FALSE(Form->CloseQuery());
    EXPECT_TRUE(Form->Modified());
    EXPECT_EQ(Form->Edit->PlainText(), "unsaved text");

    // A failed write (the file is held open by another program) keeps it too, with the old file.
    Put("held.ofm", "old");
    HANDLE holder = CreateFileA((Root + "held.ofm").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    Prompts.SaveDialogAnswer = true;
    Prompts.SaveDialogName = Root + "held.ofm";
    EXPECT_FALSE(Form->CloseQuery());
    CloseHandle(holder);
    EXPECT_TRUE(Form->Modified());
    EXPECT_EQ(Prompts.Messages.size(), 1u);
    EXPECT_EQ(Get("held.ofm"), "old");

    // Now the save goes through and the window may close.
    EXPECT_TRUE(Form->CloseQuery());
    EXPECT_EQ(Get("held.ofm"), "unsaved text");
    EXPECT_FALSE(Form->Modified());
}

TEST_F(FormEditorTest, CloseWithNoOrCancel) {
    Type("x");
    Prompts.SaveChangesAnswer = mrCancel;
    EXPECT_FALSE(Form->CloseQuery());
    Prompts.SaveChangesAnswer = mrNo;
    EXPECT_TRUE(Form->CloseQuery());
    EXPECT_EQ(Prompts.Asked, (std::vector<std::string>{"Save changes to '" + Form->Caption() + "'?",
                                                       "Save changes to '" + Form->Caption() + "'?"}));
}

TEST_F(FormEditorTest, TabStopsAreSetAgainAfterTheWholeTextIsReplaced) {
    ASSERT_EQ(Form->Edit->TabStops().size(), 32u);
    Put("other.ofm", "a\tb\r\n");
    Form->LoadFromFile(Root + "other.ofm");
    const std::vector<int> stops = Form->Edit->TabStops();
    ASSERT_EQ(stops.size(), 32u);
    EXPECT_GT(stops[0], 0);
    EXPECT_EQ(stops[31] / 32, stops[0]) << "evenly spaced stops";
    EXPECT_FALSE(Form->Modified());
}

TEST_F(FormEditorTest, BlockCommandAndSnippetGoThroughTheControl) {
    Type("a\rb\rc");
    Form->Edit->SetSelection(0, 3);
    Form->RunBlockCommand(TBlockCommand::Comment);
    EXPECT_EQ(Form->Edit->PlainText(), "; a\r; b\rc");
    Form->Edit->SetSelection(static_cast<int>(Form->Edit->PlainText().size()), 0);
    Form->InsertSnippet("sqrt(|)");
    EXPECT_EQ(Form->Edit->PlainText(), "; a\r; b\rcsqrt()");
    int start = 0, length = 0;
    Form->Edit->GetSelection(start, length);
    EXPECT_EQ(start, 14);
}

} // namespace
