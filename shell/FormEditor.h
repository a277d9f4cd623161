// The text editor window: formula, coloring, transformation, parameter and gradient files (and
// any other text) edited in the system's rich edit control in plain-text mode. The editing
// commands themselves work on TEditorText (EditorText.h and the other Editor modules); the window
// adds the file, its kind, the Modified state, the status bar and the questions it asks.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "EditorBlocks.h"
#include "EditorEntries.h"
#include "EditorSearch.h"
#include "EditorText.h"
#include "ExtCtrls.h"
#include "FormDocument.h"

class TAdvRichEdit;
class TAdvFindDialog;
class TAdvReplaceDialog;
class TAdvSpeedButton;
class TComboBox;
class TEditorTemplateList;
class TMainMenu;
class TMenuItem;
class TPopupMenu;
class TTimer;

// Where printed pages go: the printer chosen in the print dialog, or a test's recorder.
class TEditorPrintTarget {
public:
    virtual ~TEditorPrintTarget() = default;
    virtual int LinesPerPage() = 0;
    virtual void BeginDocument(const std::string &Title) = 0;
    virtual void PrintPage(const std::vector<std::string> &Lines) = 0;
    virtual void EndDocument() = 0;
};
// Prints a CR-separated text page after page, tabs expanded to TabSize columns; an empty text
// still prints one (empty) page.
void PrintEditorText(TEditorPrintTarget &Target, const std::string &Title, const std::string &Text,
                     int TabSize);

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
    // The new-entry dialog opened for Kind; false when it was cancelled.
    virtual bool AskNewEntry(TEditorKind Kind, TNewEntryOptions &Options) { return false; }
    // The templates dialog listing the templates whose pattern starts with Pattern; false when it
    // was cancelled or closed with no row selected.
    virtual bool ChooseTemplate(const std::string &Pattern, const TEditorTemplateList &Templates,
                                std::string &Template) {
        return false;
    }
    // The print dialog: the printer to print on, or nullptr when it was cancelled.
    virtual std::unique_ptr<TEditorPrintTarget> AskPrinter() { return nullptr; }
    virtual void PrinterSetup() {}
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
    TComboBox *FormulaInput = nullptr;
    TTimer *UpdateFormulaTimer = nullptr;
    TAdvFindDialog *FindDialog = nullptr;
    TAdvReplaceDialog *ReplaceDialog = nullptr;
    TMainMenu *MainMenu = nullptr;
    TPopupMenu *PopupMenu = nullptr;
    TMenuItem *FileMenu = nullptr, *EditMenu = nullptr, *InsertMenu = nullptr;
    TMenuItem *UndoItem = nullptr, *CutItem = nullptr, *CopyItem = nullptr, *PasteItem = nullptr,
              *DeleteItem = nullptr, *IndentItem = nullptr, *OutdentItem = nullptr, *CommentItem = nullptr,
              *UncommentItem = nullptr, *FindFormulasItem = nullptr;
    TMenuItem *PopupUndoItem = nullptr, *PopupCutItem = nullptr, *PopupCopyItem = nullptr,
              *PopupPasteItem = nullptr, *PopupDeleteItem = nullptr, *PopupIndentItem = nullptr,
              *PopupOutdentItem = nullptr, *PopupCommentItem = nullptr, *PopupUncommentItem = nullptr;
    // The tool bar's buttons in their order: New fractal, Open, Browse, Save, Undo, Cut, Copy,
    // Paste, Find, Find Formulas, New Formula, Complete Template, Help.
    std::vector<TAdvSpeedButton *> ToolButtons;

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
    // Template completion: the template whose pattern is the word before the caret, chosen in the
    // templates dialog when several start with it.
    void CompleteTemplate();
    // Insert > New Formula: the new-entry dialog, then the entry's skeleton at the end.
    void NewEntryItemClick(TObject *Sender);
    // The current-entry scan behind the entry drop-down, and the drop-down's items.
    void UpdateCurrentEntry();
    void FillEntryList();
    // The print dialog, then the text printed with the caption as the document's title.
    void PrintItemClick(TObject *Sender);
    // Edit > Find... and Replace...: the dialogs at the place they were left last.
    void FindItemClick(TObject *Sender);
    void ReplaceItemClick(TObject *Sender);
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

protected:
    void DoShow() override;
    void Activate() override;

private:
    class TRichEditText;
    void CreateMenus();
    void CreateToolBar();
    void EditChange(TObject *Sender);
    void EditSelectionChange(TObject *Sender);
    void EditKeyDown(TObject *Sender, WORD &Key, TShiftState Shift);
    void EditKeyPress(TObject *Sender, char &Key);
    void FormCloseQuery(TObject *Sender, bool &CanClose);
    void FormClose(TObject *Sender, TCloseAction &Action);
    void FormShortCut(WORD Key, TShiftState Shift, bool &Handled);
    int TabSize() const;
    void RestartFormulaTimer();
    void UpdatePasteItems();
    void ApplySettings();
    // Subscriptions.
    void ClipboardChanged(TObject *Sender);
    void SettingsChanged(TObject *Sender);
    void HistoryChanged(TObject *Sender);
    // Menu commands.
    void NewFractalItemClick(TObject *Sender);
    void NewEditorItemClick(TObject *Sender);
    void DuplicateItemClick(TObject *Sender);
    void OpenItemClick(TObject *Sender);
    void CloseItemClick(TObject *Sender);
    void SaveItemClick(TObject *Sender);
    void SaveAsItemClick(TObject *Sender);
    void SaveCopyItemClick(TObject *Sender);
    void PrinterSetupItemClick(TObject *Sender);
    void ExitItemClick(TObject *Sender);
    void UndoItemClick(TObject *Sender);
    void CutItemClick(TObject *Sender);
    void CopyItemClick(TObject *Sender);
    void PasteItemClick(TObject *Sender);
    void DeleteItemClick(TObject *Sender);
    void SelectAllItemClick(TObject *Sender);
    void BlockItemClick(TObject *Sender);
    void SnippetItemClick(TObject *Sender);
    void CompleteItemClick(TObject *Sender);
    void TopicSearchItemClick(TObject *Sender);
    void HelpItemClick(TObject *Sender);
    void FormulaTimerTimer(TObject *Sender);
    void FormulaInputDropDown(TObject *Sender);
    void FormulaInputSelect(TObject *Sender);
    void FindDialogFind(TObject *Sender);
    void ReplaceDialogReplace(TObject *Sender);
    void FindDialogClose(TObject *Sender);
    // Copies the find text and options of the dialog in use into the search and the other dialog.
    void TakeSearchOptions(TAdvFindDialog &Dialog);

    std::unique_ptr<TRichEditText> FText;
    std::string FFileName;
    TEditorKind FKind = TEditorKind::Text;
    bool FModified = false;
    bool FInsertMode = true;
    bool FUntitled = true;
    bool FFirstShown = false;
    bool FUpdating = false;
    bool FReplacingText = false;
    // A key handled on its key-down whose character message is to be dropped.
    char FSwallowChar = 0;
    // The snippets of the Insert menu's items, by the item's tag.
    std::vector<std::string> FSnippets;
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
