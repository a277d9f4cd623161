#include "CompAccess.h"

#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "CompGlobalsTestSupport.h"
#include "CompMessages.h"
#include "CompRoutines.h"
#include "CompRoutinesTestSupport.h"

namespace {

std::vector<std::uint8_t> Bytes(const TCodeAssembler &Code) {
    return std::vector<std::uint8_t>(Code.GetCode(), Code.GetCode() + Code.GetSize());
}

std::vector<std::uint8_t> Sequence(int From, int Count) {
    std::vector<std::uint8_t> bytes(static_cast<size_t>(Count));
    for (int i = 0; i < Count; ++i)
        bytes[static_cast<size_t>(i)] = static_cast<std::uint8_t>(From + i);
    return bytes;
}

// ---------------------------------------------------------------------------------------------
// Code buffer

// Counts buffer allocations and poisons released buffers, so that reading a stale buffer shows.
class TCountingAssembler : public TCodeAssembler {
public:
    ~TCountingAssembler() override { ReleaseCode(); }
    int Allocations = 0, Releases = 0;

protected:
    void *AllocCode(std::int32_t Size) override {
        ++Allocations;
        FSizes[Allocations] = Size;
        auto *buffer = new std::uint8_t[static_cast<size_t>(Size)];
        std::memset(buffer, 0xCC, static_cast<size_t>(Size));
        FBuffers[buffer] = Size;
        return buffer;
    }
    void FreeCode(void *Buffer) override {
        ++Releases;
        auto *buffer = static_cast<std::uint8_t *>(Buffer);
        std::memset(buffer, 0xEE, static_cast<size_t>(FBuffers.at(buffer)));
        FBuffers.erase(buffer);
        delete[] buffer;
    }

private:
    std::map<int, int> FSizes;
    std::map<std::uint8_t *, int> FBuffers;
};

TEST(CompCodeAssembler, GrowsInWholePagesWithASpareOneAtAnExactMultiple) {
    const struct {
        int Count, Capacity;
    } cases[] = {{1, 4096}, {4095, 4096}, {4096, 8192}, {4097, 8192}, {10000, 12288}};
    for (const auto &c : cases) {
        TCodeAssembler code;
        const std::vector<std::uint8_t> bytes = Sequence(0, c.Count);
        code.Emit(bytes.data(), c.Count);
        EXPECT_EQ(code.GetCapacity(), c.Capacity) << c.Count;
        EXPECT_EQ(code.GetSize(), c.Count);
        EXPECT_EQ(code.GetPosition(), c.Count);
        EXPECT_EQ(Bytes(code), bytes);
    }
}

TEST(CompCodeAssembler, GrowingMovesEveryValidByteAndFreesTheOldBuffer) {
    TCountingAssembler code;
    const std::vector<std::uint8_t> first = Sequence(1, 4000);
    code.Emit(first.data(), 4000);
    // Patch near the start, then append across the page boundary from the end.
    const std::uint8_t patch[8] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};
    code.SetPosition(100);
    code.Emit(patch, 8);
    EXPECT_EQ(code.GetSize(), 4000) << "re-emitting inside the code keeps the size";
    code.SetPosition(4000);
    const std::vector<std::uint8_t> second = Sequence(7, 300);
    code.Emit(second.data(), 300);
    EXPECT_EQ(code.Allocations, 2);
    EXPECT_EQ(code.Releases, 1);
    std::vector<std::uint8_t> expected = first;
    std::copy(patch, patch + 8, expected.begin() + 100);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(Bytes(code), expected);

    // Moving back and emitting beyond the capacity keeps the bytes before the position.
    code.SetPosition(50);
    const std::vector<std::uint8_t> third = Sequence(3, 9000);
    code.Emit(third.data(), 9000);
    EXPECT_EQ(code.GetCapacity(), 12288);
    expected.resize(50);
    expected.insert(expected.end(), third.begin(), third.end());
    EXPECT_EQ(Bytes(code), expected);
}

TEST(CompCodeAssembler, SetPositionOutsideTheCodeIsIgnored) {
    TCodeAssembler code;
    const std::vector<std::uint8_t> bytes = Sequence(0, 20);
    code.Emit(bytes.data(), 20);
    for (int p : {21, -1, 1000})
        code.SetPosition(p);
    EXPECT_EQ(code.GetPosition(), 20);
    code.SetPosition(20);
    EXPECT_EQ(code.GetPosition(), 20) << "the end itself is a valid position";
    code.SetPosition(0);
    EXPECT_EQ(code.GetPosition(), 0);
}

TEST(CompCodeAssembler, NothingToEmitChangesNothing) {
    TCodeAssembler code;
    const std::uint8_t byte = 0x90;
    code.Emit(nullptr, 5);
    code.Emit(&byte, 0);
    code.Emit(&byte, -3);
    EXPECT_EQ(code.GetCode(), nullptr);
    EXPECT_EQ(code.GetSize(), 0);
}

