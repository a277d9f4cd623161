#include "CompSettings.h"

#include <cmath>
#include <limits>

#include "CompMessages.h"
#include "CompParams.h"

namespace {

bool IsSymbol(const TToken *Token, std::uint8_t Id) {
    return Token && Token->Kind == tkSymbol && static_cast<const TIdToken *>(Token)->Id == Id;
}

bool IsKeyword(const TToken *Token, std::uint8_t Id) {
    return Token && Token->Kind == tkKeyword && static_cast<const TIdToken *>(Token)->Id == Id;
}

// A statement keyword that must stand alone: 17 at anything after it.
void ExpectAlone(const TToken *Keyword) {
    const TToken *next = Keyword->Next.get();
    if (next && next->Kind != tkEnd)
        throw ECompileError(ceCommaExpected, next->Position);
}

// The real part of a numeric literal as a number, through its text; false for a boolean.
bool LiteralReal(const TLiteral &Literal, long double &Value) {
    switch (Literal.Type) {
    case vtInteger:
        Value = static_cast<const TIntLiteral &>(Literal).Value;
        return true;
    case vtFloat:
        Value = static_cast<const TFloatLiteral &>(Literal).GetExtended();
        return true;
    case vtComplex:
        Value = static_cast<const TComplexLiteral &>(Literal).Re.GetExtended();
        return true;
    default:
        return false;
    }
}

// A bound that does not fit the parameter's number type is refused like a malformed one.
struct EBadBound {};

double ToDoubleBound(long double Value) {
    if (!std::isfinite(Value) || std::fabs(Value) > std::numeric_limits<double>::max())
        throw EBadBound();
    return static_cast<double>(Value);
}

// Nearest integer, ties to the even one.
std::int32_t ToIntBound(long double Value) {
    if (!std::isfinite(Value))
        throw EBadBound();
    long double low = std::floor(Value);
    const long double fraction = Value - low;
    if (fraction > 0.5L || (fraction == 0.5L && std::fmod(low, 2.0L) != 0))
        low += 1;
    if (low < std::numeric_limits<std::int32_t>::min() || low > std::numeric_limits<std::int32_t>::max())
        throw EBadBound();
    return static_cast<std::int32_t>(low);
}

} // namespace

std::string TSettingsParser::HeadingName(std::int32_t Counter) {
    return "~~" + std::to_string(Counter);
}

// ---------------------------------------------------------------------------------------------
// Sections and blocks

void TSettingsParser::InitCompile() {
    TParser::InitCompile();
    SectionName.clear();
    HeadingCounter = 0;
    ResetBlock();
    BlockName.clear();
    BlocksAllowed = false;
    Block = sbNone;
}

void TSettingsParser::BeginSettingsSection(const std::string &Name, std::uint8_t Kind) {
    BlocksAllowed = Kind == skdParameters;
    SectionName = UpperCase(Name);
    HeadingCounter = 0;
    ResetBlock();
    Block = sbNone;
}

void TSettingsParser::EndSettingsSection(const TCompilePosition &Position) {
    switch (Block) {
    case sbParam:
        throw ECompileError(ceEndParamExpected, Position);
    case sbFunc:
        throw ECompileError(ceEndFuncExpected, Position);
    case sbHeading:
        throw ECompileError(ceEndHeadingExpected, Position);
    default:
        break;
    }
}

void TSettingsParser::ResetBlock() {
    DefaultLiteral.reset();
    EnumList.reset();
    MaxLiteral.reset();
    MinLiteral.reset();
    Caption.clear();
    Hint.clear();
    BlockType = vtNone;
    FunctionDefault = 0;
}

void TSettingsParser::BeginNamedBlock(TToken *Keyword, std::uint8_t ParamOpenError,
                                      std::uint8_t FuncOpenError, bool Func) {
    if (!BlocksAllowed)
        throw ECompileError(ceKeywordMisplaced, Keyword->Position);
    switch (Block) {
    case sbParam:
        throw ECompileError(ParamOpenError, Keyword->Position);
    case sbFunc:
        throw ECompileError(FuncOpenError, Keyword->Position);
    case sbHeading:
        throw ECompileError(ceEndHeadingExpected, Keyword->Position);
    default:
        break;
    }
    TToken *name = Keyword->Next.get();
    const bool named = name && (name->Kind == tkVariable || name->Kind == tkParameter ||
                                (Func && name->Kind == tkUserFunction));
    if (!named)
        throw ECompileError(ceIdentifierExpected, name ? name->Position : Keyword->Position);
    BlockName = static_cast<TTextToken *>(name)->Text;
    ExpectAlone(name);
}

