#include "CompParser.h"

#include <algorithm>
#include <vector>

#include "CompAccess.h"

namespace {

bool IsSymbol(const TToken *Token, std::uint8_t Id) {
    return Token && Token->Kind == tkSymbol && static_cast<const TIdToken *>(Token)->Id == Id;
}

std::uint8_t IdOf(const TToken *Token) {
    return static_cast<const TIdToken *>(Token)->Id;
}

const std::string &TextOf(const TToken *Token) {
    return static_cast<const TTextToken *>(Token)->Text;
}

// Binary operators by symbol id: operator code and binding level; level 0 for a symbol that is
// no binary operator.
struct TOperatorInfo {
    std::uint8_t Code;
    int Level;
};

TOperatorInfo OperatorOf(const TToken *Token) {
    if (Token->Kind != tkSymbol)
        return {0, 0};
    switch (IdOf(Token)) {
    case syAssign:
        return {opAssign, 1};
    case syAnd:
        return {opAnd, 2};
    case syOr:
        return {opOr, 2};
    case syEqual:
        return {opEqual, 3};
    case syNotEqual:
        return {opNotEqual, 3};
    case syLess:
        return {opLess, 3};
    case syLessEqual:
        return {opLessEqual, 3};
    case syGreater:
        return {opGreater, 3};
    case syGreaterEqual:
        return {opGreaterEqual, 3};
    case syPlus:
        return {opAdd, 4};
    case syMinus:
        return {opSubtract, 4};
    case syMultiply:
        return {opMultiply, 5};
    case syDivide:
        return {opDivide, 5};
    case syModulo:
        return {opModulo, 5};
    case syPower:
        return {opPower, 6};
    default:
        return {0, 0};
    }
}

constexpr int AssignLevel = 1;

} // namespace

// Reads one expression from a run of tokens. Every node it returns carries its nesting depth:
// a binary node's left operand counts at the node's own depth, so that a flat chain of operators
// (a + b - c + ..., which later stages walk along its left spine without recursion) stays
// shallow however long it is, while right operands, parentheses, calls, indices and unary
// operators each add a level.
class TParser::TExpressionReader {
public:
    struct TParsed {
        TExpressionPtr Expression;
        int Depth = 0;
    };

    explicit TExpressionReader(int ANesting = 0) : FNesting(ANesting) {}

    // Parses the tokens from Start up to Stop (or the end token) completely.
    TParsed Parse(TToken *Start, TToken *Stop) {
        TToken *savedCursor = FCursor;
        TToken *savedStop = FStop;
        FCursor = Start;
        FStop = Stop;
        TParsed result = ParseBinary(0);
        FCursor = savedCursor;
        FStop = savedStop;
        return result;
    }

private:
    bool AtEnd() const { return FCursor == FStop || FCursor->Kind == tkEnd; }

    void Enter(const TToken *Token) {
        if (++FNesting > MaxExpressionDepth)
            TooDeep(Token);
    }
    void Leave() { --FNesting; }
    [[noreturn]] static void TooDeep(const TToken *Token) {
        throw ECompileError(ceExprExpected, "expression nested too deeply", Token->Position);
    }
    static void CheckDepth(int Depth, const TToken *Token) {
        if (Depth > MaxExpressionDepth)
            TooDeep(Token);
    }

    // Operands joined by binary operators of at least MinLevel. Every level is left-associative
    // except the assignment, whose right side takes a further assignment.
    TParsed ParseBinary(int MinLevel) {
        TToken *first = FCursor;
        Enter(first);
        TParsed left = ParseOperand();
        while (!AtEnd()) {
            TOperatorInfo op = OperatorOf(FCursor);
            if (op.Level == 0)
                throw ECompileError(ceOperatorExpected, FCursor->Position);
            if (op.Level < MinLevel)
                break;
            TToken *opToken = FCursor;
            FCursor = FCursor->Next.get();
            TParsed right = ParseBinary(op.Level == AssignLevel ? op.Level : op.Level + 1);
            int depth = std::max(left.Depth, right.Depth + 1);
            CheckDepth(depth, opToken);
            left.Expression = std::make_unique<TBinaryOperatorExpression>(
                opToken->Position, std::move(left.Expression), std::move(right.Expression), op.Code);
            left.Depth = depth;
        }
        Leave();
        return left;
    }

