// Common controls: status bar, list view, tree view, page control, rich edit and up-down.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "Controls.h"
#include "StdCtrls.h"

// ---------------------------------------------------------------------------------------------
// Status bar

enum TStatusPanelStyle { psText, psOwnerDraw };

struct TStatusPanel {
    std::string Text;
    int Width = 50;
    TStatusPanelStyle Style = psText;
    TAlignment Alignment = taLeftJustify;
    // Without a bevel the panel shows its text flat on the bar.
    bool Bevel = true;
};

class TStatusBar;
using TDrawPanelEvent = TMethod<void(TStatusBar *StatusBar, int Panel, RECT Rect)>;

class TStatusBar : public TWinControl {
public:
    DECLARE_CLASS_NAME(TStatusBar)
    explicit TStatusBar(TComponent *AOwner);
    int PanelCount() const { return static_cast<int>(FPanels.size()); }
    TStatusPanel &Panels(int Index) { return FPanels.at(Index); }
    int AddPanel(const std::string &Text, int Width, TStatusPanelStyle Style = psText);
    void DeletePanel(int Index);
    void ClearPanels();
    // Panel changes between these are applied once, at the last EndUpdate.
    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();
    // Applies changes made through Panels().
    void UpdatePanels();
    void SetPanelText(int Index, const std::string &Text);
    // A panel's rectangle in the bar's client area (empty without a window).
    RECT PanelRect(int Index);
    // Has a panel repainted, without erasing it first.
    void InvalidatePanel(int Index, const RECT &Area);
    bool SimplePanel() const { return FSimplePanel; }
    void SetSimplePanel(bool Value);
    const std::string &SimpleText() const { return FSimpleText; }
    void SetSimpleText(const std::string &Value);
    bool SizeGrip() const { return FSizeGrip; }
    void SetSizeGrip(bool Value);
    TCanvas &Canvas() { return *FCanvas; }

    TDrawPanelEvent OnDrawPanel;

    void WndProc(TMessage &Message) override;

protected:
    void CreateParams(TCreateParams &Params) override;
    void CreateWnd() override;
    virtual void DrawPanel(int Panel, RECT Rect);
    std::vector<TStatusPanel> FPanels;
    bool FSimplePanel = false;
    std::string FSimpleText;
    bool FSizeGrip = true;
    int FUpdateCount = 0;
    std::unique_ptr<TCanvas> FCanvas;
};

// ---------------------------------------------------------------------------------------------
// List view

enum TViewStyle { vsIcon, vsSmallIcon, vsList, vsReport };

class TListView;

class TListItem : public TObject {
public:
    DECLARE_CLASS_NAME(TListItem)
    TListItem(TListView &Owner) : FOwner(Owner) {}
    const std::string &Caption() const { return FCaption; }
    void SetCaption(const std::string &Value);
    TStringList &SubItems() { return FSubItems; }
    int ImageIndex() const { return FImageIndex; }
    void SetImageIndex(int Value);
    void *Data() const { return FData; }
    void SetData(void *Value) { FData = Value; }
    int Index() const { return FIndex; }
    bool Selected();
    void SetSelected(bool Value);
    bool Focused();
    void SetFocused(bool Value);
    TListView &Owner() { return FOwner; }
    // Starts in-place editing of the caption.
    void EditCaption();

private:
    friend class TListView;
    TListView &FOwner;
    std::string FCaption;
    TStringList FSubItems;
    int FImageIndex = -1;
    void *FData = nullptr;
    int FIndex = 0;
};

struct TListColumn {
    std::string Caption;
    int Width = 50;
    TAlignment Alignment = taLeftJustify;
    int ImageIndex = -1;
};

using TLVDataEvent = TMethod<void(TObject *Sender, TListItem *Item)>;
using TLVSelectItemEvent = TMethod<void(TObject *Sender, TListItem *Item, bool Selected)>;
using TLVEditingEvent = TMethod<void(TObject *Sender, TListItem *Item, bool &AllowEdit)>;
using TLVEditedEvent = TMethod<void(TObject *Sender, TListItem *Item, std::string &S)>;
using TLVColumnClickEvent = TMethod<void(TObject *Sender, int Column)>;

class TListView : public TWinControl {
public:
    DECLARE_CLASS_NAME(TListView)
    explicit TListView(TComponent *AOwner);
    ~TListView() override;