void TSettingsParser::BeginParam(TToken *Keyword) {
    BeginNamedBlock(Keyword, ceParamNested, ceEndFuncExpected, false);
    Block = sbParam;
}

void TSettingsParser::BeginFunc(TToken *Keyword) {
    BeginNamedBlock(Keyword, ceEndParamExpected, ceFuncNested, true);
    if (BlockType == vtColor)
        FunctionDefault = FirstMergeId;
    Block = sbFunc;
}

void TSettingsParser::EndBlock() {
    switch (Block) {
    case sbParam:
        EndParamBlock();
        break;
    case sbFunc:
        EndFuncBlock();
        break;
    case sbHeading:
        EndHeadingBlock();
        break;
    default:
        break;
    }
}

void TSettingsParser::EndParamBlock() {
    std::unique_ptr<TParam> param;
    if (DefaultLiteral) {
        // Only a block without a type keyword has a literal default: the literal decides the type.
        switch (DefaultLiteral->Type) {
        case vtComplex: {
            auto complex = std::make_unique<TComplexParam>(BlockName);
            complex->Value.AssignLiteral(static_cast<const TComplexLiteral &>(*DefaultLiteral));
            param = std::move(complex);
            break;
        }
        case vtFloat: {
            auto real = std::make_unique<TFloatParam>(BlockName);
            real->Value.AssignLiteral(*DefaultLiteral);
            param = std::move(real);
            break;
        }
        case vtInteger: {
            auto integer = std::make_unique<TIntParam>(BlockName);
            integer->SetValue(static_cast<const TIntLiteral &>(*DefaultLiteral).Value);
            param = std::move(integer);
            break;
        }
        default: {
            auto boolean = std::make_unique<TBoolParam>(BlockName);
            boolean->SetValue(static_cast<const TBoolLiteral &>(*DefaultLiteral).Value);
            param = std::move(boolean);
            break;
        }
        }
        param->SetDefault(nullptr);
    } else {
        std::uint8_t type = BlockType;
        if (type == vtNone)
            type = EnumList ? vtInteger : vtComplex;
        switch (type) {
        case vtComplex:
            param = std::make_unique<TComplexParam>(BlockName);
            break;
        case vtFloat:
            param = std::make_unique<TFloatParam>(BlockName);
            break;
        case vtInteger:
            param = std::make_unique<TIntParam>(BlockName);
            break;
        case vtBoolean:
            param = std::make_unique<TBoolParam>(BlockName);
            break;
        default:
            param = std::make_unique<TColorParam>(BlockName);
            break;
        }
    }
    if (!Caption.empty())
        param->SetCaption(Caption);
    param->Hint = Hint;

    if (EnumList) {
        if (param->Type != vtInteger)
            throw ECompileError(ceTypeError, EnumPosition);
        auto &integer = static_cast<TIntParam &>(*param);
        integer.Enum.Assign(*EnumList);
        if (integer.GetValue() < 0 || integer.GetValue() >= integer.Enum.Count())
            integer.SetValue(0);
        if (integer.Default < 0 || integer.Default >= integer.Enum.Count())
            integer.Default = 0;
    } else if (param->Type != vtBoolean && param->Type != vtColor) {
        // Both bounds are read before either is applied, so that a reversed pair is reported
        // instead of clamping the value to one bound and then the other.
        long double minRe = 0, minIm = 0, maxRe = 0, maxIm = 0;
        const bool hasMin = MinLiteral && LiteralReal(*MinLiteral, minRe);
        const bool hasMax = MaxLiteral && LiteralReal(*MaxLiteral, maxRe);
        if (hasMin && MinLiteral->Type == vtComplex)
            minIm = static_cast<const TComplexLiteral &>(*MinLiteral).Im.GetExtended();
        if (hasMax && MaxLiteral->Type == vtComplex)
            maxIm = static_cast<const TComplexLiteral &>(*MaxLiteral).Im.GetExtended();
        const TCompilePosition *current = &MinPosition;
        try {
            switch (param->Type) {
            case vtInteger: {
                auto &integer = static_cast<TIntParam &>(*param);
                std::int32_t low = 0, high = 0;
                if (hasMin)
                    low = ToIntBound(minRe);
                current = &MaxPosition;
                if (hasMax)
                    high = ToIntBound(maxRe);
                if (hasMin && hasMax && low > high)
                    throw ECompileError(ceMinExceedsMax, MinPosition);
                if (hasMin)
                    integer.SetMin(low);
                if (hasMax)
                    integer.SetMax(high);
                break;
            }
            case vtFloat: {
                auto &real = static_cast<TFloatParam &>(*param);
                double low = 0, high = 0;
                if (hasMin)
                    low = ToDoubleBound(minRe);
                current = &MaxPosition;
                if (hasMax)
                    high = ToDoubleBound(maxRe);
                if (hasMin && hasMax && low > high)
                    throw ECompileError(ceMinExceedsMax, MinPosition);
                if (hasMin)
                    real.SetMin(low);
                if (hasMax)
                    real.SetMax(high);
                break;
            }
            default: {
                auto &complex = static_cast<TComplexParam &>(*param);
                double lowRe = 0, lowIm = 0, highRe = 0, highIm = 0;
                if (hasMin) {
                    lowRe = ToDoubleBound(minRe);
                    lowIm = ToDoubleBound(minIm);
                }
                current = &MaxPosition;
                if (hasMax) {
                    highRe = ToDoubleBound(maxRe);
                    highIm = ToDoubleBound(maxIm);
                }
                if (hasMin && hasMax && (lowRe > highRe || lowIm > highIm))
                    throw ECompileError(ceMinExceedsMax, MinPosition);
                if (hasMin)
                    complex.SetMin(lowRe, lowIm);
                if (hasMax)
                    complex.SetMax(highRe, highIm);
                break;
            }
            }
        } catch (const ECompileError &) {
            throw;
        } catch (const EBadBound &) {
            throw ECompileError(ceInvalidSetting, *current);
        } catch (const Exception &) {
            throw ECompileError(ceInvalidSetting, *current);
        }
    }

    // A later block of the same name replaces an earlier one; the list keeps the order of the
    // END statements.
    param->Modified = false;
    TParamList &params = GetParams();
    const int existing = params.IndexOfName(BlockName, pkOrdinary);
    if (existing >= 0)
        params.Delete(existing);
    params.Add(std::move(param));
}

