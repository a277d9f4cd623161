// Stand-ins for the formula classes, for the tests of the compiler stages: the section, symbol,
// function and setting rules of a fractal formula, a coloring and a transformation, and compiled
// objects built on the parser that record what the compile driver asks of them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CompParser.h"

enum class TTestFormulaKind { Transform, Formula, Coloring };

// The answers of one kind of formula. Section order is state: Reset before every compile. A
// stage's own test class can hold one of these and forward its virtual operations to it.
class TTestFormulaRules {
public:
    explicit TTestFormulaRules(TTestFormulaKind AKind) : Kind(AKind) {}
    void Reset();

    // The tokenizer's section questions.
    std::string LoopSection() const;
    std::string BailoutSection() const;
    std::string DefaultSection() const;
    std::string LeadingSection(const std::string &Label) const;
    bool FindPredefinedSymbol(const std::string &Name, int &Id) const;

    // The kind of section Label (upper case) starts in the current order state, and the new
    // state; 0 when the label is refused.
    std::uint8_t SectionKind(const std::string &Label);

    // The checker's questions (section names in upper case).
    bool IsFunctionAllowed(const std::string &Section, int FunctionId) const;
    bool IsPredefinedReadable(const std::string &Section, int SymbolId) const;
    bool IsPredefinedWritable(const std::string &Section, int SymbolId);

    // The settings parser's questions; the answers are 0 (accepted), 29 (no such setting) or an
    // error code for the value. Accepted values are recorded in Values under "SECTION.NAME".
    int GetSettingType(const std::string &Section, const std::string &Name, std::uint8_t &Type) const;
    int SetConstantSetting(const std::string &Section, const std::string &Name, const TLiteral &Literal);
    int SetIdentifierSetting(const std::string &Section, const TToken &NameToken, const TToken &ValueToken);
    int SetStringSetting(const std::string &Section, const std::string &Name, const std::string &Text);

    const TTestFormulaKind Kind;
    std::map<std::string, std::string> Values;

private:
    int Order = 0;
    bool GlobalSeen = false;
    bool IndexWritten = false;
    bool ColorWritten = false;
};

// A compiled object on the parser that records the driver's calls in Log ("check", "generate",
// "empty", "settings NAME KIND", "setting N tokens", "end settings L:C") and lets a test hook
// into the check and the code generation. Settings statements are only recorded.
class TTestParser : public TParser {
public:
    explicit TTestParser(TTestFormulaKind AKind) : Rules(AKind) {}
    DECLARE_CLASS_NAME(TTestParser)

    // Runs the parser stages over Text without a file: InitCompile, the tokenizer, EndParse.
    // A line feed without a carriage return before it counts as CR LF, as in entry files.
    // ECompileError passes to the caller.
    void ParseText(const std::string &Text);
    // The statements parsed, one line each (see DumpExpression).
    std::vector<std::string> DumpStatements() const;
    // Adds a parameter to the list being compiled (for the Check hook).
    void AddParam(std::unique_ptr<TParam> Param) { Params->Add(std::move(Param)); }

    void Check() override;
    void Generate() override;
    void GenerateEmpty() override;
    void GetLoopSection(std::string &Name) override { Name = Rules.LoopSection(); }
    void GetBailoutSection(std::string &Name) override { Name = Rules.BailoutSection(); }
    void GetDefaultSection(std::string &Name) override { Name = Rules.DefaultSection(); }
    void GetLeadingSection(const std::string &Label, std::string &Name) override {
        Name = Rules.LeadingSection(Label);
    }
    bool FindPredefinedSymbol(const std::string &Name, int &Id) override {
        return Rules.FindPredefinedSymbol(Name, Id);
    }
    void InitCompile() override;
    void BeginSettingsSection(const std::string &Name, std::uint8_t Kind) override;
    void EndSettingsSection(const TCompilePosition &Position) override;
    void ParseSettingStatement(TToken *FirstToken) override;
    void GetSectionKind(const std::string &Label, std::uint8_t &Kind) override {
        Kind = Rules.SectionKind(Label);
    }

    TTestFormulaRules Rules;
    std::vector<std::string> Log;
    int CheckCount = 0;
    int GenerateCount = 0;
    int GenerateEmptyCount = 0;
    // Precision seen by the last Generate.
    std::uint8_t GeneratedPrecision = 0;
    std::function<void(TTestParser &)> OnCheck;
    std::function<void(TTestParser &)> OnGenerate;
};

// One class per kind, so that objects of different kinds are objects of different classes, as
// the real formula classes are.
class TTestFormula : public TTestParser {
public:
    TTestFormula() : TTestParser(TTestFormulaKind::Formula) {}
    DECLARE_CLASS_NAME(TTestFormula)
};

class TTestColoring : public TTestParser {
public:
    TTestColoring() : TTestParser(TTestFormulaKind::Coloring) {}
    DECLARE_CLASS_NAME(TTestColoring)
};

class TTestTransform : public TTestParser {
public:
    TTestTransform() : TTestParser(TTestFormulaKind::Transform) {}
    DECLARE_CLASS_NAME(TTestTransform)
};

// An expression tree as compact text: binary operators as "(op left right)", unary operators as
// "(neg x)", "(mod x)", "(not x)", variables by name with "[indices]", parameters as "@name",
// predefined symbols as "#id", built-in functions as "fID(args)", user functions as
// "name(args)", keyword statements as "(kwID operand)", labels as "label NAME KIND", directives
// as "define NAME" / "undef NAME", literals by their text, strings in double quotes.
std::string DumpExpression(const TExpression *Expression);
