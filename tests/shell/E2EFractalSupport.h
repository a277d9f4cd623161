// What the end-to-end tests of the fractal window share: a small default fractal for the program
// to open at start-up, the picture the same document gives when it is calculated headless, and a
// wait for a status text.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "E2EDriver.h"
#include "tests/documents/DocumentTestSupport.h"

#include "CompPersistent.h"
#include "FracInteractive.h"

namespace e2e {

// The shipped formula file, so that the program and the test read the same formula.
inline std::string ShippedFormulas() {
    return std::string(TEST_DATA_DIR) + "..\\resources\\formulas\\Standard.ofm";
}

// A small default fractal: under emulation a 640 x 480 image takes long.
inline std::string WriteDefaultFile() {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string file = std::string(folder) + "ov-e2e-default.opr";
    const std::string text =
        "Small {\r\nfractal:\r\n  title=\"Small Mandelbrot\"\r\n  width=120\r\n  height=90\r\n"
        "  layers=1\r\nlayer:\r\n  caption=\"Background\"\r\n  opacity=100\r\nmapping:\r\n  center=-0.5/0\r\n"
        "  magn=1\r\nformula:\r\n  filename=\"" +
        ShippedFormulas() + "\"\r\n  entry=\"Mandelbrot\"\r\n  maxiter=40\r\n}\r\n";
    FILE *out = std::fopen(file.c_str(), "wb");
    if (!out)
        return {};
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
    return file;
}

// Every pixel of the display bitmap after the headless calculation of the same entry, as 0xRRGGBB.
struct THeadlessPicture {
    int Width = 0, Height = 0;
    bool Direct = false; // 32-bit pixels, copied as they are merged
    std::vector<std::uint32_t> Pixels;
};

inline THeadlessPicture RenderHeadless(const std::string &File, const std::string &Entry) {
    TDocumentConfiguration configuration("Alice");
    THistoryDataManager history("", 1 << 28);
    TCalculateManager manager(2);
    TInteractiveFractal document(&manager, &history);
    TParReader reader;
    reader.LoadFileEntry(File, Entry);
    document.BeginChange();
    document.ReadParameters(reader, TPersistentFractal::NormalReadFlags, TFractalProgressEvent());
    document.EndChange();
    WaitCalculated(document);
    THeadlessPicture picture;
    picture.Width = document.GetWidth();
    picture.Height = document.GetHeight();
    document.GetUpdateManager().RefreshRect(RECT{0, 0, picture.Width, picture.Height});
    TBaseBitmap &bitmap = document.GetBitmap();
    picture.Direct = bitmap.Mode() == TBaseBitmap::bmRGB32;
    if (!picture.Direct)
        return picture;
    for (int y = 0; y < picture.Height; ++y)
        for (int x = 0; x < picture.Width; ++x) {
            const std::uint8_t *p = bitmap.Bits() + y * bitmap.RowBytes() + 4 * x;
            picture.Pixels.push_back(std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0]);
        }
    return picture;
}

// Waits until the first status panel reads Text.
inline testing::AssertionResult WaitForStatus(HWND StatusBar, const std::string &Text,
                                              DWORD TimeoutMs = DefaultTimeoutMs) {
    if (WaitUntil(
            [&] {
                const std::vector<std::string> texts = StatusBarTexts(StatusBar);
                return !texts.empty() && texts[0] == Text;
            },
            TimeoutMs))
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "status panels: " << testing::PrintToString(StatusBarTexts(StatusBar));
}

} // namespace e2e