void TSettingsParser::EndFuncBlock() {
    std::unique_ptr<TCustomFuncParam> param;
    if (BlockType == vtColor)
        param = std::make_unique<TColorFuncParam>(BlockName);
    else
        param = std::make_unique<TFuncParam>(BlockName);
    if (!Caption.empty())
        param->SetCaption(Caption);
    param->Hint = Hint;
    param->SetValue(FunctionDefault);
    param->SetDefault(nullptr);
    param->Modified = false;
    TParamList &params = GetParams();
    const int existing = params.IndexOfName(BlockName, pkFunction);
    if (existing >= 0)
        params.Delete(existing);
    params.Add(std::move(param));
}

void TSettingsParser::EndHeadingBlock() {
    auto param = std::make_unique<THeadingParam>(HeadingName(HeadingCounter));
    param->SetCaption(Caption);
    param->Hint = Hint;
    GetParams().Add(std::move(param));
    HeadingCounter++;
}

// ---------------------------------------------------------------------------------------------
// Statements

void TSettingsParser::ParseSettingStatement(TToken *FirstToken) {
    if (!FirstToken || FirstToken->Kind == tkEnd)
        return;
    switch (FirstToken->Kind) {
    case tkKeyword:
        ParseKeywordSetting(static_cast<TIdToken *>(FirstToken));
        break;
    case tkVariable:
        ParseWordSetting(FirstToken);
        break;
    default:
        ParseOtherSetting(FirstToken);
        break;
    }
}

