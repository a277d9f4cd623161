// The main window's status bar with a row of task buttons, one per document window handed to it
// (the minimised MDI children): a click restores the window, a right click offers Restore,
// Minimize and Close, and windows that do not fit go to an overflow button's menu.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "AdvCtrls.h"

class TTaskPanel : public TAdvControl {
public:
    DECLARE_CLASS_NAME(TTaskPanel)
    explicit TTaskPanel(TComponent *AOwner);
    ~TTaskPanel() override;

    // Appends the window (it leaves the list when it is freed) and lays the buttons out again.
    void AddForm(TCustomForm *Form);
    // Repaints the window's button when it is shown (after a caption or icon change).
    void UpdateForm(TCustomForm *Form);
    int FormCount() const { return static_cast<int>(FForms.size()); }
    TCustomForm *Forms(int Index) const { return FForms.at(Index); }

    int ActiveIndex() const { return FActiveIndex; }
    int VisibleCount() const { return FVisibleCount; }
    int FirstLeft() const { return FFirstLeft; }
    int ButtonWidth() const { return FButtonWidth; }
    bool Pressed() const { return FPressed; }
    int AvailableWidth() const { return FAvailableWidth; }
    int HotIndex() const { return FHotIndex; }
    bool HasOverflow() const { return FVisibleCount < FormCount(); }
    // The button at a client point: a window's index, VisibleCount for the overflow button, -1
    // for none.
    int IndexAt(int X, int Y);
    // Restores the window of a button (or of an overflow menu item).
    void Restore(int Index);

    TPopupMenu &OverflowMenu() { return *FOverflowMenu; }
    TPopupMenu &ButtonMenu() { return *FButtonMenu; }

    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;

protected:
    void Notification(TComponent *AComponent, TOperation Operation) override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void MouseMove(TShiftState Shift, int X, int Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void Paint() override;
    void LayoutButtons();
    RECT ButtonRect(int Index);
    void InvalidateButton(int Index);
    void SetHotIndex(int Value);
    void HotTimerTick(TObject *Sender);
    void RebuildOverflowMenu();
    void OverflowItemClick(TObject *Sender);
    void RestoreItemClick(TObject *Sender);
    void MinimizeItemClick(TObject *Sender);
    void CloseItemClick(TObject *Sender);
    TCustomForm *MenuForm();
    void DrawButton(int Index, bool Active);
    void DrawOverflowButton();

    int FActiveIndex = -1;
    int FVisibleCount = 0;
    int FFirstLeft = 6;
    int FButtonWidth = 100;
    bool FPressed = false;
    int FAvailableWidth = 0;
    std::unique_ptr<TPopupMenu> FOverflowMenu;
    std::unique_ptr<TImageList> FMenuButtonBitmap; // none when the program has no such picture
    std::unique_ptr<TPopupMenu> FButtonMenu;
    TMenuItem *FRestoreItem = nullptr;
    TMenuItem *FMinimizeItem = nullptr;
    int FHotIndex = -1;
    std::vector<TCustomForm *> FForms;
    std::unique_ptr<TTimer> FHotTimer;
};

class TTaskStatusBar : public TAdvStatusBar {
public:
    DECLARE_CLASS_NAME(TTaskStatusBar)
    explicit TTaskStatusBar(TComponent *AOwner);
    TTaskPanel &TaskPanel() { return *FTaskPanel; }
    void AddTask(TCustomForm *Form) { FTaskPanel->AddForm(Form); }
    void UpdateTask(TCustomForm *Form) { FTaskPanel->UpdateForm(Form); }
    bool ShowTasks() const { return FShowTasks; }
    void SetShowTasks(bool Value);
    // Places the panel right of the text panels (after every resize; the main window calls it
    // after changing the status panels).
    void UpdateTaskPanel();
    void WndProc(TMessage &Message) override;

protected:
    void CreateParams(TCreateParams &Params) override;
    TTaskPanel *FTaskPanel; // a child owned by the bar
    bool FShowTasks = true;
};
