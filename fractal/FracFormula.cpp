#include "FracFormula.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "CompPixelContext.h"
#include "FracBuiltin.h"

namespace {

constexpr long double Pi = std::numbers::pi_v<long double>;

// Section order states: what may follow depends on what came.
constexpr std::int32_t ssNone = 0, ssInit = 1, ssLoop = 2, ssBailout = 3, ssDefault = 4, ssDefaultSwitch = 5,
                       ssSwitch = 6, ssSwitchDefault = 7;

std::string TokenText(const TToken &Token) {
    return static_cast<const TTextToken &>(Token).Text;
}

// The 4 bytes of a 32-bit value, little-endian, appended to Bytes.
void AppendLong(std::vector<std::uint8_t> &Bytes, std::int32_t Value) {
    for (int i = 0; i < 4; ++i)
        Bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(Value) >> (8 * i)));
}

// Opcode, ModRM for Reg with [esi + d32], the displacement.
std::vector<std::uint8_t> ContextInstruction(std::initializer_list<std::uint8_t> Opcode, std::uint8_t Reg,
                                             std::int32_t Offset) {
    std::vector<std::uint8_t> bytes(Opcode);
    bytes.push_back(static_cast<std::uint8_t>(0x86 | (Reg << 3)));
    AppendLong(bytes, Offset);
    return bytes;
}

void EmitVector(TCodeAssembler &Code, const std::vector<std::uint8_t> &Bytes) {
    Code.Emit(Bytes.data(), static_cast<std::int32_t>(Bytes.size()));
}