TEST(CompCodeAssembler, ClearKeepsTheBufferForTheNextCode) {
    TCountingAssembler code;
    const std::vector<std::uint8_t> bytes = Sequence(0, 100);
    code.Emit(bytes.data(), 100);
    std::uint8_t *buffer = code.GetCode();
    code.Clear();
    EXPECT_EQ(code.GetSize(), 0);
    EXPECT_EQ(code.GetPosition(), 0);
    code.Emit(bytes.data(), 10);
    EXPECT_EQ(code.GetCode(), buffer);
    EXPECT_EQ(code.Allocations, 1);
    code.SetPosition(50);
    EXPECT_EQ(code.GetPosition(), 10) << "bytes beyond the new size are no longer valid";
}

// ---------------------------------------------------------------------------------------------
// Encodings against the table assembled by tools/comp_access_encodings.py

const TObject *const FormulaAddress = reinterpret_cast<const TObject *>(0x12345678);

using TAction = std::function<void(TProcessorAccess &)>;

std::map<std::string, TAction> EncodingActions() {
    std::map<std::string, TAction> actions;
    for (const auto &[where, offset, inContext] :
         {std::tuple<std::string, int, bool>{"esi", 0x1D0, true}, {"edi", 0x28, false}}) {
        for (const char *precision : {"Double", "Extended"}) {
            const std::string p = std::string(precision) + ".";
            const int o = offset;
            const bool c = inContext;
            actions[p + "LoadReal." + where] = [o, c](TProcessorAccess &a) { a.LoadReal(o, c); };
            actions[p + "StoreReal." + where] = [o, c](TProcessorAccess &a) { a.StoreReal(o, c); };
            actions[p + "StoreRealPop." + where] = [o, c](TProcessorAccess &a) { a.StoreRealPop(o, c); };
            actions[p + "LoadComplex." + where] = [o, c](TProcessorAccess &a) { a.LoadComplex(o, c); };
            actions[p + "StoreComplex." + where] = [o, c](TProcessorAccess &a) { a.StoreComplex(o, c); };
            actions[p + "StoreComplexPop." + where] = [o, c](TProcessorAccess &a) {
                a.StoreComplexPop(o, c);
            };
        }
    }
    for (const char *precision : {"Double", "Extended"}) {
        const std::string p = std::string(precision) + ".";
        actions[p + "LoadRealIndexed"] = [](TProcessorAccess &a) { a.LoadRealIndexed(0x40); };
        actions[p + "StoreRealIndexed"] = [](TProcessorAccess &a) { a.StoreRealIndexed(0x40); };
        actions[p + "StoreRealIndexedPop"] = [](TProcessorAccess &a) { a.StoreRealIndexedPop(0x40); };
        actions[p + "LoadComplexIndexed"] = [](TProcessorAccess &a) { a.LoadComplexIndexed(0x40); };
        actions[p + "StoreComplexIndexed"] = [](TProcessorAccess &a) { a.StoreComplexIndexed(0x40); };
        actions[p + "StoreComplexIndexedPop"] = [](TProcessorAccess &a) { a.StoreComplexIndexedPop(0x40); };
    }
    for (const auto &[where, offset, inContext] :
         {std::tuple<std::string, int, bool>{"esi", 0x38, true}, {"edi", 0x124, false}}) {
        const int o = offset;
        const bool c = inContext;
        actions["LoadInt." + where] = [o, c](TProcessorAccess &a) { a.LoadInt(o, c); };
        actions["LoadIntEdx." + where] = [o, c](TProcessorAccess &a) { a.LoadIntEdx(o, c); };
        actions["LoadBool." + where] = [o, c](TProcessorAccess &a) { a.LoadBool(o, c); };
        actions["LoadBoolDl." + where] = [o, c](TProcessorAccess &a) { a.LoadBoolDl(o, c); };
        actions["StoreInt." + where] = [o, c](TProcessorAccess &a) { a.StoreInt(o, c); };
        actions["StoreIntEdx." + where] = [o, c](TProcessorAccess &a) { a.StoreIntEdx(o, c); };
        actions["StoreBool." + where] = [o, c](TProcessorAccess &a) { a.StoreBool(o, c); };
        actions["LoadColor." + where] = [o, c](TProcessorAccess &a) { a.LoadColor(o, c); };
        actions["StoreColor." + where] = [o, c](TProcessorAccess &a) { a.StoreColor(o, c); };
        actions["StoreColorPop." + where] = [o, c](TProcessorAccess &a) { a.StoreColorPop(o, c); };
    }
    actions["LoadIntIndexed"] = [](TProcessorAccess &a) { a.LoadIntIndexed(0x50); };
    actions["LoadBoolIndexed"] = [](TProcessorAccess &a) { a.LoadBoolIndexed(0x50); };
    actions["StoreIntIndexed"] = [](TProcessorAccess &a) { a.StoreIntIndexed(0x50); };
    actions["StoreBoolIndexed"] = [](TProcessorAccess &a) { a.StoreBoolIndexed(0x50); };
    actions["LoadColorIndexed"] = [](TProcessorAccess &a) { a.LoadColorIndexed(0x50); };
    actions["StoreColorIndexed"] = [](TProcessorAccess &a) { a.StoreColorIndexed(0x50); };
    actions["StoreColorIndexedPop"] = [](TProcessorAccess &a) { a.StoreColorIndexedPop(0x50); };
    actions["LoadIntImmediate"] = [](TProcessorAccess &a) { a.LoadIntImmediate(-5); };
    actions["LoadEdxImmediate"] = [](TProcessorAccess &a) { a.LoadEdxImmediate(0x7FFFFFFF); };
    actions["LoadBoolImmediate"] = [](TProcessorAccess &a) { a.LoadBoolImmediate(1); };
    actions["EmitSaveValue"] = [](TProcessorAccess &a) { a.EmitSaveValue(); };
    actions["EmitRestoreValue"] = [](TProcessorAccess &a) { a.EmitRestoreValue(); };
    actions["EmitDropColor"] = [](TProcessorAccess &a) { a.EmitDropColor(); };
    actions["EmitScaleIndex.16"] = [](TProcessorAccess &a) { a.EmitScaleIndex(16); };
    actions["EmitScaleIndex.1000"] = [](TProcessorAccess &a) { a.EmitScaleIndex(1000); };
    actions["EmitScaleIndex.2^25"] = [](TProcessorAccess &a) { a.EmitScaleIndex(1u << 25); };
    actions["EmitBoundsCheck.1000"] = [](TProcessorAccess &a) {
        a.EmitBoundsCheck(1000, FormulaAddress, false, {3, 14});
    };
    actions["EmitBoundsCheck.1000.Debug"] = [](TProcessorAccess &a) {
        a.EmitBoundsCheck(1000, FormulaAddress, true, {3, 14});
    };
    // Line and column beyond 65535 are cut to 65535.
    actions["EmitRuntimeError.2"] = [](TProcessorAccess &a) {
        a.EmitRuntimeError(FormulaAddress, 2, {70000, 123456});
    };
    actions["EmitBlockCopy.24"] = [](TProcessorAccess &a) { a.EmitBlockCopy(0x100, 0x200, 24); };
    actions["EmitBlockCopy.6"] = [](TProcessorAccess &a) { a.EmitBlockCopy(0x100, 0x200, 6); };
    actions["EmitBlockCopy.48"] = [](TProcessorAccess &a) { a.EmitBlockCopy(0x100, 0x200, 48); };
    actions["EmitBlockCopy.12"] = [](TProcessorAccess &a) { a.EmitBlockCopy(0x100, 0x200, 12); };
    actions["EmitJumpIfFalse.100"] = [](TProcessorAccess &a) { a.EmitJumpIfFalse(100); };
    actions["EmitJumpIfFalse.-40"] = [](TProcessorAccess &a) { a.EmitJumpIfFalse(-40); };
    actions["EmitJump.100"] = [](TProcessorAccess &a) { a.EmitJump(100); };
    actions["EmitJump.-40"] = [](TProcessorAccess &a) { a.EmitJump(-40); };
    actions["EmitDiscardComplex"] = [](TProcessorAccess &a) { a.EmitDiscardComplex(); };
    actions["EmitDiscardReal"] = [](TProcessorAccess &a) { a.EmitDiscardReal(); };
    return actions;
}

