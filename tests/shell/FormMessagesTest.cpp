// The rows of the compiler messages window and the help pages of its messages.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompFileManager.h"
#include "CompMessages.h"
#include "FormMessages.h"
#include "TestFormulas.h"

namespace {

std::string DataPath(const std::string &Name) {
    return std::string(TEST_DATA_DIR) + "shell\\data\\" + Name;
}

std::vector<std::string> Texts(const TMessageRows &Rows) {
    std::vector<std::string> texts;
    for (const TMessageRow &row : Rows.Rows)
        texts.push_back(row.Text);
    return texts;
}

// A manager of the test's own, following a formula object named after a file and an entry.
class FormMessagesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        FOwnsFileManager = FileManager() == nullptr;
        if (FOwnsFileManager)
            InitializeCompFileManager();
    }
    static void TearDownTestSuite() {
        if (FOwnsFileManager)
            FinalizeCompFileManager();
    }
    void SetUp() override {
        Formula.SetSource(DataPath("FormMessages_entries.ofm"), "Broken");
        Manager.SetFormula(&Formula);
    }
    void TearDown() override { Manager.ClearFormula(); }
    TErrorManager Manager;
    TTestFormula Formula;
    static inline bool FOwnsFileManager = false;
};

TEST_F(FormMessagesTest, WarningThenStatusRow) {
    Manager.BeginCompile(&Formula);
    Manager.AddWarning(&Formula, cwResultIgnored, "Result ignored.", {2, 4});
    Manager.EndCompile(&Formula);
    const TMessageRows rows = MakeMessageRows(Manager, true);
    EXPECT_EQ(Texts(rows), (std::vector<std::string>{
                               "Warning: FormMessages_entries.ofm (3:5): Result ignored.",
                               "Successfully compiled 'Broken' in 'FormMessages_entries.ofm'.",
                           }));
    EXPECT_EQ(rows.Rows[0].Icon, TMessageIcon::Warning);
    EXPECT_EQ(rows.Rows[1].Icon, TMessageIcon::Compiled);
    EXPECT_EQ(rows.WarningsAndErrors, 1);
    EXPECT_EQ(rows.Status, 1);
}

TEST_F(FormMessagesTest, ErrorMakesTheStatusUnableAndIsTheRowToSelect) {
    Manager.BeginCompile(&Formula);
    Manager.AddWarning(&Formula, cwVariableNeverUsed, "Never used.", {0, 0});
    Manager.AddError(&Formula, ceNoStartLabel, {5, 2}, "Label expected.");
    const TMessageRows rows = MakeMessageRows(Manager, true);
    ASSERT_EQ(rows.Rows.size(), 3u);
    EXPECT_EQ(rows.Rows[1].Text, "Error: FormMessages_entries.ofm (6:3): Label expected.");
    EXPECT_EQ(rows.Rows[2].Text, "Unable to compile 'Broken' in 'FormMessages_entries.ofm'.");
    EXPECT_EQ(rows.Rows[2].Icon, TMessageIcon::NotCompiled);
    EXPECT_EQ(rows.LastErrorRow, 1);
    EXPECT_EQ(rows.Rows[1].MessageIndex, 1);
}

TEST_F(FormMessagesTest, OutputComesAfterTheStatusRowWithOrWithoutItsPosition) {
    Manager.BeginCompile(&Formula);
    Manager.EndCompile(&Formula);
    Manager.AddOutput(&Formula, {7, 0}, okPrint, "z = 1", "Broken", "C:\\f\\FormMessages_entries.ofm");
    const TMessageRows rows = MakeMessageRows(Manager, true);
    EXPECT_EQ(Texts(rows), (std::vector<std::string>{
                               "Successfully compiled 'Broken' in 'FormMessages_entries.ofm'.",
                               "Message: Broken in FormMessages_entries.ofm (8:1): z = 1",
                           }));
    EXPECT_TRUE(rows.HasOutput);
    EXPECT_EQ(rows.WarningsAndErrors, 0);
    EXPECT_EQ(MakeMessageRows(Manager, false).Rows[1].Text, "Message: z = 1");
}

TEST(FormMessagesRowsTest, NothingFollowedShowsNoMessages) {
    TErrorManager manager;
    const TMessageRows rows = MakeMessageRows(manager, true);
    EXPECT_EQ(Texts(rows), (std::vector<std::string>{"No messages."}));
    EXPECT_FALSE(rows.Rows[0].IsMessage());
}

TEST(FormMessagesHelpTest, PagesAreNamedAfterTheCodes) {
    TCompilerMessage error;
    error.Kind = mkError;
    error.ErrorCode = ceNoStartLabel;
    EXPECT_EQ(MessageHelpPage(error), "Html/writing/reference/errors/NoStartLabel.html");
    TCompilerMessage warning;
    warning.Kind = mkWarning;
    warning.WarningCode = cwResultIgnored;
    EXPECT_EQ(MessageHelpPage(warning), "Html/writing/reference/warnings/ResultIgnored.html");
    TCompilerMessage runTime;
    runTime.Kind = mkOutput;
    runTime.OutputKind = okIncompatibleArrays;
    EXPECT_EQ(MessageHelpPage(runTime), "Html/writing/reference/errors/IncompatibleArrays.html");
    runTime.OutputKind = okPrint;
    EXPECT_EQ(MessageHelpPage(runTime), "");
}

} // namespace
