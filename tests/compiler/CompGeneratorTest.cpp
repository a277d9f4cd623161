#include "CompGenerator.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "CompHugeAccess.h"
#include "CompHugeRoutines.h"
#include "CompMessages.h"
#include "HugeFPU.h"
#include "CompRoutines.h"
#include "CompRoutinesTestSupport.h"
#include "CompTokenizer.h"

namespace {

// Generated code only embeds this address; the byte tests never run code that uses it.
const TObject *const FakeFormula = reinterpret_cast<const TObject *>(0x12345678);

using TBytes = std::vector<std::uint8_t>;

class TTestGenerator : public TCodeGenerator {
public:
    void CompileSection(const std::string &Name, const std::uint8_t *Code, std::int32_t Size) override {
        Sections.emplace_back(Name, TBytes(Code, Code + Size));
    }
    void SelectFunctionRoutine(int Function, int ArgumentType, int ResultType, int &Routine) override {
        if (Function == OverrideFunction)
            Routine = OverrideRoutine;
    }
    TBytes Section(const std::string &Name) const {
        for (const auto &section : Sections)
            if (section.first == Name)
                return section.second;
        ADD_FAILURE() << "no section " << Name;
        return {};
    }

    std::vector<std::pair<std::string, TBytes>> Sections;
    int OverrideFunction = -1;
    int OverrideRoutine = 0;
};

// ---------------------------------------------------------------------------------------------
// Building trees by hand

TCompilePosition At(int Line = 0, int Column = 0) {
    return {Line, Column};
}

TExpressionPtr Pred(std::uint8_t Symbol) {
    return std::make_unique<TPredefinedExpression>(At(), Symbol);
}

TExpressionPtr IntC(std::int32_t Value, TCompilePosition Position = At()) {
    return std::make_unique<TConstantExpression>(Position, std::make_unique<TIntConstant>(Value));
}

TExpressionPtr BoolC(bool Value) {
    return std::make_unique<TConstantExpression>(At(), std::make_unique<TBoolConstant>(Value));
}

template <class... TIndex> TExpressionPtr Ref(TStorageNode *Node, TIndex... Indices) {
    auto ref = std::make_unique<TStorageExpression>(At(), Node);
    (ref->Add(std::move(Indices)), ...);
    return ref;
}

TExpressionPtr Bin(int Operator, TExpressionPtr Left, TExpressionPtr Right, std::uint8_t Type) {
    auto e = std::make_unique<TBinaryOperatorExpression>(At(), std::move(Left), std::move(Right),
                                                         static_cast<std::uint8_t>(Operator));
    e->SetReturnType(Type);
    return e;
}

TExpressionPtr Assign(TExpressionPtr Target, TExpressionPtr Value) {
    const std::uint8_t type = Value->GetReturnType();
    return Bin(opAssign, std::move(Target), std::move(Value), type);
}

TExpressionPtr Un(int Operator, TExpressionPtr Operand, std::uint8_t Type) {
    auto e = std::make_unique<TUnaryOperatorExpression>(At(), std::move(Operand),
                                                        static_cast<std::uint8_t>(Operator));
    e->SetReturnType(Type);
    return e;
}

template <class... TArgument> TExpressionPtr Call(int Function, std::uint8_t Type, TArgument... Arguments) {
    auto e = std::make_unique<TFunctionExpression>(At(), static_cast<std::uint8_t>(Function));
    (e->Add(std::move(Arguments)), ...);
    e->SetReturnType(Type);
    return e;
}

TExpressionPtr Kw(std::uint8_t Keyword, TExpressionPtr Condition = nullptr) {
    return std::make_unique<TKeywordExpression>(At(), std::move(Condition), Keyword);
}

TExpressionPtr Label(const std::string &Name) {
    return std::make_unique<TLabelExpression>(At(), 0, Name);
}

TExpressionPtr Directive(const std::string &Name, std::uint8_t Id = diDefine) {
    return std::make_unique<TDirectiveExpression>(At(), Name, Id);
}

TExpressionPtr Str(const std::string &Text, std::int32_t Index) {
    auto e = std::make_unique<TStringExpression>(At(), Text);
    e->StringIndex = Index;
    return e;
}

TVariableNode *AddVariable(TStorageList &Storage, const std::string &Name, std::uint8_t Type,
                           std::initializer_list<std::uint32_t> Dimensions = {}) {
    auto node = std::make_unique<TVariableNode>(Name, Type);
    node->SetDimensionCount(static_cast<std::int32_t>(Dimensions.size()));
    std::int32_t k = 0;
    for (std::uint32_t size : Dimensions)
        node->SetDimension(k++, size);
    return Storage.AddNode(std::move(node));
}

// The variables of the encoding table, in this order (offsets in the data file's header).
struct TTestStorage {
    explicit TTestStorage(std::uint8_t Precision) {
        Storage.Precision = Precision;
        A = AddVariable(Storage, "a", vtFloat);
        B = AddVariable(Storage, "b", vtFloat);
        I = AddVariable(Storage, "i", vtInteger);
        J = AddVariable(Storage, "j", vtInteger);
        X = AddVariable(Storage, "x", vtFloat, {10});
        Flag = AddVariable(Storage, "flag", vtBoolean);
        W = AddVariable(Storage, "w", vtComplex);
        N = AddVariable(Storage, "n", vtInteger, {3, 4});
        Col = AddVariable(Storage, "col", vtColor);
        Y = AddVariable(Storage, "y", vtFloat, {10});
    }
    TStorageList Storage;
    TVariableNode *A, *B, *I, *J, *X, *Flag, *W, *N, *Col, *Y;
};

// Replaces each "R<n>" of an expected sequence by routine n's template.
TBytes ExpandExpected(const std::string &Text) {
    TBytes bytes;
    std::istringstream words(Text);
    std::string word;
    while (words >> word) {
        if (word[0] == 'R') {
            const int routine = std::stoi(word.substr(1));
            const std::uint8_t *code = RoutineAddress(routine);
            EXPECT_NE(code, nullptr) << word;
            if (code)
                bytes.insert(bytes.end(), code, code + RoutineLength(routine));
        } else {
            bytes.push_back(static_cast<std::uint8_t>(std::stoul(word, nullptr, 16)));
        }
    }
    return bytes;
}

std::string Hex(const TBytes &Bytes) {
    std::string text;
    char buffer[4];
    for (std::uint8_t b : Bytes) {
        std::snprintf(buffer, sizeof buffer, "%02X ", b);
        text += buffer;
    }
    return text;
}

class CompGenerator : public testing::Test {
protected:
    static void SetUpTestSuite() { InitializeCompRoutines(); }
};

// ---------------------------------------------------------------------------------------------
// The LOOP statement z = sqr(z) + pixel in double precision, byte for byte

TEST_F(CompGenerator, LoopStatementOfTheMandelbrotFormulaInDouble) {
    TStorageList storage;
    TExpressionList program;
    program.Add(Label("loop"));
    program.Add(Assign(Pred(psZ), Bin(opAdd, Call(fnSqr, vtComplex, Pred(psZ)), Pred(psPixel), vtComplex)));
    TTestGenerator generator;
    generator.GenerateSections(program, storage, pmDouble, FakeFormula);

    const TBytes expected = {
        0xDD, 0x86, 0xD8, 0x00, 0x00, 0x00, 0xDD, 0x86, 0xD0, 0x00, 0x00, 0x00, // pixel
        0xDD, 0x86, 0xB8, 0x00, 0x00, 0x00, 0xDD, 0x86, 0xB0, 0x00, 0x00, 0x00, // z
        0xD9, 0xC0, 0xD8, 0xC8, 0xD9, 0xC2, 0xD8, 0xC8, 0xD9, 0xCA, 0xD8, 0xC0,
        0xD9, 0xC9, 0xDE, 0xE2, 0xDE, 0xCA,                                     // sqr
        0xDE, 0xC2, 0xDE, 0xC2,                                                 // +
        0xDD, 0x9E, 0xB0, 0x00, 0x00, 0x00, 0xDD, 0x9E, 0xB8, 0x00, 0x00, 0x00, // z :=
    };
    ASSERT_EQ(generator.Sections.size(), 1u);
    EXPECT_EQ(generator.Sections[0].first, "LOOP");
    EXPECT_EQ(Hex(generator.Sections[0].second), Hex(expected));
    const auto &sum = static_cast<TBinaryOperatorExpression &>(
        *static_cast<TBinaryOperatorExpression &>(*program.GetLast()->Expression).Right);
    EXPECT_EQ(sum.Order, 1) << "sqr(z) needs 4 registers, 6 with pixel held below it";
    EXPECT_EQ(storage.GetCount(), 0) << "no temporary was needed";
}

// ---------------------------------------------------------------------------------------------
// Statements against sequences assembled by the GNU assembler

using TBuilder = std::function<void(TTestStorage &, TExpressionList &)>;

struct TEncodingCase {
    const char *Name;
    std::uint8_t Precision;
    TBuilder Build;
};

const TEncodingCase EncodingCases[] = {
    {"Double.WorkedExample", pmDouble,
     [](TTestStorage &, TExpressionList &P) {
         P.Add(Assign(Pred(psZ), Bin(opAdd, Call(fnSqr, vtComplex, Pred(psZ)), Pred(psPixel), vtComplex)));
     }},
    {"Extended.WorkedExample", pmExtended,
     [](TTestStorage &, TExpressionList &P) {
         P.Add(Assign(Pred(psZ), Bin(opAdd, Call(fnSqr, vtComplex, Pred(psZ)), Pred(psPixel), vtComplex)));
     }},
    {"Double.CopyPixelToZ", pmDouble,
     [](TTestStorage &, TExpressionList &P) { P.Add(Assign(Pred(psZ), Pred(psPixel))); }},
    {"Extended.CopyPixelToZ", pmExtended,
     [](TTestStorage &, TExpressionList &P) { P.Add(Assign(Pred(psZ), Pred(psPixel))); }},
    {"Double.CopyColor", pmDouble,
     [](TTestStorage &S, TExpressionList &P) { P.Add(Assign(Ref(S.Col), Pred(psColor))); }},
    {"Double.FloatAdd", pmDouble,
     [](TTestStorage &S, TExpressionList &P) {
         P.Add(Assign(Ref(S.A), Bin(opAdd, Ref(S.A), Ref(S.B), vtFloat)));
     }},
    {"Double.DiscardedSum", pmDouble,
     [](TTestStorage &S, TExpressionList &P) { P.Add(Bin(opAdd, Ref(S.A), Ref(S.B), vtFloat)); }},
    {"Double.KeptAssignment", pmDouble,
     [](TTestStorage &S, TExpressionList &P) {
         P.Add(Assign(Ref(S.A), Assign(Ref(S.B), Bin(opAdd, Ref(S.A), Ref(S.B), vtFloat))));
     }},
    {"Extended.KeptAssignment", pmExtended,
     [](TTestStorage &S, TExpressionList &P) {
         P.Add(Assign(Ref(S.A), Assign(Ref(S.B), Bin(opAdd, Ref(S.A), Ref(S.B), vtFloat))));
     }},
    {"Double.ComputedIndex", pmDouble,
     [](TTestStorage &S, TExpressionList &P) { P.Add(Assign(Ref(S.A), Ref(S.X, Ref(S.I)))); }},
    {"Double.ClampedIndex", pmDouble,
     [](TTestStorage &S, TExpressionList &P) { P.Add(Assign(Ref(S.A), Ref(S.X, IntC(10, At(3, 7))))); }},
    {"Double.ClampedIndexDebug", pmDouble,
     [](TTestStorage &S, TExpressionList &P) {
         P.Add(Directive("DEBUG"));
         P.Add(Assign(Ref(S.A), Ref(S.X, IntC(10, At(3, 7)))));
     }},
    {"Double.TwoComputedIndices", pmDouble,
     [](TTestStorage &S, TExpressionList &P) { P.Add(Assign(Ref(S.J), Ref(S.N, Ref(S.I), Ref(S.J)))); }},
    {"Double.StoreIntComputedIndex", pmDouble,
     [](TTestStorage &S, TExpressionList &P) { P.Add(Assign(Ref(S.N, Ref(S.I), IntC(2)), Ref(S.J))); }},
    {"Double.IfElse", pmDouble,
     [](TTestStorage &S, TExpressionList &P) {
         P.Add(Kw(kwIf, Ref(S.Flag)));
         P.Add(Assign(Ref(S.I), IntC(1)));
         P.Add(Kw(kwElse));
         P.Add(Assign(Ref(S.I), IntC(2)));
         P.Add(Kw(kwEndIf));
     }},
    {"Double.IfElseIfElse", pmDouble,
     [](TTestStorage &S, TExpressionList &P) {
         P.Add(Kw(kwIf, Ref(S.Flag)));
         P.Add(Assign(Ref(S.I), IntC(1)));
         P.Add(Kw(kwElseIf, Ref(S.Flag)));
         P.Add(Assign(Ref(S.I), IntC(2)));
         P.Add(Kw(kwElse));
         P.Add(Assign(Ref(S.I), IntC(3)));
         P.Add(Kw(kwEndIf));
     }},
    {"Double.IfWithoutElse", pmDouble,
     [](TTestStorage &S, TExpressionList &P) {
         P.Add(Kw(kwIf, Ref(S.Flag)));
         P.Add(Assign(Ref(S.I), IntC(1)));
         P.Add(Kw(kwEndIf));
     }},
    {"Double.While", pmDouble,
     [](TTestStorage &S, TExpressionList &P) {
         P.Add(Kw(kwWhile, Ref(S.Flag)));
         P.Add(Assign(Ref(S.I), IntC(1)));
         P.Add(Kw(kwEndWhile));
     }},
    {"Double.RepeatUntil", pmDouble,
     [](TTestStorage &S, TExpressionList &P) {
         P.Add(Kw(kwRepeat));
         P.Add(Assign(Ref(S.I), IntC(1)));
         P.Add(Kw(kwUntil, Ref(S.Flag)));
     }},
    {"Double.PrintDebug", pmDouble,
     [](TTestStorage &S, TExpressionList &P) {
         P.Add(Directive("Debug"));
         TExpressionPtr print = Call(fnPrint, vtNone, Str("a = ", 3), Ref(S.A));
         print->Position = At(5, 2);
         P.Add(std::move(print));
     }},
    {"Double.RealOfComplex", pmDouble,
     [](TTestStorage &S, TExpressionList &P) { P.Add(Assign(Ref(S.A), Call(fnReal, vtFloat, Ref(S.W)))); }},
    {"Double.ImagOfComplex", pmDouble,
     [](TTestStorage &S, TExpressionList &P) { P.Add(Assign(Ref(S.A), Call(fnImag, vtFloat, Ref(S.W)))); }},
    {"Double.FlipOfComplex", pmDouble,
     [](TTestStorage &S, TExpressionList &P) { P.Add(Assign(Ref(S.W), Call(fnFlip, vtComplex, Ref(S.W)))); }},
    {"Double.ArrayCopy", pmDouble,
     [](TTestStorage &S, TExpressionList &P) { P.Add(Assign(Ref(S.X), Ref(S.Y))); }},
    {"Double.Modulus", pmDouble,
     [](TTestStorage &S, TExpressionList &P) { P.Add(Assign(Ref(S.A), Un(uoModulus, Ref(S.W), vtFloat))); }},
    {"Double.IntCompare", pmDouble,
     [](TTestStorage &S, TExpressionList &P) {
         P.Add(Assign(Ref(S.Flag), Bin(opLess, Ref(S.I), Ref(S.J), vtBoolean)));
     }},
};

std::map<std::string, std::string> ReadEncodings() {
    std::map<std::string, std::string> table;
    std::ifstream file(std::string(TEST_DATA_DIR) + "compiler\\data\\CompGenerator_encodings.txt");
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const size_t bar = line.find(" | ");
        if (bar != std::string::npos)
            table[line.substr(0, bar)] = line.substr(bar + 3);
    }
    return table;
}

