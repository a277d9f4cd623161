#include "FormEditor.h"

#include <windows.h>

#include <commdlg.h>

#include <algorithm>
#include <cmath>

#include "AdvCtrls.h"
#include "EditorFiles.h"
#include "EditorSnippets.h"
#include "FileHistory.h"
#include "FormMain.h"
#include "GenSetup.h"
#include "GenUtils.h"
#include "SysUtils.h"

// ---------------------------------------------------------------------------------------------
// Prompts

namespace {

// The program's prompts: message boxes and the system's Save dialog.
class TWindowPrompts : public TEditorPrompts {
public:
    int AskSaveChanges(const std::string &Caption) override {
        return MessageBoxA(GetActiveWindow(), ("Save changes to '" + Caption + "'?").c_str(),
                           Application ? Application->Title().c_str() : "", MB_YESNOCANCEL | MB_ICONQUESTION);
    }
    bool AskSaveFileName(TEditorKind Kind, std::string &FileName) override {
        const TEditorKindInfo &info = EditorKindInfo(Kind);
        std::string filter = EditorSaveFilter;
        for (char &c : filter)
            if (c == '|')
                c = '\0';
        filter.append(2, '\0');
        std::string name(MAX_PATH * 4, '\0');
        FileName.copy(name.data(), std::min(FileName.size(), name.size() - 1));
        std::string folder;
        if (TConfigManager *config = ConfigManager())
            folder = Kind == TEditorKind::Text        ? config->Folder->Open
                     : Kind == TEditorKind::Parameter ? config->Folder->Parameter
                     : Kind == TEditorKind::Gradient  ? config->Folder->Gradient
                                                      : config->Folder->Formula;
        OPENFILENAMEA dialog = {};
        dialog.lStructSize = sizeof dialog;
        dialog.hwndOwner = GetActiveWindow();
        dialog.lpstrFilter = filter.c_str();
        dialog.nFilterIndex = static_cast<DWORD>(info.FilterIndex);
        dialog.lpstrFile = name.data();
        dialog.nMaxFile = static_cast<DWORD>(name.size());
        dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
        dialog.lpstrTitle = info.SaveTitle;
        dialog.lpstrDefExt = info.DefaultExtension;
        dialog.Flags =
            OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_ENABLESIZING;
        if (!GetSaveFileNameA(&dialog))
            return false;
        FileName = name.c_str();
        return true;
    }
    bool Confirm(const std::string &Text) override {
        return MessageBoxA(GetActiveWindow(), Text.c_str(), Application ? Application->Title().c_str() : "",
                           MB_YESNO | MB_ICONQUESTION) == IDYES;
    }
    void Inform(const std::string &Text, bool Warning) override {
        MessageBoxA(GetActiveWindow(), Text.c_str(), Application ? Application->Title().c_str() : "",
                    MB_OK | (Warning ? MB_ICONWARNING : MB_ICONINFORMATION));
    }
};

TWindowPrompts WindowPrompts;
TEditorPrompts *CurrentPrompts = &WindowPrompts;

// The prefix followed by the smallest number from 1 that no open form has as its caption.
std::string MakeUniqueCaption(const std::string &Prefix) {
    for (int n = 1;; ++n) {
        const std::string caption = Prefix + IntToStr(n);
        bool used = false;
        for (int i = 0; i < Screen->FormCount() && !used; ++i)
            used = Screen->Forms(i)->Caption() == caption;
        if (!used)
            return caption;
    }
}

const TEditorConfiguration *EditorSettings() {
    return ConfigManager() ? ConfigManager()->Editor.get() : nullptr;
}

} // namespace

TEditorPrompts &EditorPrompts() {
    return *CurrentPrompts;
}

void SetEditorPrompts(TEditorPrompts *Prompts) {
    CurrentPrompts = Prompts ? Prompts : &WindowPrompts;
}

// ---------------------------------------------------------------------------------------------
// The control as the editing commands see it

class TEditForm::TRichEditText : public TEditorText {
public:
    explicit TRichEditText(TEditForm &Form) : FForm(Form) {}
    std::string GetText() const override { return FForm.Edit->PlainText(); }
    void GetSelection(int &Start, int &Length) const override { FForm.Edit->GetSelection(Start, Length); }
    void SetSelection(int Start, int Length) override { FForm.Edit->SetSelection(Start, Length); }
    void ReplaceSelection(const std::string &Text) override { FForm.Edit->ReplaceSelection(Text); }

private:
    TEditForm &FForm;
};

