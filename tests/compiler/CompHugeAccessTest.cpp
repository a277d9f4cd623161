#include "CompHugeAccess.h"

#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompHugeRoutines.h"
#include "CompRoutines.h"
#include "CompTokenizer.h"
#include "HugeFPU.h"

namespace {

std::uint32_t AddressOf(const void *Pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(Pointer));
}

// Expands "B9 {LoadHuge} 89 E8": hex bytes, and names in braces for 32-bit addresses.
std::vector<std::uint8_t> Expand(const std::string &Pattern) {
    const std::map<std::string, std::uint32_t> names = {
        {"LoadHuge", AddressOf(reinterpret_cast<const void *>(&THugeProcessor_LoadHuge))},
        {"StoreHuge", AddressOf(reinterpret_cast<const void *>(&THugeProcessor_StoreHuge))},
        {"StoreHugePop", AddressOf(reinterpret_cast<const void *>(&THugeProcessor_StoreHugePop))},
        {"Exchange", AddressOf(reinterpret_cast<const void *>(&THugeProcessor_Exchange))},
        {"R9", AddressOf(HugeRoutineAddress(9))},
        {"R25", AddressOf(HugeRoutineAddress(25))},
        {"R52", AddressOf(HugeRoutineAddress(52))},
    };
    std::vector<std::uint8_t> bytes;
    std::istringstream in(Pattern);
    std::string token;
    while (in >> token) {
        if (token.front() == '{') {
            const std::uint32_t value = names.at(token.substr(1, token.size() - 2));
            for (int i = 0; i < 4; ++i)
                bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        } else
            bytes.push_back(static_cast<std::uint8_t>(std::stoul(token, nullptr, 16)));
    }
    return bytes;
}

std::vector<std::uint8_t> Bytes(const TCodeAssembler &Code) {
    return std::vector<std::uint8_t>(Code.GetCode(), Code.GetCode() + Code.GetSize());
}

class CompHugeAccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitializeCompRoutines();
        InitializeCompHugeAccess();
    }
    void TearDown() override {
        FinalizeCompHugeAccess();
        FinalizeCompRoutines();
    }
};

struct TEncodingCase {
    const char *Name;
    void (*Emit)(THugeAccess &);
    const char *Expected;
};

// The byte sequences of the call format, written out by hand from the instruction encodings.
const TEncodingCase EncodingCases[] = {
    {"LoadReal edi", [](THugeAccess &A) { A.LoadReal(0x10, false); },
     "B9 {LoadHuge} 89 E8 8B 97 10 00 00 00 FF D1"},
    {"LoadReal esi", [](THugeAccess &A) { A.LoadReal(0x1A8, true); },
     "B9 {LoadHuge} 89 E8 8B 96 A8 01 00 00 FF D1"},
    {"StoreReal", [](THugeAccess &A) { A.StoreReal(-8, false); },
     "B9 {StoreHuge} 89 E8 8B 97 F8 FF FF FF FF D1"},
    {"StoreRealPop", [](THugeAccess &A) { A.StoreRealPop(4, true); },
     "B9 {StoreHugePop} 89 E8 8B 96 04 00 00 00 FF D1"},
    {"LoadRealIndexed", [](THugeAccess &A) { A.LoadRealIndexed(0x20); },
     "B9 {LoadHuge} 8B 94 07 20 00 00 00 89 E8 FF D1"},
    {"StoreRealIndexed", [](THugeAccess &A) { A.StoreRealIndexed(0x20); },
     "B9 {StoreHuge} 8B 94 07 20 00 00 00 89 E8 FF D1"},
    {"StoreRealIndexedPop", [](THugeAccess &A) { A.StoreRealIndexedPop(0); },
     "B9 {StoreHugePop} 8B 94 07 00 00 00 00 89 E8 FF D1"},
    {"LoadComplex", [](THugeAccess &A) { A.LoadComplex(0x30, false); },
     "B9 {LoadHuge} 89 E8 8B 97 34 00 00 00 FF D1 "
     "B9 {LoadHuge} 89 E8 8B 97 30 00 00 00 FF D1"},
    {"StoreComplex", [](THugeAccess &A) { A.StoreComplex(0x30, true); },
     "B9 {StoreHuge} 89 E8 8B 96 30 00 00 00 FF D1 "
     "B9 {Exchange} 89 E8 BA 01 00 00 00 FF D1 "
     "B9 {StoreHuge} 89 E8 8B 96 34 00 00 00 FF D1 "
     "B9 {Exchange} 89 E8 BA 01 00 00 00 FF D1"},
    {"StoreComplexPop", [](THugeAccess &A) { A.StoreComplexPop(0x30, false); },
     "B9 {StoreHugePop} 89 E8 8B 97 30 00 00 00 FF D1 "
     "B9 {StoreHugePop} 89 E8 8B 97 34 00 00 00 FF D1"},
    {"LoadComplexIndexed", [](THugeAccess &A) { A.LoadComplexIndexed(8); },
     "50 B9 {LoadHuge} 8B 94 07 0C 00 00 00 89 E8 FF D1 58 "
     "B9 {LoadHuge} 8B 94 07 08 00 00 00 89 E8 FF D1"},
    {"StoreComplexIndexed", [](THugeAccess &A) { A.StoreComplexIndexed(8); },
     "50 B9 {StoreHuge} 8B 94 07 08 00 00 00 89 E8 FF D1 "
     "B9 {Exchange} 89 E8 BA 01 00 00 00 FF D1 58 "
     "B9 {StoreHuge} 8B 94 07 0C 00 00 00 89 E8 FF D1 "
     "B9 {Exchange} 89 E8 BA 01 00 00 00 FF D1"},
    {"StoreComplexIndexedPop", [](THugeAccess &A) { A.StoreComplexIndexedPop(8); },
     "50 B9 {StoreHugePop} 8B 94 07 08 00 00 00 89 E8 FF D1 58 "
     "B9 {StoreHugePop} 8B 94 07 0C 00 00 00 89 E8 FF D1"},
    {"routine call", [](THugeAccess &A) { A.EmitRoutine(25); }, "B9 {R25} 89 C2 89 E8 FF D1"},
    {"operator complex *", [](THugeAccess &A) { A.EmitOperator(3, 1, 0, 0, 0); },
     "B9 {R25} 89 C2 89 E8 FF D1"},
    {"function log", [](THugeAccess &A) { A.EmitFunction(fnLog, vtComplex, vtComplex); },
     "B9 {R52} 89 C2 89 E8 FF D1"},
    {"array copy", [](THugeAccess &A) { A.EmitHugeArrayCopy(0x40, 0x10, 6); },
     "53 BB {R9} B8 40 00 00 00 BA 10 00 00 00 B9 06 00 00 00 FF D3 5B"},
    {"array copy of nothing", [](THugeAccess &A) { A.EmitHugeArrayCopy(0x40, 0x10, 0); }, ""},
    {"routine 0", [](THugeAccess &A) { A.EmitRoutine(0); }, ""},
};

