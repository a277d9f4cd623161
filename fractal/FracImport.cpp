#include "FracImport.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "CompDefinitions.h"
#include "CompEntries.h"
#include "CompFileManager.h"
#include "CompMessages.h"
#include "CompParams.h"
#include "FracColoring.h"
#include "FracFormula.h"
#include "FracImportTypes.h"
#include "FracMapping.h"
#include "FracTransform.h"
#include "GenSetup.h"
#include "GenUtils.h"
#include "HugeBase.h"
#include "HugeOper.h"

namespace {

const char *const FormulaFile = "Fractint.ofm";
const char *const ColoringFile = "Fractint.ocl";
const char *const TransformFile = "Fractint.oxf";

bool FixedAspectRatio() {
    return !ConfigManager() || !ConfigManager()->Fractal || ConfigManager()->Fractal->ImportFixedAspectRatio;
}

bool SmoothColoring() {
    return !ConfigManager() || !ConfigManager()->Fractal || ConfigManager()->Fractal->ImportSmoothColoring;
}

// An integer, or a float rounded to one; false for anything else.
bool ToInteger(const std::string &Text, std::int32_t &Value) {
    if (TryStrToInt(Text, Value))
        return true;
    long double x;
    if (!TryStrToFloat(Text, x) || !std::isfinite(x) || std::fabs(x) > 2147483647.0L)
        return false;
    Value = static_cast<std::int32_t>(std::lround(x));
    return true;
}

TParam *FindParam(const TFormulaBase &Object, const std::string &Name, std::uint8_t Type) {
    const TParamList &params = Object.GetParams();
    const int index = params.IndexOfName(Name, Type == vtFunction ? pkFunction : pkOrdinary);
    TParam *param = index < 0 ? nullptr : params.GetItem(index);
    return param && param->Type == Type ? param : nullptr;
}

// Setters by name: a parameter of that name and type gets the value; otherwise nothing happens.
// Values outside a parameter's range are refused by the parameter itself.
void SetIntParam(const TFormulaBase &Object, const std::string &Name, std::int32_t Value) {
    if (TParam *param = FindParam(Object, Name, vtInteger))
        static_cast<TIntParam *>(param)->SetValue(Value);
}

void SetBoolParam(const TFormulaBase &Object, const std::string &Name, bool Value) {
    if (TParam *param = FindParam(Object, Name, vtBoolean))
        static_cast<TBoolParam *>(param)->SetValue(Value);
}

void SetFloatText(TFloatParam &Param, const std::string &Text) {
    try {
        Param.Value.SetText(Text);
    } catch (const EFloatValueError &) {
        // Out of the parameter's range: the value stays.
    }
}

void SetFloatParam(const TFormulaBase &Object, const std::string &Name, const std::string &Text) {
    if (TParam *param = FindParam(Object, Name, vtFloat))
        SetFloatText(*static_cast<TFloatParam *>(param), Text);
}

void SetComplexText(TComplexParam &Param, const std::string &Re, const std::string &Im) {
    try {
        Param.Value.SetText(Re, Im);
    } catch (const EFloatValueError &) {
    }
}

void SetFunctionParam(TParam &Param, const std::string &Name) {
    const int id = FunctionNameToId(LowerCase(Name));
    if (id >= FirstUserFunctionId && id <= LastUserFunctionId)
        static_cast<TFuncParam &>(Param).SetValue(static_cast<std::uint8_t>(id));
}

// Whether the list begins with the "ViewWindow" transformation.
bool StartsWithViewWindow(TTransformList &Transformations) {
    return Transformations.GetCount() > 0 &&
           SameText(Transformations.GetItem(0).GetEntryName(), "ViewWindow");
}

// Whether the formula file holds an entry of that name (letter case ignored); false for a file
// that cannot be read.
bool HoldsEntry(const std::string &FileName, const std::string &EntryName) {
    if (!FileManager())
        return false;
    try {
        TEntryFileReference file(FileManager()->OpenFile(FileName, false));
        if (!file.Get())
            return false;
        TEntryCollectionLock lock(*file);
        return file->IndexOfName(EntryName) >= 0;
    } catch (const Exception &) {
        return false;
    }
}

// The formula file for a "formula" entry that names no file, searched as Fractint searches its
// formula files: the shipped "Fractint.ofm", then the formula files of the formula folder and of
// the search paths, in that order, each folder's files by name. "Fractint.ofm" when none holds the
// entry, so that the missing-formula handling names the entry.
std::string FindFormulaFile(const std::string &EntryName) {
    const char *const shipped = "Fractint.ofm";
    if (!ConfigManager() || !ConfigManager()->Folder)
        return shipped;
    const TFolderConfiguration &folders = *ConfigManager()->Folder;
    std::vector<std::string> paths{folders.Formula};
    for (int i = 0; i < folders.SearchPaths->Count(); ++i)
        paths.push_back(folders.SearchPaths->Strings(i));
    if (!paths.front().empty() && HoldsEntry(AddTrailingBackslash(paths.front()) + shipped, EntryName))
        return shipped;
    for (const std::string &path : paths) {
        if (Trim(path).empty())
            continue;
        const std::string folder = AddTrailingBackslash(Trim(path));
        for (const char *mask : {"*.frm", "*.ofm"}) {
            std::vector<std::string> names;
            TFileEnumerator files(folder + mask, 0);
            while (files.Next())
                names.push_back(files.GetName());
            std::sort(names.begin(), names.end(),
                      [](const std::string &A, const std::string &B) { return LowerCase(A) < LowerCase(B); });
            for (const std::string &name : names)
                if (HoldsEntry(folder + name, EntryName))
                    return folder + name;
        }
    }
    return shipped;
}

// A float parameter's text for a computed value.
std::string FloatText(long double X) {
    return FloatToStrF(X, ffGeneral, 19, 0);
}

} // namespace

