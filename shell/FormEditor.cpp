#include "FormEditor.h"

#include <windows.h>

#include <commdlg.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "AdvCtrls.h"
#include "AdvDlgs.h"
#include "EditorFiles.h"
#include "EditorSnippets.h"
#include "ExtCtrls.h"
#include "FileHistory.h"
#include "FormFractalStartup.h"
#include "FormMain.h"
#include "FormNewFormula.h"
#include "FormTemplates.h"
#include "FracClipboard.h"
#include "GenSetup.h"
#include "GenUtils.h"
#include "Menus.h"
#include "StdCtrls.h"
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
    bool AskNewEntry(TEditorKind Kind, TNewEntryOptions &Options) override {
        TNewFormulaForm dialog(nullptr);
        dialog.SetKind(Kind);
        if (dialog.ShowModal() != mrOk)
            return false;
        Options = dialog.Options();
        return true;
    }
    bool ChooseTemplate(const std::string &Pattern, const TEditorTemplateList &Templates,
                        std::string &Template) override {
        TTemplatesForm dialog(nullptr);
        dialog.SetPattern(Pattern, Templates);
        if (dialog.ShowModal() != mrOk || dialog.SelectedTemplate().empty())
            return false;
        Template = dialog.SelectedTemplate();
        return true;
    }
    std::unique_ptr<TEditorPrintTarget> AskPrinter() override;
    void PrinterSetup() override {
        PRINTDLGA setup = {};
        setup.lStructSize = sizeof setup;
        setup.hwndOwner = GetActiveWindow();
        setup.Flags = PD_PRINTSETUP;
        if (PrintDlgA(&setup)) {
            if (setup.hDevMode)
                GlobalFree(setup.hDevMode);
            if (setup.hDevNames)
                GlobalFree(setup.hDevNames);
        }
    }
};