std::vector<std::uint8_t> ExpectedBytes(const std::string &Text) {
    std::vector<std::uint8_t> bytes;
    std::istringstream in(Text);
    std::string token;
    while (in >> token) {
        if (token[0] == 'R') {
            const int routine = std::stoi(token.substr(1));
            bytes.insert(bytes.end(), RoutineAddress(routine),
                         RoutineAddress(routine) + RoutineLength(routine));
        } else {
            bytes.push_back(static_cast<std::uint8_t>(std::stoul(token, nullptr, 16)));
        }
    }
    return bytes;
}

TEST(CompAccessEncodings, EveryEmitterWritesTheAssembledInstructions) {
    std::ifstream file(std::string(TEST_DATA_DIR) + "compiler\\data\\CompAccess_encodings.txt");
    ASSERT_TRUE(file.is_open());
    const std::map<std::string, TAction> actions = EncodingActions();
    int checked = 0;
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const size_t bar = line.find(" | ");
        const std::string name = line.substr(0, bar);
        SCOPED_TRACE(name);
        ASSERT_TRUE(actions.count(name)) << "no emitter for this case";
        const std::vector<std::uint8_t> expected = ExpectedBytes(line.substr(bar + 3));
        // Cases without a precision prefix hold in every precision.
        std::vector<std::unique_ptr<TProcessorAccess>> accesses;
        if (name.rfind("Double.", 0) == 0)
            accesses.push_back(CreateProcessorAccess(pmDouble));
        else if (name.rfind("Extended.", 0) == 0)
            accesses.push_back(CreateProcessorAccess(pmExtended));
        else {
            accesses.push_back(CreateProcessorAccess(pmDouble));
            accesses.push_back(CreateProcessorAccess(pmExtended));
        }
        for (const auto &access : accesses) {
            actions.at(name)(*access);
            EXPECT_EQ(Bytes(*access), expected) << access->ClassName();
        }
        ++checked;
    }
    EXPECT_EQ(checked, static_cast<int>(actions.size())) << "every emitter case has a line in the table";
}

