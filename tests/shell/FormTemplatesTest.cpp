// The templates dialog: the rows of the templates that start with a pattern, their order under
// the column clicks, and the template a selected row hands back.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FormTemplates.h"
#include "Forms.h"
#include "GenSetup.h"
#include "EditorWindowTestSupport.h"

namespace {

class FormTemplatesTest : public TEditorWindowTest<> {
protected:
    FormTemplatesTest() { Templates.AddDefaults(); }
    std::vector<std::string> Column(TTemplatesForm &Form, int Index) {
        std::vector<std::string> out;
        for (int i = 0; i < Form.List->ItemCount(); ++i)
            out.push_back(Index == 0 ? Form.List->Items(i)->Caption() : Form.List->Items(i)->SubItems()[0]);
        return out;
    }
    TEditorTemplateList Templates;
};

TEST_F(FormTemplatesTest, ListsTheTemplatesStartingWithThePatternSortedWithNoneSelected) {
    TTemplatesForm form(nullptr);
    form.SetPattern("D", Templates);
    EXPECT_EQ(form.Caption(), "Templates Matching 'D'");
    EXPECT_EQ(Column(form, 0),
              (std::vector<std::string>{"db", "dba", "dc", "dca", "df", "dfa", "di", "dia"}));
    EXPECT_EQ(form.List->Items(1)->SubItems()[0], "bool array declaration");
    EXPECT_EQ(form.List->Selected(), nullptr);
    EXPECT_EQ(form.SelectedTemplate(), "");
    EXPECT_EQ(form.Memo->Text(), "");

    form.List->SetItemIndex(3);
    EXPECT_EQ(form.SelectedTemplate(), "complex |[]");
    EXPECT_EQ(form.Memo->Text(), "complex |[]");
}

TEST_F(FormTemplatesTest, ColumnClicksSortAndReverse) {
    TTemplatesForm form(nullptr);
    form.SetPattern("s", Templates);
    const std::vector<std::string> ascending = {"sb", "sd", "sdt", "sf", "sg", "si", "sl", "ss", "st"};
    EXPECT_EQ(Column(form, 0), ascending);
    form.SortBy(0);
    EXPECT_EQ(Column(form, 0), std::vector<std::string>(ascending.rbegin(), ascending.rend()));
    form.SortBy(1); // another column starts ascending
    EXPECT_TRUE(form.SortAscending());
    EXPECT_EQ(Column(form, 1),
              (std::vector<std::string>{"bailout section", "default section", "default section with title",
                                        "final section", "global section", "init section", "loop section",
                                        "switch section", "transform section"}));
    // The selected row keeps its template through a new order.
    form.List->SetItemIndex(0);
    EXPECT_EQ(form.SelectedTemplate(), "bailout:\r  |");
    form.SortBy(1);
    EXPECT_EQ(form.SelectedTemplate(), "bailout:\r  |");
    EXPECT_EQ(form.List->Selected()->Caption(), "sb");
}

} // namespace
