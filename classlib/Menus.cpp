// Menu items, menus and shortcut texts.
#include "Menus.h"

#include <algorithm>
#include <cstring>

#include "Forms.h"

// =============================================================================================
// Shortcuts

TShortCut ShortCut(WORD Key, TShiftState Shift) {
    if (Key & 0xFF00)
        return scNone;
    TShortCut result = Key;
    if (Shift & ssShift)
        result |= scShift;
    if (Shift & ssCtrl)
        result |= scCtrl;
    if (Shift & ssAlt)
        result |= scAlt;
    return result;
}

void ShortCutToKey(TShortCut Value, WORD &Key, TShiftState &Shift) {
    Key = Value & 0xFF;
    Shift = 0;
    if (Value & scShift)
        Shift |= ssShift;
    if (Value & scCtrl)
        Shift |= ssCtrl;
    if (Value & scAlt)
        Shift |= ssAlt;
}

namespace {

struct TKeyName {
    WORD Key;
    const char *Name;
};

const TKeyName KeyNames[] = {
    {VK_BACK, "BkSp"},      {VK_TAB, "Tab"},        {VK_RETURN, "Enter"}, {VK_ESCAPE, "Esc"},
    {VK_SPACE, "Space"},    {VK_PRIOR, "PgUp"},     {VK_NEXT, "PgDn"},    {VK_END, "End"},
    {VK_HOME, "Home"},      {VK_LEFT, "Left"},      {VK_UP, "Up"},        {VK_RIGHT, "Right"},
    {VK_DOWN, "Down"},      {VK_INSERT, "Ins"},     {VK_DELETE, "Del"},   {VK_ADD, "Num +"},
    {VK_SUBTRACT, "Num -"}, {VK_MULTIPLY, "Num *"}, {VK_DIVIDE, "Num /"}, {VK_OEM_PLUS, "="},
    {VK_OEM_MINUS, "-"},    {VK_OEM_COMMA, ","},    {VK_OEM_PERIOD, "."}, {VK_OEM_4, "["},
    {VK_OEM_6, "]"},
};

std::string KeyText(WORD Key) {
    if ((Key >= '0' && Key <= '9') || (Key >= 'A' && Key <= 'Z'))
        return std::string(1, static_cast<char>(Key));
    if (Key >= VK_F1 && Key <= VK_F24)
        return "F" + IntToStr(Key - VK_F1 + 1);
    if (Key >= VK_NUMPAD0 && Key <= VK_NUMPAD9)
        return "Num " + IntToStr(Key - VK_NUMPAD0);
    for (const TKeyName &name : KeyNames)
        if (name.Key == Key)
            return name.Name;
    return "";
}

} // namespace

std::string ShortCutToText(TShortCut Value) {
    std::string key = KeyText(Value & 0xFF);
    if (key.empty())
        return "";
    std::string result;
    if (Value & scCtrl)
        result += "Ctrl+";
    if (Value & scShift)
        result += "Shift+";
    if (Value & scAlt)
        result += "Alt+";
    return result + key;
}

TShortCut TextToShortCut(const std::string &Text) {
    std::string rest = Text;
    TShortCut shift = 0;
    for (;;) {
        if (rest.size() > 5 && SameText(rest.substr(0, 5), "Ctrl+")) {
            shift |= scCtrl;
            rest = rest.substr(5);
        } else if (rest.size() > 6 && SameText(rest.substr(0, 6), "Shift+")) {
            shift |= scShift;
            rest = rest.substr(6);
        } else if (rest.size() > 4 && SameText(rest.substr(0, 4), "Alt+")) {
            shift |= scAlt;
            rest = rest.substr(4);
        } else {
            break;
        }
    }
    for (int key = 1; key < 256; ++key) {
        std::string name = KeyText(static_cast<WORD>(key));
        if (!name.empty() && SameText(name, rest))
            return static_cast<TShortCut>(key | shift);
    }
    return scNone;
}

// =============================================================================================
// TMenuItem

namespace {
UINT NextCommand = 100;
}

TMenuItem::TMenuItem(TComponent *AOwner) : TComponent(AOwner), FCommand(NextCommand++) {
    if (NextCommand >= 0xF000)
        NextCommand = 100; // below the system commands
}

TMenuItem::~TMenuItem() {
    SetDestroying();
    Clear();
    if (FParent)
        FParent->Remove(this);
}

void TMenuItem::Add(TMenuItem *Item) {
    Insert(Count(), Item);
}

void TMenuItem::Insert(int Index, TMenuItem *Item) {
    if (Item->FParent)
        Item->FParent->Remove(Item);
    if (Item->Owner())
        Item->ChangeOwner(nullptr); // the parent item frees it
    Index = std::clamp(Index, 0, Count());
    FItems.insert(FItems.begin() + Index, Item);
    Item->FParent = this;
    Changed();
}