TEST(CompAccessEncodings, ScaleIndexFormsForSmallAndUnusualStrides) {
    const struct {
        std::uint32_t Stride;
        std::vector<std::uint8_t> Bytes;
    } cases[] = {
        {1, {}},
        {2, {0xC1, 0xE0, 0x01}},
        {16, {0xC1, 0xE0, 0x04}},
        {1u << 24, {0xC1, 0xE0, 0x18}},
        {48, {0x69, 0xC0, 0x30, 0x00, 0x00, 0x00}},
        {1u << 25, {0x69, 0xC0, 0x00, 0x00, 0x00, 0x02}},
        {0, {0x69, 0xC0, 0x00, 0x00, 0x00, 0x00}},
    };
    for (const auto &c : cases) {
        TDoubleAccess access;
        access.EmitScaleIndex(c.Stride);
        EXPECT_EQ(Bytes(access), c.Bytes) << c.Stride;
    }
}

// z = sqr(z) + pixel in double precision, as the generator emits it: both loads, the square, the
// addition and the popping store, 58 bytes.
TEST(CompAccessEncodings, CompiledStatementExampleInDoublePrecision) {
    TDoubleAccess access;
    access.LoadComplex(208, true);
    access.LoadComplex(176, true);
    access.EmitFunction(14, vtComplex, vtComplex);
    access.EmitOperator(opAdd, 1, vtComplex, vtComplex, vtComplex);
    access.StoreComplexPop(176, true);
    const std::vector<std::uint8_t> expected = {
        0xDD, 0x86, 0xD8, 0x00, 0x00, 0x00, 0xDD, 0x86, 0xD0, 0x00, 0x00, 0x00, 0xDD, 0x86, 0xB8,
        0x00, 0x00, 0x00, 0xDD, 0x86, 0xB0, 0x00, 0x00, 0x00, 0xD9, 0xC0, 0xD8, 0xC8, 0xD9, 0xC2,
        0xD8, 0xC8, 0xD9, 0xCA, 0xD8, 0xC0, 0xD9, 0xC9, 0xDE, 0xE2, 0xDE, 0xCA, 0xDE, 0xC2, 0xDE,
        0xC2, 0xDD, 0x9E, 0xB0, 0x00, 0x00, 0x00, 0xDD, 0x9E, 0xB8, 0x00, 0x00, 0x00};
    EXPECT_EQ(Bytes(access), expected);
}

// ---------------------------------------------------------------------------------------------
// Routine choice

TEST(CompAccessRoutines, OperatorRoutinesByOperandTypesAndOrder) {
    const int C = vtComplex, F = vtFloat, I = vtInteger, B = vtBoolean, K = vtColor;
    const struct {
        int Operator, Left, Right, Ordered, Reversed;
    } cases[] = {
        {opAdd, C, C, 22, 22},
        {opAdd, C, F, 146, 147},
        {opSubtract, C, C, 23, 24},
        {opSubtract, C, F, 148, 151},
        {opMultiply, C, C, 25, 25},
        {opMultiply, C, F, 144, 145},
        {opDivide, C, C, 26, 27},
        {opDivide, C, F, 152, 153},
        {opPower, C, C, 28, 29},
        {opPower, C, F, 28, 29},
        {opEqual, C, F, 68, 68},
        {opNotEqual, C, C, 69, 69},
        {opAdd, F, C, 147, 146},
        {opAdd, F, F, 78, 78},
        {opSubtract, F, C, 149, 150},
        {opSubtract, F, F, 79, 80},
        {opMultiply, F, C, 145, 144},
        {opMultiply, F, F, 81, 81},
        {opDivide, F, C, 82, 83},
        {opDivide, F, F, 82, 83},
        {opPower, F, F, 86, 87},
        {opModulo, F, F, 84, 85},
        {opEqual, F, F, 118, 118},
        {opNotEqual, F, C, 119, 119},
        {opLess, F, F, 120, 120},
        {opLessEqual, F, F, 121, 121},
        {opGreater, F, C, 122, 122},
        {opGreaterEqual, F, F, 123, 123},
        {opAdd, I, I, 124, 124},
        {opSubtract, I, I, 125, 125},
        {opMultiply, I, I, 126, 126},
        {opModulo, I, I, 127, 127},
        {opEqual, I, I, 133, 133},
        {opNotEqual, I, I, 134, 134},
        {opLess, I, I, 135, 135},
        {opLessEqual, I, I, 136, 136},
        {opGreater, I, I, 137, 137},
        {opGreaterEqual, I, I, 138, 138},
        {opEqual, B, B, 139, 139},
        {opNotEqual, B, B, 140, 140},
        {opAnd, B, B, 141, 141},
        {opOr, B, B, 142, 142},
        {opAdd, K, K, 154, 154},
        {opSubtract, K, K, 155, 155},
        {opMultiply, K, F, 156, 156},
        {opDivide, K, F, 157, 157},
        // Combinations without a routine.
        {opModulo, C, C, 0, 0},
        {opLess, C, C, 0, 0},
        {opAnd, I, I, 0, 0},
        {opAdd, B, B, 0, 0},
        {opPower, K, F, 0, 0},
        {opAdd, C, I, 0, 0},
    };
    TDoubleAccess access;
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "operator " << c.Operator << ", left " << c.Left << ", right " << c.Right);
        EXPECT_EQ(access.GetOperatorRoutine(c.Operator, 1, 0, c.Right, c.Left), c.Ordered);
        EXPECT_EQ(access.GetOperatorRoutine(c.Operator, 3, 0, c.Right, c.Left), c.Ordered);
        EXPECT_EQ(access.GetOperatorRoutine(c.Operator, 2, 0, c.Right, c.Left), c.Reversed);
    }
}

