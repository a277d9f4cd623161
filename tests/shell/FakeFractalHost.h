// A stand-in for a fractal window: a shown form whose display panel paints a calculated
// interactive fractal's bitmap, with the selection box drawn over it as the fractal window does,
// and a mouse mode that shows and hides the box the way the window's mode setter does.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/WindowTestSupport.h"
#include "tests/documents/DocumentTestSupport.h"

#include "FracInteractive.h"
#include "FracManager.h"
#include "FractalWindowHost.h"
#include "SelectArea.h"

inline std::string ShellTestDataPath(const std::string &Name) {
    return std::string(TEST_DATA_DIR) + "shell\\data\\" + Name;
}

class TFakeFractalHost;

// The panel the image is drawn on: it paints the bitmap, and the box sits on top of it.
class TFakeDisplay : public TCustomControl {
public:
    TFakeDisplay(TComponent *AOwner, TFakeFractalHost &AHost) : TCustomControl(AOwner), Host(AHost) {}

protected:
    void Paint() override;

private:
    TFakeFractalHost &Host;
};

class TFakeFractalHost : public TFractalWindowHost {
public:
    // With a ScrollView size, the display lies in a scroll box of that client size.
    TFakeFractalHost(TCalculateManager &Manager, THistoryDataManager &History, int Width, int Height,
                     int Left = 40, int Top = 40, SIZE ScrollView = {0, 0}, const char *Center = "-0.5/0")
        : Fractal(std::make_unique<TInteractiveFractal>(&Manager, &History)) {
        SetUpMandelbrot(*Fractal, ShellTestDataPath("FracInteractive_fixtures.ofm"), Width, Height, Center,
                        "1", 4);
        Form = std::make_unique<TForm>(nullptr);
        Form->SetBounds(Left, Top, Width + 40, Height + 60);
        Form->SetCaption("Fractal stand-in");
        Display = new TFakeDisplay(Form.get(), *this);
        if (ScrollView.cx > 0) {
            ScrollBox = new TScrollingWinControl(Form.get());
            ScrollBox->SetParent(Form.get());
            ScrollBox->SetBounds(0, 0, ScrollView.cx, ScrollView.cy);
            Display->SetParent(ScrollBox);
        } else
            Display->SetParent(Form.get());
        Display->SetBounds(0, 0, Width, Height);
        Form->Show();
        SetForegroundWindow(Form->Handle());
        Fractal->GetBitmap().OnBeforeDraw = MakeNotifyEvent<&TFakeFractalHost::BeforeDraw>(this);
        Fractal->GetBitmap().OnAfterDraw = MakeNotifyEvent<&TFakeFractalHost::AfterDraw>(this);
        Fractal->GetBitmap().SetWindow(Display->Handle());
        window_test::PumpPending();
    }
    ~TFakeFractalHost() override {
        if (Box && Box->GetWindow() == this)
            Box->SetWindow(nullptr);
        Fractal->GetBitmap().SetWindow(nullptr);
        Fractal->GetBitmap().OnBeforeDraw = TNotifyEvent();
        Fractal->GetBitmap().OnAfterDraw = TNotifyEvent();
        Form.reset();
        Fractal.reset();
    }

    TInteractiveFractal *HostFractal() override { return Fractal.get(); }
    TWinControl *HostDisplay() override { return Display; }
    TScrollingWinControl *HostScrollBox() override { return ScrollBox; }
    TCursor HostCursor() override { return crCross; }
    bool HostInFullScreen() override { return false; }
    // As the fractal window: leaving select mode hides the box, entering it shows the box.
    void HostSetMouseMode(int Mode) override {
        Modes.push_back(Mode);
        const int old = GetMouseMode();
        if (Mode == old)
            return;
        if (old == mmoSelect && Box)
            Box->Hide();
        StoreMouseMode(Mode);
        if (Mode == mmoSelect && Box)
            Box->Show();
        if (TFractalManager *manager = FractalManager())
            manager->Notify(fekInteraction);
    }
    void HostSelectZoomIn() override { Commands.push_back("Zoom In"); }
    void HostSelectZoomOut() override { Commands.push_back("Zoom Out"); }
    void HostSelectCrop() override { Commands.push_back("Crop"); }
    void HostUpdateStatus() override { ++StatusUpdates; }

    void BeforeDraw(TObject *) {
        if (Box && Box->GetWindow() == this)
            Box->Erase();
    }
    void AfterDraw(TObject *) {
        if (Box && Box->GetWindow() == this)
            Box->Draw();
    }

    std::unique_ptr<TInteractiveFractal> Fractal;
    std::unique_ptr<TForm> Form;
    TFakeDisplay *Display = nullptr;
    TScrollingWinControl *ScrollBox = nullptr;
    TSelectArea *Box = nullptr;
    std::vector<int> Modes;
    std::vector<std::string> Commands;
    int StatusUpdates = 0;
};

// Tests of the windows over a stand-in: the application, the configuration with the formula
// modules, the active-fractal manager and the global selection box for the suite, and the
// calculation and history managers that stand-ins' fractals use.
class ShellWindowTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        FOwnsForms = Application == nullptr;
        if (FOwnsForms)
            InitializeForms();
        Configuration = new TDocumentConfiguration("Alice");
        FOwnsManager = FractalManager() == nullptr;
        if (FOwnsManager)
            InitializeFracManager();
        FOwnsBox = SelectArea() == nullptr;
        if (FOwnsBox)
            InitializeSelectArea();
    }
    static void TearDownTestSuite() {
        if (FOwnsBox)
            FinalizeSelectArea();
        if (FOwnsManager)
            FinalizeFracManager();
        delete Configuration;
        Configuration = nullptr;
        if (FOwnsForms)
            FinalizeForms();
    }

    static inline bool FOwnsForms = false, FOwnsManager = false, FOwnsBox = false;
    static inline TDocumentConfiguration *Configuration = nullptr;
    THistoryDataManager History{"", 1 << 26};
    TCalculateManager Manager{2};
};

inline void TFakeDisplay::Paint() {
    TDirectBitmap &bitmap = Host.Fractal->GetBitmap();
    TScopeLock<TBaseBitmap> guard(bitmap);
    Host.BeforeDraw(nullptr);
    bitmap.BlitTo(Canvas().Handle(), ClientRect(), 0, 0);
    Host.AfterDraw(nullptr);
}

// The display's pixels as the screen shows them, 0x00RRGGBB, row by row.
inline std::vector<std::uint32_t> ScreenPixels(TWinControl &Control) {
    const int width = Control.ClientWidth(), height = Control.ClientHeight();
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    HDC window = GetDC(Control.Handle());
    HDC memory = CreateCompatibleDC(window);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    HBITMAP section = CreateDIBSection(window, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, section);
    BitBlt(memory, 0, 0, width, height, window, 0, 0, SRCCOPY);
    GdiFlush();
    const auto *source = static_cast<const std::uint32_t *>(bits);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = source[i] & 0xFFFFFF;
    SelectObject(memory, old);
    DeleteObject(section);
    DeleteDC(memory);
    ReleaseDC(Control.Handle(), window);
    return pixels;
}
