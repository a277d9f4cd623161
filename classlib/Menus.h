// Menu items, main menus and popup menus, with shortcut keys and their texts.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "Controls.h"

// A key with shift flags: the virtual key in the low byte.
using TShortCut = uint16_t;
constexpr TShortCut scShift = 0x2000;
constexpr TShortCut scCtrl = 0x4000;
constexpr TShortCut scAlt = 0x8000;
constexpr TShortCut scNone = 0;

TShortCut ShortCut(WORD Key, TShiftState Shift);
void ShortCutToKey(TShortCut ShortCut, WORD &Key, TShiftState &Shift);
// "Ctrl+Shift+E", "F3", "Del", "" for scNone.
std::string ShortCutToText(TShortCut ShortCut);
// The inverse of ShortCutToText (letter case ignored); scNone for a text it does not know.
TShortCut TextToShortCut(const std::string &Text);

class TMenu;

class TMenuItem : public TComponent {
public:
    DECLARE_CLASS_NAME(TMenuItem)
    explicit TMenuItem(TComponent *AOwner);
    // Frees the child items.
    ~TMenuItem() override;

    int Count() const { return static_cast<int>(FItems.size()); }
    TMenuItem *Items(int Index) const { return FItems.at(Index); }
    TMenuItem *operator[](int Index) const { return Items(Index); }
    // The item becomes a child of this one and is freed with it (no longer by its owner).
    void Add(TMenuItem *Item);
    void Insert(int Index, TMenuItem *Item);
    // Takes the item out without freeing it.
    void Remove(TMenuItem *Item);
    void Clear();
    int IndexOf(const TMenuItem *Item) const;
    TMenuItem *Parent() const { return FParent; }
    TMenu *Menu() const;

    const std::string &Caption() const { return FCaption; }
    void SetCaption(const std::string &Value);
    TShortCut ShortCut() const { return FShortCut; }
    void SetShortCut(TShortCut Value);
    bool Checked() const { return FChecked; }
    void SetChecked(bool Value);
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);
    bool Visible() const { return FVisible; }
    void SetVisible(bool Value);
    bool RadioItem() const { return FRadioItem; }
    void SetRadioItem(bool Value);
    bool Default() const { return FDefault; }
    void SetDefault(bool Value);
    int GroupIndex() const { return FGroupIndex; }
    void SetGroupIndex(int Value) { FGroupIndex = Value; }
    const std::string &Hint() const { return FHint; }
    void SetHint(const std::string &Value) { FHint = Value; }
    int HelpContext() const { return FHelpContext; }
    void SetHelpContext(int Value) { FHelpContext = Value; }
    bool IsLine() const { return FCaption == "-"; }
    // The picture beside the caption (a 32-bit bitmap with alpha); the item does not own it.
    HBITMAP Image() const { return FImage; }
    void SetImage(HBITMAP Value);
    UINT Command() const { return FCommand; }
    // The pop-up menu of an item with sub-items, as its menu's handle was built last (menus are
    // built again after every change); nullptr before that.
    HMENU SubMenuHandle() const { return FSubHandle; }

    // Runs OnClick (a checked radio item unchecks the others of its group first when
    // AutoCheck is on).
    virtual void Click();
    bool AutoCheck() const { return FAutoCheck; }
    void SetAutoCheck(bool Value) { FAutoCheck = Value; }

    // The item (this one or below) with the command or shortcut, or nullptr.
    TMenuItem *FindCommand(UINT Command);
    TMenuItem *FindShortCut(TShortCut Value);

    TNotifyEvent OnClick;

private:
    friend class TMenu;
    friend class TMainMenu;
    void Changed();
    void AppendTo(HMENU Menu);
    TMenuItem *FParent = nullptr;
    std::vector<TMenuItem *> FItems;
    std::string FCaption;
    std::string FHint;
    TShortCut FShortCut = 0;
    bool FChecked = false;
    bool FEnabled = true;
    bool FVisible = true;
    bool FRadioItem = false;
    bool FDefault = false;
    bool FAutoCheck = false;
    int FGroupIndex = 0;
    int FHelpContext = 0;
    HBITMAP FImage = nullptr;
    UINT FCommand;
    HMENU FSubHandle = nullptr;
    TMenu *FMenu = nullptr; // set on the root item
};

class TMenu : public TComponent {
public:
    DECLARE_CLASS_NAME(TMenu)
    explicit TMenu(TComponent *AOwner);
    ~TMenu() override;
    TMenuItem &Items() { return *FItems; }
    // The Win32 menu, built on first use and after every change.
    HMENU Handle();
    bool HandleAllocated() const { return FHandle != nullptr; }
    // Runs the item with the command; false when there is none.
    bool DispatchCommand(UINT Command);
    // Runs the enabled visible item with the shortcut of a key message; false when none has it.
    bool IsShortCut(WORD Key, TShiftState Shift);

protected:
    friend class TMenuItem;
    virtual void MenuChanged();
    virtual HMENU CreateMenuHandle() { return CreatePopupMenu(); }
    void DestroyMenuHandle();
    virtual void BuildItems(HMENU Menu);
    TMenuItem *FItems;
    HMENU FHandle = nullptr;
};

class TMainMenu : public TMenu {
public:
    DECLARE_CLASS_NAME(TMainMenu)
    using TMenu::TMenu;
    ~TMainMenu() override;
    // Shows the items of another menu (an MDI child's) in this one: each group index that the
    // other menu uses replaces this menu's items of that index, and the bar is ordered by group
    // index. nullptr shows this menu alone again. Commands of the merged items run through this
    // menu too.
    void Merge(TMainMenu *Menu);
    TMainMenu *Merged() const { return FMerged; }

protected:
    void MenuChanged() override;
    HMENU CreateMenuHandle() override { return CreateMenu(); }
    TMainMenu *FMerged = nullptr;
    TMainMenu *FMergedInto = nullptr;

private:
    friend class TMenu;
    // The top-level items the bar shows, in their order.
    std::vector<TMenuItem *> BarItems();
};

enum TPopupAlignment { paLeft, paRight, paCenter };

class TPopupMenu : public TMenu {
public:
    DECLARE_CLASS_NAME(TPopupMenu)
    explicit TPopupMenu(TComponent *AOwner);
    // Shows the menu at a screen point and runs the chosen item.
    virtual void Popup(int X, int Y);
    TPopupAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TPopupAlignment Value) { FAlignment = Value; }
    bool AutoPopup() const { return FAutoPopup; }
    void SetAutoPopup(bool Value) { FAutoPopup = Value; }
    // The control that showed the menu last.
    TComponent *PopupComponent() const { return FPopupComponent; }
    void SetPopupComponent(TComponent *Value);
    TPoint PopupPoint() const { return FPopupPoint; }

    // Fires before the menu shows.
    TNotifyEvent OnPopup;

protected:
    void Notification(TComponent *AComponent, TOperation Operation) override;

private:
    TPopupAlignment FAlignment = paLeft;
    bool FAutoPopup = true;
    TComponent *FPopupComponent = nullptr;
    TPoint FPopupPoint;
};
