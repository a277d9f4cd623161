// The compiler's front end as a whole: formula files of every kind go through the compile driver
// (entry file, tokenizer, parser, settings parser, checker) the way a layer selects them, in
// every line-end form, and broken input of any kind ends in messages.
#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompCheckerTestSupport.h"
#include "CompClasses.h"
#include "CompEntries.h"
#include "CompEntriesTestSupport.h"
#include "CompGlobalsTestSupport.h"
#include "CompLexical.h"
#include "CompMessages.h"
#include "CompParams.h"
#include "GenSetup.h"

namespace {

using Kind = TTestFormulaKind;

struct TFixture {
    const char *File;
    Kind FormulaKind;
};

// Formulas written to compile cleanly, one file per kind.
const TFixture CleanFixtures[] = {
    {"CompFrontEnd_formulas.ofm", Kind::Formula},
    {"CompFrontEnd_colorings.ocl", Kind::Coloring},
    {"CompFrontEnd_transforms.oxf", Kind::Transform},
};
// Formulas with faults at known places.
const TFixture MessageFixture = {"CompFrontEnd_messages.ofm", Kind::Formula};

// What one compile left: the error state and every message, as text.
struct TCompileRecord {
    bool HasError = false;
    int ErrorLine = 0, ErrorColumn = 0;
    std::vector<std::string> Messages;
    friend bool operator==(const TCompileRecord &, const TCompileRecord &) = default;
};

std::ostream &operator<<(std::ostream &Stream, const TCompileRecord &Record) {
    Stream << (Record.HasError ? "error at " : "no error ") << Record.ErrorLine << ":" << Record.ErrorColumn;
    for (const std::string &message : Record.Messages)
        Stream << "\n  " << message;
    return Stream;
}

std::string MessageText(const TCompilerMessage &Message) {
    const bool error = Message.Kind == mkError;
    return std::string(error ? "error " : "warning ") +
           std::to_string(error ? Message.ErrorCode : Message.WarningCode) + " at " +
           std::to_string(Message.Line) + ":" + std::to_string(Message.Column) + ": " + Message.Text;
}

// An entry of a scanned file, with the lines its body covers.
struct TScannedEntry {
    std::string Name, Title;
    int StartLine = 0, StartColumn = 0, EndLine = 0;
    friend bool operator==(const TScannedEntry &, const TScannedEntry &) = default;
};

std::ostream &operator<<(std::ostream &Stream, const TScannedEntry &Entry) {
    return Stream << Entry.Name << " (" << Entry.Title << ") " << Entry.StartLine << ":" << Entry.StartColumn
                  << "-" << Entry.EndLine;
}

std::vector<TScannedEntry> ScanEntries(const std::string &Text) {
    std::vector<TScannedEntry> entries;
    auto reader = TEntryReader::CreateFromString(Text, false);
    for (int i = 0; i < reader->GetCount(); ++i) {
        TEntryData *data = reader->GetEntry(i);
        int lines = 0;
        const std::string &body = data->GetText();
        for (std::size_t k = 0; k < body.size(); ++k)
            if (body[k] == '\n' || (body[k] == '\r' && (k + 1 >= body.size() || body[k + 1] != '\n')))
                ++lines;
        entries.push_back(
            {data->Name(), data->Title(), data->StartLine(), data->StartColumn(), data->StartLine() + lines});
    }
    return entries;
}

class FrontEndTest : public testing::Test {
protected:
    void SetUp() override {
        FGlobals.Start(true);
        // Warnings count as messages here: a clean formula must not produce any.
        if (ConfigManager() && ConfigManager()->General) {
            FSavedWarnings = ConfigManager()->General->GenerateWarnings;
            ConfigManager()->General->GenerateWarnings = true;
        }
    }
    void TearDown() override {
        if (ConfigManager() && ConfigManager()->General)
            ConfigManager()->General->GenerateWarnings = FSavedWarnings;
        FGlobals.Finish();
    }

    // Selects entry EntryName of the file for a new object of Kind, whose messages are the ones
    // shown, so that it compiles on its own and its messages are kept.
    std::unique_ptr<TCheckedFormula> Compile(Kind FormulaKind, const std::string &Path,
                                             const std::string &EntryName, TCompileRecord &Record) {
        auto formula = std::make_unique<TCheckedFormula>(FormulaKind);
        ErrorManager()->SetFormula(formula.get());
        formula->SetSource(Path, EntryName);
        Record.HasError = formula->GetHasError();
        Record.ErrorLine = formula->GetErrorLine();
        Record.ErrorColumn = formula->GetErrorColumn();
        Record.Messages.clear();
        for (int i = 0; i < ErrorManager()->GetCount(); ++i)
            Record.Messages.push_back(MessageText(ErrorManager()->GetMessageA(i)));
        return formula;
    }

