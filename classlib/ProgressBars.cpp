#include "ProgressBars.h"

#include <commctrl.h>

TProgressBarControl::TProgressBarControl(TComponent *AOwner) : TWinControl(AOwner) {
    SetBounds(0, 0, 150, 16);
}

void TProgressBarControl::CreateParams(TCreateParams &Params) {
    TWinControl::CreateParams(Params);
    Params.SystemClassName = PROGRESS_CLASSA;
}

void TProgressBarControl::CreateWnd() {
    TWinControl::CreateWnd();
    SendMessageA(FHandle, PBM_SETRANGE32, FMin, FMax);
    SendMessageA(FHandle, PBM_SETPOS, FPosition, 0);
}

void TProgressBarControl::SetRange(int AMin, int AMax) {
    FMin = AMin;
    FMax = AMax < AMin ? AMin : AMax;
    if (FHandle)
        SendMessageA(FHandle, PBM_SETRANGE32, FMin, FMax);
    SetPosition(FPosition);
}

void TProgressBarControl::SetPosition(int Value) {
    FPosition = Value < FMin ? FMin : Value > FMax ? FMax : Value;
    if (FHandle)
        SendMessageA(FHandle, PBM_SETPOS, FPosition, 0);
}
