// The code generator: turns the folded statement list of a formula into x86/x87 machine code, one
// block per section, through one processor access object for the formula's precision.
//
// Before any byte is written, a planning pass decides for every operator and call in which order
// its operands are evaluated and which intermediate values are parked in temporaries of the
// storage list, so that no more than the eight registers of the x87 stack (or of the emulated
// stack in arbitrary precision) are ever in use. Code is then written statement by statement;
// IF, WHILE and REPEAT blocks are tracked on a construct stack whose records keep the code
// positions of the jumps to patch.
//
// TCodeGenerator is the generating half of the compiler class that follows the optimizer. It
// works on any statement list, storage list and precision it is given, so that it can be used,
// and tested, without the stages before it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CompAccess.h"
#include "CompClasses.h"
#include "CompDefinitions.h"
#include "CompExpressions.h"
#include "CompPixelContext.h"
#include "CompStorage.h"
#include "SysUtils.h"

// A statement list the generator cannot translate (a node kind, type or block structure that the
// checker and optimizer never let through): a fault of the compiler, never of the formula text.
DECLARE_EXCEPTION(EGeneratorError, EInternalCompilerError);

// x87 registers a value of Type takes: complex 2, float 1, every other type 0.
int TypeRegisterCount(std::uint8_t Type);

// Offset in the pixel context of a predefined symbol that generated code reads or writes there,
// in Precision; -1 for a symbol that lives elsewhere (those are constants by the time code is
// generated).
std::int32_t PredefinedContextOffset(std::uint8_t SymbolId, std::uint8_t Precision);

// Offset of the stop flag in the pixel context; loops test it on every pass.
constexpr std::int32_t GeneratorStopFlagOffset = pcStopFlag;

// No temporary: the value passed to StorageAccess when nothing is parked.
constexpr std::int64_t NoTemporary = -1;

class TCodeGenerator : public TFunctionRoutineChooser {
public:
    TCodeGenerator() = default;
    TCodeGenerator(const TCodeGenerator &) = delete;
    TCodeGenerator &operator=(const TCodeGenerator &) = delete;
    // Receives the upper-case name of a section label and the section's code.
    virtual void CompileSection(const std::string &Name, const std::uint8_t *Code, std::int32_t Size) = 0;

    // Generates every section of Statements for Precision. Formula is the address generated code
    // passes to the print and run-time error helpers; it must stay valid while the code can run.
    // Temporaries are added to Storage and the offsets assigned. Sections are handed to
    // CompileSection only after all of them were generated: a failure delivers none, frees the
    // access object and leaves the generator ready for the next run.
    void GenerateSections(TExpressionList &Statements, TStorageList &Storage, std::uint8_t Precision,
                          const TObject *Formula);

    // A DEFINE or UNDEF of DEBUG (case ignored) switches run-time checks and PRINT on or off.
    void CompileDirective(const TDirectiveExpression &Directive);

    // --- Steps of GenerateSections, usable on their own -------------------------------------

    // Starts a run: Debug off, no temporaries asked for, a fresh access object for Precision
    // whose function choice asks SelectFunctionRoutine first.
    void BeginGeneration(TStorageList &Storage, std::uint8_t Precision, const TObject *Formula);
    // Frees the access object and forgets the open blocks.
    void EndGeneration();
    // Plans E and returns the number of registers in use at the peak while E is evaluated, its
    // own result included. Writes Order, TempId, ArgumentMode and FirstTempId, and adds the
    // temporaries the plan needs to the storage list.
    int Plan(TExpression &E);
    // Writes the code of E; with Discard the result is dropped (an assignment then uses its pop
    // form). Keyword statements are written with their jumps.
    void GenerateExpression(TExpression &E, bool Discard);
    // Fails with EGeneratorError when a block is still open (at the end of a section).
    void CheckBlocksClosed() const;

    // The access object of the running generation (nullptr outside one).
    std::unique_ptr<TProcessorAccess> Access;
    // DEBUG is defined: run-time checks report, PRINT writes code.
    bool Debug = false;
    // Number of the next compiler temporary.
    std::int32_t NextTempId = 0;

protected:
    ~TCodeGenerator() = default;

private:
    struct TIndexedAddress;

    int PlanBinary(TBinaryOperatorExpression &E);
    int PlanAssignment(TBinaryOperatorExpression &E);
    int PlanFunction(TFunctionExpression &E);
    // The peak register need of E as extended precision plans it, recording nothing; used where
    // arbitrary precision must evaluate operands in the x87 order.
    int X87Need(TExpression &E);
    void AddTemporary(std::uint32_t TempId, std::uint8_t Type);

    void GenerateValue(TExpression &E);
    void GenerateBinary(TBinaryOperatorExpression &E);
    void GenerateAssignment(TBinaryOperatorExpression &E, bool Discard);
    void GenerateFunction(TFunctionExpression &E);
    void GeneratePrint(TFunctionExpression &E);
    void GenerateKeyword(TKeywordExpression &E);
    void GenerateCopy(TExpression &Target, TExpression &Value);
    void GenerateArrayCopy(TStorageExpression &Target, TStorageExpression &Value);
    void StorageAccess(TStorageExpression &E, int Mode, std::int64_t Temp);

    // The address of a predefined symbol or of a storage reference whose indices are all
    // constants; false for any other expression. Emits the reports of clamped constant indices.
    bool FixedAddress(TExpression &E, std::int32_t &Offset, bool &InContext);
    // Base offset of E with its constant indices applied.
    std::int32_t ConstantIndexBase(TStorageExpression &E, bool ReportClamped);

    void EmitStopCheck(std::int32_t Distance);
    void PatchJumpIfFalse(std::int32_t At, std::int32_t Target);
    void PatchJump(std::int32_t At, std::int32_t Target);
    std::int32_t RealSize() const;
    void NeedRoutine(int Routine, const TExpression &E, const char *What) const;

    void SelectFunction(int Function, int ArgumentType, int ResultType, int &Routine) {
        SelectFunctionRoutine(Function, ArgumentType, ResultType, Routine);
    }

    TStorageList *GenStorage = nullptr;
    std::uint8_t GenPrecision = pmDouble;
    // In arbitrary precision, an extended-precision access whose stack uses plan the x87 order of
    // operands that assign; nullptr otherwise.
    std::unique_ptr<TProcessorAccess> X87Access;
    // The access and precision the planner counts with, and whether it records its plan (Order,
    // temporaries); X87Need switches them to the x87 figures for a moment.
    TProcessorAccess *PlanAccess = nullptr;
    std::uint8_t PlanPrecision = pmDouble;
    bool PlanRecording = true;
    const TObject *GenFormula = nullptr;
    // Open IF, ELSEIF, ELSE, WHILE and REPEAT blocks with the code positions to patch.
    TConstructList GenConstructs;
};
