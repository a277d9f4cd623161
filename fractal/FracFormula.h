// The compiled fractal formula of a layer: its sections (INIT, LOOP, BAILOUT, BUILTIN, DEFAULT,
// SWITCH), the calculation settings it declares (maximum iterations, periodicity checking,
// drawing method, default location, symmetry, switch mappings), and its pixel routine.
//
// Iterations done: the pixel routine reports maxiter minus the remaining count at the loop exit.
// The count falls at the end of every round that did not bail out, so a bailout in the first
// round reports 0 and a pixel that never bails out reports maxiter. A formula without code runs
// its coloring once and reports 1.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CompValues.h"
#include "FracColoring.h"
#include "FracFormulaBase.h"

// The default location a formula declares; angle and skew in radians.
class TFormulaSettings {
public:
    TFormulaSettings();
    void Reset();
    void Assign(const TFormulaSettings &Other);

    TComplexValue Center;
    TFloatValue Magn, Angle, Stretch, Skew;
};

// One SWITCH mapping: the target formula's parameter Target takes this formula's parameter Source,
// or the location the user picks when Location is set.
struct TFormulaSwitchNode {
    std::string Target, Source;
    bool Location = false;
};

// The switch mappings in list order: the first added stays first, later ones follow it in reverse
// order of adding.
class TFormulaSwitchList {
public:
    void Add(const TFormulaSwitchNode &Node);
    void Clear() { FNodes.clear(); }
    void Assign(const TFormulaSwitchList &Other) { FNodes = Other.FNodes; }
    const std::vector<TFormulaSwitchNode> &Nodes() const { return FNodes; }

private:
    std::vector<TFormulaSwitchNode> FNodes;
};

// Symmetry codes: 0 none, 1 XAXIS, 2 XAXIS_NOPARM, 3 XAXIS_NOREAL, 4 XAXIS_NOIMAG, 5 YAXIS,
// 6 YAXIS_NOPARM, 7 XYAXIS, 8 XYAXIS_NOPARM, 9 ORIGIN, 10 ORIGIN_NOPARM, 11 PI, 12 PI_NOPARM.
std::uint8_t SymmetryFromKeyword(const std::string &Keyword);

using TMethodChangedEvent = TMethod<void(TObject *Sender, std::uint8_t Method)>;

class TFormula : public TFormulaBase {
public:
    TFormula();
    ~TFormula() override;
    DECLARE_CLASS_NAME(TFormula)

    std::int32_t GetMaxIter() const { return FMaxIter; }
    // Values below 1 change nothing; otherwise a property change, and the adjustment base.
    void SetMaxIter(std::int32_t Value);
    std::uint8_t GetPeriodicity() const { return FPeriodicity; }
    void SetPeriodicity(std::uint8_t Value);
    bool GetAdjustMaxIter() const { return FAdjust; }
    void SetAdjustMaxIter(bool Value);
    std::int32_t GetDefaultMaxIter() const { return FDefaultMaxIter; }
    std::uint8_t GetDefaultMethod() const { return FDefaultMethod; }
    std::uint8_t GetDefaultFlags() const { return FDefaultFlags; }
    std::int32_t GetBuiltInIndex() const { return FBuiltInIndex; }
    bool GetWritesZ() const { return FWritesZ; }
    const std::string &GetSwitchType() const { return FSwitchType; }
    const TFormulaSwitchList &GetSwitchList() const { return FSwitchList; }
    const TFormulaSettings &GetLocationSettings() const { return FLocation; }
    const TRoutineAssembler &GetPixelRoutine() const { return *FPixelRoutine; }

    // The layer's colorings, whose loop code the pixel routine joins (not owned; may be nil).
    void SetColorings(TColoring *Inside, TColoring *Outside);
    // Joins INIT, LOOP, BAILOUT, the colorings' loop code and the orbit store when a coloring
    // reads the orbit; the layer calls it again whenever a coloring generated new code.
    void AssemblePixelRoutine();

    // Takes parameter values over from the formula switched from, by its switch mappings; a
    // mapping to the picked location sets the target to Location when SetLocation is given.
    // Parameters that do not exist are skipped.
    void ApplySwitch(const TFormula &Previous, const TComplexValue &Location, bool SetLocation);

