// Panel, timer and splitter.
#include "ExtCtrls.h"

#include <algorithm>

#include "Forms.h"

// =============================================================================================
// TCustomPanel

TCustomPanel::TCustomPanel(TComponent *AOwner) : TCustomControl(AOwner) {
    FControlStyle |= csAcceptsControls | csSetCaption | csOpaque | csReplicatable;
    FWidth = 185;
    FHeight = 41;
    FColor = clBtnFace;
    FParentColor = false;
    FBrush->SetColor(FColor);
}

void TCustomPanel::CreateParams(TCreateParams &Params) {
    TCustomControl::CreateParams(Params);
    Params.ClassStyle &= ~(CS_HREDRAW | CS_VREDRAW);
}

void TCustomPanel::SetBevelInner(TBevelCut Value) {
    if (Value != FBevelInner) {
        FBevelInner = Value;
        Realign();
        Invalidate();
    }
}

void TCustomPanel::SetBevelOuter(TBevelCut Value) {
    if (Value != FBevelOuter) {
        FBevelOuter = Value;
        Realign();
        Invalidate();
    }
}

void TCustomPanel::SetBevelWidth(int Value) {
    if (Value != FBevelWidth) {
        FBevelWidth = Value;
        Realign();
        Invalidate();
    }
}

void TCustomPanel::SetBorderWidth(int Value) {
    if (Value != FBorderWidth) {
        FBorderWidth = Value;
        Realign();
        Invalidate();
    }
}

void TCustomPanel::SetAlignment(TAlignment Value) {
    if (Value != FAlignment) {
        FAlignment = Value;
        Invalidate();
    }
}

RECT TCustomPanel::DisplayRect() {
    RECT r = ClientRect();
    int inset =
        FBorderWidth + (FBevelOuter != bvNone ? FBevelWidth : 0) + (FBevelInner != bvNone ? FBevelWidth : 0);
    InflateRect(&r, -inset, -inset);
    return r;
}

void TCustomPanel::Paint() {
    TCanvas &canvas = Canvas();
    RECT r = ClientRect();
    auto bevel = [&](TBevelCut cut) {
        if (cut == bvNone)
            return;
        TColor top = cut == bvLowered ? clBtnShadow : clBtnHighlight;
        TColor bottom = cut == bvLowered ? clBtnHighlight : clBtnShadow;
        if (cut == bvSpace)
            top = bottom = FColor;
        Frame3D(canvas, r, top, bottom, FBevelWidth);
    };
    bevel(FBevelOuter);
    Frame3D(canvas, r, FColor, FColor, FBorderWidth);
    bevel(FBevelInner);
    canvas.Brush().SetColor(FColor);
    canvas.FillRect(r);
    std::string text = Text();
    if (!text.empty()) {
        static const UINT alignments[] = {DT_LEFT, DT_RIGHT, DT_CENTER};
        canvas.Font().Assign(*FFont);
        canvas.Brush().SetStyle(bsClear);
        canvas.TextRect(r, text, DT_SINGLELINE | DT_VCENTER | alignments[FAlignment]);
    }
}

void TCustomPanel::WndProc(TMessage &Message) {
    if (Message.Msg == CM_TEXTCHANGED) {
        Invalidate();
        return;
    }
    TCustomControl::WndProc(Message);
    if (Message.Msg == WM_SIZE && FFullRepaint)
        Invalidate();
}

// =============================================================================================
// TTimer

namespace {
const char *const TimerClassName = "TTimerWindow";
}

TTimer::TTimer(TComponent *AOwner) : TComponent(AOwner) {}

TTimer::~TTimer() {
    SetDestroying();
    if (FWindow) {
        if (FRunning)
            KillTimer(FWindow, 1);
        DestroyWindow(FWindow);
    }
}

LRESULT CALLBACK TTimer::WindowProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam) {
    if (Msg != WM_TIMER)
        return DefWindowProcA(Window, Msg, WParam, LParam);
    auto *timer = reinterpret_cast<TTimer *>(GetWindowLongPtrA(Window, GWLP_USERDATA));
    if (timer && timer->FRunning) {
        try {
            timer->Timer();
        } catch (...) {
            if (Application)
                Application->HandleException(timer);
        }
    }
    return 0;
}

