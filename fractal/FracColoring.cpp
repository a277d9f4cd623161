#include "FracColoring.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "CompPixelContext.h"
#include "CompRoutines.h"
#include "HugeBase.h"

namespace {

// The factor of the built-in FINAL code, read by the code through its address.
const float Hundredth = 0.01f;

// Section order states.
constexpr std::uint8_t soInit = 1, soLoop = 2, soFinal = 3, soDefault = 4;

const char *const TransferWords[TransferFunctionCount] = {"none",     "linear", "sqr", "sqrt", "cube",
                                                          "cuberoot", "log",    "exp", "sin",  "arctan"};

void AppendLong(std::vector<std::uint8_t> &Bytes, std::uint32_t Value) {
    for (int i = 0; i < 4; ++i)
        Bytes.push_back(static_cast<std::uint8_t>(Value >> (8 * i)));
}

// The built-in FINAL code of arbitrary precision calls this with the context in eax: #index :=
// #numiter * 0.01, the factor as a single-precision constant as in the other precisions.
extern "C" __attribute__((regparm(1))) void ColoringHugeBuiltInFinal(void *Context) noexcept {
    try {
        auto *bytes = static_cast<std::uint8_t *>(Context);
        THugeFloatBase *index;
        std::memcpy(&index, bytes + ContextValueOffsets[2].Index, sizeof index);
        if (index)
            index->SetExtended(
                static_cast<long double>(static_cast<TPixelContext *>(Context)->IterationsDone) * Hundredth);
    } catch (...) {
        // Nothing may unwind into generated code; the index keeps its value.
    }
}

// The orbit store of arbitrary precision calls this with the context in eax: the entry at the
// write pointer holds two numbers, which take the values of #z; the pointer moves on by 8.
extern "C" __attribute__((regparm(1))) void ColoringHugeOrbitStore(void *Context) noexcept {
    auto &context = *static_cast<TPixelContext *>(Context);
    auto *entry = static_cast<THugeFloatBase **>(context.OrbitWrite);
    if (!entry)
        return;
    try {
        const auto *bytes = static_cast<const std::uint8_t *>(Context);
        for (int part = 0; part < 2; ++part) {
            THugeFloatBase *z;
            std::memcpy(&z, bytes + ContextValueOffsets[2].Z + 4 * part, sizeof z);
            if (entry[part] && z)
                entry[part]->Assign(*z);
        }
    } catch (...) {
        // Nothing may unwind into generated code; the entry keeps its old values.
    }
    context.OrbitWrite = entry + 2;
}

} // namespace

const std::vector<std::uint8_t> &OrbitStoreCode(std::uint8_t Precision) {
    auto make = [](std::uint8_t APrecision) {
        const TContextValueOffsets &values = ContextValueOffsets[APrecision];
        const bool extended = APrecision == 1;
        // fld qword / fld tbyte [esi + d32], fstp qword / fstp tbyte [eax + d8]
        const std::uint8_t load = extended ? 0xDB : 0xDD, loadModRM = extended ? 0xAE : 0x86;
        const std::uint8_t store = extended ? 0xDB : 0xDD, storeReg = extended ? 0x38 : 0x18;
        const std::uint8_t point = extended ? 20 : 16, imaginary = extended ? 10 : 8;
        std::vector<std::uint8_t> bytes = {0x8B, 0x46, PC_ORBIT_WRITE}; // mov eax, [orbit write]
        bytes.insert(bytes.end(), {load, loadModRM});
        AppendLong(bytes, static_cast<std::uint32_t>(values.Z));
        bytes.insert(bytes.end(), {store, storeReg}); // fstp [eax]
        bytes.insert(bytes.end(), {load, loadModRM});
        AppendLong(bytes, static_cast<std::uint32_t>(values.Z + values.ImaginaryStep));
        bytes.insert(bytes.end(),
                     {store, static_cast<std::uint8_t>(storeReg | 0x40), imaginary}); // fstp [eax + d8]
        bytes.insert(bytes.end(), {0x83, 0x46, PC_ORBIT_WRITE, point}); // add dword [orbit write], point
        return bytes;
    };
    auto makeHuge = [] {
        std::vector<std::uint8_t> bytes = {0x89, 0xF0, 0xB9}; // mov eax, esi; mov ecx, helper
        AppendLong(bytes,
                   static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&ColoringHugeOrbitStore)));
        bytes.insert(bytes.end(), {0xFF, 0xD1}); // call ecx
        return bytes;
    };
    static const std::vector<std::uint8_t> codes[3] = {make(0), make(1), makeHuge()};
    return codes[Precision > 2 ? 2 : Precision];
}

const char *TransferFunctionWord(TTransferFunction Transfer) {
    return Transfer < TransferFunctionCount ? TransferWords[Transfer] : "linear";
}