    // The token after the group that Open starts, which ends at the matching Close symbol; the
    // commas at the group's own level are collected into Commas. nullptr when the statement (or
    // the run being parsed) ends first; ParenDepth then tells how many parentheses stayed open.
    TToken *FindClose(TToken *Open, std::uint8_t OpenId, std::uint8_t CloseId, std::vector<TToken *> *Commas,
                      int *ParenDepth = nullptr) {
        int depth = 0; // of OpenId/CloseId
        int other = 0; // of the other kind of bracket
        std::uint8_t otherOpen = OpenId == syOpenParen ? syOpenBracket : syOpenParen;
        std::uint8_t otherClose = OpenId == syOpenParen ? syCloseBracket : syCloseParen;
        for (TToken *t = Open->Next.get(); t && t != FStop && t->Kind != tkEnd; t = t->Next.get()) {
            if (IsSymbol(t, OpenId))
                ++depth;
            else if (IsSymbol(t, CloseId)) {
                if (depth == 0)
                    return t;
                --depth;
            } else if (IsSymbol(t, otherOpen))
                ++other;
            else if (IsSymbol(t, otherClose))
                --other;
            else if (Commas && depth == 0 && other == 0 && IsSymbol(t, syComma))
                Commas->push_back(t);
        }
        if (ParenDepth)
            *ParenDepth = depth;
        return nullptr;
    }

    // The end token (or the stop token) of the run being parsed.
    TToken *EndOfRun() const {
        TToken *t = FCursor;
        while (t != FStop && t->Kind != tkEnd)
            t = t->Next.get();
        return t;
    }

    // Parses the parts between Open and Close, split at Commas, into Target; returns the deepest.
    int ParseList(TToken *Open, TToken *Close, const std::vector<TToken *> &Commas,
                  TExpressionArray &Target) {
        int deepest = 0;
        TToken *start = Open->Next.get();
        for (std::size_t i = 0; i <= Commas.size(); ++i) {
            TToken *stop = i < Commas.size() ? Commas[i] : Close;
            TParsed part = Parse(start, stop);
            deepest = std::max(deepest, part.Depth);
            Target.Add(std::move(part.Expression));
            start = stop->Next.get();
        }
        return deepest;
    }

    // Call arguments: FCursor stands on the opening parenthesis.
    int ParseArguments(TExpressionArray &Target) {
        TToken *open = FCursor;
        if (!IsSymbol(open, syOpenParen))
            throw ECompileError(ceCloseParExpected, open->Position);
        std::vector<TToken *> commas;
        TToken *close = FindClose(open, syOpenParen, syCloseParen, &commas);
        if (!close)
            throw ECompileError(ceCloseParExpected, EndOfRun()->Position);
        int depth = ParseList(open, close, commas, Target);
        FCursor = close->Next.get();
        return depth;
    }

    TParsed ParseVariable() {
        TToken *name = FCursor;
        auto variable = std::make_unique<TVariableExpression>(name->Position, TextOf(name));
        FCursor = FCursor->Next.get();
        int depth = 1;
        if (!AtEnd() && IsSymbol(FCursor, syOpenBracket)) {
            TToken *open = FCursor;
            std::vector<TToken *> commas;
            TToken *close = FindClose(open, syOpenBracket, syCloseBracket, &commas);
            if (!close)
                throw ECompileError(ceCloseBracketExpected, EndOfRun()->Position);
            depth = ParseList(open, close, commas, variable->Indices) + 1;
            CheckDepth(depth, name);
            FCursor = close->Next.get();
        }
        return {std::move(variable), depth};
    }

    TParsed ParseOperand() {
        TToken *token = FCursor;
        if (AtEnd() || token->Kind == tkDirective)
            throw ECompileError(ceExprExpected, token->Position);
        switch (token->Kind) {
        case tkLiteral:
            FCursor = token->Next.get();
            return {std::make_unique<TLiteralExpression>(
                        token->Position, static_cast<TLiteralToken *>(token)->Literal->Clone()),
                    1};
        case tkSymbol:
            return ParseSymbolOperand(token);
        case tkKeyword:
            return ParseKeywordOperand(token);
        case tkFunction: {
            FCursor = token->Next.get();
            if (IdOf(token) == fnIdent) {
                // IDENT(x) is x itself.
                Enter(token);
                TParsed operand = ParseOperand();
                Leave();
                return operand;
            }
            auto function = std::make_unique<TFunctionExpression>(token->Position, IdOf(token));
            Enter(token);
            int depth = ParseArguments(function->Arguments) + 1;
            Leave();
            CheckDepth(depth, token);
            return {std::move(function), depth};
        }
        case tkUserFunction: {
            FCursor = token->Next.get();
            auto function = std::make_unique<TUserFunctionExpression>(token->Position, TextOf(token));
            Enter(token);
            int depth = ParseArguments(function->Arguments) + 1;
            Leave();
            CheckDepth(depth, token);
            return {std::move(function), depth};
        }
        case tkVariable: {
            Enter(token);
            TParsed variable = ParseVariable();
            Leave();
            return variable;
        }
        case tkPredefined:
            FCursor = token->Next.get();
            return {std::make_unique<TPredefinedExpression>(token->Position, IdOf(token)), 1};
        case tkParameter:
            FCursor = token->Next.get();
            return {std::make_unique<TParameterExpression>(token->Position, TextOf(token)), 1};
        case tkString:
            FCursor = token->Next.get();
            return {std::make_unique<TStringExpression>(token->Position, TextOf(token)), 1};
        default:
            throw ECompileError(ceExprExpected, token->Position);
        }
    }

