// Support for tests of windows: the application for the test program, a bounded message pump,
// typed keys, counts of window and GDI objects and pixels read back from memory bitmaps.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Forms.h"

namespace window_test {

// Starts the application and the screen before the first test and frees them after the last.
class FormsEnvironment : public testing::Environment {
public:
    void SetUp() override { InitializeForms(); }
    void TearDown() override { FinalizeForms(); }
};

// Handles messages until Done() holds or TimeoutMs passed; the result says whether it held.
inline bool PumpUntil(const std::function<bool()> &Done, DWORD TimeoutMs = 10000) {
    DWORD start = GetTickCount();
    for (;;) {
        Application->ProcessMessages();
        if (Done())
            return true;
        if (GetTickCount() - start > TimeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// Handles what is queued now, including what the handling itself posts and paints.
inline void PumpPending() {
    PostMessageA(Application->Handle(), WM_NULL, 0, 0);
    Application->ProcessMessages();
}

// Puts the pointer at a screen point and waits until the system reports it there.
inline bool MovePointer(TPoint Pos) {
    SetCursorPos(Pos.X, Pos.Y);
    return PumpUntil([&] { return Mouse.CursorPos().X == Pos.X && Mouse.CursorPos().Y == Pos.Y; });
}

// Key presses through the system's input queue, as a user types them.
inline void SendKeys(const std::vector<WORD> &Keys, bool Up = true, bool Down = true) {
    std::vector<INPUT> inputs;
    for (WORD key : Keys) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        if (Down)
            inputs.push_back(input);
    }
    if (Up)
        for (auto it = Keys.rbegin(); it != Keys.rend(); ++it) {
            INPUT input = {};
            input.type = INPUT_KEYBOARD;
            input.ki.wVk = *it;
            input.ki.dwFlags = KEYEVENTF_KEYUP;
            inputs.push_back(input);
        }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

inline BOOL CALLBACK CountChild(HWND, LPARAM data) {
    ++*reinterpret_cast<int *>(data);
    return TRUE;
}

inline BOOL CALLBACK CountTopLevel(HWND window, LPARAM data) {
    ++*reinterpret_cast<int *>(data);
    EnumChildWindows(window, CountChild, data);
    return TRUE;
}

// Windows of this thread, children included.
inline int ThreadWindowCount() {
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountTopLevel, reinterpret_cast<LPARAM>(&count));
    return count;
}

// The system's count of GDI objects (0 where the system does not keep one, as under Wine) and
// the class library's own count of what it holds.
inline DWORD GdiObjectCount() {
    return GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
}

inline int LibraryGdiObjectCount() {
    return LiveGdiObjects();
}

inline DWORD UserObjectCount() {
    return GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
}

// A control's own painting into a memory bitmap of its size.
inline void PaintControl(TControl &Control, TBitmap &Target) {
    Target.SetPixelFormat(pf24bit);
    Target.SetSize(Control.Width(), Control.Height());
    Control.Perform(WM_PAINT, reinterpret_cast<WPARAM>(Target.Canvas().Handle()));
}

// The RGB value of a pixel of a bitmap.
inline COLORREF PixelAt(TBitmap &Bitmap, int X, int Y) {
    return GetPixel(Bitmap.Canvas().Handle(), X, Y) & 0xFFFFFF;
}

// A shown form for one test, freed at its end.
class HostFormTest : public testing::Test {
protected:
    void SetUp() override {
        Form = new TForm(nullptr);
        Form->SetBounds(40, 40, 420, 320);
        Form->SetCaption("Test form");
        Form->Show();
        SetForegroundWindow(Form->Handle());
        PumpPending();
    }
    void TearDown() override {
        delete Form;
        Form = nullptr;
        PumpPending();
    }
    TForm *Form = nullptr;
};

} // namespace window_test