TEST_F(CompGenerator, StatementsEncodeAsTheAssembledInstructions) {
    const std::map<std::string, std::string> table = ReadEncodings();
    ASSERT_FALSE(table.empty()) << "the encoding table was not found";
    for (const TEncodingCase &c : EncodingCases) {
        SCOPED_TRACE(c.Name);
        const auto expected = table.find(c.Name);
        ASSERT_NE(expected, table.end());
        TTestStorage storage(c.Precision);
        TExpressionList program;
        program.Add(Label("loop"));
        c.Build(storage, program);
        TTestGenerator generator;
        generator.GenerateSections(program, storage.Storage, c.Precision, FakeFormula);
        ASSERT_EQ(generator.Sections.size(), 1u);
        EXPECT_EQ(Hex(generator.Section("LOOP")), Hex(ExpandExpected(expected->second)));
    }
}

// ---------------------------------------------------------------------------------------------
// Planning

// A chain ((f0 - f1) - f2) ... of Count float variables: it needs Count registers.
TExpressionPtr Chain(const std::vector<TVariableNode *> &Terms, int Count, int First = 0) {
    TExpressionPtr e = Ref(Terms[static_cast<size_t>(First % Terms.size())]);
    for (int k = 1; k < Count; ++k)
        e = Bin(opSubtract, std::move(e), Ref(Terms[static_cast<size_t>((First + k) % Terms.size())]),
                vtFloat);
    return e;
}

