// The parameter text of small fractals for the render tests and their helper program, written
// by a fractal document the way fractal windows write it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "CompPersistent.h"
#include "FracCalculate.h"
#include "FracDocument.h"
#include "FracLayer.h"
#include "FracMethods.h"

inline std::string RenderFixtures() {
    return std::string(TEST_DATA_DIR) + "documents\\data\\FracPersistent_fixtures.ofm";
}

inline bool FileThere(const std::string &FileName) {
    return GetFileAttributesA(FileName.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// One fractal layer's settings for the parameter text.
struct TTestLayer {
    std::string Center = "-0.5/0";
    std::string Magnification = "1";
    std::int32_t MaxIter = 40;
    std::uint8_t Method = dmGuessing;
    bool Transparent = false;
    std::int32_t Opacity = 100;
};

// The parameter entry Name of a fractal of the given size and layers (index 0 the top layer),
// written the way fractal windows write them.
inline std::string FractalEntryText(const std::string &Name, std::int32_t Width, std::int32_t Height,
                                    std::initializer_list<TTestLayer> Layers,
                                    const std::string &Title = "Test") {
    TCalculateManager manager(1);
    TCustomFractal fractal(&manager);
    fractal.BeginChange();
    fractal.SetImageSize(Width, Height);
    fractal.SetTitle(Title);
    int index = 0;
    for (const TTestLayer &settings : Layers) {
        TLayer &layer = index == 0 ? *fractal.GetActiveLayer() : *fractal.DuplicateLayer("Layer");
        layer.GetFormula().SetSource(RenderFixtures(), "Mandel");
        layer.GetFormula().SetMaxIter(settings.MaxIter);
        layer.SetMethod(settings.Method);
        const std::size_t slash = settings.Center.find('/');
        layer.GetMapping().Center.SetText(settings.Center.substr(0, slash),
                                          settings.Center.substr(slash + 1));
        layer.GetMapping().Magnification.SetText(settings.Magnification);
        layer.SetTransparent(settings.Transparent);
        layer.SetOpacity(settings.Opacity);
        ++index;
    }
    fractal.EndChange();
    fractal.PauseCalculation();
    TParWriter writer;
    fractal.WriteParameters(writer, 0);
    writer.Finish();
    std::string text;
    writer.GetEntryText(Name, false, text);
    return text;
}
