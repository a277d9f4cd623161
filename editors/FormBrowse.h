// The browser window: a folder tree on the left, the list of a folder's files or of a file's
// entries on the right, the selected entry's text below and its preview beside it. Opening a row
// goes into a folder or file, or opens the entry in its window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "BrowseItems.h"
#include "ExtCtrls.h"
#include "FormDocument.h"
#include "FracPreview.h"
#include "GenModules.h"

class TComboBox;
class TMemo;
class TPanel;
class TPostedCalls;
class TTimer;
class TTreeView;
class TTreeNode;
class TListView;
class TListItem;

// The preview control: draws the preview image centred, over the button face.
class TBrowsePreview : public TCustomControl {
public:
    DECLARE_CLASS_NAME(TBrowsePreview)
    explicit TBrowsePreview(TComponent *AOwner) : TCustomControl(AOwner) {}
    // Copies the picture shown; an empty bitmap shows nothing.
    void SetPicture(const TPreviewBitmap &Bitmap);
    const TPreviewBitmap &Picture() const { return FPicture; }
    std::string Caption;

protected:
    void PaintWindow(HDC DC) override;

private:
    TPreviewBitmap FPicture;
};

class TBrowseForm : public TDocumentForm, public TPreviewTarget {
public:
    DECLARE_CLASS_NAME(TBrowseForm)
    explicit TBrowseForm(TComponent *AOwner);
    ~TBrowseForm() override;

    TWinControl *GetToolBar() override { return ToolBar; }

    // Kind 0 to 8; the list and the tree show the files of that kind.
    void SetFileKind(std::uint8_t Kind);
    // Goes to a folder or file ("My Computer" for the drives); EBrowseException with the
    // "Cannot find..." message when it does not exist.
    void SetLocation(const std::string &Text);
    // Selects the row of that entry name (letter case ignored), when the list shows entries.
    void SelectEntry(const std::string &EntryName);
    // Open on the selected rows: into a folder or file, or the entries into their windows.
    void OpenSelection();

    std::uint8_t FileKind() const { return FFileKind; }
    const std::string &Location() const { return FLocation; }
    std::uint8_t Content() const { return FContent; }
    const std::string &CurrentFile() const { return FCurrentFile; }
    const std::string &SelectedEntry() const { return FSelectedEntry; }
    TVirtualListItems &Items() { return *FItems; }

    TPanel *ToolBar = nullptr;
    TPanel *LocationPanel = nullptr;
    TComboBox *LocationInput = nullptr;
    TTreeView *Tree = nullptr;
    TListView *List = nullptr;
    TMemo *Memo = nullptr;
    TBrowsePreview *Display = nullptr;

    // TPreviewTarget, called on the preview thread.
    void PreviewSized(std::int32_t Width, std::int32_t Height) override;
    void PreviewCaption(const std::string &Caption) override;
    void PreviewHint(const std::string &Hint) override;
    void PreviewRepaint() override;

private:
    void ListData(TObject *Sender, TListItem *Item);
    void ListChange(TObject *Sender);
    void ListDblClick(TObject *Sender);
    void ListKeyDown(TObject *Sender, WORD &Key, TShiftState Shift);
    void TreeChange(TObject *Sender, TTreeNode *Node);
    void TreeExpanding(TObject *Sender, TTreeNode *Node, bool &AllowExpansion);
    void LocationKeyDown(TObject *Sender, WORD &Key, TShiftState Shift);

    void BuildTree();
    // The node's full path, kept as its data (drives "X:\", "My Computer" for the top node).
    std::string NodePath(TTreeNode *Node) const;
    TTreeNode *AddNode(TTreeNode *Parent, const std::string &Text, const std::string &Path, int Icon);
    void FillFolderNode(TTreeNode *Node);
    void ShowNode(TTreeNode *Node);
    void FillList(TTreeNode *Node);
    void SetContent(std::uint8_t Content);
    void ShowSelection();
    void ShowEntry(const std::string &FileName, const std::string &EntryName, std::uint8_t Kind);
    void ShowNothing();

    std::uint8_t FFileKind = 0;
    std::string FLocation = ":";
    std::uint8_t FContent = bcNothing;
    std::string FCurrentFile;
    std::string FSelectedFile;
    std::string FSelectedEntry;
    std::uint8_t FEntryKind = 0;
    int FSortColumn = 0;
    bool FSortAscending = true;
    std::unique_ptr<TVirtualListItems> FItems;
    std::vector<std::unique_ptr<std::string>> FNodePaths;
    TTreeNode *FComputerNode = nullptr;
    TTreeNode *FShownNode = nullptr;
    bool FWalking = false;
    bool FSelectionPending = false;
    std::unique_ptr<TPostedCalls> FPosted;
    std::unique_ptr<TPreviewThread> FPreviewThread;
};

// A new browser window of the main window, shown.
TBrowseForm *OpenBrowser();
// OpenBrowser, then the kind, the location and the entry.
TBrowseForm *OpenBrowserAt(std::uint8_t Kind, const std::string &FileName, const std::string &EntryName);

// The browser's modules, for the program's ordered module list.
std::vector<TModuleEntry> EditorModules();
