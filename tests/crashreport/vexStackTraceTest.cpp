#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "VexTraceCheck.h"
#include "vexMapFile.h"
#include "vexStackTrace.h"

// The traced routines stay outside any namespace and are never inlined, so that the program's map
// and addr2line name them alike. The empty asm statements keep their calls from being tail calls.

__attribute__((noinline)) void TraceChainF3(std::string &out) {
    out = TraceStack(TTraceInput());
    asm volatile("" ::: "memory");
}

__attribute__((noinline)) void TraceChainF2(std::string &out) {
    TraceChainF3(out);
    asm volatile("" ::: "memory");
}

__attribute__((noinline)) void TraceChainF1(std::string &out) {
    TraceChainF2(out);
    asm volatile("" ::: "memory");
}

__attribute__((noinline)) void TraceRecursion(int depth, std::string &out) {
    if (depth == 0)
        out = TraceStack(TTraceInput());
    else
        TraceRecursion(depth - 1, out);
    asm volatile("" ::: "memory");
}

__attribute__((noinline)) std::uintptr_t TraceStaleCallee() {
    return reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
}

// Returns the address right behind its call of TraceStaleCallee: a real return address into this
// routine, which is no longer on any call chain once it has returned.
__attribute__((noinline)) std::uintptr_t TraceStaleCaller() {
    const std::uintptr_t at = TraceStaleCallee();
    asm volatile("" ::: "memory");
    return at;
}

__attribute__((noinline)) void TraceStaleHolder(std::uintptr_t stale, std::string &out) {
    volatile std::uintptr_t slots[4] = {stale, stale, stale, stale};
    out = TraceStack(TTraceInput());
    asm volatile("" ::: "memory");
    (void)slots[0];
}

