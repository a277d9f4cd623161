// The readers' dialogs: the missing-formula dialog's search of the formula folders, its closing
// rules and remembered choice, and the load-warnings list.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DocumentTestSupport.h"
#include "Forms.h"
#include "FracReaderForms.h"
#include "ReaderTestSupport.h"

namespace {

// Records what the dialog would tell the user instead of showing a message box.
class TRecordingMissingFormulaForm : public TMissingFormulaForm {
public:
    using TMissingFormulaForm::TMissingFormulaForm;
    std::vector<std::string> Informed;

protected:
    void Inform(const std::string &Text) override { Informed.push_back(Text); }
};

class TReaderFormsTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        Configuration = new TDocumentConfiguration("Alice");
        Forms = new TFormsForSuite;
    }
    static void TearDownTestSuite() {
        delete Forms;
        Forms = nullptr;
        delete Configuration;
        Configuration = nullptr;
    }
    void SetUp() override {
        Folder = std::make_unique<TScratchFormulaFolder>();
        // Spiral lies in a subfolder's .ofm, a .frm, a .ocl and a .oxf; Other.ofm lacks it.
        const std::string spiral = "Spiral {\r\n}\r\n";
        ForceDirectories(Folder->Path() + "sub\\deeper");
        WriteWholeFile(Folder->File("sub\\deeper\\A.ofm"), "First {\r\n}\r\n" + spiral);
        WriteWholeFile(Folder->File("B.frm"), "spiral {\r\n}\r\n");
        WriteWholeFile(Folder->File("C.ocl"), spiral);
        WriteWholeFile(Folder->File("D.ofm"), "Other {\r\n}\r\n");
        WriteWholeFile(Folder->File("E.oxf"), spiral);
        ConfigManager()->WriteFormInteger("MissingFormulaForm", "Action", 0);
    }
    void TearDown() override { Folder.reset(); }

    // A dialog for the entry and file whose search ran (the posted message handled).
    std::unique_ptr<TRecordingMissingFormulaForm> Searched(const std::string &Entry,
                                                           const std::string &File) {
        auto form = std::make_unique<TRecordingMissingFormulaForm>(nullptr, Entry, File);
        Application->ProcessMessages();
        return form;
    }

    static std::vector<std::string> ListedFiles(TMissingFormulaForm &Form) {
        std::vector<std::string> files;
        for (int i = 0; i < Form.List->ItemCount(); ++i) {
            EXPECT_EQ(Form.List->Items(i)->Caption(), Form.EntryName);
            files.push_back(Form.List->Items(i)->SubItems().Strings(0));
        }
        return files;
    }

    static inline TDocumentConfiguration *Configuration = nullptr;
    static inline TFormsForSuite *Forms = nullptr;
    std::unique_ptr<TScratchFormulaFolder> Folder;
};

TEST_F(TReaderFormsTest, TheSearchLooksInFilesOfTheFormulasKindSubfoldersFirst) {
    struct TCase {
        const char *FileName;
        std::vector<std::string> Matches; // under the scratch folder
    } cases[] = {
        {"C:\\lost\\My Formulas.ofm", {"sub\\deeper\\A.ofm", "B.frm"}},
        {"Old.FRM", {"sub\\deeper\\A.ofm", "B.frm"}},
        {"no extension", {"sub\\deeper\\A.ofm", "B.frm"}},
        {"C:\\lost\\Colorings.OCL", {"C.ocl"}},
        {"Transformations.oxf", {"E.oxf"}},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.FileName);
        auto form = Searched("Spiral", c.FileName);
        std::vector<std::string> expected;
        for (const std::string &match : c.Matches)
            expected.push_back(Folder->File(match));
        EXPECT_EQ(ListedFiles(*form), expected);
        EXPECT_EQ(form->StatusLabel->Caption(), "The following possible matches were found:");
        EXPECT_EQ(form->MessageLabel->Caption(),
                  "Orbisk Vantel was unable to find the formula 'Spiral' in '" + ExtractFileName(c.FileName) +
                      "'.");
        ASSERT_NE(form->List->Selected(), nullptr);
        EXPECT_EQ(form->List->Selected()->Index(), 0);
    }
}

TEST_F(TReaderFormsTest, ASingleMatchIsChosenByOkAndNoMatchKeepsTheDialogOpen) {
    auto single = Searched("Spiral", "Colorings.ocl");
    EXPECT_TRUE(single->UseSelectedRadio->Checked());
    single->SetModalResult(mrOk);
    EXPECT_TRUE(single->CloseQuery());
    EXPECT_EQ(single->Action, TMissingFormulaAction::UseSelected);
    EXPECT_EQ(single->FileName, Folder->File("C.ocl"));
    EXPECT_EQ(single->EntryName, "Spiral");

    auto none = Searched("Absent", "Formulas.ofm");
    EXPECT_EQ(none->List->ItemCount(), 0);
    EXPECT_EQ(none->StatusLabel->Caption(), "No matches were found.");
    none->SetModalResult(mrOk);
    EXPECT_FALSE(none->CloseQuery());
    EXPECT_EQ(none->Informed,
              std::vector<std::string>{"Please select a file from the list, or choose another "
                                       "option \r\nif there are no files in the list."});
    // Another choice closes it.
    none->TryAgainRadio->SetChecked(true);
    EXPECT_TRUE(none->CloseQuery());
    EXPECT_EQ(none->Action, TMissingFormulaAction::TryAgain);
}

