// The list of the layer, transformation, server and render-job tool windows: owner-drawn items
// with a row of toggle buttons in a gutter, a margin strip, texts edited in place, separators,
// drag and drop of items and sweeps over buttons. The list keeps no data beyond the item texts:
// the owner answers through events what each button shows and what a click changes.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "AdvCtrls.h"

using TButtonClickEvent = TMethod<void(TObject *Sender, int Index, int Button, TShiftState Shift)>;
using TButtonDrawEvent = TMethod<void(TObject *Sender, int Index, int Button, TCanvas &Canvas,
                                      const RECT &ItemRect, const RECT &ButtonRect, bool &DefaultDraw)>;
using TButtonGetEvent = TMethod<void(TObject *Sender, int Index, int Button, int &ImageIndex, bool &Down)>;
using TButtonSetEvent = TMethod<void(TObject *Sender, int Index, int Button, bool Down)>;
using TDrawMarginEvent = TMethod<void(TObject *Sender, int Index, const RECT &Rect, TOwnerDrawState State)>;
using TDrawSeparatorEvent = TMethod<void(TObject *Sender, int Index, bool &Separator)>;
using TDrawTextEvent =
    TMethod<void(TObject *Sender, int Index, const RECT &Rect, TOwnerDrawState State, bool &DefaultDraw)>;
using TEditedEvent = TMethod<void(TObject *Sender, std::string &Text)>;
using TEditingEvent = TMethod<void(TObject *Sender, std::string &Text, bool &Allow)>;

// The drag object of the list's items; tool windows derive their own from it.
class TEditListDragObject : public TDragControlObject {
public:
    DECLARE_CLASS_NAME(TEditListDragObject)
    using TDragControlObject::TDragControlObject;
};

// One list shares one timer with every other edit list (the delayed start of editing or the
// automatic scrolling during a drag). It exists only while a list uses it; the list that made it
// owns it and frees it, and clears every reference to it, when it is done with it, when its window
// goes and when it is destroyed.
class TEditListBox : public TAdvListBox {
public:
    DECLARE_CLASS_NAME(TEditListBox)
    explicit TEditListBox(TComponent *AOwner);
    ~TEditListBox() override;

    // Pixel width of one button slot in the gutter, and of the button in it.
    static constexpr int ButtonPitch = 20;
    static constexpr int ButtonSize = 18;

    void BeginEdit();
    void AcceptEdit();
    void CancelEdit();
    bool Editing() const { return FEditing; }
    TAdvEdit &Editor() { return *FEditor; }
    // Repaints the margin strip of one item, or of every item when Index < 0.
    void InvalidateMargin(int Index);

    bool ButtonBevels() const { return FButtonBevels; }
    void SetButtonBevels(bool Value);
    int ButtonCount() const { return FButtonCount; }
    // The gutter is set on its own; ButtonCount * 20 + 5 fits the buttons.
    void SetButtonCount(int Value);
    int Gutter() const { return FGutter; }
    void SetGutter(int Value);
    bool GutterBevel() const { return FGutterBevel; }
    void SetGutterBevel(bool Value);
    // Not owned; the owner clears it before freeing the image list.
    TImageList *Images() const { return FImages; }
    void SetImages(TImageList *Value);
    bool ItemSeparators() const { return FItemSeparators; }
    void SetItemSeparators(bool Value);
    int Margin() const { return FMargin; }
    void SetMargin(int Value);
    int DropIndex() const { return FDropIndex; }
    int PressedButton() const { return FPressedButton; }
    // Whether this list holds the shared timer now.
    bool OwnsTimer() const;

    TNotifyEvent OnButtonBeginUpdate;
    TButtonClickEvent OnButtonClick;
    TButtonDrawEvent OnButtonDraw;
    TNotifyEvent OnButtonEndUpdate;
    TButtonGetEvent OnButtonGet;
    TButtonSetEvent OnButtonSet;
    TNotifyEvent OnDrawBackground;
    TDrawMarginEvent OnDrawMargin;
    TDrawSeparatorEvent OnDrawSeparator;
    TDrawTextEvent OnDrawText;
    TEditedEvent OnEdited;
    TEditingEvent OnEditing;

    void WndProc(TMessage &Message) override;
    void SetParent(TWinControl *AParent) override;

protected:
    virtual void ButtonBeginUpdate();
    virtual void ButtonClick(int Index, int Button, TShiftState Shift);
    virtual void DrawButton(int Index, int Button, TCanvas &Canvas, const RECT &ItemRect,
                            const RECT &ButtonRect, bool &DefaultDraw);
    virtual void ButtonEndUpdate();
    virtual void GetButton(int Index, int Button, int &ImageIndex, bool &Down);
    virtual void SetButton(int Index, int Button, bool Down);
    virtual void DrawBackground();
    virtual void DrawButtons(int Index, const RECT &Rect, bool Separator);
    virtual void DrawDropTarget(int Index, const RECT &Rect);
    virtual void DrawMargin(int Index, const RECT &Rect, TOwnerDrawState State);
    virtual void DrawText(int Index, const RECT &Rect, bool Separator, TOwnerDrawState State);

    void CreateParams(TCreateParams &Params) override;
    void DestroyWnd() override;
    void DrawItem(int Index, RECT Rect, TOwnerDrawState State) override;
    void DoStartDrag(TDragObject *&DragObject) override;
    void DragOver(TObject *Source, int X, int Y, TDragState State, bool &Accept) override;
    void DragDrop(TObject *Source, int X, int Y) override;
    void DoEndDrag(TObject *Target, int X, int Y) override;
    void KeyDown(WORD &Key, TShiftState Shift) override;
    void DoExit() override;

private:
    void LeftPress(TMessage &Message, bool Double);
    void LeftRelease(TMessage &Message);
    void MoveWithButton(TMessage &Message);
    void RightRelease(TMessage &Message);
    void EraseBackground(TMessage &Message);
    // The button of the item under a client point, -1 for none.
    int ButtonAt(int Index, TPoint Pos);
    void SweepTo(int Index);
    // Body between ButtonBeginUpdate and ButtonEndUpdate, which also runs when Body raises.
    template <class Body> void InButtonUpdate(Body body);
    void SetDropIndex(int Value);
    void InvalidateItemFrom(int Index, int Left);
    void AutoScroll(TPoint Pos);
    bool InScrollZone(TPoint Pos, int &Direction);
    void EditTimerFired(TObject *Sender);
    void ScrollTimerFired(TObject *Sender);
    void EditorChange(TObject *Sender);
    void EditorKeyDown(TObject *Sender, WORD &Key, TShiftState Shift);
    void EditorExit(TObject *Sender);
    void SizeEditor();

    std::unique_ptr<TBitmap> FButtonBitmap;
    std::unique_ptr<TBitmap> FImageBitmap;
    bool FButtonBevels = true;
    int FButtonCount = 0;
    bool FPressPending = false;
    bool FEditPending = false;
    int FPressedButton = -1;
    int FPressedItem = -1;
    int FDropIndex = -1;
    TAdvEdit *FEditor = nullptr; // owned by the list as a component
    bool FEditing = false;
    bool FAccepting = false;
    std::unique_ptr<TEditListDragObject> FDragObject;
    int FGutter = 0;
    bool FGutterBevel = true;
    TImageList *FImages = nullptr;
    bool FItemSeparators = false;
    int FMargin = 0;
    TPoint FPressPoint;
};

// Whether no edit list holds the shared timer now.
bool EditListTimerFree();
// Frees the shared pattern bitmaps (made on first use) and a timer still held.
void FinalizeEditListBox();
