// The compiler: the last stage of the compiler class chain. It joins the optimizer, which folds
// the checked program into the optimized statement list each time code must be produced, with
// the code generator, which turns that list into one block of machine code per section and hands
// each block to the formula class through CompileSection. The formula classes derive from it and
// build their callable routines from the blocks.
#pragma once

#include "CompGenerator.h"
#include "CompOptimizer.h"

class TCompiler : public TOptimizer, public TCodeGenerator {
public:
    TCompiler() = default;
    ~TCompiler() override = default;
    DECLARE_CLASS_NAME(TCompiler)

    // Generates every section of the optimized list in the formula's precision; the formula
    // object itself is the address the generated code hands to the print and run-time error
    // helpers, valid for as long as its code can run.
    void CompileCode() override;
};
