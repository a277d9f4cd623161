// What the document tests share: a configuration with a known owner, documents of one small
// Mandelbrot layer calculated line by line, waiting for their calculation, and their pixels.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "tests/fractal/FormulaModules.h"
#include "tests/fractal/FracMessageWait.h"

#include "FracCalculate.h"
#include "FracMerge.h"
#include "FracMethods.h"
#include "FracPersistent.h"
#include "GenProgram.h"
#include "GenRegistry.h"
#include "GenSetup.h"

inline std::string DocumentDataPath(const std::string &Name) {
    return std::string(TEST_DATA_DIR) + "documents\\data\\" + Name;
}

// The configuration and the formula modules for the life of a test suite, when nothing else started
// them; the owner is Owner.
class TDocumentConfiguration {
public:
    explicit TDocumentConfiguration(const std::string &Owner) {
        FStarted = ConfigManager() == nullptr;
        if (FStarted) {
            InitializeGenProgram();
            InitializeGenRegistry();
            InitializeGenSetup();
        }
        FSavedOwner = ConfigManager()->General->Owner;
        ConfigManager()->General->Owner = Owner;
        FFormulas = FileManager() == nullptr;
        if (FFormulas)
            StartFormulaModules();
        InitMergeTables();
    }
    ~TDocumentConfiguration() {
        if (FFormulas)
            StopFormulaModules();
        ConfigManager()->General->Owner = FSavedOwner;
        if (FStarted) {
            FinalizeGenSetup();
            FinalizeGenRegistry();
            FinalizeGenProgram();
        }
    }
    TDocumentConfiguration(const TDocumentConfiguration &) = delete;
    TDocumentConfiguration &operator=(const TDocumentConfiguration &) = delete;

    static void SetOwner(const std::string &Owner) { ConfigManager()->General->Owner = Owner; }

private:
    bool FStarted;
    bool FFormulas;
    std::string FSavedOwner;
};

inline bool CalculationDone(TCustomFractal &Fractal) {
    if (!Fractal.IsCalculationDone())
        return false;
    for (int i = 0; i < Fractal.GetLayers().Count(); ++i)
        if (Fractal.GetLayers().Items(i).GetCalculationState() != csIdle)
            return false;
    return true;
}

inline void WaitCalculated(TCustomFractal &Fractal) {
    ASSERT_TRUE(WaitUntil([&] { return CalculationDone(Fractal); })) << "calculation did not end";
}

// Every byte of the layer's pixel store.
inline std::string LayerPixels(const TLayer &Layer) {
    const TLayerImage &image = Layer.GetImage();
    return std::string(reinterpret_cast<const char *>(image.Pixels()),
                       static_cast<std::size_t>(image.Width()) * image.Height() * image.BytesPerPixel());
}

// The rectangle (Left, Top) .. (Left + Width, Top + Height) of the layer's pixel store.
inline std::string LayerPixels(const TLayer &Layer, int Left, int Top, int Width, int Height) {
    const TLayerImage &image = Layer.GetImage();
    std::string pixels;
    for (int y = Top; y < Top + Height; ++y)
        pixels.append(reinterpret_cast<const char *>(image.PixelPtr(Left, y)),
                      static_cast<std::size_t>(Width) * image.BytesPerPixel());
    return pixels;
}

// Sets up the only layer of a fresh document: the Mandelbrot formula of FormulaFile with few
// iterations, drawn line by line, at the given size and location; then calculates it, and starts the
// history afresh.
template <class TDocument>
void SetUpMandelbrot(TDocument &Document, const std::string &FormulaFile, std::int32_t Width,
                     std::int32_t Height, const std::string &Center = "-0.5/0",
                     const std::string &Magnification = "1", std::int32_t MaxIter = 12) {
    Document.BeginChange();
    Document.SetImageSize(Width, Height);
    TLayer &layer = *Document.GetActiveLayer();
    layer.GetFormula().SetSource(FormulaFile, "Mandel");
    layer.GetFormula().SetMaxIter(MaxIter);
    layer.SetMethod(dmLinear);
    const std::size_t slash = Center.find('/');
    layer.GetMapping().Center.SetText(Center.substr(0, slash), Center.substr(slash + 1));
    layer.GetMapping().Magnification.SetText(Magnification);
    Document.EndChangeCaption("Set Up");
    WaitCalculated(Document);
    Document.ClearHistory();
}