// ---------------------------------------------------------------------------------------------
// TEditForm

TEditForm::TEditForm(TComponent *AOwner, bool MDIChild)
    : TDocumentForm(AOwner, MDIChild), FText(std::make_unique<TRichEditText>(*this)) {
    SetClientSize(590, 387);
    Edit = new TAdvRichEdit(this);
    Edit->SetParent(this);
    Edit->SetAlign(alClient);
    Edit->SetWantTabs(true);
    Edit->SetScrollBars(ssBoth);
    Edit->SetWordWrap(false);
    Edit->Font().SetName("Courier New");
    Edit->Font().SetSize(10);
    Edit->SetGutter(EditorSettings() && !EditorSettings()->Gutter ? 0 : 24);
    Edit->OnChange = MakeNotifyEvent<&TEditForm::EditChange>(this);
    Edit->OnSelectionChange = MakeNotifyEvent<&TEditForm::EditSelectionChange>(this);
    ToolBar = new TPanel(this);
    ToolBar->SetVisible(false);
    OnCloseQuery = MakeEvent<&TEditForm::FormCloseQuery>(this);
    OnClose = MakeEvent<&TEditForm::FormClose>(this);
    SetCaption(MakeUniqueCaption("File"));
    if (FileHistoryManager())
        FileHistoryManager()->AttachWindow(this);
}

TEditForm::~TEditForm() = default;

TEditorText &TEditForm::Text() {
    return *FText;
}

int TEditForm::TabSize() const {
    const TEditorConfiguration *settings = EditorSettings();
    return settings ? std::clamp(settings->TabSize, 1, 16) : 2;
}

void TEditForm::DoShow() {
    TDocumentForm::DoShow();
    if (FFirstShown)
        return;
    FFirstShown = true;
    Edit->SetTextLimit(static_cast<int>(MaxEditorFileSize));
    UpdateTabStops();
}

void TEditForm::SetWholeText(const std::string &Text) {
    FReplacingText = true;
    Edit->SetText(Text);
    FReplacingText = false;
    // A new text comes with the control's default paragraph format: the tab stops go with it.
    UpdateTabStops(true);
}

void TEditForm::LoadFromFile(const std::string &AFileName) {
    SetFileName(AFileName);
    SetWholeText(ReadEditorFile(AFileName));
    FModified = false;
    FEntryScan.ScannedLine = -1;
    UpdateStatus();
}

void TEditForm::SetFileName(const std::string &AFileName) {
    FFileName = AFileName;
    SetKind(EditorKindOfFile(AFileName));
    SetCaption(ExtractFileName(AFileName));
    FUntitled = false;
}

void TEditForm::SetKind(TEditorKind AKind) {
    if (AKind == FKind)
        return;
    FKind = AKind;
    if (FUntitled && (AKind == TEditorKind::Transformation || AKind == TEditorKind::Formula ||
                      AKind == TEditorKind::Coloring))
        SetCaption(MakeUniqueCaption(EditorKindInfo(AKind).CaptionPrefix));
}

bool TEditForm::WriteFile(std::string &AFileName, bool Ask) {
    if (Ask || AFileName.empty()) {
        std::string chosen = AFileName;
        if (!EditorPrompts().AskSaveFileName(FKind, chosen))
            return false;
        AFileName = chosen;
    }
    const TCursor cursor = Screen->Cursor();
    Screen->SetCursor(crHourGlass);
    try {
        WriteEditorFile(AFileName, FText->GetText());
    } catch (...) {
        Screen->SetCursor(cursor);
        throw;
    }
    Screen->SetCursor(cursor);
    return true;
}

bool TEditForm::Save(const std::string &AFileName) {
    std::string name = AFileName;
    if (!WriteFile(name, false))
        return false;
    FModified = false;
    SetFileName(name);
    UpdateStatus();
    if (FileHistoryManager())
        FileHistoryManager()->DocumentSaved(this, name, "", "");
    return true;
}

bool TEditForm::SaveCopy() {
    std::string name = MakeCopyName(Caption());
    return WriteFile(name, true);
}

void TEditForm::Assign(TEditForm &Other) {
    int line = 0, column = 0;
    Other.GetCaretPosition(line, column);
    SetWholeText(Other.Edit->PlainText());
    SetKind(Other.Kind());
    FInsertMode = Other.InsertMode();
    FModified = true;
    GoToPosition(line, column);
    UpdateStatus();
}

