#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompTokenizer.h"

namespace {

const char *const SymbolTexts[] = {"+",  "-", "*",  "/", "^",  "=", "==", "<", "<=", ">", ">=", "!",
                                   "!=", "&", "&&", "|", "||", "(", ")",  "[", "]",  "%", "~",  ","};

// Plays the compiler object: answers the section questions like a fractal formula and writes
// every section and statement down as text.
class TOwner : public TObject {
public:
    TOwner() {
        Tokenizer.OnGetLoopSection = MakeEvent<&TOwner::GetLoop>(this);
        Tokenizer.OnGetBailoutSection = MakeEvent<&TOwner::GetBailout>(this);
        Tokenizer.OnGetDefaultSection = MakeEvent<&TOwner::GetDefault>(this);
        Tokenizer.OnGetLeadingSection = MakeEvent<&TOwner::GetLeading>(this);
        Tokenizer.OnFindSymbol = MakeEvent<&TOwner::FindSymbol>(this);
        Tokenizer.OnSectionFound = MakeEvent<&TOwner::SectionFound>(this);
        Tokenizer.OnStatement = MakeEvent<&TOwner::Statement>(this);
    }

    std::vector<std::string> Run(const std::string &Text) {
        Events.clear();
        TEntryStream stream(Text.data(), Text.size());
        Tokenizer.Tokenize(stream);
        return Events;
    }

    static std::string Dump(const TToken *Token) {
        switch (Token->Kind) {
        case tkEnd:
            return "E";
        case tkLiteral: {
            const TLiteral &literal = *static_cast<const TLiteralToken *>(Token)->Literal;
            const char *type = literal.Type == vtComplex ? "complex"
                               : literal.Type == vtFloat ? "float"
                                                         : "int";
            return std::string("L:") + type + ":" + literal.GetText();
        }
        case tkSymbol:
            return std::string("S:") + SymbolTexts[static_cast<const TIdToken *>(Token)->Id];
        case tkKeyword:
            return "K" + std::to_string(static_cast<const TIdToken *>(Token)->Id);
        case tkFunction:
            return "F" + std::to_string(static_cast<const TIdToken *>(Token)->Id);
        case tkPredefined:
            return "P" + std::to_string(static_cast<const TIdToken *>(Token)->Id);
        case tkDirective:
            return "D" + std::to_string(static_cast<const TIdToken *>(Token)->Id);
        case tkVariable:
            return "V:" + static_cast<const TTextToken *>(Token)->Text;
        case tkParameter:
            return "A:" + static_cast<const TTextToken *>(Token)->Text;
        case tkUserFunction:
            return "U:" + static_cast<const TTextToken *>(Token)->Text;
        case tkString:
            return "Q:" + static_cast<const TTextToken *>(Token)->Text;
        }
        return "?";
    }

