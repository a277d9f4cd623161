#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unwind.h>

#include "VexTestData.h"
#include "vexDisAsmWalk.h"
#include "vexStrings.h"

namespace {

const CodeArea *AreaAt(const FunctionRecord &f, std::uintptr_t start) {
    for (const CodeArea &area : f.areas)
        if (area.start == start)
            return &area;
    return nullptr;
}

TEST(vexDisAsmWalkTest, SingleReturn) {
    TRoutine r({0xC3});
    FunctionRecord f;
    ASSERT_TRUE(ParseFunction(r.Code, f));
    ASSERT_EQ(f.areas.size(), 1u);
    EXPECT_EQ(f.areas[0].end, r.At(0));
    EXPECT_EQ(f.codeBegin, r.At(0));
    EXPECT_EQ(f.codeLength, 1u);
    EXPECT_FALSE(f.interceptable);
    EXPECT_EQ(f.copySize, 5u);
}

TEST(vexDisAsmWalkTest, InterceptableOnlyWithSixPlainBytes) {
    TRoutine plain(
        {0x55, 0x89, 0xE5, 0x31, 0xC0, 0x5D, 0xC3}); // push ebp; mov ebp, esp; xor eax, eax; pop; ret
    FunctionRecord f;
    ASSERT_TRUE(ParseFunction(plain.Code, f));
    EXPECT_TRUE(f.interceptable);
    EXPECT_EQ(f.codeLength, 7u);
    TRoutine jumping({0xEB, 0x03, 0x90, 0x90, 0x90, 0x31, 0xC0, 0x40, 0x40, 0x40, 0xC3});
    ASSERT_TRUE(ParseFunction(jumping.Code, f));
    EXPECT_FALSE(f.interceptable);
    EXPECT_EQ(f.codeBegin, jumping.At(0));
    EXPECT_EQ(f.codeLength, 11u);
    ASSERT_NE(AreaAt(f, jumping.At(5)), nullptr);
    EXPECT_EQ(AreaAt(f, jumping.At(5))->referrer, jumping.At(0));
}

// cmp eax, 3 / ja default / jmp [eax*4+table] with the table right behind the jump.
void CheckCaseTable(std::uint8_t condition, std::uint32_t entries) {
    TRoutine r({0x83, 0xF8, 0x03, condition, 0x00, 0xFF, 0x24, 0x85});
    const std::size_t table = 12, cases = 12 + entries * 4;
    r.PutWord(8, static_cast<std::uint32_t>(r.At(table)));
    r.Code[4] = static_cast<std::uint8_t>(cases + entries - 5); // ja to the default case
    for (std::uint32_t i = 0; i < entries; ++i) {
        r.PutWord(table + 4 * i, static_cast<std::uint32_t>(r.At(cases + i)));
        r.Code[cases + i] = 0xC3;
    }
    r.Code[cases + entries] = 0xC3; // default
    FunctionRecord f;
    ASSERT_TRUE(ParseFunction(r.Code, f));
    const CodeArea *tableArea = AreaAt(f, r.At(table));
    ASSERT_NE(tableArea, nullptr);
    EXPECT_TRUE(tableArea->isCaseTable);
    EXPECT_EQ(tableArea->end - tableArea->start + 1, entries * 4);
    for (std::uint32_t i = 0; i < entries; ++i) {
        const CodeArea *area = AreaAt(f, r.At(cases + i));
        ASSERT_NE(area, nullptr) << i;
        EXPECT_EQ(area->referrer, r.At(5));
    }
    ASSERT_NE(AreaAt(f, r.At(cases + entries)), nullptr);
    EXPECT_EQ(f.codeLength, cases + entries + 1);
    EXPECT_TRUE(f.unknownTargets.empty());
}

TEST(vexDisAsmWalkTest, CaseTablesBehindTheJump) {
    CheckCaseTable(0x77, 4); // ja: entries 0..3
    CheckCaseTable(0x73, 3); // jae: entries 0..2
}

TEST(vexDisAsmWalkTest, CallsThatLeaveTheRoutine) {
    // mov eax, GetTickCount / call eax / call +0 relative into this memory / jmp GetTickCount
    TRoutine r({0xB8, 0, 0, 0, 0, 0xFF, 0xD0, 0xE8, 0x06, 0, 0, 0, 0xE9, 0, 0, 0, 0, 0x90, 0xC3});
    const auto tick = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&GetTickCount));
    r.PutWord(1, tick);
    r.PutWord(13, tick - static_cast<std::uint32_t>(r.At(17)));
    FunctionRecord f;
    ASSERT_TRUE(ParseFunction(r.Code, f));
    // The MOV ends its area: the call's area starts with EAX known.
    const CodeArea *callArea = AreaAt(f, r.At(5));
    ASSERT_NE(callArea, nullptr);
    EXPECT_EQ(callArea->knowledge[0], r.Code + 1);
    EXPECT_TRUE(f.unknownTargets.empty());
    ASSERT_EQ(f.farCalls.size(), 3u);
    const FarCall *viaRegister = nullptr, *local = nullptr, *jump = nullptr;
    for (const FarCall &call : f.farCalls) {
        if (call.address == r.At(5))
            viaRegister = &call;
        if (call.address == r.At(7))
            local = &call;
        if (call.address == r.At(12))
            jump = &call;
    }
    ASSERT_TRUE(viaRegister && local && jump);
    EXPECT_EQ(viaRegister->targetOperand, r.Code + 1);
    EXPECT_EQ(viaRegister->target, tick);
    EXPECT_EQ(local->target, r.At(18)); // a call into the same memory still leaves the routine
    EXPECT_FALSE(jump->isCall);
    EXPECT_EQ(jump->target, tick);
    // The code behind the unconditional jump is not part of the routine.
    EXPECT_EQ(f.codeLength, 17u);
}