// --- Value lists --------------------------------------------------------------------------------

TStringValues::TStringValues(const std::string &Value) {
    std::size_t start = 0;
    while (Count < MaxCount) {
        const std::size_t slash = Value.find('/', start);
        Items[static_cast<std::size_t>(Count++)] =
            Trim(Value.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
}

TFloatValues::TFloatValues(const std::string &Value) {
    const TStringValues parts(Value);
    for (; Count < parts.Count; ++Count)
        Items[static_cast<std::size_t>(Count)].SetText(parts.Items[static_cast<std::size_t>(Count)]);
}

// --- Reading the entry --------------------------------------------------------------------------

TFractintImporter::TFractintImporter(TCustomFractal &AFractal) : FFractal(AFractal) {}

void TFractintImporter::Fail(const TKeyPosition &Position) const {
    throw EImportError("Invalid Fractint parameter value in entry \"%s\" at position (%d:%d), key \"%s\".",
                       FEntryName, Position.Line, Position.Column, Position.Key);
}

void TFractintImporter::Warn(const std::string &Option, const std::string &Instead) {
    const std::string text = Format("Entry \"%s\": the Fractint option \"%s\" is not reproduced; %s.",
                                    FEntryName, Option, Instead);
    if (std::find(Warnings.begin(), Warnings.end(), text) == Warnings.end())
        Warnings.push_back(text);
}

void TFractintImporter::Import(TParReader &Reader) {
    ReadEntry(Reader);
    Apply(Reader);
}

void TFractintImporter::ReadEntry(TParReader &Reader) {
    FEntryName = Reader.Name();
    for (;;) {
        const std::string key = Reader.Next();
        if (key.empty()) {
            const std::string section = Reader.GetSectionName();
            if (section.empty())
                break;
            // No sections in these entries: a header (such as a formula written into the
            // parameter file) is passed over.
            Warn(section + ":", "the section is passed over");
            continue;
        }
        ReadKey(Reader, TKeyPosition{key, Reader.KeyLine() + 1, Reader.KeyColumn() + 1});
    }
    if (FType != "formula") {
        const std::string type = FType.empty() ? "mandel" : FType;
        const TFractintType *known = FindFractintType(type);
        if (known && !known->EscapeTime)
            throw EImportError("Entry \"%s\": the Fractint type \"%s\" is not supported: it draws no "
                               "escape-time image, and no formula can reproduce it.",
                               FEntryName, type);
    }
}

std::vector<std::string> TFractintImporter::ReadNumbers(const std::string &Value,
                                                        const TKeyPosition &Position) {
    try {
        const TFloatValues values(Value);
        std::vector<std::string> texts;
        for (int i = 0; i < values.Count; ++i)
            texts.push_back(values.Items[static_cast<std::size_t>(i)].GetText());
        return texts;
    } catch (const EFloatValueError &) {
        Fail(Position);
    }
}

void TFractintImporter::ReadKey(TParReader &Reader, const TKeyPosition &Position) {
    const std::string &key = Position.Key;
    const std::string &value = Reader.GetValue();
    const std::string lower = LowerCase(Trim(value));
    std::int32_t number = 0;
    if (key == "type") {
        FType = lower;
    } else if (key == "formulaname") {
        FFormulaName = Trim(value);
    } else if (key == "formulafile") {
        FFormulaFile = Trim(value);
    } else if (key == "map") {
        Warn("map=" + Trim(value), "the entry's own colours are used");
    } else if (key == "symmetry") {
        Warn("symmetry=" + lower, "every pixel is calculated");
    } else if (key == "passes") {
        if (lower == "o")
            Warn("passes=o", "the image is drawn line by line");
        if (lower == "g" || (lower.size() == 2 && lower[0] == 'g'))
            FMethod = dmGuessing;
        else if (lower == "2" || lower == "3")
            FMethod = dmMultiPass;
        else
            FMethod = dmLinear;
    } else if (key == "params") {
        FParams = ReadNumbers(value, Position);
    } else if (key == "function") {
        const TStringValues names(value);
        FFunctions.assign(names.Items.begin(), names.Items.begin() + names.Count);
    } else if (key == "maxiter") {
        if (!ToInteger(Trim(value), number))
            Fail(Position);
        FMaxIter = std::max(number - 1, 1);
    } else if (key == "corners" || key == "center-mag") {
        TViewKey view{Position, key == "corners", ReadNumbers(value, Position)};
        // Tried on a location of its own, so that a view no location can show (a zero
        // magnification, corners whose distance overflows) is refused before anything changes.
        TMapping trial;
        trial.SetWidth(640);
        trial.SetHeight(480);
        ImportView(trial, view);
        FViews.push_back(std::move(view));
    } else if (key == "viewwindows") {
        // xx/ratio/crop/width/height; the crop flag is a word.
        const TStringValues parts(value);
        FViewWindowPosition = Position;
        FHasViewWindow = parts.Count >= 2;
        if (!FHasViewWindow)
            return;
        auto number = [&](int Index) {
            long double x = 0;
            if (Index < parts.Count && !TryStrToFloat(parts.Items[static_cast<std::size_t>(Index)], x))
                Fail(Position);
            return x;
        };
        FViewRatio = number(1);
        if (!(FViewRatio >= 0.1L && FViewRatio <= 10))
            FViewRatio = 0.75L;
        // The size, derived here, is checked here, so that a size no document can take leaves
        // the document as it was.
        long double width = number(3), height = number(4);
        if (!(width >= 0 && width <= INT32_MAX && height >= 0 && height <= INT32_MAX))
            Fail(Position);
        width = std::round(width);
        height = std::round(height);
        if (width == 0) {
            const bool config = ConfigManager() && ConfigManager()->Fractal;
            const long double defaultHeight = config ? ConfigManager()->Fractal->DefaultHeight : 480;
            width = config ? ConfigManager()->Fractal->DefaultWidth : 640;
            height = std::round(width * FViewRatio);
            if (height > defaultHeight) {
                height = defaultHeight;
                width = std::round(height / FViewRatio);
            }
        } else if (height == 0) {
            height = std::round(width * FViewRatio);
        }
        if (!(width <= INT32_MAX && height <= INT32_MAX) ||
            !ImageSizeAllowed(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), 1))
            Fail(Position);
        FViewWidth = static_cast<std::int32_t>(width);
        FViewHeight = static_cast<std::int32_t>(height);
    } else if (key == "bailout") {
        const std::vector<std::string> numbers = ReadNumbers(value, Position);
        if (numbers.empty())
            Fail(Position);
        FBailout = numbers[0];
    } else if (key == "bailoutest") {
        static const char *const tests[] = {"mod", "real", "imag", "or", "and", "manh", "manr"};
        FBailoutTest = 0;
        for (int i = 0; i < 7; ++i)
            if (lower == tests[i])
                FBailoutTest = i;
    } else if (key == "periodicity") {
        if (lower == "no")
            FPeriodicity = 0;
        else {
            if (!ToInteger(lower, number))
                number = 1;
            FPeriodicity = number < 2 ? 2 : 1; // normal, or conservative
        }
    } else if (key == "inside") {
        static const char *const modes[] = {"maxiter",  "zmag",         "bof60", "bof61",
                                            "epscross", "epsiloncross", "period"};
        FInside = lower;
        if (!ToInteger(lower, number) &&
            std::find(std::begin(modes), std::end(modes), lower) == std::end(modes)) {
            Warn("inside=" + lower, "inside pixels get colour 1");
            FInside.clear();
        }
    } else if (key == "outside") {
        static const char *const modes[] = {"iter", "real", "imag", "mult", "summ", "atan"};
        if (ToInteger(lower, number) && number >= 0 && number <= 255) {
            FOutsideKind = 0;
            FOutsideColor = number;
        } else {
            if (std::find(std::begin(modes), std::end(modes), lower) == std::end(modes))
                Warn("outside=" + lower, "outside pixels are coloured by their count");
            FOutsideKind = lower == "real"   ? 2
                           : lower == "imag" ? 3
                           : lower == "mult" ? 4
                           : lower == "summ" ? 5
                           : lower == "atan" ? 6
                                             : 1;
        }
    } else if (key == "colors") {
        const std::string text = Trim(value);
        if (!text.empty() && text[0] == '@') {
            FPaletteFile = text.substr(1);
            FHasPalette = false;
            if (!FileExists(PaletteFileName()))
                Fail(Position);
        } else {
            try {
                DecodeColors(text, FPalette);
            } catch (const EImportError &) {
                Fail(Position);
            }
            FPaletteFile.clear();
            FHasPalette = true;
        }
    } else if (key == "logmap") {
        if (lower == "yes")
            FLogMap = 1;
        else if (lower == "old")
            FLogMap = -1;
        else
            FLogMap = ToInteger(lower, number) ? number : 0;
    } else if (key == "decomp") {
        const std::vector<std::string> numbers = ReadNumbers(value, Position);
        if (numbers.empty() || !ToInteger(numbers[0], FDecomp))
            Fail(Position);
    } else if (key == "biomorph") {
        if (!ToInteger(lower, FBiomorph))
            Fail(Position);
    } else if (key == "potential") {
        // maxcolor/slope/bailout, and "16bit" as a fourth value for Fractint's 16-bit potential
        // files, which changes nothing of the image.
        TStringValues parts(value);
        if (parts.Count >= 4 && LowerCase(parts.Items[3]) == "16bit")
            parts.Count = 3;
        std::string numbers;
        for (int i = 0; i < parts.Count; ++i)
            numbers += (i > 0 ? "/" : "") + parts.Items[static_cast<std::size_t>(i)];
        FPotential = ReadNumbers(numbers, Position);
    } else if (key == "invert") {
        std::vector<std::string> values = ReadNumbers(value, Position);
        // Each inversion is one transformation, beside at most a "ViewWindow" and a "SkewStretch".
        if (Inverts(values) && ++FInversions > TTransformList::MaxCount - 2)
            Fail(Position);
        FInverts.push_back(std::move(values));
    }
}

// --- Applying it --------------------------------------------------------------------------------

void TFractintImporter::OpenFormula(TParReader &Reader, TFormulaBase &Object, const std::string &FileName,
                                    const std::string &EntryName) {
    std::string fileName = FileName, entryName = EntryName;
    // A file named with a folder of another machine is looked for in the formula folders.
    if (!IsRelativePath(fileName) && !FileExists(fileName))
        fileName = ExtractFileName(fileName);
    Reader.TranslateFileName(fileName, entryName);
    if (ErrorManager())
        ErrorManager()->SetFormula(&Object);
    Object.OpenEntry(Reader, fileName, entryName);
    if (!Object.GetHasError())
        return;
    Reader.CompileError(fileName, entryName);
    // An entry that does not compile would calculate nothing at all: the import stops with the
    // compiler's own message.
    std::string message;
    if (TErrorManager *messages = ErrorManager()) {
        TScopeLock<TErrorManager> lock(*messages);
        for (int i = 0; i < messages->GetCount() && message.empty(); ++i) {
            const TCompilerMessage item = messages->GetMessage(i);
            if (item.Kind == mkError)
                message = Format("%s (line %d, column %d)", item.Text, item.Line, item.Column);
        }
    }
    if (message.empty())
        message = Format("error at line %d, column %d", Object.GetErrorLine(), Object.GetErrorColumn());
    throw EImportError("Entry \"%s\": the formula \"%s\" of \"%s\" does not compile: %s", FEntryName,
                       entryName, ExtractFileName(fileName), message);
}

void TFractintImporter::InsertTransformation(TParReader &Reader, int Index, const std::string &EntryName) {
    TMapping &mapping = FLayer->GetMapping();
    std::unique_ptr<TTransform> transform = mapping.CreateTransformation();
    OpenFormula(Reader, *transform, TransformFile, EntryName);
    mapping.GetTransformations().Insert(Index, transform);
}

void TFractintImporter::Apply(TParReader &Reader) {
    // The layer is built apart from the document, which takes it (and its size) only once it is
    // complete: a failure leaves the document as it was.
    const bool takeSize = SetSize && FHasViewWindow;
    std::unique_ptr<TLayer> layer = FFractal.CreateLayerOfSize(takeSize ? FViewWidth : FFractal.GetWidth(),
                                                               takeSize ? FViewHeight : FFractal.GetHeight());
    layer->SetCaption("Background");
    FLayer = layer.get();
    FLayer->BeginUpdate();
    try {
        OpenFormula(Reader, FLayer->GetInsideColoring(), ColoringFile, "inside");
        FLayer->GetInsideColoring().SetTransfer(1); // linear
        if (FixedAspectRatio())
            InsertTransformation(Reader, 0, "ViewWindow");

        if (FType == "formula") {
            if (!FFormulaName.empty())
                OpenFormula(Reader, FLayer->GetFormula(),
                            FFormulaFile.empty() ? FindFormulaFile(FFormulaName) : FFormulaFile,
                            FFormulaName);
        } else {
            std::string entry = FType.empty() ? "mandel" : FType;
            std::replace(entry.begin(), entry.end(), '(', '[');
            std::replace(entry.begin(), entry.end(), ')', ']');
            // A built-in type that the shipped formula file has no formula for is refused by name;
            // without the file at all, the missing-formula handling asks for it.
            if (FindFractintType(FType.empty() ? "mandel" : FType) && ConfigManager() &&
                ConfigManager()->Folder) {
                const std::string shipped =
                    AddTrailingBackslash(ConfigManager()->Folder->Formula) + FormulaFile;
                if (FileExists(shipped) && !HoldsEntry(shipped, entry))
                    throw EImportError("Entry \"%s\": the Fractint type \"%s\" is not supported yet: "
                                       "\"%s\" has no formula for it.",
                                       FEntryName, FType, FormulaFile);
            }
            OpenFormula(Reader, FLayer->GetFormula(), FormulaFile, entry);
        }
        if (FMethod >= 0)
            FLayer->SetMethod(static_cast<std::uint8_t>(FMethod));
        if (FPeriodicity >= 0)
            FLayer->GetFormula().SetPeriodicity(static_cast<std::uint8_t>(FPeriodicity));

        if (FViews.empty()) {
            // No view in the entry: Fractint shows the type's own.
            const TFractintType *type = FindFractintType(FType.empty() ? "mandel" : FType);
            if (!type)
                type = FindFractintType("formula");
            TViewKey view{TKeyPosition{"corners", 0, 0}, true, {}};
            view.Values.assign(std::begin(type->Corners), std::end(type->Corners));
            FViews.push_back(std::move(view));
        }
        if (FHasViewWindow)
            ImportViewWindow(Reader);
        for (const TViewKey &view : FViews)
            ImportView(FLayer->GetMapping(), view);
        for (const std::vector<std::string> &invert : FInverts)
            ImportInvert(Reader, invert);
        ImportInside();
        ImportColors();

        ImportSkewStretch(Reader, FXMag * FAspect, FSkew);
        FLayer->GetFormula().SetMaxIter(FMaxIter);
        // The potential wins over decomposition, and its bailout replaces the entry's own.
        // A potential bailout of 0 keeps the entry's own.
        const bool potential = !FPotential.empty();
        if (potential && FPotential.size() >= 3 && FloatTextToExtended(FPotential[2]) != 0)
            FBailout = FPotential[2];
        if (FType == "formula")
            ImportParams();
        else
            ImportBailout();

        const bool decomp = !potential && FDecomp >= 0;
        if (potential)
            ImportPotential(Reader);
        else if (decomp)
            ImportDecomp(Reader);
        else if (FType == "newtbasin" || FType == "complexbasin")
            ImportBasin(Reader);
        else
            ImportBiomorph(Reader);
        SetBoolParam(FLayer->GetInsideColoring(), "smooth", SmoothColoring());
        SetBoolParam(FLayer->GetOutsideColoring(), "smooth", SmoothColoring());
        // Decomposition into few sectors keeps its sharp edges whatever the option says.
        if (decomp && FDecomp < 7)
            SetBoolParam(FLayer->GetOutsideColoring(), "smooth", false);
    } catch (...) {
        FLayer->EndUpdate();
        FLayer = nullptr;
        throw;
    }
    FLayer->EndUpdate();
    FLayer = nullptr;
    for (const std::string &warning : Warnings)
        Reader.LoadWarning(warning);
    std::vector<std::unique_ptr<TLayer>> layers;
    layers.push_back(std::move(layer));
    FFractal.InstallLayers(std::move(layers), takeSize ? FViewWidth : FFractal.GetWidth(),
                           takeSize ? FViewHeight : FFractal.GetHeight());
    FFractal.SetActiveLayer(0);
    if (OnProgress)
        OnProgress(&FFractal, 100);
}

void TFractintImporter::ImportView(TMapping &Mapping, const TViewKey &View) {
    try {
        if (View.Corners)
            ImportCorners(Mapping, View);
        else
            ImportCenterMag(Mapping, View);
    } catch (const Exception &) {
        // A view that no location can show (a magnification out of range, a skew of 90 degrees,
        // corners whose distance overflows).
        Fail(View.Position);
    }
}

bool TFractintImporter::Upright(const TViewKey &View) {
    const std::vector<std::string> &v = View.Values;
    return !View.Corners && v.size() >= 3 && (v.size() < 5 || FloatTextToExtended(v[4]) == 0) &&
           (v.size() < 6 || FloatTextToExtended(v[5]) == 0);
}

bool TFractintImporter::Inverts(const std::vector<std::string> &Values) {
    return !Values.empty() && FloatTextToExtended(Values[0]) != 0;
}

std::string TFractintImporter::PaletteFileName() const {
    std::string fileName = FPaletteFile;
    if (IsRelativePath(fileName) && ConfigManager() && ConfigManager()->Folder)
        fileName = AddTrailingBackslash(ConfigManager()->Folder->Gradient) + fileName;
    return fileName;
}

void TFractintImporter::ImportPixelCorners(TMapping &Mapping, const std::string &XMin,
                                           const std::string &XMax, const std::string &YMin,
                                           const std::string &YMax) {
    const std::int32_t w = Mapping.GetWidth(), h = Mapping.GetHeight();
    if (w < 2 || h < 2)
        return;
    // Enough digits for the centre at the depth of the view: 40 beyond the digits of its size.
    const long double extent = std::min(std::fabs(FloatTextToExtended(XMax) - FloatTextToExtended(XMin)),
                                        std::fabs(FloatTextToExtended(YMax) - FloatTextToExtended(YMin)));
    int digits = 40;
    if (extent > 0 && extent < 1)
        digits = static_cast<int>(std::min<long double>(40 - std::log10(extent), HugeMaxDigits));
    auto number = [digits](const std::string &Text) {
        THugeFloat x(digits);
        x.SetText(Text);
        return x;
    };
    // dx = (xmax - xmin) / (W - 1), dy = (ymax - ymin) / (H - 1).
    THugeFloat dx = number(XMax), dy = number(YMax);
    dx.Subtract(number(XMin));
    dx.DivideInteger(w - 1);
    dy.Subtract(number(YMin));
    dy.DivideInteger(h - 1);
    if (dx.IsZero() || dy.IsZero() || dx.Sign() < 0 || dy.Sign() < 0)
        throw EFloatValueError("Floating-point number out of range: '%s'", XMax);
    // The location's pixel x lies (x - W div 2) steps right of its centre, pixel y (H div 2 - y)
    // steps above it: pixel 0 is xmin, row 0 is ymax.
    THugeFloat centerRe(dx), centerIm(dy);
    centerRe.MultiplyInteger(w / 2);
    centerRe.Add(number(XMin));
    centerIm.MultiplyInteger(-(h / 2));
    centerIm.Add(number(YMax));
    // The location's step down is 3 / (M H) for a wide image, 4 / (M W) for a tall one; its step
    // across is that divided by the stretch.
    THugeFloat magnification(digits);
    magnification.SetInteger(3LL * w > 4LL * h ? 3 : 4);
    magnification.Divide(dy);
    magnification.DivideInteger(3LL * w > 4LL * h ? h : w);
    THugeFloat stretch(dy);
    stretch.Divide(dx);
    // Corners whose distance overflows, or whose pixels no location can tell apart, make no view.
    const long double m = magnification.GetExtended(), k = stretch.GetExtended();
    if (!(std::isnormal(m) && m <= 1e4000L && std::isnormal(k)))
        throw EFloatValueError("Floating-point number out of range: '%s'", magnification.GetText());
    Mapping.BeginUpdate();
    try {
        Mapping.AngleDegrees.SetValue(0);
        Mapping.Skew.SetValue(0);
        Mapping.Stretch.SetText(stretch.GetText());
        Mapping.Magnification.SetText(magnification.GetText());
        Mapping.Center.SetText(centerRe.GetText(), centerIm.GetText());
    } catch (...) {
        Mapping.EndUpdate();
        throw;
    }
    Mapping.EndUpdate();
}

void TFractintImporter::ImportCenterMag(TMapping &Mapping, const TViewKey &View) {
    const std::vector<std::string> &v = View.Values;
    if (v.size() < 3)
        return;
    TMapping &mapping = Mapping;
    if (Upright(View)) {
        // The corners Fractint derives, whatever the window's ratio: half the height 1 / mag,
        // half the width 4/3 of that divided by xmag.
        const long double mag = FloatTextToExtended(v[2]);
        const long double xmag = v.size() >= 4 ? FloatTextToExtended(v[3]) : 1;
        if (!(mag > 0) || !(xmag > 0))
            throw EFloatValueError("Floating-point number out of range: '%s'", v[2]);
        const int digits = static_cast<int>(
            std::min<long double>(40 + std::max<long double>(0, std::log10(mag)), HugeMaxDigits));
        auto corner = [&](const std::string &Center, long double Half) {
            THugeFloat c(digits), h(digits);
            c.SetText(Center);
            h.SetExtended(Half);
            THugeFloat low(c);
            low.Subtract(h);
            c.Add(h);
            return std::pair<std::string, std::string>(low.GetText(), c.GetText());
        };
        const auto x = corner(v[0], 4.0L / 3 / (mag * xmag)), y = corner(v[1], 1 / mag);
        ImportPixelCorners(mapping, x.first, x.second, y.first, y.second);
        return;
    }
    mapping.Center.SetText(v[0], v[1]);
    mapping.Magnification.SetValue(FloatTextToExtended(v[2]) * 1.5L);
    // Fractint writes xmag as the 4th value whenever it writes more than the magnification.
    if (v.size() >= 4)
        FXMag = FloatTextToExtended(v[3]);
    if (v.size() >= 5) {
        long double angle = -FloatTextToExtended(v[4]);
        angle = std::fmod(angle, 360.0L);
        while (angle < 0)
            angle += 360;
        mapping.AngleDegrees.SetValue(angle);
        FSkew = v.size() >= 6 ? FloatTextToExtended(v[5]) : 0;
    }
}

void TFractintImporter::ImportCorners(TMapping &Mapping, const TViewKey &View) {
    const std::vector<std::string> &v = View.Values;
    if (v.size() < 4)
        return;
    // An upright view (no third corner, or one that is the bottom left corner itself).
    if (v.size() < 6 || (FloatTextToExtended(v[4]) == FloatTextToExtended(v[0]) &&
                         FloatTextToExtended(v[5]) == FloatTextToExtended(v[2]))) {
        ImportPixelCorners(Mapping, v[0], v[1], v[2], v[3]);
        return;
    }
    // xmin/xmax/ymin/ymax[/x3rd/y3rd]: left top (xmin, ymax), right bottom (xmax, ymin).
    std::string rightTopRe = v[1], rightTopIm = v[3];
    if (v.size() >= 6) {
        // A rotated or skewed view names its bottom-left corner: right top = left top + right
        // bottom - bottom left, at a precision that tells the corners apart.
        auto differs = [&](int Digits) {
            auto difference = [&](const std::string &A, const std::string &B) {
                THugeFloat a(Digits), b(Digits);
                a.SetText(A);
                b.SetText(B);
                a.Subtract(b);
                return !a.IsZero();
            };
            return difference(v[0], v[1]) || difference(v[3], v[2]);
        };
        int digits = 40;
        while (!differs(digits) && digits < HugeMaxDigits)
            digits = std::min(digits * 2, HugeMaxDigits);
        auto corner = [&](const std::string &A, const std::string &B, const std::string &C) {
            THugeFloat a(digits), b(digits), c(digits);
            a.SetText(A);
            b.SetText(B);
            c.SetText(C);
            a.Add(b);
            a.Subtract(c);
            return a.GetText();
        };
        rightTopRe = corner(v[0], v[1], v[4]);
        rightTopIm = corner(v[3], v[2], v[5]);
    }
    Mapping.SetCorners(v[0], v[3], v[1], v[2], rightTopRe, rightTopIm);
}

void TFractintImporter::ImportViewWindow(TParReader &Reader) {
    TTransformList &transformations = FLayer->GetMapping().GetTransformations();
    if (!FixedAspectRatio() && !StartsWithViewWindow(transformations))
        InsertTransformation(Reader, 0, "ViewWindow");
    // Corners name the region the window shows, whatever its ratio: the location made from them
    // fits them into the image already, and a correction for the ratio would distort them. So
    // does an upright centre and magnification, which names corners too.
    if (!FViews.empty() && (FViews.back().Corners || Upright(FViews.back())))
        return;
    if (transformations.GetCount() > 0)
        SetFloatParam(transformations.GetItem(0), "ar", FloatText(FViewRatio));
    FAspect = 0.75L / FViewRatio;
}

void TFractintImporter::ImportSkewStretch(TParReader &Reader, long double XMag, long double Skew) {
    if (XMag == 1 && Skew == 0)
        return;
    TTransformList &transformations = FLayer->GetMapping().GetTransformations();
    const int at = StartsWithViewWindow(transformations) ? 1 : 0;
    InsertTransformation(Reader, at, "SkewStretch");
    TTransform &transform = transformations.GetItem(at);
    SetFloatParam(transform, "skew", FloatText(Skew));
    SetFloatParam(transform, "xmag", FloatText(XMag));
}

void TFractintImporter::ImportInvert(TParReader &Reader, const std::vector<std::string> &Values) {
    if (!Inverts(Values))
        return;
    TMapping &mapping = FLayer->GetMapping();
    TTransformList &transformations = mapping.GetTransformations();
    const int at = transformations.GetCount();
    InsertTransformation(Reader, at, "Inverse");
    TTransform &transform = transformations.GetItem(at);
    SetFloatParam(transform, "radius", Values[0]);
    if (TParam *center = FindParam(transform, "center", vtComplex)) {
        if (Values.size() >= 3)
            SetComplexText(*static_cast<TComplexParam *>(center), Values[1], Values[2]);
        else {
            // The middle of the view Fractint shows: for an even size that lies between pixels,
            // half a pixel off the location's centre pixel.
            TComplexValue middle;
            mapping.PointToLocation(middle, (mapping.GetWidth() - 1) / 2.0L,
                                    (mapping.GetHeight() - 1) / 2.0L);
            SetComplexText(*static_cast<TComplexParam *>(center), middle.Re.GetText(), middle.Im.GetText());
        }
    }
}

void TFractintImporter::ImportInside() {
    if (FInside.empty())
        return;
    TColoring &inside = FLayer->GetInsideColoring();
    std::int32_t mode = 0, number;
    if (ToInteger(FInside, number) && number >= -1 && number <= 255)
        SetIntParam(inside, "n", number);
    else if (FInside == "maxiter")
        SetIntParam(inside, "n", -1);
    else if (FInside == "zmag")
        mode = 1;
    else if (FInside == "bof60")
        mode = 2;
    else if (FInside == "bof61")
        mode = 3;
    else if (FInside == "epscross" || FInside == "epsiloncross")
        mode = 4;
    else if (FInside == "period")
        mode = 5;
    SetIntParam(inside, "inside", mode);
}

void TFractintImporter::ImportColors() {
    if (!FPaletteFile.empty()) {
        FLayer->GetGradient().LoadFromMapFile(PaletteFileName(), true);
    } else if (FHasPalette) {
        // The gradient takes blue, green, red.
        std::array<std::uint8_t, 256 * 3> bgr;
        for (int i = 0; i < 256; ++i) {
            bgr[static_cast<std::size_t>(i * 3)] = FPalette[static_cast<std::size_t>(i * 3 + 2)];
            bgr[static_cast<std::size_t>(i * 3 + 1)] = FPalette[static_cast<std::size_t>(i * 3 + 1)];
            bgr[static_cast<std::size_t>(i * 3 + 2)] = FPalette[static_cast<std::size_t>(i * 3)];
        }
        FLayer->GetGradient().ColorItems().LoadFromPalette(bgr.data(), true);
    }
}

void TFractintImporter::ImportBailout() {
    const TFormula &formula = FLayer->GetFormula();
    if (!FBailout.empty() && FloatTextToExtended(FBailout) >= 0)
        SetFloatParam(formula, "bailout", FBailout);
    SetIntParam(formula, "test", FBailoutTest);
    // "params" numbers go to the parameters in list order. The bailout and its test are set by
    // name above: surplus numbers must not overwrite them.
    const TParamList &params = formula.GetParams();
    std::size_t next = 0;
    for (int i = 0; i < params.GetCount() && next < FParams.size(); ++i) {
        TParam &param = *params.GetItem(i);
        if (SameText(param.GetName(), "bailout") || SameText(param.GetName(), "test"))
            continue;
        switch (param.Type) {
        case vtComplex: {
            const std::string re = FParams[next++];
            const std::string im = next < FParams.size() ? FParams[next++] : "0";
            SetComplexText(static_cast<TComplexParam &>(param), re, im);
            break;
        }
        case vtFloat:
            SetFloatText(static_cast<TFloatParam &>(param), FParams[next++]);
            break;
        case vtInteger: {
            std::int32_t value;
            if (ToInteger(FParams[next++], value))
                static_cast<TIntParam &>(param).SetValue(value);
            break;
        }
        default:
            ++next;
            break;
        }
    }
    std::size_t function = 0;
    for (int i = 0; i < params.GetCount() && function < FFunctions.size(); ++i)
        if (params.GetItem(i)->Type == vtFunction)
            SetFunctionParam(*params.GetItem(i), FFunctions[function++]);
    // mandelfn and lambdafn leave by one part of z: the imaginary part grows for the sine and
    // cosine types, the real part for the others.
    const std::string first = FFunctions.empty() ? "sin" : LowerCase(FFunctions[0]);
    SetIntParam(formula, "axis", first == "sin" || first == "cos" || first == "cosxx" ? 0 : 1);
}

void TFractintImporter::ImportParams() {
    const TFormula &formula = FLayer->GetFormula();
    for (std::size_t i = 0; i < FParams.size(); i += 2) {
        TParam *param = FindParam(formula, "p" + std::to_string(i / 2 + 1), vtComplex);
        if (param)
            SetComplexText(static_cast<TComplexParam &>(*param), FParams[i],
                           i + 1 < FParams.size() ? FParams[i + 1] : "0");
    }
    for (std::size_t i = 0; i < FFunctions.size(); ++i)
        if (TParam *param = FindParam(formula, "fn" + std::to_string(i + 1), vtFunction))
            SetFunctionParam(*param, FFunctions[i]);
}

void TFractintImporter::ImportBiomorph(TParReader &Reader) {
    TColoring &outside = FLayer->GetOutsideColoring();
    OpenFormula(Reader, outside, ColoringFile, "outside");
    SetIntParam(outside, "outside", FOutsideKind);
    SetIntParam(outside, "n", FOutsideColor);
    SetIntParam(outside, "logmap", FLogMap);
    SetIntParam(outside, "biomorph", FBiomorph);
    // Fractint's biomorph test compares each part of z with the square root of the bailout.
    if (TParam *bailout = FindParam(FLayer->GetFormula(), "bailout", vtFloat)) {
        const long double limit = std::sqrt(static_cast<TFloatParam *>(bailout)->Value.GetValue());
        SetFloatParam(outside, "limit", FloatText(limit));
    }
}

void TFractintImporter::ImportDecomp(TParReader &Reader) {
    TColoring &outside = FLayer->GetOutsideColoring();
    OpenFormula(Reader, outside, ColoringFile, "decomp");
    std::int32_t halvings = 0;
    for (std::int32_t d = FDecomp; d > 2 && halvings < 8; d /= 2)
        ++halvings;
    FDecomp = halvings;
    SetIntParam(outside, "decomp", halvings);
    SetIntParam(outside, "logmap", FLogMap);
}

void TFractintImporter::ImportPotential(TParReader &Reader) {
    TColoring &outside = FLayer->GetOutsideColoring();
    OpenFormula(Reader, outside, ColoringFile, "potential");
    std::int32_t maxColor;
    if (ToInteger(FPotential[0], maxColor))
        SetIntParam(outside, "maxcol", maxColor);
    if (FPotential.size() >= 2)
        SetFloatParam(outside, "slope", FPotential[1]);
    SetIntParam(outside, "logmap", FLogMap);
}

// The basin types colour by the root an orbit came to: the coloring takes the degree and the
// stripes flag (newtbasin's "params" 1 and 2) or the exponent and root (complexbasin's 1 to 4).
void TFractintImporter::ImportBasin(TParReader &Reader) {
    TColoring &outside = FLayer->GetOutsideColoring();
    OpenFormula(Reader, outside, ColoringFile, "basin");
    auto number = [&](std::size_t Index, const char *Default) {
        return Index < FParams.size() ? FParams[Index] : std::string(Default);
    };
    if (FType == "complexbasin") {
        SetBoolParam(outside, "general", true);
        if (TParam *a = FindParam(outside, "a", vtComplex))
            SetComplexText(static_cast<TComplexParam &>(*a), number(0, "3"), number(1, "0"));
        if (TParam *b = FindParam(outside, "b", vtComplex))
            SetComplexText(static_cast<TComplexParam &>(*b), number(2, "1"), number(3, "0"));
    } else {
        const long double degree = std::round(FloatTextToExtended(number(0, "3")));
        SetFloatParam(outside, "degree", FloatText(std::max<long double>(degree, 2)));
        SetBoolParam(outside, "stripes", FloatTextToExtended(number(1, "0")) != 0);
    }
}

// --- Colours ------------------------------------------------------------------------------------

std::uint8_t TFractintImporter::DecodeColorDigit(char C) {
    int digit;
    if (C >= '0' && C <= '9')
        digit = C - '0';
    else if (C >= 'A' && C <= 'Z')
        digit = C - 'A' + 10;
    else if (C == '_')
        digit = 36;
    else if (C == '`')
        digit = 37;
    else if (C >= 'a' && C <= 'z')
        digit = C - 'a' + 38;
    else
        throw EImportError("Invalid colour digit '%s'", std::string(1, C));
    return static_cast<std::uint8_t>(digit * 255 / 63);
}

void TFractintImporter::DecodeColors(const std::string &Text, TFractintPalette &Palette) {
    Palette.fill(0);
    std::size_t at = 0;
    int index = 0;
    int run = 0;
    while (at < Text.size()) {
        if (index > 255)
            throw EImportError("Too many colours");
        if (Text[at] == '<') {
            const std::size_t close = Text.find('>', at);
            std::int32_t count;
            if (index == 0 || run > 0 || close == std::string::npos ||
                !TryStrToInt(Text.substr(at + 1, close - at - 1), count) || count < 0)
                throw EImportError("Invalid colour run");
            if (count > 255)
                throw EImportError("Too many colours");
            run = count;
            index += count;
            at = close + 1;
            continue;
        }
        if (Text.size() - at < 3)
            throw EImportError("Incomplete colour");
        const std::size_t i = static_cast<std::size_t>(index) * 3;
        for (int channel = 0; channel < 3; ++channel)
            Palette[i + static_cast<std::size_t>(channel)] =
                DecodeColorDigit(Text[at + static_cast<std::size_t>(channel)]);
        at += 3;
        if (run > 0) {
            const int from = index - run - 1;
            for (int k = 1; k <= run; ++k)
                for (int channel = 0; channel < 3; ++channel) {
                    const int a = Palette[static_cast<std::size_t>(from * 3 + channel)];
                    const int b = Palette[i + static_cast<std::size_t>(channel)];
                    Palette[static_cast<std::size_t>((from + k) * 3 + channel)] =
                        static_cast<std::uint8_t>(a + (b - a) * k / (run + 1));
                }
            run = 0;
        }
        ++index;
    }
}