// A printer's device context: Courier New 10 on pages with a margin of half an inch.
class TPrinterTarget : public TEditorPrintTarget {
public:
    explicit TPrinterTarget(HDC DC) : FDC(DC) {
        FFont = CreateFontA(-MulDiv(10, GetDeviceCaps(DC, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, 0, 0, 0,
                            DEFAULT_CHARSET, 0, 0, 0, FIXED_PITCH, "Courier New");
        FOld = SelectObject(DC, FFont);
        TEXTMETRICA metrics = {};
        GetTextMetricsA(DC, &metrics);
        FLineHeight = std::max<int>(metrics.tmHeight + metrics.tmExternalLeading, 1);
        FMarginX = GetDeviceCaps(DC, LOGPIXELSX) / 2;
        FMarginY = GetDeviceCaps(DC, LOGPIXELSY) / 2;
    }
    ~TPrinterTarget() override {
        SelectObject(FDC, FOld);
        DeleteObject(FFont);
        DeleteDC(FDC);
    }
    int LinesPerPage() override {
        return std::max((GetDeviceCaps(FDC, VERTRES) - 2 * FMarginY) / FLineHeight, 1);
    }
    void BeginDocument(const std::string &Title) override {
        DOCINFOA info = {};
        info.cbSize = sizeof info;
        info.lpszDocName = Title.c_str();
        if (StartDocA(FDC, &info) <= 0)
            throw Exception(SysErrorMessage(GetLastError()));
    }
    void PrintPage(const std::vector<std::string> &Lines) override {
        StartPage(FDC);
        SelectObject(FDC, FFont);
        int y = FMarginY;
        for (const std::string &line : Lines) {
            TextOutA(FDC, FMarginX, y, line.c_str(), static_cast<int>(line.size()));
            y += FLineHeight;
        }
        EndPage(FDC);
    }
    void EndDocument() override { EndDoc(FDC); }

private:
    HDC FDC;
    HFONT FFont;
    HGDIOBJ FOld;
    int FLineHeight = 1, FMarginX = 0, FMarginY = 0;
};

std::unique_ptr<TEditorPrintTarget> TWindowPrompts::AskPrinter() {
    PRINTDLGA print = {};
    print.lStructSize = sizeof print;
    print.hwndOwner = GetActiveWindow();
    print.Flags = PD_RETURNDC | PD_NOSELECTION | PD_NOPAGENUMS;
    if (!PrintDlgA(&print) || !print.hDC)
        return nullptr;
    if (print.hDevMode)
        GlobalFree(print.hDevMode);
    if (print.hDevNames)
        GlobalFree(print.hDevNames);
    return std::make_unique<TPrinterTarget>(print.hDC);
}

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

// Menu group indices: the editor's File menu takes the place of the main window's.
constexpr int FileGroup = 1, EditGroup = 2, InsertGroup = 3;

TMenuItem *AddItem(TMenuItem &Parent, const std::string &Caption, const std::string &ShortCut,
                   const std::string &Hint, TNotifyEvent Click) {
    auto *item = new TMenuItem(nullptr);
    item->SetCaption(Caption);
    item->SetShortCut(TextToShortCut(ShortCut));
    item->SetHint(Hint);
    item->OnClick = Click;
    // Commands whose windows are not part of the program yet stay visible but cannot be chosen.
    item->SetEnabled(Click.Assigned());
    Parent.Add(item);
    return item;
}

void AddSeparator(TMenuItem &Parent) {
    auto *item = new TMenuItem(nullptr);
    item->SetCaption("-");
    Parent.Add(item);
}

// The sub-item of Parent with the caption, made when there is none.
TMenuItem *SubMenu(TMenuItem &Parent, const std::string &Caption) {
    for (int i = 0; i < Parent.Count(); ++i)
        if (Parent[i]->Caption() == Caption)
            return Parent[i];
    auto *item = new TMenuItem(nullptr);
    item->SetCaption(Caption);
    Parent.Add(item);
    return item;
}

// The menu caption without its access-key marks ("&&" stays one '&').
std::string PlainCaption(const std::string &Caption) {
    std::string out;
    for (std::size_t i = 0; i < Caption.size(); ++i) {
        if (Caption[i] == '&' && i + 1 < Caption.size())
            ++i;
        out += Caption[i];
    }
    return out;
}

} // namespace

void PrintEditorText(TEditorPrintTarget &Target, const std::string &Title, const std::string &Text,
                     int TabSize) {
    const int perPage = std::max(Target.LinesPerPage(), 1);
    const TEditorLines lines(Text);
    Target.BeginDocument(Title);
    std::vector<std::string> page;
    for (int i = 0; i < lines.Count(); ++i) {
        std::string expanded;
        for (char c : lines.Text(i)) {
            if (c == '\t')
                expanded.append(
                    static_cast<std::size_t>(TabSize - static_cast<int>(expanded.size()) % TabSize), ' ');
            else
                expanded += c;
        }
        page.push_back(std::move(expanded));
        if (static_cast<int>(page.size()) == perPage) {
            Target.PrintPage(page);
            page.clear();
        }
    }
    if (!page.empty() || lines.Count() == 0)
        Target.PrintPage(page);
    Target.EndDocument();
}

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
    Edit->OnKeyDown = MakeEvent<&TEditForm::EditKeyDown>(this);
    Edit->OnKeyPress = MakeEvent<&TEditForm::EditKeyPress>(this);
    UpdateFormulaTimer = new TTimer(this);
    UpdateFormulaTimer->SetEnabled(false);
    UpdateFormulaTimer->SetInterval(300);
    UpdateFormulaTimer->SetOnTimer(MakeNotifyEvent<&TEditForm::FormulaTimerTimer>(this));
    FindDialog = new TAdvFindDialog(this);
    ReplaceDialog = new TAdvReplaceDialog(this);
    // Both search downwards only.
    const TFindOptions downOnly = FindOption(frDown) | FindOption(frHideUpDown) | FindOption(frDisableUpDown);
    FindDialog->SetOptions(downOnly);
    ReplaceDialog->SetOptions(downOnly);
    FindDialog->OnFind = MakeNotifyEvent<&TEditForm::FindDialogFind>(this);
    FindDialog->OnClose = MakeNotifyEvent<&TEditForm::FindDialogClose>(this);
    ReplaceDialog->OnFind = MakeNotifyEvent<&TEditForm::FindDialogFind>(this);
    ReplaceDialog->OnReplace = MakeNotifyEvent<&TEditForm::ReplaceDialogReplace>(this);
    ReplaceDialog->OnClose = MakeNotifyEvent<&TEditForm::FindDialogClose>(this);
    ToolBar = new TPanel(this);
    ToolBar->SetVisible(false);
    CreateMenus();
    CreateToolBar();
    OnCloseQuery = MakeEvent<&TEditForm::FormCloseQuery>(this);
    OnClose = MakeEvent<&TEditForm::FormClose>(this);
    OnShortCut = MakeEvent<&TEditForm::FormShortCut>(this);
    SetCaption(MakeUniqueCaption("File"));
    FEntryScan.ScannedLine = -1;
    FormulaInput->SetEnabled(false);
    if (ClipboardManager())
        ClipboardManager()->AddHandler(MakeNotifyEvent<&TEditForm::ClipboardChanged>(this));
    if (ConfigManager())
        ConfigManager()->AddHandler(MakeNotifyEvent<&TEditForm::SettingsChanged>(this));
    if (FileHistoryManager()) {
        FileHistoryManager()->AddHandler(MakeNotifyEvent<&TEditForm::HistoryChanged>(this));
        FileHistoryManager()->UpdateMenu(*FileMenu);
    }
    UpdatePasteItems();
    UpdateStatus();
    if (FileHistoryManager())
        FileHistoryManager()->AttachWindow(this);
}