TEST_F(CompHugeAccessTest, EncodingsFollowTheCallFormat) {
    for (const TEncodingCase &c : EncodingCases) {
        SCOPED_TRACE(c.Name);
        THugeAccess access;
        c.Emit(access);
        EXPECT_EQ(Bytes(access), Expand(c.Expected));
    }
}

TEST_F(CompHugeAccessTest, RoutinesWithoutRealOperandsAreCopiedInline) {
    // int, bool, block copy, run-time error and colour-only routines: the x87 template as it is
    for (int n : {5, 12, 17, 124, 127, 132, 141, 154, 173, 197}) {
        SCOPED_TRACE(n);
        THugeAccess access;
        access.EmitRoutine(n);
        ASSERT_GT(RoutineLength(n), 0);
        EXPECT_EQ(Bytes(access),
                  std::vector<std::uint8_t>(RoutineAddress(n), RoutineAddress(n) + RoutineLength(n)));
    }
}

TEST_F(CompHugeAccessTest, AccessLengthsAreFixed) {
    // The generator computes jump distances from these lengths, whatever the displacement.
    THugeAccess access;
    access.LoadReal(0x7FFFFFF0, false);
    EXPECT_EQ(access.GetSize(), 15);
    access.LoadRealIndexed(4);
    EXPECT_EQ(access.GetSize(), 31);
    access.EmitRoutine(78);
    EXPECT_EQ(access.GetSize(), 42);
}

TEST_F(CompHugeAccessTest, FactoryMakesTheHugeAccessForArbitraryPrecision) {
    std::unique_ptr<TProcessorAccess> access = CreateProcessorAccess(2);
    ASSERT_NE(dynamic_cast<THugeAccess *>(access.get()), nullptr);
    EXPECT_NE(dynamic_cast<THugeAccess *>(CreateProcessorAccess(7).get()), nullptr);
    EXPECT_EQ(dynamic_cast<THugeAccess *>(CreateProcessorAccess(1).get()), nullptr);
}

TEST_F(CompHugeAccessTest, OldZSelectsTheArbitraryPrecisionRoutine) {
    THugeAccess access;
    EXPECT_EQ(access.GetFunctionRoutine(fnOldZ, vtInteger, vtComplex), 4);
    EXPECT_EQ(access.GetFunctionRoutine(fnOldZ, vtFloat, vtComplex), 4);
    // everything else as in the other precisions
    EXPECT_EQ(access.GetFunctionRoutine(fnLog, vtComplex, vtComplex), 52);
}

struct TStackUseCase {
    int Routine, StackUse;
};

TEST_F(CompHugeAccessTest, StackUseComesFromTheArbitraryPrecisionTable) {
    // These differ from the x87 table (extra x87 registers of templates that call helpers, or
    // register-hungry x87 sequences that the processor does not need).
    const TStackUseCase cases[] = {{25, 2}, {32, 4},  {45, 1},  {53, 1},  {86, 0},  {90, 0}, {94, 0},
                                   {99, 2}, {110, 0}, {154, 0}, {165, 0}, {182, 0}, {49, 4}, {107, 1}};
    THugeAccess access;
    for (const TStackUseCase &c : cases) {
        SCOPED_TRACE(c.Routine);
        EXPECT_EQ(access.GetRoutineStackUse(c.Routine), c.StackUse);
    }
}

TEST_F(CompHugeAccessTest, RoutineTableCoversTheRealOperations) {
    for (int n = FirstRoutine; n <= LastRoutine; ++n) {
        const bool expected = n == 1 || n == 4 || (n >= 9 && n <= 11) || (n >= 18 && n <= 123) ||
                              (n >= 144 && n <= 153) || (n >= 156 && n <= 172) || (n >= 192 && n <= 196);
        SCOPED_TRACE(n);
        EXPECT_EQ(HugeRoutineAddress(n) != nullptr, expected);
    }
    EXPECT_EQ(HugeRoutineAddress(0), nullptr);
    EXPECT_EQ(HugeRoutineAddress(198), nullptr);
}

} // namespace
