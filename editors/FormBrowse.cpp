#include "FormBrowse.h"

#include <windows.h>

#include <algorithm>

#include "BrowseFiles.h"
#include "ComCtrls.h"
#include "CompEntries.h"
#include "CompFileManager.h"
#include "ExtCtrls.h"
#include "FileHistory.h"
#include "FormMain.h"
#include "FracFiles.h"
#include "GenSetup.h"
#include "GenUtils.h"
#include "PostedCalls.h"
#include "StdCtrls.h"

namespace {

constexpr const char *ComputerText = "My Computer";

// The entry as its file holds it: name, the header's text in parentheses, the body in braces.
std::string EntryFileText(TEntryData &Entry) {
    std::string text = Entry.Name();
    if (!Entry.Title().empty())
        text += "(" + Entry.Title() + ")";
    return text + " {\r\n" + Entry.GetText() + "}";
}

int PreviewSide(bool Width) {
    const TConfigManager *config = ConfigManager();
    if (!config || !config->Browser)
        return Width ? 120 : 90;
    return std::max(1, Width ? config->Browser->PreviewWidth : config->Browser->PreviewHeight);
}

void OpenBrowserFromDispatcher(int Kind, const std::string &FileName, const std::string &Entry) {
    OpenBrowserAt(static_cast<std::uint8_t>(Kind), FileName, Entry);
}

void InitializeFormBrowse() {
    SetBrowserOpener(OpenBrowserFromDispatcher);
}

void FinalizeFormBrowse() {
    SetBrowserOpener(nullptr);
}

} // namespace

// =============================================================================================
// TBrowsePreview

void TBrowsePreview::SetPicture(const TPreviewBitmap &Bitmap) {
    FPicture = Bitmap;
    Invalidate();
}