void TSettingsParser::ParseKeywordSetting(TIdToken *Keyword) {
    switch (Keyword->Id) {
    case kwComplex:
    case kwFloat:
    case kwInt:
    case kwBool:
    case kwColor: {
        ResetBlock();
        BlockType = TypeOfKeyword(Keyword->Id);
        TToken *next = Keyword->Next.get();
        const bool funcAllowed = BlockType == vtComplex || BlockType == vtColor;
        if (IsKeyword(next, kwParam))
            BeginParam(next);
        else if (funcAllowed && IsKeyword(next, kwFunc))
            BeginFunc(next);
        else
            throw ECompileError(ceParamKeywordExpected, next ? next->Position : Keyword->Position);
        break;
    }
    case kwParam:
        ResetBlock();
        BeginParam(Keyword);
        break;
    case kwFunc:
        ResetBlock();
        BeginFunc(Keyword);
        break;
    case kwHeading:
        if (!BlocksAllowed)
            throw ECompileError(ceKeywordMisplaced, Keyword->Position);
        ResetBlock();
        if (Block == sbParam)
            throw ECompileError(ceEndParamExpected, Keyword->Position);
        if (Block == sbFunc)
            throw ECompileError(ceEndFuncExpected, Keyword->Position);
        if (Block == sbHeading)
            throw ECompileError(ceHeadingNested, Keyword->Position);
        ExpectAlone(Keyword);
        Block = sbHeading;
        break;
    case kwEndParam:
        if (Block != sbParam)
            throw ECompileError(ceEndParamMisplaced, Keyword->Position);
        ExpectAlone(Keyword);
        EndBlock();
        Block = sbNone;
        break;
    case kwEndFunc:
        if (Block != sbFunc)
            throw ECompileError(ceEndFuncMisplaced, Keyword->Position);
        ExpectAlone(Keyword);
        EndBlock();
        Block = sbNone;
        break;
    case kwEndHeading:
        if (Block != sbHeading)
            throw ECompileError(ceEndHeadingMisplaced, Keyword->Position);
        ExpectAlone(Keyword);
        EndBlock();
        Block = sbNone;
        break;
    default:
        // Other keywords (IF, WHILE ...) carry no setting; such a statement is ignored.
        break;
    }
}

void TSettingsParser::AddExpressionSetting(const std::string &Name, TToken *ValueToken, std::uint8_t Type) {
    TExpressionPtr value = ParseExpression(ValueToken);
    TExpressionPtr setting;
    if (Block == sbNone) {
        setting = std::make_unique<TSettingExpression>(std::move(value), Type, Name);
    } else {
        const std::string target = Block == sbHeading ? HeadingName(HeadingCounter) : BlockName;
        if (Name == "ENABLED")
            setting = std::make_unique<TEnabledSettingExpression>(target, std::move(value));
        else if (Name == "VISIBLE")
            setting = std::make_unique<TVisibleSettingExpression>(target, std::move(value));
        else
            setting = std::make_unique<TDefaultSettingExpression>(target, std::move(value), BlockType);
    }
    GetExpressions().InsertSetting(std::move(setting), false);
}

void TSettingsParser::ParseEnum(TToken *ValueToken) {
    // At least one string, and nothing but strings.
    if (ValueToken->Kind != tkString)
        throw ECompileError(ceStringExpected, ValueToken->Position);
    auto list = std::make_unique<TStringList>();
    for (TToken *token = ValueToken; token && token->Kind != tkEnd; token = token->Next.get()) {
        if (token->Kind != tkString)
            throw ECompileError(ceStringExpected, token->Position);
        list->Add(static_cast<TTextToken *>(token)->Text);
    }
    EnumList = std::move(list);
    EnumPosition = ValueToken->Position;
}

void TSettingsParser::CheckAnswer(int Answer, const TToken &NameToken, const TToken &ValueToken) {
    if (Answer == 0)
        return;
    if (Answer == SettingUnknown)
        throw ECompileError(ceInvalidSetting, NameToken.Position);
    if (Answer < 0 || Answer >= ceUnknown)
        throw ECompileError(ceInvalidSetting, ValueToken.Position);
    throw ECompileError(static_cast<std::uint8_t>(Answer), ValueToken.Position);
}