TEST_F(TReaderFormsTest, TheChoiceIsRememberedForTheNextDialogButACancelIsNot) {
    struct TCase {
        TRadioButton *TMissingFormulaForm::*Radio;
        TMissingFormulaAction Action;
    } cases[] = {
        {&TMissingFormulaForm::LookForRadio, TMissingFormulaAction::LookOnComputer},
        {&TMissingFormulaForm::DownloadRadio, TMissingFormulaAction::Download},
        {&TMissingFormulaForm::TryAgainRadio, TMissingFormulaAction::TryAgain},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.Action));
        auto form = Searched("Absent", "Formulas.ofm");
        (form.get()->*c.Radio)->SetChecked(true);
        form->SetModalResult(mrOk);
        ASSERT_TRUE(form->CloseQuery());
        EXPECT_EQ(form->Action, c.Action);
        form.reset();

        auto next = Searched("Absent", "Formulas.ofm");
        EXPECT_TRUE((next.get()->*c.Radio)->Checked());
        next->UseSelectedRadio->SetChecked(true);
        next->SetModalResult(mrCancel);
        ASSERT_TRUE(next->CloseQuery());
        EXPECT_EQ(next->Action, TMissingFormulaAction::Cancelled);
        next.reset();
        EXPECT_EQ(ConfigManager()->ReadFormInteger("MissingFormulaForm", "Action", -1),
                  static_cast<int>(c.Action));
    }
}

TEST_F(TReaderFormsTest, ClosingTheDialogStopsTheSearchAtTheNextFile) {
    auto form = std::make_unique<TRecordingMissingFormulaForm>(nullptr, "Spiral", "Formulas.ofm");
    // Closed before the posted search starts: it looks at one file and stops.
    form->SetModalResult(mrCancel);
    Application->ProcessMessages();
    EXPECT_EQ(ListedFiles(*form), std::vector<std::string>{Folder->File("sub\\deeper\\A.ofm")});
    EXPECT_EQ(form->StatusLabel->Caption(), "Searching for possible matches...");
}

// Plays the user of the program's own missing-formula dialog, looking at it on a timer of the
// interface thread: once its search has ended, presses OK (Cancel when the search does not end in
// time).
class TDialogUser {
public:
    TDialogUser() {
        Current = this;
        FTimer = SetTimer(nullptr, 0, 20, &TDialogUser::Tick);
    }
    ~TDialogUser() {
        KillTimer(nullptr, FTimer);
        Current = nullptr;
    }
    TDialogUser(const TDialogUser &) = delete;
    TDialogUser &operator=(const TDialogUser &) = delete;

    bool Pressed = false;

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        if (Current)
            Current->Look();
    }
    void Look() {
        for (int i = 0; i < Screen->FormCount(); ++i) {
            auto *form = dynamic_cast<TMissingFormulaForm *>(Screen->Forms(i));
            if (!form || !form->Modal() || form->ModalResult() != mrNone)
                continue;
            if (form->StatusLabel->Caption() != "Searching for possible matches...") {
                form->SetModalResult(mrOk);
                Pressed = true;
            } else if (++FRounds > 3000) {
                form->SetModalResult(mrCancel);
            }
        }
    }

    static inline TDialogUser *Current = nullptr;
    UINT_PTR FTimer;
    int FRounds = 0;
};

TEST_F(TReaderFormsTest, TheProgramsDialogIsShownModallyAndAnswersWithTheChosenMatch) {
    TDialogUser user;
    const TMissingFormulaAnswer answer =
        ProgramParReaderDialogs().AskMissingFormula("Spiral", "Colorings.ocl");
    EXPECT_TRUE(user.Pressed);
    EXPECT_EQ(answer.Action, TMissingFormulaAction::UseSelected);
    EXPECT_EQ(answer.FileName, Folder->File("C.ocl"));
    EXPECT_EQ(answer.EntryName, "Spiral");
}