struct TFloatTerms {
    explicit TFloatTerms(TStorageList &Storage) {
        for (int k = 0; k < 8; ++k)
            Terms.push_back(AddVariable(Storage, "f" + std::to_string(k), vtFloat));
    }
    std::vector<TVariableNode *> Terms;
};

TEST_F(CompGenerator, PlannerPicksTheOrderThatFitsTheRegisterStack) {
    struct TCase {
        const char *Name;
        std::function<TExpressionPtr(TFloatTerms &, TTestStorage &)> Build;
        int Order;
        int Need;
        int Temporaries;
    };
    const TCase cases[] = {
        {"two float variables: right operand first",
         [](TFloatTerms &F, TTestStorage &) { return Chain(F.Terms, 2); }, 1, 2, 0},
        {"chain of eight floats", [](TFloatTerms &F, TTestStorage &) { return Chain(F.Terms, 8); }, 1, 8, 0},
        {"left needs all eight, complex right: left first",
         [](TFloatTerms &F, TTestStorage &S) {
             return Bin(opSubtract, Chain(F.Terms, 8), Ref(S.W), vtComplex);
         },
         2, 8, 0},
        {"both sides need eight: left parked",
         [](TFloatTerms &F, TTestStorage &) {
             return Bin(opSubtract, Chain(F.Terms, 8), Chain(F.Terms, 8, 3), vtFloat);
         },
         3, 8, 1},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TTestStorage storage(pmDouble);
        TFloatTerms terms(storage.Storage);
        const int before = storage.Storage.GetCount();
        TExpressionPtr e = c.Build(terms, storage);
        TTestGenerator generator;
        generator.BeginGeneration(storage.Storage, pmDouble, FakeFormula);
        EXPECT_EQ(generator.Plan(*e), c.Need);
        EXPECT_EQ(static_cast<TBinaryOperatorExpression &>(*e).Order, c.Order);
        EXPECT_EQ(storage.Storage.GetCount() - before, c.Temporaries);
        if (c.Temporaries) {
            const TTempVariableNode *temp = storage.Storage.FindTemporary(0);
            ASSERT_NE(temp, nullptr);
            EXPECT_EQ(temp->DataType, vtFloat) << "the temporary has the left operand's type";
            EXPECT_EQ(generator.NextTempId, 1);
        }
    }
}

TEST_F(CompGenerator, CallWithFourDeepArgumentsParksTheFirstThree) {
    TTestStorage storage(pmDouble);
    TFloatTerms terms(storage.Storage);
    const int before = storage.Storage.GetCount();
    TExpressionPtr call = Call(fnRgba, vtColor, Chain(terms.Terms, 6, 0), Chain(terms.Terms, 6, 1),
                               Chain(terms.Terms, 6, 2), Chain(terms.Terms, 6, 3));
    TTestGenerator generator;
    generator.BeginGeneration(storage.Storage, pmDouble, FakeFormula);
    generator.Plan(*call);
    const auto &function = static_cast<TFunctionExpression &>(*call);
    EXPECT_EQ(function.ArgumentMode, 2);
    EXPECT_EQ(function.FirstTempId, 0u);
    EXPECT_EQ(generator.NextTempId, 3);
    EXPECT_EQ(storage.Storage.GetCount() - before, 3);
    for (std::uint32_t id = 0; id < 3; ++id)
        EXPECT_NE(storage.Storage.FindTemporary(id), nullptr) << id;

    // Three deep arguments fit: 6 + 1 + 1 registers at the peak.
    TExpressionPtr rgb =
        Call(fnRgb, vtColor, Chain(terms.Terms, 6, 0), Chain(terms.Terms, 6, 1), Chain(terms.Terms, 6, 2));
    generator.Plan(*rgb);
    EXPECT_EQ(static_cast<TFunctionExpression &>(*rgb).ArgumentMode, 1);
}

// ---------------------------------------------------------------------------------------------
// Running generated code

// A zeroed pixel context and a data block laid out by the storage list.
struct TMachine {
    explicit TMachine(TStorageList &AStorage) : Storage(AStorage) {
        std::memset(Context, 0, sizeof Context);
        Data.assign(static_cast<size_t>(std::max(Storage.DataSize, 1)) + 16, 0);
        Storage.InitData(Block());
    }
    ~TMachine() { Storage.DoneData(Block()); }
    std::uint8_t *Block() {
        // 16-byte aligned, as extended values expect.
        auto address = reinterpret_cast<std::uintptr_t>(Data.data());
        return Data.data() + ((16 - address % 16) % 16);
    }
    template <class T> T &At(std::int32_t Offset) { return *reinterpret_cast<T *>(Block() + Offset); }
    template <class T> T &ContextAt(std::int32_t Offset) { return *reinterpret_cast<T *>(Context + Offset); }
    TCodeRun Run(const TBytes &Code) {
        TCodeRun run;
        run.Context = Context;
        run.Data = Block();
        run.StackUse = 8;
        RunCode(Code.data(), static_cast<int>(Code.size()), run);
        return run;
    }

    TStorageList &Storage;
    alignas(16) std::uint8_t Context[1024];
    TBytes Data;
};

// Where the pixel context keeps PIXEL.
std::int32_t PixelOffset(std::uint8_t Precision) {
    return Precision == pmDouble ? 208 : 256;
}

void ExpectCleanRun(const TCodeRun &Run) {
    EXPECT_FALSE(Run.StackFault) << "the x87 stack overflowed or underflowed";
    EXPECT_TRUE(Run.FpuEmpty) << "a statement left values on the x87 stack";
    EXPECT_TRUE(Run.RegistersKept);
    EXPECT_EQ(Run.EspChange, 0);
}