void TBrowsePreview::PaintWindow(HDC DC) {
    RECT client{};
    GetClientRect(Handle(), &client);
    FillRect(DC, &client, GetSysColorBrush(COLOR_BTNFACE));
    if (FPicture.Width > 0 && FPicture.Height > 0 &&
        FPicture.Pixels.size() >= std::size_t(FPicture.Width) * FPicture.Height) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = FPicture.Width;
        info.bmiHeader.biHeight = -FPicture.Height; // rows from the top
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        const int x = std::max(0, (int(client.right) - FPicture.Width) / 2);
        const int y = std::max(0, (int(client.bottom) - FPicture.Height) / 2);
        SetDIBitsToDevice(DC, x, y, DWORD(FPicture.Width), DWORD(FPicture.Height), 0, 0, 0,
                          UINT(FPicture.Height), FPicture.Pixels.data(), &info, DIB_RGB_COLORS);
    }
    if (!Caption.empty()) {
        SetBkMode(DC, TRANSPARENT);
        DrawTextA(DC, Caption.c_str(), int(Caption.size()), &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
}

// =============================================================================================
// TBrowseForm

TBrowseForm::TBrowseForm(TComponent *AOwner)
    : TDocumentForm(AOwner), FItems(std::make_unique<TVirtualListItems>()),
      FPosted(std::make_unique<TPostedCalls>()) {
    SetCaption("Browsing");
    SetBounds(40, 40, 620, 520);

    ToolBar = new TPanel(this);
    ToolBar->SetParent(this);
    ToolBar->SetVisible(false);

    LocationPanel = new TPanel(this);
    LocationPanel->SetParent(this);
    LocationPanel->SetAlign(alTop);
    LocationPanel->SetHeight(28);
    auto *label = new TLabel(this);
    label->SetParent(LocationPanel);
    label->SetBounds(6, 7, 56, 16);
    label->SetCaption("&Location:");
    LocationInput = new TComboBox(this);
    LocationInput->SetParent(LocationPanel);
    LocationInput->SetBounds(64, 3, 500, 22);
    LocationInput->OnKeyDown = MakeEvent<&TBrowseForm::LocationKeyDown>(this);

    auto *bottom = new TPanel(this);
    bottom->SetParent(this);
    bottom->SetAlign(alBottom);
    bottom->SetHeight(PreviewSide(false) + 16);
    Display = new TBrowsePreview(this);
    Display->SetParent(bottom);
    Display->SetAlign(alRight);
    Display->SetWidth(PreviewSide(true) + 16);
    Memo = new TMemo(this);
    Memo->SetParent(bottom);
    Memo->SetAlign(alClient);
    Memo->SetReadOnly(true);

    Tree = new TTreeView(this);
    Tree->SetParent(this);
    Tree->SetAlign(alLeft);
    Tree->SetWidth(170);
    Tree->SetReadOnly(true);
    Tree->OnChange = MakeEvent<&TBrowseForm::TreeChange>(this);
    Tree->OnExpanding = MakeEvent<&TBrowseForm::TreeExpanding>(this);
    auto *splitter = new TSplitter(this);
    splitter->SetParent(this);
    splitter->SetAlign(alLeft);
    splitter->SetLeft(171);

    List = new TListView(this);
    List->SetParent(this);
    List->SetAlign(alClient);
    List->SetViewStyle(vsReport);
    List->SetOwnerData(true);
    List->SetReadOnly(true);
    List->SetRowSelect(true);
    List->SetMultiSelect(true);
    List->SetHideSelection(false);
    List->OnData = MakeEvent<&TBrowseForm::ListData>(this);
    List->OnChange = MakeNotifyEvent<&TBrowseForm::ListChange>(this);
    List->OnDblClick = MakeNotifyEvent<&TBrowseForm::ListDblClick>(this);
    List->OnKeyDown = MakeEvent<&TBrowseForm::ListKeyDown>(this);

    FItems->OnCompare = [this](const TVirtualListItem &A, const TVirtualListItem &B) {
        return CompareRows(A, B, FContent, FSortColumn, FSortAscending,
                           FContent == bcParameters && !SameText(ExtractFileExt(FCurrentFile), ".ofr"));
    };
    FPreviewThread = TPreviewThread::Create(*this, PreviewManager(), PreviewSide(true), PreviewSide(false));
    BuildTree();
}

TBrowseForm::~TBrowseForm() {
    // The thread posts to this window: it ends before the queue and the controls go.
    FPreviewThread.reset();
    FPosted.reset();
}

void TBrowseForm::PreviewSized(std::int32_t, std::int32_t) {}

void TBrowseForm::PreviewCaption(const std::string &Caption) {
    FPosted->Post([this, Caption] {
        Display->Caption = Caption;
        Display->Invalidate();
    });
}

void TBrowseForm::PreviewHint(const std::string &) {}

void TBrowseForm::PreviewRepaint() {
    FPosted->Post([this] {
        TPreviewBitmap bitmap;
        if (!FPreviewThread || !FPreviewThread->GetPreviewPixels(bitmap))
            bitmap = TPreviewBitmap();
        Display->SetPicture(bitmap);
    });
}

// --- Tree ------------------------------------------------------------------------------------

TTreeNode *TBrowseForm::AddNode(TTreeNode *Parent, const std::string &Text, const std::string &Path,
                                int Icon) {
    TTreeNode *node = Tree->AddChild(Parent, Text);
    FNodePaths.push_back(std::make_unique<std::string>(Path));
    node->SetData(FNodePaths.back().get());
    node->SetImageIndex(Icon);
    node->SetSelectedIndex(Icon == biFolder ? biOpenFolder : Icon);
    return node;
}

std::string TBrowseForm::NodePath(TTreeNode *Node) const {
    return Node && Node->Data() ? *static_cast<std::string *>(Node->Data()) : std::string();
}

void TBrowseForm::BuildTree() {
    Tree->Clear();
    FNodePaths.clear();
    FShownNode = nullptr;
    FComputerNode = AddNode(nullptr, ComputerText, ComputerText, biComputer);
    const DWORD drives = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (!(drives & (1u << i)))
            continue;
        const char letter = char('A' + i);
        const std::string root = std::string(1, letter) + ":\\";
        const UINT type = GetDriveTypeA(root.c_str());
        const int icon = type == DRIVE_REMOVABLE ? biRemovableDrive
                         : type == DRIVE_CDROM   ? biCDROMDrive
                                                 : biFixedDrive;
        std::string name = GetDriveDisplayName(letter);
        if (name.empty())
            name = "(" + std::string(1, letter) + ":)";
        // The drive's letter lives in the node's path, never read back from the display text.
        AddNode(FComputerNode, name, root, icon);
    }
}

