#include "vexProgressBar.h"

#include <algorithm>
#include <string>

#include "vexStrings.h"

TProgressBar::TProgressBar() {
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
    FWidth = std::max(screenWidth / 2, 16);
    FWindow = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, "STATIC", "", WS_POPUP | WS_VISIBLE,
                              (screenWidth - FWidth) / 2, (screenHeight - FHeight) / 2, FWidth, FHeight,
                              nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    HDC screen = GetDC(nullptr);
    FSurface = CreateCompatibleDC(screen);
    FBitmap = CreateCompatibleBitmap(screen, FWidth, FHeight);
    ReleaseDC(nullptr, screen);
    if (FSurface && FBitmap)
        FOldBitmap = SelectObject(FSurface, FBitmap);
    FFont = CreateFontA(12, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, DEFAULT_PITCH, "Arial");
}

TProgressBar::~TProgressBar() {
    if (FWindow)
        DestroyWindow(FWindow);
    if (FSurface) {
        if (FOldBitmap)
            SelectObject(FSurface, FOldBitmap);
        DeleteDC(FSurface);
    }
    if (FBitmap)
        DeleteObject(FBitmap);
    if (FFont)
        DeleteObject(FFont);
}

void TProgressBar::Draw(std::uint32_t Position) {
    if (!FWindow || !FSurface || !FBitmap)
        return;
    Position = std::min<std::uint32_t>(Position, 1000);
    const RECT inner = {4, 4, FWidth - 4, FHeight - 4};
    const int fill =
        static_cast<int>((inner.right - inner.left) * static_cast<std::int64_t>(Position) / 1000);
    const int percent = static_cast<int>((Position + 5) / 10);
    if (fill == FLastFill && percent == FLastPercent)
        return;
    const int oldFill = FLastFill;
    const bool frameNeeded = FLastFill < 0;
    FLastFill = fill;
    FLastPercent = percent;

    HDC dc = FSurface;
    if (frameNeeded) {
        RECT all = {0, 0, FWidth, FHeight};
        FillRect(dc, &all, GetSysColorBrush(COLOR_BTNFACE));
        FrameRect(dc, &all, GetSysColorBrush(COLOR_BTNHIGHLIGHT));
        HBRUSH yellow = CreateSolidBrush(0x00FFFF);
        RECT inset = {2, 2, FWidth - 2, FHeight - 2};
        FrameRect(dc, &inset, yellow);
        DeleteObject(yellow);
        HPEN shadow = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNSHADOW));
        HGDIOBJ oldPen = SelectObject(dc, shadow);
        MoveToEx(dc, FWidth - 1, 0, nullptr);
        LineTo(dc, FWidth - 1, FHeight - 1);
        LineTo(dc, -1, FHeight - 1);
        SelectObject(dc, oldPen);
        DeleteObject(shadow);
    }
    RECT filled = {inner.left, inner.top, inner.left + fill, inner.bottom};
    RECT rest = {inner.left + fill, inner.top, inner.right, inner.bottom};
    FillRect(dc, &filled, GetSysColorBrush(COLOR_BTNTEXT));
    FillRect(dc, &rest, GetSysColorBrush(COLOR_BTNFACE));
    // The percentage twice: light over the whole bar, dark clipped to the unfilled part, so that
    // it stays readable where the fill runs under it.
    const std::string text = IntegerText(static_cast<std::uint32_t>(percent)) + "%";
    HGDIOBJ oldFont = SelectObject(dc, FFont);
    SetBkMode(dc, TRANSPARENT);
    RECT textBox = {inner.left, inner.top, inner.right - 4, inner.bottom};
    SetTextColor(dc, GetSysColor(COLOR_BTNHIGHLIGHT));
    DrawTextA(dc, text.c_str(), -1, &textBox, DT_RIGHT | DT_VCENTER | DT_SINGLELINE);
    HRGN clip = CreateRectRgnIndirect(&rest);
    SelectClipRgn(dc, clip);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    DrawTextA(dc, text.c_str(), -1, &textBox, DT_RIGHT | DT_VCENTER | DT_SINGLELINE);
    SelectClipRgn(dc, nullptr);
    DeleteObject(clip);
    SelectObject(dc, oldFont);

    // Only what changed goes to the screen: the whole bar the first time, then the span between the
    // old and the new fill and the percentage's place.
    HDC window = GetDC(FWindow);
    if (frameNeeded) {
        BitBlt(window, 0, 0, FWidth, FHeight, dc, 0, 0, SRCCOPY);
    } else {
        const int from = inner.left + std::min(oldFill, fill), to = inner.left + std::max(oldFill, fill);
        BitBlt(window, from, inner.top, to - from, inner.bottom - inner.top, dc, from, inner.top, SRCCOPY);
        const int textLeft = std::max<int>(inner.left, inner.right - 60);
        BitBlt(window, textLeft, inner.top, inner.right - textLeft, inner.bottom - inner.top, dc, textLeft,
               inner.top, SRCCOPY);
    }
    ReleaseDC(FWindow, window);
}
