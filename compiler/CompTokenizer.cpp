#include "CompTokenizer.h"

namespace {

// clang-format off
const char *const FunctionNamesUpper[fnCount] = {
    "SIN", "SINH", "ASIN", "ASINH", "COS", "COSH", "ACOS",
    "ACOSH", "TAN", "TANH", "ATAN", "ATANH", "COTAN", "COTANH",
    "SQR", "SQRT", "LOG", "EXP", "ABS", "CABS", "CONJ",
    "FLIP", "IDENT", "ZERO", "RECIP", "CEIL", "FLOOR", "TRUNC",
    "ROUND", "REAL", "IMAG", "ATAN2", "OLDZ", "RANDOM", "PRINT",
    "RGB", "RGBA", "HSL", "HSLA", "RED", "GREEN", "BLUE",
    "ALPHA", "HUE", "SAT", "LUM", "GRADIENT", "BLEND", "COMPOSE",
    "MERGENORMAL", "MERGEMULTIPLY", "MERGESCREEN", "MERGEOVERLAY", "MERGESOFTLIGHT", "MERGEHARDLIGHT", "MERGEDARKEN",
    "MERGELIGHTEN", "MERGEDIFFERENCE", "MERGEHUE", "MERGESATURATION", "MERGECOLOR", "MERGELUMINANCE", "MERGEADDITION",
    "MERGESUBTRACTION", "MERGEHSLADDITION", "MERGERED", "MERGEGREEN", "MERGEBLUE",
};
// clang-format on

struct TNamedId {
    const char *Name;
    std::uint8_t Id;
};

// Valid as bare words and after '#'.
const TNamedId CompatibilitySymbols[] = {{"PIXEL", psPixel},
                                         {"LASTSQR", psLastSqr},
                                         {"RAND", psRandom},
                                         {"PI", psPi},
                                         {"E", psE},
                                         {"MAXIT", psMaxIter},
                                         {"SCRNMAX", psScreenMax},
                                         {"SCRNPIX", psScreenPixel},
                                         {"WHITESQ", psWhiteSq}};

// Valid only after '#'.
const TNamedId HashSymbols[] = {{"RANDOM", psRandom},
                                {"MAXITER", psMaxIter},
                                {"NUMITER", psNumIter},
                                {"SCREENMAX", psScreenMax},
                                {"SCREENPIXEL", psScreenPixel},
                                {"WIDTH", psWidth},
                                {"HEIGHT", psHeight},
                                {"X", psX},
                                {"Y", psY},
                                {"CENTER", psCenter},
                                {"MAGN", psMagn},
                                {"ANGLE", psAngle},
                                {"STRETCH", psStretch},
                                {"SKEW", psSkew},
                                {"INDEX", psIndex},
                                {"Z", psZ},
                                {"SOLID", psSolidColor},
                                {"RANDOMRANGE", psRandomRange},
                                {"COLOR", psColor}};

const char *const DirectiveNames[] = {"DEFINE", "UNDEF", "IFDEF", "ELSE", "ENDIF"};

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsWordStart(char c) {
    return IsLetter(c) || c == '_';
}

bool IsWordChar(char c) {
    return IsLetter(c) || IsDigit(c) || c == '_';
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

template <std::size_t N> int FindNamed(const TNamedId (&Table)[N], const std::string &Word) {
    for (const TNamedId &entry : Table)
        if (Word == entry.Name)
            return entry.Id;
    return -1;
}

// The text of a literal as the part of a complex literal.
std::string PartText(const TLiteral &Literal, bool Imaginary) {
    if (Literal.Type == vtComplex) {
        const auto &complex = static_cast<const TComplexLiteral &>(Literal);
        return Imaginary ? complex.Im.Text() : complex.Re.Text();
    }
    return Literal.GetText();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TToken

TToken::~TToken() {
    // Unlink the chain one token at a time: each token is freed with an empty Next.
    std::unique_ptr<TToken> next = std::move(Next);
    while (next)
        next = std::move(next->Next);
}

// ---------------------------------------------------------------------------------------------
// Word tables

int TTokenizer::FindKeyword(const std::string &Word) {
    static const TNamedId Keywords[] = {{"IF", kwIf},
                                        {"ELSEIF", kwElseIf},
                                        {"ELSE", kwElse},
                                        {"ENDIF", kwEndIf},
                                        {"COMPLEX", kwComplex},
                                        {"FLOAT", kwFloat},
                                        {"INT", kwInt},
                                        {"BOOL", kwBool},
                                        {"COLOR", kwColor},
                                        {"TRUE", kwTrue},
                                        {"FALSE", kwFalse},
                                        {"WHILE", kwWhile},
                                        {"ENDWHILE", kwEndWhile},
                                        {"REPEAT", kwRepeat},
                                        {"UNTIL", kwUntil},
                                        {"PARAM", kwParam},
                                        {"ENDPARAM", kwEndParam},
                                        {"FUNC", kwFunc},
                                        {"ENDFUNC", kwEndFunc},
                                        {"HEADING", kwHeading},
                                        {"ENDHEADING", kwEndHeading}};
    return FindNamed(Keywords, Word);
}

int TTokenizer::FindFunction(const std::string &Word) {
    for (int i = 0; i < fnCount; ++i)
        if (Word == FunctionNamesUpper[i])
            return i;
    if (Word == "SRAND")
        return fnIdent;
    return -1;
}

bool TTokenizer::IsParameterName(const std::string &Word) {
    return Word.size() == 2 && Word[0] == 'P' && Word[1] >= '1' && Word[1] <= '6';
}

bool TTokenizer::FindUserFunction(const std::string &Word) {
    return Word.size() == 3 && Word[0] == 'F' && Word[1] == 'N' && Word[2] >= '1' && Word[2] <= '4';
}

int TTokenizer::FindCompatibilitySymbol(const std::string &Word) {
    int id = FindNamed(CompatibilitySymbols, Word);
    if (id >= 0)
        return id;
    int ownId = 0;
    if (OnFindSymbol && OnFindSymbol(Word, ownId))
        return ownId;
    return -1;
}

int TTokenizer::FindPredefinedSymbol(const std::string &Word) {
    int id = FindCompatibilitySymbol(Word);
    if (id >= 0)
        return id;
    return FindNamed(HashSymbols, Word);
}

// ---------------------------------------------------------------------------------------------
// Cursor helpers

bool TTokenizer::IsLastOfLine() const {
    // A pending blank is the line break itself.
    return FStream->PendingBlank() || FStream->AtLineEnd();
}

TCompilePosition TTokenizer::Cursor() const {
    return {FStream->Line(), FStream->Column()};
}

TCompilePosition TTokenizer::MissingPosition() const {
    if (FStream->AtEnd() || FStream->PendingBlank())
        return FPassedEnd;
    return Cursor();
}

void TTokenizer::Error(std::uint8_t Code, const std::string &Detail) {
    throw ECompileError(Code, Detail, TokenPosition());
}

void TTokenizer::ErrorAt(std::uint8_t Code, const TCompilePosition &Position) {
    FTokenLine = Position.Line;
    FTokenColumn = Position.Column;
    throw ECompileError(Code, Position);
}

// Passes the current character, noting whether it was the last of its line.
void TTokenizer::Pass() {
    FLineEnded = IsLastOfLine();
    if (!FStream->PendingBlank())
        FPassedEnd = {FStream->Line(), FStream->Column() + 1};
    FStream->NextChar();
}

// Passes blanks and tabs that stay on the line; a line end among them raises LineEndError.
void TTokenizer::PassBlanks(std::uint8_t LineEndError) {
    while (!FStream->AtEnd() && !FStream->PendingBlank() && IsBlank(FStream->CurrentChar())) {
        Pass();
        if (FLineEnded)
            ErrorAt(LineEndError, MissingPosition());
    }
}

// Passes one character that something must follow on the same line.
void TTokenizer::PassExpecting(std::uint8_t LineEndError) {
    Pass();
    if (FLineEnded)
        ErrorAt(LineEndError, MissingPosition());
}

void TTokenizer::AddToken(std::unique_ptr<TToken> Token) {
    TToken *last = Token.get();
    if (!FFirstToken)
        FFirstToken = std::move(Token);
    else
        FLastToken->Next = std::move(Token);
    FLastToken = last;
    FEndPosition = FPassedEnd;
}

void TTokenizer::AddSymbol(std::uint8_t Id, const TCompilePosition &Position) {
    AddToken(std::make_unique<TSymbolToken>(Position, Id));
}

// ---------------------------------------------------------------------------------------------
// Scanning

void TTokenizer::Tokenize(TEntryStream &Stream) {
    FStream = &Stream;
    FBailoutPending = false;
    FBailoutSection.clear();
    FFirstSection = true;
    Skipping = false;
    Stream.Rewind();
    struct TDetach {
        TTokenizer &Owner;
        ~TDetach() {
            Owner.FFirstToken.reset();
            Owner.FLastToken = nullptr;
            Owner.FStream = nullptr;
        }
    } detach{*this};
    while (!Stream.AtEnd())
        ScanNext();
}

void TTokenizer::ScanNext() {
    FFirstToken.reset();
    FLastToken = nullptr;
    FDepth = 0;
    FLineEnded = false;
    FStatementOver = false;
    FDelivered = false;
    FStatementLine = FStream->Line();
    FStatementColumn = FStream->Column();
    FEndPosition = FPassedEnd = Cursor();
    while (!FStatementOver && !FStream->AtEnd()) {
        FTokenLine = FStream->Line();
        FTokenColumn = FStream->Column();
        int64_t position = FStream->CursorPosition();
        bool pending = FStream->PendingBlank();
        if (Skipping)
            ScanSkipped();
        else
            ScanToken();
        // Every step passes at least one character; this keeps any oversight from looping.
        if (FStream->CursorPosition() == position && FStream->PendingBlank() == pending && !FStatementOver)
            FStream->NextChar();
        if (FLineEnded)
            break;
    }
    if (!FDelivered)
        EndStatement();
}

void TTokenizer::ScanToken() {
    char c = FStream->CurrentChar();
    TCompilePosition position = TokenPosition();
    if (IsBlank(c)) {
        Pass();
    } else if (IsWordStart(c)) {
        std::string word = ScanWord();
        if (!FLineEnded && !FFirstToken && !FStream->AtEnd() && FStream->CurrentChar() == ':' &&
            !FStream->PendingBlank()) {
            Pass();
            BeginSection(word, position);
            FFirstSection = false;
            FStatementOver = true;
            FDelivered = true;
        } else {
            AddWordToken(word);
        }
    } else if (IsDigit(c) || c == '.') {
        std::unique_ptr<TLiteral> literal = ScanNumber();
        AddToken(std::make_unique<TLiteralToken>(position, std::move(literal)));
    } else {
        switch (c) {
        case '"':
            ScanString();
            break;
        case '#':
        case '@':
            ScanPrefixedWord(c);
            break;
        case '$':
            ScanDirective();
            break;
        case '!':
            ScanOperator('!', '=', syNot, syNotEqual);
            break;
        case '&':
            ScanOperator('&', '&', syAmpersand, syAnd);
            break;
        case '<':
            ScanOperator('<', '=', syLess, syLessEqual);
            break;
        case '=':
            ScanOperator('=', '=', syAssign, syEqual);
            break;
        case '>':
            ScanOperator('>', '=', syGreater, syGreaterEqual);
            break;
        case '|':
            ScanOperator('|', '|', syBar, syOr);
            break;
        case '%':
        case '*':
        case '+':
        case '-':
        case '/':
        case '^':
        case '~': {
            static const char Singles[] = "%*+-/^~";
            static const std::uint8_t SingleIds[] = {syModulo, syMultiply, syPlus, syMinus,
                                                     syDivide, syPower,    syTilde};
            Pass();
            AddSymbol(SingleIds[std::string(Singles).find(c)], position);
            break;
        }
        case '(':
            ScanParenthesis();
            break;
        case ')':
        case ']':
            Pass();
            AddSymbol(c == ')' ? syCloseParen : syCloseBracket, position);
            --FDepth;
            break;
        case '[':
            Pass();
            AddSymbol(syOpenBracket, position);
            ++FDepth;
            break;
        case ',':
            Pass();
            if (FDepth > 0)
                AddSymbol(syComma, position);
            else
                FStatementOver = true;
            break;
        case ':':
            Pass();
            EndStatement();
            BeginSection(":", position);
            FFirstSection = false;
            FStatementOver = true;
            FDelivered = true;
            break;
        case ';':
            FStream->SkipLine();
            FStatementOver = true;
            break;
        default:
            Error(ceInvalidChar, std::string("'") + c + "'");
        }
    }
}

// Text of an inactive conditional branch: only the directive words count.
void TTokenizer::ScanSkipped() {
    char c = FStream->CurrentChar();
    if (c == '$' && !FStream->PendingBlank()) {
        ScanDirective();
    } else if (c == ',' && !FStream->PendingBlank()) {
        Pass();
        FStatementOver = true;
    } else if (c == ';' && !FStream->PendingBlank()) {
        FStream->SkipLine();
        FStatementOver = true;
    } else {
        Pass();
    }
}

std::string TTokenizer::ScanWord() {
    std::string word;
    do {
        word += FStream->CurrentChar();
        Pass();
    } while (!FLineEnded && !FStream->AtEnd() && IsWordChar(FStream->CurrentChar()) &&
             static_cast<int>(word.size()) < MaxWordLength);
    return word;
}

void TTokenizer::AddWordToken(const std::string &Word) {
    TCompilePosition position = TokenPosition();
    std::string upper = UpperCase(Word);
    int id = FindKeyword(upper);
    if (id >= 0) {
        AddToken(std::make_unique<TKeywordToken>(position, static_cast<std::uint8_t>(id)));
        return;
    }
    if (OpenParenFollows()) {
        id = FindFunction(upper);
        if (id >= 0)
            AddToken(std::make_unique<TFunctionToken>(position, static_cast<std::uint8_t>(id)));
        else if (FindUserFunction(upper))
            AddToken(std::make_unique<TUserFunctionToken>(position, Word));
        else
            Error(ceInvalidFunction);
        return;
    }
    id = FindCompatibilitySymbol(upper);
    if (id >= 0)
        AddToken(std::make_unique<TPredefinedToken>(position, static_cast<std::uint8_t>(id)));
    else if (IsParameterName(upper))
        AddToken(std::make_unique<TParameterToken>(position, Word));
    else
        AddToken(std::make_unique<TVariableToken>(position, Word));
}

// Whether the next character on this line after blanks and tabs is '('.
bool TTokenizer::OpenParenFollows() {
    if (FLineEnded)
        return false;
    FStream->PushPosition();
    bool found = false;
    while (!FStream->AtEnd() && !FStream->PendingBlank()) {
        char c = FStream->CurrentChar();
        if (c == '(') {
            found = true;
            break;
        }
        if (!IsBlank(c) || IsLastOfLine())
            break;
        FStream->NextChar();
    }
    FStream->PopPosition();
    return found;
}

// Whether a word directly followed by ':' (a label) comes next.
bool TTokenizer::LabelFollows() {
    FStream->PushPosition();
    bool found = false;
    if (!FStream->AtEnd() && !FStream->PendingBlank() && IsWordStart(FStream->CurrentChar())) {
        int length = 0;
        while (length < MaxWordLength && !FStream->AtEnd() && !FStream->PendingBlank() &&
               IsWordChar(FStream->CurrentChar())) {
            bool last = IsLastOfLine();
            FStream->NextChar();
            ++length;
            if (last)
                break;
        }
        found = !FStream->AtEnd() && !FStream->PendingBlank() && FStream->CurrentChar() == ':';
    }
    FStream->PopPosition();
    return found;
}

std::unique_ptr<TLiteral> TTokenizer::ScanNumber() {
    std::string text;
    bool point = false, exponent = false, exponentDigits = false, imaginary = false;
    while (!FStream->AtEnd() && !FStream->PendingBlank()) {
        char c = FStream->CurrentChar();
        if (imaginary) {
            // Nothing belongs to a number after its 'i'.
            if (IsWordChar(c) || c == '.')
                Error(ceInvalidLiteral);
            break;
        }
        if (IsDigit(c)) {
            text += c;
            exponentDigits = exponentDigits || exponent;
            Pass();
        } else if (c == '.') {
            if (point || exponent)
                Error(ceInvalidLiteral);
            point = true;
            text += c;
            Pass();
        } else if (c == 'E' || c == 'e') {
            if (exponent)
                Error(ceInvalidLiteral);
            exponent = true;
            text += 'E';
            Pass();
            if (!FLineEnded && !FStream->AtEnd() &&
                (FStream->CurrentChar() == '+' || FStream->CurrentChar() == '-')) {
                text += FStream->CurrentChar();
                Pass();
            }
        } else if (c == 'i' || c == 'I') {
            imaginary = true;
            Pass();
        } else if (IsWordStart(c)) {
            Error(ceInvalidLiteral);
        } else {
            break;
        }
        if (FLineEnded)
            break;
    }
    if (exponent && !exponentDigits)
        Error(ceInvalidLiteral);
    try {
        if (imaginary)
            return std::make_unique<TComplexLiteral>("0", text);
        if (point || exponent)
            return std::make_unique<TFloatLiteral>(text);
        auto literal = std::make_unique<TIntLiteral>();
        literal->SetText(text);
        return literal;
    } catch (const ELiteralError &) {
        Error(ceLiteralOutOfRange);
    }
}

void TTokenizer::ScanString() {
    TCompilePosition position = TokenPosition();
    Pass(); // the opening quote
    if (FLineEnded)
        Error(ceUnterminatedString);
    std::string text;
    for (;;) {
        if (FStream->AtEnd())
            Error(ceUnterminatedString);
        char c = FStream->CurrentChar();
        if (c == '"' && !FStream->PendingBlank()) {
            Pass();
            break;
        }
        if (IsLastOfLine())
            Error(ceUnterminatedString);
        text += c;
        Pass();
    }
    AddToken(std::make_unique<TStringToken>(position, text));
}

// '#' and a predefined symbol, or '@' and a parameter or user function name.
void TTokenizer::ScanPrefixedWord(char Prefix) {
    std::uint8_t code = Prefix == '#' ? ceInvalidPredefined : ceInvalidParameter;
    TCompilePosition position = TokenPosition();
    Pass();
    if (FLineEnded || FStream->AtEnd() || !IsWordStart(FStream->CurrentChar()))
        Error(code);
    std::string word = ScanWord();
    if (Prefix == '#') {
        int id = FindPredefinedSymbol(UpperCase(word));
        if (id < 0)
            Error(code);
        AddToken(std::make_unique<TPredefinedToken>(position, static_cast<std::uint8_t>(id)));
    } else if (OpenParenFollows()) {
        AddToken(std::make_unique<TUserFunctionToken>(position, word));
    } else {
        AddToken(std::make_unique<TParameterToken>(position, word));
    }
}

void TTokenizer::ScanDirective() {
    TCompilePosition position = TokenPosition();
    Pass();
    std::string word;
    if (!FLineEnded && !FStream->AtEnd() && IsWordStart(FStream->CurrentChar()))
        word = UpperCase(ScanWord());
    for (std::uint8_t id = diDefine; id <= diEndIf; ++id)
        if (word == DirectiveNames[id]) {
            AddToken(std::make_unique<TDirectiveToken>(position, id));
            return;
        }
    // Inside an inactive branch anything that is no directive is passed over silently.
    if (!Skipping)
        Error(ceInvalidDirective);
}

void TTokenizer::ScanOperator(char First, char Second, std::uint8_t OneId, std::uint8_t TwoId) {
    TCompilePosition position = TokenPosition();
    Pass();
    if (!FLineEnded && !FStream->AtEnd() && FStream->CurrentChar() == Second) {
        Pass();
        AddSymbol(TwoId, position);
    } else {
        AddSymbol(OneId, position);
    }
}

// At '(': a complex literal "(re, im)" becomes one literal token; anything else is a '(' symbol.
void TTokenizer::ScanParenthesis() {
    TCompilePosition parenPosition = TokenPosition();
    if (IsLastOfLine()) {
        Pass();
        AddSymbol(syOpenParen, parenPosition);
        ++FDepth;
        return;
    }
    PassExpecting(ceExprExpected);
    PassBlanks(ceExprExpected);
    char sign = 0;
    TCompilePosition signPosition;
    if (FStream->CurrentChar() == '+' || FStream->CurrentChar() == '-') {
        sign = FStream->CurrentChar();
        signPosition = Cursor();
        PassExpecting(ceExprExpected);
        PassBlanks(ceExprExpected);
    }
    char c = FStream->CurrentChar();
    bool afterCall = FLastToken && (FLastToken->Kind == tkFunction || FLastToken->Kind == tkUserFunction);
    if (FStream->AtEnd() || !(IsDigit(c) || c == '.') || afterCall) {
        AddSymbol(syOpenParen, parenPosition);
        ++FDepth;
        if (sign)
            AddSymbol(sign == '+' ? syPlus : syMinus, signPosition);
        return;
    }

    TCompilePosition numberPosition = Cursor();
    FTokenLine = numberPosition.Line;
    FTokenColumn = numberPosition.Column;
    std::unique_ptr<TLiteral> first = ScanNumber();
    if (sign == '-')
        first->Invert();
    if (FLineEnded)
        ErrorAt(ceCloseParExpected, MissingPosition());
    PassBlanks(ceCloseParExpected);
    if (FStream->AtEnd() || FStream->CurrentChar() != ',') {
        AddSymbol(syOpenParen, parenPosition);
        ++FDepth;
        AddToken(std::make_unique<TLiteralToken>(numberPosition, std::move(first)));
        return;
    }

    // A complex literal.
    if (first->Type == vtComplex)
        ErrorAt(ceFirstImagLiteral, numberPosition);
    PassExpecting(ceExprExpected); // ','
    PassBlanks(ceExprExpected);
    char imSign = 0;
    if (FStream->CurrentChar() == '+' || FStream->CurrentChar() == '-') {
        imSign = FStream->CurrentChar();
        PassExpecting(ceLiteralExpected);
        PassBlanks(ceLiteralExpected);
    }
    c = FStream->CurrentChar();
    if (FStream->AtEnd() || FStream->PendingBlank() || !(IsDigit(c) || c == '.'))
        ErrorAt(ceLiteralExpected, MissingPosition());
    FTokenLine = FStream->Line();
    FTokenColumn = FStream->Column();
    std::unique_ptr<TLiteral> second = ScanNumber();
    if (FLineEnded)
        ErrorAt(ceCloseParExpected, MissingPosition());
    PassBlanks(ceCloseParExpected);
    if (FStream->AtEnd() || FStream->CurrentChar() != ')')
        ErrorAt(ceCloseParExpected, MissingPosition());
    Pass(); // ')'

    auto literal = std::make_unique<TComplexLiteral>();
    try {
        literal->Re.SetText(PartText(*first, false));
        literal->Im.SetText(PartText(*second, true));
    } catch (const ELiteralError &) {
        ErrorAt(ceLiteralOutOfRange, numberPosition);
    }
    if (imSign == '-')
        literal->Im.Invert();
    AddToken(std::make_unique<TLiteralToken>(parenPosition, std::move(literal)));
}

// ---------------------------------------------------------------------------------------------
// Sections and statements

void TTokenizer::SectionFound(const std::string &Name, const TCompilePosition &Position) {
    OnSectionFound(Name, Position);
}

void TTokenizer::BeginSection(const std::string &Label, const TCompilePosition &Position) {
    FBailoutPending = false;
    std::string name = Label;
    if (name.empty()) {
        OnGetDefaultSection(name);
        if (name.empty())
            ErrorAt(ceNoStartLabel, Position);
    } else if (name == ":") {
        name.clear();
        OnGetLoopSection(name);
        if (name.empty())
            ErrorAt(ceColonLabel, Position);
        FBailoutSection.clear();
        OnGetBailoutSection(FBailoutSection);
        FBailoutPending = !FBailoutSection.empty();
    }
    if (FFirstSection) {
        std::string leading;
        OnGetLeadingSection(UpperCase(name), leading);
        if (!leading.empty())
            SectionFound(leading, Position);
    }
    SectionFound(name, Position);
}

void TTokenizer::EndStatement() {
    // Sections begun for a statement start where its first token does.
    TCompilePosition start =
        FFirstToken ? FFirstToken->Position : TCompilePosition{FStatementLine, FStatementColumn};
    if (FFirstSection && FFirstToken && FFirstToken->Kind != tkDirective) {
        BeginSection(std::string(), start);
        FFirstSection = false;
    }
    if (FBailoutPending) {
        // The compact form: the last statement before a label or the end of the text is the
        // bailout expression.
        for (;;) {
            while (!FStream->AtEnd() && IsBlank(FStream->CurrentChar()))
                FStream->NextChar();
            if (!FStream->AtEnd() && FStream->CurrentChar() == ';' && !FStream->PendingBlank()) {
                FStream->SkipLine();
                continue;
            }
            break;
        }
        if (FStream->AtEnd() || LabelFollows())
            BeginSection(FBailoutSection, start);
    }
    FDelivered = true;
    if (FFirstToken) {
        AddToken(std::make_unique<TEndToken>(FEndPosition));
        std::unique_ptr<TToken> statement = std::move(FFirstToken);
        FLastToken = nullptr;
        OnStatement(statement.get());
    }
}