TEST(CompAccessRoutines, UnaryOperatorRoutines) {
    TDoubleAccess access;
    EXPECT_EQ(access.GetUnaryOperatorRoutine(uoNegate, vtComplex), 30);
    EXPECT_EQ(access.GetUnaryOperatorRoutine(uoModulus, vtComplex), 57);
    EXPECT_EQ(access.GetUnaryOperatorRoutine(uoNot, vtComplex), 0);
    // Only a complex operand's operator code is looked at.
    EXPECT_EQ(access.GetUnaryOperatorRoutine(uoModulus, vtFloat), 88);
    EXPECT_EQ(access.GetUnaryOperatorRoutine(uoNegate, vtInteger), 128);
    EXPECT_EQ(access.GetUnaryOperatorRoutine(uoNot, vtBoolean), 143);
    EXPECT_EQ(access.GetUnaryOperatorRoutine(uoNegate, vtColor), 0);
}

TEST(CompAccessRoutines, FunctionRoutinesByArgumentAndResultType) {
    const int C = vtComplex, F = vtFloat, I = vtInteger, B = vtBoolean, K = vtColor;
    const struct {
        int Function, Argument, Result, Routine;
    } cases[] = {
        {0, C, C, 31},
        {6, C, C, 36},
        {12, C, C, 43},
        {14, C, C, 45},
        {19, C, C, 56},
        {21, C, C, 62},
        {22, C, C, 0},
        {24, C, C, 58},
        {26, C, C, 63},
        {28, C, C, 66},
        {fnTimesTwo, C, C, 46},
        {fnTimesMinusI, C, C, 48},
        {fnFourthPower, C, C, 50},
        {19, C, F, 55},
        {29, C, F, 60},
        {30, C, F, 61},
        {31, C, F, 67},
        {0, C, F, 0},
        {fnToComplex, F, C, 192},
        {fnTimesI, F, C, 105},
        {fnTimesMinusI, F, C, 106},
        {1, F, F, 91},
        {11, F, F, 100},
        {13, F, F, 102},
        {15, F, F, 109},
        {16, F, F, 110},
        {18, F, F, 112},
        {19, F, F, 0},
        {24, F, F, 113},
        {fnTimesTwo, F, F, 104},
        {fnCube, F, F, 107},
        {25, F, I, 115},
        {26, F, I, 114},
        {27, F, I, 117},
        {28, F, I, 116},
        {35, F, K, 158},
        {38, F, K, 161},
        {fnToComplex, I, C, 193},
        {fnToFloat, I, F, 194},
        {fnTimesTwo, I, I, 130},
        {14, I, I, 129},
        {18, I, I, 131},
        {33, I, I, 132},
        {fnToInteger, B, I, 197},
        {fnToFloat, B, F, 196},
        {fnToComplex, B, C, 195},
        {39, K, F, 162},
        {42, K, F, 168},
        {43, K, F, 165},
        {45, K, F, 167},
        {47, K, K, 171},
        {48, K, K, 172},
        {49, K, K, 173},
        {52, K, K, 176},
        {67, K, K, 191},
        {46, F, K, 0},
    };
    TDoubleAccess access;
    for (const auto &c : cases)
        EXPECT_EQ(access.GetFunctionRoutine(c.Function, c.Argument, c.Result), c.Routine)
            << "function " << c.Function << ", " << c.Argument << " to " << c.Result;
}

TEST(CompAccessRoutines, OldZDependsOnThePrecision) {
    EXPECT_EQ(CreateProcessorAccess(pmDouble)->GetFunctionRoutine(32, vtInteger, vtComplex), 2);
    EXPECT_EQ(CreateProcessorAccess(pmExtended)->GetFunctionRoutine(32, vtInteger, vtComplex), 3);
}