void TBrowseForm::FillFolderNode(TTreeNode *Node) {
    if (!Node || Node == FComputerNode)
        return;
    const std::string folder = AddTrailingBackslash(NodePath(Node));
    if (!DirectoryExists(RemoveTrailingBackslash(folder)) && folder.size() > 3)
        return;
    TVirtualListItems rows;
    ReadFolderRows(folder, FFileKind, rows);
    rows.OnCompare = [](const TVirtualListItem &A, const TVirtualListItem &B) {
        return CompareRows(A, B, bcFolder, 0, true, false);
    };
    rows.Sort();
    // Children that are there already stay (with their own children); new ones are added.
    for (int i = 0; i < rows.Count(); ++i) {
        const TVirtualListItem &row = rows.Item(i);
        bool present = false;
        for (int c = 0; c < Node->Count() && !present; ++c)
            present = SameText(Node->Item(c)->Text(), row.Caption);
        if (!present)
            AddNode(Node, row.Caption, folder + row.Caption, row.ImageIndex);
    }
}

void TBrowseForm::TreeExpanding(TObject *, TTreeNode *Node, bool &AllowExpansion) {
    AllowExpansion = true;
    if (Node && Node->Count() == 0)
        FillFolderNode(Node);
}

void TBrowseForm::TreeChange(TObject *, TTreeNode *Node) {
    if (FWalking || !Node || Node == FShownNode)
        return;
    FLocation = NodePath(Node);
    ShowNode(Node);
}

void TBrowseForm::SetLocation(const std::string &Text) {
    if (Text == FLocation)
        return;
    TTreeNode *node = FComputerNode;
    std::string location = ComputerText;
    if (!Text.empty() && !SameText(Text, ComputerText)) {
        location = ResolveLocation(Text, FFileKind);
        const std::string drive = location.substr(0, 3);
        node = nullptr;
        for (int i = 0; i < FComputerNode->Count() && !node; ++i)
            if (SameText(NodePath(FComputerNode->Item(i)), drive))
                node = FComputerNode->Item(i);
        if (!node)
            throw EBrowseException(CannotFindMessage(Text));
        std::size_t start = 3;
        while (start < location.size()) {
            const std::size_t end = std::min(location.find('\\', start), location.size());
            const std::string component = location.substr(start, end - start);
            FillFolderNode(node);
            TTreeNode *child = nullptr;
            for (int c = 0; c < node->Count() && !child; ++c)
                if (SameText(node->Item(c)->Text(), CapitalizeUpperCase(component)) ||
                    SameText(node->Item(c)->Text(), component))
                    child = node->Item(c);
            if (!child)
                throw EBrowseException(CannotFindMessage(Text));
            node = child;
            start = end + 1;
        }
    }
    FLocation = location;
    FWalking = true;
    Tree->SetSelected(node);
    FWalking = false;
    ShowNode(node);
}

void TBrowseForm::ShowNode(TTreeNode *Node) {
    FShownNode = Node;
    SetCaption("Browsing - " + Node->Text());
    LocationInput->SetText(FLocation);
    FillList(Node);
    FSelectedFile = FLocation;
    FSelectedEntry.clear();
    FEntryKind = 0;
    ShowSelection();
}

