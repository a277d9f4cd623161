// Saving a formula file reloads the formulas of open documents that were read from it: the new
// text is compiled (here, a broken version reports its error line), and documents of other files
// are left alone.
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "tests/documents/DocumentTestSupport.h"
#include "tests/foundation/TempFolderTest.h"

#include "EditorReload.h"
#include "FracInteractive.h"

namespace {

class EditorReloadTest : public TTempFolderTest {
protected:
    EditorReloadTest() : TTempFolderTest("EditorReloadTest") {}
    static void SetUpTestSuite() { Configuration = new TDocumentConfiguration("Alice"); }
    static void TearDownTestSuite() {
        delete Configuration;
        Configuration = nullptr;
    }
    static inline TDocumentConfiguration *Configuration = nullptr;
    THistoryDataManager HistoryManager{"", 1 << 26};
    TCalculateManager Manager{2};
};

TEST_F(EditorReloadTest, TheFormulaOfAWrittenFileIsCompiledAgain) {
    const std::string good = "Mandel {\r\ninit:\r\n  z = 0\r\nloop:\r\n  z = z^2 + #pixel\r\nbailout:\r\n"
                             "  |z| < 4\r\n}\r\n";
    Put("reload.ofm", good);
    TInteractiveFractal document(&Manager, &HistoryManager);
    SetUpMandelbrot(document, Root + "reload.ofm", 16, 12);
    TFormula &formula = document.GetActiveLayer()->GetFormula();
    ASSERT_FALSE(formula.GetHasError());

    // Another file changed: nothing to reload.
    Put("reload.ofm", "Mandel {\r\ninit:\r\n  z = 0\r\nloop:\r\n  z = z^2 + \r\n}\r\n");
    EXPECT_EQ(ReloadChangedFormulas(document, {Root + "other.ofm"}), 0);
    EXPECT_FALSE(formula.GetHasError());

    // The file itself (named in another letter case): the broken text is compiled.
    std::string upper = Root + "RELOAD.OFM";
    EXPECT_EQ(ReloadChangedFormulas(document, {upper}), 1);
    EXPECT_TRUE(formula.GetHasError());
    EXPECT_EQ(formula.GetErrorLine(), 4);
    WaitCalculated(document);

    Put("reload.ofm", good);
    EXPECT_EQ(ReloadChangedFormulas(document, {Root + "reload.ofm"}), 1);
    EXPECT_FALSE(formula.GetHasError());
    WaitCalculated(document);
}

} // namespace