    TViewStyle ViewStyle() const { return FViewStyle; }
    void SetViewStyle(TViewStyle Value);
    bool OwnerData() const { return FOwnerData; }
    void SetOwnerData(bool Value);
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool Value);
    bool MultiSelect() const { return FMultiSelect; }
    void SetMultiSelect(bool Value);
    bool RowSelect() const { return FRowSelect; }
    void SetRowSelect(bool Value);
    bool HideSelection() const { return FHideSelection; }
    void SetHideSelection(bool Value);
    TImageList *SmallImages() const { return FSmallImages; }
    void SetSmallImages(TImageList *Value);
    TImageList *LargeImages() const { return FLargeImages; }
    void SetLargeImages(TImageList *Value);

    int ColumnCount() const { return static_cast<int>(FColumns.size()); }
    TListColumn &Columns(int Index) { return FColumns.at(Index); }
    int AddColumn(const std::string &Caption, int Width);
    // Applies changes made through Columns().
    void UpdateColumns();

    // Items: kept by the view; with OwnerData only their count, OnData fills them.
    int ItemCount();
    void SetItemCount(int Value); // owner data
    TListItem *AddItem();
    TListItem *Items(int Index);
    void DeleteItem(int Index);
    void ClearItems();
    void BeginUpdate();
    void EndUpdate();
    TListItem *Selected();
    int ItemIndex();
    void SetItemIndex(int Value);
    int SelCount();
    TListItem *GetItemAt(int X, int Y);
    void UpdateItems(int First, int Last);

    TLVDataEvent OnData;
    TLVSelectItemEvent OnSelectItem;
    TLVEditingEvent OnEditing;
    TLVEditedEvent OnEdited;
    TNotifyEvent OnChange;
    // A click on a column header (columns counted from 0).
    TLVColumnClickEvent OnColumnClick;

    void WndProc(TMessage &Message) override;

protected:
    friend class TListItem;
    void CreateParams(TCreateParams &Params) override;
    void CreateWnd() override;
    void DestroyWnd() override;
    // The item the window asks about (with OwnerData filled by OnData).
    TListItem *ItemForIndex(int Index);
    void InsertWindowItem(int Index);
    void Renumber(int From);
    TViewStyle FViewStyle = vsIcon;
    bool FOwnerData = false;
    bool FReadOnly = false;
    bool FMultiSelect = false;
    bool FRowSelect = false;
    bool FHideSelection = true;
    TImageList *FSmallImages = nullptr;
    TImageList *FLargeImages = nullptr;
    std::vector<TListColumn> FColumns;
    std::vector<std::unique_ptr<TListItem>> FItems;
    int FOwnerDataCount = 0;
    std::unique_ptr<TListItem> FTempItem;
    std::string FTextBuffer;
    int FSavedIndex = -1;
};

// ---------------------------------------------------------------------------------------------
// Tree view

class TTreeView;

class TTreeNode : public TObject {
public:
    DECLARE_CLASS_NAME(TTreeNode)
    TTreeNode(TTreeView &Owner, TTreeNode *Parent) : FOwner(Owner), FParent(Parent) {}
    ~TTreeNode() override;
    const std::string &Text() const { return FText; }
    void SetText(const std::string &Value);
    void *Data() const { return FData; }
    void SetData(void *Value) { FData = Value; }
    int ImageIndex() const { return FImageIndex; }
    void SetImageIndex(int Value);
    int SelectedIndex() const { return FSelectedIndex; }
    void SetSelectedIndex(int Value);
    TTreeNode *Parent() const { return FParent; }
    int Count() const { return static_cast<int>(FChildren.size()); }
    TTreeNode *Item(int Index) const { return FChildren.at(Index).get(); }
    int Index() const;
    int Level() const;
    bool Expanded();
    void SetExpanded(bool Value);
    bool Selected();
    void SetSelected(bool Value);
    HTREEITEM ItemId() const { return FItemId; }
    // Frees the node with its children.
    void Delete();
    void EditText();

private:
    friend class TTreeView;
    // Shows text and images in the window's item.
    void UpdateWindowItem();
    TTreeView &FOwner;
    TTreeNode *FParent;
    std::vector<std::unique_ptr<TTreeNode>> FChildren;
    std::string FText;
    void *FData = nullptr;
    int FImageIndex = -1;
    int FSelectedIndex = -1;
    bool FExpanded = false;
    HTREEITEM FItemId = nullptr;
};

using TTVChangedEvent = TMethod<void(TObject *Sender, TTreeNode *Node)>;
using TTVEditingEvent = TMethod<void(TObject *Sender, TTreeNode *Node, bool &AllowEdit)>;
using TTVEditedEvent = TMethod<void(TObject *Sender, TTreeNode *Node, std::string &S)>;
using TTVExpandingEvent = TMethod<void(TObject *Sender, TTreeNode *Node, bool &AllowExpansion)>;

class TTreeView : public TWinControl {
public:
    DECLARE_CLASS_NAME(TTreeView)
    explicit TTreeView(TComponent *AOwner);
    ~TTreeView() override;
    // A node under Parent (nullptr: a top node), appended.
    TTreeNode *AddChild(TTreeNode *Parent, const std::string &Text);
    int TopCount() const { return static_cast<int>(FRoots.size()); }
    TTreeNode *TopItem(int Index) const { return FRoots.at(Index).get(); }
    void Clear();
    TTreeNode *Selected();
    void SetSelected(TTreeNode *Node);
    TTreeNode *GetNodeAt(int X, int Y);
    TTreeNode *NodeFromId(HTREEITEM Id);
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool Value);
    TImageList *Images() const { return FImages; }
    void SetImages(TImageList *Value);

    TTVChangedEvent OnChange;
    TTVEditingEvent OnEditing;
    TTVEditedEvent OnEdited;
    TTVExpandingEvent OnExpanding;

    void WndProc(TMessage &Message) override;