TEST_F(CompGenerator, EveryOperandOrderComputesTheSameValues) {
    // Subtraction is sensitive to the order of its operands, so a reversed routine picked for
    // the wrong order shows in the value.
    const double values[8] = {100.5, 3.25, -7.0, 0.125, 12.0, -1.5, 6.75, 2.0};
    struct TCase {
        const char *Name;
        std::function<TExpressionPtr(TFloatTerms &)> Build;
        std::function<double(const double *)> Expected;
    };
    auto chain = [](const double *v, int Count, int First) {
        long double r = v[First % 8];
        for (int k = 1; k < Count; ++k)
            r -= v[(First + k) % 8];
        return r;
    };
    const TCase cases[] = {
        {"order 1", [](TFloatTerms &F) { return Chain(F.Terms, 8); },
         [&](const double *v) { return static_cast<double>(chain(v, 8, 0)); }},
        {"order 2",
         [](TFloatTerms &F) { return Bin(opSubtract, Chain(F.Terms, 8), Ref(F.Terms[5]), vtFloat); },
         [&](const double *v) { return static_cast<double>(chain(v, 8, 0) - v[5]); }},
        {"order 3",
         [](TFloatTerms &F) { return Bin(opSubtract, Chain(F.Terms, 8), Chain(F.Terms, 8, 3), vtFloat); },
         [&](const double *v) { return static_cast<double>(chain(v, 8, 0) - chain(v, 8, 3)); }},
        {"order 3 nested on the right",
         [](TFloatTerms &F) {
             return Bin(opSubtract, Chain(F.Terms, 8, 1),
                        Bin(opSubtract, Chain(F.Terms, 8), Chain(F.Terms, 8, 3), vtFloat), vtFloat);
         },
         [&](const double *v) {
             return static_cast<double>(chain(v, 8, 1) - (chain(v, 8, 0) - chain(v, 8, 3)));
         }},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TStorageList storage;
        TFloatTerms terms(storage);
        TVariableNode *result = AddVariable(storage, "result", vtFloat);
        TExpressionList program;
        program.Add(Label("loop"));
        program.Add(Assign(Ref(result), c.Build(terms)));
        TTestGenerator generator;
        generator.GenerateSections(program, storage, pmDouble, FakeFormula);
        TMachine machine(storage);
        for (int k = 0; k < 8; ++k)
            machine.At<double>(terms.Terms[static_cast<size_t>(k)]->Offset) = values[k];
        const TCodeRun run = machine.Run(generator.Section("LOOP"));
        ExpectCleanRun(run);
        EXPECT_EQ(machine.At<double>(result->Offset), c.Expected(values));
    }
}

TEST_F(CompGenerator, ParkedArgumentsReachTheirPlaces) {
    const double values[8] = {4.0, 0.5, 0.25, 1.0, 2.0, 0.125, 0.0625, 1.5};
    TStorageList storage;
    TFloatTerms terms(storage);
    TVariableNode *color = AddVariable(storage, "color", vtColor);
    TExpressionList program;
    program.Add(Label("final"));
    // Each argument is a chain of six subtractions; different starting terms give different
    // values, so swapped arguments show.
    auto argument = [&](int First) {
        return Bin(opSubtract, Ref(terms.Terms[0]), Chain(terms.Terms, 6, First), vtFloat);
    };
    program.Add(
        Assign(Ref(color), Call(fnRgba, vtColor, argument(1), argument(2), argument(3), argument(4))));
    TTestGenerator generator;
    generator.GenerateSections(program, storage, pmDouble, FakeFormula);
    TMachine machine(storage);
    for (int k = 0; k < 8; ++k)
        machine.At<double>(terms.Terms[static_cast<size_t>(k)]->Offset) = values[k];
    ExpectCleanRun(machine.Run(generator.Section("FINAL")));
    for (int channel = 0; channel < 4; ++channel) {
        long double chainValue = values[(1 + channel) % 8];
        for (int k = 1; k < 6; ++k)
            chainValue -= values[(1 + channel + k) % 8];
        const float expected = static_cast<float>(values[0] - chainValue);
        EXPECT_EQ(machine.At<float>(color->Offset + 4 * channel), expected) << "channel " << channel;
    }
}

TEST_F(CompGenerator, ArrayElementsAreClampedToTheArray) {
    // x[i] = v for i in a table, with x a 2 x 3 int array and a float array; indices outside
    // land on the last element of their dimension.
    struct TCase {
        std::int32_t Row, Column;
        int ExpectedRow, ExpectedColumn;
    };
    const TCase cases[] = {{0, 0, 0, 0},  {1, 2, 1, 2},  {1, 3, 1, 2},
                           {-1, 1, 1, 1}, {5, -7, 1, 2}, {0, 1, 0, 1}};
    for (std::uint8_t precision : {pmDouble, pmExtended}) {
        for (const TCase &c : cases) {
            SCOPED_TRACE(testing::Message()
                         << "precision " << int(precision) << " [" << c.Row << "][" << c.Column << "]");
            TStorageList storage;
            storage.Precision = precision;
            TVariableNode *row = AddVariable(storage, "row", vtInteger);
            TVariableNode *column = AddVariable(storage, "column", vtInteger);
            TVariableNode *ints = AddVariable(storage, "ints", vtInteger, {2, 3});
            TVariableNode *floats = AddVariable(storage, "floats", vtComplex, {2, 3});
            TVariableNode *back = AddVariable(storage, "back", vtComplex);
            TExpressionList program;
            program.Add(Label("loop"));
            program.Add(Assign(Ref(ints, Ref(row), Ref(column)), IntC(77)));
            program.Add(Assign(Ref(floats, Ref(row), Ref(column)), Pred(psPixel)));
            // Constant indices are clamped while the code is generated.
            program.Add(Assign(Ref(back), Ref(floats, IntC(c.Row), IntC(c.Column))));
            TTestGenerator generator;
            generator.GenerateSections(program, storage, precision, FakeFormula);
            TMachine machine(storage);
            machine.At<std::int32_t>(row->Offset) = c.Row;
            machine.At<std::int32_t>(column->Offset) = c.Column;
            const std::int32_t real = StorageElementSize(vtFloat, precision);
            const std::int32_t pixel = PixelOffset(precision);
            if (precision == pmDouble) {
                machine.ContextAt<double>(pixel) = 1.5;
                machine.ContextAt<double>(pixel + real) = -2.5;
            } else {
                machine.ContextAt<long double>(pixel) = 1.5L;
                machine.ContextAt<long double>(pixel + real) = -2.5L;
            }
            ExpectCleanRun(machine.Run(generator.Section("LOOP")));
            const int element = c.ExpectedRow * 3 + c.ExpectedColumn;
            for (int k = 0; k < 6; ++k) {
                EXPECT_EQ(machine.At<std::int32_t>(ints->Offset + 4 * k), k == element ? 77 : 0) << k;
                const std::int32_t at = floats->Offset + k * 2 * real;
                const long double re =
                    precision == pmDouble ? machine.At<double>(at) : machine.At<long double>(at);
                EXPECT_EQ(re, k == element ? 1.5L : 0.0L) << k;
            }
            const long double backRe = precision == pmDouble ? machine.At<double>(back->Offset)
                                                             : machine.At<long double>(back->Offset);
            const long double backIm = precision == pmDouble ? machine.At<double>(back->Offset + real)
                                                             : machine.At<long double>(back->Offset + real);
            EXPECT_EQ(backRe, 1.5L) << "the constant indices read the element the computed ones wrote";
            EXPECT_EQ(backIm, -2.5L);
        }
    }
}

TEST_F(CompGenerator, EndlessLoopEndsWhenTheCalculationIsStopped) {
    for (bool repeat : {false, true}) {
        SCOPED_TRACE(repeat ? "REPEAT UNTIL false" : "WHILE true");
        TStorageList storage;
        TVariableNode *count = AddVariable(storage, "count", vtInteger);
        TExpressionList program;
        program.Add(Label("loop"));
        program.Add(Kw(repeat ? kwRepeat : kwWhile, repeat ? nullptr : BoolC(true)));
        program.Add(Assign(Ref(count), Bin(opAdd, Ref(count), IntC(1), vtInteger)));
        program.Add(Kw(repeat ? kwUntil : kwEndWhile, repeat ? BoolC(false) : nullptr));
        program.Add(Assign(Ref(count), Bin(opAdd, Ref(count), IntC(100), vtInteger)));
        TTestGenerator generator;
        generator.GenerateSections(program, storage, pmDouble, FakeFormula);
        TMachine machine(storage);
        machine.ContextAt<std::uint8_t>(GeneratorStopFlagOffset) = 1;
        ExpectCleanRun(machine.Run(generator.Section("LOOP")));
        EXPECT_EQ(machine.At<std::int32_t>(count->Offset), 101)
            << "one pass, then the statement after the loop";
    }
}