class TFunctionChooser {
public:
    int Asked = 0;
    int Answer = 0;
    void Select(int Function, int ArgumentType, int ResultType, int &Routine) {
        ++Asked;
        EXPECT_EQ(Routine, 0) << "the routine variable starts at 0";
        if (Function == 46)
            Routine = Answer;
    }
};

TEST(CompAccessRoutines, TheFormulaClassIsAskedFirst) {
    TDoubleAccess access;
    TFunctionChooser chooser;
    chooser.Answer = 169;
    access.OnSelectFunction = MakeEvent<&TFunctionChooser::Select>(&chooser);
    EXPECT_EQ(access.GetFunctionRoutine(46, vtFloat, vtColor), 169);
    // A zero answer falls back to the built-in choice, also for oldz.
    EXPECT_EQ(access.GetFunctionRoutine(0, vtFloat, vtFloat), 89);
    EXPECT_EQ(access.GetFunctionRoutine(32, vtInteger, vtComplex), 2);
    EXPECT_EQ(chooser.Asked, 3);
    EXPECT_EQ(access.GetFunctionStackUse(46, vtFloat, vtColor), 7);
}

TEST(CompAccessRoutines, IdentEmitsNothingAndZeroReplacesTheArgument) {
    TDoubleAccess access;
    access.EmitFunction(22, vtComplex, vtComplex);
    EXPECT_EQ(access.GetSize(), 0);
    EXPECT_EQ(access.GetFunctionStackUse(22, vtComplex, vtComplex), 0);
    EXPECT_EQ(access.GetFunctionStackUse(23, vtComplex, vtComplex), 0);
    access.EmitFunction(23, vtComplex, vtComplex);
    std::vector<std::uint8_t> expected(RoutineAddress(21), RoutineAddress(21) + RoutineLength(21));
    expected.insert(expected.end(), RoutineAddress(18), RoutineAddress(18) + RoutineLength(18));
    EXPECT_EQ(Bytes(access), expected);
    // Routine 0 (no routine) emits nothing.
    TDoubleAccess none;
    none.EmitRoutine(0);
    none.EmitOperator(opModulo, 1, vtComplex, vtComplex, vtComplex);
    EXPECT_EQ(none.GetSize(), 0);
}

class TCountingHugeAccess : public TDoubleAccess {};
int HugeAccessesMade = 0;

TEST(CompAccessFactory, PrecisionSelectsTheAccessClass) {
    EXPECT_STREQ(CreateProcessorAccess(0)->ClassName(), "TDoubleAccess");
    EXPECT_STREQ(CreateProcessorAccess(1)->ClassName(), "TExtendedAccess");
    RegisterHugeAccessFactory(nullptr);
    EXPECT_THROW(CreateProcessorAccess(2), EInternalCompilerError);
    RegisterHugeAccessFactory([]() -> std::unique_ptr<TProcessorAccess> {
        ++HugeAccessesMade;
        return std::make_unique<TCountingHugeAccess>();
    });
    for (int precision : {2, 3, -1})
        EXPECT_NE(CreateProcessorAccess(precision), nullptr);
    EXPECT_EQ(HugeAccessesMade, 3);
    RegisterHugeAccessFactory(nullptr);
}

// ---------------------------------------------------------------------------------------------
// Emitted code run in executable memory

struct TBlock {
    alignas(16) std::uint8_t Bytes[512] = {};
    template <class T> T &At(int Offset) { return *reinterpret_cast<T *>(Bytes + Offset); }
    long double Extended(int Offset) {
        long double value = 0;
        std::memcpy(&value, Bytes + Offset, 10);
        return value;
    }
    void SetExtended(int Offset, long double Value) { std::memcpy(Bytes + Offset, &Value, 10); }
};

TCodeRun RunAccess(const TProcessorAccess &Access, TCodeRun Run) {
    Access.FlushCode();
    RunCode(Access.GetCode(), Access.GetSize(), Run);
    return Run;
}

