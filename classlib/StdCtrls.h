// Standard controls: edit, memo, combo box, list box, check list box, buttons, group box, label.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "Controls.h"

enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TTextLayout { tlTop, tlCenter, tlBottom };

// Owner-draw item state (ODS_ flags).
using TOwnerDrawState = UINT;
using TDrawItemEvent = TMethod<void(TWinControl *Control, int Index, RECT Rect, TOwnerDrawState State)>;
using TMeasureItemEvent = TMethod<void(TWinControl *Control, int Index, int &Height)>;

// The items of a list or combo box: kept by the control, so they survive its window, and
// mirrored into the window while it exists.
class TControlItems : public TStrings {
public:
    DECLARE_CLASS_NAME(TControlItems)
    TControlItems(TWinControl &Control, UINT InsertMsg, UINT DeleteMsg, UINT ResetMsg);
    int Count() const override { return static_cast<int>(FItems.size()); }
    std::string Strings(int Index) const override;
    void SetStrings(int Index, const std::string &S) override;
    TObject *Objects(int Index) const override;
    void PutObject(int Index, TObject *AObject) override;
    void Insert(int Index, const std::string &S) override;
    void Delete(int Index) override;
    void Clear() override;
    // Puts every item into the control's new window.
    void Fill();

private:
    void CheckIndex(int Index) const;
    struct TItem {
        std::string Text;
        TObject *Object;
    };
    TWinControl &FControl;
    UINT FInsertMsg, FDeleteMsg, FResetMsg;
    std::vector<TItem> FItems;
};

// ---------------------------------------------------------------------------------------------
// Edits

class TCustomEdit : public TWinControl {
public:
    DECLARE_CLASS_NAME(TCustomEdit)
    explicit TCustomEdit(TComponent *AOwner);
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool Value);
    int MaxLength() const { return FMaxLength; }
    void SetMaxLength(int Value);
    char PasswordChar() const { return FPasswordChar; }
    void SetPasswordChar(char Value);
    int SelStart();
    void SetSelStart(int Value);
    int SelLength();
    void SetSelLength(int Value);
    std::string SelText();
    void SetSelText(const std::string &Value);
    void SelectAll();
    bool Modified();
    void SetModified(bool Value);
    bool CanUndo();
    void Undo();
    void ClearSelection();
    void CopyToClipboard();
    void CutToClipboard();
    void PasteFromClipboard();
    void Clear() { SetText(""); }

    TNotifyEvent OnChange;

    void WndProc(TMessage &Message) override;

protected:
    void CreateParams(TCreateParams &Params) override;
    void CreateWnd() override;
    virtual void Change();

    bool FReadOnly = false;
    int FMaxLength = 0;
    char FPasswordChar = 0;
    bool FCreating = false;
};

class TEdit : public TCustomEdit {
public:
    DECLARE_CLASS_NAME(TEdit)
    using TCustomEdit::TCustomEdit;
};

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

class TCustomMemo : public TCustomEdit {
public:
    DECLARE_CLASS_NAME(TCustomMemo)
    explicit TCustomMemo(TComponent *AOwner);
    ~TCustomMemo() override;
    // The lines of the text (CR LF between lines).
    TStrings &Lines() { return *FLines; }
    TScrollStyle ScrollBars() const { return FScrollBars; }
    void SetScrollBars(TScrollStyle Value);
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool Value);
    bool WantReturns() const { return FWantReturns; }
    void SetWantReturns(bool Value) { FWantReturns = Value; }
    bool WantTabs() const { return FWantTabs; }
    void SetWantTabs(bool Value) { FWantTabs = Value; }
    // Appends Line as the last line, first deleting lines from the top while the memo holds
    // MaxLines or more (0: no limit), and scrolls the end into view. With a window this edits
    // only the two ends of the text, so a long log grows at the cost of one line, not of the
    // whole text.
    void AppendLine(const std::string &Line, int MaxLines = 0);
    void WndProc(TMessage &Message) override;

protected:
    void CreateParams(TCreateParams &Params) override;
    std::unique_ptr<TStrings> FLines;
    TScrollStyle FScrollBars = ssNone;
    bool FWordWrap = true;
    bool FWantReturns = true;
    bool FWantTabs = false;
};

class TMemo : public TCustomMemo {
public:
    DECLARE_CLASS_NAME(TMemo)
    using TCustomMemo::TCustomMemo;
};

// ---------------------------------------------------------------------------------------------
// Combo box

enum TComboBoxStyle { csDropDown, csSimple, csDropDownList, csOwnerDrawFixed, csOwnerDrawVariable };

