// The new-entry dialog: what its choices make of the entry header, which controls each kind
// enables, the empty-title refusal and the check boxes kept from one use to the next.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FormEditor.h"
#include "FormNewFormula.h"
#include "Forms.h"
#include "GenSetup.h"
#include "EditorWindowTestSupport.h"

namespace {

class TRecordedMessages : public TEditorPrompts {
public:
    std::vector<std::string> Messages;
    int AskSaveChanges(const std::string &) override { return mrNo; }
    bool AskSaveFileName(TEditorKind, std::string &) override { return false; }
    bool Confirm(const std::string &) override { return false; }
    void Inform(const std::string &Text, bool) override { Messages.push_back(Text); }
};

class FormNewFormulaTest : public TEditorWindowTest<> {
protected:
    void SetUp() override { SetEditorPrompts(&Prompts); }
    void TearDown() override { SetEditorPrompts(nullptr); }
    TRecordedMessages Prompts;
};

TEST_F(FormNewFormulaTest, TheChoicesOfEachKindMakeTheQualifier) {
    enum TUsage { Inside, Outside, Both };
    struct {
        TEditorKind Kind;
        int Symmetry;
        TUsage Usage;
        const char *Qualifier;
    } const cases[] = {
        {TEditorKind::Formula, 0, Both, ""},
        {TEditorKind::Formula, 1, Both, "XAXIS"},
        {TEditorKind::Formula, 12, Inside, "PI_SYM_NOPARM"}, // the usage means nothing here
        {TEditorKind::Coloring, 3, Inside, "INSIDE"},        // nor the symmetry here
        {TEditorKind::Coloring, 0, Outside, "OUTSIDE"},
        {TEditorKind::Coloring, 0, Both, ""},
        {TEditorKind::Transformation, 5, Outside, ""},
    };
    for (const auto &c : cases) {
        TNewFormulaForm form(nullptr);
        form.SetKind(c.Kind);
        form.TitleInput->SetText("My Title");
        form.SymmetryInput->SetItemIndex(c.Symmetry);
        (c.Usage == Inside    ? form.InsideRadio
         : c.Usage == Outside ? form.OutsideRadio
                              : form.BothRadio)
            ->SetChecked(true);
        form.OkButtonClick(nullptr);
        EXPECT_EQ(form.Options().Qualifier, c.Qualifier) << static_cast<int>(c.Kind) << " " << c.Symmetry;
        EXPECT_EQ(form.Options().Title, "My Title");
    }
}

TEST_F(FormNewFormulaTest, OnlyAFormulaHasASymmetryAndOnlyAColoringAUsage) {
    TNewFormulaForm form(nullptr);
    struct {
        TEditorKind Kind;
        bool Symmetry, Usage;
    } const cases[] = {
        {TEditorKind::Formula, true, false},
        {TEditorKind::Coloring, false, true},
        {TEditorKind::Transformation, false, false},
        {TEditorKind::Formula, true, false},
    };
    for (const auto &c : cases) {
        form.SetKind(c.Kind);
        EXPECT_EQ(form.SymmetryInput->Enabled(), c.Symmetry) << static_cast<int>(c.Kind);
        for (TRadioButton *radio : {form.InsideRadio, form.OutsideRadio, form.BothRadio})
            EXPECT_EQ(radio->Enabled(), c.Usage) << static_cast<int>(c.Kind);
    }
    EXPECT_EQ(form.SymmetryInput->Items().Count(), 13);
    EXPECT_EQ(form.SymmetryInput->Items()[0], "(No symmetry)");
}

TEST_F(FormNewFormulaTest, OkWithoutATitleKeepsTheDialogOpen) {
    TNewFormulaForm form(nullptr);
    form.SetKind(TEditorKind::Formula);
    form.SetModalResult(mrOk);
    EXPECT_FALSE(form.CloseQuery());
    EXPECT_EQ(Prompts.Messages, std::vector<std::string>{"Please enter a title first."});
    form.TitleInput->SetText("T");
    EXPECT_TRUE(form.CloseQuery());
    // Cancel needs no title.
    form.TitleInput->SetText("");
    form.SetModalResult(mrCancel);
    EXPECT_TRUE(form.CloseQuery());
}

TEST_F(FormNewFormulaTest, TheCheckBoxesAreKeptEvenAfterCancel) {
    for (bool comments : {false, true}) {
        {
            TNewFormulaForm form(nullptr);
            form.CommentsCheck->SetChecked(comments);
            form.GlobalCheck->SetChecked(!comments);
            form.SetModalResult(mrCancel);
        }
        TNewFormulaForm form(nullptr);
        EXPECT_EQ(form.CommentsCheck->Checked(), comments);
        EXPECT_EQ(form.GlobalCheck->Checked(), !comments);
    }
}

} // namespace