TEditForm::~TEditForm() {
    UpdateFormulaTimer->SetEnabled(false);
    if (ClipboardManager())
        ClipboardManager()->RemoveHandler(MakeNotifyEvent<&TEditForm::ClipboardChanged>(this));
    if (ConfigManager())
        ConfigManager()->RemoveHandler(MakeNotifyEvent<&TEditForm::SettingsChanged>(this));
    if (FileHistoryManager())
        FileHistoryManager()->RemoveHandler(MakeNotifyEvent<&TEditForm::HistoryChanged>(this));
}

void TEditForm::CreateMenus() {
    MainMenu = new TMainMenu(this);
    FileMenu = new TMenuItem(nullptr);
    FileMenu->SetCaption("&File");
    FileMenu->SetGroupIndex(FileGroup);
    MainMenu->Items().Add(FileMenu);
    TMenuItem *newItem = SubMenu(*FileMenu, "&New");
    newItem->SetHint("Creates a new document.");
    AddItem(*newItem, "&Fractal", "Ctrl+N", "Creates a new fractal.",
            MakeNotifyEvent<&TEditForm::NewFractalItemClick>(this));
    AddItem(*newItem, "&Gradient", "", "Creates a new gradient.", {});
    const TNotifyEvent newEditor = MakeNotifyEvent<&TEditForm::NewEditorItemClick>(this);
    AddItem(*newItem, "&Transformation File", "", "Creates a new transformation file.", newEditor)
        ->SetTag(static_cast<int>(TEditorKind::Transformation));
    AddItem(*newItem, "Fractal F&ormula File", "", "Creates a new fractal formula file.", newEditor)
        ->SetTag(static_cast<int>(TEditorKind::Formula));
    AddItem(*newItem, "&Coloring Algorithm File", "", "Creates a new coloring algorithm file.", newEditor)
        ->SetTag(static_cast<int>(TEditorKind::Coloring));
    AddItem(*FileMenu, "&Duplicate", "Ctrl+D", "Creates a copy of the document in a new window.",
            MakeNotifyEvent<&TEditForm::DuplicateItemClick>(this));
    AddItem(*FileMenu, "&Open...", "Ctrl+O", "Opens an existing document.",
            MakeNotifyEvent<&TEditForm::OpenItemClick>(this));
    AddItem(*FileMenu, "&Close", "Ctrl+F4", "Closes the document.",
            MakeNotifyEvent<&TEditForm::CloseItemClick>(this));
    AddItem(*FileMenu, "&Browse...", "Ctrl+B", "Opens a browser window to open and organize your documents.",
            {});
    AddSeparator(*FileMenu);
    AddItem(*FileMenu, "&Save", "Ctrl+S", "Saves the document.",
            MakeNotifyEvent<&TEditForm::SaveItemClick>(this));
    AddItem(*FileMenu, "Save &As...", "", "Saves the document under a new name.",
            MakeNotifyEvent<&TEditForm::SaveAsItemClick>(this));
    AddItem(*FileMenu, "Save a Cop&y...", "", "Saves a copy of the document under a new name.",
            MakeNotifyEvent<&TEditForm::SaveCopyItemClick>(this));
    AddItem(*FileMenu, "Save A&ll", "", "Saves all open documents.", {});
    AddSeparator(*FileMenu);
    AddItem(*FileMenu, "P&rinter Setup...", "", "Sets up the printer.",
            MakeNotifyEvent<&TEditForm::PrinterSetupItemClick>(this));
    AddItem(*FileMenu, "&Print...", "Ctrl+P", "Prints the document.",
            MakeNotifyEvent<&TEditForm::PrintItemClick>(this));
    // The recent files (filled by the file history), between two separators.
    AddSeparator(*FileMenu);
    for (int i = 1; i <= TFileHistoryManager::MenuItems; ++i) {
        auto *item = new TMenuItem(nullptr);
        item->SetName(Format("History%dItem", i));
        item->SetVisible(false);
        FileMenu->Add(item);
    }
    AddSeparator(*FileMenu);
    AddItem(*FileMenu, "E&xit", "Alt+F4", "Closes Orbisk Vantel.",
            MakeNotifyEvent<&TEditForm::ExitItemClick>(this));

    EditMenu = new TMenuItem(nullptr);
    EditMenu->SetCaption("&Edit");
    EditMenu->SetGroupIndex(EditGroup);
    MainMenu->Items().Add(EditMenu);
    PopupMenu = new TPopupMenu(this);
    TMenuItem &popup = PopupMenu->Items();
    // The commands of the Edit menu and the context menu; the context menu has no Find items.
    struct TEditCommand {
        const char *Caption, *ShortCut, *Hint;
        TNotifyEvent Click;
        TMenuItem **MenuItem, **PopupItem;
        int Tag;
        bool InPopup;
    };
    const TNotifyEvent block = MakeNotifyEvent<&TEditForm::BlockItemClick>(this);
    const TEditCommand commands[] = {
        {"&Undo", "Ctrl+Z", "Undoes the last action.", MakeNotifyEvent<&TEditForm::UndoItemClick>(this),
         &UndoItem, &PopupUndoItem, 0, true},
        {"-", "", "", {}, nullptr, nullptr, 0, true},
        {"Cu&t", "Ctrl+X", "Moves the selected text to the Clipboard.",
         MakeNotifyEvent<&TEditForm::CutItemClick>(this), &CutItem, &PopupCutItem, 0, true},
        {"&Copy", "Ctrl+C", "Copies the selected text to the Clipboard.",
         MakeNotifyEvent<&TEditForm::CopyItemClick>(this), &CopyItem, &PopupCopyItem, 0, true},
        {"&Paste", "Ctrl+V", "Inserts the contents of the Clipboard.",
         MakeNotifyEvent<&TEditForm::PasteItemClick>(this), &PasteItem, &PopupPasteItem, 0, true},
        {"&Delete", "", "Deletes the selected text.", MakeNotifyEvent<&TEditForm::DeleteItemClick>(this),
         &DeleteItem, &PopupDeleteItem, 0, true},
        {"Select &All", "Ctrl+A", "Selects the whole text.",
         MakeNotifyEvent<&TEditForm::SelectAllItemClick>(this), nullptr, nullptr, 0, true},
        {"-", "", "", {}, nullptr, nullptr, 0, false},
        {"&Find...", "Ctrl+F", "Finds text.", MakeNotifyEvent<&TEditForm::FindItemClick>(this), nullptr,
         nullptr, 0, false},
        {"&Replace...", "Ctrl+H", "Finds and replaces text.",
         MakeNotifyEvent<&TEditForm::ReplaceItemClick>(this), nullptr, nullptr, 0, false},
        {"Find F&ormulas...",
         "Ctrl+E",
         "Finds formulas in this file.",
         {},
         &FindFormulasItem,
         nullptr,
         0,
         false},
        {"-", "", "", {}, nullptr, nullptr, 0, true},
        {"&Indent Block", "Ctrl+I", "Indents the selected lines.", block, &IndentItem, &PopupIndentItem,
         static_cast<int>(TBlockCommand::Indent), true},
        {"Ou&tdent Block", "Ctrl+U", "Outdents the selected lines.", block, &OutdentItem, &PopupOutdentItem,
         static_cast<int>(TBlockCommand::Outdent), true},
        {"Co&mment Block", "Ctrl+L", "Comments out the selected lines.", block, &CommentItem,
         &PopupCommentItem, static_cast<int>(TBlockCommand::Comment), true},
        {"U&ncomment Block", "Ctrl+K", "Removes the comment marks of the selected lines.", block,
         &UncommentItem, &PopupUncommentItem, static_cast<int>(TBlockCommand::Uncomment), true},
    };
    for (const TEditCommand &command : commands) {
        if (std::string(command.Caption) == "-") {
            AddSeparator(*EditMenu);
            if (command.InPopup)
                AddSeparator(popup);
            continue;
        }
        TMenuItem *item = AddItem(*EditMenu, command.Caption, command.ShortCut, command.Hint, command.Click);
        item->SetTag(command.Tag);
        if (command.MenuItem)
            *command.MenuItem = item;
        if (!command.InPopup)
            continue;
        // The context menu's items carry no shortcut: the Edit menu's serve the keys.
        TMenuItem *popupItem = AddItem(popup, command.Caption, "", command.Hint, command.Click);
        popupItem->SetTag(command.Tag);
        if (command.PopupItem)
            *command.PopupItem = popupItem;
    }
    AddSeparator(popup);
    AddItem(popup, "Complete &Template", "", "Replaces the word before the cursor by its code template.",
            MakeNotifyEvent<&TEditForm::CompleteItemClick>(this));
    AddItem(popup, "&New Formula...", "", "Appends a new entry to the file.",
            MakeNotifyEvent<&TEditForm::NewEntryItemClick>(this));
    AddSeparator(popup);
    AddItem(popup, "Topic &Search", "Alt+F1", "Searches for help on the word at the cursor position.",
            MakeNotifyEvent<&TEditForm::TopicSearchItemClick>(this));
    Edit->SetPopupMenu(PopupMenu);

    InsertMenu = new TMenuItem(nullptr);
    InsertMenu->SetCaption("&Insert");
    InsertMenu->SetGroupIndex(InsertGroup);
    MainMenu->Items().Add(InsertMenu);
    AddItem(*InsertMenu, "&New Formula...", "Ctrl+M", "Appends a new entry to the file.",
            MakeNotifyEvent<&TEditForm::NewEntryItemClick>(this));
    AddItem(*InsertMenu, "Complete &Template", "Ctrl+J",
            "Replaces the word before the cursor by its code template.",
            MakeNotifyEvent<&TEditForm::CompleteItemClick>(this));
    AddSeparator(*InsertMenu);
    const TNotifyEvent snippet = MakeNotifyEvent<&TEditForm::SnippetItemClick>(this);
    for (const TInsertMenuSnippet &entry : InsertMenuSnippets()) {
        TMenuItem *parent = InsertMenu;
        std::string path = entry.Path;
        while (!path.empty()) {
            const std::size_t slash = path.find('/');
            parent = SubMenu(*parent, path.substr(0, slash));
            path = slash == std::string::npos ? "" : path.substr(slash + 1);
        }
        std::string shown;
        for (char c : ResolveSnippetBars(entry.Snippet).Text)
            shown += c == '\r' ? ' ' : c;
        TMenuItem *item = AddItem(*parent, entry.Caption, "", "Inserts \"" + shown + "\".", snippet);
        item->SetTag(static_cast<int>(FSnippets.size()));
        FSnippets.push_back(entry.Snippet);
    }
    SetMenu(MainMenu);
}