TEST_F(CompGenerator, BranchesTakeTheirPaths) {
    // if a < b: r = 1 elseif a == b: r = 2 else r = 3 endif, and a while loop counting to 5.
    struct TCase {
        double A, B;
        int R;
    };
    const TCase cases[] = {{1, 2, 1}, {2, 2, 2}, {3, 2, 3}};
    TStorageList storage;
    TVariableNode *a = AddVariable(storage, "a", vtFloat);
    TVariableNode *b = AddVariable(storage, "b", vtFloat);
    TVariableNode *r = AddVariable(storage, "r", vtInteger);
    TVariableNode *n = AddVariable(storage, "n", vtInteger);
    TExpressionList program;
    program.Add(Label("loop"));
    program.Add(Kw(kwIf, Bin(opLess, Ref(a), Ref(b), vtBoolean)));
    program.Add(Assign(Ref(r), IntC(1)));
    program.Add(Kw(kwElseIf, Bin(opEqual, Ref(a), Ref(b), vtBoolean)));
    program.Add(Assign(Ref(r), IntC(2)));
    program.Add(Kw(kwElse));
    program.Add(Assign(Ref(r), IntC(3)));
    program.Add(Kw(kwEndIf));
    program.Add(Kw(kwWhile, Bin(opLess, Ref(n), IntC(5), vtBoolean)));
    program.Add(Assign(Ref(n), Bin(opAdd, Ref(n), IntC(1), vtInteger)));
    program.Add(Kw(kwEndWhile));
    TTestGenerator generator;
    generator.GenerateSections(program, storage, pmDouble, FakeFormula);
    for (const TCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.A << " vs " << c.B);
        TMachine machine(storage);
        machine.At<double>(a->Offset) = c.A;
        machine.At<double>(b->Offset) = c.B;
        ExpectCleanRun(machine.Run(generator.Section("LOOP")));
        EXPECT_EQ(machine.At<std::int32_t>(r->Offset), c.R);
        EXPECT_EQ(machine.At<std::int32_t>(n->Offset), 5);
    }
}

// ---------------------------------------------------------------------------------------------
// Mandelbrot and Julia sets against a reference computed here in C

struct TFractalCode {
    TBytes Init, Loop, Bailout;
};

// z = start; loop: z = z*z + c (or sqr(z) + c); bailout: |z| > 4. For the Mandelbrot set
// start is 0 and c the pixel, for a Julia set start is the pixel and c a constant.
TFractalCode GenerateFractal(TStorageList &Storage, std::uint8_t Precision, bool Julia, bool Square,
                             long double CRe, long double CIm) {
    Storage.Precision = Precision;
    const int digits = Storage.Digits;
    auto complexConstant = [&](long double Re, long double Im) -> std::unique_ptr<TConstant> {
        if (Precision == pmDouble)
            return std::make_unique<TDoubleComplexConstant>(static_cast<double>(Re), static_cast<double>(Im));
        if (Precision == pmExtended)
            return std::make_unique<TExtendedComplexConstant>(Re, Im);
        THugeComplex value(digits);
        value.Re.SetExtended(Re);
        value.Im.SetExtended(Im);
        return std::make_unique<THugeComplexConstant>(digits, value);
    };
    std::unique_ptr<TConstant> four;
    if (Precision == pmDouble) {
        four = std::make_unique<TDoubleFloatConstant>(4.0);
    } else if (Precision == pmExtended) {
        four = std::make_unique<TExtendedFloatConstant>(4.0L);
    } else {
        THugeFloat value(digits);
        value.SetExtended(4.0L);
        four = std::make_unique<THugeFloatConstant>(digits, value);
    }
    TStorageNode *zero = Storage.Add(std::make_unique<TConstantNode>(complexConstant(0, 0)));
    TStorageNode *c = Storage.Add(std::make_unique<TConstantNode>(complexConstant(CRe, CIm)));
    TStorageNode *limit = Storage.Add(std::make_unique<TConstantNode>(std::move(four)));

    TExpressionList program;
    program.Add(Label("init"));
    program.Add(Assign(Pred(psZ), Julia ? Pred(psPixel) : Ref(zero)));
    program.Add(Label("loop"));
    TExpressionPtr square =
        Square ? Call(fnSqr, vtComplex, Pred(psZ)) : Bin(opMultiply, Pred(psZ), Pred(psZ), vtComplex);
    program.Add(Assign(Pred(psZ), Bin(opAdd, std::move(square), Julia ? Ref(c) : Pred(psPixel), vtComplex)));
    program.Add(Label("bailout"));
    program.Add(Bin(opGreater, Un(uoModulus, Pred(psZ), vtFloat), Ref(limit), vtBoolean));
    TTestGenerator generator;
    generator.GenerateSections(program, Storage, Precision, FakeFormula);
    return {generator.Section("INIT"), generator.Section("LOOP"), generator.Section("BAILOUT")};
}

// The iteration frame around the sections: init; n = 0; repeat loop; n + 1; until bailout or
// n = MaxIter; the count ends in eax.
// With a Processor, ebp holds it while the sections run (arbitrary precision).
TBytes IterationFrame(const TFractalCode &Code, std::uint32_t MaxIter, const void *Processor = nullptr) {
    TBytes frame = {0x53}; // push ebx
    if (Processor) {
        const auto address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(Processor));
        frame.insert(frame.end(), {0x55, 0xBD}); // push ebp; mov ebp, Processor
        for (int k = 0; k < 4; ++k)
            frame.push_back(static_cast<std::uint8_t>(address >> (8 * k)));
    }
    frame.insert(frame.end(), Code.Init.begin(), Code.Init.end());
    frame.insert(frame.end(), {0x31, 0xDB}); // xor ebx, ebx
    const auto top = static_cast<std::int32_t>(frame.size());
    frame.insert(frame.end(), Code.Loop.begin(), Code.Loop.end());
    frame.push_back(0x43); // inc ebx
    frame.insert(frame.end(), Code.Bailout.begin(), Code.Bailout.end());
    auto put32 = [&](std::int32_t Value) {
        for (int k = 0; k < 4; ++k)
            frame.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(Value) >> (8 * k)));
    };
    frame.insert(frame.end(), {0x84, 0xC0, 0x75, 0x0C}); // test al, al; jnz done (over 12 bytes)
    frame.insert(frame.end(), {0x81, 0xFB});             // cmp ebx, MaxIter
    put32(static_cast<std::int32_t>(MaxIter));
    frame.insert(frame.end(), {0x0F, 0x82}); // jb top
    put32(top - static_cast<std::int32_t>(frame.size() + 4));
    frame.insert(frame.end(), {0x89, 0xD8}); // done: mov eax, ebx
    if (Processor)
        frame.push_back(0x5D); // pop ebp
    frame.push_back(0x5B);     // pop ebx
    return frame;
}