void TTimer::UpdateTimer() {
    bool run = FEnabled && FInterval > 0 && FOnTimer.Assigned() && !Destroying();
    if (FRunning) {
        KillTimer(FWindow, 1);
        FRunning = false;
    }
    if (!run)
        return;
    if (!FWindow)
        FWindow = AllocateUtilityWindow(TimerClassName, WindowProc, HWND_MESSAGE, this);
    if (!SetTimer(FWindow, 1, FInterval, nullptr))
        throw Exception("Not enough timers available");
    FRunning = true;
}

void TTimer::SetEnabled(bool Value) {
    if (Value != FEnabled) {
        FEnabled = Value;
        UpdateTimer();
    }
}

void TTimer::SetInterval(UINT Value) {
    if (Value != FInterval) {
        FInterval = Value;
        UpdateTimer();
    }
}

void TTimer::SetOnTimer(TNotifyEvent Value) {
    FOnTimer = Value;
    UpdateTimer();
}

void TTimer::Timer() {
    if (FEnabled && !Destroying())
        FOnTimer(this);
}

// =============================================================================================
// TSplitter

TSplitter::TSplitter(TComponent *AOwner) : TGraphicControl(AOwner) {
    FAlign = alLeft;
    FWidth = 3;
    FHeight = 100;
    FCursor = crHSplit;
    FParentColor = true;
}

void TSplitter::SetBeveled(bool Value) {
    FBeveled = Value;
    Invalidate();
}

void TSplitter::Notification(TComponent *AComponent, TOperation Operation) {
    TGraphicControl::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FControl)
        FControl = nullptr;
}

TControl *TSplitter::FindControl() {
    if (!FParent)
        return nullptr;
    // The aligned control whose edge touches the splitter on the side of its alignment.
    for (int i = 0; i < FParent->ControlCount(); ++i) {
        TControl *c = FParent->Controls(i);
        if (c == this || !c->Visible() || c->Align() != FAlign)
            continue;
        switch (FAlign) {
        case alLeft:
            if (c->Left() + c->Width() == FLeft)
                return c;
            break;
        case alRight:
            if (c->Left() == FLeft + FWidth)
                return c;
            break;
        case alTop:
            if (c->Top() + c->Height() == FTop)
                return c;
            break;
        case alBottom:
            if (c->Top() == FTop + FHeight)
                return c;
            break;
        default:
            break;
        }
    }
    return nullptr;
}

bool TSplitter::CanResize(int &NewSize) {
    bool accept = true;
    OnCanResize(this, NewSize, accept);
    return accept;
}

void TSplitter::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TGraphicControl::MouseDown(Button, Shift, X, Y);
    if (Button != mbLeft)
        return;
    SetComponentReference(this, FControl, FindControl());
    if (!FControl)
        return;
    FDownPos = ClientToScreen({X, Y});
    FStartSize = (FAlign == alLeft || FAlign == alRight) ? FControl->Width() : FControl->Height();
    FSizing = true;
}

void TSplitter::UpdateSize(int X, int Y) {
    TPoint pos = ClientToScreen({X, Y});
    int delta = (FAlign == alLeft || FAlign == alRight) ? pos.X - FDownPos.X : pos.Y - FDownPos.Y;
    if (FAlign == alRight || FAlign == alBottom)
        delta = -delta;
    int newSize = FStartSize + delta;
    // Room left for the client area of the parent.
    RECT client = FParent->ClientRect();
    int limit = (FAlign == alLeft || FAlign == alRight) ? client.right - FWidth : client.bottom - FHeight;
    newSize = std::min(newSize, limit);
    if (newSize <= FMinSize)
        newSize = 0; // below the minimum the control disappears
    if (!CanResize(newSize))
        return;
    newSize = std::max(newSize, 0);
    if (FAlign == alLeft || FAlign == alRight)
        FControl->SetWidth(newSize);
    else
        FControl->SetHeight(newSize);
}

void TSplitter::MouseMove(TShiftState Shift, int X, int Y) {
    TGraphicControl::MouseMove(Shift, X, Y);
    if (FSizing && FControl)
        UpdateSize(X, Y);
}

void TSplitter::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (FSizing && FControl) {
        UpdateSize(X, Y);
        FSizing = false;
        OnMoved(this);
    }
    FSizing = false;
    TGraphicControl::MouseUp(Button, Shift, X, Y);
}

void TSplitter::Paint() {
    RECT r = ClientRect();
    Canvas().Brush().SetColor(FColor);
    Canvas().FillRect(r);
    if (FBeveled)
        DrawEdge(Canvas().Handle(), &r, BDR_RAISEDINNER, BF_RECT);
}
