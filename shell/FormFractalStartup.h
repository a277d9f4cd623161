// Opening fractal windows for a parameter entry: the default fractal, a new fractal and the
// start-up action that opens one of them when the program starts without files. The open
// routines of the file history make the windows through the maker these functions register.
#pragma once

#include <string>

class TFractalForm;

// The Fractal options' default entry in an untitled window.
TFractalForm *OpenDefaultFractal();
// A new fractal; without the formula browser it is the default fractal.
TFractalForm *NewFractalWindow();
// What the General option StartupAction asks for: 1 a new fractal, 3 the default fractal; the
// window opened, or nullptr.
TFractalForm *PerformStartupAction(int Action);

// Registers (and removes) the fractal window as the window of fractal documents the file history
// opens.
void InitializeFractalWindows();
void FinalizeFractalWindows();