// The same iteration with the FPU's 64-bit mantissa for every operation and z kept in the
// precision's storage format between iterations.
template <class TReal>
std::uint32_t ReferenceCount(long double ZRe, long double ZIm, long double CRe, long double CIm,
                             std::uint32_t MaxIter) {
    TReal re = static_cast<TReal>(ZRe), im = static_cast<TReal>(ZIm);
    const TReal cre = static_cast<TReal>(CRe), cim = static_cast<TReal>(CIm);
    std::uint32_t n = 0;
    do {
        const long double r = static_cast<long double>(re), i = static_cast<long double>(im);
        const long double nextRe = (r * r - i * i) + static_cast<long double>(cre);
        const long double nextIm = (r + r) * i + static_cast<long double>(cim);
        re = static_cast<TReal>(nextRe);
        im = static_cast<TReal>(nextIm);
        ++n;
        const long double modulus = static_cast<long double>(re) * static_cast<long double>(re) +
                                    static_cast<long double>(im) * static_cast<long double>(im);
        if (modulus > 4.0L)
            break;
    } while (n < MaxIter);
    return n;
}

TEST_F(CompGenerator, MandelbrotAndJuliaIterationCountsMatchTheReference) {
    constexpr std::uint32_t maxIter = 200;
    constexpr int columns = 16, rows = 12;
    const long double juliaRe = -0.8L, juliaIm = 0.156L;
    struct TCase {
        const char *Name;
        std::uint8_t Precision;
        bool Julia;
        bool Square;
    };
    const TCase cases[] = {
        {"Mandelbrot, double, z*z", pmDouble, false, false},
        {"Mandelbrot, double, sqr(z)", pmDouble, false, true},
        {"Mandelbrot, extended, z*z", pmExtended, false, false},
        {"Julia, double, sqr(z)", pmDouble, true, true},
        {"Julia, extended, sqr(z)", pmExtended, true, true},
        {"Julia, extended, z*z", pmExtended, true, false},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TStorageList storage;
        const TFractalCode code = GenerateFractal(storage, c.Precision, c.Julia, c.Square, juliaRe, juliaIm);
        const TBytes frame = IterationFrame(code, maxIter);
        TMachine machine(storage);
        const std::int32_t pixel = PixelOffset(c.Precision);
        const std::int32_t real = StorageElementSize(vtFloat, c.Precision);
        int mismatches = 0, inside = 0;
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < columns; ++x) {
                const long double re =
                    c.Julia ? -1.6L + 3.2L * x / (columns - 1) : -2.1L + 2.7L * x / (columns - 1);
                const long double im = -1.2L + 2.4L * y / (rows - 1);
                std::uint32_t expected;
                if (c.Precision == pmDouble) {
                    machine.ContextAt<double>(pixel) = static_cast<double>(re);
                    machine.ContextAt<double>(pixel + real) = static_cast<double>(im);
                    const long double pre = static_cast<double>(re), pim = static_cast<double>(im);
                    expected = c.Julia ? ReferenceCount<double>(pre, pim, static_cast<double>(juliaRe),
                                                                static_cast<double>(juliaIm), maxIter)
                                       : ReferenceCount<double>(0, 0, pre, pim, maxIter);
                } else {
                    machine.ContextAt<long double>(pixel) = re;
                    machine.ContextAt<long double>(pixel + real) = im;
                    expected = c.Julia ? ReferenceCount<long double>(re, im, juliaRe, juliaIm, maxIter)
                                       : ReferenceCount<long double>(0, 0, re, im, maxIter);
                }
                const TCodeRun run = machine.Run(frame);
                ExpectCleanRun(run);
                if (run.EaxOut != expected && ++mismatches <= 5)
                    ADD_FAILURE() << "pixel (" << x << ", " << y << "): " << run.EaxOut
                                  << " iterations, expected " << expected;
                if (expected == maxIter)
                    ++inside;
            }
        }
        EXPECT_EQ(mismatches, 0);
        EXPECT_GT(inside, 0) << "the grid should reach into the set";
        EXPECT_LT(inside, rows * columns) << "the grid should reach outside the set";
    }
}

// ---------------------------------------------------------------------------------------------
// Sections, directives and failures

TEST_F(CompGenerator, SectionsAreHandedOverInOrderWithUpperCaseNames) {
    TTestStorage storage(pmDouble);
    TExpressionList program;
    program.Add(Directive("other"));
    program.Add(Label("Init"));
    program.Add(Assign(Ref(storage.I), IntC(1)));
    program.Add(Label("loop"));
    program.Add(Label("bailOut"));
    program.Add(Assign(Ref(storage.I), IntC(2)));
    TTestGenerator generator;
    generator.GenerateSections(program, storage.Storage, pmDouble, FakeFormula);
    ASSERT_EQ(generator.Sections.size(), 3u);
    EXPECT_EQ(generator.Sections[0].first, "INIT");
    EXPECT_EQ(generator.Sections[1].first, "LOOP");
    EXPECT_EQ(generator.Sections[2].first, "BAILOUT");
    EXPECT_EQ(Hex(generator.Sections[0].second), "B8 01 00 00 00 89 87 10 00 00 00 ");
    EXPECT_TRUE(generator.Sections[1].second.empty());
    EXPECT_EQ(Hex(generator.Sections[2].second), "B8 02 00 00 00 89 87 10 00 00 00 ");
    EXPECT_TRUE(generator.Access == nullptr) << "the access object lives for one generation";

    TExpressionList empty;
    TTestGenerator quiet;
    quiet.GenerateSections(empty, storage.Storage, pmDouble, FakeFormula);
    EXPECT_TRUE(quiet.Sections.empty());
}

TEST_F(CompGenerator, DebugDirectivesSwitchPrintOnAndOff) {
    struct TCase {
        const char *Name;
        std::vector<std::pair<std::string, std::uint8_t>> Directives;
        bool Printed;
    };
    const TCase cases[] = {
        {"no directive", {}, false},
        {"DEBUG defined", {{"DEBUG", diDefine}}, true},
        {"letter case ignored", {{"dEbUg", diDefine}}, true},
        {"defined, then undefined", {{"DEBUG", diDefine}, {"debug", diUndef}}, false},
        {"another name", {{"DEBUGGING", diDefine}}, false},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TTestStorage storage(pmDouble);
        TExpressionList program;
        program.Add(Label("loop"));
        for (const auto &directive : c.Directives)
            program.Add(Directive(directive.first, directive.second));
        program.Add(Call(fnPrint, vtNone, Ref(storage.I)));
        TTestGenerator generator;
        generator.GenerateSections(program, storage.Storage, pmDouble, FakeFormula);
        EXPECT_EQ(generator.Section("LOOP").empty(), !c.Printed);
    }

    // Every generation starts with DEBUG off.
    TTestStorage storage(pmDouble);
    TExpressionList first, second;
    first.Add(Directive("DEBUG"));
    first.Add(Label("loop"));
    second.Add(Label("loop"));
    second.Add(Call(fnPrint, vtNone, Ref(storage.I)));
    TTestGenerator generator;
    generator.GenerateSections(first, storage.Storage, pmDouble, FakeFormula);
    generator.Sections.clear();
    generator.GenerateSections(second, storage.Storage, pmDouble, FakeFormula);
    EXPECT_TRUE(generator.Section("LOOP").empty());
}

TEST_F(CompGenerator, FormulaClassChoosesItsOwnFunctionRoutine) {
    TTestStorage storage(pmDouble);
    TExpressionList program;
    program.Add(Label("loop"));
    program.Add(Assign(Ref(storage.W), Call(fnSin, vtComplex, Ref(storage.W))));
    TTestGenerator generator;
    generator.OverrideFunction = fnSin;
    generator.OverrideRoutine = 62; // flip
    generator.GenerateSections(program, storage.Storage, pmDouble, FakeFormula);
    EXPECT_EQ(
        Hex(generator.Section("LOOP")),
        Hex(ExpandExpected("DD 87 78 00 00 00 DD 87 70 00 00 00 R62 DD 9F 70 00 00 00 DD 9F 78 00 00 00")));
}

