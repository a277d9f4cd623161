// The dialogs of the parameter-set readers: the question about a formula that a parameter set
// names but that cannot be found, and the list of warnings after a parameter set was loaded.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ComCtrls.h"
#include "Dialogs.h"
#include "Forms.h"
#include "FracReaders.h"
#include "StdCtrls.h"

class TImageList;

// Searches the formula folders for entries named like the missing one while the user looks at it,
// lists the matches and asks what to do.
class TMissingFormulaForm : public TForm {
public:
    DECLARE_CLASS_NAME(TMissingFormulaForm)
    // The private message that starts the search once the dialog is on screen.
    static constexpr UINT WM_FINDMATCHES = WM_USER;
    static constexpr int DefaultFormulaWidth = 70;
    static constexpr int DefaultFileWidth = 200;

    TMissingFormulaForm(TComponent *AOwner, const std::string &AEntryName, const std::string &AFileName);

    TLabel *MessageLabel;
    TLabel *StatusLabel;
    TListView *List;
    TGroupBox *ActionGroup;
    TRadioButton *UseSelectedRadio;
    TRadioButton *LookForRadio;
    TRadioButton *DownloadRadio;
    TRadioButton *TryAgainRadio;
    TButton *OKButton;
    TButton *CancelButton;

    // Set when the dialog closes; with UseSelected, FileName holds the chosen match's file.
    TMissingFormulaAction Action = TMissingFormulaAction::Cancelled;
    std::string EntryName;
    std::string FileName;

    // Searches the Formula folder and the formula search paths, depth first, for files of the
    // missing formula's kind that hold an entry of its name; stops once the dialog has a modal
    // result.
    void FindMatches();

    void WndProc(TMessage &Message) override;

protected:
    // Tells the user why the dialog stays open; a message box.
    virtual void Inform(const std::string &Text);

private:
    void FormCreate();
    void FormCloseQuery(TObject *Sender, bool &CanClose);
    // false once the search is to stop.
    bool SearchFolder(const std::string &Folder, const std::vector<std::string> &Patterns);
    bool ExamineFile(const std::string &Path);
    void StoreColumnWidths();
    TRadioButton *ActionRadio(TMissingFormulaAction Value) const;
};

// The formulas that did not compile and the parameters that no longer exist, after a load.
class TLoadWarningsForm : public TForm {
public:
    DECLARE_CLASS_NAME(TLoadWarningsForm)
    // The state images of the lines.
    static constexpr int CompileErrorImage = 0;
    static constexpr int MissingParameterImage = 1;

    explicit TLoadWarningsForm(TComponent *AOwner);
    ~TLoadWarningsForm() override;

    void AddCompileError(const std::string &Text) { AddLine(Text, CompileErrorImage); }
    void AddMissingParameter(const std::string &Text) { AddLine(Text, MissingParameterImage); }

    TLabel *TextLabel;
    TListView *List;
    TButton *OKButton;

private:
    void AddLine(const std::string &Text, int Image);
    std::unique_ptr<TImageList> FImages;
};

// ---------------------------------------------------------------------------------------------
// What the missing-formula dialog's other answers do

// Lets the user pick an entry of the browser kind, starting at FileName and EntryName; true with
// the picked entry in them. The entry picker of the browser goes here once the program has one;
// without it the user chooses a formula file in the open dialog.
using TFormulaEntryPicker =
    std::function<bool(int BrowserKind, std::string &FileName, std::string &EntryName)>;
// Sets the picker (an empty one: the open dialog); returns the one set before.
TFormulaEntryPicker SetFormulaEntryPicker(TFormulaEntryPicker Picker);

// Offers one formula file (a name without folder) for download and returns once the user is done
// with it. Without one set, the update dialog offers that file from the public collection.
using TFormulaDownloader = std::function<void(const std::string &FileName)>;
TFormulaDownloader SetFormulaDownloader(TFormulaDownloader Download);

// The open dialog that looks for a missing formula's file: files of the formula's kind (by the
// browser kind), starting in the folder the parameter set names when it exists, else in the
// Formula folder.
void ConfigureFormulaOpenDialog(TOpenDialog &Dialog, int BrowserKind, const std::string &FileName,
                                const std::string &EntryName);
// The user chose Chosen for the formula EntryName: true with FileName := Chosen when the file
// holds that entry (letter case ignored); else false with the message for the user in Problem.
bool TakeFormulaFromFile(const std::string &Chosen, std::string &FileName, const std::string &EntryName,
                         std::string &Problem);