    TParsed ParseSymbolOperand(TToken *Token) {
        switch (IdOf(Token)) {
        case syBar: {
            // Modulus bars close at the first bar outside parentheses, so they nest only inside
            // parentheses.
            int depth = 0;
            TToken *close = nullptr;
            TToken *t = Token->Next.get();
            for (; t != FStop && t->Kind != tkEnd; t = t->Next.get()) {
                if (IsSymbol(t, syOpenParen))
                    ++depth;
                else if (IsSymbol(t, syCloseParen)) {
                    if (depth == 0)
                        throw ECompileError(cePipeExpected, t->Position);
                    --depth;
                } else if (depth == 0 && IsSymbol(t, syBar)) {
                    close = t;
                    break;
                }
            }
            if (!close)
                throw ECompileError(depth == 0 ? cePipeExpected : ceCloseParExpected, t->Position);
            Enter(Token);
            TParsed inner = Parse(Token->Next.get(), close);
            Leave();
            FCursor = close->Next.get();
            int innerDepth = inner.Depth + 1;
            CheckDepth(innerDepth, Token);
            return {std::make_unique<TUnaryOperatorExpression>(Token->Position, std::move(inner.Expression),
                                                               uoModulus),
                    innerDepth};
        }
        case syOpenParen: {
            TToken *close = FindClose(Token, syOpenParen, syCloseParen, nullptr);
            if (!close)
                throw ECompileError(ceCloseParExpected, EndOfRun()->Position);
            Enter(Token);
            TParsed inner = Parse(Token->Next.get(), close);
            Leave();
            FCursor = close->Next.get();
            return inner;
        }
        case syPlus: {
            FCursor = Token->Next.get();
            Enter(Token);
            TParsed operand = ParseOperand();
            Leave();
            return operand;
        }
        case syMinus:
        case syNot: {
            FCursor = Token->Next.get();
            Enter(Token);
            TParsed operand = ParseOperand();
            Leave();
            int depth = operand.Depth + 1;
            CheckDepth(depth, Token);
            return {std::make_unique<TUnaryOperatorExpression>(Token->Position, std::move(operand.Expression),
                                                               IdOf(Token) == syMinus ? uoNegate : uoNot),
                    depth};
        }
        default:
            throw ECompileError(ceOperatorExpected, Token->Position);
        }
    }

    TParsed ParseKeywordOperand(TToken *Token) {
        switch (IdOf(Token)) {
        case kwTrue:
        case kwFalse:
            FCursor = Token->Next.get();
            return {std::make_unique<TLiteralExpression>(
                        Token->Position, std::make_unique<TBoolLiteral>(IdOf(Token) == kwTrue)),
                    1};
        case kwComplex:
        case kwFloat:
        case kwInt:
        case kwBool:
        case kwColor: {
            FCursor = Token->Next.get();
            TParsed operand;
            if (!AtEnd() && FCursor->Kind == tkVariable)
                operand = ParseVariable();
            else if (!AtEnd() && FCursor->Kind == tkPredefined) {
                operand = {std::make_unique<TPredefinedExpression>(FCursor->Position, IdOf(FCursor)), 1};
                FCursor = FCursor->Next.get();
            } else
                throw ECompileError(ceVariableExpected, FCursor->Position);
            return {std::make_unique<TKeywordExpression>(Token->Position, std::move(operand.Expression),
                                                         IdOf(Token)),
                    operand.Depth + 1};
        }
        default:
            throw ECompileError(ceKeywordMisplaced, Token->Position);
        }
    }

    TToken *FCursor = nullptr;
    TToken *FStop = nullptr;
    int FNesting;
};

TParser::TParser() = default;
TParser::~TParser() = default;

TExpressionPtr TParser::ParseExpression(TToken *Start, TToken *Stop) {
    TExpressionReader reader;
    return reader.Parse(Start, Stop).Expression;
}

void TParser::AddStatement(TExpressionPtr Expression) {
    if (Expression)
        Expressions->Add(std::move(Expression));
}

