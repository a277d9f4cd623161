// The formula tokenizer: splits the text of one formula entry into statements of tokens and
// section labels and hands them to its owner, the compiler object, through callbacks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Classes.h"
#include "CompDefinitions.h"
#include "CompMessages.h"
#include "CompPersistent.h"

// ---------------------------------------------------------------------------------------------
// Ids

// Token kinds.
constexpr std::uint8_t tkEnd = 0;
constexpr std::uint8_t tkLiteral = 1;
constexpr std::uint8_t tkSymbol = 2;
constexpr std::uint8_t tkKeyword = 3;
constexpr std::uint8_t tkFunction = 4;
constexpr std::uint8_t tkVariable = 5;
constexpr std::uint8_t tkPredefined = 6;
constexpr std::uint8_t tkParameter = 7;
constexpr std::uint8_t tkUserFunction = 8;
constexpr std::uint8_t tkString = 9;
constexpr std::uint8_t tkDirective = 10;

// Symbol ids.
enum : std::uint8_t {
    syPlus,         // +
    syMinus,        // -
    syMultiply,     // *
    syDivide,       // /
    syPower,        // ^
    syAssign,       // =
    syEqual,        // ==
    syLess,         // <
    syLessEqual,    // <=
    syGreater,      // >
    syGreaterEqual, // >=
    syNot,          // !
    syNotEqual,     // !=
    syAmpersand,    // &
    syAnd,          // &&
    syBar,          // |
    syOr,           // ||
    syOpenParen,    // (
    syCloseParen,   // )
    syOpenBracket,  // [
    syCloseBracket, // ]
    syModulo,       // %
    syTilde,        // ~
    syComma         // ,
};

// Keyword ids.
enum : std::uint8_t {
    kwIf,
    kwElseIf,
    kwElse,
    kwEndIf,
    kwComplex,
    kwFloat,
    kwInt,
    kwBool,
    kwColor,
    kwTrue,
    kwFalse,
    kwWhile,
    kwEndWhile,
    kwRepeat,
    kwUntil,
    kwParam,
    kwEndParam,
    kwFunc,
    kwEndFunc,
    kwHeading,
    kwEndHeading,
    kwCount
};

// The type keywords (complex, float, int, bool, color) and the value type each declares.
inline bool IsTypeKeyword(std::uint8_t Keyword) {
    return Keyword == kwComplex || Keyword == kwFloat || Keyword == kwInt || Keyword == kwBool ||
           Keyword == kwColor;
}
inline std::uint8_t TypeOfKeyword(std::uint8_t Keyword) {
    switch (Keyword) {
    case kwComplex:
        return vtComplex;
    case kwFloat:
        return vtFloat;
    case kwInt:
        return vtInteger;
    case kwBool:
        return vtBoolean;
    default:
        return vtColor;
    }
}

// Built-in function ids; 0..28 are the functions a function parameter selects, 49..67 the merge
// modes.
enum : std::uint8_t {
    fnSin,
    fnSinh,
    fnAsin,
    fnAsinh,
    fnCos,
    fnCosh,
    fnAcos,
    fnAcosh,
    fnTan,
    fnTanh,
    fnAtan,
    fnAtanh,
    fnCotan,
    fnCotanh,
    fnSqr,
    fnSqrt,
    fnLog,
    fnExp,
    fnAbs,
    fnCabs,
    fnConj,
    fnFlip,
    fnIdent,
    fnZero,
    fnRecip,
    fnCeil,
    fnFloor,
    fnTrunc,
    fnRound,
    fnReal,
    fnImag,
    fnAtan2,
    fnOldZ,
    fnRandom,
    fnPrint,
    fnRgb,
    fnRgba,
    fnHsl,
    fnHsla,
    fnRed,
    fnGreen,
    fnBlue,
    fnAlpha,
    fnHue,
    fnSat,
    fnLum,
    fnGradient,
    fnBlend,
    fnCompose,
    fnMergeNormal,
    fnMergeMultiply,
    fnMergeScreen,
    fnMergeOverlay,
    fnMergeSoftLight,
    fnMergeHardLight,
    fnMergeDarken,
    fnMergeLighten,
    fnMergeDifference,
    fnMergeHue,
    fnMergeSaturation,
    fnMergeColor,
    fnMergeLuminance,
    fnMergeAddition,
    fnMergeSubtraction,
    fnMergeHslAddition,
    fnMergeRed,
    fnMergeGreen,
    fnMergeBlue,
    fnCount
};

// Predefined symbol ids.
enum : std::uint8_t {
    psPixel,
    psLastSqr,
    psRandom,
    psPi,
    psE,
    psMaxIter,
    psNumIter,
    psScreenMax,
    psScreenPixel,
    psWhiteSq,
    psWidth,
    psHeight,
    psX,
    psY,
    psCenter,
    psMagn,
    psAngle,
    psStretch,
    psSkew,
    psIndex,
    psZ,
    psSolidColor,
    psRandomRange,
    psColor,
    psCount
};