TEST_F(CompGenerator, FailedGenerationDeliversNothingAndTheNextOneWorks) {
    struct TCase {
        const char *Name;
        std::function<void(TTestStorage &, TExpressionList &)> Build;
        bool Unlabelled = false;
    };
    const TCase cases[] = {
        {"name the checker never resolved",
         [](TTestStorage &, TExpressionList &P) {
             auto variable = std::make_unique<TVariableExpression>(At(), "q");
             variable->SetReturnType(vtFloat);
             P.Add(Bin(opAdd, std::move(variable), Pred(psPixel), vtComplex));
         }},
        {"IF never closed", [](TTestStorage &S, TExpressionList &P) { P.Add(Kw(kwIf, Ref(S.Flag))); }},
        {"ENDWHILE without WHILE", [](TTestStorage &, TExpressionList &P) { P.Add(Kw(kwEndWhile)); }},
        {"data block beyond any limit",
         [](TTestStorage &S, TExpressionList &P) {
             // Dimensions set behind the storage list's back, as no stage may do.
             TVariableNode *huge = AddVariable(S.Storage, "huge", vtComplex, {65536, 65536});
             P.Add(Assign(Ref(S.W), Ref(huge, IntC(1), IntC(1))));
         }},
        {"statement before the first label", [](TTestStorage &, TExpressionList &) {}, true},
        {"PRINT text the checker never entered",
         [](TTestStorage &, TExpressionList &P) {
             P.Add(Directive("DEBUG"));
             P.Add(Call(fnPrint, vtNone, Str("lost", -1)));
         }},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TTestStorage storage(pmDouble);
        TExpressionList program;
        if (!c.Unlabelled)
            program.Add(Label("init"));
        program.Add(Assign(Ref(storage.I), IntC(1)));
        program.Add(Label("loop"));
        c.Build(storage, program);
        TTestGenerator generator;
        EXPECT_THROW(generator.GenerateSections(program, storage.Storage, pmDouble, FakeFormula), Exception);
        EXPECT_TRUE(generator.Sections.empty()) << "no section of a failed generation is handed over";
        EXPECT_TRUE(generator.Access == nullptr);

        // The same generator produces the next program in full.
        TTestStorage fresh(pmDouble);
        TExpressionList good;
        good.Add(Label("loop"));
        good.Add(Kw(kwIf, Ref(fresh.Flag)));
        good.Add(Assign(Ref(fresh.I), IntC(1)));
        good.Add(Kw(kwEndIf));
        generator.GenerateSections(good, fresh.Storage, pmDouble, FakeFormula);
        ASSERT_EQ(generator.Sections.size(), 1u);
        EXPECT_EQ(Hex(generator.Section("LOOP")),
                  Hex(ExpandExpected(ReadEncodings()["Double.IfWithoutElse"])));
    }
}

TEST_F(CompGenerator, PredefinedSymbolsLiveAtTheirContextOffsets) {
    struct TCase {
        std::uint8_t Symbol;
        std::int32_t Double, Extended, Arbitrary;
    };
    const TCase cases[] = {{psPixel, 208, 256, 184},   {psRandom, 256, 352, 208},
                           {psNumIter, 56, 56, 56},    {psScreenPixel, 240, 320, 200},
                           {psWhiteSq, 150, 150, 150}, {psX, 28, 28, 28},
                           {psY, 32, 32, 32},          {psIndex, 312, 464, 236},
                           {psZ, 176, 192, 168},       {psSolidColor, 151, 151, 151},
                           {psColor, 120, 120, 120},   {psPi, -1, -1, -1},
                           {psMaxIter, -1, -1, -1},    {psCenter, -1, -1, -1}};
    for (const TCase &c : cases) {
        EXPECT_EQ(PredefinedContextOffset(c.Symbol, pmDouble), c.Double) << int(c.Symbol);
        EXPECT_EQ(PredefinedContextOffset(c.Symbol, pmExtended), c.Extended) << int(c.Symbol);
        EXPECT_EQ(PredefinedContextOffset(c.Symbol, pmArbitrary), c.Arbitrary) << int(c.Symbol);
    }
}

} // namespace

namespace {

TEST_F(CompGenerator, AssignmentParksItsValueWhileADeepIndexIsComputed) {
    // x[trunc(chain of eight)] = b needs all eight registers for the index, so the value waits in
    // a temporary; the kept form then hands the value on to a.
    const double values[8] = {10.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.5}; // the chain gives 2.5
    for (std::uint8_t precision : {pmDouble, pmExtended}) {
        SCOPED_TRACE(testing::Message() << "precision " << int(precision));
        TStorageList storage;
        storage.Precision = precision;
        TFloatTerms terms(storage);
        TVariableNode *x = AddVariable(storage, "x", vtFloat, {4});
        TVariableNode *a = AddVariable(storage, "a", vtFloat);
        TVariableNode *b = AddVariable(storage, "b", vtFloat);
        TExpressionList program;
        program.Add(Label("loop"));
        program.Add(Assign(Ref(a), Assign(Ref(x, Call(fnTrunc, vtInteger, Chain(terms.Terms, 8))), Ref(b))));
        TTestGenerator generator;
        generator.GenerateSections(program, storage, precision, FakeFormula);
        const auto &inner = static_cast<TBinaryOperatorExpression &>(
            *static_cast<TBinaryOperatorExpression &>(*program.GetLast()->Expression).Right);
        EXPECT_EQ(inner.Order, 3);
        ASSERT_NE(storage.FindTemporary(inner.TempId), nullptr);

        TMachine machine(storage);
        const std::int32_t real = StorageElementSize(vtFloat, precision);
        auto put = [&](std::int32_t Offset, long double Value) {
            if (precision == pmDouble)
                machine.At<double>(Offset) = static_cast<double>(Value);
            else
                machine.At<long double>(Offset) = Value;
        };
        auto get = [&](std::int32_t Offset) -> long double {
            return precision == pmDouble ? machine.At<double>(Offset) : machine.At<long double>(Offset);
        };
        for (int k = 0; k < 8; ++k)
            put(terms.Terms[static_cast<size_t>(k)]->Offset, values[k]);
        put(b->Offset, -3.75L);
        ExpectCleanRun(machine.Run(generator.Section("LOOP")));
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(get(x->Offset + k * real), k == 2 ? -3.75L : 0.0L) << k;
        EXPECT_EQ(get(a->Offset), -3.75L);
    }
}

class CompGeneratorReports : public CompGenerator {
protected:
    void SetUp() override {
        if (!ErrorManager()) {
            InitializeCompMessages();
            FOwnMessages = true;
        }
        ErrorManager()->SetFormula(&FFormula);
        ErrorManager()->Clear();
    }
    void TearDown() override {
        ErrorManager()->ClearFormula();
        if (FOwnMessages)
            FinalizeCompMessages();
    }
    TObject FFormula;
    bool FOwnMessages = false;
};

TEST_F(CompGeneratorReports, DebugCodeReportsAtTheFormulaPositions) {
    // DEBUG on: an index beyond the array (computed and constant), an array copy between arrays
    // of different shapes and a PRINT each post a message for this formula at their positions.
    TStorageList storage;
    TVariableNode *i = AddVariable(storage, "i", vtInteger);
    TVariableNode *ints = AddVariable(storage, "ints", vtInteger, {4});
    TVariableNode *other = AddVariable(storage, "other", vtInteger, {5});
    TExpressionList program;
    program.Add(Directive("DEBUG"));
    program.Add(Label("loop"));
    program.Add(Assign(Ref(ints, std::make_unique<TStorageExpression>(At(2, 9), i)), IntC(5)));
    program.Add(Assign(Ref(i), Ref(ints, IntC(-1, At(3, 4)))));
    TExpressionPtr copyTarget = Ref(ints);
    copyTarget->Position = At(4, 1);
    program.Add(Assign(std::move(copyTarget), Ref(other)));
    TExpressionPtr print = Call(fnPrint, vtNone, Ref(i));
    print->Position = At(6, 3);
    program.Add(std::move(print));
    TTestGenerator generator;
    generator.GenerateSections(program, storage, pmDouble, &FFormula);

    TMachine machine(storage);
    machine.At<std::int32_t>(i->Offset) = 12;
    ExpectCleanRun(machine.Run(generator.Section("LOOP")));
    EXPECT_EQ(machine.At<std::int32_t>(ints->Offset + 12), 5) << "the last element took the value";
    EXPECT_EQ(machine.At<std::int32_t>(i->Offset), 5) << "index -1 read the last element too";

    struct TExpected {
        const char *Text;
        int Line, Column;
    };
    const TExpected expected[] = {{"Array index out of bounds.", 2, 9},
                                  {"Array index out of bounds.", 3, 4},
                                  {"Arrays are not compatible.", 4, 1},
                                  {"5", 6, 3}};
    ASSERT_EQ(ErrorManager()->GetCount(), 4);
    for (int k = 0; k < 4; ++k) {
        const TCompilerMessage message = ErrorManager()->GetMessageA(k);
        EXPECT_EQ(message.Text, expected[k].Text) << k;
        EXPECT_EQ(message.Line, expected[k].Line) << k;
        EXPECT_EQ(message.Column, expected[k].Column) << k;
    }
}

} // namespace

