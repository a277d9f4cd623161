// A formula file written by the text editor takes effect at once: every formula, coloring and
// transformation of the open fractals that was read from a written file is read again and
// recompiled (keeping its parameter values), which recalculates the fractal.
#pragma once

#include <string>
#include <vector>

class TCustomFractal;

// Reloads the formula objects of the document whose file is one of Files (names compared without
// case), inside one change of the document. Returns how many objects were reloaded.
int ReloadChangedFormulas(TCustomFractal &Document, const std::vector<std::string> &Files);

// Subscribes to the shared file manager's change reports for the fractal windows.
void InitializeEditorReload();
void FinalizeEditorReload();