// ud2 and calls that never return end an area; the bytes behind them are not walked.
TEST(vexDisAsmWalkTest, TrapsAndCallsThatNeverReturnEndTheArea) {
    TRoutine trap({0x31, 0xC0, 0x0F, 0x0B, 0x0F, 0x04});
    FunctionRecord f;
    ASSERT_TRUE(ParseFunction(trap.Code, f));
    EXPECT_EQ(f.codeLength, 4u);
    for (void *routine : {reinterpret_cast<void *>(&abort), reinterpret_cast<void *>(&_Unwind_Resume)}) {
        TRoutine call({0x85, 0xC0, 0xE8, 0, 0, 0, 0, 0x0F, 0x04});
        call.PutWord(3, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(routine) - call.At(7)));
        ASSERT_TRUE(ParseFunction(call.Code, f));
        EXPECT_EQ(f.codeLength, 7u);
        ASSERT_EQ(f.farCalls.size(), 1u);
        EXPECT_EQ(f.farCalls[0].address, call.At(2)); // its target may be where an import jump leads
    }
    // Any other call returns: the walk goes on behind it and meets the undefined bytes.
    TRoutine ordinary({0x85, 0xC0, 0xE8, 0, 0, 0, 0, 0x0F, 0x04});
    ordinary.PutWord(
        3, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&GetTickCount) - ordinary.At(7)));
    EXPECT_FALSE(ParseFunction(ordinary.Code, f));
    EXPECT_EQ(f.errorAddress, ordinary.At(9));
}

TEST(vexDisAsmWalkTest, UnallocatedEntry) {
    void *reserved = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
    FunctionRecord f;
    EXPECT_FALSE(ParseFunction(reserved, f));
    EXPECT_EQ(f.errorCode, 87u);
    EXPECT_EQ(f.errorText, SystemErrorText(87));
    EXPECT_EQ(f.errorAddress, reinterpret_cast<std::uintptr_t>(reserved));
    VirtualFree(reserved, 0, MEM_RELEASE);
    TRoutine bad({0x90, 0x0F, 0x04});
    EXPECT_FALSE(ParseFunction(bad.Code, f));
    EXPECT_EQ(f.errorCode, InvalidCodeError);
    EXPECT_EQ(f.errorText, "Invalid code!");
}

volatile int SwitchSink;
__attribute__((noinline)) void Note(int value) {
    SwitchSink = SwitchSink * 31 + value;
}

// Dense enough for GCC to compile into a jump table in read-only data.
__attribute__((noinline)) int SixWaySwitch(int selector) {
    switch (selector) {
    case 0:
        Note(11);
        break;
    case 1:
        Note(23);
        Note(5);
        break;
    case 2:
        Note(37);
        return 4;
    case 3:
        Note(41);
        Note(SwitchSink);
        break;
    case 4:
        return SwitchSink + 9;
    case 5:
        Note(53);
        return 7;
    default:
        return -1;
    }
    return SwitchSink;
}

TEST(vexDisAsmWalkTest, GccSwitchGivesSixTargetAreas) {
    EXPECT_EQ(SixWaySwitch(2), 4);
    FunctionRecord f;
    ASSERT_TRUE(ParseFunction(reinterpret_cast<void *>(&SixWaySwitch), f));
    std::vector<std::uintptr_t> tableJumps;
    for (const CodeArea &area : f.areas) {
        InstructionRecord r;
        if (area.referrer && ParseInstruction(reinterpret_cast<void *>(area.referrer), r) && r.opcode == 0xFF)
            tableJumps.push_back(area.start);
    }
    std::sort(tableJumps.begin(), tableJumps.end());
    tableJumps.erase(std::unique(tableJumps.begin(), tableJumps.end()), tableJumps.end());
    EXPECT_EQ(tableJumps.size(), 6u);
    EXPECT_TRUE(f.unknownTargets.empty());
    // The routine's extent is the one the unwind tables give.
    TUnwindRange range;
    ASSERT_TRUE(FindUnwindRange(reinterpret_cast<void *>(&SixWaySwitch), range, nullptr));
    EXPECT_GE(f.codeBegin, range.Begin);
    EXPECT_LE(f.codeBegin + f.codeLength, range.End);
}

struct TThrows {
    ~TThrows() { Note(3); }
};

__attribute__((noinline)) int WithLandingPad(int value) {
    TThrows guard;
    if (value > 100)
        throw std::runtime_error("too large");
    Note(value);
    return value + 1;
}

// The cleanup code is reached only through the exception tables; the walk includes it and ends at
// the calls that never return.
TEST(vexDisAsmWalkTest, LandingPadsBelongToTheRoutine) {
    EXPECT_EQ(WithLandingPad(1), 2);
    TUnwindRange range;
    ASSERT_TRUE(FindUnwindRange(reinterpret_cast<void *>(&WithLandingPad), range, nullptr));
    ASSERT_FALSE(range.LandingPads.empty());
    FunctionRecord f;
    ASSERT_TRUE(ParseFunction(reinterpret_cast<void *>(&WithLandingPad), f));
    for (std::uintptr_t pad : range.LandingPads)
        EXPECT_NE(AreaAt(f, pad), nullptr);
    EXPECT_LE(f.codeBegin + f.codeLength, range.End);
}

} // namespace