void TParser::InitCompile() {
    InSettingsSection = false;
    DefinedSymbols.Clear();
    FDefinedIndex.clear();
    DefineSymbol("ORBISKVANTEL");
    DefineSymbol("VER20");
    DefineSymbol("VER30");
    Conditionals.Clear();
}

void TParser::BeginSection(const std::string &Name, const TCompilePosition &Position) {
    if (InSettingsSection)
        EndSettingsSection(Position);
    std::uint8_t kind = skdInvalid;
    GetSectionKind(UpperCase(Name), kind);
    if (kind == skdInvalid || kind > skdParameters)
        throw ECompileError(ceInvalidLabel, Position);
    InSettingsSection = kind == skdSettings || kind == skdParameters;
    if (InSettingsSection)
        BeginSettingsSection(Name, kind);
    else
        Expressions->Add(std::make_unique<TLabelExpression>(Position, kind, Name));
}

void TParser::EndParse(const TCompilePosition &Position) {
    if (InSettingsSection) {
        InSettingsSection = false;
        EndSettingsSection(Position);
    }
    if (!Conditionals.IsEmpty())
        throw ECompileError(ceDirectiveEndIfExpected, Position);
}

void TParser::ParseStatement(TToken *FirstToken) {
    if (FirstToken->Kind == tkDirective)
        ParseDirective(static_cast<TIdToken *>(FirstToken));
    else if (InSettingsSection)
        ParseSettingStatement(FirstToken);
    else if (FirstToken->Kind == tkEnd)
        return;
    else if (FirstToken->Kind == tkKeyword)
        ParseKeywordStatement(static_cast<TIdToken *>(FirstToken));
    else
        AddStatement(ParseExpression(FirstToken));
}

void TParser::ParseKeywordStatement(TIdToken *Keyword) {
    TToken *next = Keyword->Next.get();
    switch (Keyword->Id) {
    case kwIf:
    case kwElseIf:
    case kwWhile:
    case kwUntil:
        AddStatement(
            std::make_unique<TKeywordExpression>(Keyword->Position, ParseExpression(next), Keyword->Id));
        break;
    case kwElse:
    case kwEndIf:
    case kwEndWhile:
    case kwRepeat:
        if (next->Kind != tkEnd)
            throw ECompileError(ceCommaExpected, next->Position);
        AddStatement(std::make_unique<TKeywordExpression>(Keyword->Position, nullptr, Keyword->Id));
        break;
    default:
        AddStatement(ParseExpression(Keyword));
        break;
    }
}

void TParser::DefineSymbol(const std::string &Name) {
    if (FDefinedIndex.insert(UpperCase(Name)).second)
        DefinedSymbols.Add(Name);
}

void TParser::UndefineSymbol(const std::string &Name) {
    if (FDefinedIndex.erase(UpperCase(Name)) == 0)
        return;
    // Symbols are mostly undefined soon after their definition: search from the end.
    for (int i = DefinedSymbols.Count() - 1; i >= 0; --i)
        if (SameText(DefinedSymbols.Strings(i), Name)) {
            DefinedSymbols.Delete(i);
            return;
        }
}

bool TParser::SymbolDefined(const std::string &Name) const {
    return FDefinedIndex.count(UpperCase(Name)) != 0;
}

void TParser::ParseDirective(TIdToken *Directive) {
    TToken *next = Directive->Next.get();
    std::string name;
    switch (Directive->Id) {
    case diElse:
    case diEndIf:
        if (next->Kind != tkEnd)
            throw ECompileError(ceCommaExpected, next->Position);
        break;
    default:
        if (next->Kind != tkVariable)
            throw ECompileError(ceIdentifierExpected, next->Position);
        name = TextOf(next);
        if (next->Next->Kind != tkEnd)
            throw ECompileError(ceCommaExpected, next->Next->Position);
        break;
    }
    switch (Directive->Id) {
    case diDefine:
        DefineSymbol(name);
        Expressions->Add(std::make_unique<TDirectiveExpression>(Directive->Position, name, diDefine));
        break;
    case diUndef: {
        UndefineSymbol(name);
        Expressions->Add(std::make_unique<TDirectiveExpression>(Directive->Position, name, diUndef));
        break;
    }
    case diIfDef:
        Conditionals.IfDef(SymbolDefined(name));
        break;
    case diElse:
        Conditionals.Else(Directive->Position);
        break;
    case diEndIf:
        Conditionals.EndIf(Directive->Position);
        break;
    default:
        break;
    }
    Tokenizer->Skipping = !Conditionals.IsActive();
}