// ---------------------------------------------------------------------------------------------
// TColoring

TColoring::TColoring(std::uint8_t ASide)
    : TFormulaBase(ASide == 0 ? TFormulaKind::Inside : TFormulaKind::Outside), FSide(ASide ? 1 : 0),
      FFinalRoutine(std::make_unique<TRoutineAssembler>()),
      FInitRoutine(std::make_unique<TRoutineAssembler>()),
      FLoopRoutine(std::make_unique<TRoutineAssembler>()),
      FBuiltInFinal(std::make_unique<TRoutineAssembler>()),
      FEmptyRoutine(std::make_unique<TRoutineAssembler>()), FTransfer(ASide == 0 ? 0 : 1) {
    Density.SetTextQuiet("1");
    Density.OnValidate = MakeEvent<&TColoring::ValidateDensity>(this);
    Density.OnChange = MakeEvent<&TColoring::DensityChanged>(this);
    FEmptyRoutine->EmitReturn();
    ClearSource();
}

TColoring::~TColoring() = default;

void TColoring::ValidateDensity(TObject *, const std::string &Text, bool &Accept) {
    Accept = FloatTextToExtended(Text) >= 0;
}

void TColoring::DensityChanged(TObject *) {
    PropertyChanged("Color Density");
}

void TColoring::SetTransfer(TTransferFunction Value) {
    if (Value >= TransferFunctionCount || Value == FTransfer)
        return;
    FTransfer = Value;
    PropertyChanged("Transfer Function");
}

void TColoring::SetOffset(std::int32_t Value) {
    Value = std::clamp(Value, 0, 399);
    if (Value == FOffset)
        return;
    FOffset = Value;
    PropertyChanged("Offset");
}

void TColoring::SetRepeat(bool Value) {
    if (Value == FRepeat)
        return;
    FRepeat = Value;
    PropertyChanged("Repeat Gradient");
}

void TColoring::SetSolidColor(std::uint32_t Value) {
    if (Value == FSolidColor)
        return;
    FSolidColor = Value;
    if (OnSolidChanged)
        OnSolidChanged(this);
}

std::vector<std::uint8_t> TColoring::GetLoopCode() const {
    const std::int32_t size = std::max(FLoopRoutine->GetSize() - 1, 0);
    return std::vector<std::uint8_t>(FLoopRoutine->GetCode(), FLoopRoutine->GetCode() + size);
}

void TColoring::SetupContext(void *Context) const {
    auto &context = *static_cast<TPixelContext *>(Context);
    void *data = nullptr;
    if (GetDataSize() > 0) {
        data = GetFormulaDataAllocator()->Alloc(static_cast<std::uint64_t>(GetDataSize()));
        std::memset(data, 0, static_cast<std::size_t>(GetDataSize()));
        GetStorage().InitData(data);
    }
    auto code = [](const TRoutineAssembler &Routine) {
        return reinterpret_cast<TContextCode>(Routine.GetCode());
    };
    const TContextCode init = FInitRoutine->GetSize() > 0 ? code(*FInitRoutine) : code(*FEmptyRoutine);
    const TContextCode loop = FLoopRoutine->GetSize() > 0 ? code(*FLoopRoutine) : nullptr;
    const TContextCode final = FFinalRoutine->GetSize() > 0   ? code(*FFinalRoutine)
                               : FBuiltInFinal->GetSize() > 0 ? code(*FBuiltInFinal)
                                                              : code(*FEmptyRoutine);
    if (FSide == 0) {
        context.InsideData = data;
        context.InsideInit = init;
        context.InsideLoop = loop;
        context.InsideFinal = final;
    } else {
        context.OutsideData = data;
        context.OutsideInit = init;
        context.OutsideLoop = loop;
        context.OutsideFinal = final;
    }
}

void TColoring::ReleaseContext(void *Context) const {
    auto &context = *static_cast<TPixelContext *>(Context);
    void *&data = FSide == 0 ? context.InsideData : context.OutsideData;
    if (data) {
        GetStorage().DoneData(data);
        GetFormulaDataAllocator()->Free(data);
        data = nullptr;
    }
}

