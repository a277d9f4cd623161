// The text editor window: formula, coloring, transformation, parameter and gradient files (and
// any other text) edited in the system's rich edit control in plain-text mode. The editing
// commands themselves work on TEditorText (EditorText.h and the other Editor modules); the window
// adds the file, its kind, the Modified state, the status bar and the questions it asks.
#pragma once

#include <memory>
#include <string>

#include "EditorBlocks.h"
#include "EditorEntries.h"
#include "EditorSearch.h"
#include "EditorText.h"
#include "ExtCtrls.h"
#include "FormDocument.h"

class TAdvRichEdit;

// The questions the editor asks the user. The program answers through message boxes and the
// Save dialog; tests put their own answers in place (SetEditorPrompts).
class TEditorPrompts {
public:
    virtual ~TEditorPrompts() = default;
    // "Save changes to '<caption>'?": mrYes, mrNo or mrCancel.
    virtual int AskSaveChanges(const std::string &Caption) = 0;
    // The Save dialog set up for Kind with FileName as proposal; false when cancelled.
    virtual bool AskSaveFileName(TEditorKind Kind, std::string &FileName) = 0;
    // A confirmation with Yes and No.
    virtual bool Confirm(const std::string &Text) = 0;
    virtual void Inform(const std::string &Text, bool Warning) = 0;
};
TEditorPrompts &EditorPrompts();
// nullptr restores the program's own prompts; the caller keeps ownership.
void SetEditorPrompts(TEditorPrompts *Prompts);

class TEditForm : public TDocumentForm {
public:
    DECLARE_CLASS_NAME(TEditForm)
    explicit TEditForm(TComponent *AOwner, bool MDIChild = true);
    ~TEditForm() override;

    TAdvRichEdit *Edit = nullptr;
    TPanel *ToolBar = nullptr;

    const std::string &FileName() const { return FFileName; }
    TEditorKind Kind() const { return FKind; }
    bool Modified() const { return FModified; }
    bool InsertMode() const { return FInsertMode; }
    bool Untitled() const { return FUntitled; }
    // The editing commands' view of the control.
    TEditorText &Text();

    // Raises the platform's file error when the file cannot be read; the name is kept.
    void LoadFromFile(const std::string &AFileName);
    void SetFileName(const std::string &AFileName);
    void SetKind(TEditorKind AKind);
    // Asks for a name when Ask is set or the name is empty; false only when that was cancelled.
    // A failed write raises, and the file under the name stays as it was.
    bool WriteFile(std::string &AFileName, bool Ask);
    // Saves under the name (asking when it is empty); on success the window takes the name.
    bool Save(const std::string &AFileName);
    // Save a Copy: writes under a name asked for, leaving name, kind and Modified as they were.
    bool SaveCopy();
    // The text of another editor, its kind and insert mode; Modified is set.
    void Assign(TEditForm &Other);
    // Replaces the whole text (not undoable), as loading does.
    void SetWholeText(const std::string &Text);

    void GetCaretPosition(int &Line, int &Column);
    void GoToPosition(int Line, int Column);
    bool GoToEntry(const std::string &Name);
    void InsertSnippet(const std::string &Snippet);
    void CompleteTemplate();
    void RunBlockCommand(TBlockCommand Command);
    void InsertNewEntry(const TNewEntryOptions &Options);
    // Find Next / Replace / Replace All with the shared search options; the "Could not find"
    // message when nothing was found.
    TEditorSearchOptions SearchOptions;
    void FindNext();
    void Replace();
    void ReplaceAll();

    // Builds the tab stops for the configured TabSize (only when it differs from the size they
    // were built for, unless Force).
    void UpdateTabStops(bool Force = false);
    void UpdateStatus();
    void TopicSearch() override;
    bool HasTopicSearch() override { return true; }
    TWinControl *GetToolBar() override;
    void UpdateStatusBar() override;
    void ShowHelp() override;

    void WndProc(TMessage &Message) override;

protected:
    void DoShow() override;

private:
    class TRichEditText;
    void EditChange(TObject *Sender);
    void EditSelectionChange(TObject *Sender);
    void FormCloseQuery(TObject *Sender, bool &CanClose);
    void FormClose(TObject *Sender, TCloseAction &Action);
    int TabSize() const;
    bool KeyDown(WORD Key);

    std::unique_ptr<TRichEditText> FText;
    std::string FFileName;
    TEditorKind FKind = TEditorKind::Text;
    bool FModified = false;
    bool FInsertMode = true;
    bool FUntitled = true;
    bool FFirstShown = false;
    bool FUpdating = false;
    bool FReplacingText = false;
    int FAppliedTabSize = 0;
    TEntryScanState FEntryScan;
};

// A new untitled editor of the kind, shown.
TEditForm *NewEditorWindow(TEditorKind Kind);
// The open editor holding the file (name compared without case), or nullptr.
TEditForm *FindEditorWindow(const std::string &FileName);
// The editor holding the file, opened when none does, shown with the focus in its text. This is
// what the open dispatcher, the browser and the compiler messages window call for a text file.
TEditForm *OpenEditorWindow(const std::string &FileName);
// As OpenEditorWindow; a file already open may be reverted to its saved version first.
TEditForm *OpenEditorWindowAskRevert(const std::string &FileName);