TEST(CompAccessExecution, ComplexStoresKeepOrPopAndLoadsRestoreBothPrecisions) {
    for (int precision : {pmDouble, pmExtended}) {
        for (bool inContext : {true, false}) {
            SCOPED_TRACE(testing::Message() << "precision " << precision << ", context " << inContext);
            const int realSize = precision == pmDouble ? 8 : 16;
            TBlock context, data;
            // Keep-store into offset 0x40, pop-store into 0x80, then load both back.
            std::unique_ptr<TProcessorAccess> access = CreateProcessorAccess(precision);
            access->StoreComplex(0x40, inContext);
            access->StoreComplexPop(0x80, inContext);
            access->LoadComplex(0x40, inContext);
            access->LoadComplex(0x80, inContext);
            TCodeRun run;
            run.X87In = {1.0L / 3, -2.0L / 7};
            // The keeping store in extended precision copies through one free register.
            run.StackUse = precision == pmExtended ? 1 : 0;
            run.X87OutCount = 4;
            run.Context = context.Bytes;
            run.Data = data.Bytes;
            run = RunAccess(*access, run);
            TBlock &target = inContext ? context : data;
            const long double re = precision == pmDouble ? static_cast<double>(1.0L / 3) : 1.0L / 3;
            const long double im = precision == pmDouble ? static_cast<double>(-2.0L / 7) : -2.0L / 7;
            if (precision == pmDouble) {
                EXPECT_EQ(target.At<double>(0x40), re);
                EXPECT_EQ(target.At<double>(0x40 + realSize), im);
            } else {
                EXPECT_EQ(target.Extended(0x40), re);
                EXPECT_EQ(target.Extended(0x40 + realSize), im);
            }
            EXPECT_EQ(run.X87Out, (std::vector<long double>{re, im, re, im}));
            EXPECT_TRUE(run.SentinelsIntact);
            EXPECT_FALSE(run.StackFault);
            EXPECT_TRUE(run.FpuEmpty && run.RegistersKept);
        }
    }
}

TEST(CompAccessExecution, IndexedFormsAddTheByteOffsetInEax) {
    for (int precision : {pmDouble, pmExtended}) {
        SCOPED_TRACE(precision);
        const int realSize = precision == pmDouble ? 8 : 16;
        TBlock data;
        std::unique_ptr<TProcessorAccess> access = CreateProcessorAccess(precision);
        access->StoreComplexIndexed(0x20);
        access->StoreComplexIndexedPop(0x60);
        access->LoadRealIndexed(0x60 + realSize);
        access->StoreRealIndexed(0xA0);
        access->LoadComplexIndexed(0x20);
        TCodeRun run;
        run.X87In = {0.75L, -1.5L};
        run.Eax = 2 * 2 * realSize; // element 2 of a complex array
        run.StackUse = 1;
        run.X87OutCount = 3;
        run.Data = data.Bytes;
        run = RunAccess(*access, run);
        EXPECT_EQ(run.X87Out, (std::vector<long double>{0.75L, -1.5L, -1.5L}));
        const int base = static_cast<int>(run.Eax);
        for (int offset : {0x20, 0x60}) {
            if (precision == pmDouble) {
                EXPECT_EQ(data.At<double>(base + offset), 0.75);
                EXPECT_EQ(data.At<double>(base + offset + 8), -1.5);
            } else {
                EXPECT_EQ(data.Extended(base + offset), 0.75L);
                EXPECT_EQ(data.Extended(base + offset + 16), -1.5L);
            }
        }
        EXPECT_EQ(precision == pmDouble ? data.At<double>(base + 0xA0) : data.Extended(base + 0xA0), -1.5L);
        EXPECT_EQ(data.At<std::uint32_t>(0x20), 0u) << "nothing written at the unindexed place";
        EXPECT_TRUE(run.SentinelsIntact && !run.StackFault && run.FpuEmpty && run.RegistersKept);
    }
}

TEST(CompAccessExecution, IndexedIntAndBoolStoresLeaveTheValueAsResult) {
    const struct {
        bool IsBool;
        std::uint32_t Value, Expected;
    } cases[] = {{false, 0x11223344, 0x11223344}, {true, 0xABCDEF01, 0x01}};
    for (const auto &c : cases) {
        TBlock data;
        data.At<std::uint32_t>(8 + 0x10) = 0x55555555;
        TDoubleAccess store;
        c.IsBool ? store.StoreBoolIndexed(0x10) : store.StoreIntIndexed(0x10);
        TCodeRun run;
        run.Eax = 8;
        run.Edx = c.Value;
        run.Data = data.Bytes;
        run = RunAccess(store, run);
        EXPECT_EQ(run.EaxOut & (c.IsBool ? 0xFF : 0xFFFFFFFF), c.Expected);
        EXPECT_EQ(data.At<std::uint32_t>(8 + 0x10), c.IsBool ? 0x55555501 : c.Value)
            << "a bool writes one byte";

        TDoubleAccess load;
        c.IsBool ? load.LoadBoolIndexed(0x10) : load.LoadIntIndexed(0x10);
        run.Eax = 8;
        run = RunAccess(load, run);
        EXPECT_EQ(run.EaxOut & (c.IsBool ? 0xFF : 0xFFFFFFFF), c.Expected);
    }
}