    // The symmetry the formula declares, resolved against its complex parameters.
    std::uint8_t ResolveSymmetry() const;
    std::uint8_t GetSymmetry() const { return FSymmetry; }

    // Fills the formula's part of a context: maxiter, periodicity mode (0 when the formula never
    // writes z), the orbit routine (empty) and a data block with the formula's values in place.
    void InitContext(void *Context) const;
    void DoneContext(void *Context) const;
    // One pixel: the pixel routine, or without code the coloring-only path.
    void Iterate(void *Context, void *Second) const;

    // The layer's current magnification; with the adjustment on, its changes set maxiter.
    TFloatValue Magnification;
    TMethodChangedEvent OnMethodChanged;

    void Assign(const TLexical &Source) override;
    void ResetCode() override;
    void Generate() override;
    void GenerateEmpty() override;
    void InitCompile() override;
    void EndParse(const TCompilePosition &Position) override;
    void GetLoopSection(std::string &Name) override { Name = "LOOP"; }
    void GetBailoutSection(std::string &Name) override { Name = "BAILOUT"; }
    void GetDefaultSection(std::string &Name) override { Name = "INIT"; }
    void GetLeadingSection(const std::string &Label, std::string &Name) override;
    bool FindPredefinedSymbol(const std::string &Name, int &Id) override;
    void GetSectionKind(const std::string &Label, std::uint8_t &Kind) override;
    int SetConstantSetting(const std::string &Section, const std::string &Name,
                           const TLiteral &Value) override;
    int SetIdentifierSetting(const std::string &Section, const TToken &Name, const TToken &Value) override;
    int SetStringSetting(const std::string &Section, const std::string &Name,
                         const std::string &Text) override;
    bool IsFunctionAllowed(const std::string &Section, std::uint8_t FunctionId) override;
    bool IsPredefinedReadable(const std::string &Section, std::uint8_t SymbolId) override;
    bool IsPredefinedWritable(const std::string &Section, std::uint8_t SymbolId) override;
    void CompileSection(const std::string &Name, const std::uint8_t *Code, std::int32_t Size) override;

    void WriteSettings(TParWriter &Writer) const override;
    void ResetSettings() override;
    void ReadSetting(TParReader &Reader, const std::string &Key) override;
    void ApplySettings() override;

private:
    void AssembleEmptyPath();
    bool RecordsOrbit() const;
    void AssembleOrbitRoutine();
    void MagnificationChanged(TObject *Sender);
    void TakeAdjustBase();

    bool FAdjust = false;
    std::unique_ptr<TRoutineAssembler> FPixelRoutine;
    // Without code: outside coloring INIT, z := 0, LOOP, orbit, iterations done 1, FINAL.
    std::unique_ptr<TRoutineAssembler> FEmptyPath;
    // The orbit store as a routine of its own, for the built-in loops and the path without code.
    std::unique_ptr<TRoutineAssembler> FOrbitRoutine;
    std::vector<std::uint8_t> FInitCode, FLoopCode, FBailoutCode;
    bool FHasBailout = false;
    long double FBaseMagnification = 1;
    std::int32_t FBaseMaxIter = 100;
    std::int32_t FBuiltInIndex = -1;
    std::int32_t FDefaultMaxIter = 100;
    std::uint8_t FDefaultMethod = 0;
    std::uint8_t FDefaultPeriodicity = 2;
    std::uint8_t FDefaultFlags = 0;
    std::int32_t FMaxIter = 100;
    TFormulaSettings FLocation;
    bool FPendingAdjust = false;
    std::int32_t FPendingMaxIter = 100;
    std::uint8_t FPendingPeriodicity = 2;
    std::uint8_t FPeriodicity = 2;
    std::int32_t FSectionState = 0;
    TFormulaSwitchList FSwitchList;
    std::string FSwitchType;
    std::uint8_t FSymmetry = 0;
    TColoring *FInside = nullptr;
    TColoring *FOutside = nullptr;
    bool FWritesZ = false;
};
