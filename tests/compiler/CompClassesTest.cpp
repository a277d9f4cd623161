// Statement lists (insertion of settings and initializations near the start, removal, copies),
// the block-construct stack and the conditional-compilation stack.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompClasses.h"
#include "CompDefinitions.h"
#include "CompMessages.h"
#include "CompStorage.h"
#include "CompTokenizer.h"

namespace {

TCompilePosition At(int Line, int Column) {
    return TCompilePosition{Line, Column};
}

TExpressionPtr Value() {
    return std::make_unique<TLiteralExpression>(At(0, 0), std::make_unique<TBoolLiteral>(true));
}

// Statements made from short names: "L:GLOBAL" / "L:INIT" labels (GLOBAL is section kind 1, any
// other label kind 2), "D..." DEFAULT settings (order 1), "E..." ENABLED settings (order 0),
// any other name a variable statement.
TExpressionPtr Make(const std::string &Name) {
    if (Name.rfind("L:", 0) == 0) {
        const std::string label = Name.substr(2);
        return std::make_unique<TLabelExpression>(At(0, 0), label == "GLOBAL" ? 1 : 2, label);
    }
    if (Name[0] == 'D')
        return std::make_unique<TDefaultSettingExpression>(Name, Value(), vtFloat);
    if (Name[0] == 'E')
        return std::make_unique<TEnabledSettingExpression>(Name, Value());
    return std::make_unique<TVariableExpression>(At(0, 0), Name);
}

std::string NameOf(const TExpression *e) {
    if (auto *label = dynamic_cast<const TLabelExpression *>(e))
        return "L:" + label->Name;
    if (auto *setting = dynamic_cast<const TSettingExpression *>(e))
        return setting->Name;
    if (auto *variable = dynamic_cast<const TVariableExpression *>(e))
        return variable->Name;
    return "?";
}

// The statement names in order, checked against the links and the count of the list.
std::vector<std::string> Names(const TExpressionList &List) {
    std::vector<std::string> names;
    const TExpressionNode *last = nullptr;
    for (const TExpressionNode *node = List.GetFirst(); node; node = node->Next) {
        names.push_back(NameOf(node->Expression.get()));
        last = node;
    }
    EXPECT_EQ(List.GetLast(), last);
    EXPECT_EQ(List.GetCount(), static_cast<std::int32_t>(names.size()));
    return names;
}

// ---------------------------------------------------------------------------------------------
// InsertSetting

struct InsertCase {
    const char *Name;
    std::vector<std::string> Start;
    std::vector<std::string> Inserted;
    bool AfterGlobal;
    std::vector<std::string> Expected;
};

const InsertCase InsertCases[] = {
    {"EmptyList", {}, {"x"}, false, {"x"}},
    {"NoLeadingLabel", {"a", "L:INIT"}, {"x"}, false, {"x", "a", "L:INIT"}},
    {"AfterTheFirstLabel", {"L:INIT", "a", "L:LOOP", "b"}, {"x"}, false, {"L:INIT", "x", "a", "L:LOOP", "b"}},
    {"GlobalWithoutFlag",
     {"L:GLOBAL", "g", "L:INIT", "a"},
     {"x"},
     false,
     {"L:GLOBAL", "x", "g", "L:INIT", "a"}},
    {"GlobalWithFlag", {"L:GLOBAL", "g", "L:INIT", "a"}, {"x"}, true, {"L:GLOBAL", "g", "L:INIT", "x", "a"}},
    {"GlobalAloneWithFlag", {"L:GLOBAL", "g"}, {"x"}, true, {"L:GLOBAL", "x", "g"}},
    {"FlagWithoutGlobal", {"L:INIT", "a", "L:LOOP"}, {"x"}, true, {"L:INIT", "x", "a", "L:LOOP"}},
    {"LaterInsertionsComeFirst", {"L:INIT"}, {"x", "y"}, false, {"L:INIT", "y", "x"}},
    {"OrdersOfSettings",
     {"L:DEFAULT"},
     {"D1", "E1", "D2", "E2", "D3"},
     false,
     {"L:DEFAULT", "D3", "D2", "D1", "E2", "E1"}},
    {"StatementsGoBeforeSettings", {"L:INIT", "D1", "E1"}, {"x"}, false, {"L:INIT", "x", "D1", "E1"}},
    {"SettingAtTheEndBecomesLast", {"L:INIT", "D1"}, {"E1"}, false, {"L:INIT", "D1", "E1"}},
};

class InsertSetting : public testing::TestWithParam<InsertCase> {};

TEST_P(InsertSetting, PlacesStatementsNearTheStart) {
    const InsertCase &c = GetParam();
    TExpressionList list;
    for (const std::string &name : c.Start)
        list.Add(Make(name));
    for (const std::string &name : c.Inserted)
        list.InsertSetting(Make(name), c.AfterGlobal);
    EXPECT_EQ(Names(list), c.Expected);
    // Appending still links from the true last node.
    list.Add(Make("end"));
    EXPECT_EQ(Names(list).back(), "end");
}

INSTANTIATE_TEST_SUITE_P(Cases, InsertSetting, testing::ValuesIn(InsertCases),
                         [](const testing::TestParamInfo<InsertCase> &info) { return info.param.Name; });

// ---------------------------------------------------------------------------------------------
// Remove, Assign, RemapStorage

TEST(ExpressionList, RemoveUnlinksFirstMiddleAndLast) {
    TExpressionList list;
    TExpressionNode *a = list.Add(Make("a"));
    TExpressionNode *b = list.Add(Make("b"));
    list.Add(Make("c"));
    TExpressionNode *d = list.Add(Make("d"));
    list.Remove(b);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"a", "c", "d"}));
    list.Remove(d);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"a", "c"}));
    list.Add(Make("e"));
    list.Remove(a);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"c", "e"}));

    TExpressionList other;
    TExpressionNode *foreign = other.Add(Make("f"));
    list.Remove(foreign);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"c", "e"}));
    EXPECT_EQ(Names(other), (std::vector<std::string>{"f"}));
}