TEST(CompAccessExecution, ColourLoadsAndStoresMoveSixteenBytesThroughTheStack) {
    TBlock context, data;
    const float colour[4] = {0.25f, 0.5f, 0.75f, 1.0f};
    std::memcpy(data.Bytes + 0x40, colour, 16);
    TExtendedAccess access;
    access.LoadColor(0x40, false);
    access.StoreColor(0x80, true);
    access.LoadIntImmediate(0x20);
    access.StoreColorIndexedPop(0x10);
    access.LoadIntImmediate(0x20);
    access.LoadColorIndexed(0x10);
    access.LoadIntImmediate(0x40);
    access.StoreColorIndexed(0x40);
    TCodeRun run;
    run.Context = context.Bytes;
    run.Data = data.Bytes;
    run.ColorOut = true;
    run = RunAccess(access, run);
    EXPECT_EQ(std::memcmp(context.Bytes + 0x80, colour, 16), 0);
    EXPECT_EQ(std::memcmp(data.Bytes + 0x30, colour, 16), 0);
    EXPECT_EQ(std::memcmp(data.Bytes + 0x80, colour, 16), 0);
    EXPECT_EQ(std::memcmp(run.ColorOutValue, colour, 16), 0);
    EXPECT_EQ(run.EspChange, -16);
    EXPECT_TRUE(run.RegistersKept);
}

TEST(CompAccessExecution, BlockCopyMovesTheBytesOfTheDataBlock) {
    for (int size : {1, 6, 12, 24, 48}) {
        TBlock data;
        for (int i = 0; i < 64; ++i)
            data.Bytes[i] = static_cast<std::uint8_t>(i + 1);
        TDoubleAccess access;
        access.EmitBlockCopy(0x100, 0x8, size);
        TCodeRun run;
        run.Data = data.Bytes;
        run = RunAccess(access, run);
        for (int i = 0; i < 64; ++i)
            ASSERT_EQ(data.Bytes[0x100 + i], i < size ? i + 9 : 0) << "size " << size << ", byte " << i;
    }
    TDoubleAccess nothing;
    nothing.EmitBlockCopy(0x100, 0x8, 0);
    EXPECT_EQ(nothing.GetSize(), 0);
}

TEST(CompAccessExecution, JumpsCountFromTheirFirstByteAndCanBePatched) {
    // if (al) eax := 77: the conditional jump, patched after the body is known.
    for (std::uint32_t condition : {0u, 1u, 0x100u}) {
        TDoubleAccess access;
        access.EmitJumpIfFalse(0);
        const int body = access.GetPosition();
        access.LoadIntImmediate(77);
        const int end = access.GetPosition();
        access.SetPosition(0);
        access.EmitJumpIfFalse(end);
        access.SetPosition(end);
        EXPECT_EQ(access.GetSize(), body + 5);
        TCodeRun run;
        run.Eax = condition;
        run = RunAccess(access, run);
        EXPECT_EQ(run.EaxOut, (condition & 0xFF) ? 77u : condition) << condition;
    }
    // Forward over a block, then back into it: 0 jmp 15 | 5 mov eax, 5 | 10 jmp 20 | 15 jmp 5 | 20.
    TDoubleAccess access;
    access.EmitJump(15);
    access.LoadIntImmediate(5);
    access.EmitJump(10);
    access.EmitJump(-10);
    TCodeRun run;
    run = RunAccess(access, run);
    EXPECT_EQ(run.EaxOut, 5u);
}

class CompAccessBoundsCheck : public testing::Test {
protected:
    void SetUp() override {
        FGlobals.Start();
        ErrorManager()->SetFormula(&FFormula);
        ErrorManager()->Clear();
    }
    void TearDown() override { FGlobals.Finish(); }
    TObject FFormula;
    TCompilerGlobals FGlobals;
};

TEST_F(CompAccessBoundsCheck, IndexesOutsideTheArrayBecomeTheLastOneReportedOnlyInDebug) {
    const struct {
        std::uint32_t Index, Result;
    } cases[] = {{0, 0}, {3, 3}, {9, 9}, {10, 9}, {12, 9}, {0xFFFFFFFF, 9}, {0x80000000, 9}};
    for (bool debug : {false, true}) {
        int reports = 0;
        for (const auto &c : cases) {
            SCOPED_TRACE(testing::Message() << "debug " << debug << ", index " << c.Index);
            TDoubleAccess access;
            access.EmitBoundsCheck(10, &FFormula, debug, {4, 21});
            alignas(16) std::uint8_t context[512] = {};
            TCodeRun run;
            run.Eax = c.Index;
            run.X87In = {2.5L}; // a value held while the index is computed
            run.X87OutCount = 1;
            run.Context = context;
            run = RunAccess(access, run);
            EXPECT_EQ(run.EaxOut, c.Result);
            EXPECT_EQ(run.X87Out[0], 2.5L);
            EXPECT_TRUE(run.SentinelsIntact && !run.StackFault && run.FpuEmpty && run.RegistersKept);
            if (debug && c.Index != c.Result)
                ++reports;
            EXPECT_EQ(ErrorManager()->GetCount(), reports);
        }
        if (debug) {
            ASSERT_GT(ErrorManager()->GetCount(), 0);
            const TCompilerMessage message = ErrorManager()->GetMessageA(0);
            EXPECT_EQ(message.Text, "Array index out of bounds.");
            EXPECT_EQ(message.Line, 4);
            EXPECT_EQ(message.Column, 21);
        }
        ErrorManager()->Clear();
    }
}

} // namespace
