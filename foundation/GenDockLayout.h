// The dock-bar layout that the registry manager saves at exit and restores at start: what it
// needs of the dock bar and its tools, which the control library's dock bar gives.
#pragma once

#include <cstdint>
#include <string>

// A rectangle in screen coordinates as stored: left, top, right, bottom.
struct TLayoutRect {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    friend bool operator==(const TLayoutRect &, const TLayoutRect &) = default;
};

// The dock bar as the layout sees it; tools are addressed by their present index.
class TDockBarLayout {
public:
    virtual ~TDockBarLayout() = default;
    virtual int LayoutToolCount() = 0;
    virtual int LayoutBarWidth() = 0;
    // Sets the width; the bar keeps its own minimum.
    virtual void SetLayoutBarWidth(int Width) = 0;
    virtual int LayoutScrollPos() = 0;
    virtual void SetLayoutScrollPos(int Position) = 0;
    // The class name of the tool window (its key under "Tools\").
    virtual std::string LayoutToolClass(int Index) = 0;
    virtual int LayoutToolHeight(int Index) = 0;
    virtual void SetLayoutToolHeight(int Index, int Height) = 0;
    virtual bool LayoutToolVisible(int Index) = 0;
    virtual void SetLayoutToolVisible(int Index, bool Visible) = 0;
    virtual bool LayoutToolDocked(int Index) = 0;
    // Makes the tool window again, docked or floating.
    virtual void SetLayoutToolDocked(int Index, bool Docked) = 0;
    virtual TLayoutRect LayoutFloatingRect(int Index) = 0;
    virtual void SetLayoutFloatingRect(int Index, const TLayoutRect &Rect) = 0;
    virtual int LayoutToolOpacity(int Index) = 0;
    // Keeps the value within 31..255.
    virtual void SetLayoutToolOpacity(int Index, int Opacity) = 0;
    // Moves the tool to NewIndex; the others are renumbered.
    virtual void SetLayoutToolIndex(int Index, int NewIndex) = 0;
};