TEST(ExpressionList, AssignCopiesEveryStatementAndRemapsToTheCopysStorage) {
    TStorageList storage;
    auto *x = storage.AddNode(std::make_unique<TVariableNode>("x", vtFloat));
    auto *y = storage.AddNode(std::make_unique<TVariableNode>("y", vtFloat));
    TExpressionList source;
    source.Add(Make("L:INIT"));
    source.Add(std::make_unique<TBinaryOperatorExpression>(
        At(1, 2), std::make_unique<TStorageExpression>(At(1, 0), x),
        std::make_unique<TStorageExpression>(At(1, 4), y), 6));
    source.Add(
        std::make_unique<TDeclarationExpression>(std::make_unique<TVariableExpression>(At(2, 0), "y"), y));

    TStorageList copyStorage;
    copyStorage.Assign(storage);
    TExpressionList copy;
    copy.Add(Make("old"));
    copy.Assign(source);
    copy.RemapStorage(storage, copyStorage);

    ASSERT_EQ(copy.GetCount(), 3);
    EXPECT_EQ(Names(copy)[0], "L:INIT");
    auto *assignment = static_cast<TBinaryOperatorExpression *>(copy.GetFirst()->Next->Expression.get());
    EXPECT_NE(assignment, source.GetFirst()->Next->Expression.get());
    EXPECT_EQ(static_cast<TStorageExpression *>(assignment->Left.get())->Node, copyStorage.GetFirst());
    EXPECT_EQ(static_cast<TStorageExpression *>(assignment->Right.get())->Node, copyStorage.GetLast());
    auto *declaration = static_cast<TDeclarationExpression *>(copy.GetLast()->Expression.get());
    EXPECT_EQ(declaration->Node, copyStorage.GetLast());
    // The source still refers to its own storage.
    EXPECT_EQ(
        static_cast<TStorageExpression *>(
            static_cast<TBinaryOperatorExpression *>(source.GetFirst()->Next->Expression.get())->Left.get())
            ->Node,
        x);
}

