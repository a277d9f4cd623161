// Status bar, list view, tree view, page control, rich edit and up-down.
#include "ComCtrls.h"

#include <richedit.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>

#include "Forms.h"

// =============================================================================================
// TStatusBar

TStatusBar::TStatusBar(TComponent *AOwner) : TWinControl(AOwner), FCanvas(std::make_unique<TCanvas>()) {
    FAlign = alBottom;
    FHeight = 19;
    FWidth = 200;
    FColor = clBtnFace;
    FBrush->SetColor(FColor);
    FControlStyle &= ~csSetCaption;
}

void TStatusBar::CreateParams(TCreateParams &Params) {
    TWinControl::CreateParams(Params);
    Params.SystemClassName = STATUSCLASSNAMEA;
    Params.Style |= CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NOMOVEY | (FSizeGrip ? SBARS_SIZEGRIP : 0);
}

void TStatusBar::CreateWnd() {
    TWinControl::CreateWnd();
    UpdatePanels();
}

int TStatusBar::AddPanel(const std::string &Text, int Width, TStatusPanelStyle Style) {
    TStatusPanel panel;
    panel.Text = Text;
    panel.Width = Width;
    panel.Style = Style;
    FPanels.push_back(panel);
    UpdatePanels();
    return PanelCount() - 1;
}

void TStatusBar::DeletePanel(int Index) {
    if (Index < 0 || Index >= PanelCount())
        RaiseListIndexError(Index);
    FPanels.erase(FPanels.begin() + Index);
    UpdatePanels();
}

void TStatusBar::ClearPanels() {
    FPanels.clear();
    UpdatePanels();
}

void TStatusBar::EndUpdate() {
    if (FUpdateCount > 0 && --FUpdateCount == 0)
        UpdatePanels();
}