    std::string Loop = "LOOP", Bailout = "BAILOUT", Default = "INIT", LeadingFor, Leading;
    std::vector<std::string> Events;
    std::vector<const TToken *> Seen;
    std::vector<TCompilePosition> Positions;
    // Emulates the parser's conditional blocks: names listed here count as defined.
    std::vector<std::string> Defined;
    std::vector<bool> Conditions;
    TTokenizer Tokenizer;

private:
    void GetLoop(std::string &Name) { Name = Loop; }
    void GetBailout(std::string &Name) { Name = Bailout; }
    void GetDefault(std::string &Name) { Name = Default; }
    void GetLeading(const std::string &Label, std::string &Name) {
        if (Label == LeadingFor)
            Name = Leading;
    }
    bool FindSymbol(const std::string &Name, int &Id) {
        if (Name != "MYSYM")
            return false;
        Id = 30;
        return true;
    }
    void SectionFound(const std::string &Name, const TCompilePosition &Position) {
        Events.push_back("section " + Name);
    }
    void Statement(TToken *First) {
        std::string text;
        Positions.clear();
        for (const TToken *t = First; t; t = t->Next.get()) {
            text += (text.empty() ? "" : " ") + Dump(t);
            Positions.push_back(t->Position);
            if (!t->Next && t->Kind != tkEnd)
                text += " <no end token>";
        }
        Events.push_back(text);
        if (First->Kind == tkDirective)
            Directive(static_cast<const TIdToken *>(First)->Id, First->Next.get());
    }
    void Directive(int Id, const TToken *Name) {
        std::string name =
            Name->Kind == tkVariable ? UpperCase(static_cast<const TTextToken *>(Name)->Text) : "";
        if (Id == diIfDef) {
            bool defined = false;
            for (const std::string &d : Defined)
                defined = defined || d == name;
            Conditions.push_back(defined);
        } else if (Id == diElse && !Conditions.empty()) {
            Conditions.back() = !Conditions.back();
        } else if (Id == diEndIf && !Conditions.empty()) {
            Conditions.pop_back();
        }
        Tokenizer.Skipping = !Conditions.empty() && !Conditions.back();
    }
};

struct TCase {
    const char *Text;
    std::vector<std::string> Events;
};

void RunCases(const std::vector<TCase> &Cases) {
    for (const TCase &c : Cases) {
        TOwner owner;
        try {
            EXPECT_EQ(owner.Run(c.Text), c.Events) << c.Text;
        } catch (const ECompileError &e) {
            ADD_FAILURE() << c.Text << ": " << e.Message();
        }
    }
}

TEST(Tokenizer, Statements) {
    RunCases({
        // The default section is begun before the first statement.
        {"x = y * z + #pixel", {"section INIT", "V:x S:= V:y S:* V:z S:+ P0 E"}},
        {"a = 1, b = 2", {"section INIT", "V:a S:= L:int:1 E", "V:b S:= L:int:2 E"}},
        {"f = sin(a, b)", {"section INIT", "V:f S:= F0 S:( V:a S:, V:b S:) E"}},
        {"x = m[i, j]", {"section INIT", "V:x S:= V:m S:[ V:i S:, V:j S:] E"}},
        {"a = 1 ; a comment, with a comma\r\nb = 2",
         {"section INIT", "V:a S:= L:int:1 E", "V:b S:= L:int:2 E"}},
        {"a = 1\r\n\r\n\r\n   b = 2\r\n", {"section INIT", "V:a S:= L:int:1 E", "V:b S:= L:int:2 E"}},
        {"a = 1 + \\  \r\n     2", {"section INIT", "V:a S:= L:int:1 S:+ L:int:2 E"}},
        {"a<=b>=c!=d==w&&f||g&h|i!j<k>l=m%n~o^p/q-r",
         {"section INIT", "V:a S:<= V:b S:>= V:c S:!= V:d S:== V:w S:&& V:f S:|| V:g S:& V:h S:| V:i S:! "
                          "V:j S:< V:k S:> V:l S:= V:m S:% V:n S:~ V:o S:^ V:p S:/ V:q S:- V:r E"}},
        {"if p1 > pi && fn1(z) == srand(2)",
         {"section INIT", "K0 A:p1 S:> P3 S:&& U:fn1 S:( V:z S:) S:== F22 S:( L:int:2 S:) E"}},
        {"@Foo = @bar (z) + P7 + e + mysym + #MySym + #maxiter",
         {"section INIT", "A:Foo S:= U:bar S:( V:z S:) S:+ V:P7 S:+ P4 S:+ P30 S:+ P30 S:+ P5 E"}},
        {"complex c = color(1)", {"section INIT", "K4 V:c S:= K8 S:( L:int:1 S:) E"}},
        {"title = \"Hello, world; 1\"", {"section INIT", "V:title S:= Q:Hello, world; 1 E"}},
        {"MergeNormal(a, b)", {"section INIT", "F49 S:( V:a S:, V:b S:) E"}},
        // A colon after the first token switches to the loop section.
        {"z = pixel: z = z*z + pixel, |z| < 4",
         {"section INIT", "V:z S:= P0 E", "section LOOP", "V:z S:= V:z S:* V:z S:+ P0 E", "section BAILOUT",
          "S:| V:z S:| S:< L:int:4 E"}},
    });
}

TEST(Tokenizer, Numbers) {
    RunCases({
        {"a = 12 + 1.5e+3 + .5 + 7. + 2E-2",
         {"section INIT", "V:a S:= L:int:12 S:+ L:float:1.5E+3 S:+ L:float:.5 "
                          "S:+ L:float:7. S:+ L:float:2E-2 E"}},
        {"a = 4i + 2.5I", {"section INIT", "V:a S:= L:complex:(0,4) S:+ L:complex:(0,2.5) E"}},
        {"a = .", {"section INIT", "V:a S:= L:float:. E"}},
        {"a = 1e5*2", {"section INIT", "V:a S:= L:float:1E5 S:* L:int:2 E"}},
        {"a = 1E5\r\n3", {"section INIT", "V:a S:= L:float:1E5 E", "L:int:3 E"}},
    });
}

// Every number the tokenizer passes converts: missing digits count as 0, overflow gives infinity
// and underflow 0.
TEST(Tokenizer, ScannedNumbersAlwaysConvert) {
    const long double inf = std::numeric_limits<long double>::infinity();
    const double dinf = std::numeric_limits<double>::infinity();
    struct TNumber {
        const char *Text;
        long double Value;
        double Double;
    } numbers[] = {{".", 0, 0},
                   {"7.", 7, 7},
                   {".e5", 0, 0},
                   {"1e99999999999", inf, dinf},
                   {"1e-99999999", 0, 0},
                   {"2.5e3", 2500, 2500},
                   {"1e400", 1e400L, dinf},
                   {"12345678901234567890123.5e-22", 1.23456789012345678901235L, 1.23456789012345678901235}};
    for (const TNumber &n : numbers) {
        std::vector<std::unique_ptr<TLiteral>> literals;
        TOwner owner;
        owner.Tokenizer.OnStatement = TStatementEvent(
            [](void *data, TToken *first) {
                for (const TToken *t = first; t; t = t->Next.get())
                    if (t->Kind == tkLiteral)
                        static_cast<std::vector<std::unique_ptr<TLiteral>> *>(data)->push_back(
                            static_cast<const TLiteralToken *>(t)->Literal->Clone());
            },
            &literals);
        std::string text = std::string("a = ") + n.Text + " + (" + n.Text + ", -" + n.Text + ")";
        ASSERT_NO_THROW(owner.Run(text)) << text;
        ASSERT_EQ(literals.size(), 2u) << text;
        auto &real = static_cast<TFloatLiteral &>(*literals[0]);
        auto &complex = static_cast<TComplexLiteral &>(*literals[1]);
        EXPECT_EQ(real.GetExtended(), n.Value) << n.Text;
        EXPECT_EQ(complex.Re.GetExtended(), n.Value) << n.Text;
        EXPECT_EQ(complex.Im.GetExtended(), -n.Value) << n.Text;
        EXPECT_EQ(complex.Im.GetDouble(), -n.Double) << n.Text;
        THugeFloat huge(30);
        EXPECT_NO_THROW(complex.Im.GetHuge(huge)) << n.Text;
    }
}

TEST(Tokenizer, Parentheses) {
    RunCases({
        {"a = (1, -2)", {"section INIT", "V:a S:= L:complex:(1,-2) E"}},
        {"a = ( -1.5 ,\t+.25e2 )", {"section INIT", "V:a S:= L:complex:(-1.5,.25E2) E"}},
        {"a = (1, 2i)", {"section INIT", "V:a S:= L:complex:(1,2) E"}},
        {"a = (1, - 3)", {"section INIT", "V:a S:= L:complex:(1,-3) E"}},
        {"a = (1 + b)", {"section INIT", "V:a S:= S:( L:int:1 S:+ V:b S:) E"}},
        {"a = (-2.5)", {"section INIT", "V:a S:= S:( L:float:-2.5 S:) E"}},
        {"a = (- b)", {"section INIT", "V:a S:= S:( S:- V:b S:) E"}},
        {"a = (+b)", {"section INIT", "V:a S:= S:( S:+ V:b S:) E"}},
        {"a = sin(1, 2)", {"section INIT", "V:a S:= F0 S:( L:int:1 S:, L:int:2 S:) E"}},
        {"a = fn2 (-1, 2)", {"section INIT", "V:a S:= U:fn2 S:( S:- L:int:1 S:, L:int:2 S:) E"}},
        {"a = ((1, 2))", {"section INIT", "V:a S:= S:( L:complex:(1,2) S:) E"}},
        {"a = (\r\nb", {"section INIT", "V:a S:= S:( E", "V:b E"}},
        {"a = (b, c)", {"section INIT", "V:a S:= S:( V:b S:, V:c S:) E"}},
    });
}

TEST(Tokenizer, Sections) {
    RunCases({
        // A label clears the first-section state: no default section is begun later.
        {"loop:\r\nz = 1", {"section loop", "V:z S:= L:int:1 E"}},
        {"init: z = 0\r\nloop:\r\n  z = z + 1",
         {"section init", "V:z S:= L:int:0 E", "section loop", "V:z S:= V:z S:+ L:int:1 E"}},
        // A directive alone does not begin the default section.
        {"$define X\r\na = 1", {"D0 V:X E", "section INIT", "V:a S:= L:int:1 E"}},
        // The compact form: the lines before ':' stay where they were, the next goes to the loop
        // section and the last one to the bailout section.
        {"init:\r\nz = 0\r\n:\r\nz = z*z\r\n|z| < 4\r\n",
         {"section init", "V:z S:= L:int:0 E", "section LOOP", "V:z S:= V:z S:* V:z E", "section BAILOUT",
          "S:| V:z S:| S:< L:int:4 E"}},
        // Comment lines and blanks before the end still make the last statement the bailout.
        {":\r\nz = z\r\n|z| < 4 ; test\r\n  ; more\r\n\r\n",
         {"section LOOP", "V:z S:= V:z E", "section BAILOUT", "S:| V:z S:| S:< L:int:4 E"}},
        // ... and so does a label on the next line.
        {"z = 0:\r\nz = z\r\n|z| < 4\r\ndefault:\r\ntitle = \"t\"",
         {"section INIT", "V:z S:= L:int:0 E", "section LOOP", "V:z S:= V:z E", "section BAILOUT",
          "S:| V:z S:| S:< L:int:4 E", "section default", "V:title S:= Q:t E"}},
    });
    TOwner owner;
    owner.LeadingFor = "LOOP";
    owner.Leading = "INIT";
    EXPECT_EQ(owner.Run("Loop:\r\nz = 1\r\nbailout:\r\n|z|<4"),
              (std::vector<std::string>{"section INIT", "section Loop", "V:z S:= L:int:1 E",
                                        "section bailout", "S:| V:z S:| S:< L:int:4 E"}));
    owner.Bailout = "";
    EXPECT_EQ(owner.Run("z = 0:\r\nz = z\r\n|z| < 4"),
              (std::vector<std::string>{"section INIT", "V:z S:= L:int:0 E", "section LOOP", "V:z S:= V:z E",
                                        "S:| V:z S:| S:< L:int:4 E"}))
        << "without a bailout section everything stays in the loop section";
}

TEST(Tokenizer, SkippedText) {
    TOwner owner;
    EXPECT_EQ(
        owner.Run("$ifdef FOO\r\na = \"x, y\" $ ; $else\r\n$define BAR\r\n$else\r\nb = 2\r\n$endif\r\nc = 3"),
        (std::vector<std::string>{"D2 V:FOO E", "D0 E", "D3 E", "section INIT", "V:b S:= L:int:2 E", "D4 E",
                                  "V:c S:= L:int:3 E"}))
        << "in skipped text only the directive words count; ';' still starts a comment";
    owner.Defined = {"FOO"};
    EXPECT_EQ(owner.Run("$IFDEF foo\r\na = 1\r\n$Else\r\nb = 2\r\n$endif"),
              (std::vector<std::string>{"D2 V:foo E", "section INIT", "V:a S:= L:int:1 E", "D3 E", "D4 E"}));
}

TEST(Tokenizer, LongWordsAreSplit) {
    TOwner owner;
    std::string word(300, 'a');
    EXPECT_EQ(owner.Run(word),
              (std::vector<std::string>{"section INIT",
                                        "V:" + std::string(256, 'a') + " V:" + std::string(44, 'a') + " E"}));
}

TEST(Tokenizer, Positions) {
    TOwner owner;
    owner.Run("a = 1\r\n  bb = (2, 3) + \\\r\n    cc");
    // The last statement: bb = (2,3) + cc and its end token.
    std::vector<TCompilePosition> expected = {{1, 2}, {1, 5}, {1, 7}, {1, 14}, {2, 4}, {2, 6}};
    EXPECT_EQ(owner.Positions, expected);
    owner.Run("a = b  \r\n");
    EXPECT_EQ(owner.Positions.back(), (TCompilePosition{0, 5})) << "the end token follows the last token";
}

// Positions count in the file the entry came from.
TEST(Tokenizer, PositionsInsideAnEntry) {
    std::string file = "; comment\r\nMandel {\r\n  z = 0:\r\n  z = z*z + #pixel\r\n  |z| < 4\r\n}\r\n";
    std::unique_ptr<TEntryStream> stream = TEntryStream::CreateFromString(file);
    TOwner owner;
    std::vector<std::vector<TCompilePosition>> positions;
    owner.Tokenizer.OnStatement = TStatementEvent(
        [](void *data, TToken *first) {
            auto *list = static_cast<std::vector<std::vector<TCompilePosition>> *>(data);
            list->emplace_back();
            for (const TToken *t = first; t; t = t->Next.get())
                list->back().push_back(t->Position);
        },
        &positions);
    owner.Tokenizer.Tokenize(*stream);
    ASSERT_EQ(positions.size(), 3u);
    EXPECT_EQ(positions[0].front(), (TCompilePosition{2, 2}));
    EXPECT_EQ(positions[1][5], (TCompilePosition{3, 10})) << "the '+'";
    EXPECT_EQ(positions[2].front(), (TCompilePosition{4, 2}));
}

struct TErrorCase {
    const char *Text;
    int Code;
    TCompilePosition Position;
    const char *Message = nullptr;
};

void RunErrorCases(TOwner &Owner, const std::vector<TErrorCase> &Cases) {
    for (const TErrorCase &c : Cases) {
        try {
            Owner.Run(c.Text);
            ADD_FAILURE() << c.Text << ": no error";
        } catch (const ECompileError &e) {
            EXPECT_EQ(e.Code, c.Code) << c.Text << ": " << e.Message();
            EXPECT_EQ(e.Position(), c.Position) << c.Text;
            if (c.Message) {
                EXPECT_EQ(e.Message(), c.Message) << c.Text;
            }
        }
    }
}

TEST(Tokenizer, Errors) {
    TOwner owner;
    RunErrorCases(owner, {
                             {"a = 1.2.3", 3, {0, 4}},
                             {"a = 1E", 3, {0, 4}},
                             {"a = 1e+x", 3, {0, 4}},
                             {"a = 1E5E2", 3, {0, 4}},
                             {"a = 1e5.2", 3, {0, 4}},
                             {"a = 3abc", 3, {0, 4}},
                             {"a = 4i2", 3, {0, 4}},
                             {"a = 4ix", 3, {0, 4}},
                             {"a = 1_0", 3, {0, 4}},
                             {"a = 99999999999", 5, {0, 4}},
                             {"a = 1\r\n  b = ?", 4, {1, 6}, "Invalid character encountered: '?'"},
                             {"a = 1\n  b = ?", 4, {1, 6}, "Invalid character encountered: '?'"},
                             {"s = \"abc", 6, {0, 4}},
                             {"s = \"abc\r\ndef\"", 6, {0, 4}},
                             {"s = \"", 6, {0, 4}},
                             {"a = #", 7, {0, 4}},
                             {"a = #1", 7, {0, 4}},
                             {"a = #foo", 7, {0, 4}},
                             {"a = @", 27, {0, 4}},
                             {"a = @ b", 27, {0, 4}},
                             {"a = ( \r\n", 8, {0, 6}},
                             {"a = (- \r\n", 8, {0, 7}},
                             {"a = (1, 2", 9, {0, 9}},
                             {"a = (1, 2 x", 9, {0, 10}},
                             {"a = (1\r\n", 9, {0, 6}},
                             {"a = (1i, 2)", 10, {0, 5}},
                             {"a = (1, x)", 11, {0, 8}},
                             {"a = (1, )", 11, {0, 8}},
                             {"a = (1,", 8, {0, 7}},
                             {"a = (99999999999, 1)", 5, {0, 5}},
                             {"a = foo(1)", 36, {0, 4}},
                             {"a = p1(1)", 36, {0, 4}},
                             {"$foo", 60, {0, 0}},
                             {"$", 60, {0, 0}},
                         });
    owner.Loop = "";
    RunErrorCases(owner, {{"a = 1\r\n  :", 2, {1, 2}}});
    owner.Default = "";
    RunErrorCases(owner, {{"\r\n  a = 1", 1, {1, 2}}});
}

// Whatever the bytes, tokenizing ends with statements or a compile error, and every delivered
// statement is a whole chain ending in its end token.
TEST(Tokenizer, ArbitraryBytesNeverCrashOrHang) {
    const std::string alphabet = "abcxyzEei019_.+-*/^=<>!&|()[],:;\"#@$%~ \t\r\r\n\\";
    std::mt19937 random(20241210);
    TOwner owner;
    int errors = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        int length = static_cast<int>(random() % 120);
        for (int i = 0; i < length; ++i)
            text +=
                random() % 4 == 0 ? static_cast<char>(random() % 256) : alphabet[random() % alphabet.size()];
        owner.Tokenizer.Skipping = false;
        owner.Conditions.clear();
        try {
            for (const std::string &statement : owner.Run(text))
                ASSERT_EQ(statement.find("<no end token>"), std::string::npos) << statement;
        } catch (const ECompileError &e) {
            ++errors;
            EXPECT_TRUE(e.Code >= 1 && e.Code <= 65) << int(e.Code);
            EXPECT_GE(e.Line, 0);
            EXPECT_GE(e.Column, 0);
            EXPECT_FALSE(GetErrorText(e.Code).empty());
        }
    }
    EXPECT_GT(errors, 0) << "the random texts reach the error paths";
}