namespace {

TEST_F(CompGenerator, ColourOperandsKeepTheirOrderOnTheStack) {
    // result = (left - right) * factor, then a channel of it read back as a float.
    TStorageList storage;
    TVariableNode *left = AddVariable(storage, "left", vtColor);
    TVariableNode *right = AddVariable(storage, "right", vtColor);
    TVariableNode *factor = AddVariable(storage, "factor", vtFloat);
    TVariableNode *result = AddVariable(storage, "result", vtColor);
    TVariableNode *green = AddVariable(storage, "green", vtFloat);
    TExpressionList program;
    program.Add(Label("final"));
    program.Add(Assign(
        Ref(result), Bin(opMultiply, Bin(opSubtract, Ref(left), Ref(right), vtColor), Ref(factor), vtColor)));
    program.Add(Assign(Ref(green), Call(fnGreen, vtFloat, Ref(result))));
    TTestGenerator generator;
    generator.GenerateSections(program, storage, pmDouble, FakeFormula);
    TMachine machine(storage);
    const float l[4] = {0.75f, 0.5f, 1.0f, 0.25f}, r[4] = {0.25f, 0.125f, 0.5f, 0.0f};
    for (int k = 0; k < 4; ++k) {
        machine.At<float>(left->Offset + 4 * k) = l[k];
        machine.At<float>(right->Offset + 4 * k) = r[k];
    }
    machine.At<double>(factor->Offset) = 0.5;
    ExpectCleanRun(machine.Run(generator.Section("FINAL")));
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(machine.At<float>(result->Offset + 4 * k), (l[k] - r[k]) * 0.5f) << "channel " << k;
    EXPECT_EQ(machine.At<double>(green->Offset), (0.5 - 0.125) * 0.5);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Arbitrary precision

namespace {

class CompGeneratorArbitrary : public CompGenerator {
protected:
    void SetUp() override { InitializeCompHugeAccess(); }
    void TearDown() override { FinalizeCompHugeAccess(); }
};

TEST_F(CompGeneratorArbitrary, StatementsBecomeTheCallSequencesOfTheAccess) {
    // In arbitrary precision the generator asks the access for the same operations; the bytes of
    // each operation are the access's own (tested with it), so the expected code is the sequence
    // of requests written out here.
    struct TCase {
        const char *Name;
        TBuilder Build;
        std::function<void(THugeAccess &)> Expected;
    };
    const TCase cases[] = {
        {"z = sqr(z) + pixel",
         [](TTestStorage &, TExpressionList &P) {
             P.Add(
                 Assign(Pred(psZ), Bin(opAdd, Call(fnSqr, vtComplex, Pred(psZ)), Pred(psPixel), vtComplex)));
         },
         [](THugeAccess &A) {
             A.LoadComplex(184, true);
             A.LoadComplex(168, true);
             A.EmitRoutine(45);
             A.EmitRoutine(22);
             A.StoreComplexPop(168, true);
         }},
        {"z = pixel copies each part through the processor",
         [](TTestStorage &, TExpressionList &P) { P.Add(Assign(Pred(psZ), Pred(psPixel))); },
         [](THugeAccess &A) {
             A.LoadReal(184, true);
             A.StoreRealPop(168, true);
             A.LoadReal(188, true);
             A.StoreRealPop(172, true);
         }},
        {"whole float array: the numbers are assigned",
         [](TTestStorage &S, TExpressionList &P) { P.Add(Assign(Ref(S.X), Ref(S.Y))); },
         [](THugeAccess &A) { A.EmitHugeArrayCopy(16, 132, 10); }},
        {"imag of a complex variable",
         [](TTestStorage &S, TExpressionList &P) {
             P.Add(Assign(Ref(S.A), Call(fnImag, vtFloat, Ref(S.W))));
         },
         [](THugeAccess &A) {
             A.LoadReal(64, false);
             A.StoreRealPop(0, false);
         }},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TTestStorage storage(pmArbitrary);
        // Slots of 4 bytes per real: a 0, b 4, i 8, j 12, x 16, flag 56, w 60, n 68, col 116, y 132.
        TExpressionList program;
        program.Add(Label("loop"));
        c.Build(storage, program);
        TTestGenerator generator;
        generator.GenerateSections(program, storage.Storage, pmArbitrary, FakeFormula);
        THugeAccess expected;
        c.Expected(expected);
        EXPECT_EQ(Hex(generator.Section("LOOP")),
                  Hex(TBytes(expected.GetCode(), expected.GetCode() + expected.GetSize())));
    }
}

} // namespace

namespace {

TEST_F(CompGeneratorArbitrary, MandelbrotAndJuliaIterationCountsMatchInArbitraryPrecision) {
    // Few iterations, so that the 64-bit mantissa of the reference cannot drift far enough from
    // 40 digits to move a bailout on this grid.
    constexpr int digits = 40;
    constexpr std::uint32_t maxIter = 30;
    constexpr int columns = 12, rows = 9;
    const long double juliaRe = -0.8L, juliaIm = 0.156L;
    for (bool julia : {false, true}) {
        SCOPED_TRACE(julia ? "Julia" : "Mandelbrot");
        TStorageList storage;
        storage.Digits = digits;
        const TFractalCode code = GenerateFractal(storage, pmArbitrary, julia, !julia, juliaRe, juliaIm);
        THugeProcessor processor(digits);
        const TBytes frame = IterationFrame(code, maxIter, &processor);
        TMachine machine(storage);
        InitHugeContextValues(machine.Context, digits);
        struct TContextValues {
            void *Context;
            ~TContextValues() { DoneHugeContextValues(Context); }
        } contextValues{machine.Context};
        auto number = [&](std::int32_t Offset) { return machine.ContextAt<THugeFloatBase *>(Offset); };
        int inside = 0;
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < columns; ++x) {
                const long double re =
                    julia ? -1.6L + 3.2L * x / (columns - 1) : -2.1L + 2.7L * x / (columns - 1);
                const long double im = -1.2L + 2.4L * y / (rows - 1);
                number(184)->SetExtended(re); // PIXEL
                number(188)->SetExtended(im);
                const std::uint32_t expected =
                    julia ? ReferenceCount<long double>(re, im, juliaRe, juliaIm, maxIter)
                          : ReferenceCount<long double>(0, 0, re, im, maxIter);
                const TCodeRun run = machine.Run(frame);
                ExpectCleanRun(run);
                EXPECT_EQ(run.EaxOut, expected) << "pixel (" << x << ", " << y << ")";
                inside += expected == maxIter;
            }
        }
        EXPECT_GT(inside, 0);
        EXPECT_LT(inside, rows * columns);
    }
}

} // namespace