protected:
    friend class TTreeNode;
    void CreateParams(TCreateParams &Params) override;
    void CreateWnd() override;
    void DestroyWnd() override;
    void InsertWindowNode(TTreeNode *Node);
    void RemoveNode(TTreeNode *Node);
    std::vector<std::unique_ptr<TTreeNode>> FRoots;
    bool FReadOnly = false;
    TImageList *FImages = nullptr;
    TTreeNode *FSavedSelected = nullptr;
    bool FClearing = false;
};

// ---------------------------------------------------------------------------------------------
// Page control

class TPageControl;

class TTabSheet : public TWinControl {
public:
    DECLARE_CLASS_NAME(TTabSheet)
    explicit TTabSheet(TComponent *AOwner);
    ~TTabSheet() override;
    TPageControl *PageControl() const { return FPageControl; }
    void SetPageControl(TPageControl *Value);
    int PageIndex() const;

protected:
    void CreateParams(TCreateParams &Params) override;
    friend class TPageControl;
    TPageControl *FPageControl = nullptr;
};

using TTabChangingEvent = TMethod<void(TObject *Sender, bool &AllowChange)>;

class TPageControl : public TWinControl {
public:
    DECLARE_CLASS_NAME(TPageControl)
    explicit TPageControl(TComponent *AOwner);
    ~TPageControl() override;
    int PageCount() const { return static_cast<int>(FPages.size()); }
    TTabSheet *Pages(int Index) const { return FPages.at(Index); }
    TTabSheet *ActivePage() const { return FActivePage; }
    void SetActivePage(TTabSheet *Value);
    int ActivePageIndex() const;
    void SetActivePageIndex(int Value);

    TNotifyEvent OnChange;
    TTabChangingEvent OnChanging;

    void WndProc(TMessage &Message) override;

protected:
    friend class TTabSheet;
    void CreateParams(TCreateParams &Params) override;
    void CreateWnd() override;
    RECT DisplayRect() override;
    virtual bool CanChange();
    virtual void Change();
    void InsertPage(TTabSheet *Page);
    void RemovePage(TTabSheet *Page);
    void UpdateTabs();
    std::vector<TTabSheet *> FPages;
    TTabSheet *FActivePage = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Rich edit (plain text use: the text editor's control)

class TRichEdit : public TCustomMemo {
public:
    DECLARE_CLASS_NAME(TRichEdit)
    explicit TRichEdit(TComponent *AOwner);
    TNotifyEvent OnSelectionChange;
    // The text as the control holds it: lines separated by a single CR, so that offsets into it
    // are the control's character positions (the window text reads CR LF).
    std::string PlainText();
    void GetSelection(int &Start, int &Length);
    void SetSelection(int Start, int Length);
    // Tab stops of the whole text, in points; the selection is kept.
    void SetTabStops(const std::vector<int> &Points);
    std::vector<int> TabStops();
    int FirstVisibleLine();
    // Scrolls by whole lines (negative: up).
    void ScrollLines(int Lines);
    void SetTextLimit(int Characters);
    void WndProc(TMessage &Message) override;

protected:
    void CreateParams(TCreateParams &Params) override;
    void CreateWnd() override;
};

// ---------------------------------------------------------------------------------------------
// Up-down

enum TUDBtnType { btNext, btPrev };
enum TUDOrientation { udHorizontal, udVertical };
using TUDClickEvent = TMethod<void(TObject *Sender, TUDBtnType Button)>;
using TUDChangingEvent = TMethod<void(TObject *Sender, bool &AllowChange)>;

class TUpDown : public TWinControl {
public:
    DECLARE_CLASS_NAME(TUpDown)
    explicit TUpDown(TComponent *AOwner);
    TWinControl *Associate() const { return FAssociate; }
    void SetAssociate(TWinControl *Value);
    int Min() const { return FMin; }
    void SetMin(int Value);
    int Max() const { return FMax; }
    void SetMax(int Value);
    int Position();
    void SetPosition(int Value);
    int Increment() const { return FIncrement; }
    void SetIncrement(int Value);
    bool Wrap() const { return FWrap; }
    void SetWrap(bool Value);
    TUDOrientation Orientation() const { return FOrientation; }
    void SetOrientation(TUDOrientation Value);

    TUDClickEvent OnClick;
    TUDChangingEvent OnChanging;

    void WndProc(TMessage &Message) override;

protected:
    void Notification(TComponent *AComponent, TOperation Operation) override;
    void CreateParams(TCreateParams &Params) override;
    void CreateWnd() override;
    TWinControl *FAssociate = nullptr;
    int FMin = 0, FMax = 100, FPosition = 0, FIncrement = 1;
    bool FWrap = false;
    TUDOrientation FOrientation = udVertical;
};