class TCustomComboBox : public TWinControl {
public:
    DECLARE_CLASS_NAME(TCustomComboBox)
    explicit TCustomComboBox(TComponent *AOwner);
    ~TCustomComboBox() override;
    TStrings &Items() { return *FItems; }
    virtual int ItemIndex();
    virtual void SetItemIndex(int Value);
    TComboBoxStyle Style() const { return FStyle; }
    void SetStyle(TComboBoxStyle Value);
    virtual int ItemHeight();
    virtual void SetItemHeight(int Value);
    int DropDownCount() const { return FDropDownCount; }
    void SetDropDownCount(int Value) { FDropDownCount = Value; }
    bool DroppedDown();
    void SetDroppedDown(bool Value);
    int MaxLength() const { return FMaxLength; }
    void SetMaxLength(int Value);
    // The edit field and the list of the window (nullptr when there is none).
    HWND EditHandle() const { return FEditHandle; }
    HWND ListHandle() const { return FListHandle; }
    TCanvas &Canvas() { return *FCanvas; }
    void SelectAll();

    TNotifyEvent OnChange;
    TNotifyEvent OnDropDown;
    TNotifyEvent OnCloseUp;
    TNotifyEvent OnSelect;
    TDrawItemEvent OnDrawItem;
    TMeasureItemEvent OnMeasureItem;

    void WndProc(TMessage &Message) override;

protected:
    friend LRESULT CALLBACK ComboChildProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    void CreateParams(TCreateParams &Params) override;
    void CreateWnd() override;
    void DestroyWnd() override;
    int ExtraWindowHeight() override;
    // Messages of the edit field and the list; Handled false passes them to the window.
    virtual void ComboWndProc(TMessage &Message, HWND ChildWindow, bool &Handled);
    virtual void Change();
    virtual void Select();
    virtual void DropDown();
    virtual void CloseUp();
    virtual void DrawItem(int Index, RECT Rect, TOwnerDrawState State);
    virtual void MeasureItem(int Index, int &Height);

    std::unique_ptr<TControlItems> FItems;
    std::unique_ptr<TCanvas> FCanvas;
    TComboBoxStyle FStyle = csDropDown;
    int FItemIndex = -1; // kept while there is no window
    int FItemHeight = 0;
    int FDropDownCount = 8;
    int FMaxLength = 0;
    HWND FEditHandle = nullptr;
    HWND FListHandle = nullptr;
};

class TComboBox : public TCustomComboBox {
public:
    DECLARE_CLASS_NAME(TComboBox)
    using TCustomComboBox::TCustomComboBox;
};

// ---------------------------------------------------------------------------------------------
// List boxes

enum TListBoxStyle { lbStandard, lbOwnerDrawFixed, lbOwnerDrawVariable };

class TCustomListBox : public TWinControl {
public:
    DECLARE_CLASS_NAME(TCustomListBox)
    explicit TCustomListBox(TComponent *AOwner);
    ~TCustomListBox() override;
    TStrings &Items() { return *FItems; }
    int ItemIndex();
    void SetItemIndex(int Value);
    bool Selected(int Index);
    void SetSelected(int Index, bool Value);
    int SelCount();
    bool MultiSelect() const { return FMultiSelect; }
    void SetMultiSelect(bool Value);
    TListBoxStyle Style() const { return FStyle; }
    void SetStyle(TListBoxStyle Value);
    int ItemHeight() const { return FItemHeight; }
    void SetItemHeight(int Value);
    int TopIndex();
    void SetTopIndex(int Value);
    // The item at a client point; -1 when Existing and no item is there (else the count).
    int ItemAtPos(TPoint Pos, bool Existing);
    RECT ItemRect(int Index);
    TCanvas &Canvas() { return *FCanvas; }
    void Clear() { FItems->Clear(); }

    TDrawItemEvent OnDrawItem;
    TMeasureItemEvent OnMeasureItem;

    void WndProc(TMessage &Message) override;

protected:
    void CreateParams(TCreateParams &Params) override;
    void CreateWnd() override;
    void DestroyWnd() override;
    virtual void DrawItem(int Index, RECT Rect, TOwnerDrawState State);
    virtual void MeasureItem(int Index, int &Height);
    std::unique_ptr<TControlItems> FItems;
    std::unique_ptr<TCanvas> FCanvas;
    TListBoxStyle FStyle = lbStandard;
    bool FMultiSelect = false;
    int FItemHeight = 16;
    int FItemIndex = -1;
};

class TListBox : public TCustomListBox {
public:
    DECLARE_CLASS_NAME(TListBox)
    using TCustomListBox::TCustomListBox;
};

enum TCheckBoxState { cbUnchecked, cbChecked, cbGrayed };

// A list box with a check box in front of each item.
class TCheckListBox : public TCustomListBox {
public:
    DECLARE_CLASS_NAME(TCheckListBox)
    explicit TCheckListBox(TComponent *AOwner);
    bool Checked(int Index);
    void SetChecked(int Index, bool Value);
    TCheckBoxState State(int Index);
    void SetState(int Index, TCheckBoxState Value);
    TNotifyEvent OnClickCheck;
    void WndProc(TMessage &Message) override;

protected:
    void DrawItem(int Index, RECT Rect, TOwnerDrawState State) override;
    virtual void ClickCheck();
    void ToggleClickCheck(int Index);

private:
    std::vector<TCheckBoxState> FStates;
};

// ---------------------------------------------------------------------------------------------
// Buttons