TEST(ExpressionList, ManyStatementsAreFreedWithoutRecursion) {
    TExpressionList list;
    for (int i = 0; i < 200000; i++)
        list.Add(std::make_unique<TVariableExpression>(At(i, 0), "v"));
    TExpressionList copy;
    copy.Assign(list);
    EXPECT_EQ(copy.GetCount(), 200000);
    EXPECT_EQ(copy.GetLast()->Expression->Position.Line, 199999);
    list.Clear();
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetFirst(), nullptr);
    EXPECT_EQ(list.GetLast(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Block constructs

TEST(ConstructList, StacksRecordsThatStayPut) {
    TConstructList stack;
    EXPECT_EQ(stack.Top(), nullptr);
    TConstructRecord *outer = stack.Push(kwIf);
    outer->JumpPosition = 10;
    outer->ExitPosition = 20;
    TConstructRecord *inner = stack.Push(kwWhile);
    EXPECT_EQ(stack.Top(), inner);
    EXPECT_EQ(inner->Kind, kwWhile);
    EXPECT_EQ(inner->JumpPosition, 0);
    EXPECT_EQ(inner->ExitPosition, 0);
    EXPECT_EQ(inner->Next, outer);
    stack.Pop();
    EXPECT_EQ(stack.Top(), outer);
    EXPECT_EQ(outer->ExitPosition, 20);
    stack.Push(kwRepeat);
    stack.Clear();
    EXPECT_EQ(stack.Top(), nullptr);
    stack.Pop();
    EXPECT_EQ(stack.Top(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Conditional compilation

struct ConditionalCase {
    const char *Name;
    // T / F: IFDEF of a defined / undefined symbol, L: ELSE, N: ENDIF.
    const char *Script;
    bool Active;
    bool Empty;
    int Error; // the error code of the last step, 0 when none
};

const ConditionalCase ConditionalCases[] = {
    {"NoBlock", "", true, true, 0},
    {"DefinedSymbol", "T", true, false, 0},
    {"UndefinedSymbol", "F", false, false, 0},
    {"ElseOfUndefined", "FL", true, false, 0},
    {"ElseOfDefined", "TL", false, false, 0},
    {"SecondElse", "FLL", true, false, 62},
    {"ElseWithoutIfDef", "L", true, true, 61},
    {"EndIfWithoutIfDef", "N", true, true, 63},
    {"ClosedBlock", "FN", true, true, 0},
    {"InnermostDecides", "TF", false, false, 0},
    {"InnerElse", "TFL", true, false, 0},
    {"OuterAfterInnerCloses", "TFN", true, false, 0},
    {"EndIfAfterAllClosed", "TNN", true, true, 63},
};

class ConditionalDefines : public testing::TestWithParam<ConditionalCase> {};

TEST_P(ConditionalDefines, TrackTheInnermostBlock) {
    const ConditionalCase &c = GetParam();
    TConditionalDefineList list;
    int error = 0;
    int step = 0;
    for (const char *op = c.Script; *op; op++, step++) {
        const TCompilePosition position = At(step, 3);
        try {
            switch (*op) {
            case 'T':
            case 'F':
                list.IfDef(*op == 'T');
                break;
            case 'L':
                list.Else(position);
                break;
            case 'N':
                list.EndIf(position);
                break;
            }
        } catch (const ECompileError &e) {
            error = e.Code;
            EXPECT_EQ(e.Position(), position);
            EXPECT_EQ(op[1], '\0') << "an error before the last step";
        }
    }
    EXPECT_EQ(error, c.Error);
    EXPECT_EQ(list.IsActive(), c.Active);
    EXPECT_EQ(list.IsEmpty(), c.Empty);
}

INSTANTIATE_TEST_SUITE_P(Cases, ConditionalDefines, testing::ValuesIn(ConditionalCases),
                         [](const testing::TestParamInfo<ConditionalCase> &info) { return info.param.Name; });

TEST(ConditionalDefines, ErrorTexts) {
    TConditionalDefineList list;
    try {
        list.Else(At(4, 1));
        ADD_FAILURE();
    } catch (const ECompileError &e) {
        EXPECT_STREQ(e.what(), "$ELSE without $IFDEF is not allowed");
    }
    list.IfDef(true);
    list.Else(At(5, 1));
    try {
        list.Else(At(6, 1));
        ADD_FAILURE();
    } catch (const ECompileError &e) {
        EXPECT_STREQ(e.what(), "$ELSE after $ELSE is not allowed");
    }
    list.Clear();
    try {
        list.EndIf(At(7, 1));
        ADD_FAILURE();
    } catch (const ECompileError &e) {
        EXPECT_STREQ(e.what(), "$ENDIF without $IFDEF is not allowed");
    }
}

} // namespace