void TMenuItem::Remove(TMenuItem *Item) {
    auto found = std::find(FItems.begin(), FItems.end(), Item);
    if (found == FItems.end())
        return;
    FItems.erase(found);
    Item->FParent = nullptr;
    Changed();
}

void TMenuItem::Clear() {
    while (!FItems.empty()) {
        TMenuItem *item = FItems.back();
        FItems.pop_back();
        item->FParent = nullptr;
        delete item;
    }
    Changed();
}

int TMenuItem::IndexOf(const TMenuItem *Item) const {
    auto found = std::find(FItems.begin(), FItems.end(), Item);
    return found == FItems.end() ? -1 : static_cast<int>(found - FItems.begin());
}

TMenu *TMenuItem::Menu() const {
    const TMenuItem *item = this;
    while (item->FParent)
        item = item->FParent;
    return item->FMenu;
}

void TMenuItem::Changed() {
    if (Destroying())
        return;
    if (TMenu *menu = Menu())
        if (!menu->Destroying())
            menu->MenuChanged();
}

void TMenuItem::SetCaption(const std::string &Value) {
    if (Value != FCaption) {
        FCaption = Value;
        Changed();
    }
}

void TMenuItem::SetImage(HBITMAP Value) {
    if (Value != FImage) {
        FImage = Value;
        Changed();
    }
}

void TMenuItem::SetShortCut(TShortCut Value) {
    if (Value != FShortCut) {
        FShortCut = Value;
        Changed();
    }
}

void TMenuItem::SetChecked(bool Value) {
    if (Value == FChecked)
        return;
    FChecked = Value;
    if (Value && FRadioItem && FParent)
        for (TMenuItem *sibling : FParent->FItems)
            if (sibling != this && sibling->FRadioItem && sibling->FGroupIndex == FGroupIndex)
                sibling->FChecked = false;
    Changed();
}

void TMenuItem::SetEnabled(bool Value) {
    if (Value != FEnabled) {
        FEnabled = Value;
        Changed();
    }
}

void TMenuItem::SetVisible(bool Value) {
    if (Value != FVisible) {
        FVisible = Value;
        Changed();
    }
}

void TMenuItem::SetRadioItem(bool Value) {
    if (Value != FRadioItem) {
        FRadioItem = Value;
        Changed();
    }
}

void TMenuItem::SetDefault(bool Value) {
    if (Value != FDefault) {
        FDefault = Value;
        Changed();
    }
}

void TMenuItem::Click() {
    if (!FEnabled || Destroying())
        return;
    if (FAutoCheck)
        SetChecked(FRadioItem ? true : !FChecked);
    OnClick(this);
}

TMenuItem *TMenuItem::FindCommand(UINT Command) {
    if (Command == FCommand && FParent)
        return this;
    for (TMenuItem *item : FItems)
        if (TMenuItem *found = item->FindCommand(Command))
            return found;
    return nullptr;
}

TMenuItem *TMenuItem::FindShortCut(TShortCut Value) {
    if (!FVisible || !FEnabled)
        return nullptr;
    if (FParent && FShortCut == Value && Value != scNone)
        return this;
    for (TMenuItem *item : FItems)
        if (TMenuItem *found = item->FindShortCut(Value))
            return found;
    return nullptr;
}

void TMenuItem::AppendTo(HMENU Menu) {
    if (!FVisible)
        return;
    if (IsLine()) {
        AppendMenuA(Menu, MF_SEPARATOR, 0, nullptr);
        return;
    }
    std::string text = FCaption;
    std::string keys = ShortCutToText(FShortCut);
    if (!keys.empty())
        text += "\t" + keys;
    MENUITEMINFOA info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_STRING;
    info.fType = FRadioItem ? MFT_RADIOCHECK : MFT_STRING;
    info.fState = (FChecked ? MFS_CHECKED : 0) | (FEnabled ? 0 : MFS_GRAYED) | (FDefault ? MFS_DEFAULT : 0);
    info.wID = FCommand;
    if (FImage) {
        info.fMask |= MIIM_BITMAP;
        info.hbmpItem = FImage;
    }
    info.dwTypeData = text.data();
    if (!FItems.empty()) {
        HMENU sub = CreatePopupMenu();
        for (TMenuItem *item : FItems)
            item->AppendTo(sub);
        info.fMask |= MIIM_SUBMENU;
        info.hSubMenu = sub;
        FSubHandle = sub;
    }
    InsertMenuItemA(Menu, GetMenuItemCount(Menu), TRUE, &info);
}

// =============================================================================================
// TMenu, TMainMenu, TPopupMenu

TMenu::TMenu(TComponent *AOwner) : TComponent(AOwner), FItems(new TMenuItem(nullptr)) {
    FItems->FMenu = this;
}