// A formula cut off anywhere gives statements or a compile error.
TEST(Tokenizer, TruncatedFormulas) {
    const std::string formula =
        "init:\r\n  complex c = (-0.75, .1e-1)\r\n  z = @start ; seed\r\n$ifdef DEBUG\r\n"
        "  print(\"z=\", z)\r\n$endif\r\nloop:\r\n  z = sqr(z) + c * #pixel, z = fn1(z)\r\n"
        "bailout:\r\n  |z| <= 1e4 && real(z) != 4i\r\ndefault:\r\n  float param size\r\n"
        "    default = 1.5\r\n  endparam\r\n";
    TOwner owner;
    int complete = 0;
    for (std::size_t length = 0; length <= formula.size(); ++length) {
        owner.Tokenizer.Skipping = false;
        owner.Conditions.clear();
        try {
            owner.Run(formula.substr(0, length));
            ++complete;
        } catch (const ECompileError &e) {
            EXPECT_FALSE(GetErrorText(e.Code).empty());
        }
    }
    EXPECT_GT(complete, 0);
    owner.Tokenizer.Skipping = false;
    owner.Conditions.clear();
    EXPECT_NO_THROW(owner.Run(formula));
}

TEST(Tokenizer, LongStatementsAreFreedWithoutRecursion) {
    // A statement of 400,000 tokens: its chain is freed one token at a time.
    std::string text = "a = b";
    text.reserve(400010);
    for (int i = 0; i < 200000; ++i)
        text += "+b";
    TOwner owner;
    std::size_t tokens = 0;
    owner.Tokenizer.OnStatement = TStatementEvent(
        [](void *data, TToken *first) {
            for (const TToken *t = first; t; t = t->Next.get())
                ++*static_cast<std::size_t *>(data);
        },
        &tokens);
    owner.Run(text);
    EXPECT_EQ(tokens, 400004u);
}

