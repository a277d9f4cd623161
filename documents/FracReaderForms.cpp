#include "FracReaderForms.h"

#include <commctrl.h>

#include <algorithm>
#include <utility>

#include "AdvDlgs.h"
#include "CompFileManager.h"
#include "GenSetup.h"
#include "GenUpdateFormulas.h"
#include "Graphics.h"
#include "SysUtils.h"

namespace {

const char *const MissingFormulaFormName = "MissingFormulaForm";
const char *const LoadWarningsFormName = "LoadWarningsForm";

// A report list without column headers.
class THeaderlessListView : public TListView {
public:
    using TListView::TListView;

protected:
    void CreateParams(TCreateParams &Params) override {
        TListView::CreateParams(Params);
        Params.Style |= LVS_NOCOLUMNHEADER;
    }
};

// The file patterns searched for a missing entry of FileName's formula file.
std::vector<std::string> SearchPatterns(const std::string &FileName) {
    const std::string extension = LowerCase(ExtractFileExt(FileName));
    if (extension == ".oxf")
        return {"*.oxf"};
    if (extension == ".ocl")
        return {"*.ocl"};
    return {"*.ofm", "*.frm"};
}

// The names in a folder matching Pattern: folders (other than "." and "..") or files.
std::vector<std::string> FolderNames(const std::string &Folder, const std::string &Pattern, bool Folders) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((IncludeTrailingPathDelimiter(Folder) + Pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const std::string name = data.cFileName;
        if (folder == Folders && name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
}

// Whether the formula file at Path (through the shared file cache) holds an entry of that name,
// letter case ignored; a file that cannot be read holds none.
bool FileHoldsEntry(const std::string &Path, const std::string &EntryName) {
    TFileManager *files = FileManager();
    if (!files)
        return false;
    TEntryFile *file = nullptr;
    try {
        file = files->OpenFile(Path, false);
    } catch (const Exception &) {
        return false;
    }
    if (!file)
        return false;
    TEntryFileReference reference(file);
    return file->IndexOfName(EntryName) >= 0;
}

int ColumnWidth(TListView &List, int Column) {
    if (List.HandleAllocated())
        return static_cast<int>(List.Perform(LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(Column), 0));
    return List.Columns(Column).Width;
}

} // namespace

// =============================================================================================
// TMissingFormulaForm

TMissingFormulaForm::TMissingFormulaForm(TComponent *AOwner, const std::string &AEntryName,
                                         const std::string &AFileName)
    : TForm(AOwner), EntryName(AEntryName), FileName(AFileName) {
    SetName(MissingFormulaFormName);
    SetCaption("Missing Formula");
    SetBorderStyle(bsDialog);
    SetPosition(poScreenCenter);
    SetClientSize(420, 332);

    MessageLabel = new TLabel(this);
    MessageLabel->SetParent(this);
    MessageLabel->SetAutoSize(false);
    MessageLabel->SetWordWrap(true);
    MessageLabel->SetShowAccelChar(false);
    MessageLabel->SetBounds(12, 12, 396, 30);

    StatusLabel = new TLabel(this);
    StatusLabel->SetParent(this);
    StatusLabel->SetAutoSize(false);
    StatusLabel->SetBounds(12, 48, 396, 16);
    StatusLabel->SetCaption("Searching for possible matches...");

    List = new TListView(this);
    List->SetParent(this);
    List->SetBounds(12, 66, 396, 112);
    List->SetViewStyle(vsReport);
    List->SetReadOnly(true);
    List->SetRowSelect(true);
    List->SetHideSelection(false);
    List->AddColumn("Formula", DefaultFormulaWidth);
    List->AddColumn("File", DefaultFileWidth);

    ActionGroup = new TGroupBox(this);
    ActionGroup->SetParent(this);
    ActionGroup->SetBounds(12, 186, 396, 106);
    ActionGroup->SetCaption("What do you want to do?");
    const char *const captions[] = {"&Use the formula selected in the list above",
                                    "&Look for the formula on your computer",
                                    "&Download the formula from the online formula library", "&Try again"};
    TRadioButton **radios[] = {&UseSelectedRadio, &LookForRadio, &DownloadRadio, &TryAgainRadio};
    for (int i = 0; i < 4; ++i) {
        auto *radio = new TRadioButton(this);
        radio->SetParent(ActionGroup);
        radio->SetBounds(12, 20 + 20 * i, 372, 18);
        radio->SetCaption(captions[i]);
        *radios[i] = radio;
    }

    OKButton = new TButton(this);
    OKButton->SetParent(this);
    OKButton->SetBounds(252, 300, 75, 25);
    OKButton->SetCaption("OK");
    OKButton->SetDefault(true);
    OKButton->SetModalResult(mrOk);

    CancelButton = new TButton(this);
    CancelButton->SetParent(this);
    CancelButton->SetBounds(333, 300, 75, 25);
    CancelButton->SetCaption("Cancel");
    CancelButton->SetCancel(true);
    CancelButton->SetModalResult(mrCancel);

    OnCloseQuery = MakeEvent<&TMissingFormulaForm::FormCloseQuery>(this);
    FormCreate();
}

TRadioButton *TMissingFormulaForm::ActionRadio(TMissingFormulaAction Value) const {
    switch (Value) {
    case TMissingFormulaAction::LookOnComputer:
        return LookForRadio;
    case TMissingFormulaAction::Download:
        return DownloadRadio;
    case TMissingFormulaAction::TryAgain:
        return TryAgainRadio;
    default:
        return UseSelectedRadio;
    }
}

void TMissingFormulaForm::FormCreate() {
    TConfigManager *config = ConfigManager();
    int action = 0;
    if (config) {
        config->LoadWindowPlacement(Handle(), MissingFormulaFormName, false);
        List->Columns(0).Width =
            config->ReadFormInteger(MissingFormulaFormName, "FormulaWidth", DefaultFormulaWidth);
        List->Columns(1).Width =
            config->ReadFormInteger(MissingFormulaFormName, "FileWidth", DefaultFileWidth);
        List->UpdateColumns();
        action = config->ReadFormInteger(MissingFormulaFormName, "Action", 0);
    }
    ActionRadio(static_cast<TMissingFormulaAction>(std::clamp(action, 0, 3)))->SetChecked(true);
    MessageLabel->SetCaption(Format("Orbisk Vantel was unable to find the formula '%s' in '%s'.", EntryName,
                                    ExtractFileName(FileName)));
    PostMessageA(Handle(), WM_FINDMATCHES, 0, 0);
}

void TMissingFormulaForm::WndProc(TMessage &Message) {
    if (Message.Msg == WM_FINDMATCHES) {
        // Inside a window message: nothing may leave.
        try {
            FindMatches();
        } catch (...) {
            Application->HandleException(this);
        }
        return;
    }
    TForm::WndProc(Message);
}

void TMissingFormulaForm::FindMatches() {
    const std::vector<std::string> patterns = SearchPatterns(FileName);
    std::unique_ptr<TStringList> folders;
    if (ConfigManager() && ConfigManager()->Folder)
        folders = ConfigManager()->Folder->GetFormulaFolders();
    bool completed = true;
    for (int i = 0; folders && i < folders->Count() && completed; ++i)
        completed = SearchFolder(folders->Strings(i), patterns);
    if (!completed || ModalResult() != mrNone)
        return;
    StatusLabel->SetCaption(List->ItemCount() == 0 ? "No matches were found."
                                                   : "The following possible matches were found:");
}

bool TMissingFormulaForm::SearchFolder(const std::string &Folder, const std::vector<std::string> &Patterns) {
    for (const std::string &name : FolderNames(Folder, "*", true))
        if (!SearchFolder(IncludeTrailingPathDelimiter(Folder) + name, Patterns))
            return false;
    for (const std::string &pattern : Patterns)
        for (const std::string &name : FolderNames(Folder, pattern, false))
            if (!ExamineFile(IncludeTrailingPathDelimiter(Folder) + name))
                return false;
    return true;
}

bool TMissingFormulaForm::ExamineFile(const std::string &Path) {
    if (FileHoldsEntry(Path, EntryName)) {
        TListItem *item = List->AddItem();
        item->SetCaption(EntryName);
        item->SubItems().Add(Path);
        if (List->ItemCount() == 1) {
            item->SetFocused(true);
            item->SetSelected(true);
        }
    }
    // The dialog stays usable while it searches, and closing it ends the search.
    Application->ProcessMessages();
    return ModalResult() == mrNone;
}

void TMissingFormulaForm::Inform(const std::string &Text) {
    AdvMessageDlg(Text, mtInformation, {mbOK}, 0);
}

void TMissingFormulaForm::StoreColumnWidths() {
    if (TConfigManager *config = ConfigManager()) {
        config->WriteFormInteger(MissingFormulaFormName, "FormulaWidth", ColumnWidth(*List, 0));
        config->WriteFormInteger(MissingFormulaFormName, "FileWidth", ColumnWidth(*List, 1));
    }
}

void TMissingFormulaForm::FormCloseQuery(TObject *, bool &CanClose) {
    TConfigManager *config = ConfigManager();
    if (config && HandleAllocated())
        config->SaveWindowPlacement(Handle(), MissingFormulaFormName, false);
    if (ModalResult() == mrOk) {
        if (UseSelectedRadio->Checked()) {
            TListItem *selected = List->Selected();
            if (!selected) {
                Inform("Please select a file from the list, or choose another option \r\n"
                       "if there are no files in the list.");
                CanClose = false;
                return;
            }
            Action = TMissingFormulaAction::UseSelected;
            FileName = selected->SubItems().Strings(0);
        } else if (LookForRadio->Checked()) {
            Action = TMissingFormulaAction::LookOnComputer;
        } else if (DownloadRadio->Checked()) {
            Action = TMissingFormulaAction::Download;
        } else {
            Action = TMissingFormulaAction::TryAgain;
        }
        if (config)
            config->WriteFormInteger(MissingFormulaFormName, "Action", static_cast<int>(Action));
    } else {
        Action = TMissingFormulaAction::Cancelled;
    }
    StoreColumnWidths();
}

// =============================================================================================
// TLoadWarningsForm

TLoadWarningsForm::TLoadWarningsForm(TComponent *AOwner) : TForm(AOwner) {
    SetName(LoadWarningsFormName);
    SetCaption("Warnings");
    SetBorderStyle(bsSizeable);
    SetPosition(poScreenCenter);
    SetClientSize(440, 240);

    TextLabel = new TLabel(this);
    TextLabel->SetParent(this);
    TextLabel->SetAutoSize(false);
    TextLabel->SetWordWrap(true);
    TextLabel->SetShowAccelChar(false);
    TextLabel->SetBounds(12, 12, 416, 30);
    TextLabel->SetAnchors(akLeft | akTop | akRight);
    TextLabel->SetCaption("The following errors occurred while trying to open the fractal or parameter set. "
                          "It might not be restored correctly.");

    // A red mark for a formula that did not compile, a yellow one for a parameter that is gone.
    TBitmap strip;
    strip.SetSize(32, 16);
    TCanvas &canvas = strip.Canvas();
    canvas.Brush().SetColor(clFuchsia);
    canvas.FillRect({0, 0, 32, 16});
    canvas.Brush().SetColor(clRed);
    canvas.Ellipse(2, 2, 14, 14);
    canvas.Brush().SetColor(clYellow);
    canvas.Ellipse(18, 2, 30, 14);
    FImages = std::make_unique<TImageList>(16, 16);
    FImages->AddMasked(strip, clFuchsia);

    List = new THeaderlessListView(this);
    List->SetParent(this);
    List->SetBounds(12, 48, 416, 148);
    List->SetAnchors(akLeft | akTop | akRight | akBottom);
    List->SetViewStyle(vsReport);
    List->SetReadOnly(true);
    List->SetRowSelect(true);
    List->SetSmallImages(FImages.get());
    List->AddColumn("", 100);

    OKButton = new TButton(this);
    OKButton->SetParent(this);
    OKButton->SetBounds(353, 206, 75, 25);
    OKButton->SetAnchors(akRight | akBottom);
    OKButton->SetCaption("OK");
    OKButton->SetDefault(true);
    OKButton->SetCancel(true);
    OKButton->SetModalResult(mrOk);

    if (TConfigManager *config = ConfigManager())
        config->LoadWindowPlacement(Handle(), LoadWarningsFormName, true);
}

TLoadWarningsForm::~TLoadWarningsForm() {
    if (TConfigManager *config = ConfigManager(); config && HandleAllocated())
        config->SaveWindowPlacement(Handle(), LoadWarningsFormName, true);
}

void TLoadWarningsForm::AddLine(const std::string &Text, int Image) {
    TListItem *item = List->AddItem();
    item->SetCaption(Text);
    item->SetImageIndex(Image);
    // The column takes the widest line, with room for the image.
    int widest = 0;
    for (int i = 0; i < List->ItemCount(); ++i) {
        const std::string &caption = List->Items(i)->Caption();
        widest = std::max(widest, static_cast<int>(List->Perform(LVM_GETSTRINGWIDTHA, 0,
                                                                 reinterpret_cast<LPARAM>(caption.c_str()))));
    }
    List->Columns(0).Width = widest + 24;
    List->UpdateColumns();
}

// =============================================================================================
// Looking for a formula outside the formula folders

void ConfigureFormulaOpenDialog(TOpenDialog &Dialog, int BrowserKind, const std::string &FileName,
                                const std::string &EntryName) {
    switch (BrowserKind) {
    case 4:
        Dialog.Filter = "Transformation files (*.oxf)|*.oxf";
        break;
    case 7:
    case 8:
        Dialog.Filter = "Coloring files (*.ocl)|*.ocl";
        break;
    default:
        Dialog.Filter = "Formula files (*.ofm; *.frm)|*.ofm;*.frm";
        break;
    }
    Dialog.Filter += "|All files (*.*)|*.*";
    Dialog.FilterIndex = 1;
    Dialog.Options = ofPathMustExist | ofFileMustExist;
    Dialog.Title = Format("Look for '%s'", EntryName);
    Dialog.FileName = ExtractFileName(FileName);
    // Where the parameter set said the file was, when that folder exists; else the Formula folder.
    const std::string folder = ExtractFilePath(FileName);
    if (!folder.empty() && DirectoryExists(folder))
        Dialog.InitialDir = folder;
    else if (ConfigManager() && ConfigManager()->Folder)
        Dialog.InitialDir = ConfigManager()->Folder->Formula;
}

bool TakeFormulaFromFile(const std::string &Chosen, std::string &FileName, const std::string &EntryName,
                         std::string &Problem) {
    if (!FileHoldsEntry(Chosen, EntryName)) {
        Problem = Format("'%s' holds no formula named '%s'.", Chosen, EntryName);
        return false;
    }
    FileName = Chosen;
    return true;
}

namespace {

TFormulaEntryPicker &EntryPicker() {
    static TFormulaEntryPicker picker;
    return picker;
}

TFormulaDownloader &Downloader() {
    static TFormulaDownloader downloader;
    return downloader;
}

} // namespace

TFormulaEntryPicker SetFormulaEntryPicker(TFormulaEntryPicker Picker) {
    return std::exchange(EntryPicker(), std::move(Picker));
}

TFormulaDownloader SetFormulaDownloader(TFormulaDownloader Download) {
    return std::exchange(Downloader(), std::move(Download));
}

// =============================================================================================
// The program's dialogs

namespace {

class TProgramParReaderDialogs : public TParReaderDialogs {
public:
    TMissingFormulaAnswer AskMissingFormula(const std::string &EntryName,
                                            const std::string &FileName) override {
        TMissingFormulaAnswer answer;
        {
            auto form = std::make_unique<TMissingFormulaForm>(Application, EntryName, FileName);
            form->ShowModal();
            answer.Action = form->Action;
            answer.FileName = form->FileName;
            answer.EntryName = form->EntryName;
        }
        Application->ProcessMessages();
        return answer;
    }

    bool PickEntry(int BrowserKind, std::string &FileName, std::string &EntryName) override {
        if (EntryPicker())
            return EntryPicker()(BrowserKind, FileName, EntryName);
        // Until a picker of entries is set, the user points at the file and the entry is the one
        // the parameter set names.
        TOpenDialog dialog;
        ConfigureFormulaOpenDialog(dialog, BrowserKind, FileName, EntryName);
        if (!dialog.Execute())
            return false;
        std::string problem;
        if (TakeFormulaFromFile(dialog.FileName, FileName, EntryName, problem))
            return true;
        AdvMessageDlg(problem, mtError, {mbOK}, 0);
        return false;
    }

    void DownloadFormulaFile(const std::string &FileName) override {
        if (Downloader())
            Downloader()(FileName);
        else
            ShowUpdateFormulas(FileName);
    }

    void ShowLoadWarnings(const std::vector<std::string> &CompileErrors,
                          const std::vector<std::string> &MissingParameters) override {
        auto form = std::make_unique<TLoadWarningsForm>(Application);
        for (const std::string &line : CompileErrors)
            form->AddCompileError(line);
        for (const std::string &line : MissingParameters)
            form->AddMissingParameter(line);
        form->ShowModal();
    }
};

} // namespace

TParReaderDialogs &ProgramParReaderDialogs() {
    static TProgramParReaderDialogs dialogs;
    return dialogs;
}
