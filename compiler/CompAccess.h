// The two lowest layers of the formula compiler's back end: a growable buffer of machine code
// (TCodeAssembler) and the processor access objects that turn the code generator's requests
// (load this complex value, store that float, apply routine n) into 32-bit x86/x87 instruction
// bytes for one precision. The generator never writes an instruction byte itself.
//
// Register conventions of generated code: esi the pixel context, edi the data block of the running
// formula part, ebp the routine's second argument, ebx the iteration counter; eax holds int and
// bool values (al) and computed element offsets, edx the right operand of int and bool operators,
// ecx is scratch. Float values take one x87 register, complex values two (real part in ST(0)),
// colour values 16 bytes at [esp] (four 32-bit floats, red, green, blue, alpha).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "Classes.h"
#include "CompDefinitions.h"
#include "SysUtils.h"

// A jump target in a code buffer. Jumps emitted towards it before it is placed are patched when it
// is placed; jumps emitted after that get their displacement at once. A label belongs to one run
// of emitting into one buffer: it holds positions, not addresses.
class TCodeLabel {
public:
    bool IsPlaced() const { return FPosition >= 0; }
    std::int32_t GetPosition() const { return FPosition; }

private:
    friend class TCodeAssembler;
    struct TFixup {
        std::int32_t Position; // of the displacement
        std::int32_t Width;    // 1 or 4 bytes
    };
    std::int32_t FPosition = -1;
    std::vector<TFixup> FFixups;
};

// A buffer of machine code with a write position that can be moved back to patch jumps.
// AllocCode/FreeCode supply the memory; this class takes ordinary heap memory, descendants
// executable memory. A descendant that overrides them must call ReleaseCode in its own destructor,
// since the base destructor can no longer reach the override.
class TCodeAssembler : public TObject {
public:
    TCodeAssembler() = default;
    ~TCodeAssembler() override;
    TCodeAssembler(const TCodeAssembler &) = delete;
    TCodeAssembler &operator=(const TCodeAssembler &) = delete;
    DECLARE_CLASS_NAME(TCodeAssembler)

    // Appends Count bytes at Position (nothing for nil Bytes or Count < 1). Growing takes a new
    // buffer of ((Position + Count) div 4096 + 1) * 4096 bytes and copies every valid byte into it.
    // Raises EOutOfMemory when the buffer cannot grow.
    void Emit(const void *Bytes, std::int32_t Count);
    // Position and Size become 0; the buffer stays allocated.
    void Clear();
    // Moves the write position to P when 0 <= P <= Size; otherwise nothing happens.
    void SetPosition(std::int32_t P);
    // Makes bytes written into the buffer visible to instruction fetch; call before running code
    // that was written or patched.
    void FlushCode() const;

    // The label's position becomes the write position; earlier jumps to it are patched.
    void PlaceLabel(TCodeLabel &Label);
    // A relative jump: the opcode bytes, then a displacement of Width bytes (1 or 4) counted from
    // the end of the instruction to Label. Raises EInternalCompilerError when a 1-byte displacement
    // cannot reach the label or a label is placed twice.
    void EmitJumpTo(std::initializer_list<std::uint8_t> Opcode, TCodeLabel &Label, std::int32_t Width);

    std::int32_t GetCapacity() const { return FCapacity; }
    std::uint8_t *GetCode() const { return FCode; }
    std::int32_t GetPosition() const { return FPosition; }
    std::int32_t GetSize() const { return FSize; }

protected:
    virtual void *AllocCode(std::int32_t Size);
    virtual void FreeCode(void *Buffer);
    // Frees the buffer through FreeCode and forgets it.
    void ReleaseCode();

    void EmitByte(std::uint8_t Value);
    void EmitBytes(std::initializer_list<std::uint8_t> Bytes);
    void EmitLong(std::uint32_t Value);

private:
    std::int32_t FCapacity = 0;
    std::uint8_t *FCode = nullptr;
    std::int32_t FPosition = 0;
    std::int32_t FSize = 0;
};

// Asked before the built-in routine choice of a function: (Function, ArgumentType, ResultType,
// var Routine); a nonzero Routine is used.
using TSelectFunctionEvent = TMethod<void(int Function, int ArgumentType, int ResultType, int &Routine)>;

// Function ids that only the compiler generates (the language's functions are 0 .. 67).
constexpr int fnToInteger = 68;
constexpr int fnToFloat = 69;
constexpr int fnToComplex = 70;
constexpr int fnTimesTwo = 71;
constexpr int fnTimesI = 72;
constexpr int fnTimesMinusI = 73;
constexpr int fnCube = 74;
constexpr int fnFourthPower = 75;

