#include "CompAccess.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include <windows.h>

#include "CompRoutines.h"
#include "CompTokenizer.h"

namespace {

constexpr std::int32_t CodeGrain = 4096;

// The merge-mode functions, first to last, of the formula language's function ids.
constexpr int fnMergeFirst = fnMergeNormal;
constexpr int fnMergeLast = fnMergeBlue;

// Routines of the complex-to-complex functions, by function id 0 .. 28 (0: none).
constexpr int ComplexFunctionRoutines[29] = {31, 33, 32, 34, 35, 37, 36, 38, 39, 41, 40, 42, 43, 44, 45,
                                             51, 52, 53, 54, 56, 59, 62, 0,  0,  58, 64, 63, 65, 66};
// Routines of the float-to-float functions, by function id 0 .. 24 (0: none).
constexpr int FloatFunctionRoutines[25] = {89,  91,  90,  92,  93,  95,  94, 96, 97, 99, 98, 100, 101,
                                           102, 103, 109, 110, 111, 112, 0,  0,  0,  0,  0,  113};

std::atomic<TProcessorAccessFactory> HugeAccessFactory{nullptr};

void PutLong(std::uint8_t *Target, std::uint32_t Value) {
    Target[0] = static_cast<std::uint8_t>(Value);
    Target[1] = static_cast<std::uint8_t>(Value >> 8);
    Target[2] = static_cast<std::uint8_t>(Value >> 16);
    Target[3] = static_cast<std::uint8_t>(Value >> 24);
}

std::uint32_t PackPosition(const TCompilePosition &Position) {
    const std::uint32_t line = static_cast<std::uint32_t>(std::clamp(Position.Line, 0, 65535));
    const std::uint32_t column = static_cast<std::uint32_t>(std::clamp(Position.Column, 0, 65535));
    return line * 65536 + column;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TCodeAssembler

TCodeAssembler::~TCodeAssembler() {
    ReleaseCode();
}

void *TCodeAssembler::AllocCode(std::int32_t Size) {
    void *buffer = ::operator new(static_cast<std::size_t>(Size), std::nothrow);
    if (!buffer)
        throw EOutOfMemory("Out of memory");
    return buffer;
}

void TCodeAssembler::FreeCode(void *Buffer) {
    ::operator delete(Buffer);
}

void TCodeAssembler::ReleaseCode() {
    if (FCode) {
        std::uint8_t *code = FCode;
        FCode = nullptr;
        FCapacity = FPosition = FSize = 0;
        FreeCode(code);
    }
}

void TCodeAssembler::Emit(const void *Bytes, std::int32_t Count) {
    if (!Bytes || Count < 1)
        return;
    const std::int64_t end = static_cast<std::int64_t>(FPosition) + Count;
    if (end > FCapacity) {
        std::int64_t capacity = (end / CodeGrain + 1) * CodeGrain;
        // Growing by half at least keeps a long formula's code linear to build: on average each
        // byte moves a bounded number of times.
        const std::int64_t grown = static_cast<std::int64_t>(FCapacity) * 3 / 2 / CodeGrain * CodeGrain;
        if (grown > capacity && grown <= INT32_MAX)
            capacity = grown;
        if (capacity > INT32_MAX)
            throw EOutOfMemory("Out of memory");
        auto *code = static_cast<std::uint8_t *>(AllocCode(static_cast<std::int32_t>(capacity)));
        // Every valid byte moves, not only those before the write position: code beyond a
        // patch position must survive the move.
        if (FCode) {
            std::memcpy(code, FCode, static_cast<std::size_t>(FSize));
            FreeCode(FCode);
        }
        FCode = code;
        FCapacity = static_cast<std::int32_t>(capacity);
    }
    std::memcpy(FCode + FPosition, Bytes, static_cast<std::size_t>(Count));
    FPosition = static_cast<std::int32_t>(end);
    FSize = std::max(FSize, FPosition);
}

void TCodeAssembler::Clear() {
    FPosition = 0;
    FSize = 0;
}

void TCodeAssembler::SetPosition(std::int32_t P) {
    if (P >= 0 && P <= FSize)
        FPosition = P;
}

void TCodeAssembler::FlushCode() const {
    if (FCode && FSize > 0)
        FlushInstructionCache(GetCurrentProcess(), FCode, static_cast<SIZE_T>(FSize));
}

void TCodeAssembler::EmitByte(std::uint8_t Value) {
    Emit(&Value, 1);
}

void TCodeAssembler::EmitBytes(std::initializer_list<std::uint8_t> Bytes) {
    Emit(Bytes.begin(), static_cast<std::int32_t>(Bytes.size()));
}

void TCodeAssembler::EmitLong(std::uint32_t Value) {
    std::uint8_t bytes[4];
    PutLong(bytes, Value);
    Emit(bytes, 4);
}

namespace {

void WriteDisplacement(std::uint8_t *Code, std::int32_t At, std::int32_t Width, std::int32_t Target) {
    const std::int32_t distance = Target - (At + Width);
    if (Width == 1) {
        if (distance < -128 || distance > 127)
            throw EInternalCompilerError("Jump out of range");
        Code[At] = static_cast<std::uint8_t>(distance);
    } else {
        std::memcpy(Code + At, &distance, 4);
    }
}

} // namespace

void TCodeAssembler::PlaceLabel(TCodeLabel &Label) {
    if (Label.IsPlaced())
        throw EInternalCompilerError("Label placed twice");
    Label.FPosition = FPosition;
    for (const TCodeLabel::TFixup &fixup : Label.FFixups)
        WriteDisplacement(FCode, fixup.Position, fixup.Width, Label.FPosition);
    Label.FFixups.clear();
}

void TCodeAssembler::EmitJumpTo(std::initializer_list<std::uint8_t> Opcode, TCodeLabel &Label,
                                std::int32_t Width) {
    if (Width != 1 && Width != 4)
        throw EInternalCompilerError("Jump width");
    EmitBytes(Opcode);
    const std::int32_t at = FPosition;
    const std::uint8_t zeros[4] = {};
    Emit(zeros, Width);
    if (Label.IsPlaced())
        WriteDisplacement(FCode, at, Width, Label.FPosition);
    else
        Label.FFixups.push_back({at, Width});
}

// ---------------------------------------------------------------------------------------------
// TProcessorAccess: routine choice

int TProcessorAccess::GetUnaryOperatorRoutine(int Operator, int OperandType) {
    switch (OperandType) {
    case vtComplex:
        return Operator == uoNegate ? 30 : (Operator == uoModulus ? 57 : 0);
    case vtFloat:
        return 88;
    case vtInteger:
        return 128;
    case vtBoolean:
        return 143;
    default:
        return 0;
    }
}

int TProcessorAccess::GetOperatorRoutine(int Operator, int Order, int ResultType, int RightType,
                                         int LeftType) {
    const bool reversed = Order == 2;
    const auto pick = [reversed](int Normal, int Reversed) { return reversed ? Reversed : Normal; };
    switch (LeftType) {
    case vtComplex: {
        const bool rightComplex = RightType == vtComplex;
        if (!rightComplex && RightType != vtFloat)
            return 0;
        switch (Operator) {
        case opAdd:
            return rightComplex ? 22 : pick(146, 147);
        case opSubtract:
            return rightComplex ? pick(23, 24) : pick(148, 151);
        case opMultiply:
            return rightComplex ? 25 : pick(144, 145);
        case opDivide:
            return rightComplex ? pick(26, 27) : pick(152, 153);
        case opPower:
            return pick(28, 29);
        case opEqual:
            return 68;
        case opNotEqual:
            return 69;
        default:
            return 0;
        }
    }
    case vtFloat: {
        const bool rightComplex = RightType == vtComplex;
        if (!rightComplex && RightType != vtFloat)
            return 0;
        switch (Operator) {
        case opAdd:
            return rightComplex ? pick(147, 146) : 78;
        case opSubtract:
            return rightComplex ? pick(149, 150) : pick(79, 80);
        case opMultiply:
            return rightComplex ? pick(145, 144) : 81;
        case opDivide:
            return pick(82, 83);
        case opPower:
            return pick(86, 87);
        case opModulo:
            return pick(84, 85);
        case opEqual:
            return 118;
        case opNotEqual:
            return 119;
        // Both orders use the routine of the operator itself; EmitOperator exchanges the operands
        // first in reversed order (a mirrored comparison would answer differently for a NaN).
        case opLess:
            return 120;
        case opLessEqual:
            return 121;
        case opGreater:
            return 122;
        case opGreaterEqual:
            return 123;
        default:
            return 0;
        }
    }
    case vtInteger:
        switch (Operator) {
        case opAdd:
            return 124;
        case opSubtract:
            return 125;
        case opMultiply:
            return 126;
        case opModulo:
            return 127;
        case opEqual:
            return 133;
        case opNotEqual:
            return 134;
        case opLess:
            return 135;
        case opLessEqual:
            return 136;
        case opGreater:
            return 137;
        case opGreaterEqual:
            return 138;
        default:
            return 0;
        }
    case vtBoolean:
        switch (Operator) {
        case opEqual:
            return 139;
        case opNotEqual:
            return 140;
        case opAnd:
            return 141;
        case opOr:
            return 142;
        default:
            return 0;
        }
    case vtColor:
        switch (Operator) {
        case opAdd:
            return 154;
        case opSubtract:
            return 155;
        case opMultiply:
            return 156;
        case opDivide:
            return 157;
        default:
            return 0;
        }
    default:
        return 0;
    }
}

int TProcessorAccess::GetFunctionRoutine(int Function, int ArgumentType, int ResultType) {
    if (OnSelectFunction) {
        int routine = 0;
        OnSelectFunction(Function, ArgumentType, ResultType, routine);
        if (routine != 0)
            return routine;
    }
    if (Function == fnOldZ)
        return GetOldZRoutine();
    switch (ArgumentType) {
    case vtComplex:
        if (ResultType == vtComplex) {
            if (Function >= 0 && Function <= fnRound)
                return ComplexFunctionRoutines[Function];
            switch (Function) {
            case fnTimesTwo:
                return 46;
            case fnTimesI:
                return 47;
            case fnTimesMinusI:
                return 48;
            case fnCube:
                return 49;
            case fnFourthPower:
                return 50;
            default:
                return 0;
            }
        }
        if (ResultType == vtFloat) {
            switch (Function) {
            case fnCabs:
                return 55;
            case fnReal:
                return 60;
            case fnImag:
                return 61;
            case fnAtan2:
                return 67;
            default:
                return 0;
            }
        }
        return 0;
    case vtFloat:
        switch (ResultType) {
        case vtComplex:
            switch (Function) {
            case fnToComplex:
                return 192;
            case fnTimesI:
                return 105;
            case fnTimesMinusI:
                return 106;
            default:
                return 0;
            }
        case vtFloat:
            if (Function >= 0 && Function <= fnRecip)
                return FloatFunctionRoutines[Function];
            switch (Function) {
            case fnTimesTwo:
                return 104;
            case fnCube:
                return 107;
            case fnFourthPower:
                return 108;
            default:
                return 0;
            }
        case vtInteger:
            switch (Function) {
            case fnFloor:
                return 114;
            case fnCeil:
                return 115;
            case fnRound:
                return 116;
            case fnTrunc:
                return 117;
            default:
                return 0;
            }
        case vtColor:
            switch (Function) {
            case fnRgb:
                return 158;
            case fnRgba:
                return 159;
            case fnHsl:
                return 160;
            case fnHsla:
                return 161;
            default:
                return 0;
            }
        default:
            return 0;
        }
    case vtInteger:
        switch (Function) {
        case fnToComplex:
            return 193;
        case fnToFloat:
            return 194;
        case fnTimesTwo:
            return 130;
        case fnSqr:
            return 129;
        case fnAbs:
            return 131;
        case fnRandom:
            return 132;
        default:
            return 0;
        }
    case vtBoolean:
        switch (Function) {
        case fnToInteger:
            return 197;
        case fnToFloat:
            return 196;
        case fnToComplex:
            return 195;
        default:
            return 0;
        }
    case vtColor:
        switch (Function) {
        case fnRed:
            return 162;
        case fnGreen:
            return 163;
        case fnBlue:
            return 164;
        case fnHue:
            return 165;
        case fnSat:
            return 166;
        case fnLum:
            return 167;
        case fnAlpha:
            return 168;
        case fnBlend:
            return 171;
        case fnCompose:
            return 172;
        default:
            if (Function >= fnMergeFirst && Function <= fnMergeLast)
                return 173 + (Function - fnMergeFirst);
            return 0;
        }
    default:
        return 0;
    }
}

int TProcessorAccess::GetRoutineStackUse(int Routine) {
    return RoutineStackUse(Routine);
}

void TProcessorAccess::EmitRoutine(int Routine) {
    Emit(RoutineAddress(Routine), RoutineLength(Routine));
}

int TProcessorAccess::GetUnaryOperatorStackUse(int Operator, int OperandType, int ResultType) {
    return GetRoutineStackUse(GetUnaryOperatorRoutine(Operator, OperandType));
}

void TProcessorAccess::EmitUnaryOperator(int Operator, int OperandType, int ResultType) {
    EmitRoutine(GetUnaryOperatorRoutine(Operator, OperandType));
}

int TProcessorAccess::GetOperatorStackUse(int Operator, int Order, int ResultType, int RightType,
                                          int LeftType) {
    return GetRoutineStackUse(GetOperatorRoutine(Operator, Order, ResultType, RightType, LeftType));
}

void TProcessorAccess::EmitOperator(int Operator, int Order, int ResultType, int RightType, int LeftType) {
    const int routine = GetOperatorRoutine(Operator, Order, ResultType, RightType, LeftType);
    // An ordered float comparison with the right operand on top puts the left one back on top
    // (flip exchanges the two registers), so that an unordered pair gives the operator's own
    // answer whichever operand was evaluated first.
    if (Order == 2 && LeftType == vtFloat && RightType == vtFloat && routine >= 120 && routine <= 123)
        EmitRoutine(62);
    EmitRoutine(routine);
}

int TProcessorAccess::GetFunctionStackUse(int Function, int ArgumentType, int ResultType) {
    if (Function == fnIdent || Function == fnZero)
        return 0;
    return GetRoutineStackUse(GetFunctionRoutine(Function, ArgumentType, ResultType));
}

void TProcessorAccess::EmitFunction(int Function, int ArgumentType, int ResultType) {
    if (Function == fnIdent)
        return;
    if (Function == fnZero) {
        EmitRoutine(21);
        EmitRoutine(18);
        return;
    }
    EmitRoutine(GetFunctionRoutine(Function, ArgumentType, ResultType));
}

// ---------------------------------------------------------------------------------------------
// TProcessorAccess: int, bool and colour operands

std::uint8_t TProcessorAccess::ModRM(std::uint8_t Reg, bool InContext) {
    // mod 10 (32-bit displacement), rm 110 esi or 111 edi.
    return static_cast<std::uint8_t>(0x80 | (Reg << 3) | (InContext ? 6 : 7));
}

void TProcessorAccess::EmitOperand(std::uint8_t Opcode, std::uint8_t Reg, std::int32_t Offset,
                                   bool InContext) {
    EmitBytes({Opcode, ModRM(Reg, InContext)});
    EmitLong(static_cast<std::uint32_t>(Offset));
}

void TProcessorAccess::EmitIndexed(std::uint8_t Opcode, std::uint8_t Reg, std::int32_t Offset, bool ByEcx) {
    // ModRM with a SIB byte and a 32-bit displacement; SIB: scale 1, index eax or ecx, base edi.
    EmitBytes({Opcode, static_cast<std::uint8_t>(0x84 | (Reg << 3)),
               static_cast<std::uint8_t>(ByEcx ? 0x0F : 0x07)});
    EmitLong(static_cast<std::uint32_t>(Offset));
}

// Register numbers in ModRM.reg.
constexpr std::uint8_t rEax = 0, rEdx = 2;

void TProcessorAccess::LoadInt(std::int32_t Offset, bool InContext) {
    EmitOperand(0x8B, rEax, Offset, InContext);
}

void TProcessorAccess::LoadIntEdx(std::int32_t Offset, bool InContext) {
    EmitOperand(0x8B, rEdx, Offset, InContext);
}

void TProcessorAccess::LoadBool(std::int32_t Offset, bool InContext) {
    EmitOperand(0x8A, rEax, Offset, InContext);
}

void TProcessorAccess::LoadBoolDl(std::int32_t Offset, bool InContext) {
    EmitOperand(0x8A, rEdx, Offset, InContext);
}

void TProcessorAccess::StoreInt(std::int32_t Offset, bool InContext) {
    EmitOperand(0x89, rEax, Offset, InContext);
}

void TProcessorAccess::StoreIntEdx(std::int32_t Offset, bool InContext) {
    EmitOperand(0x89, rEdx, Offset, InContext);
}

void TProcessorAccess::StoreBool(std::int32_t Offset, bool InContext) {
    EmitOperand(0x88, rEax, Offset, InContext);
}

void TProcessorAccess::LoadIntIndexed(std::int32_t Offset) {
    EmitIndexed(0x8B, rEax, Offset);
}

void TProcessorAccess::LoadBoolIndexed(std::int32_t Offset) {
    EmitIndexed(0x8A, rEax, Offset);
}

void TProcessorAccess::StoreIntIndexed(std::int32_t Offset) {
    EmitIndexed(0x89, rEdx, Offset);
    EmitBytes({0x89, 0xD0}); // mov eax, edx
}

void TProcessorAccess::StoreBoolIndexed(std::int32_t Offset) {
    EmitIndexed(0x88, rEdx, Offset);
    EmitBytes({0x89, 0xD0});
}

void TProcessorAccess::LoadIntImmediate(std::int32_t Value) {
    EmitByte(0xB8);
    EmitLong(static_cast<std::uint32_t>(Value));
}

void TProcessorAccess::LoadEdxImmediate(std::int32_t Value) {
    EmitByte(0xBA);
    EmitLong(static_cast<std::uint32_t>(Value));
}

void TProcessorAccess::LoadBoolImmediate(std::uint8_t Value) {
    EmitBytes({0xB0, Value});
}

void TProcessorAccess::EmitSaveValue() {
    EmitByte(0x50);
}

void TProcessorAccess::EmitRestoreValue() {
    EmitByte(0x5A);
}

void TProcessorAccess::LoadColor(std::int32_t Offset, bool InContext) {
    EmitBytes({0x83, 0xEC, 0x10});
    for (std::uint8_t k = 0; k <= 8; k += 8) {
        LoadInt(Offset + k, InContext);
        LoadIntEdx(Offset + k + 4, InContext);
        EmitBytes({0x89, 0x44, 0x24, k});
        EmitBytes({0x89, 0x54, 0x24, static_cast<std::uint8_t>(k + 4)});
    }
}

void TProcessorAccess::StoreColor(std::int32_t Offset, bool InContext) {
    for (std::uint8_t k = 0; k <= 8; k += 8) {
        EmitBytes({0x8B, 0x44, 0x24, k});
        EmitBytes({0x8B, 0x54, 0x24, static_cast<std::uint8_t>(k + 4)});
        StoreInt(Offset + k, InContext);
        StoreIntEdx(Offset + k + 4, InContext);
    }
}

void TProcessorAccess::StoreColorPop(std::int32_t Offset, bool InContext) {
    StoreColor(Offset, InContext);
    EmitDropColor();
}

void TProcessorAccess::LoadValue(std::uint8_t Type, std::int32_t Offset, bool InContext) {
    switch (Type) {
    case vtComplex:
        LoadComplex(Offset, InContext);
        break;
    case vtFloat:
        LoadReal(Offset, InContext);
        break;
    case vtInteger:
        LoadInt(Offset, InContext);
        break;
    case vtBoolean:
        LoadBool(Offset, InContext);
        break;
    case vtColor:
        LoadColor(Offset, InContext);
        break;
    default:
        throw EInternalCompilerError("Cannot load a value of type %d", static_cast<int>(Type));
    }
}

void TProcessorAccess::StoreValue(std::uint8_t Type, std::int32_t Offset, bool InContext, bool Pop) {
    switch (Type) {
    case vtComplex:
        if (Pop)
            StoreComplexPop(Offset, InContext);
        else
            StoreComplex(Offset, InContext);
        break;
    case vtFloat:
        if (Pop)
            StoreRealPop(Offset, InContext);
        else
            StoreReal(Offset, InContext);
        break;
    case vtInteger:
        StoreInt(Offset, InContext);
        break;
    case vtBoolean:
        StoreBool(Offset, InContext);
        break;
    case vtColor:
        if (Pop)
            StoreColorPop(Offset, InContext);
        else
            StoreColor(Offset, InContext);
        break;
    default:
        throw EInternalCompilerError("Cannot store a value of type %d", static_cast<int>(Type));
    }
}

void TProcessorAccess::LoadColorIndexed(std::int32_t Offset) {
    EmitBytes({0x83, 0xEC, 0x10, 0x89, 0xC1}); // sub esp, 16; mov ecx, eax
    for (std::uint8_t k = 0; k <= 8; k += 8) {
        EmitIndexed(0x8B, rEax, Offset + k, true);
        EmitIndexed(0x8B, rEdx, Offset + k + 4, true);
        EmitBytes({0x89, 0x44, 0x24, k});
        EmitBytes({0x89, 0x54, 0x24, static_cast<std::uint8_t>(k + 4)});
    }
}

void TProcessorAccess::StoreColorIndexed(std::int32_t Offset) {
    EmitBytes({0x89, 0xC1});
    for (std::uint8_t k = 0; k <= 8; k += 8) {
        EmitBytes({0x8B, 0x44, 0x24, k});
        EmitBytes({0x8B, 0x54, 0x24, static_cast<std::uint8_t>(k + 4)});
        EmitIndexed(0x89, rEax, Offset + k, true);
        EmitIndexed(0x89, rEdx, Offset + k + 4, true);
    }
}

void TProcessorAccess::StoreColorIndexedPop(std::int32_t Offset) {
    StoreColorIndexed(Offset);
    EmitDropColor();
}

void TProcessorAccess::EmitDropColor() {
    EmitBytes({0x83, 0xC4, 0x10});
}

// ---------------------------------------------------------------------------------------------
// TProcessorAccess: further emitters

void TProcessorAccess::EmitDiscardComplex() {
    EmitRoutine(21);
}

void TProcessorAccess::EmitDiscardReal() {
    EmitRoutine(77);
}

void TProcessorAccess::EmitScaleIndex(std::uint32_t N) {
    if (N == 1)
        return;
    for (std::uint8_t k = 1; k <= 24; ++k) {
        if (N == (1u << k)) {
            EmitBytes({0xC1, 0xE0, k});
            return;
        }
    }
    EmitBytes({0x69, 0xC0});
    EmitLong(N);
}

void TProcessorAccess::EmitBoundsCheck(std::int32_t Count, const TObject *Formula, bool Debug,
                                       const TCompilePosition &Position) {
    const auto last = static_cast<std::uint32_t>(Count - 1);
    EmitByte(0x3D);
    EmitLong(last);
    EmitBytes({0x76, static_cast<std::uint8_t>(Debug ? 5 + 15 + RoutineLength(17) : 5)});
    if (Debug)
        EmitRuntimeError(Formula, 1, Position);
    EmitByte(0xB8);
    EmitLong(last);
}

void TProcessorAccess::EmitRuntimeError(const TObject *Formula, std::int32_t Code,
                                        const TCompilePosition &Position) {
    EmitByte(0xB8);
    EmitLong(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(Formula)));
    EmitByte(0xBA);
    EmitLong(static_cast<std::uint32_t>(Code));
    EmitByte(0xB9);
    EmitLong(PackPosition(Position));
    EmitRoutine(17);
}

void TProcessorAccess::EmitBlockCopy(std::int32_t Destination, std::int32_t Source, std::int32_t Size) {
    if (Size < 1)
        return;
    int unit = 1, routine = 5;
    if (Size % 16 == 0) {
        unit = 16;
        routine = 8;
    } else if (Size % 8 == 0) {
        unit = 8;
        routine = 7;
    } else if (Size % 4 == 0) {
        unit = 4;
        routine = 6;
    }
    EmitByte(0xB8);
    EmitLong(static_cast<std::uint32_t>(Destination));
    EmitByte(0xBA);
    EmitLong(static_cast<std::uint32_t>(Source));
    EmitByte(0xB9);
    EmitLong(static_cast<std::uint32_t>(Size / unit));
    EmitRoutine(routine);
}

void TProcessorAccess::EmitJumpIfFalse(std::int32_t Distance) {
    EmitBytes({0x08, 0xC0, 0x0F, 0x84});
    EmitLong(static_cast<std::uint32_t>(Distance - 8));
}

void TProcessorAccess::EmitJump(std::int32_t Distance) {
    EmitByte(0xE9);
    EmitLong(static_cast<std::uint32_t>(Distance - 5));
}

// ---------------------------------------------------------------------------------------------
// TDoubleAccess

void TDoubleAccess::LoadReal(std::int32_t Offset, bool InContext) {
    EmitOperand(0xDD, 0, Offset, InContext); // fld qword
}

void TDoubleAccess::StoreReal(std::int32_t Offset, bool InContext) {
    EmitOperand(0xDD, 2, Offset, InContext); // fst qword
}

void TDoubleAccess::StoreRealPop(std::int32_t Offset, bool InContext) {
    EmitOperand(0xDD, 3, Offset, InContext); // fstp qword
}

void TDoubleAccess::LoadRealIndexed(std::int32_t Offset) {
    EmitIndexed(0xDD, 0, Offset);
}

void TDoubleAccess::StoreRealIndexed(std::int32_t Offset) {
    EmitIndexed(0xDD, 2, Offset);
}

void TDoubleAccess::StoreRealIndexedPop(std::int32_t Offset) {
    EmitIndexed(0xDD, 3, Offset);
}

void TDoubleAccess::LoadComplex(std::int32_t Offset, bool InContext) {
    LoadReal(Offset + 8, InContext);
    LoadReal(Offset, InContext);
}

void TDoubleAccess::StoreComplex(std::int32_t Offset, bool InContext) {
    StoreReal(Offset, InContext);
    EmitBytes({0xD9, 0xC9}); // fxch st(1)
    StoreReal(Offset + 8, InContext);
    EmitBytes({0xD9, 0xC9});
}

void TDoubleAccess::StoreComplexPop(std::int32_t Offset, bool InContext) {
    StoreRealPop(Offset, InContext);
    StoreRealPop(Offset + 8, InContext);
}

void TDoubleAccess::LoadComplexIndexed(std::int32_t Offset) {
    LoadRealIndexed(Offset + 8);
    LoadRealIndexed(Offset);
}

void TDoubleAccess::StoreComplexIndexed(std::int32_t Offset) {
    StoreRealIndexed(Offset);
    EmitBytes({0xD9, 0xC9});
    StoreRealIndexed(Offset + 8);
    EmitBytes({0xD9, 0xC9});
}

void TDoubleAccess::StoreComplexIndexedPop(std::int32_t Offset) {
    StoreRealIndexedPop(Offset);
    StoreRealIndexedPop(Offset + 8);
}

// ---------------------------------------------------------------------------------------------
// TExtendedAccess: there is no store of an 80-bit value that keeps it, so the keeping stores pop
// a copy (fld st(0) / fld st(1)) and need one free register.

void TExtendedAccess::LoadReal(std::int32_t Offset, bool InContext) {
    EmitOperand(0xDB, 5, Offset, InContext); // fld tbyte
}

void TExtendedAccess::StoreReal(std::int32_t Offset, bool InContext) {
    EmitBytes({0xD9, 0xC0}); // fld st(0)
    StoreRealPop(Offset, InContext);
}

void TExtendedAccess::StoreRealPop(std::int32_t Offset, bool InContext) {
    EmitOperand(0xDB, 7, Offset, InContext); // fstp tbyte
}

void TExtendedAccess::LoadRealIndexed(std::int32_t Offset) {
    EmitIndexed(0xDB, 5, Offset);
}

void TExtendedAccess::StoreRealIndexed(std::int32_t Offset) {
    EmitBytes({0xD9, 0xC0});
    StoreRealIndexedPop(Offset);
}

void TExtendedAccess::StoreRealIndexedPop(std::int32_t Offset) {
    EmitIndexed(0xDB, 7, Offset);
}

void TExtendedAccess::LoadComplex(std::int32_t Offset, bool InContext) {
    LoadReal(Offset + 16, InContext);
    LoadReal(Offset, InContext);
}

void TExtendedAccess::StoreComplex(std::int32_t Offset, bool InContext) {
    EmitBytes({0xD9, 0xC0}); // fld st(0)
    StoreRealPop(Offset, InContext);
    EmitBytes({0xD9, 0xC1}); // fld st(1)
    StoreRealPop(Offset + 16, InContext);
}

void TExtendedAccess::StoreComplexPop(std::int32_t Offset, bool InContext) {
    StoreRealPop(Offset, InContext);
    StoreRealPop(Offset + 16, InContext);
}

void TExtendedAccess::LoadComplexIndexed(std::int32_t Offset) {
    LoadRealIndexed(Offset + 16);
    LoadRealIndexed(Offset);
}

void TExtendedAccess::StoreComplexIndexed(std::int32_t Offset) {
    EmitBytes({0xD9, 0xC0});
    StoreRealIndexedPop(Offset);
    EmitBytes({0xD9, 0xC1});
    StoreRealIndexedPop(Offset + 16);
}

void TExtendedAccess::StoreComplexIndexedPop(std::int32_t Offset) {
    StoreRealIndexedPop(Offset);
    StoreRealIndexedPop(Offset + 16);
}

// ---------------------------------------------------------------------------------------------

void RegisterHugeAccessFactory(TProcessorAccessFactory Factory) {
    HugeAccessFactory.store(Factory);
}

std::unique_ptr<TProcessorAccess> CreateProcessorAccess(int Precision) {
    switch (Precision) {
    case pmDouble:
        return std::make_unique<TDoubleAccess>();
    case pmExtended:
        return std::make_unique<TExtendedAccess>();
    default:
        if (TProcessorAccessFactory factory = HugeAccessFactory.load())
            return factory();
        throw EInternalCompilerError("No processor access for arbitrary precision");
    }
}