// Directive ids.
enum : std::uint8_t { diDefine, diUndef, diIfDef, diElse, diEndIf };

// The longest word; longer runs of word characters are read as several words.
constexpr int MaxWordLength = 256;

// ---------------------------------------------------------------------------------------------
// Tokens

// One token of a statement. A token owns the rest of its chain (freed without recursion, so
// statements of any length are safe).
class TToken : public TObject {
public:
    ~TToken() override;
    TToken(const TToken &) = delete;
    TToken &operator=(const TToken &) = delete;
    DECLARE_CLASS_NAME(TToken)

    std::unique_ptr<TToken> Next;
    TCompilePosition Position; // the token's first character
    const std::uint8_t Kind;

protected:
    TToken(std::uint8_t AKind, const TCompilePosition &APosition) : Position(APosition), Kind(AKind) {}
};

// Ends every delivered statement; its position is just behind the statement's last character.
class TEndToken : public TToken {
public:
    explicit TEndToken(const TCompilePosition &APosition) : TToken(tkEnd, APosition) {}
    DECLARE_CLASS_NAME(TEndToken)
};

class TLiteralToken : public TToken {
public:
    TLiteralToken(const TCompilePosition &APosition, std::unique_ptr<TLiteral> ALiteral)
        : TToken(tkLiteral, APosition), Literal(std::move(ALiteral)) {}
    DECLARE_CLASS_NAME(TLiteralToken)
    std::unique_ptr<TLiteral> Literal;
};

// Tokens that carry an id: symbols, keywords, functions, predefined symbols and directives.
class TIdToken : public TToken {
public:
    DECLARE_CLASS_NAME(TIdToken)
    std::uint8_t Id;

protected:
    TIdToken(std::uint8_t AKind, const TCompilePosition &APosition, std::uint8_t AId)
        : TToken(AKind, APosition), Id(AId) {}
};

class TSymbolToken : public TIdToken {
public:
    TSymbolToken(const TCompilePosition &APosition, std::uint8_t AId) : TIdToken(tkSymbol, APosition, AId) {}
    DECLARE_CLASS_NAME(TSymbolToken)
};

class TKeywordToken : public TIdToken {
public:
    TKeywordToken(const TCompilePosition &APosition, std::uint8_t AId)
        : TIdToken(tkKeyword, APosition, AId) {}
    DECLARE_CLASS_NAME(TKeywordToken)
};

class TFunctionToken : public TIdToken {
public:
    TFunctionToken(const TCompilePosition &APosition, std::uint8_t AId)
        : TIdToken(tkFunction, APosition, AId) {}
    DECLARE_CLASS_NAME(TFunctionToken)
};

class TPredefinedToken : public TIdToken {
public:
    TPredefinedToken(const TCompilePosition &APosition, std::uint8_t AId)
        : TIdToken(tkPredefined, APosition, AId) {}
    DECLARE_CLASS_NAME(TPredefinedToken)
};

class TDirectiveToken : public TIdToken {
public:
    TDirectiveToken(const TCompilePosition &APosition, std::uint8_t AId)
        : TIdToken(tkDirective, APosition, AId) {}
    DECLARE_CLASS_NAME(TDirectiveToken)
};

// Tokens that carry a text: variables, parameters and user functions (the name as written,
// without a leading '@'), and strings.
class TTextToken : public TToken {
public:
    DECLARE_CLASS_NAME(TTextToken)
    std::string Text;

protected:
    TTextToken(std::uint8_t AKind, const TCompilePosition &APosition, const std::string &AText)
        : TToken(AKind, APosition), Text(AText) {}
};

class TVariableToken : public TTextToken {
public:
    TVariableToken(const TCompilePosition &APosition, const std::string &AName)
        : TTextToken(tkVariable, APosition, AName) {}
    DECLARE_CLASS_NAME(TVariableToken)
};

class TParameterToken : public TTextToken {
public:
    TParameterToken(const TCompilePosition &APosition, const std::string &AName)
        : TTextToken(tkParameter, APosition, AName) {}
    DECLARE_CLASS_NAME(TParameterToken)
};

class TUserFunctionToken : public TTextToken {
public:
    TUserFunctionToken(const TCompilePosition &APosition, const std::string &AName)
        : TTextToken(tkUserFunction, APosition, AName) {}
    DECLARE_CLASS_NAME(TUserFunctionToken)
};

class TStringToken : public TTextToken {
public:
    TStringToken(const TCompilePosition &APosition, const std::string &AText)
        : TTextToken(tkString, APosition, AText) {}
    DECLARE_CLASS_NAME(TStringToken)
};