void TSettingsParser::ParseWordSetting(TToken *NameToken) {
    TToken *equals = NameToken->Next.get();
    if (!IsSymbol(equals, syAssign))
        throw ECompileError(ceAssignExpected, NameToken->Position);
    TToken *value = equals->Next.get();
    const std::string name = UpperCase(static_cast<TTextToken *>(NameToken)->Text);

    // Settings whose value is an expression.
    if (Block != sbNone) {
        if (name == "ENABLED" || name == "VISIBLE" ||
            (name == "DEFAULT" && BlockType != vtNone && Block != sbFunc)) {
            AddExpressionSetting(name, value, BlockType);
            return;
        }
        if (name == "ENUM" && Block == sbParam) {
            ParseEnum(value);
            return;
        }
    } else {
        std::uint8_t type = vtBoolean;
        if (GetSettingType(SectionName, name, type) == 0) {
            AddExpressionSetting(name, value, type);
            return;
        }
    }

    // A single value: a literal (possibly signed), a string, a function written as a call
    // without arguments, or an identifier.
    TToken *last = value;
    std::unique_ptr<TLiteral> literal;
    if (IsSymbol(value, syPlus) || IsSymbol(value, syMinus)) {
        TToken *operand = value->Next.get();
        if (IsKeyword(operand, kwTrue) || IsKeyword(operand, kwFalse))
            throw ECompileError(ceInvalidLiteral, operand->Position);
        if (!operand || operand->Kind != tkLiteral)
            throw ECompileError(ceLiteralExpected, operand ? operand->Position : value->Position);
        literal = static_cast<TLiteralToken *>(operand)->Literal->Clone();
        if (IsSymbol(value, syMinus))
            literal->Invert();
        last = operand;
    } else if (value->Kind == tkLiteral) {
        literal = static_cast<TLiteralToken *>(value)->Literal->Clone();
    } else if (value->Kind == tkSymbol) {
        throw ECompileError(ceLiteralExpected, value->Position);
    } else if (value->Kind == tkKeyword) {
        const std::uint8_t id = static_cast<TIdToken *>(value)->Id;
        if (id != kwTrue && id != kwFalse)
            throw ECompileError(ceLiteralExpected, value->Position);
        literal = std::make_unique<TBoolLiteral>(id == kwTrue);
    } else if (value->Kind == tkFunction) {
        // The token after the name is its opening parenthesis; the one after that must close it.
        TToken *open = value->Next.get();
        TToken *close = open ? open->Next.get() : nullptr;
        if (!IsSymbol(close, syCloseParen))
            throw ECompileError(ceCloseParExpected, close ? close->Position : value->Position);
        last = close;
    } else if (value->Kind != tkString && Block != sbNone) {
        throw ECompileError(Block == sbFunc && name == "DEFAULT" ? ceFunctionExpected : ceLiteralExpected,
                            value->Position);
    }
    if (last->Kind != tkEnd && last->Next && last->Next->Kind != tkEnd)
        throw ECompileError(ceCommaExpected, last->Next->Position);

    int answer;
    if (literal) {
        answer = Block != sbNone ? SetParamSetting(name, *literal, value->Position)
                                 : SetConstantSetting(SectionName, name, *literal);
    } else if (value->Kind == tkString) {
        const std::string &text = static_cast<TTextToken *>(value)->Text;
        if (Block == sbNone) {
            answer = SetStringSetting(SectionName, name, text);
        } else if (name == "CAPTION") {
            Caption = text;
            answer = 0;
        } else if (name == "HINT") {
            Hint = text;
            answer = 0;
        } else {
            answer = SettingUnknown;
        }
    } else if (value->Kind == tkFunction) {
        answer = SetFunctionDefault(name, static_cast<TIdToken *>(value)->Id);
    } else {
        answer = SetIdentifierSetting(SectionName, *NameToken, *value);
    }
    CheckAnswer(answer, *NameToken, *value);
}

void TSettingsParser::ParseOtherSetting(TToken *FirstToken) {
    if (Block != sbNone)
        throw ECompileError(ceInvalidSetting, FirstToken->Position);
    TToken *equals = FirstToken->Next.get();
    if (!IsSymbol(equals, syAssign))
        throw ECompileError(ceAssignExpected, FirstToken->Position);
    TToken *value = equals->Next.get();
    if (!value || value->Kind == tkEnd)
        throw ECompileError(ceInvalidSetting, value ? value->Position : equals->Position);
    if (value->Next && value->Next->Kind != tkEnd)
        throw ECompileError(ceCommaExpected, value->Next->Position);
    CheckAnswer(SetIdentifierSetting(SectionName, *FirstToken, *value), *FirstToken, *value);
}

int TSettingsParser::SetParamSetting(const std::string &Name, const TLiteral &Value,
                                     const TCompilePosition &Position) {
    if (Block != sbParam)
        return SettingUnknown;
    if (Name == "DEFAULT") {
        DefaultLiteral = Value.Clone();
        DefaultPosition = Position;
    } else if (Name == "MIN") {
        MinLiteral = Value.Clone();
        MinPosition = Position;
    } else if (Name == "MAX") {
        MaxLiteral = Value.Clone();
        MaxPosition = Position;
    } else {
        return SettingUnknown;
    }
    return 0;
}

int TSettingsParser::SetFunctionDefault(const std::string &Name, std::uint8_t FunctionId) {
    if (Block != sbFunc || Name != "DEFAULT")
        return SettingUnknown;
    const bool valid = BlockType == vtColor ? FunctionId >= FirstMergeId && FunctionId <= LastMergeId
                                            : FunctionId <= LastUserFunctionId;
    if (!valid)
        return SettingUnknown;
    FunctionDefault = FunctionId;
    return 0;
}