void TBrowseForm::LocationKeyDown(TObject *, WORD &Key, TShiftState) {
    if (Key != VK_RETURN)
        return;
    Key = 0;
    try {
        SetLocation(LocationInput->Text());
    } catch (...) {
        Application->HandleException(this);
    }
}

// --- List ------------------------------------------------------------------------------------

void TBrowseForm::SetContent(std::uint8_t Content) {
    if (Content == FContent)
        return;
    FContent = Content;
    while (List->ColumnCount() > 0) {
        // The view has no way to drop columns one by one: a content change rebuilds them all.
        break;
    }
    struct TColumn {
        const char *Caption;
        int Width;
    };
    std::vector<TColumn> columns;
    switch (Content) {
    case bcDrives:
        columns = {{"Name", 200}, {"Type", 90}, {"Total Size", 80}, {"Free Space", 80}};
        break;
    case bcFolder:
        columns = {{"Name", 200}, {"Size", 80}, {"Type", 90}, {"Modified", 100}};
        break;
    case bcParameters:
        columns = {{"Title", 200}, {"Identifier", 80}, {"Type", 80},
                   {"Author", 90}, {"Date", 80},       {"Comments", 200}};
        break;
    default:
        columns = {{"Title", 200}, {"Identifier", 80}, {"Type", 80}, {"Comments", 200}};
        break;
    }
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (int(i) < List->ColumnCount()) {
            List->Columns(int(i)).Caption = columns[i].Caption;
            List->Columns(int(i)).Width = columns[i].Width;
        } else {
            List->AddColumn(columns[i].Caption, columns[i].Width);
        }
    }
    for (int i = int(columns.size()); i < List->ColumnCount(); ++i) {
        List->Columns(i).Caption.clear();
        List->Columns(i).Width = 0;
    }
    List->UpdateColumns();
    FSortColumn = 0;
    FSortAscending = true;
}

void TBrowseForm::FillList(TTreeNode *Node) {
    BeginWaitCursor();
    List->SetItemCount(0);
    FItems->Clear();
    const int icon = Node == FComputerNode ? biComputer : Node->ImageIndex();
    const std::uint8_t content = ContentOfIcon(icon);
    SetContent(content);
    FCurrentFile.clear();
    if (content == bcDrives) {
        for (int i = 0; i < FComputerNode->Count(); ++i) {
            TTreeNode *drive = FComputerNode->Item(i);
            TVirtualListItem &row = FItems->Add();
            row.Caption = drive->Text();
            row.ImageIndex = drive->ImageIndex();
            row.SubItems = {drive->ImageIndex() == biRemovableDrive ? "Floppy Disk"
                            : drive->ImageIndex() == biCDROMDrive   ? "CD-ROM Disc"
                                                                    : "Fixed Disk"};
            if (drive->ImageIndex() == biFixedDrive) {
                ULARGE_INTEGER freeBytes{}, totalBytes{}, totalFree{};
                if (GetDiskFreeSpaceExA(NodePath(drive).c_str(), &freeBytes, &totalBytes, &totalFree)) {
                    row.PrimaryValue = double(totalBytes.QuadPart);
                    row.SecondaryValue = double(totalFree.QuadPart);
                }
                row.SubItems.push_back(DiskSizeText(row.PrimaryValue));
                row.SubItems.push_back(DiskSizeText(row.SecondaryValue));
            }
        }
    } else if (content == bcFolder) {
        ReadFolderRows(NodePath(Node), FFileKind, *FItems);
    } else {
        FCurrentFile = NodePath(Node);
        ReadEntryRows(FCurrentFile, content, FFileKind, *FItems);
    }
    FItems->Sort();
    List->SetItemCount(FItems->Count());
    List->Invalidate();
    EndWaitCursor();
}

