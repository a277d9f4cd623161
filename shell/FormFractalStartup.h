// Opening fractal windows for a parameter entry: the default fractal, a new fractal and the
// start-up action that opens one of them when the program starts without files.
#pragma once

#include <cstdint>
#include <string>

class TFractalForm;
class TInteractiveFractal;

// The read flags the Fractal options ask for: the entry's size (or only its aspect), resolution
// and gamma.
std::uint32_t FractalLoadFlags();
// The Fractal options' default size, resolution and gamma.
void ApplyFractalDefaults(TInteractiveFractal &Fractal);
// Reads the entry into the fractal as one undo step "Open Parameters"; a refused entry leaves the
// fractal as it was and raises.
void ReadFractalEntry(TInteractiveFractal &Fractal, const std::string &FileName, const std::string &Entry);

// A new window for the parameter entry, shown; raises when the entry cannot be read.
TFractalForm *OpenFractalEntry(const std::string &FileName, const std::string &Entry);
// The Fractal options' default entry in an untitled window.
TFractalForm *OpenDefaultFractal();
// A new fractal; without the formula browser it is the default fractal.
TFractalForm *NewFractalWindow();
// What the General option StartupAction asks for: 1 a new fractal, 3 the default fractal; the
// window opened, or nullptr.
TFractalForm *PerformStartupAction(int Action);
