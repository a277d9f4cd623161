// Panel, timer and splitter.
#pragma once

#include <windows.h>

#include "Controls.h"
#include "StdCtrls.h"

enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };

class TCustomPanel : public TCustomControl {
public:
    DECLARE_CLASS_NAME(TCustomPanel)
    explicit TCustomPanel(TComponent *AOwner);
    TBevelCut BevelInner() const { return FBevelInner; }
    void SetBevelInner(TBevelCut Value);
    TBevelCut BevelOuter() const { return FBevelOuter; }
    void SetBevelOuter(TBevelCut Value);
    int BevelWidth() const { return FBevelWidth; }
    void SetBevelWidth(int Value);
    int BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(int Value);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment Value);
    bool FullRepaint() const { return FFullRepaint; }
    void SetFullRepaint(bool Value) { FFullRepaint = Value; }
    void WndProc(TMessage &Message) override;

protected:
    void CreateParams(TCreateParams &Params) override;
    RECT DisplayRect() override;
    void Paint() override;
    TBevelCut FBevelInner = bvNone;
    TBevelCut FBevelOuter = bvRaised;
    int FBevelWidth = 1;
    int FBorderWidth = 0;
    TAlignment FAlignment = taCenter;
    bool FFullRepaint = true;
};

class TPanel : public TCustomPanel {
public:
    DECLARE_CLASS_NAME(TPanel)
    using TCustomPanel::TCustomPanel;
};

// A timer of the interface thread: its window is made when the timer first runs.
class TTimer : public TComponent {
public:
    DECLARE_CLASS_NAME(TTimer)
    explicit TTimer(TComponent *AOwner);
    ~TTimer() override;
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);
    UINT Interval() const { return FInterval; }
    void SetInterval(UINT Value);
    TNotifyEvent OnTimer() const { return FOnTimer; }
    void SetOnTimer(TNotifyEvent Value);

protected:
    virtual void Timer();

private:
    static LRESULT CALLBACK WindowProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam);
    void UpdateTimer();
    HWND FWindow = nullptr;
    bool FEnabled = true;
    bool FRunning = false;
    UINT FInterval = 1000;
    TNotifyEvent FOnTimer;
};

using TCanResizeEvent = TMethod<void(TObject *Sender, int &NewSize, bool &Accept)>;

// A bar between aligned controls that resizes the control before it.
class TSplitter : public TGraphicControl {
public:
    DECLARE_CLASS_NAME(TSplitter)
    explicit TSplitter(TComponent *AOwner);
    int MinSize() const { return FMinSize; }
    void SetMinSize(int Value) { FMinSize = Value; }
    bool Beveled() const { return FBeveled; }
    void SetBeveled(bool Value);
    // The control the splitter resizes (found when a drag starts).
    TControl *Control() const { return FControl; }

    TCanResizeEvent OnCanResize;
    TNotifyEvent OnMoved;

protected:
    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void MouseMove(TShiftState Shift, int X, int Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void Paint() override;
    void Notification(TComponent *AComponent, TOperation Operation) override;
    // Decides a new size of the control: Accept false refuses it.
    virtual bool CanResize(int &NewSize);
    TControl *FindControl();
    void UpdateSize(int X, int Y);

    int FMinSize = 30;
    bool FBeveled = false;
    TControl *FControl = nullptr;
    TPoint FDownPos;
    int FStartSize = 0;
    bool FSizing = false;
};