void TEditForm::CreateToolBar() {
    ToolBar->SetBevelOuter(bvNone);
    ToolBar->SetBounds(0, 0, 0, 28);
    ToolBar->SetParent(this);
    struct TButtonInfo {
        const char *Caption, *Hint;
        TNotifyEvent Click;
    };
    const TButtonInfo buttons[] = {
        {"New", "New Fractal (Ctrl+N)|Creates a new fractal.",
         MakeNotifyEvent<&TEditForm::NewFractalItemClick>(this)},
        {"Open", "Open (Ctrl+O)|Opens an existing document.",
         MakeNotifyEvent<&TEditForm::OpenItemClick>(this)},
        {"Browse", "Browse (Ctrl+B)|Opens a browser window to open and organize your documents.", {}},
        {"Save", "Save (Ctrl+S)|Saves the document.", MakeNotifyEvent<&TEditForm::SaveItemClick>(this)},
        {"Undo", "Undo (Ctrl+Z)|Undoes the last action.", MakeNotifyEvent<&TEditForm::UndoItemClick>(this)},
        {"Cut", "Cut (Ctrl+X)|Moves the selected text to the Clipboard.",
         MakeNotifyEvent<&TEditForm::CutItemClick>(this)},
        {"Copy", "Copy (Ctrl+C)|Copies the selected text to the Clipboard.",
         MakeNotifyEvent<&TEditForm::CopyItemClick>(this)},
        {"Paste", "Paste (Ctrl+V)|Inserts the contents of the Clipboard.",
         MakeNotifyEvent<&TEditForm::PasteItemClick>(this)},
        {"Find", "Find (Ctrl+F)|Finds text.", MakeNotifyEvent<&TEditForm::FindItemClick>(this)},
        {"Formulas", "Find Formulas (Ctrl+E)|Finds formulas in this file.", {}},
        {"", "", {}}, // the entry drop-down
        {"New Entry", "New Formula (Ctrl+M)|Appends a new entry to the file.",
         MakeNotifyEvent<&TEditForm::NewEntryItemClick>(this)},
        {"Template", "Complete Template (Ctrl+J)|Replaces the word before the cursor by its code template.",
         MakeNotifyEvent<&TEditForm::CompleteItemClick>(this)},
        {"Help", "Help (F1)|Shows context-sensitive help.", MakeNotifyEvent<&TEditForm::HelpItemClick>(this)},
    };
    int left = 4;
    for (const TButtonInfo &info : buttons) {
        if (!*info.Caption) {
            FormulaInput = new TComboBox(this);
            FormulaInput->SetParent(ToolBar);
            FormulaInput->SetStyle(csDropDownList);
            FormulaInput->SetDropDownCount(12);
            FormulaInput->SetBounds(left + 4, 3, 120, 21);
            FormulaInput->SetHint(
                "Active Formula (Ctrl+Q)|Shows the formula being edited. Use the drop-down list to "
                "jump to another formula.");
            FormulaInput->SetShowHint(true);
            FormulaInput->Font().SetStyle(FormulaInput->Font().Style() | fsBold);
            FormulaInput->OnDropDown = MakeNotifyEvent<&TEditForm::FormulaInputDropDown>(this);
            FormulaInput->OnSelect = MakeNotifyEvent<&TEditForm::FormulaInputSelect>(this);
            left += 132;
            continue;
        }
        // Buttons without pictures show their caption, so they are as wide as it needs.
        const int width = 8 + 6 * static_cast<int>(std::string(info.Caption).size());
        auto *button = new TAdvSpeedButton(ToolBar);
        button->SetParent(ToolBar);
        button->SetFlat(true);
        button->SetCaption(info.Caption);
        button->SetBounds(left, 3, width, 22);
        button->SetHint(info.Hint);
        button->SetShowHint(true);
        button->OnClick = info.Click;
        button->SetEnabled(info.Click.Assigned());
        ToolButtons.push_back(button);
        left += width;
    }
    ToolBar->SetWidth(left + 4);
}

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
    ApplySettings();
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
    UpdateCurrentEntry();
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
    FormulaInput->SetEnabled(KindHasEntries(AKind));
    if (!KindHasEntries(AKind))
        FormulaInput->Items().Clear();
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
    case TTemplateMatch::Choose: {
        std::string chosen;
        if (EditorPrompts().ChooseTemplate(pattern, *settings->Templates, chosen) && !chosen.empty())
            ReplacePatternWithTemplate(*FText, pattern, chosen);
        break;
    }
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
    if (UndoItem) {
        const bool canUndo = Edit->HandleAllocated() && Edit->CanUndo();
        int start = 0, length = 0;
        FText->GetSelection(start, length);
        const bool selected = length > 0;
        for (TMenuItem *item : {UndoItem, PopupUndoItem})
            item->SetEnabled(canUndo);
        for (TMenuItem *item : {CutItem, CopyItem, DeleteItem, IndentItem, OutdentItem, CommentItem,
                                UncommentItem, PopupCutItem, PopupCopyItem, PopupDeleteItem, PopupIndentItem,
                                PopupOutdentItem, PopupCommentItem, PopupUncommentItem})
            item->SetEnabled(selected);
        ToolButtons[4]->SetEnabled(canUndo);
        ToolButtons[5]->SetEnabled(selected);
        ToolButtons[6]->SetEnabled(selected);
    }
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
    if (FReplacingText)
        return;
    RestartFormulaTimer();
    if (FModified)
        return;
    FModified = true;
    UpdateStatus();
}