void TEditForm::GetCaretPosition(int &Line, int &Column) {
    ::GetCaretPosition(*FText, TabSize(), Line, Column);
}

void TEditForm::GoToPosition(int Line, int Column) {
    ::GoToPosition(*FText, TabSize(), Line, Column);
}

bool TEditForm::GoToEntry(const std::string &Name) {
    if (!::GoToEntry(*FText, Name))
        return false;
    // Two lines of context above the entry's header.
    int start = 0, length = 0;
    FText->GetSelection(start, length);
    const std::string text = FText->GetText();
    const int line = TEditorLines(text).LineOf(start);
    Edit->ScrollLines(line - 2 - Edit->FirstVisibleLine());
    return true;
}

void TEditForm::InsertSnippet(const std::string &Snippet) {
    ::InsertSnippet(*FText, Snippet);
}

void TEditForm::CompleteTemplate() {
    const TEditorConfiguration *settings = EditorSettings();
    if (!settings)
        return;
    int start = 0, length = 0;
    FText->GetSelection(start, length);
    const std::string text = FText->GetText();
    const TEditorLines lines(text);
    const int line = lines.LineOf(start);
    const std::string pattern = TemplatePatternAt(lines.Text(line), start - lines.Start(line));
    const TTemplateLookup lookup = LookUpTemplate(*settings->Templates, pattern);
    switch (lookup.Match) {
    case TTemplateMatch::Exact:
        ReplacePatternWithTemplate(*FText, pattern, lookup.Template);
        break;
    case TTemplateMatch::Choose:
        // The choice among several templates is the templates dialog's; without it the first
        // (by pattern) is offered.
        if (EditorPrompts().Confirm("Insert the template '" +
                                    settings->Templates->GetTemplate(lookup.Candidates[0])->Pattern + "'?"))
            ReplacePatternWithTemplate(*FText, pattern,
                                       settings->Templates->GetTemplate(lookup.Candidates[0])->Template);
        break;
    case TTemplateMatch::NoMatch:
        EditorPrompts().Inform(NoMatchingTemplateMessage(pattern), true);
        break;
    }
}

void TEditForm::RunBlockCommand(TBlockCommand Command) {
    const TEditorConfiguration *settings = EditorSettings();
    FUpdating = true;
    SendMessageA(Edit->Handle(), WM_SETREDRAW, FALSE, 0);
    try {
        ::RunBlockCommand(*FText, Command, settings && settings->TabCharacters);
    } catch (...) {
        SendMessageA(Edit->Handle(), WM_SETREDRAW, TRUE, 0);
        FUpdating = false;
        throw;
    }
    SendMessageA(Edit->Handle(), WM_SETREDRAW, TRUE, 0);
    FUpdating = false;
    Edit->Invalidate();
    UpdateStatus();
}

void TEditForm::InsertNewEntry(const TNewEntryOptions &Options) {
    ::InsertNewEntry(*FText, FKind, Options);
}

void TEditForm::FindNext() {
    if (!SearchFindNext(*FText, SearchOptions))
        EditorPrompts().Inform(CouldNotFindMessage(SearchOptions.What), false);
}

void TEditForm::Replace() {
    if (!SearchReplace(*FText, SearchOptions))
        EditorPrompts().Inform(CouldNotFindMessage(SearchOptions.What), false);
}

void TEditForm::ReplaceAll() {
    if (SearchReplaceAll(*FText, SearchOptions) == 0)
        EditorPrompts().Inform(CouldNotFindMessage(SearchOptions.What), false);
}

