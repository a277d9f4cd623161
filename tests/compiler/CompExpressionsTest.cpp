// Expression trees: types, deep copies, storage remapping, ownership of sub-expressions, trees
// deeper than any stack, and the setting statements applied to a formula's parameters.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompAccess.h"
#include "CompDefinitions.h"
#include "CompExpressions.h"
#include "CompParams.h"
#include "CompStorage.h"
#include "CompTokenizer.h"

namespace {

TCompilePosition At(int Line, int Column) {
    return TCompilePosition{Line, Column};
}

// A variable expression that counts the living instances, so that tests can see every node of a
// tree go (and none go twice).
class TCountedExpression : public TVariableExpression {
public:
    TCountedExpression(const TCompilePosition &APosition, const std::string &AName)
        : TVariableExpression(APosition, AName) {
        Alive++;
    }
    ~TCountedExpression() override { Alive--; }
    static int Alive;

protected:
    TExpressionPtr CloneNode() const override {
        auto copy = std::make_unique<TCountedExpression>(Position, Name);
        copy->Indices.Resize(Indices.Count());
        return copy;
    }
};

int TCountedExpression::Alive = 0;

TExpressionPtr Counted(const std::string &Name, int Line = 0) {
    return std::make_unique<TCountedExpression>(At(Line, 1), Name);
}

TExpressionPtr FloatLiteral(const std::string &Text, int Line = 0) {
    return std::make_unique<TLiteralExpression>(At(Line, 2), std::make_unique<TFloatLiteral>(Text));
}

// A readable account of a tree: class, position, fields and sub-expressions, read straight from
// the fields (small trees only: it recurses).
std::string Dump(const TExpression *e) {
    if (!e)
        return "-";
    std::ostringstream out;
    out << e->ClassName() << "@" << e->Position.Line << ":" << e->Position.Column;
    if (auto *c = dynamic_cast<const TCommonExpression *>(e))
        out << " type=" << int(c->ReturnType) << "/" << int(c->TypeSet);
    if (auto *x = dynamic_cast<const TLiteralExpression *>(e))
        out << " literal=" << x->Literal->GetText();
    if (auto *x = dynamic_cast<const TConstantExpression *>(e))
        out << " constant=" << int(x->Constant->Type);
    if (auto *x = dynamic_cast<const TStringExpression *>(e))
        out << " text=" << x->Text << " index=" << x->StringIndex;
    if (auto *x = dynamic_cast<const TPredefinedExpression *>(e))
        out << " symbol=" << int(x->SymbolId);
    if (auto *x = dynamic_cast<const TStorageExpression *>(e))
        out << " node=" << x->Node;
    if (auto *x = dynamic_cast<const TKeywordExpression *>(e))
        out << " keyword=" << int(x->KeywordId);
    if (auto *x = dynamic_cast<const TIdentifierExpression *>(e))
        out << " name=" << x->Name;
    if (auto *x = dynamic_cast<const TUnaryOperatorExpression *>(e))
        out << " op=" << int(x->Operator);
    if (auto *x = dynamic_cast<const TBinaryOperatorExpression *>(e))
        out << " op=" << int(x->Operator) << " order=" << int(x->Order) << " temp=" << x->TempId;
    if (auto *x = dynamic_cast<const TFunctionExpression *>(e))
        out << " function=" << int(x->FunctionId) << " mode=" << int(x->ArgumentMode)
            << " first=" << x->FirstTempId;
    if (auto *x = dynamic_cast<const TUserFunctionExpression *>(e))
        out << " name=" << x->Name;
    if (auto *x = dynamic_cast<const TLabelExpression *>(e))
        out << " label=" << x->Name << " section=" << int(x->SectionKind);
    if (auto *x = dynamic_cast<const TDirectiveExpression *>(e))
        out << " directive=" << int(x->DirectiveId) << " " << x->Name;
    if (auto *x = dynamic_cast<const TDeclarationExpression *>(e))
        out << " node=" << x->Node;
    if (auto *x = dynamic_cast<const TSettingExpression *>(e))
        out << " setting=" << x->Name << " type=" << int(x->SettingType) << " order=" << x->GetOrder();
    out << " (";
    for (std::int32_t i = 0; i < e->ChildCount(); i++)
        out << (i ? ", " : "") << Dump(e->GetChild(i));
    out << ")";
    return out.str();
}

// Every expression class once, with fields away from their defaults.
std::vector<TExpressionPtr> EveryKind(TStorageList &Storage) {
    auto *array = Storage.AddNode(std::make_unique<TVariableNode>("grid", vtFloat));
    array->SetDimensionCount(2);
    auto *scalar = Storage.AddNode(std::make_unique<TVariableNode>("x", vtComplex));
    std::vector<TExpressionPtr> list;

    list.push_back(std::make_unique<TLabelExpression>(At(1, 0), 2, "Loop"));
    list.push_back(std::make_unique<TDirectiveExpression>(At(2, 0), "DEBUG", diUndef));
    list.push_back(
        std::make_unique<TLiteralExpression>(At(3, 4), std::make_unique<TComplexLiteral>("1.5", "-2")));
    list.push_back(std::make_unique<TConstantExpression>(At(3, 5), std::make_unique<TIntConstant>(42)));
    auto text = std::make_unique<TStringExpression>(At(3, 6), "hello");
    text->StringIndex = 3;
    list.push_back(std::move(text));
    list.push_back(std::make_unique<TPredefinedExpression>(At(3, 7), 20));

    auto element = std::make_unique<TStorageExpression>(At(4, 1), array);
    element->Add(std::make_unique<TConstantExpression>(At(4, 6), std::make_unique<TIntConstant>(1)));
    element->Add(std::make_unique<TStorageExpression>(At(4, 9), scalar));
    list.push_back(std::move(element));

    auto variable = std::make_unique<TVariableExpression>(At(5, 1), "Grid");
    variable->Add(FloatLiteral("3", 5));
    variable->Add(FloatLiteral("4", 5));
    list.push_back(std::make_unique<TDeclarationExpression>(std::move(variable), array));

    auto sum = std::make_unique<TBinaryOperatorExpression>(
        At(6, 3), std::make_unique<TParameterExpression>(At(6, 1), "P1"),
        std::make_unique<TUnaryOperatorExpression>(
            At(6, 5), std::make_unique<TStorageExpression>(At(6, 6), scalar), uoModulus),
        opAdd);
    sum->SetReturnType(vtComplex);
    sum->Order = 3;
    sum->TempId = 9;
    list.push_back(std::make_unique<TKeywordExpression>(At(6, 0), std::move(sum), kwWhile));

    auto call = std::make_unique<TFunctionExpression>(At(7, 0), 31, FloatLiteral("0.5", 7));
    call->Add(std::make_unique<TPredefinedExpression>(At(7, 9), 3));
    call->ArgumentMode = 2;
    call->FirstTempId = 4;
    call->SetReturnType(vtFloat);
    list.push_back(std::move(call));

    auto user = std::make_unique<TUserFunctionExpression>(At(8, 0), "fn1");
    user->Add(std::make_unique<TVariableExpression>(At(8, 4), "z"));
    list.push_back(std::move(user));

    list.push_back(std::make_unique<TSettingExpression>(FloatLiteral("2", 9), vtInteger, "PRECISION"));
    list.push_back(std::make_unique<TEnabledSettingExpression>(
        "P2", std::make_unique<TLiteralExpression>(At(10, 1), std::make_unique<TBoolLiteral>(true))));
    list.push_back(std::make_unique<TVisibleSettingExpression>(
        "P3", std::make_unique<TLiteralExpression>(At(11, 1), std::make_unique<TBoolLiteral>(false))));
    list.push_back(std::make_unique<TDefaultSettingExpression>("P4", FloatLiteral("7", 12), vtFloat));
    list.push_back(std::make_unique<TKeywordExpression>(At(13, 0), nullptr, kwEndWhile));
    return list;
}

// ---------------------------------------------------------------------------------------------
// Types

struct TypeCase {
    const char *Name;
    std::function<TExpressionPtr(TStorageList &)> Make;
    int Expected;        // the type, or -1 when GetReturnType must fail
    const char *Failure; // its message
};

TStorageNode *ArrayNode(TStorageList &storage, int dimensions) {
    auto *node = storage.AddNode(std::make_unique<TVariableNode>("a", vtColor));
    node->SetDimensionCount(dimensions);
    return node;
}

const TypeCase TypeCases[] = {
    {"Label", [](TStorageList &) { return std::make_unique<TLabelExpression>(At(0, 0), 1, "global"); }, -1,
     "TAbstractExpression.GetReturnType: Cannot return value"},
    {"Directive",
     [](TStorageList &) { return std::make_unique<TDirectiveExpression>(At(0, 0), "X", diDefine); }, -1,
     "TAbstractExpression.GetReturnType: Cannot return value"},
    {"IntLiteral",
     [](TStorageList &) {
         return std::make_unique<TLiteralExpression>(At(0, 0), std::make_unique<TIntLiteral>(3));
     },
     vtInteger, ""},
    {"ComplexLiteral",
     [](TStorageList &) {
         return std::make_unique<TLiteralExpression>(At(0, 0), std::make_unique<TComplexLiteral>());
     },
     vtComplex, ""},
    {"ColorConstant",
     [](TStorageList &) {
         return std::make_unique<TConstantExpression>(At(0, 0), std::make_unique<TColorConstant>(0, 0, 0, 1));
     },
     vtColor, ""},
    {"String", [](TStorageList &) { return std::make_unique<TStringExpression>(At(0, 0), "s"); }, vtString,
     ""},
    {"VariableBeforeChecking",
     [](TStorageList &) { return std::make_unique<TVariableExpression>(At(0, 0), "v"); }, -1,
     "TCommonExpression.GetReturnType: Value not initialized"},
    {"CallBeforeChecking", [](TStorageList &) { return std::make_unique<TFunctionExpression>(At(0, 0), 0); },
     -1, "TCommonExpression.GetReturnType: Value not initialized"},
    {"KeywordIf",
     [](TStorageList &) { return std::make_unique<TKeywordExpression>(At(0, 0), Counted("c"), kwIf); },
     vtBoolean, ""},
    {"KeywordElseIf",
     [](TStorageList &) { return std::make_unique<TKeywordExpression>(At(0, 0), Counted("c"), kwElseIf); },
     vtBoolean, ""},
    {"KeywordWhile",
     [](TStorageList &) { return std::make_unique<TKeywordExpression>(At(0, 0), Counted("c"), kwWhile); },
     vtBoolean, ""},
    {"KeywordUntil",
     [](TStorageList &) { return std::make_unique<TKeywordExpression>(At(0, 0), Counted("c"), kwUntil); },
     vtBoolean, ""},
    {"KeywordElse",
     [](TStorageList &) { return std::make_unique<TKeywordExpression>(At(0, 0), nullptr, kwElse); }, -1,
     "TKeywordExpression.GetReturnType: Cannot return value"},
    {"KeywordRepeat",
     [](TStorageList &) { return std::make_unique<TKeywordExpression>(At(0, 0), nullptr, kwRepeat); }, -1,
     "TKeywordExpression.GetReturnType: Cannot return value"},
    {"DeclarationPrefix",
     [](TStorageList &) { return std::make_unique<TKeywordExpression>(At(0, 0), Counted("v"), kwFloat); }, -1,
     "TKeywordExpression.GetReturnType: Cannot return value"},
    {"WholeArray",
     [](TStorageList &s) { return std::make_unique<TStorageExpression>(At(0, 0), ArrayNode(s, 2)); }, vtArray,
     ""},
    {"ArrayElement",
     [](TStorageList &s) {
         auto e = std::make_unique<TStorageExpression>(At(0, 0), ArrayNode(s, 1));
         e->Add(Counted("i"));
         return e;
     },
     vtColor, ""},
    {"PlainVariable",
     [](TStorageList &s) { return std::make_unique<TStorageExpression>(At(0, 0), ArrayNode(s, 0)); }, vtColor,
     ""},
    {"ParameterCopy",
     [](TStorageList &s) {
         return std::make_unique<TStorageExpression>(At(0, 0),
                                                     s.Add(std::make_unique<TParameterNode>("p1", vtFloat)));
     },
     vtFloat, ""},
    {"Declaration",
     [](TStorageList &s) {
         return std::make_unique<TDeclarationExpression>(
             Counted("v"),
             static_cast<TVariableNode *>(s.Add(std::make_unique<TVariableNode>("v", vtFloat))));
     },
     -1, "TAbstractExpression.GetReturnType: Cannot return value"},
};

class ExpressionTypes : public testing::TestWithParam<TypeCase> {};

TEST_P(ExpressionTypes, AnswerTheirTypeOrFail) {
    const TypeCase &c = GetParam();
    TStorageList storage;
    TExpressionPtr e = c.Make(storage);
    if (c.Expected >= 0) {
        EXPECT_EQ(e->GetReturnType(), c.Expected);
    } else {
        try {
            e->GetReturnType();
            ADD_FAILURE() << "GetReturnType succeeded";
        } catch (const EExpressionError &error) {
            EXPECT_EQ(std::string(error.what()), c.Failure);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ExpressionTypes, testing::ValuesIn(TypeCases),
                         [](const testing::TestParamInfo<TypeCase> &info) { return info.param.Name; });

TEST(ExpressionTypes, OnlyCommonExpressionsTakeATypeLater) {
    TLabelExpression label(At(0, 0), 2, "init");
    try {
        label.SetReturnType(vtFloat);
        ADD_FAILURE();
    } catch (const EExpressionError &e) {
        EXPECT_STREQ(e.what(), "TAbstractExpression.SetReturnType: Cannot set value");
    }
    TStringExpression text(At(0, 0), "s");
    try {
        text.SetReturnType(vtFloat);
        ADD_FAILURE();
    } catch (const EExpressionError &e) {
        EXPECT_STREQ(e.what(), "Cannot change the type of a simple expression");
    }
    EXPECT_EQ(text.GetReturnType(), vtString);

    TUnaryOperatorExpression negation(At(0, 0), Counted("a"), uoNegate);
    negation.SetReturnType(vtInteger);
    EXPECT_EQ(negation.GetReturnType(), vtInteger);
    EXPECT_EQ(negation.TypeSet, 1);
}

TEST(ExpressionTypes, PredefinedSymbolsHaveTheirTableTypes) {
    const std::uint8_t expected[] = {
        vtComplex, vtFloat,   vtComplex, vtFloat,   vtFloat,   vtInteger, vtInteger, vtComplex,
        vtComplex, vtBoolean, vtInteger, vtInteger, vtInteger, vtInteger, vtComplex, vtFloat,
        vtFloat,   vtFloat,   vtFloat,   vtFloat,   vtComplex, vtBoolean, vtFloat,   vtColor,
    };
    for (std::uint8_t id = 0; id < 24; id++) {
        TPredefinedExpression symbol(At(0, 0), id);
        EXPECT_EQ(symbol.GetReturnType(), expected[id]) << "symbol " << int(id);
    }
    EXPECT_EQ(PredefinedSymbolType(24), vtNone);
}

// ---------------------------------------------------------------------------------------------
// Copies

TEST(ExpressionClone, CopiesEveryClassWithItsFields) {
    TStorageList storage;
    for (const TExpressionPtr &source : EveryKind(storage)) {
        TExpressionPtr copy = source->Clone();
        EXPECT_EQ(Dump(copy.get()), Dump(source.get()));
        EXPECT_NE(copy.get(), source.get());
        EXPECT_EQ(copy->Kind, source->Kind);
    }
}

TEST(ExpressionClone, CopiesAreIndependentOfTheirSource) {
    TStorageList storage;
    auto *node = storage.AddNode(std::make_unique<TVariableNode>("x", vtFloat));
    auto source = std::make_unique<TBinaryOperatorExpression>(
        At(1, 1), FloatLiteral("1.25"), std::make_unique<TStorageExpression>(At(1, 5), node), opMultiply);
    TExpressionPtr copy = source->Clone();
    auto *product = static_cast<TBinaryOperatorExpression *>(copy.get());
    auto *literal = static_cast<TLiteralExpression *>(product->Left.get());
    EXPECT_NE(literal->Literal.get(), static_cast<TLiteralExpression *>(source->Left.get())->Literal.get());
    literal->Literal->SetText("9");
    EXPECT_EQ(static_cast<TLiteralExpression *>(source->Left.get())->Literal->GetText(), "1.25");
    EXPECT_EQ(static_cast<TStorageExpression *>(product->Right.get())->Node, node);
    product->SetReturnType(vtFloat);
    EXPECT_EQ(source->TypeSet, 0) << "the type is the copy's own";
}

// ---------------------------------------------------------------------------------------------
// Ownership of sub-expressions

TEST(ExpressionOwnership, FreesEverySubExpressionOnce) {
    ASSERT_EQ(TCountedExpression::Alive, 0);
    {
        TStorageList storage;
        auto *node = storage.AddNode(std::make_unique<TVariableNode>("v", vtFloat));
        auto element = std::make_unique<TStorageExpression>(At(0, 0), node);
        element->Add(Counted("i"));
        element->Add(Counted("j"));
        auto call = std::make_unique<TFunctionExpression>(At(0, 0), 35, Counted("r"));
        call->Add(Counted("g"));
        call->Add(std::move(element));
        auto declared = std::make_unique<TVariableExpression>(At(0, 0), "v");
        declared->Add(Counted("n"));
        auto tree = std::make_unique<TBinaryOperatorExpression>(
            At(0, 0), std::make_unique<TUnaryOperatorExpression>(At(0, 0), std::move(call), uoNegate),
            std::make_unique<TKeywordExpression>(
                At(0, 0), std::make_unique<TDeclarationExpression>(std::move(declared), node), kwFloat),
            opAssign);
        auto setting = std::make_unique<TSettingExpression>(std::move(tree), vtFloat, "X");
        EXPECT_EQ(TCountedExpression::Alive, 5);
        TExpressionPtr copy = setting->Clone();
        EXPECT_EQ(TCountedExpression::Alive, 10);
        setting.reset();
        EXPECT_EQ(TCountedExpression::Alive, 5);
    }
    EXPECT_EQ(TCountedExpression::Alive, 0);
}

TEST(ExpressionOwnership, IndexAndArgumentPlaces) {
    TFunctionExpression call(At(0, 0), 36);
    EXPECT_EQ(call.Count(), 0);
    call.Add(Counted("a"));
    call.Add(Counted("b"));
    EXPECT_EQ(TCountedExpression::Alive, 2);

    // Putting back the item that is there keeps one owner.
    call.Put(0, TExpressionPtr(call.Get(0)));
    EXPECT_EQ(TCountedExpression::Alive, 2);
    // Replacing an item frees the old one.
    call.Put(1, Counted("c"));
    EXPECT_EQ(TCountedExpression::Alive, 2);
    EXPECT_EQ(static_cast<TVariableExpression *>(call.Get(1))->Name, "c");
    // A rewrite that keeps an operand takes it out first.
    TExpressionPtr kept = call.Arguments.Extract(0);
    call.Put(0, std::make_unique<TFunctionExpression>(At(0, 0), fnToComplex, std::move(kept)));
    EXPECT_EQ(TCountedExpression::Alive, 2);
    EXPECT_EQ(static_cast<TVariableExpression *>(call.Get(0)->GetChild(0))->Name, "a");

    EXPECT_THROW(call.Get(2), EListError);
    EXPECT_THROW(call.Put(-1, Counted("d")), EListError);
    EXPECT_THROW(call.ChildSlot(2), EListError);
    TVariableExpression plain(At(0, 0), "p");
    EXPECT_EQ(plain.Count(), 0);
    EXPECT_THROW(plain.Get(0), EListError);
}

// ---------------------------------------------------------------------------------------------
// Storage remapping

std::vector<const TStorageNode *> ReferencedNodes(const TExpression *root) {
    std::vector<const TStorageNode *> nodes;
    std::vector<const TExpression *> pending{root};
    while (!pending.empty()) {
        const TExpression *e = pending.back();
        pending.pop_back();
        if (auto *s = dynamic_cast<const TStorageExpression *>(e))
            nodes.push_back(s->Node);
        if (auto *d = dynamic_cast<const TDeclarationExpression *>(e))
            nodes.push_back(d->Node);
        for (std::int32_t i = 0; i < e->ChildCount(); i++)
            if (e->GetChild(i))
                pending.push_back(e->GetChild(i));
    }
    return nodes;
}

TEST(ExpressionRemap, PointsCopiesAtTheNodesAtTheSamePositions) {
    TStorageList storage;
    std::vector<TExpressionPtr> statements = EveryKind(storage);
    storage.Add(std::make_unique<TParameterNode>("P1", vtComplex));
    TStorageList copyStorage;
    copyStorage.Assign(storage);
    int references = 0;
    for (const TExpressionPtr &statement : statements) {
        TExpressionPtr copy = statement->Clone();
        copy->RemapStorage(storage, copyStorage);
        std::vector<const TStorageNode *> before = ReferencedNodes(statement.get());
        std::vector<const TStorageNode *> after = ReferencedNodes(copy.get());
        ASSERT_EQ(before.size(), after.size());
        for (std::size_t i = 0; i < before.size(); i++) {
            EXPECT_EQ(copyStorage.IndexOf(after[i]), storage.IndexOf(before[i]));
            EXPECT_EQ(storage.IndexOf(after[i]), -1);
            references++;
        }
    }
    EXPECT_EQ(references, 4);
}

TEST(ExpressionRemap, RefusesStorageItDoesNotKnow) {
    TStorageList storage, other, copy;
    storage.Add(std::make_unique<TVariableNode>("a", vtFloat));
    copy.Assign(storage);
    auto *stranger = other.AddNode(std::make_unique<TVariableNode>("b", vtFloat));
    TStorageExpression reference(At(0, 0), stranger);
    EXPECT_THROW(reference.RemapStorage(storage, copy), EExpressionError);
    copy.Add(std::make_unique<TVariableNode>("c", vtFloat));
    TStorageExpression known(At(0, 0), storage.GetFirst());
    EXPECT_THROW(known.RemapStorage(storage, copy), EExpressionError);
}

// ---------------------------------------------------------------------------------------------
// Trees deeper than a thread's stack

struct SmallStackJob {
    const std::function<void()> *Work;
    std::string Failure;
};

DWORD WINAPI RunSmallStackJob(LPVOID Data) {
    auto *job = static_cast<SmallStackJob *>(Data);
    try {
        (*job->Work)();
    } catch (const std::exception &e) {
        job->Failure = e.what();
    }
    return 0;
}

// Runs Work on a thread with the 1 MB stack of the calculation and compile threads.
void RunOnSmallStack(const std::function<void()> &Work) {
    SmallStackJob job{&Work, ""};
    HANDLE thread =
        CreateThread(nullptr, 1 << 20, RunSmallStackJob, &job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 300000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(job.Failure, "");
}

// One level of a deep chain, cycling through the kinds of places a sub-expression can sit in.
TExpressionPtr Wrap(TExpressionPtr inner, int level, TStorageNode *node) {
    const TCompilePosition at = At(level, 0);
    switch (level % 6) {
    case 0:
        return std::make_unique<TUnaryOperatorExpression>(at, std::move(inner), uoNegate);
    case 1:
        return std::make_unique<TBinaryOperatorExpression>(at, std::move(inner), Counted("r"), opAdd);
    case 2:
        return std::make_unique<TBinaryOperatorExpression>(at, std::make_unique<TStorageExpression>(at, node),
                                                           std::move(inner), opSubtract);
    case 3: {
        auto call = std::make_unique<TFunctionExpression>(at, 47, Counted("a"));
        call->Add(std::move(inner));
        return call;
    }
    case 4: {
        auto element = std::make_unique<TStorageExpression>(at, node);
        element->Add(std::move(inner));
        return element;
    }
    default:
        return std::make_unique<TKeywordExpression>(at, std::move(inner), kwIf);
    }
}

TEST(ExpressionDepth, DeepTreesAreCopiedRemappedAndFreedWithoutExhaustingTheStack) {
    constexpr int Depth = 300000;
    RunOnSmallStack([] {
        TStorageList storage;
        TStorageNode *node = storage.Add(std::make_unique<TVariableNode>("v", vtFloat));
        TStorageList copyStorage;
        copyStorage.Assign(storage);

        TExpressionPtr tree = Counted("leaf");
        for (int level = 0; level < Depth; level++)
            tree = Wrap(std::move(tree), level, node);
        const int counted = TCountedExpression::Alive;

        TExpressionPtr copy = tree->Clone();
        if (TCountedExpression::Alive != 2 * counted)
            throw std::runtime_error("the copy is incomplete");
        copy->RemapStorage(storage, copyStorage);

        // Walk both trees side by side: same shape, copy's storage in the copy's list.
        std::vector<std::pair<const TExpression *, const TExpression *>> pending{{tree.get(), copy.get()}};
        int levels = 0;
        while (!pending.empty()) {
            auto [a, b] = pending.back();
            pending.pop_back();
            if (a->Kind != b->Kind || a->Position.Line != b->Position.Line ||
                a->ChildCount() != b->ChildCount())
                throw std::runtime_error("the copy differs at line " + std::to_string(a->Position.Line));
            if (auto *s = dynamic_cast<const TStorageExpression *>(b))
                if (s->Node != copyStorage.GetFirst())
                    throw std::runtime_error("a copied reference was not remapped");
            levels++;
            for (std::int32_t i = 0; i < a->ChildCount(); i++)
                pending.emplace_back(a->GetChild(i), b->GetChild(i));
        }
        if (levels < Depth)
            throw std::runtime_error("the walk found too few nodes");

        tree.reset();
        copy.reset();
    });
    EXPECT_EQ(TCountedExpression::Alive, 0);
}

// ---------------------------------------------------------------------------------------------
// Setting statements

class TFakeOwner : public TSettingOwner {
public:
    void ApplySetting(const std::string &Name, const TConstant &Value) override {
        Applied.push_back(Name);
        AppliedType = Value.Type;
    }
    TParamList &GetSettingParams() override { return Params; }

    TParamList Params;
    std::vector<std::string> Applied;
    int AppliedType = -1;
};

class SettingApply : public testing::Test {
protected:
    void SetUp() override {
        auto param = std::make_unique<TIntParam>("Count");
        Count = param.get();
        Owner.Params.Add(std::move(param));
        auto function = std::make_unique<TFuncParam>("fn1");
        Function = function.get();
        Owner.Params.Add(std::move(function));
    }
    static TExpressionPtr Value() { return FloatLiteral("0"); }

    TFakeOwner Owner;
    TIntParam *Count = nullptr;
    TFuncParam *Function = nullptr;
};

TEST_F(SettingApply, PlainSettingsGoToTheOwner) {
    TSettingExpression setting(Value(), vtInteger, "PRECISION");
    EXPECT_TRUE(setting.AllowsParameters());
    EXPECT_EQ(setting.GetOrder(), 0);
    setting.Apply(Owner, TIntConstant(3));
    EXPECT_EQ(Owner.Applied, std::vector<std::string>{"PRECISION"});
    EXPECT_EQ(Owner.AppliedType, vtInteger);
}

TEST_F(SettingApply, EnabledAndVisibleReachOrdinaryAndFunctionParameters) {
    TEnabledSettingExpression enabled("COUNT", Value());
    TVisibleSettingExpression visible("FN1", Value());
    EXPECT_TRUE(enabled.AllowsParameters());
    EXPECT_EQ(visible.GetOrder(), 0);
    EXPECT_EQ(enabled.SettingType, vtBoolean);
    enabled.Apply(Owner, TBoolConstant(false));
    visible.Apply(Owner, TBoolConstant(false));
    EXPECT_FALSE(Count->GetEnabled());
    EXPECT_TRUE(Count->GetVisible());
    EXPECT_FALSE(Function->GetVisible());
    TEnabledSettingExpression missing("nothing", Value());
    missing.Apply(Owner, TBoolConstant(false));
    EXPECT_TRUE(Function->GetEnabled());
    EXPECT_TRUE(Owner.Applied.empty());
}

TEST_F(SettingApply, DefaultFollowsItsExpressionUntilTheUserSetsTheValue) {
    TDefaultSettingExpression setting("count", Value(), vtInteger);
    EXPECT_FALSE(setting.AllowsParameters());
    EXPECT_EQ(setting.GetOrder(), 1);

    setting.Apply(Owner, TIntConstant(5));
    EXPECT_EQ(Count->Default, 5);
    EXPECT_EQ(Count->GetValue(), 5);
    setting.Apply(Owner, TIntConstant(6));
    EXPECT_EQ(Count->GetValue(), 6) << "the value keeps following the default";

    Count->SetValue(9);
    setting.Apply(Owner, TIntConstant(7));
    EXPECT_EQ(Count->Default, 7);
    EXPECT_EQ(Count->GetValue(), 9) << "the user's value stays";

    TDefaultSettingExpression missing("other", Value(), vtInteger);
    missing.Apply(Owner, TIntConstant(1));
    EXPECT_TRUE(Owner.Applied.empty());
}

} // namespace
