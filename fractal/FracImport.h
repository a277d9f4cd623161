// The importer of Fractint parameter entries: entries of key=value items without section headers.
// It rebuilds the image as a one-layer fractal whose formula is an entry of the shipped
// "Fractint.ofm" (one entry per built-in Fractint type) or of the entry's own formula file, whose
// colorings are entries of "Fractint.ocl" and whose view corrections are transformations of
// "Fractint.oxf". The importer only opens those entries and sets their parameters by name; what
// each Fractint option computes lives in the formula files.
//
// An import runs in two steps. ReadEntry reads and checks every key without touching the document,
// so that a malformed value leaves the document as it was; Apply then replaces the document's
// layers. Errors name the key and its position in the entry.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "CompValues.h"
#include "FracDocument.h"

class TMapping;

DECLARE_EXCEPTION(EImportError, Exception);

// Up to 32 trimmed strings of a value split at '/'.
class TStringValues : public TObject {
public:
    static constexpr int MaxCount = 32;
    explicit TStringValues(const std::string &Value);
    DECLARE_CLASS_NAME(TStringValues)

    int Count = 0;
    std::array<std::string, MaxCount> Items;
};

// Up to 32 exact decimal numbers of a value split at '/'; a part that is no number raises
// EFloatValueError.
class TFloatValues : public TObject {
public:
    static constexpr int MaxCount = TStringValues::MaxCount;
    explicit TFloatValues(const std::string &Value);
    DECLARE_CLASS_NAME(TFloatValues)

    int Count = 0;
    std::array<TFloatValue, MaxCount> Items;
};

// A palette of 256 colours, 3 bytes each: red, green, blue.
using TFractintPalette = std::array<std::uint8_t, 256 * 3>;

class TFractintImporter : public TObject {
public:
    explicit TFractintImporter(TCustomFractal &AFractal);
    DECLARE_CLASS_NAME(TFractintImporter)

    // Both steps at once: the reader stands before the entry's first key.
    void Import(TParReader &Reader);
    // Reads every key up to the end of the entry and checks its value (sizes, views, the number
    // of inversions, a palette file's presence); changes nothing.
    void ReadEntry(TParReader &Reader);
    // Builds the imported layer apart from the document and only then puts it in the place of the
    // document's layers (with the "viewwindows" size when SetSize is on): a failure leaves the
    // document as it was. Reader only answers missing formulas.
    void Apply(TParReader &Reader);

    // "colors" values: characters of three digits (red, green, blue) per colour, "<n>" a run of n
    // colours interpolated between the colours around it. EImportError for malformed text.
    static void DecodeColors(const std::string &Text, TFractintPalette &Palette);
    // One channel digit 0-9, A-Z, '_', '`', a-z (0 .. 63), scaled to 0 .. 255.
    static std::uint8_t DecodeColorDigit(char C);

    // Take the image size from "viewwindows".
    bool SetSize = false;
    TFractalProgressEvent OnProgress;
    // The options of the entry that the import does not reproduce, one text each, in the order
    // they came; ReadEntry fills it and Apply hands each text to the reader's LoadWarning.
    std::vector<std::string> Warnings;

private:
    // Where a key stood, for error messages.
    struct TKeyPosition {
        std::string Key;
        int Line = 0, Column = 0;
    };
    // A view set by "corners" or "center-mag", in the order the keys came.
    struct TViewKey {
        TKeyPosition Position;
        bool Corners = false;
        std::vector<std::string> Values;
    };

    [[noreturn]] void Fail(const TKeyPosition &Position) const;
    void Warn(const std::string &Option, const std::string &Instead);
    void ReadKey(TParReader &Reader, const TKeyPosition &Position);
    std::vector<std::string> ReadNumbers(const std::string &Value, const TKeyPosition &Position);

    void OpenFormula(TParReader &Reader, TFormulaBase &Object, const std::string &FileName,
                     const std::string &EntryName);
    void InsertTransformation(TParReader &Reader, int Index, const std::string &EntryName);
    // A "corners" or "center-mag" view on Mapping; EImportError at the key for a view that no
    // location can show.
    void ImportView(TMapping &Mapping, const TViewKey &View);
    void ImportCorners(TMapping &Mapping, const TViewKey &View);
    void ImportCenterMag(TMapping &Mapping, const TViewKey &View);
    // Fractint's corners name the centres of the corner pixels: the location gets the pixel step
    // (xmax - xmin) / (W - 1) across and (ymax - ymin) / (H - 1) down, exactly.
    static void ImportPixelCorners(TMapping &Mapping, const std::string &XMin, const std::string &XMax,
                                   const std::string &YMin, const std::string &YMax);
    // Whether a view is a "center-mag" without rotation or skew: it names upright corners.
    static bool Upright(const TViewKey &View);
    // Whether an "invert" value makes an inversion (its radius is not 0).
    static bool Inverts(const std::vector<std::string> &Values);
    // The "colors=@" palette file, in the gradient folder unless its name has a folder.
    std::string PaletteFileName() const;
    void ImportViewWindow(TParReader &Reader);
    void ImportInside();
    void ImportColors();
    void ImportInvert(TParReader &Reader, const std::vector<std::string> &Values);
    void ImportSkewStretch(TParReader &Reader, long double XMag, long double Skew);
    void ImportParams();
    void ImportBailout();
    void ImportDecomp(TParReader &Reader);
    void ImportBiomorph(TParReader &Reader);
    void ImportPotential(TParReader &Reader);
    void ImportBasin(TParReader &Reader);

    TCustomFractal &FFractal;
    TLayer *FLayer = nullptr;

    // The state read from the entry.
    std::string FEntryName;
    std::string FType;
    std::string FFormulaName, FFormulaFile;
    std::int32_t FMethod = -1;
    std::vector<std::string> FParams;
    std::vector<std::string> FFunctions;
    std::int32_t FMaxIter = 149;
    std::string FBailout;
    std::int32_t FBailoutTest = 0;
    std::int32_t FPeriodicity = -1; // -1 keeps the formula's own
    std::string FInside;
    std::int32_t FOutsideKind = 1, FOutsideColor = 1;
    std::int32_t FLogMap = 0;
    std::int32_t FDecomp = -1;
    std::int32_t FBiomorph = -1;
    std::vector<std::string> FPotential;
    std::vector<TViewKey> FViews;
    bool FHasViewWindow = false;
    TKeyPosition FViewWindowPosition;
    std::int32_t FViewWidth = 0, FViewHeight = 0;
    long double FViewRatio = 0.75L;
    std::vector<std::vector<std::string>> FInverts;
    std::int32_t FInversions = 0;
    std::string FPaletteFile;
    bool FHasPalette = false;
    TFractintPalette FPalette{};
    long double FXMag = 1, FSkew = 0, FAspect = 1;
};