// Operator codes of expression nodes.
constexpr int opAdd = 1, opSubtract = 2, opMultiply = 3, opDivide = 4, opPower = 5, opAssign = 6,
              opModulo = 7, opEqual = 8, opNotEqual = 9, opLess = 10, opLessEqual = 11, opGreater = 12,
              opGreaterEqual = 13, opAnd = 14, opOr = 15;
// Unary operator codes.
constexpr int uoNegate = 1, uoModulus = 2, uoNot = 3;

// The routine choice a formula class may make for its class-specific functions. The code
// generator and the optimizer's folding both ask it, so both use the same routine.
class TFunctionRoutineChooser {
public:
    virtual ~TFunctionRoutineChooser() = default;
    // A nonzero Routine is used instead of the built-in choice. This version leaves Routine
    // unchanged.
    virtual void SelectFunctionRoutine(int Function, int ArgumentType, int ResultType, int &Routine) {}
};

class TProcessorAccess : public TCodeAssembler {
public:
    DECLARE_CLASS_NAME(TProcessorAccess)

    TSelectFunctionEvent OnSelectFunction;

    // Routine numbers for operators and functions; 0 when there is none.
    virtual int GetUnaryOperatorRoutine(int Operator, int OperandType);
    // Order 1 or 3: the left operand is on top; Order 2: the right one is (reversed routines).
    virtual int GetOperatorRoutine(int Operator, int Order, int ResultType, int RightType, int LeftType);
    virtual int GetFunctionRoutine(int Function, int ArgumentType, int ResultType);
    // x87 registers a routine needs beyond those of its operands.
    virtual int GetRoutineStackUse(int Routine);
    // Copies the routine's template at Position; nothing for routine 0.
    virtual void EmitRoutine(int Routine);

    // Real and complex operands: [esi + Offset] when InContext, else [edi + Offset]; the indexed
    // forms address [edi + eax + Offset]. A complex value's real part ends in ST(0).
    virtual void LoadComplex(std::int32_t Offset, bool InContext) = 0;
    virtual void StoreComplex(std::int32_t Offset, bool InContext) = 0;
    virtual void StoreComplexPop(std::int32_t Offset, bool InContext) = 0;
    virtual void LoadReal(std::int32_t Offset, bool InContext) = 0;
    virtual void StoreReal(std::int32_t Offset, bool InContext) = 0;
    virtual void StoreRealPop(std::int32_t Offset, bool InContext) = 0;
    virtual void LoadComplexIndexed(std::int32_t Offset) = 0;
    virtual void StoreComplexIndexed(std::int32_t Offset) = 0;
    virtual void StoreComplexIndexedPop(std::int32_t Offset) = 0;
    virtual void LoadRealIndexed(std::int32_t Offset) = 0;
    virtual void StoreRealIndexed(std::int32_t Offset) = 0;
    virtual void StoreRealIndexedPop(std::int32_t Offset) = 0;

    // Int, bool and colour operands, the same in every precision.
    void LoadInt(std::int32_t Offset, bool InContext);    // mov eax, [..]
    void LoadIntEdx(std::int32_t Offset, bool InContext); // mov edx, [..]
    void LoadBool(std::int32_t Offset, bool InContext);   // mov al, [..]
    void LoadBoolDl(std::int32_t Offset, bool InContext); // mov dl, [..]
    void StoreInt(std::int32_t Offset, bool InContext);   // mov [..], eax
    void StoreIntEdx(std::int32_t Offset, bool InContext);
    void StoreBool(std::int32_t Offset, bool InContext); // mov [..], al
    void LoadIntIndexed(std::int32_t Offset);            // mov eax, [edi+eax+Offset]
    void LoadBoolIndexed(std::int32_t Offset);
    // The value is in edx (dl) and stays the expression's result in eax (al).
    void StoreIntIndexed(std::int32_t Offset);
    void StoreBoolIndexed(std::int32_t Offset);
    void LoadIntImmediate(std::int32_t Value); // mov eax, Value
    void LoadEdxImmediate(std::int32_t Value); // mov edx, Value
    void LoadBoolImmediate(std::uint8_t Value);
    void EmitSaveValue();    // push eax
    void EmitRestoreValue(); // pop edx
    void LoadColor(std::int32_t Offset, bool InContext);
    void StoreColor(std::int32_t Offset, bool InContext);
    void StoreColorPop(std::int32_t Offset, bool InContext);
    void LoadColorIndexed(std::int32_t Offset);
    void StoreColorIndexed(std::int32_t Offset);
    void StoreColorIndexedPop(std::int32_t Offset);
    void EmitDropColor();

    // A value of any type code: the load or store form of that type. Int and bool values have no
    // stack slot, so Pop matters only for complex, float and colour values.
    void LoadValue(std::uint8_t Type, std::int32_t Offset, bool InContext);
    void StoreValue(std::uint8_t Type, std::int32_t Offset, bool InContext, bool Pop);