// ---------------------------------------------------------------------------------------------
// Tokenizer

// Section name queries: the loop, bailout and default sections (each may answer empty).
using TSectionNameEvent = TMethod<void(std::string &Name)>;
// The section to begin before the first label found (Label in upper case), or empty.
using TLeadingSectionEvent = TMethod<void(const std::string &Label, std::string &Name)>;
// A class-specific predefined symbol (Name in upper case).
using TFindSymbolEvent = TMethod<bool(const std::string &Name, int &Id)>;
using TSectionFoundEvent = TMethod<void(const std::string &Name, const TCompilePosition &Position)>;
// One statement: the first token of a chain that ends with a TEndToken. The chain belongs to the
// tokenizer and is freed when the handler returns.
using TStatementEvent = TMethod<void(TToken *FirstToken)>;

// Every lexical error raises ECompileError at the position of the token being scanned. Any text
// (arbitrary bytes included) gives statements or an ECompileError; scanning always moves forward.
class TTokenizer : public TObject {
public:
    TTokenizer() = default;
    TTokenizer(const TTokenizer &) = delete;
    TTokenizer &operator=(const TTokenizer &) = delete;
    DECLARE_CLASS_NAME(TTokenizer)

    // Rewinds the stream and scans it to its end, delivering statements and sections.
    void Tokenize(TEntryStream &Stream);

    // Set by the parser after every directive: while set (an inactive conditional branch) only
    // the directive words themselves are recognised.
    bool Skipping = false;

    TSectionNameEvent OnGetLoopSection;
    TSectionNameEvent OnGetBailoutSection;
    TSectionNameEvent OnGetDefaultSection;
    TLeadingSectionEvent OnGetLeadingSection;
    TFindSymbolEvent OnFindSymbol;
    TSectionFoundEvent OnSectionFound;
    TStatementEvent OnStatement;

    // Word tables; words in upper case. -1 when the word is not in the table.
    static int FindKeyword(const std::string &Word);
    // SRAND gives the id of IDENT.
    static int FindFunction(const std::string &Word);
    // P1 to P6.
    static bool IsParameterName(const std::string &Word);
    // FN1 to FN4.
    static bool FindUserFunction(const std::string &Word);
    // Names valid as bare words (PIXEL, PI, ...), then the owner's class-specific symbols.
    int FindCompatibilitySymbol(const std::string &Word);
    // Names valid after '#': the above, then the names only valid there (MAXITER, Z, ...).
    int FindPredefinedSymbol(const std::string &Word);

protected:
    virtual void SectionFound(const std::string &Name, const TCompilePosition &Position);

private:
    bool IsLastOfLine() const;
    TCompilePosition Cursor() const;
    TCompilePosition TokenPosition() const { return {FTokenLine, FTokenColumn}; }
    // Where a missing token was expected: the cursor, or just behind the line's last character.
    TCompilePosition MissingPosition() const;
    [[noreturn]] void Error(std::uint8_t Code, const std::string &Detail = std::string());
    [[noreturn]] void ErrorAt(std::uint8_t Code, const TCompilePosition &Position);
    void Pass();
    void PassBlanks(std::uint8_t LineEndError);
    void PassExpecting(std::uint8_t LineEndError);
    void AddToken(std::unique_ptr<TToken> Token);
    void AddSymbol(std::uint8_t Id, const TCompilePosition &Position);

    void ScanNext();
    void ScanToken();
    void ScanSkipped();
    std::string ScanWord();
    void AddWordToken(const std::string &Word);
    bool OpenParenFollows();
    bool LabelFollows();
    std::unique_ptr<TLiteral> ScanNumber();
    void ScanString();
    void ScanPrefixedWord(char Prefix);
    void ScanDirective();
    void ScanOperator(char First, char Second, std::uint8_t OneId, std::uint8_t TwoId);
    void ScanParenthesis();
    void BeginSection(const std::string &Label, const TCompilePosition &Position);
    void EndStatement();

    TEntryStream *FStream = nullptr;
    int FTokenLine = 0;
    int FTokenColumn = 0;
    bool FLineEnded = false;
    std::unique_ptr<TToken> FFirstToken;
    TToken *FLastToken = nullptr;
    std::string FBailoutSection;
    bool FBailoutPending = false;
    bool FFirstSection = true;
    int FStatementLine = 0;
    int FStatementColumn = 0;
    // Just behind the last character passed on its line, and just behind the last token: where
    // missing tokens are reported and where the statement's end token goes.
    TCompilePosition FPassedEnd;
    TCompilePosition FEndPosition;
    int FDepth = 0;
    bool FStatementOver = false;
    bool FDelivered = false;
};