TMenu::~TMenu() {
    SetDestroying();
    delete FItems;
    DestroyMenuHandle();
}

void TMenu::DestroyMenuHandle() {
    if (FHandle)
        DestroyMenu(FHandle);
    FHandle = nullptr;
}

void TMenu::MenuChanged() {
    DestroyMenuHandle();
}

HMENU TMenu::Handle() {
    if (!FHandle) {
        FHandle = CreateMenuHandle();
        BuildItems(FHandle);
    }
    return FHandle;
}

void TMenu::BuildItems(HMENU Menu) {
    if (auto *main = dynamic_cast<TMainMenu *>(this)) {
        for (TMenuItem *item : main->BarItems())
            item->AppendTo(Menu);
        return;
    }
    for (TMenuItem *item : FItems->FItems)
        item->AppendTo(Menu);
}

bool TMenu::DispatchCommand(UINT Command) {
    if (auto *main = dynamic_cast<TMainMenu *>(this))
        if (main->FMerged && main->FMerged->DispatchCommand(Command))
            return true;
    TMenuItem *item = FItems->FindCommand(Command);
    if (!item)
        return false;
    item->Click();
    return true;
}

bool TMenu::IsShortCut(WORD Key, TShiftState Shift) {
    TShortCut shortCut = ShortCut(Key, Shift);
    if (shortCut == scNone)
        return false;
    TMenuItem *item = FItems->FindShortCut(shortCut);
    if (!item)
        return false;
    item->Click();
    return true;
}

TMainMenu::~TMainMenu() {
    if (FMergedInto)
        FMergedInto->Merge(nullptr);
    if (FMerged)
        FMerged->FMergedInto = nullptr;
}

void TMainMenu::Merge(TMainMenu *Menu) {
    if (Menu == FMerged)
        return;
    if (FMerged)
        FMerged->FMergedInto = nullptr;
    FMerged = Menu;
    if (Menu) {
        if (Menu->FMergedInto && Menu->FMergedInto != this)
            Menu->FMergedInto->Merge(nullptr);
        Menu->FMergedInto = this;
    }
    MenuChanged();
}

std::vector<TMenuItem *> TMainMenu::BarItems() {
    std::vector<TMenuItem *> items;
    const std::vector<TMenuItem *> own = FItems->FItems;
    if (!FMerged) {
        items = own;
        return items;
    }
    const std::vector<TMenuItem *> &merged = FMerged->FItems->FItems;
    auto mergedHasGroup = [&](int group) {
        return std::any_of(merged.begin(), merged.end(),
                           [&](TMenuItem *item) { return item->GroupIndex() == group; });
    };
    for (TMenuItem *item : own)
        if (!mergedHasGroup(item->GroupIndex()))
            items.push_back(item);
    items.insert(items.end(), merged.begin(), merged.end());
    std::stable_sort(items.begin(), items.end(),
                     [](TMenuItem *a, TMenuItem *b) { return a->GroupIndex() < b->GroupIndex(); });
    return items;
}

void TMainMenu::MenuChanged() {
    if (FMergedInto && !FMergedInto->Destroying())
        FMergedInto->MenuChanged();
    // The form's window shows the new menu at once.
    TCustomForm *form = dynamic_cast<TCustomForm *>(Owner());
    bool shown = form && form->HandleAllocated() && GetMenu(form->Handle()) == FHandle && FHandle;
    if (shown)
        SetMenu(form->Handle(), nullptr);
    TMenu::MenuChanged();
    if (shown) {
        SetMenu(form->Handle(), Handle());
        form->UpdateMDIWindowMenu();
        DrawMenuBar(form->Handle());
    }
}

TPopupMenu::TPopupMenu(TComponent *AOwner) : TMenu(AOwner) {}

void TPopupMenu::SetPopupComponent(TComponent *Value) {
    SetComponentReference(this, FPopupComponent, Value);
}

void TPopupMenu::Notification(TComponent *AComponent, TOperation Operation) {
    TMenu::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FPopupComponent)
        FPopupComponent = nullptr;
}

void TPopupMenu::Popup(int X, int Y) {
    FPopupPoint = {X, Y};
    OnPopup(this);
    if (Destroying())
        return;
    // Built afresh, so that changes made by OnPopup show.
    MenuChanged();
    static const UINT alignments[] = {TPM_LEFTALIGN, TPM_RIGHTALIGN, TPM_CENTERALIGN};
    HWND owner = Application->Handle();
    UINT command = static_cast<UINT>(
        TrackPopupMenuEx(Handle(), alignments[FAlignment] | TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, X,
                         Y, owner, nullptr));
    // Lets the menu's own window go before the item runs.
    PostMessageA(owner, WM_NULL, 0, 0);
    if (command)
        DispatchCommand(command);
}
