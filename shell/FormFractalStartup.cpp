#include "FormFractalStartup.h"

#include <memory>

#include "CompPersistent.h"
#include "FileHistory.h"
#include "FormFractal.h"
#include "FormMain.h"
#include "GenSetup.h"
#include "GenUtils.h"

namespace {

TFractalConfiguration *FractalOptions() {
    TConfigManager *config = ConfigManager();
    return config ? config->Fractal.get() : nullptr;
}

} // namespace

std::uint32_t FractalLoadFlags() {
    TFractalConfiguration *options = FractalOptions();
    if (!options)
        return TPersistentFractal::NormalReadFlags;
    std::uint32_t flags = 0;
    if (options->UseParameterSize)
        flags |= TCustomFractal::rfTakeSize;
    else if (options->UseParameterAspect)
        flags |= TCustomFractal::rfFitAspect;
    if (options->UseParameterResolution)
        flags |= TPersistentFractal::rfResolution;
    if (options->UseParameterGamma)
        flags |= TPersistentFractal::rfGamma;
    return flags;
}

void ApplyFractalDefaults(TInteractiveFractal &Fractal) {
    TFractalConfiguration *options = FractalOptions();
    if (!options)
        return;
    Fractal.SetImageSize(options->DefaultWidth, options->DefaultHeight);
    Fractal.GetResolution().SetText(FloatToStr(options->DefaultResolution));
    Fractal.GetGamma().SetText(FloatToStr(options->DefaultGamma));
}

void ReadFractalEntry(TInteractiveFractal &Fractal, const std::string &FileName, const std::string &Entry) {
    TParReader reader;
    reader.LoadFileEntry(FileName, Entry);
    Fractal.BeginChange();
    try {
        ApplyFractalDefaults(Fractal);
        Fractal.ReadParameters(reader, FractalLoadFlags(), TFractalProgressEvent());
    } catch (...) {
        Fractal.EndChange();
        throw;
    }
    Fractal.EndChangeCaption("Open Parameters");
}

TFractalForm *OpenFractalEntry(const std::string &FileName, const std::string &Entry) {
    auto fractal = std::make_unique<TInteractiveFractal>();
    fractal->TrackCredits = false;
    ReadFractalEntry(*fractal, FileName, Entry);
    if (TFileHistoryManager *history = FileHistoryManager()) {
        history->DocumentOpened(FileName, Entry);
        history->KeepWindowSize();
        history->SetPendingTitle(fractal->GetTitle());
    }
    TFractalForm *form = TFractalForm::CreateWithFractal(Application, std::move(fractal));
    form->SetParameterEntry(FileName, Entry);
    if (MainForm)
        MainForm->ShowMainWindow();
    if (form->Minimized())
        form->Restore();
    form->Show();
    return form;
}

TFractalForm *OpenDefaultFractal() {
    TFractalConfiguration *options = FractalOptions();
    if (!options)
        return nullptr;
    TFractalForm *form = OpenFractalEntry(options->DefaultFile, options->DefaultEntry);
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
