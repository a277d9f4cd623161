// The parser: turns the tokenizer's statements into expression trees (one label expression per
// code section followed by its statements), hands the statements of settings sections to the
// settings parser, and runs the conditional-compilation directives.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

#include "Classes.h"
#include "CompClasses.h"
#include "CompExpressions.h"
#include "CompLexical.h"
#include "CompTokenizer.h"

// Section kinds, as GetSectionKind answers them.
constexpr std::uint8_t skdInvalid = 0;    // label not accepted here
constexpr std::uint8_t skdGlobal = 1;     // code whose variables are global
constexpr std::uint8_t skdCode = 2;       // code
constexpr std::uint8_t skdBailout = 3;    // one boolean expression
constexpr std::uint8_t skdSettings = 4;   // settings without parameter blocks
constexpr std::uint8_t skdParameters = 5; // settings with parameter blocks

// The deepest nesting the parser builds. Later stages recurse into nested operands, so a
// formula nesting deeper (through parentheses, calls, unary operators, right operands or
// assignment chains) is refused here with "Expression expected: expression nested too deeply"
// instead of exhausting a thread's stack later on. A flat operator chain (a + b - c + ...) is
// not nesting: its left spine is walked without recursion, so it may be any length.
constexpr int MaxExpressionDepth = 256;

class TParser : public TLexical {
public:
    TParser();
    ~TParser() override;
    DECLARE_CLASS_NAME(TParser)

    // --- Operations the settings parser and the formula classes implement, in this order ------

    // A settings section (kind 4 or 5) starts; Name as written.
    virtual void BeginSettingsSection(const std::string &Name, std::uint8_t Kind) = 0;
    // The current settings section ends at Position (the next label or the end of the text).
    virtual void EndSettingsSection(const TCompilePosition &Position) = 0;
    // One statement of a settings section.
    virtual void ParseSettingStatement(TToken *FirstToken) = 0;
    // The kind of section Label (upper case) starts here; leaving Kind at 0 refuses the label.
    virtual void GetSectionKind(const std::string &Label, std::uint8_t &Kind) {}

    // --- The compile driver's operations -----------------------------------------------------

    void EndParse(const TCompilePosition &Position) override;
    void BeginSection(const std::string &Name, const TCompilePosition &Position) override;
    void InitCompile() override;
    void ParseStatement(TToken *FirstToken) override;

    bool GetInSettingsSection() const { return InSettingsSection; }
    const TStringList &GetDefinedSymbols() const { return DefinedSymbols; }

protected:
    // One expression over the tokens from Start up to, not including, Stop (the statement's end
    // token when Stop is nullptr). Raises ECompileError at the offending token.
    TExpressionPtr ParseExpression(TToken *Start, TToken *Stop = nullptr);

    // Open $IFDEF blocks.
    TConditionalDefineList Conditionals;
    // Symbols defined for conditional compilation, in the order defined.
    TStringList DefinedSymbols;
    // The current section is a settings section.
    bool InSettingsSection = false;

private:
    class TExpressionReader;
    // DefinedSymbols in upper case, so that each directive finds a symbol without a search of
    // the whole list.
    std::unordered_set<std::string> FDefinedIndex;
    void DefineSymbol(const std::string &Name);
    void UndefineSymbol(const std::string &Name);
    bool SymbolDefined(const std::string &Name) const;
    void ParseDirective(TIdToken *Directive);
    void ParseKeywordStatement(TIdToken *Keyword);
    void AddStatement(TExpressionPtr Expression);
};