    void EmitDiscardComplex();
    void EmitDiscardReal();
    // eax := eax * N, the stride of an array dimension.
    void EmitScaleIndex(std::uint32_t N);
    // Replaces an index in eax outside 0 .. Count - 1 by Count - 1 (the compare is unsigned), after
    // a run-time error report at Position when Debug is set.
    void EmitBoundsCheck(std::int32_t Count, const TObject *Formula, bool Debug,
                         const TCompilePosition &Position);
    void EmitRuntimeError(const TObject *Formula, std::int32_t Code, const TCompilePosition &Position);
    // Copies Size bytes of the data block from Source to Destination (both edi-relative).
    void EmitBlockCopy(std::int32_t Destination, std::int32_t Source, std::int32_t Size);
    // Distance counts from the first byte of the emitted instruction(s).
    void EmitJumpIfFalse(std::int32_t Distance);
    void EmitJump(std::int32_t Distance);

    int GetUnaryOperatorStackUse(int Operator, int OperandType, int ResultType);
    void EmitUnaryOperator(int Operator, int OperandType, int ResultType);
    int GetOperatorStackUse(int Operator, int Order, int ResultType, int RightType, int LeftType);
    void EmitOperator(int Operator, int Order, int ResultType, int RightType, int LeftType);
    int GetFunctionStackUse(int Function, int ArgumentType, int ResultType);
    void EmitFunction(int Function, int ArgumentType, int ResultType);

protected:
    // The 32-bit-displacement ModRM byte for Reg with [esi + d32] or [edi + d32].
    static std::uint8_t ModRM(std::uint8_t Reg, bool InContext);
    void EmitOperand(std::uint8_t Opcode, std::uint8_t Reg, std::int32_t Offset, bool InContext);
    // Opcode, ModRM for [edi + eax*1 + d32] (or [edi + ecx*1 + d32]) and the displacement.
    void EmitIndexed(std::uint8_t Opcode, std::uint8_t Reg, std::int32_t Offset, bool ByEcx = false);
    // The oldz routine of the precision.
    virtual int GetOldZRoutine() const = 0;
};

// 64-bit doubles.
class TDoubleAccess : public TProcessorAccess {
public:
    DECLARE_CLASS_NAME(TDoubleAccess)
    void LoadComplex(std::int32_t Offset, bool InContext) override;
    void StoreComplex(std::int32_t Offset, bool InContext) override;
    void StoreComplexPop(std::int32_t Offset, bool InContext) override;
    void LoadReal(std::int32_t Offset, bool InContext) override;
    void StoreReal(std::int32_t Offset, bool InContext) override;
    void StoreRealPop(std::int32_t Offset, bool InContext) override;
    void LoadComplexIndexed(std::int32_t Offset) override;
    void StoreComplexIndexed(std::int32_t Offset) override;
    void StoreComplexIndexedPop(std::int32_t Offset) override;
    void LoadRealIndexed(std::int32_t Offset) override;
    void StoreRealIndexed(std::int32_t Offset) override;
    void StoreRealIndexedPop(std::int32_t Offset) override;

protected:
    int GetOldZRoutine() const override { return 2; }
};

// 80-bit extended reals in 16-byte cells.
class TExtendedAccess : public TProcessorAccess {
public:
    DECLARE_CLASS_NAME(TExtendedAccess)
    void LoadComplex(std::int32_t Offset, bool InContext) override;
    void StoreComplex(std::int32_t Offset, bool InContext) override;
    void StoreComplexPop(std::int32_t Offset, bool InContext) override;
    void LoadReal(std::int32_t Offset, bool InContext) override;
    void StoreReal(std::int32_t Offset, bool InContext) override;
    void StoreRealPop(std::int32_t Offset, bool InContext) override;
    void LoadComplexIndexed(std::int32_t Offset) override;
    void StoreComplexIndexed(std::int32_t Offset) override;
    void StoreComplexIndexedPop(std::int32_t Offset) override;
    void LoadRealIndexed(std::int32_t Offset) override;
    void StoreRealIndexed(std::int32_t Offset) override;
    void StoreRealIndexedPop(std::int32_t Offset) override;

protected:
    int GetOldZRoutine() const override { return 3; }
};

// The arbitrary-precision access lives with the arbitrary-precision routines; that module
// registers how to make one. Without a registration, asking for precision 2 raises
// EInternalCompilerError.
using TProcessorAccessFactory = std::unique_ptr<TProcessorAccess> (*)();
void RegisterHugeAccessFactory(TProcessorAccessFactory Factory);

// 0 double, 1 extended, any other value arbitrary precision.
std::unique_ptr<TProcessorAccess> CreateProcessorAccess(int Precision);