TEST_F(TReaderFormsTest, LoadWarningsListEachLineWithItsImageInAColumnAsWideAsTheWidest) {
    TLoadWarningsForm form(nullptr);
    EXPECT_EQ(form.Caption(), "Warnings");
    form.AddCompileError("Error compiling 'Broken' in 'Readers.ofm'.");
    const int narrow = form.List->Columns(0).Width;
    form.AddMissingParameter(
        "Could not locate parameter 'gone' in 'Mandel' in 'A rather long file name.ofm'.");
    const int wide = form.List->Columns(0).Width;
    form.AddCompileError("x");
    ASSERT_EQ(form.List->ItemCount(), 3);
    EXPECT_EQ(form.List->Items(0)->ImageIndex(), TLoadWarningsForm::CompileErrorImage);
    EXPECT_EQ(form.List->Items(1)->ImageIndex(), TLoadWarningsForm::MissingParameterImage);
    EXPECT_EQ(form.List->Items(2)->ImageIndex(), TLoadWarningsForm::CompileErrorImage);
    EXPECT_GT(narrow, 24);
    EXPECT_GT(wide, narrow);
    EXPECT_EQ(form.List->Columns(0).Width, wide) << "a shorter line leaves the column as wide";
}

} // namespace

namespace {

// Looking on the computer without the browser: the open dialog offers the files of the formula's
// kind, starts where the parameter set said the file was (else in the Formula folder), and takes
// a chosen file only when it holds the formula.
TEST_F(TReaderFormsTest, LookingOnTheComputerOffersFilesOfTheKindAndTakesOnlyAFileWithTheFormula) {
    struct TCase {
        int BrowserKind;
        std::string FileName;
        const char *Filter;
        std::string InitialDir;
    } cases[] = {
        {5, "C:\\nowhere\\My Formulas.ofm", "Formula files (*.ofm; *.frm)|*.ofm;*.frm|All files (*.*)|*.*",
         Folder->Path()},
        {4, Folder->File("sub\\Moves.oxf"), "Transformation files (*.oxf)|*.oxf|All files (*.*)|*.*",
         Folder->File("sub\\")},
        {7, "Outside.ocl", "Coloring files (*.ocl)|*.ocl|All files (*.*)|*.*", Folder->Path()},
        {8, "Inside.ocl", "Coloring files (*.ocl)|*.ocl|All files (*.*)|*.*", Folder->Path()},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.FileName);
        TOpenDialog dialog;
        ConfigureFormulaOpenDialog(dialog, c.BrowserKind, c.FileName, "Spiral");
        EXPECT_EQ(dialog.Filter, c.Filter);
        EXPECT_EQ(dialog.FilterIndex, 1);
        EXPECT_EQ(dialog.InitialDir, c.InitialDir);
        EXPECT_EQ(dialog.FileName, ExtractFileName(c.FileName));
        EXPECT_EQ(dialog.Options & ofFileMustExist, ofFileMustExist);
    }

    struct TChoice {
        std::string Chosen;
        bool Taken;
    } choices[] = {
        {Folder->File("sub\\deeper\\A.ofm"), true},
        {Folder->File("B.frm"), true}, // the entry is "spiral" there
        {Folder->File("D.ofm"), false},
        {Folder->File("Missing.ofm"), false},
    };
    for (const TChoice &c : choices) {
        SCOPED_TRACE(c.Chosen);
        std::string fileName = "C:\\nowhere\\My Formulas.ofm", problem;
        EXPECT_EQ(TakeFormulaFromFile(c.Chosen, fileName, "Spiral", problem), c.Taken);
        if (c.Taken) {
            EXPECT_EQ(fileName, c.Chosen);
            EXPECT_EQ(problem, "");
        } else {
            EXPECT_EQ(fileName, "C:\\nowhere\\My Formulas.ofm");
            EXPECT_EQ(problem, "'" + c.Chosen + "' holds no formula named 'Spiral'.");
        }
    }
}

// The browser's entry picker and the formula download, once set, answer the program's own dialogs.
TEST_F(TReaderFormsTest, ASetPickerAndDownloaderServeTheProgramsDialogs) {
    std::vector<std::string> calls;
    const TFormulaEntryPicker previousPicker =
        SetFormulaEntryPicker([&](int Kind, std::string &FileName, std::string &EntryName) {
            calls.push_back(Format("pick %d %s %s", Kind, FileName, EntryName));
            FileName = "C:\\found\\Spirals.ofm";
            EntryName = "Spiral2";
            return true;
        });
    const TFormulaDownloader previousDownloader =
        SetFormulaDownloader([&](const std::string &FileName) { calls.push_back("download " + FileName); });
    std::string fileName = "C:\\lost\\My Formulas.ofm", entryName = "Spiral";
    EXPECT_TRUE(ProgramParReaderDialogs().PickEntry(5, fileName, entryName));
    EXPECT_EQ(fileName, "C:\\found\\Spirals.ofm");
    EXPECT_EQ(entryName, "Spiral2");
    ProgramParReaderDialogs().DownloadFormulaFile("My Formulas.ofm");
    EXPECT_EQ(calls, (std::vector<std::string>{"pick 5 C:\\lost\\My Formulas.ofm Spiral",
                                               "download My Formulas.ofm"}));
    SetFormulaEntryPicker(previousPicker);
    SetFormulaDownloader(previousDownloader);
}

} // namespace