void TColoring::AssembleBuiltInFinal() {
    // #index := #numiter * 0.01 in the context's precision.
    TRoutineAssembler &code = *FBuiltInFinal;
    code.Clear();
    if (GetPrecision() == pmArbitrary) {
        std::vector<std::uint8_t> call = {0x89, 0xF0, 0xB9}; // mov eax, esi; mov ecx, helper
        AppendLong(call,
                   static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&ColoringHugeBuiltInFinal)));
        call.insert(call.end(), {0xFF, 0xD1}); // call ecx
        code.Emit(call.data(), static_cast<std::int32_t>(call.size()));
        code.EmitReturn();
        return;
    }
    std::vector<std::uint8_t> bytes = {0xDB, 0x46, PC_ITERATIONS_DONE, // fild dword [iterations done]
                                       0xD8, 0x0D};                    // fmul dword [0.01]
    AppendLong(bytes, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&Hundredth)));
    const std::int32_t index = ContextValueOffsets[GetPrecision()].Index;
    if (GetPrecision() == pmDouble)
        bytes.insert(bytes.end(), {0xDD, 0x9E}); // fstp qword [index]
    else
        bytes.insert(bytes.end(), {0xDB, 0xBE}); // fstp tbyte [index]
    AppendLong(bytes, static_cast<std::uint32_t>(index));
    code.Emit(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    code.EmitReturn();
}

void TColoring::Assign(const TLexical &Source) {
    if (const auto *other = dynamic_cast<const TColoring *>(&Source)) {
        FReadsZ = other->FReadsZ;
        FUsesOrbit = other->FUsesOrbit;
        FOutputMode = other->FOutputMode;
    }
    TFormulaBase::Assign(Source);
}

void TColoring::ResetCode() {
    TFormulaBase::ResetCode();
    FInitRoutine->Clear();
    FLoopRoutine->Clear();
    FFinalRoutine->Clear();
}

void TColoring::Generate() {
    TFormulaBase::Generate();
    AssembleBuiltInFinal();
    if (OnCodeChanged)
        OnCodeChanged(this);
}

void TColoring::GenerateEmpty() {
    TFormulaBase::GenerateEmpty();
    FReadsZ = false;
    FUsesOrbit = false;
    FOutputMode = 1;
    AssembleBuiltInFinal();
    if (OnCodeChanged)
        OnCodeChanged(this);
}

void TColoring::ReadWithDefaultSolid(TParReader &Reader, std::uint32_t Color) {
    LoadWithDefaultSolid(*this, FDefaultSolid, Reader, Color);
}

void TColoring::InitCompile() {
    FSectionOrder = 0;
    FOutputMode = 0;
    FReadsZ = false;
    FUsesOrbit = false;
    if (FTransfer == 0)
        FTransfer = 1;
    TFormulaBase::InitCompile();
}

void TColoring::EndParse(const TCompilePosition &Position) {
    if (FOutputMode == 0)
        FOutputMode = 1;
    TFormulaBase::EndParse(Position);
}

void TColoring::GetLeadingSection(const std::string &Label, std::string &Name) {
    Name = Label == "GLOBAL" || Label == "INIT" ? "" : "INIT";
}

void TColoring::GetSectionKind(const std::string &Label, std::uint8_t &Kind) {
    TFormulaBase::GetSectionKind(Label, Kind);
    if (Kind != skdInvalid || Label == "GLOBAL")
        return;
    const struct {
        const char *Label;
        std::uint8_t Order, Kind;
    } steps[] = {{"INIT", soInit, skdCode},
                 {"LOOP", soLoop, skdCode},
                 {"FINAL", soFinal, skdCode},
                 {"DEFAULT", soDefault, skdParameters}};
    for (const auto &step : steps)
        if (Label == step.Label && FSectionOrder < step.Order) {
            FSectionOrder = step.Order;
            Kind = step.Kind;
            return;
        }
}

bool TColoring::IsFunctionAllowed(const std::string &Section, std::uint8_t FunctionId) {
    if (FunctionId != fnOldZ)
        return true;
    if (Section != "FINAL")
        return false;
    FUsesOrbit = true;
    return true;
}

bool TColoring::IsPredefinedReadable(const std::string &Section, std::uint8_t SymbolId) {
    if (Section == "INIT" || Section == "LOOP" || Section == "FINAL") {
        if (SymbolId == psZ) {
            FReadsZ = true;
            return true;
        }
        if (SymbolId == psNumIter)
            return Section == "FINAL";
        if (SymbolId == psPixel || SymbolId == psRandom || SymbolId == psPi || SymbolId == psE ||
            SymbolId == psMaxIter || SymbolId == psRandomRange ||
            (SymbolId >= psScreenMax && SymbolId <= psSkew))
            return true;
        return false;
    }
    return TFormulaBase::IsPredefinedReadable(Section, SymbolId);
}

bool TColoring::IsPredefinedWritable(const std::string &Section, std::uint8_t SymbolId) {
    if (Section != "FINAL")
        return false;
    if (SymbolId == psIndex && FOutputMode != 2) {
        FOutputMode = 1;
        return true;
    }
    if (SymbolId == psColor && FOutputMode != 1) {
        FOutputMode = 2;
        return true;
    }
    return SymbolId == psSolidColor;
}

void TColoring::SelectFunctionRoutine(int Function, int, int, int &Routine) {
    if (Function == fnGradient)
        Routine = FSide == 0 ? 169 : 170;
}

