// What the selection box and the Fractal Mode tool window need of a fractal window, so that they
// work on any window that shows an interactive fractal (the fractal window, its full-screen view,
// or a test's stand-in). The fractal window implements it and registers itself with the
// active-fractal manager when it becomes active.
#pragma once

#include "Controls.h"

class TInteractiveFractal;

class TFractalWindowHost {
public:
    virtual ~TFractalWindowHost() = default;

    // The fractal the window shows; never nullptr while the window exists.
    virtual TInteractiveFractal *HostFractal() = 0;
    // The control the image is drawn on (the full-screen panel while that is shown).
    virtual TWinControl *HostDisplay() = 0;
    // The scroll box around the display, for auto-scrolling; nullptr in full screen.
    virtual TScrollingWinControl *HostScrollBox() = 0;
    // The window's own cursor over the image: the crosshair or the default one.
    virtual TCursor HostCursor() = 0;
    virtual bool HostInFullScreen() = 0;
    // The window's mouse mode (see the mode numbers below) and its selection-box commands.
    virtual void HostSetMouseMode(int Mode) = 0;
    virtual void HostSelectZoomIn() = 0;
    virtual void HostSelectZoomOut() = 0;
    virtual void HostSelectCrop() = 0;
    // Rewrites the window's status texts (after the box changed by keyboard, for example).
    virtual void HostUpdateStatus() = 0;
};

// The one mouse mode shared by every fractal window: 0 normal, 1 a Select press waiting to become
// a drag, 2 select mode (selection box shown), 3 a view press waiting to become a drag, 4 dragging
// a view operation, 5 switch mode. Only the fractal window's mode setter stores it.
constexpr int mmoNormal = 0, mmoSelectPress = 1, mmoSelect = 2, mmoViewPress = 3, mmoDragging = 4, mmoSwitch = 5;
int GetMouseMode();
void StoreMouseMode(int Mode);