// call [esi + Offset] when the cell is not nil.
void EmitCallIfSet(TCodeAssembler &Code, std::int32_t Offset) {
    TCodeLabel skip;
    std::vector<std::uint8_t> compare = ContextInstruction({0x83}, 7, Offset); // cmp dword [..], 0
    compare.push_back(0);
    EmitVector(Code, compare);
    Code.EmitJumpTo({0x74}, skip, 1);
    EmitVector(Code, ContextInstruction({0xFF}, 2, Offset));
    Code.PlaceLabel(skip);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Settings and switch list

TFormulaSettings::TFormulaSettings() {
    Reset();
}

void TFormulaSettings::Reset() {
    Center.SetText("0", "0");
    Magn.SetText("1");
    Angle.SetText("0");
    Stretch.SetText("1");
    Skew.SetText("0");
}

void TFormulaSettings::Assign(const TFormulaSettings &Other) {
    Center.Assign(Other.Center);
    Magn.Assign(Other.Magn);
    Angle.Assign(Other.Angle);
    Stretch.Assign(Other.Stretch);
    Skew.Assign(Other.Skew);
}

void TFormulaSwitchList::Add(const TFormulaSwitchNode &Node) {
    // Directly behind the head.
    FNodes.insert(FNodes.empty() ? FNodes.end() : FNodes.begin() + 1, Node);
}

std::uint8_t SymmetryFromKeyword(const std::string &Keyword) {
    static const char *const keywords[] = {"XAXIS",  "XAXIS_NOPARM",  "XAXIS_NOREAL", "XAXIS_NOIMAG",
                                           "YAXIS",  "YAXIS_NOPARM",  "XYAXIS",       "XYAXIS_NOPARM",
                                           "ORIGIN", "ORIGIN_NOPARM", "PI",           "PI_NOPARM"};
    const std::string word = UpperCase(Trim(Keyword));
    for (std::uint8_t i = 0; i < 12; ++i)
        if (word == keywords[i])
            return static_cast<std::uint8_t>(i + 1);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// TFormula

TFormula::TFormula()
    : TFormulaBase(TFormulaKind::Formula), FPixelRoutine(std::make_unique<TRoutineAssembler>()),
      FEmptyPath(std::make_unique<TRoutineAssembler>()),
      FOrbitRoutine(std::make_unique<TRoutineAssembler>()) {
    Magnification.SetTextQuiet("1");
    Magnification.OnChange = MakeEvent<&TFormula::MagnificationChanged>(this);
}

TFormula::~TFormula() = default;

void TFormula::SetMaxIter(std::int32_t Value) {
    if (Value < 1 || Value == FMaxIter)
        return;
    FMaxIter = Value;
    TakeAdjustBase();
    PropertyChanged("Maximum Iterations");
}

void TFormula::SetPeriodicity(std::uint8_t Value) {
    if (Value > 3 || Value == FPeriodicity)
        return;
    FPeriodicity = Value;
    PropertyChanged("Periodicity Checking");
}

void TFormula::SetAdjustMaxIter(bool Value) {
    if (Value == FAdjust)
        return;
    FAdjust = Value;
    TakeAdjustBase();
    ValueChanged();
}

void TFormula::TakeAdjustBase() {
    FBaseMaxIter = FMaxIter;
    FBaseMagnification = Magnification.GetValue();
}

void TFormula::MagnificationChanged(TObject *) {
    if (!FAdjust || !(FBaseMagnification > 0))
        return;
    const long double steps = std::round(100 * std::log2(Magnification.GetValue() / FBaseMagnification));
    const long double value = std::clamp<long double>(steps + FBaseMaxIter, FBaseMaxIter, INT32_MAX);
    const std::int32_t maxIter = static_cast<std::int32_t>(value);
    if (maxIter == FMaxIter)
        return;
    FMaxIter = maxIter;
    PropertyChanged();
}

void TFormula::ApplySwitch(const TFormula &Previous, const TComplexValue &Location, bool SetLocation) {
    auto find = [](const TParamList &Params, const std::string &Name) -> TParam * {
        for (int i = 0; i < Params.GetCount(); ++i)
            if (SameText(Params.GetItem(i)->GetName(), Name))
                return Params.GetItem(i);
        return nullptr;
    };
    BeginUpdate();
    try {
        for (const TFormulaSwitchNode &node : Previous.GetSwitchList().Nodes()) {
            TParam *target = find(GetParams(), node.Target);
            if (!target)
                continue;
            if (!node.Location) {
                if (const TParam *source = find(Previous.GetParams(), node.Source))
                    target->AssignValue(*source);
            } else if (SetLocation && target->Type == vtComplex) {
                static_cast<TComplexParam *>(target)->Value.Assign(Location);
            }
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

std::uint8_t TFormula::ResolveSymmetry() const {
    bool realZero = true, imaginaryZero = true;
    const TParamList &params = GetParams();
    for (int i = 0; i < params.GetCount(); ++i) {
        const TParam *param = params.GetItem(i);
        if (param->Type != vtComplex)
            continue;
        const auto &value = static_cast<const TComplexParam *>(param)->Value;
        realZero = realZero && value.Re.GetValue() == 0;
        imaginaryZero = imaginaryZero && value.Im.GetValue() == 0;
    }
    const bool both = realZero && imaginaryZero;
    switch (FSymmetry) {
    case 2:
        return both ? 1 : 0;
    case 3:
        return realZero ? 1 : 0;
    case 4:
        return imaginaryZero ? 1 : 0;
    case 6:
        return both ? 5 : 0;
    case 8:
        return both ? 7 : 0;
    case 10:
        return both ? 9 : 0;
    case 12:
        return both ? 11 : 0;
    default:
        return FSymmetry;
    }
}

void TFormula::InitContext(void *Context) const {
    auto &context = *static_cast<TPixelContext *>(Context);
    context.MaxIter = FMaxIter;
    // The orbit store when a coloring reads the orbit; the piece provides the array.
    context.OrbitRoutine =
        FOrbitRoutine->GetSize() > 0 ? reinterpret_cast<TContextCode>(FOrbitRoutine->GetCode()) : nullptr;
    context.PeriodicityMode = FWritesZ ? FPeriodicity : 0;
    void *data = nullptr;
    if (FBuiltInIndex >= 0 && BuiltInManager()) {
        data = GetFormulaDataAllocator()->Alloc(TBuiltInFormula::DataSize);
        try {
            BuiltInManager()
                ->GetFormula(FBuiltInIndex)
                .InitContext(data, GetPrecision(), GetParams(), GetDigits());
        } catch (...) {
            GetFormulaDataAllocator()->Free(data);
            throw;
        }
        context.FormulaData = data;
        return;
    }
    if (GetDataSize() > 0) {
        data = GetFormulaDataAllocator()->Alloc(static_cast<std::uint64_t>(GetDataSize()));
        try {
            std::memset(data, 0, static_cast<std::size_t>(GetDataSize()));
            GetStorage().InitData(data);
        } catch (...) {
            GetFormulaDataAllocator()->Free(data);
            throw;
        }
    }
    context.FormulaData = data;
}

void TFormula::DoneContext(void *Context) const {
    auto &context = *static_cast<TPixelContext *>(Context);
    if (context.FormulaData) {
        if (FBuiltInIndex < 0)
            GetStorage().DoneData(context.FormulaData);
        else if (BuiltInManager())
            BuiltInManager()->GetFormula(FBuiltInIndex).DoneContext(context.FormulaData, GetPrecision());
        GetFormulaDataAllocator()->Free(context.FormulaData);
        context.FormulaData = nullptr;
    }
}

void TFormula::Iterate(void *Context, void *Second) const {
    if (FBuiltInIndex >= 0 && BuiltInManager()) {
        BuiltInManager()->GetFormula(FBuiltInIndex).Iterate(GetPrecision(), Context, Second);
        return;
    }
    if (FPixelRoutine->GetSize() > 0) {
        FPixelRoutine->Execute(Context, Second);
        return;
    }
    if (GetPrecision() == pmArbitrary) {
        const TContextValueOffsets &values = ContextValueOffsets[2];
        auto *bytes = static_cast<std::uint8_t *>(Context);
        for (std::int32_t offset : {values.Z, values.Z + values.ImaginaryStep})
            if (auto *number = *reinterpret_cast<THugeFloatBase **>(bytes + offset))
                number->SetZero();
    }
    FEmptyPath->Execute(Context, Second);
}

void TFormula::AssembleEmptyPath() {
    AssembleOrbitRoutine();
    TRoutineAssembler &code = *FEmptyPath;
    code.Clear();
    code.Precision = GetPrecision();
    code.EmitEntry();
    EmitVector(code, ContextInstruction({0xFF}, 2, PC_OUTSIDE_INIT)); // call [outside INIT]
    const TContextValueOffsets &values = ContextValueOffsets[std::min<std::uint8_t>(GetPrecision(), 2)];
    if (GetPrecision() == pmDouble) {
        code.Emit("\xD9\xEE", 2);                                      // fldz
        EmitVector(code, ContextInstruction({0xDD}, 2, values.Z));     // fst qword [z.re]
        EmitVector(code, ContextInstruction({0xDD}, 3, values.Z + 8)); // fstp qword [z.im]
    } else if (GetPrecision() == pmExtended) {
        for (std::int32_t offset : {values.Z, values.Z + 16}) {
            code.Emit("\xD9\xEE", 2);                                // fldz
            EmitVector(code, ContextInstruction({0xDB}, 7, offset)); // fstp tbyte [..]
        }
    }
    EmitCallIfSet(code, PC_OUTSIDE_LOOP);
    EmitCallIfSet(code, PC_ORBIT_ROUTINE);
    std::vector<std::uint8_t> done = ContextInstruction({0xC7}, 0, PC_ITERATIONS_DONE); // mov dword [..], 1
    AppendLong(done, 1);
    EmitVector(code, done);
    EmitVector(code, ContextInstruction({0xFF}, 2, PC_OUTSIDE_FINAL)); // call [outside FINAL]
    code.EmitExit();
}

void TFormula::AssemblePixelRoutine() {
    AssembleOrbitRoutine();
    FPixelRoutine->Clear();
    if (GetNoSource() || FBuiltInIndex >= 0)
        return;
    std::vector<std::uint8_t> coloringLoop;
    for (const TColoring *coloring : {FInside, FOutside})
        if (coloring) {
            const std::vector<std::uint8_t> code = coloring->GetLoopCode();
            coloringLoop.insert(coloringLoop.end(), code.begin(), code.end());
        }
    const std::vector<std::uint8_t> &orbit = OrbitStoreCode(GetPrecision());
    FPixelRoutine->AssemblePixelRoutine(GetPrecision(), GetDataOffset(), FInitCode, FLoopCode, FBailoutCode,
                                        coloringLoop, RecordsOrbit() ? TCodePiece(orbit) : TCodePiece());
}

void TFormula::AssembleOrbitRoutine() {
    FOrbitRoutine->Clear();
    const std::vector<std::uint8_t> &orbit = OrbitStoreCode(GetPrecision());
    if (RecordsOrbit() && !orbit.empty()) {
        FOrbitRoutine->Emit(orbit.data(), static_cast<std::int32_t>(orbit.size()));
        FOrbitRoutine->EmitReturn();
    }
}

bool TFormula::RecordsOrbit() const {
    return (FInside && FInside->GetUsesOrbit()) || (FOutside && FOutside->GetUsesOrbit());
}

void TFormula::SetColorings(TColoring *Inside, TColoring *Outside) {
    FInside = Inside;
    FOutside = Outside;
    AssembleOrbitRoutine();
    if (FPixelRoutine->GetSize() > 0)
        AssemblePixelRoutine();
}

void TFormula::Assign(const TLexical &Source) {
    if (const auto *other = dynamic_cast<const TFormula *>(&Source)) {
        FBuiltInIndex = other->FBuiltInIndex;
        FDefaultMaxIter = other->FDefaultMaxIter;
        FDefaultMethod = other->FDefaultMethod;
        FDefaultPeriodicity = other->FDefaultPeriodicity;
        FDefaultFlags = other->FDefaultFlags;
        FLocation.Assign(other->FLocation);
        FSwitchList.Assign(other->FSwitchList);
        FSwitchType = other->FSwitchType;
        FWritesZ = other->FWritesZ;
        FSymmetry = other->FSymmetry;
    }
    TFormulaBase::Assign(Source);
}

void TFormula::ResetCode() {
    TFormulaBase::ResetCode();
    FPixelRoutine->Clear();
    FInitCode.clear();
    FLoopCode.clear();
    FBailoutCode.clear();
    FHasBailout = false;
}

void TFormula::Generate() {
    TFormulaBase::Generate();
    AssembleEmptyPath();
    if (FBuiltInIndex >= 0) {
        SetDataSize(TBuiltInFormula::DataSize);
        return;
    }
    if (!FHasBailout)
        FBailoutCode = {0x30, 0xC0}; // xor al, al: the loop runs once
    AssemblePixelRoutine();
}

void TFormula::GenerateEmpty() {
    TFormulaBase::GenerateEmpty();
    FLocation.Reset();
    FMaxIter = 100;
    FPeriodicity = 2;
    FSwitchType.clear();
    FBuiltInIndex = -1;
    AssembleEmptyPath();
}

void TFormula::InitCompile() {
    FSectionState = ssNone;
    FDefaultMaxIter = 100;
    FDefaultMethod = 0;
    FDefaultPeriodicity = 2;
    FDefaultFlags = 0;
    FBuiltInIndex = -1;
    FSwitchType.clear();
    FSwitchList.Clear();
    FLocation.Reset();
    FWritesZ = false;
    TFormulaBase::InitCompile();
}

void TFormula::EndParse(const TCompilePosition &Position) {
    TFormulaBase::EndParse(Position);
    if (GetHasError())
        return;
    if (FDefaultFlags & 1)
        FMaxIter = FDefaultMaxIter;
    if (FDefaultFlags & 4)
        FPeriodicity = FDefaultPeriodicity;
    if ((FDefaultFlags & 2) && OnMethodChanged)
        OnMethodChanged(this, FDefaultMethod);
    FBaseMaxIter = FMaxIter;
    FBaseMagnification = FLocation.Magn.GetValue();
    FSymmetry = SymmetryFromKeyword(GetEntryTitle());
}

void TFormula::GetLeadingSection(const std::string &Label, std::string &Name) {
    Name = Label == "GLOBAL" || Label == "INIT" || Label == "BUILTIN" ? "" : "INIT";
}

bool TFormula::FindPredefinedSymbol(const std::string &Name, int &Id) {
    if (Name == "Z") {
        Id = psZ;
        return true;
    }
    return false;
}

void TFormula::GetSectionKind(const std::string &Label, std::uint8_t &Kind) {
    TFormulaBase::GetSectionKind(Label, Kind);
    if (Kind != skdInvalid || Label == "GLOBAL")
        return;
    auto step = [&](std::int32_t NewState, std::uint8_t NewKind) {
        FSectionState = NewState;
        Kind = NewKind;
    };
    if (Label == "INIT" && FSectionState < ssInit)
        step(ssInit, skdCode);
    else if (Label == "LOOP" && FSectionState < ssLoop)
        step(ssLoop, skdCode);
    else if (Label == "BAILOUT" && FSectionState < ssBailout)
        step(ssBailout, skdBailout);
    else if (Label == "BUILTIN" && FSectionState < ssInit)
        step(ssBailout, skdSettings);
    else if (Label == "DEFAULT" && FSectionState < ssDefault)
        step(ssDefault, skdParameters);
    else if (Label == "DEFAULT" && FSectionState == ssSwitch)
        step(ssSwitchDefault, skdParameters);
    else if (Label == "SWITCH" && FSectionState < ssDefaultSwitch)
        step(FSectionState == ssDefault ? ssDefaultSwitch : ssSwitch, skdSettings);
}

int TFormula::SetConstantSetting(const std::string &Section, const std::string &Name, const TLiteral &Value) {
    const bool number = Value.Type == vtInteger || Value.Type == vtFloat;
    if (Section == "BUILTIN" && Name == "TYPE") {
        if (Value.Type != vtInteger)
            return ceTypeError;
        const std::int32_t type = static_cast<const TIntLiteral &>(Value).Value;
        // Two built-in formulas: Mandelbrot and Julia.
        if (type < 1 || type > 2)
            return ceLiteralOutOfRange;
        FBuiltInIndex = type - 1;
        return 0;
    }
    if (Section == "DEFAULT") {
        if (Name == "MAXITER" || Name == "PERIODICITY") {
            if (Value.Type != vtInteger)
                return ceTypeError;
            const std::int32_t value = static_cast<const TIntLiteral &>(Value).Value;
            if (Name == "MAXITER") {
                if (value < 1)
                    return ceLiteralOutOfRange;
                FDefaultMaxIter = value;
                FDefaultFlags |= 1;
            } else {
                if (value < 0 || value > 3)
                    return ceLiteralOutOfRange;
                FDefaultPeriodicity = static_cast<std::uint8_t>(value);
                FDefaultFlags |= 4;
            }
            return 0;
        }
        if (Name == "CENTER") {
            if (Value.Type != vtComplex)
                return ceTypeError;
            FLocation.Center.AssignLiteral(static_cast<const TComplexLiteral &>(Value));
            return 0;
        }
        if (Name == "MAGN" || Name == "STRETCH" || Name == "ANGLE" || Name == "SKEW") {
            if (!number)
                return ceTypeError;
            const std::string text = Value.GetText();
            if (Name == "MAGN")
                FLocation.Magn.SetText(text);
            else if (Name == "STRETCH")
                FLocation.Stretch.SetText(text);
            else
                (Name == "ANGLE" ? FLocation.Angle : FLocation.Skew)
                    .SetValue(FloatTextToExtended(text) * Pi / 180);
            return 0;
        }
    }
    return TFormulaBase::SetConstantSetting(Section, Name, Value);
}

int TFormula::SetIdentifierSetting(const std::string &Section, const TToken &Name, const TToken &Value) {
    if (Section == "DEFAULT" && Name.Kind == tkVariable && UpperCase(TokenText(Name)) == "METHOD" &&
        Value.Kind == tkVariable) {
        const std::string method = UpperCase(TokenText(Value));
        const char *const methods[] = {"GUESSING", "MULTIPASS", "ONEPASS"};
        for (std::uint8_t i = 0; i < 3; ++i)
            if (method == methods[i]) {
                FDefaultMethod = i;
                FDefaultFlags |= 2;
                return 0;
            }
    }
    if (Section == "SWITCH" && (Name.Kind == tkVariable || Name.Kind == tkParameter)) {
        if (Value.Kind == tkVariable || Value.Kind == tkParameter) {
            FSwitchList.Add({TokenText(Name), TokenText(Value), false});
            return 0;
        }
        if (Value.Kind == tkPredefined && static_cast<const TIdToken &>(Value).Id == psPixel) {
            FSwitchList.Add({TokenText(Name), "", true});
            return 0;
        }
    }
    return TFormulaBase::SetIdentifierSetting(Section, Name, Value);
}

int TFormula::SetStringSetting(const std::string &Section, const std::string &Name, const std::string &Text) {
    if (Section == "SWITCH" && Name == "TYPE") {
        FSwitchType = Text;
        return 0;
    }
    return TFormulaBase::SetStringSetting(Section, Name, Text);
}

bool TFormula::IsFunctionAllowed(const std::string &, std::uint8_t FunctionId) {
    return FunctionId != fnOldZ && FunctionId != fnGradient;
}

bool TFormula::IsPredefinedReadable(const std::string &Section, std::uint8_t SymbolId) {
    if (Section == "INIT" || Section == "LOOP" || Section == "BAILOUT") {
        switch (SymbolId) {
        case psPixel:
        case psRandom:
        case psScreenPixel:
        case psWhiteSq:
        case psX:
        case psY:
        case psZ:
            return true;
        default:
            break;
        }
        if (SymbolId == psLastSqr || SymbolId == psNumIter || SymbolId == psIndex || SymbolId == psSolidColor ||
            SymbolId == psColor)
            return false;
    }
    return TFormulaBase::IsPredefinedReadable(Section, SymbolId);
}

bool TFormula::IsPredefinedWritable(const std::string &, std::uint8_t SymbolId) {
    if (SymbolId != psZ)
        return false;
    FWritesZ = true;
    return true;
}

void TFormula::CompileSection(const std::string &Name, const std::uint8_t *Code, std::int32_t Size) {
    TFormulaBase::CompileSection(Name, Code, Size);
    if (Name == "INIT")
        FInitCode.assign(Code, Code + Size);
    else if (Name == "LOOP")
        FLoopCode.assign(Code, Code + Size);
    else if (Name == "BAILOUT") {
        FBailoutCode.assign(Code, Code + Size);
        FHasBailout = true;
    }
}

void TFormula::WriteSettings(TParWriter &Writer) const {
    Writer.WriteInteger("maxiter", FMaxIter);
    static const char *const words[] = {"off", "conservative", "normal", "rough"};
    if (FPeriodicity != 2 && FPeriodicity <= 3)
        Writer.WriteString("percheck", words[FPeriodicity]);
    if (FAdjust)
        Writer.WriteBoolean("adjust", true);
}

void TFormula::ResetSettings() {
    FPendingMaxIter = 100;
    FPendingPeriodicity = 2;
    FPendingAdjust = false;
}

void TFormula::ReadSetting(TParReader &Reader, const std::string &Key) {
    if (Key == "maxiter") {
        FPendingMaxIter = Reader.GetInteger();
    } else if (Key == "percheck") {
        static const char *const words[] = {"off", "conservative", "normal", "rough"};
        const std::string word = Reader.GetLowerValue();
        for (std::uint8_t i = 0; i < 4; ++i)
            if (word == words[i])
                FPendingPeriodicity = i;
    } else if (Key == "adjust") {
        FPendingAdjust = Reader.GetBoolean();
    }
}

void TFormula::ApplySettings() {
    SetMaxIter(FPendingMaxIter);
    SetPeriodicity(FPendingPeriodicity);
    SetAdjustMaxIter(FPendingAdjust);
}