void TBrowseForm::ListData(TObject *, TListItem *Item) {
    if (!Item || Item->Index() < 0 || Item->Index() >= FItems->Count())
        return;
    const TVirtualListItem &row = FItems->Item(Item->Index());
    Item->SetCaption(row.Caption);
    Item->SetImageIndex(row.ImageIndex);
    Item->SubItems().Clear();
    for (const std::string &text : row.SubItems)
        Item->SubItems().Add(text);
}

void TBrowseForm::ListChange(TObject *) {
    FSelectedEntry.clear();
    FEntryKind = 0;
    const int index = List->ItemIndex();
    if (index >= 0 && index < FItems->Count()) {
        const TVirtualListItem &row = FItems->Item(index);
        if (FContent == bcFolder) {
            FSelectedFile = AddTrailingBackslash(FLocation) + row.Caption;
        } else if (FContent >= bcParameters) {
            FSelectedFile = FCurrentFile;
            const std::string ext = LowerCase(ExtractFileExt(FCurrentFile));
            if (ext != ".ofr" && ext != ".map" && !row.SubItems.empty()) {
                FSelectedEntry = row.SubItems.front();
                FEntryKind = row.Kind;
            }
        }
    }
    // Shown once the selection messages of this change are handled: one posted call stands for
    // all of them.
    if (FSelectionPending)
        return;
    FSelectionPending = true;
    FPosted->Post([this] {
        FSelectionPending = false;
        ShowSelection();
    });
}

void TBrowseForm::SelectEntry(const std::string &EntryName) {
    if (FContent < bcParameters)
        return;
    for (int i = 0; i < FItems->Count(); ++i) {
        const TVirtualListItem &row = FItems->Item(i);
        if (!row.SubItems.empty() && SameText(row.SubItems.front(), EntryName)) {
            List->SetItemIndex(i);
            FSelectedEntry = row.SubItems.front();
            FEntryKind = row.Kind;
            ShowSelection();
            return;
        }
    }
}

void TBrowseForm::ShowNothing() {
    Memo->SetText("");
    FPreviewThread->ClearPreview();
}

void TBrowseForm::ShowEntry(const std::string &FileName, const std::string &EntryName, std::uint8_t Kind) {
    try {
        std::unique_ptr<TEntryCollection> owned;
        TEntryFile *shared = nullptr;
        TEntryCollection *entries = nullptr;
        if (SameText(ExtractFileExt(FileName), ".ofr")) {
            owned = ReadFractalFileEntries(FileName);
            entries = owned.get();
        } else if (FileManager()) {
            shared = FileManager()->OpenFile(FileName);
            entries = shared;
        } else {
            owned = TEntryReader::CreateFromFile(FileName, false);
            entries = owned.get();
        }
        TEntryFileReference release(shared);
        if (!entries) {
            ShowNothing();
            return;
        }
        TEntryCollectionLock lock(*entries);
        const int index = EntryName.empty() ? (owned && SameText(ExtractFileExt(FileName), ".ofr") ? 0 : -1)
                                            : entries->IndexOfName(EntryName);
        if (index < 0 || index >= entries->GetCount()) {
            ShowNothing();
            return;
        }
        TEntryData &entry = *entries->GetEntry(index);
        const std::string text = EntryFileText(entry);
        Memo->SetText(text);
        if (SameText(entry.Name(), "comment"))
            FPreviewThread->ClearPreview();
        else if (Kind == bkParameters || Kind == bkGradient)
            FPreviewThread->AssignText(text, Kind);
        else if (Kind == bkTransform || Kind == bkFormula || Kind == bkOutsideColoring ||
                 Kind == bkInsideColoring)
            FPreviewThread->AssignEntry(FileName, entry.Name(), Kind);
        else if (Kind == bkColoring)
            FPreviewThread->AssignEntry(FileName, entry.Name(),
                                        FFileKind == bkInsideColoring ? bkInsideColoring : bkOutsideColoring);
        else
            FPreviewThread->ClearPreview();
    } catch (const Exception &) {
        ShowNothing();
    }
}