namespace {

using namespace vextrace;

std::string ProgramFile(const char *extension) {
    char name[MAX_PATH];
    GetModuleFileNameA(nullptr, name, MAX_PATH);
    const std::string path = name;
    return path.substr(0, path.rfind('.')) + extension;
}

std::map<std::uintptr_t, TReference> ReadReference() {
    return vextrace::ReadReference(ProgramFile(".tracelines"));
}

TEST(vexStackTraceTest, ACrashFreeTraceListsTheCallersWithAddr2linesLines) {
    std::string trace;
    TraceChainF1(trace);
    const std::vector<TTraceLine> lines = ParseTrace(trace);
    ASSERT_GE(lines.size(), 4u) << trace;
    EXPECT_EQ(RoutineOf(lines[0].Function), "TraceChainF3") << trace;
    EXPECT_EQ(RoutineOf(lines[1].Function), "TraceChainF2") << trace;
    EXPECT_EQ(RoutineOf(lines[2].Function), "TraceChainF1") << trace;
    EXPECT_NE(lines[3].Function.find("ACrashFreeTraceListsTheCallers"), std::string::npos) << trace;
    const auto reference = ReadReference();
    ASSERT_FALSE(reference.empty());
    for (int i = 0; i < 3; ++i) {
        ExpectAgreesWithAddr2line(lines[i], reference);
        EXPECT_EQ(lines[i].Module, "CrashreportTests.exe");
        EXPECT_NE(lines[i].Unit.find("vexStackTraceTest"), std::string::npos) << lines[i].Unit;
    }
    for (const TTraceLine &line : lines)
        EXPECT_EQ(line.Function.find("TraceStack"), std::string::npos) << "the tracer leaves itself out";
}

// Fifty calls of one call site give one line for it.
TEST(vexStackTraceTest, ARecursionGivesOneLinePerCallSite) {
    std::string trace;
    TraceRecursion(50, trace);
    const std::vector<TTraceLine> lines = ParseTrace(trace);
    ASSERT_GE(lines.size(), 3u) << trace;
    EXPECT_EQ(RoutineOf(lines[0].Function), "TraceRecursion") << trace;
    EXPECT_EQ(RoutineOf(lines[1].Function), "TraceRecursion") << trace;
    EXPECT_NE(lines[0].Address, lines[1].Address);
    EXPECT_NE(lines[2].Function.find("ARecursionGivesOneLinePerCallSite"), std::string::npos) << trace;
    const auto reference = ReadReference();
    ExpectAgreesWithAddr2line(lines[0], reference);
    ExpectAgreesWithAddr2line(lines[1], reference);
}

// A return address left in a frame's locals by a routine that has returned is on no call chain.
TEST(vexStackTraceTest, AStaleReturnAddressIsNotPrinted) {
    std::string trace;
    TraceStaleHolder(TraceStaleCaller(), trace);
    const std::vector<TTraceLine> lines = ParseTrace(trace);
    ASSERT_GE(lines.size(), 2u) << trace;
    EXPECT_EQ(RoutineOf(lines[0].Function), "TraceStaleHolder") << trace;
    EXPECT_NE(lines[1].Function.find("AStaleReturnAddressIsNotPrinted"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("TraceStaleCaller"), std::string::npos) << trace;
}

// The symbol maps may be freed and read again between traces (a changed module file, module end);
// a later trace still names its lines.
TEST(vexStackTraceTest, TracesAfterTheMapsWereFreedAreStillNamed) {
    std::string first, second;
    TraceChainF1(first);
    FreeModuleMaps();
    // Fresh allocations that may take the freed maps' memory.
    std::vector<std::string> filler(2000, std::string(200, 'x'));
    TraceChainF1(second);
    // The lines up to the test's own (whose call sites differ).
    const std::size_t own = first.find("TracesAfterTheMapsWereFreed");
    ASSERT_NE(own, std::string::npos) << first;
    const std::size_t chain = first.rfind("\r\n", own);
    EXPECT_EQ(second.substr(0, chain), first.substr(0, chain));
    EXPECT_NE(first.find("TraceChainF3"), std::string::npos);
}

// Two tasks weighted 100 and 300: progress within a task counts by its weight.
TEST(vexStackTraceProgress, TasksCountByTheirWeight) {
    TProgressTracker progress(1000);
    progress.AddTask(100);
    progress.AddTask(300);
    progress.SetProgress(500, 1100);
    EXPECT_EQ(progress.Overall(), 125u);
    progress.TaskDone(1200);
    EXPECT_EQ(progress.Overall(), 250u);
    progress.SetProgress(500, 1300);
    EXPECT_EQ(progress.Overall(), 625u);
    progress.TaskDone(1400);
    EXPECT_EQ(progress.Overall(), 1000u);
    EXPECT_FALSE(progress.BarShown()) << "done within 750 ms";
}

// The bar appears after 750 ms only while less than half is done, and then runs from where it
// appeared; its text is rounded to whole per cent.
TEST(vexStackTraceProgress, TheBarShowsOnlyForSlowTraces) {
    struct Case {
        std::uint32_t firstPermille, firstAt, laterPermille;
        bool shown;
        std::uint32_t position;
        const char *text;
    } cases[] = {
        {400, 700, 700, false, 0, "0%"},    // not yet slow when checked, and past half later
        {400, 800, 700, true, 500, "50%"},  // (700 - 400) * 1000 / 600
        {600, 800, 900, false, 0, "0%"},    // past half when slow
        {0, 752, 1000, true, 1000, "100%"}, // 751 ms across the wrap
        {100, 760, 105, true, 5, "1%"},     // (5 + 5) / 10 per cent
        {100, 760, 104, true, 4, "0%"},
    };
    for (const Case &c : cases) {
        TProgressTracker progress(0xFFFFFF00u); // the tick count wraps in between
        progress.AddTask(1000);
        progress.SetProgress(c.firstPermille, 0xFFFFFF00u + c.firstAt);
        progress.SetProgress(c.laterPermille, 0xFFFFFF00u + c.firstAt + 10);
        EXPECT_EQ(progress.BarShown(), c.shown) << c.firstPermille << " at " << c.firstAt;
        EXPECT_EQ(progress.BarPosition(), c.position) << c.firstPermille << " at " << c.firstAt;
        EXPECT_EQ(progress.BarText(), c.text) << c.firstPermille << " at " << c.firstAt;
    }
}

TEST(vexStackTraceTest, AnUnreadableStackGivesAnEmptyTrace) {
    TTraceInput input;
    input.StackPointer = 0x10;
    input.StackTop = 0x1000;
    input.StartAddress = reinterpret_cast<std::uintptr_t>(&TraceStaleCallee);
    EXPECT_EQ(TraceStack(input), "");
}

} // namespace