void TStatusBar::UpdatePanels() {
    if (!FHandle || FUpdateCount > 0)
        return;
    if (FSimplePanel || FPanels.empty()) {
        SendMessageA(FHandle, SB_SIMPLE, TRUE, 0);
        SendMessageA(FHandle, SB_SETTEXTA, 255 | SBT_NOBORDERS,
                     reinterpret_cast<LPARAM>(FSimpleText.c_str()));
        return;
    }
    SendMessageA(FHandle, SB_SIMPLE, FALSE, 0);
    std::vector<int> edges;
    int right = 0;
    for (size_t i = 0; i < FPanels.size(); ++i) {
        right += FPanels[i].Width;
        edges.push_back(i + 1 == FPanels.size() ? -1 : right);
    }
    SendMessageA(FHandle, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
    for (size_t i = 0; i < FPanels.size(); ++i) {
        const TStatusPanel &panel = FPanels[i];
        const WPARAM flags = i | (panel.Bevel ? 0 : SBT_NOBORDERS);
        if (panel.Style == psOwnerDraw) {
            SendMessageA(FHandle, SB_SETTEXTA, flags | SBT_OWNERDRAW, static_cast<LPARAM>(i));
        } else {
            std::string text = panel.Alignment == taCenter         ? "\t" + panel.Text
                               : panel.Alignment == taRightJustify ? "\t\t" + panel.Text
                                                                   : panel.Text;
            SendMessageA(FHandle, SB_SETTEXTA, flags, reinterpret_cast<LPARAM>(text.c_str()));
        }
    }
}

void TStatusBar::SetPanelText(int Index, const std::string &Text) {
    Panels(Index).Text = Text;
    UpdatePanels();
}

RECT TStatusBar::PanelRect(int Index) {
    RECT r = {0, 0, 0, 0};
    if (FHandle)
        SendMessageA(FHandle, SB_GETRECT, Index, reinterpret_cast<LPARAM>(&r));
    return r;
}

void TStatusBar::InvalidatePanel(int Index, const RECT &Area) {
    if (FHandle && Index >= 0 && Index < PanelCount())
        InvalidateRect(FHandle, &Area, FALSE);
}

void TStatusBar::SetSimplePanel(bool Value) {
    if (Value != FSimplePanel) {
        FSimplePanel = Value;
        UpdatePanels();
    }
}

void TStatusBar::SetSimpleText(const std::string &Value) {
    FSimpleText = Value;
    UpdatePanels();
}

void TStatusBar::SetSizeGrip(bool Value) {
    RecreateOnChange(FSizeGrip, Value);
}

void TStatusBar::DrawPanel(int Panel, RECT Rect) {
    if (OnDrawPanel.Assigned())
        OnDrawPanel(this, Panel, Rect);
    else
        FCanvas->FillRect(Rect);
}

void TStatusBar::WndProc(TMessage &Message) {
    if (Message.Msg == CN_DRAWITEM) {
        auto *item = reinterpret_cast<DRAWITEMSTRUCT *>(Message.LParam);
        DrawOwnerItem(*FCanvas, *FFont, FColor, *item, false,
                      [&] { DrawPanel(static_cast<int>(item->itemID), item->rcItem); });
        Message.Result = 1;
        return;
    }
    TWinControl::WndProc(Message);
}

// =============================================================================================
// TListItem, TListView

void TListItem::SetCaption(const std::string &Value) {
    FCaption = Value;
    FOwner.UpdateItems(FIndex, FIndex);
}

void TListItem::SetImageIndex(int Value) {
    FImageIndex = Value;
    FOwner.UpdateItems(FIndex, FIndex);
}

bool TListItem::Selected() {
    return FOwner.HandleAllocated() && ListView_GetItemState(FOwner.Handle(), FIndex, LVIS_SELECTED) != 0;
}

void TListItem::SetSelected(bool Value) {
    ListView_SetItemState(FOwner.Handle(), FIndex, Value ? LVIS_SELECTED : 0, LVIS_SELECTED);
}

bool TListItem::Focused() {
    return FOwner.HandleAllocated() && ListView_GetItemState(FOwner.Handle(), FIndex, LVIS_FOCUSED) != 0;
}

void TListItem::SetFocused(bool Value) {
    ListView_SetItemState(FOwner.Handle(), FIndex, Value ? LVIS_FOCUSED : 0, LVIS_FOCUSED);
}

void TListItem::EditCaption() {
    FOwner.SetFocus();
    SendMessageA(FOwner.Handle(), LVM_EDITLABELA, FIndex, 0);
}

TListView::TListView(TComponent *AOwner) : TWinControl(AOwner) {
    FWidth = 250;
    FHeight = 150;
    UseInputStyle();
}

TListView::~TListView() {
    SetDestroying();
    DestroyHandle();
}

void TListView::CreateParams(TCreateParams &Params) {
    TWinControl::CreateParams(Params);
    Params.SystemClassName = WC_LISTVIEWA;
    static const DWORD views[] = {LVS_ICON, LVS_SMALLICON, LVS_LIST, LVS_REPORT};
    Params.Style |= views[FViewStyle] | LVS_SHAREIMAGELISTS | (FOwnerData ? LVS_OWNERDATA : 0) |
                    (FReadOnly ? 0 : LVS_EDITLABELS) | (FMultiSelect ? 0 : LVS_SINGLESEL) |
                    (FHideSelection ? 0 : LVS_SHOWSELALWAYS);
    Params.ExStyle |= WS_EX_CLIENTEDGE;
}

void TListView::CreateWnd() {
    TWinControl::CreateWnd();
    if (FRowSelect)
        ListView_SetExtendedListViewStyleEx(FHandle, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    if (FSmallImages)
        ListView_SetImageList(FHandle, FSmallImages->Handle(), LVSIL_SMALL);
    if (FLargeImages)
        ListView_SetImageList(FHandle, FLargeImages->Handle(), LVSIL_NORMAL);
    ListView_SetBkColor(FHandle, ColorToRGB(FColor));
    ListView_SetTextBkColor(FHandle, ColorToRGB(FColor));
    UpdateColumns();
    if (FOwnerData) {
        ListView_SetItemCountEx(FHandle, FOwnerDataCount, LVSICF_NOINVALIDATEALL);
    } else {
        for (size_t i = 0; i < FItems.size(); ++i)
            InsertWindowItem(static_cast<int>(i));
    }
    if (FSavedIndex >= 0 && FSavedIndex < ItemCount())
        SetItemIndex(FSavedIndex);
}

void TListView::DestroyWnd() {
    FSavedIndex = ItemIndex();
    TWinControl::DestroyWnd();
}

void TListView::InsertWindowItem(int Index) {
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = Index;
    item.pszText = LPSTR_TEXTCALLBACKA;
    item.iImage = I_IMAGECALLBACK;
    item.lParam = reinterpret_cast<LPARAM>(FItems[Index].get());
    SendMessageA(FHandle, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

void TListView::SetViewStyle(TViewStyle Value) {
    RecreateOnChange(FViewStyle, Value);
}

void TListView::SetOwnerData(bool Value) {
    if (Value != FOwnerData) {
        FItems.clear();
        FOwnerDataCount = 0;
        FOwnerData = Value;
        RecreateWnd();
    }
}

void TListView::SetReadOnly(bool Value) {
    RecreateOnChange(FReadOnly, Value);
}

void TListView::SetMultiSelect(bool Value) {
    RecreateOnChange(FMultiSelect, Value);
}

void TListView::SetRowSelect(bool Value) {
    FRowSelect = Value;
    if (FHandle)
        ListView_SetExtendedListViewStyleEx(FHandle, LVS_EX_FULLROWSELECT, Value ? LVS_EX_FULLROWSELECT : 0);
}

void TListView::SetHideSelection(bool Value) {
    RecreateOnChange(FHideSelection, Value);
}

void TListView::SetSmallImages(TImageList *Value) {
    FSmallImages = Value;
    if (FHandle)
        ListView_SetImageList(FHandle, Value ? Value->Handle() : nullptr, LVSIL_SMALL);
}

void TListView::SetLargeImages(TImageList *Value) {
    FLargeImages = Value;
    if (FHandle)
        ListView_SetImageList(FHandle, Value ? Value->Handle() : nullptr, LVSIL_NORMAL);
}

int TListView::AddColumn(const std::string &Caption, int Width) {
    TListColumn column;
    column.Caption = Caption;
    column.Width = Width;
    FColumns.push_back(column);
    UpdateColumns();
    return ColumnCount() - 1;
}

void TListView::UpdateColumns() {
    if (!FHandle)
        return;
    HWND header = ListView_GetHeader(FHandle);
    int existing = header ? Header_GetItemCount(header) : 0;
    static const int formats[] = {LVCFMT_LEFT, LVCFMT_RIGHT, LVCFMT_CENTER};
    for (int i = 0; i < ColumnCount(); ++i) {
        TListColumn &c = FColumns[i];
        LVCOLUMNA column = {};
        // A column without an image must not name one: -1 is the callback value to the header,
        // which then shows the list's first small image.
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | (c.ImageIndex >= 0 ? LVCF_IMAGE : 0);
        column.fmt = formats[c.Alignment] | (c.ImageIndex >= 0 ? LVCFMT_IMAGE : 0);
        column.cx = c.Width;
        column.pszText = c.Caption.data();
        column.iImage = c.ImageIndex;
        // Through the control's own handling, which descendants may adjust.
        Perform(i < existing ? LVM_SETCOLUMNA : LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
    }
    for (int i = existing - 1; i >= ColumnCount(); --i)
        ListView_DeleteColumn(FHandle, i);
}

int TListView::ItemCount() {
    return FOwnerData ? FOwnerDataCount : static_cast<int>(FItems.size());
}

void TListView::SetItemCount(int Value) {
    FOwnerDataCount = std::max(0, Value);
    if (FHandle && FOwnerData)
        ListView_SetItemCountEx(FHandle, FOwnerDataCount, LVSICF_NOSCROLL);
}

TListItem *TListView::AddItem() {
    if (FOwnerData)
        throw Exception("Items of an owner-data list view come from OnData");
    auto item = std::make_unique<TListItem>(*this);
    item->FIndex = static_cast<int>(FItems.size());
    FItems.push_back(std::move(item));
    if (FHandle)
        InsertWindowItem(static_cast<int>(FItems.size()) - 1);
    return FItems.back().get();
}

TListItem *TListView::Items(int Index) {
    if (Index < 0 || Index >= ItemCount())
        RaiseListIndexError(Index);
    return ItemForIndex(Index);
}

void TListView::Renumber(int From) {
    for (size_t i = From; i < FItems.size(); ++i)
        FItems[i]->FIndex = static_cast<int>(i);
}

void TListView::DeleteItem(int Index) {
    if (FOwnerData || Index < 0 || Index >= static_cast<int>(FItems.size()))
        RaiseListIndexError(Index);
    if (FHandle)
        ListView_DeleteItem(FHandle, Index);
    FItems.erase(FItems.begin() + Index);
    Renumber(Index);
}

void TListView::ClearItems() {
    if (FHandle)
        ListView_DeleteAllItems(FHandle);
    FItems.clear();
    FOwnerDataCount = 0;
}

void TListView::BeginUpdate() {
    if (FHandle)
        SendMessageA(FHandle, WM_SETREDRAW, FALSE, 0);
}

void TListView::EndUpdate() {
    if (FHandle) {
        SendMessageA(FHandle, WM_SETREDRAW, TRUE, 0);
        Invalidate();
    }
}

TListItem *TListView::ItemForIndex(int Index) {
    if (!FOwnerData)
        return Index >= 0 && Index < static_cast<int>(FItems.size()) ? FItems[Index].get() : nullptr;
    if (!FTempItem)
        FTempItem = std::make_unique<TListItem>(*this);
    FTempItem->FCaption.clear();
    FTempItem->FSubItems.Clear();
    FTempItem->FImageIndex = -1;
    FTempItem->FData = nullptr;
    FTempItem->FIndex = Index;
    OnData(this, FTempItem.get());
    return FTempItem.get();
}

int TListView::ItemIndex() {
    if (!FHandle)
        return FSavedIndex;
    return ListView_GetNextItem(FHandle, -1, LVNI_SELECTED);
}

void TListView::SetItemIndex(int Value) {
    FSavedIndex = Value;
    if (!FHandle)
        return;
    ListView_SetItemState(FHandle, -1, 0, LVIS_SELECTED);
    if (Value >= 0)
        ListView_SetItemState(FHandle, Value, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

TListItem *TListView::Selected() {
    int index = ItemIndex();
    return index >= 0 ? ItemForIndex(index) : nullptr;
}

int TListView::SelCount() {
    return FHandle ? ListView_GetSelectedCount(FHandle) : 0;
}

TListItem *TListView::GetItemAt(int X, int Y) {
    LVHITTESTINFO info = {};
    info.pt = {X, Y};
    int index = ListView_HitTest(Handle(), &info);
    return index >= 0 ? ItemForIndex(index) : nullptr;
}

void TListView::UpdateItems(int First, int Last) {
    if (FHandle)
        ListView_RedrawItems(FHandle, First, Last);
}

void TListView::WndProc(TMessage &Message) {
    if (Message.Msg != CN_NOTIFY) {
        TWinControl::WndProc(Message);
        return;
    }
    auto *header = reinterpret_cast<NMHDR *>(Message.LParam);
    switch (header->code) {
    case LVN_GETDISPINFOA: {
        auto *info = reinterpret_cast<NMLVDISPINFOA *>(Message.LParam);
        TListItem *item = ItemForIndex(info->item.iItem);
        if (!item)
            return;
        if (info->item.mask & LVIF_TEXT) {
            int sub = info->item.iSubItem;
            FTextBuffer = sub == 0 ? item->FCaption
                                   : (sub - 1 < item->FSubItems.Count() ? item->FSubItems[sub - 1] : "");
            if (info->item.pszText && info->item.cchTextMax > 0) {
                size_t length = std::min<size_t>(FTextBuffer.size(), info->item.cchTextMax - 1);
                std::memcpy(info->item.pszText, FTextBuffer.data(), length);
                info->item.pszText[length] = '\0';
            }
        }
        if (info->item.mask & LVIF_IMAGE)
            info->item.iImage = item->FImageIndex;
        return;
    }
    case LVN_ITEMCHANGED: {
        auto *change = reinterpret_cast<NMLISTVIEW *>(Message.LParam);
        if ((change->uChanged & LVIF_STATE) && ((change->uOldState ^ change->uNewState) & LVIS_SELECTED) &&
            !Destroying()) {
            TListItem *item = change->iItem >= 0 ? ItemForIndex(change->iItem) : nullptr;
            OnSelectItem(this, item, (change->uNewState & LVIS_SELECTED) != 0);
        }
        if (!Destroying())
            OnChange(this);
        return;
    }
    case LVN_BEGINLABELEDITA: {
        auto *info = reinterpret_cast<NMLVDISPINFOA *>(Message.LParam);
        bool allow = !FReadOnly;
        OnEditing(this, ItemForIndex(info->item.iItem), allow);
        Message.Result = allow ? 0 : 1;
        return;
    }
    case LVN_ENDLABELEDITA: {
        auto *info = reinterpret_cast<NMLVDISPINFOA *>(Message.LParam);
        if (!info->item.pszText)
            return;
        TListItem *item = ItemForIndex(info->item.iItem);
        std::string text = info->item.pszText;
        OnEdited(this, item, text);
        if (item && !FOwnerData)
            item->FCaption = text;
        Message.Result = 0; // the caption lives in the item, the window asks again
        UpdateItems(info->item.iItem, info->item.iItem);
        return;
    }
    case NM_DBLCLK:
        DblClick();
        return;
    case LVN_COLUMNCLICK:
        if (!Destroying())
            OnColumnClick(this, reinterpret_cast<NMLISTVIEW *>(Message.LParam)->iSubItem);
        return;
    default:
        break;
    }
    TWinControl::WndProc(Message);
}

// =============================================================================================
// TTreeNode, TTreeView

TTreeNode::~TTreeNode() = default;

void TTreeNode::UpdateWindowItem() {
    if (!FItemId || !FOwner.HandleAllocated())
        return;
    TVITEMA item = {};
    item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    item.hItem = FItemId;
    item.pszText = FText.data();
    item.iImage = FImageIndex;
    item.iSelectedImage = FSelectedIndex;
    SendMessageA(FOwner.Handle(), TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

void TTreeNode::SetText(const std::string &Value) {
    FText = Value;
    UpdateWindowItem();
}

void TTreeNode::SetImageIndex(int Value) {
    FImageIndex = Value;
    UpdateWindowItem();
}

void TTreeNode::SetSelectedIndex(int Value) {
    FSelectedIndex = Value;
    UpdateWindowItem();
}

int TTreeNode::Index() const {
    const auto &list = FParent ? FParent->FChildren : FOwner.FRoots;
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].get() == this)
            return static_cast<int>(i);
    return -1;
}

int TTreeNode::Level() const {
    int level = 0;
    for (TTreeNode *node = FParent; node; node = node->FParent)
        ++level;
    return level;
}

bool TTreeNode::Expanded() {
    if (FItemId && FOwner.HandleAllocated())
        FExpanded = (TreeView_GetItemState(FOwner.Handle(), FItemId, TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
    return FExpanded;
}

void TTreeNode::SetExpanded(bool Value) {
    FExpanded = Value;
    if (FItemId && FOwner.HandleAllocated())
        TreeView_Expand(FOwner.Handle(), FItemId, Value ? TVE_EXPAND : TVE_COLLAPSE);
}

bool TTreeNode::Selected() {
    return FOwner.Selected() == this;
}

void TTreeNode::SetSelected(bool Value) {
    FOwner.SetSelected(Value ? this : nullptr);
}

void TTreeNode::Delete() {
    FOwner.RemoveNode(this);
}

void TTreeNode::EditText() {
    if (FItemId)
        TreeView_EditLabel(FOwner.Handle(), FItemId);
}

TTreeView::TTreeView(TComponent *AOwner) : TWinControl(AOwner) {
    FWidth = 121;
    FHeight = 97;
    UseInputStyle();
}

TTreeView::~TTreeView() {
    SetDestroying();
    DestroyHandle();
    FRoots.clear();
}

void TTreeView::CreateParams(TCreateParams &Params) {
    TWinControl::CreateParams(Params);
    Params.SystemClassName = WC_TREEVIEWA;
    Params.Style |= TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS |
                    (FReadOnly ? 0 : TVS_EDITLABELS);
    Params.ExStyle |= WS_EX_CLIENTEDGE;
}

void TTreeView::InsertWindowNode(TTreeNode *Node) {
    TVINSERTSTRUCTA insert = {};
    insert.hParent = Node->FParent ? Node->FParent->FItemId : TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    insert.item.pszText = Node->FText.data();
    insert.item.lParam = reinterpret_cast<LPARAM>(Node);
    insert.item.iImage = Node->FImageIndex;
    insert.item.iSelectedImage = Node->FSelectedIndex;
    Node->FItemId = reinterpret_cast<HTREEITEM>(
        SendMessageA(FHandle, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
    for (auto &child : Node->FChildren)
        InsertWindowNode(child.get());
    if (Node->FExpanded)
        TreeView_Expand(FHandle, Node->FItemId, TVE_EXPAND);
}

void TTreeView::CreateWnd() {
    TWinControl::CreateWnd();
    if (FImages)
        TreeView_SetImageList(FHandle, FImages->Handle(), TVSIL_NORMAL);
    for (auto &root : FRoots)
        InsertWindowNode(root.get());
    if (FSavedSelected && FSavedSelected->FItemId)
        TreeView_SelectItem(FHandle, FSavedSelected->FItemId);
    FSavedSelected = nullptr;
}

void TTreeView::DestroyWnd() {
    // Expansion and selection live in the window: keep them with the nodes.
    FSavedSelected = Selected();
    auto keep = [this](auto &&self, TTreeNode *node) -> void {
        node->Expanded();
        node->FItemId = nullptr;
        for (auto &child : node->FChildren)
            self(self, child.get());
    };
    for (auto &root : FRoots) {
        keep(keep, root.get());
    }
    TWinControl::DestroyWnd();
}

TTreeNode *TTreeView::AddChild(TTreeNode *Parent, const std::string &Text) {
    auto node = std::make_unique<TTreeNode>(*this, Parent);
    node->FText = Text;
    TTreeNode *result = node.get();
    (Parent ? Parent->FChildren : FRoots).push_back(std::move(node));
    if (FHandle && (!Parent || Parent->FItemId))
        InsertWindowNode(result);
    return result;
}

void TTreeView::RemoveNode(TTreeNode *Node) {
    if (FSavedSelected == Node)
        FSavedSelected = nullptr;
    if (Node->FItemId && FHandle)
        TreeView_DeleteItem(FHandle, Node->FItemId);
    auto &list = Node->FParent ? Node->FParent->FChildren : FRoots;
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->get() == Node) {
            std::unique_ptr<TTreeNode> doomed = std::move(*it);
            list.erase(it);
            return;
        }
    }
}

void TTreeView::Clear() {
    FClearing = true;
    if (FHandle)
        TreeView_DeleteAllItems(FHandle);
    FClearing = false;
    FRoots.clear();
    FSavedSelected = nullptr;
}

TTreeNode *TTreeView::NodeFromId(HTREEITEM Id) {
    if (!Id || !FHandle)
        return nullptr;
    TVITEMA item = {};
    item.mask = TVIF_PARAM;
    item.hItem = Id;
    if (!SendMessageA(FHandle, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)))
        return nullptr;
    return reinterpret_cast<TTreeNode *>(item.lParam);
}

TTreeNode *TTreeView::Selected() {
    if (!FHandle)
        return FSavedSelected;
    return NodeFromId(TreeView_GetSelection(FHandle));
}

void TTreeView::SetSelected(TTreeNode *Node) {
    if (!FHandle) {
        FSavedSelected = Node;
        return;
    }
    TreeView_SelectItem(FHandle, Node ? Node->FItemId : nullptr);
}

TTreeNode *TTreeView::GetNodeAt(int X, int Y) {
    TVHITTESTINFO info = {};
    info.pt = {X, Y};
    HTREEITEM id = TreeView_HitTest(Handle(), &info);
    if (!(info.flags & (TVHT_ONITEM | TVHT_ONITEMBUTTON | TVHT_ONITEMINDENT | TVHT_ONITEMRIGHT)))
        return nullptr;
    return NodeFromId(id);
}

void TTreeView::SetReadOnly(bool Value) {
    RecreateOnChange(FReadOnly, Value);
}

void TTreeView::SetImages(TImageList *Value) {
    FImages = Value;
    if (FHandle)
        TreeView_SetImageList(FHandle, Value ? Value->Handle() : nullptr, TVSIL_NORMAL);
}

void TTreeView::WndProc(TMessage &Message) {
    if (Message.Msg != CN_NOTIFY) {
        TWinControl::WndProc(Message);
        return;
    }
    auto *header = reinterpret_cast<NMHDR *>(Message.LParam);
    switch (header->code) {
    case TVN_SELCHANGEDA:
        if (!FClearing && !Destroying())
            OnChange(this, reinterpret_cast<TTreeNode *>(
                               reinterpret_cast<NMTREEVIEWA *>(Message.LParam)->itemNew.lParam));
        return;
    case TVN_ITEMEXPANDINGA: {
        auto *info = reinterpret_cast<NMTREEVIEWA *>(Message.LParam);
        bool allow = true;
        if (info->action & TVE_EXPAND)
            OnExpanding(this, reinterpret_cast<TTreeNode *>(info->itemNew.lParam), allow);
        Message.Result = allow ? 0 : 1;
        return;
    }
    case TVN_BEGINLABELEDITA: {
        auto *info = reinterpret_cast<NMTVDISPINFOA *>(Message.LParam);
        bool allow = !FReadOnly;
        OnEditing(this, reinterpret_cast<TTreeNode *>(info->item.lParam), allow);
        Message.Result = allow ? 0 : 1;
        return;
    }
    case TVN_ENDLABELEDITA: {
        auto *info = reinterpret_cast<NMTVDISPINFOA *>(Message.LParam);
        if (!info->item.pszText)
            return;
        auto *node = reinterpret_cast<TTreeNode *>(info->item.lParam);
        std::string text = info->item.pszText;
        OnEdited(this, node, text);
        if (node)
            node->SetText(text);
        return;
    }
    case NM_DBLCLK:
        DblClick();
        return;
    default:
        break;
    }
    TWinControl::WndProc(Message);
}

// =============================================================================================
// TTabSheet, TPageControl

TTabSheet::TTabSheet(TComponent *AOwner) : TWinControl(AOwner) {
    FControlStyle |= csAcceptsControls | csSetCaption;
    FVisible = false;
    FColor = clBtnFace;
    FBrush->SetColor(FColor);
}

TTabSheet::~TTabSheet() {
    SetDestroying();
    if (FPageControl)
        FPageControl->RemovePage(this);
}

void TTabSheet::CreateParams(TCreateParams &Params) {
    TWinControl::CreateParams(Params);
    Params.Style |= WS_CLIPCHILDREN;
}

int TTabSheet::PageIndex() const {
    if (!FPageControl)
        return -1;
    auto &pages = FPageControl->FPages;
    auto found = std::find(pages.begin(), pages.end(), this);
    return found == pages.end() ? -1 : static_cast<int>(found - pages.begin());
}

void TTabSheet::SetPageControl(TPageControl *Value) {
    if (Value == FPageControl)
        return;
    if (FPageControl)
        FPageControl->RemovePage(this);
    SetParent(Value);
    if (Value)
        Value->InsertPage(this);
}

TPageControl::TPageControl(TComponent *AOwner) : TWinControl(AOwner) {
    FControlStyle |= csAcceptsControls;
    FWidth = 289;
    FHeight = 193;
    FTabStop = true;
    FColor = clBtnFace;
    FBrush->SetColor(FColor);
}

TPageControl::~TPageControl() {
    SetDestroying();
    for (TTabSheet *page : FPages)
        page->FPageControl = nullptr;
    FPages.clear();
}

void TPageControl::CreateParams(TCreateParams &Params) {
    TWinControl::CreateParams(Params);
    Params.SystemClassName = WC_TABCONTROLA;
    Params.Style |= WS_CLIPCHILDREN;
}

void TPageControl::CreateWnd() {
    TWinControl::CreateWnd();
    UpdateTabs();
}

void TPageControl::UpdateTabs() {
    if (!FHandle)
        return;
    TabCtrl_DeleteAllItems(FHandle);
    for (size_t i = 0; i < FPages.size(); ++i) {
        std::string caption = FPages[i]->Text();
        TCITEMA item = {};
        item.mask = TCIF_TEXT;
        item.pszText = caption.data();
        SendMessageA(FHandle, TCM_INSERTITEMA, i, reinterpret_cast<LPARAM>(&item));
    }
    TabCtrl_SetCurSel(FHandle, ActivePageIndex());
    Realign();
}

RECT TPageControl::DisplayRect() {
    RECT r = ClientRect();
    if (FHandle)
        TabCtrl_AdjustRect(FHandle, FALSE, &r);
    return r;
}

void TPageControl::InsertPage(TTabSheet *Page) {
    FPages.push_back(Page);
    Page->FPageControl = this;
    Page->SetAlign(alClient);
    UpdateTabs();
    if (!FActivePage)
        SetActivePage(Page);
}

void TPageControl::RemovePage(TTabSheet *Page) {
    FPages.erase(std::remove(FPages.begin(), FPages.end(), Page), FPages.end());
    Page->FPageControl = nullptr;
    if (FActivePage == Page) {
        FActivePage = nullptr;
        if (!Destroying() && !FPages.empty())
            SetActivePage(FPages.front());
    }
    if (!Destroying())
        UpdateTabs();
}

int TPageControl::ActivePageIndex() const {
    auto found = std::find(FPages.begin(), FPages.end(), FActivePage);
    return found == FPages.end() ? -1 : static_cast<int>(found - FPages.begin());
}

void TPageControl::SetActivePageIndex(int Value) {
    SetActivePage(Value >= 0 && Value < PageCount() ? FPages[Value] : nullptr);
}

void TPageControl::SetActivePage(TTabSheet *Value) {
    if (Value == FActivePage || (Value && Value->FPageControl != this))
        return;
    TTabSheet *old = FActivePage;
    FActivePage = Value;
    if (Value) {
        Value->SetVisible(true);
        Value->BringToFront();
    }
    if (old)
        old->SetVisible(false);
    if (FHandle)
        TabCtrl_SetCurSel(FHandle, ActivePageIndex());
}

bool TPageControl::CanChange() {
    bool allow = true;
    OnChanging(this, allow);
    return allow;
}

void TPageControl::Change() {
    if (!Destroying())
        OnChange(this);
}

void TPageControl::WndProc(TMessage &Message) {
    if (Message.Msg == CN_NOTIFY) {
        auto *header = reinterpret_cast<NMHDR *>(Message.LParam);
        if (header->code == TCN_SELCHANGING) {
            Message.Result = CanChange() ? 0 : 1;
            return;
        }
        if (header->code == TCN_SELCHANGE) {
            SetActivePageIndex(TabCtrl_GetCurSel(FHandle));
            Change();
            return;
        }
    }
    TWinControl::WndProc(Message);
}

// =============================================================================================
// TRichEdit

TRichEdit::TRichEdit(TComponent *AOwner) : TCustomMemo(AOwner) {
    FScrollBars = ssBoth;
    FWordWrap = false;
}

void TRichEdit::CreateParams(TCreateParams &Params) {
    static HMODULE library = nullptr;
    if (!library)
        library = LoadLibraryA("riched20.dll");
    if (!library)
        throw Exception("Rich edit library not found");
    TCustomMemo::CreateParams(Params);
    Params.SystemClassName = RICHEDIT_CLASSA;
    Params.Style |= ES_NOHIDESEL;
}

void TRichEdit::CreateWnd() {
    TCustomMemo::CreateWnd();
    // Plain text: one character and paragraph format for the whole text, and no rich text
    // pasted in. Only an empty control takes the mode, so it is set before anything else.
    const std::string text = FText;
    SendMessageA(FHandle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    SendMessageA(FHandle, EM_SETTEXTMODE, TM_PLAINTEXT | TM_MULTILEVELUNDO | TM_MULTICODEPAGE, 0);
    if (!text.empty())
        SendMessageA(FHandle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageA(FHandle, EM_SETEVENTMASK, 0, ENM_CHANGE | ENM_SELCHANGE);
    SendMessageA(FHandle, EM_EXLIMITTEXT, 0, 0x7FFFFFF0);
}

std::string TRichEdit::PlainText() {
    GETTEXTLENGTHEX length = {GTL_DEFAULT | GTL_NUMBYTES, CP_ACP};
    const LRESULT size = SendMessageA(Handle(), EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0);
    std::string text(static_cast<std::size_t>(std::max<LRESULT>(size, 0)) + 1, '\0');
    GETTEXTEX get = {static_cast<DWORD>(text.size()), GT_DEFAULT, CP_ACP, nullptr, nullptr};
    const LRESULT got = SendMessageA(FHandle, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get),
                                     reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(std::max<LRESULT>(got, 0)));
    return text;
}

void TRichEdit::GetSelection(int &Start, int &Length) {
    CHARRANGE range = {0, 0};
    SendMessageA(Handle(), EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
    Start = range.cpMin;
    Length = range.cpMax - range.cpMin;
}

void TRichEdit::SetSelection(int Start, int Length) {
    CHARRANGE range = {Start, Start + Length};
    SendMessageA(Handle(), EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
}

void TRichEdit::SetTabStops(const std::vector<int> &Points) {
    int start = 0, length = 0;
    GetSelection(start, length);
    PARAFORMAT format = {};
    format.cbSize = sizeof format;
    format.dwMask = PFM_TABSTOPS;
    format.cTabCount = static_cast<SHORT>(std::min<std::size_t>(Points.size(), MAX_TAB_STOPS));
    for (int i = 0; i < format.cTabCount; ++i)
        format.rgxTabs[i] = Points[static_cast<std::size_t>(i)] * 20; // twips
    SendMessageA(FHandle, EM_SETSEL, 0, -1);
    SendMessageA(FHandle, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&format));
    SetSelection(start, length);
}

std::vector<int> TRichEdit::TabStops() {
    PARAFORMAT format = {};
    format.cbSize = sizeof format;
    SendMessageA(Handle(), EM_GETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&format));
    std::vector<int> points;
    for (int i = 0; i < format.cTabCount; ++i)
        points.push_back((format.rgxTabs[i] & 0xFFFFFF) / 20);
    return points;
}

int TRichEdit::FirstVisibleLine() {
    return static_cast<int>(SendMessageA(Handle(), EM_GETFIRSTVISIBLELINE, 0, 0));
}

void TRichEdit::ScrollLines(int Lines) {
    SendMessageA(Handle(), EM_LINESCROLL, 0, Lines);
}

void TRichEdit::SetTextLimit(int Characters) {
    SendMessageA(Handle(), EM_EXLIMITTEXT, 0, Characters);
}

void TRichEdit::WndProc(TMessage &Message) {
    if (Message.Msg == CN_NOTIFY) {
        if (reinterpret_cast<NMHDR *>(Message.LParam)->code == EN_SELCHANGE && !Destroying())
            OnSelectionChange(this);
        return;
    }
    TCustomMemo::WndProc(Message);
}

// =============================================================================================
// TUpDown

TUpDown::TUpDown(TComponent *AOwner) : TWinControl(AOwner) {
    FWidth = 17;
    FHeight = 21;
    FControlStyle &= ~csSetCaption;
}

void TUpDown::CreateParams(TCreateParams &Params) {
    TWinControl::CreateParams(Params);
    Params.SystemClassName = UPDOWN_CLASSA;
    Params.Style |= UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS | (FWrap ? UDS_WRAP : 0) |
                    (FOrientation == udHorizontal ? UDS_HORZ : 0);
}

void TUpDown::CreateWnd() {
    TWinControl::CreateWnd();
    SendMessageA(FHandle, UDM_SETRANGE32, FMin, FMax);
    SendMessageA(FHandle, UDM_SETPOS32, 0, FPosition);
    UDACCEL accel = {0, static_cast<UINT>(FIncrement)};
    SendMessageA(FHandle, UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&accel));
    if (FAssociate)
        SendMessageA(FHandle, UDM_SETBUDDY, reinterpret_cast<WPARAM>(FAssociate->Handle()), 0);
}

void TUpDown::Notification(TComponent *AComponent, TOperation Operation) {
    TWinControl::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FAssociate) {
        FAssociate = nullptr;
        if (FHandle)
            SendMessageA(FHandle, UDM_SETBUDDY, 0, 0);
    }
}

void TUpDown::SetAssociate(TWinControl *Value) {
    SetComponentReference(this, FAssociate, Value);
    if (FHandle)
        SendMessageA(FHandle, UDM_SETBUDDY, Value ? reinterpret_cast<WPARAM>(Value->Handle()) : 0, 0);
}

void TUpDown::SetMin(int Value) {
    FMin = Value;
    if (FHandle)
        SendMessageA(FHandle, UDM_SETRANGE32, FMin, FMax);
}

void TUpDown::SetMax(int Value) {
    FMax = Value;
    if (FHandle)
        SendMessageA(FHandle, UDM_SETRANGE32, FMin, FMax);
}

int TUpDown::Position() {
    if (FHandle)
        FPosition = static_cast<int>(SendMessageA(FHandle, UDM_GETPOS32, 0, 0));
    return FPosition;
}

void TUpDown::SetPosition(int Value) {
    FPosition = std::clamp(Value, std::min(FMin, FMax), std::max(FMin, FMax));
    if (FHandle)
        SendMessageA(FHandle, UDM_SETPOS32, 0, FPosition);
}

void TUpDown::SetIncrement(int Value) {
    FIncrement = Value;
    if (FHandle) {
        UDACCEL accel = {0, static_cast<UINT>(Value)};
        SendMessageA(FHandle, UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&accel));
    }
}

void TUpDown::SetWrap(bool Value) {
    RecreateOnChange(FWrap, Value);
}

void TUpDown::SetOrientation(TUDOrientation Value) {
    RecreateOnChange(FOrientation, Value);
}

void TUpDown::WndProc(TMessage &Message) {
    if (Message.Msg == CN_NOTIFY && reinterpret_cast<NMHDR *>(Message.LParam)->code == UDN_DELTAPOS) {
        bool allow = true;
        OnChanging(this, allow);
        Message.Result = allow ? 0 : 1;
        return;
    }
    if (Message.Msg == CN_VSCROLL || Message.Msg == CN_HSCROLL) {
        if (LOWORD(Message.WParam) == SB_THUMBPOSITION) {
            int old = FPosition;
            int now = Position();
            OnClick(this, now >= old ? btNext : btPrev);
        }
        return;
    }
    TWinControl::WndProc(Message);
}
