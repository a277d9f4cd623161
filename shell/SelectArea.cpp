// Placeholder: the box is never shown yet. Its full behaviour replaces this file.
#include "SelectArea.h"

#include "FracInteractive.h"
#include "FractalWindowHost.h"

namespace {
TSelectArea *GlobalSelectArea = nullptr;
}

TSelectArea::TSelectArea() = default;
TSelectArea::~TSelectArea() = default;

void TSelectArea::Show() {}
void TSelectArea::Hide() {}
void TSelectArea::Reset() {}
void TSelectArea::SetWindow(TFractalWindowHost *Window) {
    FWindow = Window;
}
void TSelectArea::SetStretch(bool Value) {
    FStretchMode = Value;
}
double TSelectArea::GetMagnification() const {
    return 1;
}
TViewBox TSelectArea::GetViewBox() const {
    return TViewBox{};
}
std::unique_ptr<TAnimatedCorners> TSelectArea::GetCorners(bool Stretched) const {
    return std::make_unique<TAnimatedCorners>(4.0 / 3.0);
}
void TSelectArea::Draw() {}
void TSelectArea::Erase() {}
void TSelectArea::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {}
void TSelectArea::MouseMove(TShiftState Shift, int X, int Y) {}
void TSelectArea::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {}
void TSelectArea::KeyDown(WORD &Key, TShiftState Shift) {}

TSelectArea *SelectArea() {
    return GlobalSelectArea;
}

void InitializeSelectArea() {
    if (!GlobalSelectArea)
        GlobalSelectArea = new TSelectArea();
}

void FinalizeSelectArea() {
    delete GlobalSelectArea;
    GlobalSelectArea = nullptr;
}