    // Compiles every entry of a file that may hold anything: each compile ends either cleanly or
    // with one error message (ending in '.') at the recorded position, inside the entry's lines.
    void ExpectMessagesForEveryEntry(Kind FormulaKind, const std::string &Text, const std::string &What) {
        const std::string path = Folder.File("broken" + std::to_string(++FFileCounter) + ".ofm");
        WriteFileBytes(path, Text);
        for (const TScannedEntry &entry : ScanEntries(Text)) {
            TCompileRecord record;
            std::unique_ptr<TCheckedFormula> formula;
            ASSERT_NO_THROW(formula = Compile(FormulaKind, path, entry.Name, record))
                << What << " " << entry.Name;
            EXPECT_FALSE(formula->IsGenerating());
            if (!record.HasError)
                continue;
            int errors = 0;
            for (int i = 0; i < ErrorManager()->GetCount(); ++i) {
                const TCompilerMessage message = ErrorManager()->GetMessageA(i);
                if (message.Kind != mkError)
                    continue;
                ++errors;
                EXPECT_EQ(message.Line, record.ErrorLine) << What << " " << entry.Name;
                EXPECT_EQ(message.Column, record.ErrorColumn) << What << " " << entry.Name;
                EXPECT_TRUE(!message.Text.empty() && message.Text.back() == '.') << message.Text;
            }
            EXPECT_EQ(errors, 1) << What << " " << entry.Name << "\n" << record;
            EXPECT_GE(record.ErrorLine, entry.StartLine) << What << " " << entry.Name << "\n" << record;
            EXPECT_LE(record.ErrorLine, entry.EndLine) << What << " " << entry.Name << "\n" << record;
            EXPECT_GE(record.ErrorColumn, 0) << What << " " << entry.Name;
        }
    }

