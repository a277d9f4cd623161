// The selection box of select mode: one box, shared by every fractal window, drawn in inverted
// lines over the image of the window it is on. It is moved, resized around its centre, rotated by
// its handle, stretched and skewed with the mouse or the keyboard, and describes the view that the
// window zooms into, zooms out of or crops to.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "Controls.h"

class TAnimatedCorners;
class TFractalWindowHost;
struct TViewBox;

class TSelectArea : public TObject {
public:
    DECLARE_CLASS_NAME(TSelectArea)
    TSelectArea();
    ~TSelectArea() override;
    TSelectArea(const TSelectArea &) = delete;
    TSelectArea &operator=(const TSelectArea &) = delete;

    // Shows the box at the image centre with a sixth of the image height as half-height.
    void Show();
    void Hide();
    // Back to a sixth of the image width as half-height, upright, unstretched, at the centre.
    void Reset();
    // The window the box belongs to; a shown box moves along (hidden, then shown on the new one).
    void SetWindow(TFractalWindowHost *Window);
    TFractalWindowHost *GetWindow() const { return FWindow; }
    // Stretch mode: the fractal is stretched to fit the box; otherwise it is resized to the box's
    // aspect ratio.
    void SetStretch(bool Value);
    bool GetStretch() const { return FStretchMode; }
    bool GetActive() const { return FState != 0; }

    double GetMagnification() const;
    // The box as the view operations take it.
    TViewBox GetViewBox() const;
    // The picture transform of the view inside the box, x stretched by the box's stretch when
    // Stretched is set.
    std::unique_ptr<TAnimatedCorners> GetCorners(bool Stretched) const;
    double GetAngle() const { return FAngle; }
    double GetStretchValue() const { return FStretch; }
    double GetSkew() const { return FSkew; }
    int GetHalfHeight() const { return FHalfHeight; }
    POINT GetCenter() const { return FCenter; }
    int GetState() const { return FState; }
    // The status-bar text for the pointer's position over the box.
    const std::string &GetHint() const { return FHint; }

    // The fractal window erases the box before each blit of its bitmap and draws it afterwards.
    void Draw();
    void Erase();

    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    void MouseMove(TShiftState Shift, int X, int Y);
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    void KeyDown(WORD &Key, TShiftState Shift);

private:
    TFractalWindowHost *FWindow = nullptr;
    int FState = 0;
    bool FStretchMode = false;
    double FAngle = 0;
    double FStretch = 1;
    double FSkew = 0;
    int FHalfHeight = 0;
    POINT FCenter = {0, 0};
    std::string FHint;
};

// The global box; nullptr outside InitializeSelectArea .. FinalizeSelectArea.
TSelectArea *SelectArea();
void InitializeSelectArea();
void FinalizeSelectArea();
