// Colorings: the compiled inside or outside coloring of a layer with the user's settings (density,
// transfer function, gradient offset, repeat, solid colour), the code blocks it hands to the pixel
// routine through the context, the built-in FINAL code of an entry without one, and the mapper
// from a coloring result to a gradient position.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "CompValues.h"
#include "FracFormulaBase.h"

// 0 none (the side is solid), 1 linear, 2 sqr, 3 sqrt, 4 cube, 5 cuberoot, 6 log, 7 exp, 8 sin,
// 9 arctan.
using TTransferFunction = std::uint8_t;
constexpr int TransferFunctionCount = 10;
const char *TransferFunctionWord(TTransferFunction Transfer);

// Code that appends the current #z to the context's orbit array and advances the write pointer:
// 16 bytes per point in double (two doubles), 20 in extended (two 80-bit values), 8 in arbitrary
// precision (the handles of two numbers that the array's owner created, which receive copies of
// #z). No return at the end: it is joined inline.
const std::vector<std::uint8_t> &OrbitStoreCode(std::uint8_t Precision);

// Colours in parameter text: bytes blue, green, red, alpha from the low byte; opaque black.
constexpr std::uint32_t OpaqueBlack = 0xFF000000u;

// Object.LoadFromReader with Default (the object's solid colour for a section without one) set to
// Color during the read and opaque black again afterwards.
template <class TObjectWithSolid>
void LoadWithDefaultSolid(TObjectWithSolid &Object, std::uint32_t &Default, TParReader &Reader,
                          std::uint32_t Color) {
    Default = Color;
    try {
        Object.LoadFromReader(Reader);
    } catch (...) {
        Default = OpaqueBlack;
        throw;
    }
    Default = OpaqueBlack;
}

class TColoring : public TFormulaBase {
public:
    // Side 0 inside, 1 outside.
    explicit TColoring(std::uint8_t ASide);
    ~TColoring() override;
    DECLARE_CLASS_NAME(TColoring)

    std::uint8_t GetSide() const { return FSide; }
    TTransferFunction GetTransfer() const { return FTransfer; }
    void SetTransfer(TTransferFunction Value);
    std::int32_t GetOffset() const { return FOffset; }
    // Clamped to 0 .. 399.
    void SetOffset(std::int32_t Value);
    bool GetRepeat() const { return FRepeat; }
    void SetRepeat(bool Value);
    std::uint32_t GetSolidColor() const { return FSolidColor; }
    void SetSolidColor(std::uint32_t Value);
    bool GetUsesOrbit() const { return FUsesOrbit; }
    bool GetReadsZ() const { return FReadsZ; }
    std::uint8_t GetOutputMode() const { return FOutputMode; }
    // The LOOP code without its closing return, for joining into the pixel routine.
    std::vector<std::uint8_t> GetLoopCode() const;

    // Refuses negative values; a change is a setting change "Color Density".
    TFloatValue Density;
    TNotifyEvent OnCodeChanged;
    TNotifyEvent OnSolidChanged;

    // LoadFromReader with a solid colour for a section that has none.
    void ReadWithDefaultSolid(TParReader &Reader, std::uint32_t Color);

    // Data block and the three code cells of this side.
    void SetupContext(void *Context) const;
    void ReleaseContext(void *Context) const;

    void Assign(const TLexical &Source) override;
    void ResetCode() override;
    void Generate() override;
    void GenerateEmpty() override;
    void InitCompile() override;
    void EndParse(const TCompilePosition &Position) override;
    void GetDefaultSection(std::string &Name) override { Name = "FINAL"; }
    void GetLeadingSection(const std::string &Label, std::string &Name) override;
    void GetSectionKind(const std::string &Label, std::uint8_t &Kind) override;
    bool IsFunctionAllowed(const std::string &Section, std::uint8_t FunctionId) override;
    bool IsPredefinedReadable(const std::string &Section, std::uint8_t SymbolId) override;
    bool IsPredefinedWritable(const std::string &Section, std::uint8_t SymbolId) override;
    void SelectFunctionRoutine(int Function, int ArgumentType, int ResultType, int &Routine) override;
    void CompileSection(const std::string &Name, const std::uint8_t *Code, std::int32_t Size) override;

    void WriteSettings(TParWriter &Writer) const override;
    void ResetSettings() override;
    void ReadSetting(TParReader &Reader, const std::string &Key) override;
    void ApplySettings() override;

private:
    void ValidateDensity(TObject *Sender, const std::string &Text, bool &Accept);
    void DensityChanged(TObject *Sender);
    void AssembleBuiltInFinal();

    std::uint8_t FSide;
    std::uint32_t FDefaultSolid = OpaqueBlack;
    std::unique_ptr<TRoutineAssembler> FFinalRoutine, FInitRoutine, FLoopRoutine, FBuiltInFinal,
        FEmptyRoutine;
    std::uint8_t FOutputMode = 0;
    std::int32_t FOffset = 0;
    std::string FPendingDensity = "1";
    std::int32_t FPendingOffset = 0;
    bool FPendingRepeat = true;
    std::uint32_t FPendingSolid = OpaqueBlack;
    TTransferFunction FPendingTransfer = 1;
    bool FRepeat = true;
    std::uint8_t FSectionOrder = 0;
    std::uint32_t FSolidColor = OpaqueBlack;
    TTransferFunction FTransfer;
    bool FUsesOrbit = false;
    bool FReadsZ = false;
};

// Turns coloring results into gradient positions with one coloring's settings, copied so that a
// pixel touches neither the coloring nor its texts. One per coloring and calculation piece.
class TColoringMapper : public TObject {
public:
    explicit TColoringMapper(const TColoring &Coloring);
    DECLARE_CLASS_NAME(TColoringMapper)

    // A position from 0 up to, not including, 1.
    float MapValue(float Value) const;
    // The coloring result (#index) of a context in the coloring's precision.
    float MapPixel(const void *Context) const;

    float Density;
    float Offset;
    std::uint8_t PrecisionMode;
    bool Repeat;
    TTransferFunction Transfer;
};
