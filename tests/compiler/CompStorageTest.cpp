// Storage list: data block layout, array size limits, block set-up and release, node look-up,
// and the initialization states tracked through conditional blocks.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompDefinitions.h"
#include "CompMessages.h"
#include "CompStorage.h"

namespace {

std::unique_ptr<TVariableNode> Variable(const std::string &Name, std::uint8_t Type,
                                        std::vector<std::uint32_t> Dimensions = {}) {
    auto node = std::make_unique<TVariableNode>(Name, Type);
    node->SetDimensionCount(static_cast<std::int32_t>(Dimensions.size()));
    for (std::size_t i = 0; i < Dimensions.size(); i++)
        node->SetDimension(static_cast<std::int32_t>(i), Dimensions[i]);
    return node;
}

std::uint16_t ControlWord() {
    std::uint16_t word;
    __asm__ __volatile__("fnstcw %0" : "=m"(word));
    return word;
}

void LoadControlWord(std::uint16_t word) {
    __asm__ __volatile__("fldcw %0" : : "m"(word));
}

// ---------------------------------------------------------------------------------------------
// Layout

struct LayoutNode {
    std::uint8_t Type;
    std::vector<std::uint32_t> Dimensions;
};

struct LayoutCase {
    const char *Name;
    std::uint8_t Precision;
    std::vector<LayoutNode> Nodes;
    std::vector<std::int32_t> Offsets;
    std::int32_t DataSize;
};

// Expected offsets worked out by hand from the alignment and size of each type and precision.
const LayoutCase LayoutCases[] = {
    {"EmptyList", pmDouble, {}, {}, 0},
    {"BoolThenFloatDouble", pmDouble, {{vtBoolean, {}}, {vtFloat, {}}}, {0, 8}, 16},
    {"BoolThenFloatExtended", pmExtended, {{vtBoolean, {}}, {vtFloat, {}}}, {0, 16}, 32},
    {"BoolThenFloatArbitrary", pmArbitrary, {{vtBoolean, {}}, {vtFloat, {}}}, {0, 4}, 8},
    {"ComplexArray3x4Extended", pmExtended, {{vtComplex, {3, 4}}}, {0}, 384},
    {"MixedDouble",
     pmDouble,
     {{vtInteger, {}}, {vtBoolean, {}}, {vtColor, {}}, {vtComplex, {}}, {vtBoolean, {2}}, {vtFloat, {}}},
     {0, 4, 8, 24, 40, 48},
     56},
    {"MixedExtended",
     pmExtended,
     {{vtInteger, {}}, {vtBoolean, {}}, {vtColor, {}}, {vtComplex, {}}, {vtBoolean, {2}}, {vtFloat, {}}},
     {0, 4, 8, 32, 64, 80},
     96},
    {"MixedArbitrary",
     pmArbitrary,
     {{vtInteger, {}}, {vtBoolean, {}}, {vtColor, {}}, {vtComplex, {}}, {vtBoolean, {2}}, {vtFloat, {}}},
     {0, 4, 8, 24, 32, 36},
     40},
    {"BoolsPackWithoutGaps", pmDouble, {{vtBoolean, {}}, {vtBoolean, {3}}, {vtInteger, {}}}, {0, 1, 4}, 8},
    {"FloatArrayArbitrary", pmArbitrary, {{vtBoolean, {}}, {vtFloat, {5}}, {vtBoolean, {}}}, {0, 4, 24}, 25},
};

class StorageLayout : public testing::TestWithParam<LayoutCase> {};

TEST_P(StorageLayout, AssignsOffsetsAndDataSize) {
    const LayoutCase &c = GetParam();
    TStorageList list;
    list.Precision = c.Precision;
    std::vector<TStorageNode *> nodes;
    for (const LayoutNode &n : c.Nodes)
        nodes.push_back(list.Add(Variable("v" + std::to_string(nodes.size()), n.Type, n.Dimensions)));
    list.AssignOffsets();
    for (std::size_t i = 0; i < nodes.size(); i++)
        EXPECT_EQ(nodes[i]->Offset, c.Offsets[i]) << "node " << i;
    EXPECT_EQ(list.DataSize, c.DataSize);
    EXPECT_EQ(list.LayoutSize(c.Precision), c.DataSize);
}

INSTANTIATE_TEST_SUITE_P(Cases, StorageLayout, testing::ValuesIn(LayoutCases),
                         [](const testing::TestParamInfo<LayoutCase> &info) { return info.param.Name; });

TEST(StorageLayout, NodesWithoutSpaceKeepTheirOffset) {
    TStorageList list;
    TStorageNode *first = list.Add(Variable("a", vtInteger));
    TStorageNode *text = list.Add(std::make_unique<TParameterNode>("s", vtString));
    TStorageNode *last = list.Add(Variable("b", vtBoolean));
    text->Offset = 77;
    list.AssignOffsets();
    EXPECT_EQ(first->Offset, 0);
    EXPECT_EQ(text->Offset, 77);
    EXPECT_EQ(last->Offset, 4);
    EXPECT_EQ(list.DataSize, 5);
}

// ---------------------------------------------------------------------------------------------
// Array size limits

TEST(StorageArrayLimit, DimensionsBelowOneBecomeOne) {
    TStorageList list;
    auto *array = list.AddNode(Variable("a", vtFloat, {7, 7}));
    list.SetArrayDimension(*array, 0, 0, {1, 2});
    list.SetArrayDimension(*array, 1, -5, {1, 2});
    EXPECT_EQ(array->GetDimension(0), 1u);
    EXPECT_EQ(array->GetDimension(1), 1u);
}

struct LimitCase {
    const char *Name;
    std::uint8_t Type;
    std::vector<std::int32_t> Dimensions;
    bool Accepted;
};

// 256 MiB is the limit; extended complex elements take 32 bytes, the largest element size.
const LimitCase LimitCases[] = {
    {"ExactlyAtTheLimit", vtComplex, {8388608}, true},
    {"OneElementBeyond", vtComplex, {8388609}, false},
    {"CountWrapsTo32BitZero", vtFloat, {65536, 65536}, false},
    {"CountWrapsTo32BitSmall", vtBoolean, {65537, 65536}, false},
    {"HugeFirstDimension", vtInteger, {2147483647, 2147483647}, false},
    {"SizeWrapsTo32BitZero", vtComplex, {134217728}, false},
    {"LargestBoolArray", vtBoolean, {16384, 16384}, true},
    {"ColourArrayBeyond", vtColor, {4096, 4097}, false},
};

class StorageArrayLimit : public testing::TestWithParam<LimitCase> {};

TEST_P(StorageArrayLimit, RefusesArraysBeyondTheLimitAtTheDimension) {
    const LimitCase &c = GetParam();
    TStorageList list;
    auto *array = list.AddNode(Variable("a", c.Type));
    array->SetDimensionCount(static_cast<std::int32_t>(c.Dimensions.size()));
    std::int32_t refusedAt = -1;
    for (std::size_t i = 0; i < c.Dimensions.size(); i++) {
        const TCompilePosition position{10, static_cast<std::int32_t>(20 + i)};
        try {
            list.SetArrayDimension(*array, static_cast<std::int32_t>(i), c.Dimensions[i], position);
        } catch (const ECompileError &e) {
            EXPECT_EQ(e.Code, 5);
            EXPECT_EQ(e.Line, 10);
            EXPECT_EQ(e.Column, position.Column);
            EXPECT_EQ(std::string(e.what()), "Literal out of range");
            EXPECT_EQ(array->GetDimension(static_cast<std::int32_t>(i)), 1u);
            refusedAt = static_cast<std::int32_t>(i);
            break;
        }
    }
    EXPECT_EQ(refusedAt < 0, c.Accepted);
    // Whatever was refused, the block fits and every precision lays it out without wrapping.
    for (std::uint8_t precision : {pmDouble, pmExtended, pmArbitrary}) {
        list.Precision = precision;
        list.AssignOffsets();
        EXPECT_GE(list.DataSize, 0);
        EXPECT_LE(list.DataSize, MaxFormulaDataSize + 16);
        EXPECT_EQ(list.DataSize, list.LayoutSize(precision));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, StorageArrayLimit, testing::ValuesIn(LimitCases),
                         [](const testing::TestParamInfo<LimitCase> &info) { return info.param.Name; });

TEST(StorageArrayLimit, CountsTheWholeBlockNotJustOneArray) {
    TStorageList list;
    auto *first = list.AddNode(Variable("a", vtFloat, {1}));
    auto *second = list.AddNode(Variable("b", vtFloat, {1}));
    // 2^23 extended floats take 128 MiB: one fits twice, a third element does not.
    list.SetArrayDimension(*first, 0, 8388608, {1, 1});
    list.SetArrayDimension(*second, 0, 8388607, {2, 1});
    EXPECT_THROW(list.SetArrayDimension(*second, 0, 8388609, {3, 1}), ECompileError);
    EXPECT_EQ(second->GetDimension(0), 1u);
}

TEST(StorageArrayLimit, OffsetsThatWouldLeaveThe32BitRangeAreRefused) {
    // Dimensions set without the limit (as a stage that forgot it would) must not wrap offsets.
    TStorageList list;
    list.Precision = pmExtended;
    list.Add(Variable("a", vtComplex, {65536, 65536}));
    list.Add(Variable("b", vtInteger));
    EXPECT_THROW(list.AssignOffsets(), EStorageError);
}

TEST(StorageArrayLimit, ElementCountSaturatesInsteadOfWrapping) {
    auto node = Variable("a", vtBoolean, {4294967295u, 4294967295u, 4294967295u});
    EXPECT_EQ(node->GetElementCount(), INT64_MAX);
    EXPECT_EQ(Variable("b", vtBoolean, {65536, 65536})->GetElementCount(), 4294967296LL);
    EXPECT_EQ(Variable("c", vtBoolean)->GetElementCount(), 1);
}

// ---------------------------------------------------------------------------------------------
// Data block

class StorageDataBlock : public testing::Test {
protected:
    // A block with guard bytes around it, all zero inside.
    std::uint8_t *Block(std::int32_t size) {
        FMemory.assign(static_cast<std::size_t>(size) + 2 * Guard, 0);
        std::memset(FMemory.data(), 0xA5, Guard);
        std::memset(FMemory.data() + Guard + size, 0xA5, Guard);
        FSize = size;
        return FMemory.data() + Guard;
    }
    void ExpectGuardsIntact() const {
        for (std::size_t i = 0; i < Guard; i++) {
            EXPECT_EQ(FMemory[i], 0xA5);
            EXPECT_EQ(FMemory[Guard + FSize + i], 0xA5);
        }
    }
    static THugeFloatBase *Handle(const std::uint8_t *slot) {
        THugeFloatBase *value;
        std::memcpy(&value, slot, 4);
        return value;
    }

    static constexpr std::size_t Guard = 64;
    std::vector<std::uint8_t> FMemory;
    std::int32_t FSize = 0;
};

TEST_F(StorageDataBlock, ArbitraryPrecisionCreatesOneNumberPerRealSlotAndFreesThem) {
    TStorageList list;
    list.Precision = pmArbitrary;
    list.Digits = 40;
    auto *floats = list.AddNode(Variable("f", vtFloat, {5}));
    auto *complex = list.AddNode(Variable("c", vtComplex, {2}));
    auto *flag = list.AddNode(Variable("b", vtBoolean));
    list.AssignOffsets();
    std::uint8_t *block = Block(list.DataSize);
    list.InitData(block);

    std::vector<THugeFloatBase *> seen;
    for (int i = 0; i < 5; i++)
        seen.push_back(Handle(block + floats->Offset + 4 * i));
    for (int i = 0; i < 4; i++)
        seen.push_back(Handle(block + complex->Offset + 4 * i));
    for (std::size_t i = 0; i < seen.size(); i++) {
        ASSERT_NE(seen[i], nullptr) << "slot " << i;
        EXPECT_TRUE(seen[i]->IsZero());
        EXPECT_EQ(seen[i]->FPrecision, TBasicHugeFloat(40).FPrecision);
        for (std::size_t j = 0; j < i; j++)
            EXPECT_NE(seen[i], seen[j]) << "slots " << j << " and " << i;
    }
    EXPECT_EQ(block[flag->Offset], 0);

    list.DoneData(block);
    for (std::int32_t i = 0; i < list.DataSize; i++)
        EXPECT_EQ(block[i], 0) << "byte " << i;
    list.DoneData(block); // a second release finds nothing to free
    ExpectGuardsIntact();
}

TEST_F(StorageDataBlock, DoublePrecisionCopiesConstantsAndCreatesNothing) {
    TStorageList list;
    list.Precision = pmDouble;
    list.Add(Variable("x", vtComplex));
    auto *c =
        list.AddNode(std::make_unique<TConstantNode>(std::make_unique<TDoubleComplexConstant>(1.5, -2.25)));
    auto *f = list.AddNode(std::make_unique<TConstantNode>(std::make_unique<TDoubleFloatConstant>(-0.0)));
    auto *n = list.AddNode(std::make_unique<TConstantNode>(std::make_unique<TIntConstant>(-123456)));
    auto *b = list.AddNode(std::make_unique<TConstantNode>(std::make_unique<TBoolConstant>(true)));
    auto *k = list.AddNode(
        std::make_unique<TConstantNode>(std::make_unique<TColorConstant>(0.25f, 0.5f, 0.75f, 1.0f)));
    list.AssignOffsets();
    std::uint8_t *block = Block(list.DataSize);
    list.InitData(block);

    double re, im, real;
    std::memcpy(&re, block + c->Offset, 8);
    std::memcpy(&im, block + c->Offset + 8, 8);
    std::memcpy(&real, block + f->Offset, 8);
    EXPECT_EQ(re, 1.5);
    EXPECT_EQ(im, -2.25);
    EXPECT_TRUE(real == 0.0 && std::signbit(real));
    std::int32_t integer;
    std::memcpy(&integer, block + n->Offset, 4);
    EXPECT_EQ(integer, -123456);
    EXPECT_EQ(block[b->Offset], 1);
    float color[4];
    std::memcpy(color, block + k->Offset, 16);
    EXPECT_EQ(color[0], 0.25f);
    EXPECT_EQ(color[1], 0.5f);
    EXPECT_EQ(color[2], 0.75f);
    EXPECT_EQ(color[3], 1.0f);
    // The variable before the constants stays zero.
    for (int i = 0; i < 16; i++)
        EXPECT_EQ(block[i], 0);
    list.DoneData(block);
    ExpectGuardsIntact();
}

TEST_F(StorageDataBlock, ExtendedConstantsKeepAllEightyBits) {
    TStorageList list;
    list.Precision = pmExtended;
    const long double third = 1.0L / 3.0L;
    auto *f = list.AddNode(std::make_unique<TConstantNode>(std::make_unique<TExtendedFloatConstant>(third)));
    auto *c = list.AddNode(
        std::make_unique<TConstantNode>(std::make_unique<TExtendedComplexConstant>(-third, 2 * third)));
    list.AssignOffsets();
    EXPECT_EQ(f->Offset, 0);
    EXPECT_EQ(c->Offset, 16);
    std::uint8_t *block = Block(list.DataSize);
    list.InitData(block);
    EXPECT_EQ(std::memcmp(block + f->Offset, &third, 10), 0);
    const long double minusThird = -third, twoThirds = 2 * third;
    EXPECT_EQ(std::memcmp(block + c->Offset, &minusThird, 10), 0);
    EXPECT_EQ(std::memcmp(block + c->Offset + 16, &twoThirds, 10), 0);
    ExpectGuardsIntact();
}

TEST_F(StorageDataBlock, ArbitraryPrecisionConstantsAreAssignedToTheirNumbers) {
    TStorageList list;
    list.Precision = pmArbitrary;
    list.Digits = 30;
    THugeFloat value(30);
    value.SetExtended(0.75L);
    THugeComplex complex(30);
    complex.Re.SetExtended(-1.5L);
    complex.Im.SetExtended(4.0L);
    auto *f = list.AddNode(std::make_unique<TConstantNode>(std::make_unique<THugeFloatConstant>(30, value)));
    auto *c =
        list.AddNode(std::make_unique<TConstantNode>(std::make_unique<THugeComplexConstant>(30, complex)));
    list.AssignOffsets();
    std::uint8_t *block = Block(list.DataSize);
    list.InitData(block);
    ASSERT_NE(Handle(block + f->Offset), nullptr);
    ASSERT_NE(Handle(block + c->Offset), nullptr);
    ASSERT_NE(Handle(block + c->Offset + 4), nullptr);
    EXPECT_EQ(Handle(block + f->Offset)->GetExtended(), 0.75L);
    EXPECT_EQ(Handle(block + c->Offset)->GetExtended(), -1.5L);
    EXPECT_EQ(Handle(block + c->Offset + 4)->GetExtended(), 4.0L);
    list.DoneData(block);
    EXPECT_EQ(Handle(block + f->Offset), nullptr);
    ExpectGuardsIntact();
}

TEST_F(StorageDataBlock, TheCallersControlWordIsRestored) {
    const std::uint16_t saved = ControlWord();
    const std::uint16_t callers = 0x027F; // 53-bit mantissa
    LoadControlWord(callers);
    TStorageList list;
    list.Precision = pmExtended;
    list.AddNode(std::make_unique<TConstantNode>(std::make_unique<TExtendedFloatConstant>(2.5L)));
    list.AssignOffsets();
    std::uint8_t *block = Block(list.DataSize);
    list.InitData(block);
    const std::uint16_t afterInit = ControlWord();
    const TExtendedFloatConstant probe(2.5L);
    EXPECT_NE(list.FindConstant(probe), nullptr);
    const std::uint16_t afterFind = ControlWord();
    LoadControlWord(saved);
    EXPECT_EQ(afterInit, callers);
    EXPECT_EQ(afterFind, callers);
}

// ---------------------------------------------------------------------------------------------
// Nodes and look-up

TEST(StorageList, FindsNodesByKindNameAndValue) {
    TStorageList list;
    auto *x = list.AddNode(Variable("Alpha", vtFloat));
    auto *p = list.AddNode(std::make_unique<TParameterNode>("P1", vtComplex));
    auto *t = list.AddNode(std::make_unique<TTempVariableNode>(3, vtFloat));
    auto *plusZero =
        list.AddNode(std::make_unique<TConstantNode>(std::make_unique<TDoubleFloatConstant>(0.0)));
    auto *minusZero =
        list.AddNode(std::make_unique<TConstantNode>(std::make_unique<TDoubleFloatConstant>(-0.0)));
    list.Add(Variable("alpha", vtInteger));

    EXPECT_EQ(list.FindVariable("ALPHA"), x);
    EXPECT_EQ(list.FindVariable("p1"), nullptr);
    EXPECT_EQ(list.FindParameter("p1"), p);
    EXPECT_EQ(list.FindParameter("alpha"), nullptr);
    EXPECT_EQ(list.FindTemporary(3), t);
    EXPECT_EQ(list.FindTemporary(4), nullptr);
    EXPECT_EQ(list.FindConstant(TDoubleFloatConstant(-0.0)), minusZero);
    EXPECT_EQ(list.FindConstant(TDoubleFloatConstant(0.0)), plusZero);
    EXPECT_EQ(list.FindConstant(TExtendedFloatConstant(0.0L)), nullptr);
    EXPECT_EQ(list.IndexOf(t), 2);
    EXPECT_EQ(list.IndexOf(nullptr), -1);
}

// Every constant is found by its value among many: arbitrary-precision values that differ only in
// their lowest mantissa word stay apart, equal ones are found (the first of them), and colours
// compare as numbers (0 equals -0).
TEST(StorageList, FindsEachOfManyConstantsByItsValue) {
    constexpr int Digits = 40;
    constexpr int Count = 600;
    // Whole with its lowest mantissa word set to Low.
    auto setLowWord = [](THugeFloatBase &Value, std::int32_t Whole, std::uint32_t Low) {
        Value.SetInteger(Whole);
        ASSERT_GT(Value.FWordCount, 2);
        Value.FMantissa[0] = Low;
    };
    auto hugeFloat = [&](std::uint32_t Low) {
        auto constant = std::make_unique<THugeFloatConstant>(Digits);
        setLowWord(constant->Value, 1, Low);
        return constant;
    };
    auto hugeComplex = [&](std::uint32_t Low) {
        auto constant = std::make_unique<THugeComplexConstant>(Digits);
        constant->Value.Re.SetInteger(1);
        setLowWord(constant->Value.Im, 2, Low);
        return constant;
    };
    TStorageList list;
    std::vector<TConstantNode *> floats, complexes;
    for (int k = 0; k < Count; ++k) {
        const auto low = static_cast<std::uint32_t>(k);
        floats.push_back(list.AddNode(std::make_unique<TConstantNode>(hugeFloat(low))));
        complexes.push_back(list.AddNode(std::make_unique<TConstantNode>(hugeComplex(low))));
    }
    // Equal values added again: the look-up keeps finding the first.
    list.Add(std::make_unique<TConstantNode>(hugeFloat(7)));
    list.Add(std::make_unique<TConstantNode>(hugeComplex(7)));
    auto *black = list.AddNode(
        std::make_unique<TConstantNode>(std::make_unique<TColorConstant>(0.0f, 0.0f, 0.0f, 1.0f)));
    auto *red = list.AddNode(
        std::make_unique<TConstantNode>(std::make_unique<TColorConstant>(1.0f, -0.0f, 0.0f, 1.0f)));

    for (int k = 0; k < Count; ++k) {
        const auto low = static_cast<std::uint32_t>(k);
        ASSERT_EQ(list.FindConstant(*hugeFloat(low)), floats[k]) << k;
        ASSERT_EQ(list.FindConstant(*hugeComplex(low)), complexes[k]) << k;
    }
    EXPECT_EQ(list.FindConstant(*hugeFloat(Count)), nullptr);
    EXPECT_EQ(list.FindConstant(*hugeComplex(Count)), nullptr);
    // The same value in another precision has more words: a different constant.
    THugeFloatConstant wider(2 * Digits);
    setLowWord(wider.Value, 1, 7);
    EXPECT_EQ(list.FindConstant(wider), nullptr);
    EXPECT_EQ(list.FindConstant(TColorConstant(-0.0f, 0.0f, -0.0f, 1.0f)), black);
    EXPECT_EQ(list.FindConstant(TColorConstant(1.0f, 0.0f, 0.0f, 1.0f)), red);
    EXPECT_EQ(list.FindConstant(TColorConstant(1.0f, 0.0f, 0.0f, 0.5f)), nullptr);
}

TEST(StorageList, RemoveTemporariesKeepsTheOthersInOrder) {
    TStorageList list;
    list.Add(std::make_unique<TTempVariableNode>(0, vtFloat));
    auto *a = list.AddNode(Variable("a", vtFloat));
    list.Add(std::make_unique<TConstantNode>(std::make_unique<TIntConstant>(1)));
    auto *p = list.AddNode(std::make_unique<TParameterNode>("p1", vtComplex));
    list.Add(std::make_unique<TTempVariableNode>(1, vtComplex));
    list.RemoveTemporaries();
    ASSERT_EQ(list.GetCount(), 2);
    EXPECT_EQ(list.GetFirst(), a);
    EXPECT_EQ(a->Next, p);
    EXPECT_EQ(list.GetLast(), p);
    // Appending after the removal of the last node links from the new last node.
    auto *b = list.AddNode(Variable("b", vtFloat));
    EXPECT_EQ(p->Next, b);
    EXPECT_EQ(list.GetLast(), b);
}

TEST(StorageList, AssignClonesEveryNodeWithItsDefiningFields) {
    TStorageList source;
    auto *array = source.AddNode(Variable("Grid", vtComplex, {3, 4}));
    array->DeclarationPosition = {7, 9};
    array->SetInitialized();
    array->Read = true;
    source.Add(std::make_unique<TTempVariableNode>(5, vtFloat));
    source.Add(std::make_unique<TConstantNode>(std::make_unique<TDoubleComplexConstant>(1, 2)));
    source.Add(std::make_unique<TParameterNode>("P2", vtFloat));

    TStorageList copy;
    copy.Add(Variable("old", vtBoolean));
    copy.Assign(source);
    ASSERT_EQ(copy.GetCount(), 4);
    auto *grid = static_cast<TVariableNode *>(copy.GetFirst());
    EXPECT_NE(grid, array);
    EXPECT_EQ(grid->Kind, skVariable);
    EXPECT_EQ(grid->Name, "Grid");
    EXPECT_EQ(grid->DataType, vtComplex);
    EXPECT_EQ(grid->GetDimensionCount(), 2);
    EXPECT_EQ(grid->GetDimension(1), 4u);
    EXPECT_EQ(grid->DeclarationPosition, (TCompilePosition{7, 9}));
    EXPECT_FALSE(grid->IsInitialized()) << "states are not copied";
    auto *temp = static_cast<TTempVariableNode *>(grid->Next);
    EXPECT_EQ(temp->TempId, 5u);
    auto *constant = static_cast<TConstantNode *>(temp->Next);
    EXPECT_NE(constant->Constant.get(), static_cast<TConstantNode *>(array->Next->Next)->Constant.get());
    EXPECT_TRUE(constant->Constant->Equals(TDoubleComplexConstant(1, 2)));
    EXPECT_EQ(static_cast<TParameterNode *>(constant->Next)->ParameterName, "P2");
    EXPECT_EQ(copy.GetLast(), constant->Next);
}

TEST(StorageList, DimensionCountGrowsWithOnesAndShrinks) {
    TVariableNode node("a", vtFloat);
    node.SetDimensionCount(2);
    node.SetDimension(0, 6);
    node.SetDimensionCount(4);
    EXPECT_EQ(node.GetDimension(0), 6u);
    EXPECT_EQ(node.GetDimension(3), 1u);
    EXPECT_EQ(node.GetElementCount(), 6);
    node.SetDimensionCount(1);
    EXPECT_EQ(node.GetDimensionCount(), 1);
    node.SetDimensionCount(-3);
    EXPECT_EQ(node.GetDimensionCount(), 0);
    EXPECT_THROW(node.GetDimension(0), EListError);
}

// ---------------------------------------------------------------------------------------------
// Initialization states through conditional blocks

struct StateCase {
    const char *Name;
    // B: enter a block, N: next branch, E: leave the block, I: the variable is set,
    // V: the variable is created now (before that it does not exist), R: ResetStates.
    const char *Script;
    bool InitializedAfter;
};

const StateCase StateCases[] = {
    {"SetOutsideAnyBlock", "VI", true},
    {"NeverSet", "VBNE", false},
    {"IfElseBothSet", "VBINIE", true},
    {"IfElseOnlyFirstSets", "VBINE", false},
    {"IfElseOnlySecondSets", "VBNIE", false},
    {"ThreeBranchesAllSet", "VBININIE", true},
    {"ElseIfWithoutElseAllSet", "VBINININE", false},
    {"ThreeBranchesMiddleMisses", "VBINNIE", false},
    {"WhileBodySets", "VBIE", false},
    {"SetBeforeStaysSet", "VIBNE", true},
    {"NestedBlocksAllPaths", "VBBINIENIE", true},
    {"NestedInnerMissesAPath", "VBBINENIE", false},
    {"CreatedInsideBothBranchesSet", "BVINIE", true},
    {"CreatedInsideOneBranchSets", "BVINE", false},
    {"ResetInsideABlock", "VBRNE", true},
    {"SetInInnerBlockOfOneBranch", "VBBIENIE", false},
};

class StorageStates : public testing::TestWithParam<StateCase> {};

TEST_P(StorageStates, FollowsEveryPath) {
    const StateCase &c = GetParam();
    TStorageList list;
    TVariableNode *variable = nullptr;
    for (const char *op = c.Script; *op; op++) {
        switch (*op) {
        case 'B':
            list.BeginBlock();
            break;
        case 'N':
            list.NextBranch();
            break;
        case 'E':
            list.EndBlock();
            break;
        case 'V':
            variable = list.AddNode(Variable("x", vtFloat));
            break;
        case 'I':
            variable->SetInitialized();
            break;
        case 'R':
            variable->ResetStates();
            break;
        }
    }
    ASSERT_EQ(list.Level, 0);
    EXPECT_EQ(variable->IsInitialized(), c.InitializedAfter);
    EXPECT_EQ(variable->StateCount(), 1);
    EXPECT_EQ(variable->Level, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, StorageStates, testing::ValuesIn(StateCases),
                         [](const testing::TestParamInfo<StateCase> &info) { return info.param.Name; });

TEST(StorageStates, BranchCountAndLevelsFollowTheBlocks) {
    TStorageList list;
    list.BeginBlock();
    list.NextBranch();
    list.BeginBlock();
    EXPECT_EQ(list.Level, 2);
    EXPECT_EQ(list.GetBranchCount(), 0);
    list.EndBlock();
    EXPECT_EQ(list.GetBranchCount(), 1);
    list.EndBlock();
    EXPECT_EQ(list.Level, 0);
    EXPECT_THROW(list.EndBlock(), EStorageError);
    EXPECT_EQ(list.Level, 0);
    list.BeginBlock();
    list.Clear();
    EXPECT_EQ(list.Level, 0);
    EXPECT_EQ(list.GetBranchCount(), 0);
}

} // namespace