class TButtonControl : public TWinControl {
public:
    DECLARE_CLASS_NAME(TButtonControl)
    explicit TButtonControl(TComponent *AOwner);
    void WndProc(TMessage &Message) override;
};

// Check boxes and radio buttons: a button window with a check state (BST_ values) that the
// control keeps while there is no window.
class TCheckButtonControl : public TButtonControl {
public:
    DECLARE_CLASS_NAME(TCheckButtonControl)
    using TButtonControl::TButtonControl;

protected:
    void CreateWnd() override;
    void DestroyWnd() override;
    int CheckState();
    void SetCheckState(int Value);
    int FCheckState = BST_UNCHECKED;
};

class TButton : public TButtonControl {
public:
    DECLARE_CLASS_NAME(TButton)
    explicit TButton(TComponent *AOwner);
    bool Default() const { return FDefault; }
    void SetDefault(bool Value);
    bool Cancel() const { return FCancel; }
    void SetCancel(bool Value) { FCancel = Value; }
    int ModalResult() const { return FModalResult; }
    void SetModalResult(int Value) { FModalResult = Value; }
    void Click() override;
    void WndProc(TMessage &Message) override;

protected:
    void CreateParams(TCreateParams &Params) override;
    bool FDefault = false;
    bool FCancel = false;
    int FModalResult = 0;
};

class TCustomCheckBox : public TCheckButtonControl {
public:
    DECLARE_CLASS_NAME(TCustomCheckBox)
    explicit TCustomCheckBox(TComponent *AOwner);
    bool Checked() { return State() == cbChecked; }
    // Fires OnClick like a click of the user.
    void SetChecked(bool Value) { SetState(Value ? cbChecked : cbUnchecked); }
    TCheckBoxState State() { return static_cast<TCheckBoxState>(CheckState()); }
    void SetState(TCheckBoxState Value);
    bool AllowGrayed() const { return FAllowGrayed; }
    void SetAllowGrayed(bool Value);
    void WndProc(TMessage &Message) override;

protected:
    void CreateParams(TCreateParams &Params) override;
    bool FAllowGrayed = false;
};

class TCheckBox : public TCustomCheckBox {
public:
    DECLARE_CLASS_NAME(TCheckBox)
    using TCustomCheckBox::TCustomCheckBox;
};

class TRadioButton : public TCheckButtonControl {
public:
    DECLARE_CLASS_NAME(TRadioButton)
    explicit TRadioButton(TComponent *AOwner);
    bool Checked() { return CheckState() == BST_CHECKED; }
    // Unchecks the other radio buttons of the parent and fires OnClick.
    void SetChecked(bool Value);
    void WndProc(TMessage &Message) override;

protected:
    void CreateParams(TCreateParams &Params) override;
};

// ---------------------------------------------------------------------------------------------
// Group box and label

class TCustomGroupBox : public TCustomControl {
public:
    DECLARE_CLASS_NAME(TCustomGroupBox)
    explicit TCustomGroupBox(TComponent *AOwner);

protected:
    void CreateParams(TCreateParams &Params) override;
    RECT DisplayRect() override;
    void Paint() override;
};

class TGroupBox : public TCustomGroupBox {
public:
    DECLARE_CLASS_NAME(TGroupBox)
    using TCustomGroupBox::TCustomGroupBox;
};

// Static text in a window of its own. Unlike a label, which draws into its parent, its text can
// be read by screen readers and by other programs (message boxes use it for their message).
class TStaticText : public TWinControl {
public:
    DECLARE_CLASS_NAME(TStaticText)
    explicit TStaticText(TComponent *AOwner);

protected:
    void CreateParams(TCreateParams &Params) override;
};

class TCustomLabel : public TGraphicControl {
public:
    DECLARE_CLASS_NAME(TCustomLabel)
    explicit TCustomLabel(TComponent *AOwner);
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool Value);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment Value);
    TTextLayout Layout() const { return FLayout; }
    void SetLayout(TTextLayout Value);
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool Value);
    bool ShowAccelChar() const { return FShowAccelChar; }
    void SetShowAccelChar(bool Value);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool Value);
    TWinControl *FocusControl() const { return FFocusControl; }
    void SetFocusControl(TWinControl *Value);
    void WndProc(TMessage &Message) override;

protected:
    void Notification(TComponent *AComponent, TOperation Operation) override;
    void Paint() override;
    // Draws (or with DT_CALCRECT measures) the caption.
    virtual void DoDrawText(RECT &Rect, UINT Flags);
    virtual void AdjustBounds();
    UINT TextFlags() const;
    bool FAutoSize = true;
    TAlignment FAlignment = taLeftJustify;
    TTextLayout FLayout = tlTop;
    bool FWordWrap = false;
    bool FShowAccelChar = true;
    bool FTransparent = false;
    TWinControl *FFocusControl = nullptr;
};

class TLabel : public TCustomLabel {
public:
    DECLARE_CLASS_NAME(TLabel)
    using TCustomLabel::TCustomLabel;
};

// True when Key is the accelerator ('&' before it) of Text.
bool IsAccel(char Key, const std::string &Text);
