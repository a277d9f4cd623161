// The settings parser: reads the settings sections of a formula entry. In the section that allows
// parameter blocks it builds the formula's parameters from PARAM, FUNC and HEADING blocks; simple
// settings (a name, '=' and one value) go to the formula class through four virtual operations,
// and settings whose value is an expression become setting statements that are checked with the
// program and applied each time code is generated.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Classes.h"
#include "CompDefinitions.h"
#include "CompParser.h"
#include "CompTokenizer.h"

// Kinds of the open block.
constexpr std::uint8_t sbNone = 0;
constexpr std::uint8_t sbParam = 1;
constexpr std::uint8_t sbFunc = 2;
constexpr std::uint8_t sbHeading = 3;

// Answer of the setting operations: no such setting.
constexpr int SettingUnknown = ceInvalidSetting;

class TSettingsParser : public TParser {
public:
    DECLARE_CLASS_NAME(TSettingsParser)

    // --- Operations the formula classes implement, in this order ------------------------------
    // Each answers 0 when it accepted the setting, SettingUnknown (29) when there is no such
    // setting, or another compile error code for a value it refuses. Section and setting names
    // arrive in upper case.

    // 0 when the setting takes an expression of type Type (set by the answer; starts at
    // boolean).
    virtual int GetSettingType(const std::string &Section, const std::string &Name, std::uint8_t &Type) {
        return SettingUnknown;
    }
    virtual int SetConstantSetting(const std::string &Section, const std::string &Name,
                                   const TLiteral &Value) {
        return SettingUnknown;
    }
    // Name and Value are tokens of the statement (Value may be its end token).
    virtual int SetIdentifierSetting(const std::string &Section, const TToken &Name, const TToken &Value) {
        return SettingUnknown;
    }
    virtual int SetStringSetting(const std::string &Section, const std::string &Name,
                                 const std::string &Text) {
        return SettingUnknown;
    }

    // --- The parser's operations --------------------------------------------------------------

    // Also forgets the block and section state a failed compile may have left.
    void InitCompile() override;
    void BeginSettingsSection(const std::string &Name, std::uint8_t Kind) override;
    void EndSettingsSection(const TCompilePosition &Position) override;
    void ParseSettingStatement(TToken *FirstToken) override;

    // The name of a heading parameter: "~~" and its number within the section.
    static std::string HeadingName(std::int32_t Counter);

protected:
    // Upper-case name of the current settings section.
    std::string SectionName;
    TCompilePosition DefaultPosition, EnumPosition;
    // Headings completed in this section.
    std::int32_t HeadingCounter = 0;
    TCompilePosition MinPosition, MaxPosition;
    std::string Caption;
    std::unique_ptr<TLiteral> DefaultLiteral;
    std::unique_ptr<TStringList> EnumList;
    std::uint8_t FunctionDefault = 0;
    std::string Hint;
    // The name after PARAM or FUNC.
    std::string BlockName;
    std::unique_ptr<TLiteral> MaxLiteral, MinLiteral;
    bool BlocksAllowed = false;
    // The type keyword of the block, vtNone when there was none.
    std::uint8_t BlockType = vtNone;
    std::uint8_t Block = sbNone;

private:
    void ResetBlock();
    void BeginParam(TToken *Keyword);
    void BeginFunc(TToken *Keyword);
    // Checks what may open a PARAM or FUNC block at Keyword and reads its name.
    void BeginNamedBlock(TToken *Keyword, std::uint8_t ParamOpenError, std::uint8_t FuncOpenError, bool Func);
    void EndBlock();
    void EndParamBlock();
    void EndFuncBlock();
    void EndHeadingBlock();
    void ParseKeywordSetting(TIdToken *Keyword);
    void ParseWordSetting(TToken *NameToken);
    void ParseOtherSetting(TToken *FirstToken);
    void ParseEnum(TToken *ValueToken);
    // Inserts a setting statement whose value is the expression of the tokens from ValueToken.
    void AddExpressionSetting(const std::string &Name, TToken *ValueToken, std::uint8_t Type);
    int SetParamSetting(const std::string &Name, const TLiteral &Value, const TCompilePosition &Position);
    int SetFunctionDefault(const std::string &Name, std::uint8_t FunctionId);
    // Raises the error an answer of a setting operation stands for.
    static void CheckAnswer(int Answer, const TToken &NameToken, const TToken &ValueToken);
};
