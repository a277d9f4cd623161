#include "FormFractalStartup.h"

#include <memory>

#include "FileHistory.h"
#include "FormFractal.h"
#include "FracInteractive.h"
#include "GenSetup.h"

namespace {

TCustomForm *MakeFractalWindow(std::unique_ptr<TInteractiveFractal> &Fractal, const std::string &FileName,
                               const std::string &Entry) {
    TFractalForm *form = TFractalForm::CreateWithFractal(Application, std::move(Fractal));
    if (Entry.empty())
        form->SetFractalFile(FileName);
    else
        form->SetParameterEntry(FileName, Entry);
    return form;
}

} // namespace

TFractalForm *OpenDefaultFractal() {
    const TConfigManager *config = ConfigManager();
    if (!config || !config->Fractal)
        return nullptr;
    auto *form = dynamic_cast<TFractalForm *>(
        OpenParameterSetInNewWindow(config->Fractal->DefaultFile, config->Fractal->DefaultEntry));
    // An untitled document: saving asks for a name.
    if (form)
        form->SetParameterEntry("", "");
    return form;
}

TFractalForm *NewFractalWindow() {
    return OpenDefaultFractal();
}

TFractalForm *PerformStartupAction(int Action) {
    switch (Action) {
    case 1:
        return NewFractalWindow();
    case 3:
        return OpenDefaultFractal();
    default:
        return nullptr;
    }
}

void InitializeFractalWindows() {
    SetFractalWindowMaker(MakeFractalWindow);
}

void FinalizeFractalWindows() {
    SetFractalWindowMaker(nullptr);
}