void TEditForm::EditSelectionChange(TObject *) {
    RestartFormulaTimer();
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

void TEditForm::Activate() {
    TDocumentForm::Activate();
    FEntryScan.ScannedLine = -1;
    RestartFormulaTimer();
}

void TEditForm::FormShortCut(WORD Key, TShiftState Shift, bool &Handled) {
    // Ctrl+Q: the entry drop-down, filled and opened.
    if (Key != 'Q' || (Shift & (ssShift | ssAlt | ssCtrl)) != ssCtrl || !FormulaInput->Enabled())
        return;
    Handled = true;
    FillEntryList();
    if (FormulaInput->CanFocus()) {
        FormulaInput->SetFocus();
        FormulaInput->SetDroppedDown(true);
    }
}

void TEditForm::EditKeyDown(TObject *, WORD &Key, TShiftState Shift) {
    const TEditorConfiguration *settings = EditorSettings();
    const bool plain = (Shift & (ssShift | ssAlt | ssCtrl)) == 0;
    if (Key == VK_INSERT && plain) {
        // The control switches between inserting and overwriting itself.
        FInsertMode = !FInsertMode;
        UpdateStatus();
        return;
    }
    if (Key == VK_TAB && plain && settings && !settings->TabCharacters) {
        FText->ReplaceSelection(std::string(static_cast<std::size_t>(TabSize()), ' '));
        Key = 0;
        FSwallowChar = '\t';
        return;
    }
    if (Key == VK_RETURN && (Shift & (ssAlt | ssCtrl)) == 0 && settings && settings->AutoIndent) {
        int start = 0, length = 0;
        FText->GetSelection(start, length);
        const std::string text = FText->GetText();
        const TEditorLines lines(text);
        const int line = lines.LineOf(start);
        FText->ReplaceSelection(AutoIndentBreak(lines.Text(line), start - lines.Start(line)));
        Key = 0;
        FSwallowChar = '\r';
    }
}

void TEditForm::EditKeyPress(TObject *, char &Key) {
    // The character of a key that its key-down already handled.
    if (FSwallowChar && Key == FSwallowChar)
        Key = 0;
    FSwallowChar = 0;
}

void TEditForm::RestartFormulaTimer() {
    if (FUpdating)
        return;
    UpdateFormulaTimer->SetEnabled(false);
    UpdateFormulaTimer->SetEnabled(true);
}

void TEditForm::FormulaTimerTimer(TObject *) {
    UpdateFormulaTimer->SetEnabled(false);
    UpdateCurrentEntry();
}

void TEditForm::UpdateCurrentEntry() {
    if (!KindHasEntries(FKind))
        return;
    int start = 0, length = 0;
    FText->GetSelection(start, length);
    const std::string text = FText->GetText();
    const std::optional<std::string> name =
        ScanCurrentEntry(text, TEditorLines(text).LineOf(start), FEntryScan);
    if (!name)
        return;
    FormulaInput->Items().Clear();
    FormulaInput->Items().Add(*name);
    FormulaInput->SetItemIndex(0);
}

void TEditForm::FillEntryList() {
    if (!KindHasEntries(FKind))
        return;
    int start = 0, length = 0;
    FText->GetSelection(start, length);
    const std::string text = FText->GetText();
    const TEntryList list = MakeEntryList(text, TEditorLines(text).LineOf(start));
    FormulaInput->Items().Clear();
    for (const std::string &name : list.Names)
        FormulaInput->Items().Add(name);
    if (!list.Names.empty())
        FormulaInput->SetItemIndex(list.Selected);
}

void TEditForm::FormulaInputDropDown(TObject *) {
    FillEntryList();
}

void TEditForm::FormulaInputSelect(TObject *) {
    const int index = FormulaInput->ItemIndex();
    if (index < 0)
        return;
    GoToEntry(FormulaInput->Items()[index]);
    if (Edit->CanFocus())
        Edit->SetFocus();
}

void TEditForm::NewEntryItemClick(TObject *) {
    TNewEntryOptions options;
    if (!EditorPrompts().AskNewEntry(FKind, options))
        return;
    InsertNewEntry(options);
}

void TEditForm::CompleteItemClick(TObject *) {
    CompleteTemplate();
}

void TEditForm::SnippetItemClick(TObject *Sender) {
    const auto index = static_cast<std::size_t>(static_cast<TMenuItem *>(Sender)->Tag());
    if (index < FSnippets.size())
        InsertSnippet(FSnippets[index]);
}

void TEditForm::BlockItemClick(TObject *Sender) {
    RunBlockCommand(static_cast<TBlockCommand>(static_cast<TMenuItem *>(Sender)->Tag()));
}

void TEditForm::PrintItemClick(TObject *) {
    std::unique_ptr<TEditorPrintTarget> target = EditorPrompts().AskPrinter();
    if (target)
        PrintEditorText(*target, Caption(), FText->GetText(), TabSize());
}

void TEditForm::PrinterSetupItemClick(TObject *) {
    EditorPrompts().PrinterSetup();
}

void TEditForm::TakeSearchOptions(TAdvFindDialog &Dialog) {
    const TFindOptions options = Dialog.Options();
    SearchOptions.What = Dialog.FindText();
    SearchOptions.MatchCase = (options & FindOption(frMatchCase)) != 0;
    SearchOptions.WholeWord = (options & FindOption(frWholeWord)) != 0;
    SearchOptions.ReplaceBy = ReplaceDialog->ReplaceText();
    TAdvFindDialog &other =
        &Dialog == FindDialog ? static_cast<TAdvFindDialog &>(*ReplaceDialog) : *FindDialog;
    other.SetFindText(SearchOptions.What);
    const TFindOptions shared = FindOption(frMatchCase) | FindOption(frWholeWord);
    other.SetOptions(static_cast<TFindOptions>((other.Options() & ~shared) | (options & shared)));
}

void TEditForm::FindDialogFind(TObject *Sender) {
    TakeSearchOptions(*static_cast<TAdvFindDialog *>(Sender));
    FindNext();
}

void TEditForm::ReplaceDialogReplace(TObject *) {
    TakeSearchOptions(*ReplaceDialog);
    if (ReplaceDialog->Options() & FindOption(frReplaceAll))
        ReplaceAll();
    else
        Replace();
}

void TEditForm::FindItemClick(TObject *) {
    if (const TEditorConfiguration *settings = EditorSettings(); settings && settings->FindLeft != -1)
        FindDialog->SetPosition({settings->FindLeft, settings->FindTop});
    FindDialog->Execute();
}

void TEditForm::ReplaceItemClick(TObject *) {
    if (const TEditorConfiguration *settings = EditorSettings(); settings && settings->ReplaceLeft != -1)
        ReplaceDialog->SetPosition({settings->ReplaceLeft, settings->ReplaceTop});
    ReplaceDialog->Execute();
}

void TEditForm::FindDialogClose(TObject *Sender) {
    TConfigManager *config = ConfigManager();
    if (!config || !config->Editor)
        return;
    const TPoint position = static_cast<TAdvFindDialog *>(Sender)->Position();
    if (Sender == ReplaceDialog) {
        config->Editor->ReplaceLeft = position.X;
        config->Editor->ReplaceTop = position.Y;
    } else {
        config->Editor->FindLeft = position.X;
        config->Editor->FindTop = position.Y;
    }
}

void TEditForm::UpdatePasteItems() {
    const bool canPaste = ClipboardManager() && ClipboardManager()->GetKind() != 0;
    PasteItem->SetEnabled(canPaste);
    PopupPasteItem->SetEnabled(canPaste);
    if (ToolButtons.size() > 7)
        ToolButtons[7]->SetEnabled(canPaste);
}

void TEditForm::ClipboardChanged(TObject *) {
    UpdatePasteItems();
}

void TEditForm::ApplySettings() {
    UpdateTabStops();
    const TEditorConfiguration *settings = EditorSettings();
    if (!settings)
        return;
    if (!settings->Font.Name.empty()) {
        Edit->Font().SetName(settings->Font.Name);
        if (settings->Font.Size > 0)
            Edit->Font().SetSize(settings->Font.Size);
    }
    Edit->SetGutter(settings->Gutter ? 24 : 0);
}

void TEditForm::SettingsChanged(TObject *) {
    ApplySettings();
}

void TEditForm::HistoryChanged(TObject *) {
    if (FileHistoryManager())
        FileHistoryManager()->UpdateMenu(*FileMenu);
}

void TEditForm::NewFractalItemClick(TObject *) {
    NewFractalWindow();
}

void TEditForm::NewEditorItemClick(TObject *Sender) {
    NewEditorWindow(static_cast<TEditorKind>(static_cast<TMenuItem *>(Sender)->Tag()));
}

void TEditForm::DuplicateItemClick(TObject *) {
    if (FileHistoryManager())
        FileHistoryManager()->DocumentCreated();
    auto *form = new TEditForm(Application);
    form->Assign(*this);
    form->Show();
}

void TEditForm::OpenItemClick(TObject *Sender) {
    if (MainForm)
        MainForm->OpenItemClick(Sender);
}

void TEditForm::CloseItemClick(TObject *) {
    Close();
}

void TEditForm::SaveItemClick(TObject *) {
    Save(FFileName);
}

void TEditForm::SaveAsItemClick(TObject *) {
    Save("");
}

void TEditForm::SaveCopyItemClick(TObject *) {
    SaveCopy();
}

void TEditForm::ExitItemClick(TObject *Sender) {
    if (MainForm)
        MainForm->ExitItemClick(Sender);
}

void TEditForm::UndoItemClick(TObject *) {
    Edit->Undo();
    UpdateStatus();
}

void TEditForm::CutItemClick(TObject *) {
    CopyItemClick(nullptr);
    FText->ReplaceSelection("");
}

void TEditForm::CopyItemClick(TObject *) {
    const std::string selected = Edit->GetSelText();
    if (selected.empty())
        return;
    // The clipboard holds line breaks as CR LF.
    if (ClipboardManager())
        ClipboardManager()->SetText(ToCrLf(NormalizeLineBreaks(selected)), 1);
}

void TEditForm::PasteItemClick(TObject *) {
    if (!ClipboardManager() || ClipboardManager()->GetKind() == 0)
        return;
    FText->ReplaceSelection(NormalizeLineBreaks(ClipboardManager()->GetText()));
}

void TEditForm::DeleteItemClick(TObject *) {
    FText->ReplaceSelection("");
}

void TEditForm::SelectAllItemClick(TObject *) {
    FText->SetSelection(0, static_cast<int>(FText->GetText().size()));
}

void TEditForm::TopicSearchItemClick(TObject *) {
    TopicSearch();
}

void TEditForm::HelpItemClick(TObject *) {
    ShowHelp();
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