void TBrowseForm::ShowSelection() {
    const std::uint8_t kind = KindOfFile(FSelectedFile);
    if (kind == bkFractal && FileExists(FSelectedFile)) {
        ShowEntry(FSelectedFile, std::string(), bkParameters);
    } else if (kind >= bkParameters && kind <= bkColoring && FileExists(FSelectedFile)) {
        if (SameText(ExtractFileExt(FSelectedFile), ".map")) {
            TStringList lines;
            try {
                lines.LoadFromFile(FSelectedFile);
                Memo->SetText(lines.Text());
            } catch (const Exception &) {
                Memo->SetText("");
            }
            FPreviewThread->ClearPreview();
            return;
        }
        ShowEntry(FSelectedFile, FSelectedEntry.empty() ? std::string("comment") : FSelectedEntry,
                  FSelectedEntry.empty() ? 0 : FEntryKind);
    } else {
        ShowNothing();
    }
}

void TBrowseForm::ListKeyDown(TObject *, WORD &Key, TShiftState) {
    if (Key == VK_RETURN) {
        Key = 0;
        OpenSelection();
    }
}

void TBrowseForm::ListDblClick(TObject *) {
    OpenSelection();
}

void TBrowseForm::OpenSelection() {
    const int index = List->ItemIndex();
    if (index < 0 || index >= FItems->Count())
        return;
    try {
        const TVirtualListItem &row = FItems->Item(index);
        if (FContent == bcDrives) {
            SetLocation(std::string(1, row.Caption.size() >= 3 ? row.Caption[row.Caption.size() - 3] : 'C') +
                        ":\\");
        } else if (FContent == bcFolder) {
            SetLocation(AddTrailingBackslash(FLocation) + row.Caption);
        } else if (SameText(ExtractFileExt(FCurrentFile), ".ofr")) {
            OpenFractalFile(FCurrentFile);
        } else if (FContent == bcParameters) {
            std::vector<std::string> names;
            for (int i = 0; i < FItems->Count(); ++i)
                if (List->Items(i) && List->Items(i)->Selected() && !FItems->Item(i).SubItems.empty())
                    names.push_back(FItems->Item(i).SubItems.front());
            if (names.empty() && !row.SubItems.empty())
                names.push_back(row.SubItems.front());
            for (const std::string &name : names)
                OpenParameterSet(FCurrentFile, name);
        } else if (FContent == bcFormulas) {
            OpenDocumentFile(FCurrentFile);
        }
    } catch (...) {
        Application->HandleException(this);
    }
}

void TBrowseForm::SetFileKind(std::uint8_t Kind) {
    if (Kind == FFileKind || Kind > bkInsideColoring)
        return;
    FFileKind = Kind;
    const std::string location = FLocation;
    BuildTree();
    FLocation = ":";
    try {
        SetLocation(location == ":" ? std::string(ComputerText) : location);
    } catch (const EBrowseException &) {
        SetLocation(ComputerText);
    }
}

// =============================================================================================

TBrowseForm *OpenBrowser() {
    if (MainForm)
        MainForm->ShowMainWindow();
    auto *form = new TBrowseForm(Application);
    form->Show();
    try {
        form->SetLocation(ComputerText);
    } catch (...) {
    }
    return form;
}

TBrowseForm *OpenBrowserAt(std::uint8_t Kind, const std::string &FileName, const std::string &EntryName) {
    TBrowseForm *form = OpenBrowser();
    form->SetFileKind(Kind);
    form->SetLocation(FileName);
    if (!EntryName.empty())
        form->SelectEntry(EntryName);
    return form;
}

std::vector<TModuleEntry> EditorModules() {
    return {{"FormBrowse", InitializeFormBrowse, FinalizeFormBrowse}};
}
