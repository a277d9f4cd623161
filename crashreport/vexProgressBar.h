// The small bar that a slow report shows while it traces the threads: a top-most pop-up, half the
// screen wide, drawn off-screen and copied to the screen only when the filled width or the shown
// percentage changed. It belongs to the reporting thread and needs no message loop.
#pragma once

#include <windows.h>

#include <cstdint>

class TProgressBar {
public:
    TProgressBar();
    ~TProgressBar();
    TProgressBar(const TProgressBar &) = delete;
    TProgressBar &operator=(const TProgressBar &) = delete;
    // Position in permille.
    void Draw(std::uint32_t Position);
    HWND Window() const { return FWindow; }

private:
    HWND FWindow = nullptr;
    HDC FSurface = nullptr;
    HBITMAP FBitmap = nullptr;
    HGDIOBJ FOldBitmap = nullptr;
    HFONT FFont = nullptr;
    int FWidth = 0, FHeight = 23;
    int FLastFill = -1, FLastPercent = -1;
};
