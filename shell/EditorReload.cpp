#include "EditorReload.h"

#include <memory>

#include "CompFileManager.h"
#include "FormFractal.h"
#include "FracColoring.h"
#include "FracDocument.h"
#include "FracFormula.h"
#include "FracLayer.h"
#include "FracMapping.h"
#include "FracTransform.h"
#include "Forms.h"
#include "SysUtils.h"

namespace {

class TFormulaReloader {
public:
    void FilesChanged(TFileManager *, TStrings *Changed) {
        if (!Changed || !Screen)
            return;
        std::vector<std::string> files;
        for (int i = 0; i < Changed->Count(); ++i)
            files.push_back(Changed->Strings(i));
        for (int i = 0; i < Screen->FormCount(); ++i)
            if (auto *window = dynamic_cast<TFractalForm *>(Screen->Forms(i)))
                ReloadChangedFormulas(window->Fractal(), files);
    }
};

std::unique_ptr<TFormulaReloader> Reloader;

bool Listed(const std::vector<std::string> &Files, const std::string &Name) {
    for (const std::string &file : Files)
        if (!Name.empty() && SameText(file, Name))
            return true;
    return false;
}

} // namespace

int ReloadChangedFormulas(TCustomFractal &Document, const std::vector<std::string> &Files) {
    std::vector<TFormulaBase *> objects;
    TLayerList &layers = Document.GetLayers();
    for (int i = 0; i < layers.Count(); ++i) {
        TLayer &layer = layers.Items(i);
        for (TFormulaBase *object : {static_cast<TFormulaBase *>(&layer.GetFormula()),
                                     static_cast<TFormulaBase *>(&layer.GetInsideColoring()),
                                     static_cast<TFormulaBase *>(&layer.GetOutsideColoring())})
            if (Listed(Files, object->GetFileName()))
                objects.push_back(object);
        TTransformList &transforms = layer.GetMapping().GetTransformations();
        for (int t = 0; t < transforms.GetCount(); ++t)
            if (Listed(Files, transforms.GetItem(t).GetFileName()))
                objects.push_back(&transforms.GetItem(t));
    }
    if (objects.empty())
        return 0;
    Document.BeginChange();
    try {
        for (TFormulaBase *object : objects) {
            object->BeginUpdate();
            try {
                object->ReloadSource();
            } catch (...) {
                object->EndUpdate();
                throw;
            }
            object->EndUpdate();
        }
    } catch (...) {
        Document.EndChangeCaption("Reload Formula");
        throw;
    }
    Document.EndChangeCaption("Reload Formula");
    return static_cast<int>(objects.size());
}

void InitializeEditorReload() {
    Reloader = std::make_unique<TFormulaReloader>();
    if (FileManager())
        FileManager()->Subscribe(MakeEvent<&TFormulaReloader::FilesChanged>(Reloader.get()));
}

void FinalizeEditorReload() {
    if (Reloader && FileManager())
        FileManager()->Unsubscribe(MakeEvent<&TFormulaReloader::FilesChanged>(Reloader.get()));
    Reloader.reset();
}