    TTempFolder Folder;

private:
    TCompilerGlobals FGlobals;
    bool FSavedWarnings = true;
    int FFileCounter = 0;
};

// ---------------------------------------------------------------------------------------------
// Clean formulas

struct TExpectedParam {
    const char *Entry;
    const char *Name;
    std::uint8_t Type;
    const char *Caption;
    // "re/im", a number, or nullptr when the default is an expression the code generation
    // applies.
    const char *Default;
    const char *Min = nullptr; // nullptr: none
    const char *Max = nullptr;
    const char *Hint = "";
    int EnumCount = 0;
};

const TExpectedParam ExpectedParams[] = {
    {"Mandelbrot", "~~0", vtHeading, "Orbit", nullptr},
    {"Mandelbrot", "start", vtComplex, "Starting point", "0/0", nullptr, nullptr, "Where every orbit begins"},
    {"Mandelbrot", "bailout", vtFloat, "Bailout value", "4", "1", "1e10"},
    {"MandelbrotCompact", "start", vtComplex, "Starting point", "0/0"},
    {"MandelbrotCompact", "bailout", vtFloat, "Bailout value", "4", "1", "1e10"},
    {"JuliaFunction", "seed", vtComplex, "Julia seed", "1/-0.4"},
    {"JuliaFunction", "limit", vtFloat, "Bailout", "50", "1"},
    {"JuliaFunction", "fn1", vtFunction, "Function", "0"}, // sin
    {"Newton", "tolerance", vtFloat, "Tolerance", "1e-9", "0", "0.1"},
    {"Newton", "roots", vtInteger, "Roots", nullptr, "2", "8"},
    {"OrbitPalette", "spread", vtFloat, "Spread", "0.5", "0", "10"},
    {"OrbitPalette", "banded", vtBoolean, "Banded", "0"},
    {"OrbitPalette", "inside", vtColor, "Inside colour", nullptr},
    {"OrbitPalette", "outside", vtColor, "Outside colour", nullptr},
    {"Twist", "amount", vtFloat, "Twist amount", "0.5", "-10", "10"},
    {"Twist", "mode", vtInteger, "Mode", "1", nullptr, nullptr, "", 3},
};

// The numbers of a "re/im" or plain number text.
std::vector<long double> Numbers(const char *Text) {
    std::vector<long double> numbers;
    std::string text = Text;
    std::size_t start = 0;
    for (;;) {
        std::size_t slash = text.find('/', start);
        numbers.push_back(std::strtold(text.substr(start, slash - start).c_str(), nullptr));
        if (slash == std::string::npos)
            return numbers;
        start = slash + 1;
    }
}

void ExpectNumbers(const std::vector<long double> &Actual, const char *Expected, const std::string &What) {
    std::vector<long double> expected = Numbers(Expected);
    ASSERT_EQ(Actual.size(), expected.size()) << What;
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(static_cast<double>(Actual[i]), static_cast<double>(expected[i]),
                    std::fabs(static_cast<double>(expected[i])) * 1e-15)
            << What << " part " << i;
}

std::vector<long double> DefaultOf(const TParam &Param) {
    switch (Param.Type) {
    case vtComplex: {
        const auto &p = static_cast<const TComplexParam &>(Param);
        return {p.Default.Re.GetValue(), p.Default.Im.GetValue()};
    }
    case vtFloat:
        return {static_cast<const TFloatParam &>(Param).Default.GetValue()};
    case vtInteger:
        return {static_cast<long double>(static_cast<const TIntParam &>(Param).Default)};
    case vtBoolean:
        return {static_cast<const TBoolParam &>(Param).Default ? 1.0L : 0.0L};
    case vtFunction:
    case vtColorFunction:
        return {static_cast<long double>(static_cast<const TCustomFuncParam &>(Param).Default)};
    default:
        return {};
    }
}

// The minimum (Max false) or maximum of a parameter; empty when it has none.
std::vector<long double> BoundOf(const TParam &Param, bool Max) {
    switch (Param.Type) {
    case vtComplex: {
        const auto &p = static_cast<const TComplexParam &>(Param);
        if (!(Max ? p.HasMax : p.HasMin))
            return {};
        return Max ? std::vector<long double>{p.MaxRe, p.MaxIm} : std::vector<long double>{p.MinRe, p.MinIm};
    }
    case vtFloat: {
        const auto &p = static_cast<const TFloatParam &>(Param);
        if (!(Max ? p.HasMax : p.HasMin))
            return {};
        return {Max ? p.Max : p.Min};
    }
    case vtInteger: {
        const auto &p = static_cast<const TIntParam &>(Param);
        if (!(Max ? p.HasMax : p.HasMin))
            return {};
        return {static_cast<long double>(Max ? p.Max : p.Min)};
    }
    default:
        return {};
    }
}

// The code sections each entry's program holds, in order: the compact form and text without a
// label land in the same sections as labelled text.
const std::pair<const char *, const char *> ExpectedSections[] = {
    {"Mandelbrot", "INIT LOOP BAILOUT"},    {"MandelbrotCompact", "INIT LOOP BAILOUT"},
    {"JuliaFunction", "INIT LOOP BAILOUT"}, {"Newton", "INIT LOOP BAILOUT"},
    {"OrbitPalette", "INIT LOOP FINAL"},    {"Twist", "TRANSFORM"},
};

std::string SectionsOf(const TCheckedFormula &Formula) {
    std::string sections;
    for (TExpressionNode *node = Formula.GetExpressions().GetFirst(); node; node = node->Next) {
        if (node->Expression->Kind != ekLabel)
            continue;
        if (!sections.empty())
            sections += " ";
        sections += UpperCase(static_cast<const TLabelExpression &>(*node->Expression).Name);
    }
    return sections;
}

TEST_F(FrontEndTest, FixturesCompileWithoutMessages) {
    const std::vector<std::vector<std::string>> expectedNames = {
        {"Mandelbrot", "MandelbrotCompact", "JuliaFunction", "Newton"}, {"OrbitPalette"}, {"Twist"}};
    for (std::size_t f = 0; f < std::size(CleanFixtures); ++f) {
        const TFixture &fixture = CleanFixtures[f];
        const std::string path = CompilerDataPath(fixture.File);
        const std::vector<TScannedEntry> entries = ScanEntries(ReadFileBytes(path));
        std::vector<std::string> names;
        for (const TScannedEntry &entry : entries)
            names.push_back(entry.Name);
        EXPECT_EQ(names, expectedNames[f]) << fixture.File;
        for (const TScannedEntry &entry : entries) {
            TCompileRecord record;
            std::unique_ptr<TCheckedFormula> formula = Compile(fixture.FormulaKind, path, entry.Name, record);
            EXPECT_EQ(record, TCompileRecord{}) << fixture.File << " " << entry.Name;
            EXPECT_FALSE(formula->GetHasWarnings()) << entry.Name;
            EXPECT_EQ(formula->GetEntryTitle(), entry.Title) << entry.Name;
            for (const auto &[name, sections] : ExpectedSections) {
                if (entry.Name == name) {
                    EXPECT_EQ(SectionsOf(*formula), sections) << entry.Name;
                }
            }

            // The parameters, in the order their blocks end.
            std::vector<std::string> declared, found;
            for (const TExpectedParam &p : ExpectedParams)
                if (entry.Name == p.Entry)
                    declared.push_back(p.Name);
            for (int i = 0; i < formula->GetParams().GetCount(); ++i)
                found.push_back(formula->GetParams().GetItem(i)->GetName());
            EXPECT_EQ(found, declared) << entry.Name;
        }
    }
}

TEST_F(FrontEndTest, ParametersAreAsDeclared) {
    std::string compiledEntry;
    std::unique_ptr<TCheckedFormula> formula;
    for (const TExpectedParam &expected : ExpectedParams) {
        const std::string what = std::string(expected.Entry) + "." + expected.Name;
        if (compiledEntry != expected.Entry) {
            compiledEntry = expected.Entry;
            for (const TFixture &fixture : CleanFixtures) {
                const std::string path = CompilerDataPath(fixture.File);
                for (const TScannedEntry &entry : ScanEntries(ReadFileBytes(path))) {
                    if (entry.Name != compiledEntry)
                        continue;
                    TCompileRecord record;
                    formula = Compile(fixture.FormulaKind, path, entry.Name, record);
                    ASSERT_FALSE(record.HasError) << what << "\n" << record;
                }
            }
        }
        ASSERT_TRUE(formula) << what;
        TParam *param = nullptr;
        for (int i = 0; i < formula->GetParams().GetCount(); ++i)
            if (formula->GetParams().GetItem(i)->GetName() == expected.Name)
                param = formula->GetParams().GetItem(i);
        ASSERT_NE(param, nullptr) << what;
        EXPECT_EQ(param->Type, expected.Type) << what;
        EXPECT_EQ(param->GetCaption(), expected.Caption) << what;
        EXPECT_EQ(param->Hint, expected.Hint) << what;
        if (expected.Default) {
            ExpectNumbers(DefaultOf(*param), expected.Default, what + " default");
        } else if (expected.Type != vtHeading) {
            // A typed block's default is an expression kept for the code generation.
            bool found = false;
            for (const std::string &statement : formula->Statements())
                found = found || statement.rfind("default " + std::string(expected.Name) + ":", 0) == 0;
            EXPECT_TRUE(found) << what << ": no default setting statement";
        }
        if (expected.Min)
            ExpectNumbers(BoundOf(*param, false), expected.Min, what + " min");
        else
            EXPECT_TRUE(BoundOf(*param, false).empty()) << what;
        if (expected.Max)
            ExpectNumbers(BoundOf(*param, true), expected.Max, what + " max");
        else
            EXPECT_TRUE(BoundOf(*param, true).empty()) << what;
        if (expected.Type == vtInteger) {
            EXPECT_EQ(static_cast<TIntParam *>(param)->Enum.Count(), expected.EnumCount) << what;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Line ends

// Where a message belongs: the first place of Marker in the entry's part of the file.
struct TExpectedMessage {
    const char *Entry;
    bool Error;
    int Code;
    const char *Marker;
};

const TExpectedMessage ExpectedMessages[] = {
    {"Unknown", false, 2, "undeclared"},
    {"Continued", true, 4, "?"},
    {"LateError", true, 35, "5\r\n"}, // at the value of the minimum
    {"StringEnd", true, 6, "\"unterminated"},
};

// Line and column (from 0) of Marker after the header of entry Name in Text.
std::pair<int, int> MarkerPosition(const std::string &Text, const std::string &Name,
                                   const std::string &Marker) {
    std::size_t at = Text.find(Marker, Text.find(Name + " "));
    int line = 0;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < at; ++i)
        if (Text[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    int column = 0;
    for (std::size_t i = lineStart; i < at; ++i)
        column += Text[i] == '\t' ? TEntryStream::TabSize() : 1;
    return {line, column};
}

TEST_F(FrontEndTest, MessagesStandAtTheirPlaces) {
    const std::string path = CompilerDataPath(MessageFixture.File);
    const std::string text = ReadFileBytes(path);
    for (const TExpectedMessage &expected : ExpectedMessages) {
        TCompileRecord record;
        Compile(MessageFixture.FormulaKind, path, expected.Entry, record);
        const auto [line, column] = MarkerPosition(text, expected.Entry, expected.Marker);
        const std::string prefix = std::string(expected.Error ? "error " : "warning ") +
                                   std::to_string(expected.Code) + " at " + std::to_string(line) + ":" +
                                   std::to_string(column) + ":";
        bool found = false;
        for (const std::string &message : record.Messages)
            found = found || message.rfind(prefix, 0) == 0;
        EXPECT_TRUE(found) << expected.Entry << ": expected " << prefix << "\n" << record;
        EXPECT_EQ(record.HasError, expected.Error) << expected.Entry;
        if (expected.Error) {
            EXPECT_EQ(record.ErrorLine, line) << expected.Entry;
            EXPECT_EQ(record.ErrorColumn, column) << expected.Entry;
        }
    }
}

// The program a compile left: every statement with its position and type, and the parameters.
std::vector<std::string> Program(const TCheckedFormula &Formula) {
    std::vector<std::string> lines;
    for (TExpressionNode *node = Formula.GetExpressions().GetFirst(); node; node = node->Next) {
        const TCompilePosition &at = node->Expression->Position;
        lines.push_back(std::to_string(at.Line) + ":" + std::to_string(at.Column) + " " +
                        DumpTyped(node->Expression.get()));
    }
    for (int i = 0; i < Formula.GetParams().GetCount(); ++i) {
        const TParam *param = Formula.GetParams().GetItem(i);
        lines.push_back("param " + param->GetName() + " " + std::to_string(param->Type) + " " +
                        param->GetCaption());
    }
    return lines;
}

// A file compiles alike whatever its line ends: the same entries at the same lines, the same
// program with the same positions, the same messages at the same places.
TEST_F(FrontEndTest, EveryLineEndFormScansAndCompilesAlike) {
    std::vector<TFixture> fixtures(std::begin(CleanFixtures), std::end(CleanFixtures));
    fixtures.push_back(MessageFixture);
    for (const TFixture &fixture : fixtures) {
        const std::string original = ReadFileBytes(CompilerDataPath(fixture.File));
        ASSERT_FALSE(original.empty()) << fixture.File;
        std::vector<TScannedEntry> firstEntries;
        std::vector<TCompileRecord> firstRecords;
        std::vector<std::vector<std::string>> firstPrograms;
        for (std::size_t f = 0; f < std::size(LineEndForms); ++f) {
            const TLineEndForm &form = LineEndForms[f];
            const std::string what = std::string(fixture.File) + " in " + form.Name;
            const std::string text = WithLineEnds(original, form.Break);
            const std::string path = Folder.File("form" + std::to_string(f) + "_" + fixture.File);
            WriteFileBytes(path, text);
            const std::vector<TScannedEntry> entries = ScanEntries(text);
            ASSERT_FALSE(entries.empty()) << what;
            std::vector<TCompileRecord> records;
            std::vector<std::vector<std::string>> programs;
            for (const TScannedEntry &entry : entries) {
                TCompileRecord record;
                std::unique_ptr<TCheckedFormula> formula =
                    Compile(fixture.FormulaKind, path, entry.Name, record);
                records.push_back(record);
                programs.push_back(Program(*formula));
            }
            if (f == 0) {
                firstEntries = entries;
                firstRecords = records;
                firstPrograms = programs;
                continue;
            }
            EXPECT_EQ(entries, firstEntries) << what;
            ASSERT_EQ(records.size(), firstRecords.size()) << what;
            for (std::size_t i = 0; i < records.size(); ++i) {
                EXPECT_EQ(records[i], firstRecords[i]) << what << " " << entries[i].Name;
                EXPECT_EQ(programs[i], firstPrograms[i]) << what << " " << entries[i].Name;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Broken input

// Every fixture entry cut after each of its body's bytes (and closed again) compiles to a
// result or to one message.
TEST_F(FrontEndTest, EveryTruncationGivesMessages) {
    for (const TFixture &fixture : CleanFixtures) {
        const std::string original = ReadFileBytes(CompilerDataPath(fixture.File));
        auto reader = TEntryReader::CreateFromString(original, false);
        for (int e = 0; e < reader->GetCount(); ++e) {
            const std::string body = reader->GetEntry(e)->GetText();
            std::string file;
            for (std::size_t length = 0; length <= body.size(); ++length)
                file += "T" + std::to_string(length) + " {\r\n" + body.substr(0, length) + "\r\n}\r\n";
            ExpectMessagesForEveryEntry(fixture.FormulaKind, file,
                                        std::string(fixture.File) + " " + reader->GetEntry(e)->Name());
        }
    }
}

// Random texts, from bytes of every value and from pieces of the language, under every kind of
// formula.
TEST_F(FrontEndTest, RandomTextsGiveMessages) {
    static const char *const pieces[] = {
        "z",       "#pixel",  "@p",         "fn1(",    "sin(",       "(",        ")",        "[",
        "]",       "|",       ",",          ":",       ";",          "=",        "==",       "+",
        "-",       "*",       "/",          "^",       "&&",         "||",       "!",        "<",
        ">=",      "1",       "2.5",        "1e",      "3i",         "(1, 2)",   "\"s\"",    "\"",
        "if ",     "elseif ", "else",       "endif",   "while ",     "endwhile", "repeat",   "until ",
        "float ",  "int ",    "color ",     "bool ",   "complex ",   "param ",   "endparam", "func ",
        "endfunc", "heading", "endheading", "default", "caption",    "min",      "max",      "enum",
        "init:",   "loop:",   "bailout:",   "final:",  "transform:", "default:", "global:",  "$define ",
        "$ifdef ", "$else",   "$endif",     "\\",      " ",          "\t",       "\r\n",     "\n",
        "\r",      "#z",      "#color",     "#index",  "#solid",     "rgb(",     "blend(",   "true",
        "x",       "a[2]",    "?",          "@",       "#",          "$"};
    std::mt19937 random(20261210);
    const Kind kinds[] = {Kind::Formula, Kind::Coloring, Kind::Transform};
    for (Kind kind : kinds) {
        std::string file;
        for (int n = 0; n < 150; ++n) {
            std::string body;
            const int length = static_cast<int>(random() % 120);
            for (int i = 0; i < length; ++i) {
                if (n % 3 == 0) {
                    // Any byte, except the braces that would end the entry.
                    char c = static_cast<char>(random() % 256);
                    body += c == '{' || c == '}' ? ' ' : c;
                } else {
                    body += pieces[random() % std::size(pieces)];
                }
            }
            file += "R" + std::to_string(n) + " {\r\n" + body + "\r\n}\r\n";
        }
        ExpectMessagesForEveryEntry(kind, file,
                                    "random texts of kind " + std::to_string(static_cast<int>(kind)));
    }
}

// Deeply nested expressions and blocks are refused with a message or compiled, never a crash.
TEST_F(FrontEndTest, DeepNestingGivesMessagesOrCompiles) {
    const int depth = 20000;
    auto repeat = [](const std::string &Piece, int Count) {
        std::string text;
        for (int i = 0; i < Count; ++i)
            text += Piece;
        return text;
    };
    const std::string texts[] = {
        "z = " + repeat("(", depth) + "#pixel" + repeat(")", depth),
        "z = " + repeat("(", depth) + "#pixel",
        "z = " + repeat("-", depth) + "#pixel",
        "z = " + repeat("!", depth) + "true",
        "z = " + repeat("sin(", depth) + "#pixel" + repeat(")", depth),
        "z = " + repeat("|(", depth) + "#pixel" + repeat(")|", depth),
        "z = #pixel" + repeat(" + 1", depth),
        "z = #pixel" + repeat(" ^ 1", depth),
        "z = " + repeat("z = ", depth) + "#pixel",
        "float a[2]\r\nint i = 0\r\nz = a[" + repeat("i + a[", depth) + "0" + repeat("]", depth + 1),
        repeat("if true\r\n", depth) + "z = 1\r\n" + repeat("endif\r\n", depth),
        repeat("while false\r\n", depth) + repeat("endwhile\r\n", depth),
        repeat("$ifdef X\r\n", depth) + repeat("$endif\r\n", depth),
    };
    std::string file;
    for (std::size_t n = 0; n < std::size(texts); ++n)
        file += "D" + std::to_string(n) + " {\r\n" + texts[n] + "\r\n}\r\n";
    ExpectMessagesForEveryEntry(Kind::Formula, file, "deep nesting");
}

} // namespace