void TEditForm::UpdateTabStops(bool Force) {
    const int tabSize = TabSize();
    if (!Force && tabSize == FAppliedTabSize)
        return;
    // The average width of a character of the control's font, in points.
    HDC dc = GetDC(nullptr);
    HFONT font = CreateFontA(-MulDiv(Edit->Font().Size(), GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0,
                             FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, Edit->Font().Name().c_str());
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size = {0, 0};
    GetTextExtentPoint32A(dc, "abcdefabcdef", 12, &size);
    const double width = size.cx * 6.0 / GetDeviceCaps(dc, LOGPIXELSX);
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    const double step = width * tabSize;
    std::vector<int> stops;
    for (int k = 1; k <= 32; ++k)
        stops.push_back(static_cast<int>(std::ceil(k * step)));
    const bool modified = FModified;
    FReplacingText = true;
    Edit->SetTabStops(stops);
    FReplacingText = false;
    FModified = modified;
    FAppliedTabSize = tabSize;
}

void TEditForm::UpdateStatus() {
    if (FUpdating)
        return;
    TStatusBar *bar = GetStatusBar();
    if (!bar || bar->PanelCount() < 4)
        return;
    int line = 0, column = 0;
    GetCaretPosition(line, column);
    const TEditorStatusTexts texts = MakeStatusTexts(line, column, FModified, FInsertMode);
    bar->SetPanelText(0, texts.Row);
    bar->SetPanelText(1, texts.Column);
    bar->SetPanelText(2, texts.Modified);
    bar->SetPanelText(3, texts.Mode);
}

void TEditForm::UpdateStatusBar() {
    TStatusBar *bar = GetStatusBar();
    if (!bar)
        return;
    for (int width : {70, 70, 60, 60})
        bar->AddPanel("", width);
    UpdateStatus();
}

void TEditForm::TopicSearch() {
    int start = 0, length = 0;
    FText->GetSelection(start, length);
    const std::string text = FText->GetText();
    const TEditorLines lines(text);
    const int line = lines.LineOf(start);
    const std::string word = TopicWordAt(lines.Text(line), start - lines.Start(line));
    if (Application)
        Application->HelpCommand(HELP_KEY, reinterpret_cast<intptr_t>(word.c_str()));
}

TWinControl *TEditForm::GetToolBar() {
    return ToolBar;
}

void TEditForm::ShowHelp() {
    static const char Page[] = "Html/editors/editors.html";
    if (Application)
        Application->HelpCommand(HELP_KEY, reinterpret_cast<intptr_t>(Page));
}

void TEditForm::EditChange(TObject *) {
    if (FReplacingText || FModified)
        return;
    FModified = true;
    UpdateStatus();
}

void TEditForm::EditSelectionChange(TObject *) {
    UpdateStatus();
}

void TEditForm::FormCloseQuery(TObject *, bool &CanClose) {
    if (!FModified)
        return;
    switch (EditorPrompts().AskSaveChanges(Caption())) {
    case mrYes:
        // The window closes only once the text is safely on disk: a cancelled Save dialog or a
        // failed write keeps it (and its text) open.
        try {
            CanClose = Save(FFileName);
        } catch (const std::exception &error) {
            CanClose = false;
            EditorPrompts().Inform(error.what(), true);
        }
        break;
    case mrNo:
        break;
    default:
        CanClose = false;
        break;
    }
}

void TEditForm::FormClose(TObject *, TCloseAction &Action) {
    if (FileHistoryManager())
        FileHistoryManager()->DocumentClosed(this, -1);
    Action = caFree;
}

void TEditForm::WndProc(TMessage &Message) {
    TDocumentForm::WndProc(Message);
}

// ---------------------------------------------------------------------------------------------
// Opening editors

TEditForm *NewEditorWindow(TEditorKind Kind) {
    if (FileHistoryManager())
        FileHistoryManager()->DocumentCreated();
    auto *form = new TEditForm(Application);
    form->SetKind(Kind);
    if (MainForm)
        MainForm->Show();
    form->Show();
    return form;
}

TEditForm *FindEditorWindow(const std::string &FileName) {
    for (int i = 0; i < Screen->FormCount(); ++i)
        if (auto *form = dynamic_cast<TEditForm *>(Screen->Forms(i)))
            if (SameText(form->FileName(), FileName))
                return form;
    return nullptr;
}

TEditForm *OpenEditorWindow(const std::string &FileName) {
    TEditForm *form = FindEditorWindow(FileName);
    if (!form) {
        if (FileHistoryManager())
            FileHistoryManager()->DocumentOpened(FileName, "");
        form = new TEditForm(Application);
        try {
            form->LoadFromFile(FileName);
        } catch (...) {
            // The window keeps the name it took; the error is the caller's to show.
            form->Show();
            throw;
        }
    }
    if (MainForm)
        SetForegroundWindow(MainForm->Handle());
    if (form->Minimized())
        form->Restore();
    form->Show();
    if (form->Edit->CanFocus())
        form->Edit->SetFocus();
    return form;
}

TEditForm *OpenEditorWindowAskRevert(const std::string &FileName) {
    if (TEditForm *form = FindEditorWindow(FileName))
        if (EditorPrompts().Confirm("This document is already open: \r" + FileName + "\r\r" +
                                    "Do you want to revert to the previously saved version?"))
            form->LoadFromFile(FileName);
    return OpenEditorWindow(FileName);
}