void TColoring::CompileSection(const std::string &Name, const std::uint8_t *Code, std::int32_t Size) {
    TFormulaBase::CompileSection(Name, Code, Size);
    if (Name == "INIT")
        EmitSectionRoutine(*FInitRoutine, Code, Size, 1);
    else if (Name == "LOOP" && Size > 0)
        EmitSectionRoutine(*FLoopRoutine, Code, Size, 1);
    else if (Name == "FINAL")
        EmitSectionRoutine(*FFinalRoutine, Code, Size, 1);
}

void TColoring::WriteSettings(TParWriter &Writer) const {
    if (Density.GetValue() != 1)
        Writer.WriteFloatValue("density", Density);
    Writer.WriteString("transfer", TransferFunctionWord(FTransfer));
    if (FOffset != 0)
        Writer.WriteInteger("offset", FOffset);
    if (!FRepeat)
        Writer.WriteBoolean("repeat", false);
    if (FSolidColor != OpaqueBlack)
        Writer.WriteCardinal("solid", FSolidColor);
}

void TColoring::ResetSettings() {
    FPendingDensity = "1";
    FPendingTransfer = FSide == 0 ? 0 : 1;
    FPendingOffset = 0;
    FPendingRepeat = true;
    FPendingSolid = FDefaultSolid;
}

void TColoring::ReadSetting(TParReader &Reader, const std::string &Key) {
    if (Key == "density") {
        if (!IsValidFloatText(Reader.GetValue()))
            Reader.RaiseError();
        FPendingDensity = Reader.GetValue();
    } else if (Key == "transfer") {
        const std::string word = Reader.GetLowerValue();
        for (int i = 0; i < TransferFunctionCount; ++i)
            if (word == TransferWords[i])
                FPendingTransfer = static_cast<TTransferFunction>(i);
    } else if (Key == "offset") {
        FPendingOffset = Reader.GetInteger();
    } else if (Key == "repeat") {
        FPendingRepeat = Reader.GetBoolean();
    } else if (Key == "solid") {
        FPendingSolid = Reader.GetCardinal();
    }
}

void TColoring::ApplySettings() {
    Density.SetText(FPendingDensity);
    SetTransfer(FPendingTransfer);
    SetOffset(FPendingOffset);
    SetRepeat(FPendingRepeat);
    SetSolidColor(FPendingSolid);
}

// ---------------------------------------------------------------------------------------------
// TColoringMapper

TColoringMapper::TColoringMapper(const TColoring &Coloring)
    : Density(static_cast<float>(Coloring.Density.GetValue())), Offset(Coloring.GetOffset() / 400.0f),
      PrecisionMode(Coloring.GetPrecision()), Repeat(Coloring.GetRepeat()), Transfer(Coloring.GetTransfer()) {
}

float TColoringMapper::MapValue(float Value) const {
    std::uint16_t saved;
    SetFormulaFPUControl(saved);
    double v = static_cast<double>(Value) * Density;
    if (!(v >= 0))
        v = 0;
    if (v > 1e9)
        v = 1e9;
    switch (Transfer) {
    case 2:
        v = 2 * v * v;
        break;
    case 3:
        v = std::sqrt(v) / 2;
        break;
    case 4:
        v = 3 * v * v * v;
        break;
    case 5:
        v = v == 0 ? 0 : 0.33 * std::exp(std::log(v) / 3);
        break;
    case 6:
        v = std::log(1 + v);
        break;
    case 7:
        v = std::exp(std::min(v, 100.0));
        break;
    case 8:
        v = std::fabs(std::sin(v));
        break;
    case 9:
        v = std::fabs(std::atan(v));
        break;
    default:
        break;
    }
    if (!Repeat && v >= 0.9975)
        v = 0.9975;
    v += Offset;
    const float position = static_cast<float>(v - std::trunc(v));
    RestoreFPUControl(saved);
    return position;
}

float TColoringMapper::MapPixel(const void *Context) const {
    const auto *bytes = static_cast<const std::uint8_t *>(Context);
    const std::int32_t index = ContextValueOffsets[PrecisionMode > 2 ? 2 : PrecisionMode].Index;
    long double value = 0;
    if (PrecisionMode == 0) {
        double d;
        std::memcpy(&d, bytes + index, 8);
        value = d;
    } else if (PrecisionMode == 1) {
        std::memcpy(&value, bytes + index, 10);
    } else {
        const THugeFloatBase *number;
        std::memcpy(&number, bytes + index, sizeof number);
        if (number) {
            std::uint16_t saved;
            SetFormulaFPUControl(saved);
            value = number->GetExtended();
            RestoreFPUControl(saved);
        }
    }
    return MapValue(static_cast<float>(value));
}