TEST(Tokenizer, WordTables) {
    EXPECT_EQ(TTokenizer::FindKeyword("ENDHEADING"), 20);
    EXPECT_EQ(TTokenizer::FindKeyword("endheading"), -1) << "the tables take upper case";
    EXPECT_EQ(TTokenizer::FindFunction("MERGEBLUE"), 67);
    EXPECT_EQ(TTokenizer::FindFunction("SRAND"), 22);
    EXPECT_EQ(TTokenizer::FindFunction("FN1"), -1);
    EXPECT_TRUE(TTokenizer::IsParameterName("P6"));
    EXPECT_FALSE(TTokenizer::IsParameterName("P7"));
    EXPECT_FALSE(TTokenizer::IsParameterName("P10"));
    EXPECT_TRUE(TTokenizer::FindUserFunction("FN4"));
    EXPECT_FALSE(TTokenizer::FindUserFunction("FN0"));
    TTokenizer tokenizer;
    EXPECT_EQ(tokenizer.FindCompatibilitySymbol("WHITESQ"), 9);
    EXPECT_EQ(tokenizer.FindCompatibilitySymbol("Z"), -1) << "Z needs '#'";
    EXPECT_EQ(tokenizer.FindPredefinedSymbol("Z"), 20);
    EXPECT_EQ(tokenizer.FindPredefinedSymbol("RANDOM"), 2);
    EXPECT_EQ(tokenizer.FindPredefinedSymbol("COLOR"), 23);
}

} // namespace
