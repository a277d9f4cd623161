#include "CompCompiler.h"

void TCompiler::CompileCode() {
    TExpressionList *statements = GetOptimizedList();
    // Only the optimizer's Generate has a folded list to translate.
    if (!statements)
        throw EGeneratorError("TCompiler.CompileCode: No optimized statement list");
    GenerateSections(*statements, GetStorage(), GetPrecision(), this);
}
