// The checker: walks the parsed program section by section, resolves every name to a storage node
// or a parameter, types every expression and inserts the conversions (the rules are in
// CompTypes), tracks IF, WHILE and REPEAT blocks and which variables are initialized on every
// path, enforces what each section of each kind of formula may read, write and call, and posts
// warnings. The optimizer folds the rewritten statement list.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "CompClasses.h"
#include "CompSettings.h"
#include "CompTypes.h"

class TChecker : public TSettingsParser, public TTypeRules {
public:
    DECLARE_CLASS_NAME(TChecker)

    // --- Operations the formula classes implement, in this order -----------------------------
    // Section names arrive in upper case.

    virtual bool IsFunctionAllowed(const std::string &Section, std::uint8_t FunctionId) { return true; }
    virtual bool IsPredefinedReadable(const std::string &Section, std::uint8_t SymbolId) { return false; }
    virtual bool IsPredefinedWritable(const std::string &Section, std::uint8_t SymbolId) { return false; }

    // --- The compile driver's operation -------------------------------------------------------

    // Checks and rewrites the statement list; raises ECompileError at the first error.
    void Check() override;

    void CheckExpression(TExpressionPtr &Slot, std::uint8_t Expected, std::uint32_t Flags) override;

    // Whether a predefined symbol may stand in a constant expression.
    static bool IsConstantSymbol(std::uint8_t SymbolId);

protected:
    // Open IF, WHILE and REPEAT blocks.
    TConstructList Constructs;
    // Upper-case label and kind of the section being checked.
    std::string CheckSectionName;
    std::uint8_t CheckSectionKind = 0;
    // Upper-case names of the parameters the program assigns to anywhere, found before the walk,
    // and of those whose first assignment the walk has passed.
    std::set<std::string> WrittenParameters;
    std::set<std::string> PassedParameterWrites;
    // The statements copy := parameter the walk inserted.
    std::vector<const TExpression *> ParameterCopyStarts;

    void TypeWarning(std::uint8_t Code, const TCompilePosition &Position) override {
        Warning(Code, Position);
    }
    bool TypeFunctionAllowed(std::uint8_t FunctionId) override {
        return IsFunctionAllowed(CheckSectionName, FunctionId);
    }
    TParamList &TypeParams() override { return GetParams(); }

private:
    void OpenLeadingSection();
    void CloseBlocks(const TCompilePosition &Position);
    void CheckStatement(TExpressionPtr &Slot);
    void CheckKeyword(TExpressionPtr &Slot, std::uint32_t Flags);
    void CheckCondition(TKeywordExpression &Keyword, std::uint32_t Flags);
    void CheckDeclaration(TExpressionPtr &Slot);
    void CheckAssignment(TExpressionPtr &Slot, std::uint8_t Expected, std::uint32_t Flags);
    void CheckVariableRead(TExpressionPtr &Slot, std::uint32_t Flags);
    void CheckParameterRead(TExpressionPtr &Slot, std::uint32_t Flags);
    void CheckPredefinedRead(TExpressionPtr &Slot, std::uint32_t Flags);
    void CheckSetting(TExpressionPtr &Slot);
    void InternString(TExpression &Expression);
    void ReportUnused();

    // Checks the indices of an array reference (expected integer, converted to integer).
    void CheckIndices(TExpressionArray &Indices, std::uint32_t Flags);
    // Moves the indices of a variable reference into a storage reference of Node.
    static TExpressionPtr MakeStorageReference(TVariableExpression &Variable, TStorageNode *Node);
    // Gives a new variable node the dimensions of its declaration: one per index, each index a
    // constant integer expression.
    void DeclareDimensions(TVariableNode &Node, TVariableExpression &Variable);
    // The type of an ordinary parameter, created as a complex parameter when the formula uses a
    // name it does not declare.
    std::uint8_t ParameterType(const std::string &Name);
    // Collects WrittenParameters from every statement, at any depth.
    void FindWrittenParameters();
    // The per-pixel copy of a parameter the program writes, created with its initialization
    // copy := parameter on first need.
    TParameterNode *ParameterCopy(const std::string &Name, const TCompilePosition &Position);
    // Moves every copy := parameter behind the setting statements that follow it.
    void StartCopiesAfterSettings();
    // Inserts Name := 0 for a variable read before it was surely written.
    void InsertInitialization(TVariableNode &Node, const TCompilePosition &Position);
    // Where statements inserted from the current section go: after the section that follows a
    // leading GLOBAL section, unless the current section is global itself.
    bool InsertAfterGlobal() const { return CheckSectionKind != skdGlobal; }
};
