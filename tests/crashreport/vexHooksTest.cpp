#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "vexHooks.h"

// Routines whose code the tests patch: never inlined, always called through a volatile pointer.
__attribute__((noinline)) int PatchTarget() {
    asm volatile("" ::: "memory");
    return 41;
}

__attribute__((noinline)) int PatchReplacement() {
    asm volatile("" ::: "memory");
    return 42;
}

__attribute__((noinline)) int PatchOther() {
    asm volatile("" ::: "memory");
    return 43;
}

namespace {

int CallTarget() {
    int (*volatile routine)() = PatchTarget;
    return routine();
}

void WriteJump(void *From, void *To) {
    std::uint8_t jump[5] = {0xE9};
    const auto displacement = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(To) -
                                                         reinterpret_cast<std::uintptr_t>(From) - 5);
    std::memcpy(jump + 1, &displacement, 4);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(From, 5, PAGE_EXECUTE_READWRITE, &old));
    std::memcpy(From, jump, 5);
    FlushInstructionCache(GetCurrentProcess(), From, 5);
}

class vexHooksTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::memcpy(FOriginal, reinterpret_cast<void *>(&PatchTarget), 5);
        UndoPatches();
    }
    void TearDown() override {
        UndoPatches();
        // Whatever a test left behind: the routine's own start again.
        DWORD old = 0;
        VirtualProtect(reinterpret_cast<void *>(&PatchTarget), 5, PAGE_EXECUTE_READWRITE, &old);
        std::memcpy(reinterpret_cast<void *>(&PatchTarget), FOriginal, 5);
        FlushInstructionCache(GetCurrentProcess(), reinterpret_cast<void *>(&PatchTarget), 5);
    }
    std::uint8_t FOriginal[5] = {};
};

TEST_F(vexHooksTest, AHookJumpsToTheReplacementUntilItIsUndone) {
    ASSERT_EQ(CallTarget(), 41);
    EXPECT_TRUE(
        HookCode(reinterpret_cast<void *>(&PatchTarget), reinterpret_cast<void *>(&PatchReplacement)));
    EXPECT_EQ(PatchCount(), 1u);
    EXPECT_EQ(CallTarget(), 42);
    // The same bytes again change nothing and list nothing.
    EXPECT_FALSE(
        HookCode(reinterpret_cast<void *>(&PatchTarget), reinterpret_cast<void *>(&PatchReplacement)));
    EXPECT_EQ(PatchCount(), 1u);
    UndoPatches();
    EXPECT_EQ(PatchCount(), 0u);
    EXPECT_EQ(CallTarget(), 41);
}

// Someone else patched the routine again after the hook: undoing leaves their patch alone.
TEST_F(vexHooksTest, UndoLeavesAPatchThatWasChangedSinceAlone) {
    ASSERT_TRUE(
        HookCode(reinterpret_cast<void *>(&PatchTarget), reinterpret_cast<void *>(&PatchReplacement)));
    WriteJump(reinterpret_cast<void *>(&PatchTarget), reinterpret_cast<void *>(&PatchOther));
    UndoPatches();
    EXPECT_EQ(CallTarget(), 43);
    EXPECT_EQ(PatchCount(), 0u);
}

// An import stub (jmp [cell]) is followed to the routine that its cell names.
TEST_F(vexHooksTest, ARoutineBehindAnImportStubIsHookedAtItsTarget) {
    auto *stub = static_cast<std::uint8_t *>(
        VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
    ASSERT_NE(stub, nullptr);
    auto *cell = reinterpret_cast<std::uint32_t *>(stub + 16);
    *cell = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&PatchTarget));
    const std::uint32_t cellAddress = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(cell));
    stub[0] = 0xFF;
    stub[1] = 0x25;
    std::memcpy(stub + 2, &cellAddress, 4);
    std::uint8_t before[6];
    std::memcpy(before, stub, 6);

    EXPECT_TRUE(HookCode(stub, reinterpret_cast<void *>(&PatchReplacement)));
    EXPECT_EQ(std::memcmp(before, stub, 6), 0) << "the stub itself stays as it was";
    EXPECT_EQ(CallTarget(), 42);
    int (*volatile throughStub)() = reinterpret_cast<int (*)()>(reinterpret_cast<void *>(stub));
    EXPECT_EQ(throughStub(), 42);
    UndoPatches();
    EXPECT_EQ(CallTarget(), 41);
    VirtualFree(stub, 0, MEM_RELEASE);
}

// The relative call's operand is measured from the end of the call instruction.
TEST_F(vexHooksTest, ARedirectedCallReachesItsNewTarget) {
    auto *code = static_cast<std::uint8_t *>(
        VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
    ASSERT_NE(code, nullptr);
    // call PatchTarget; ret
    code[0] = 0xE8;
    const auto toTarget = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&PatchTarget) -
                                                     reinterpret_cast<std::uintptr_t>(code + 5));
    std::memcpy(code + 1, &toTarget, 4);
    code[5] = 0xC3;
    int (*volatile routine)() = reinterpret_cast<int (*)()>(reinterpret_cast<void *>(code));
    ASSERT_EQ(routine(), 41);
    EXPECT_TRUE(PatchCallTarget(code + 1, reinterpret_cast<void *>(&PatchOther)));
    EXPECT_EQ(routine(), 43);
    UndoPatches();
    EXPECT_EQ(routine(), 41);
    VirtualFree(code, 0, MEM_RELEASE);
}

struct THardwareCase {
    DWORD Code;
    const char *Text;
};

TEST(vexHooksText, ProcessorExceptionsGetTheirTexts) {
    const THardwareCase cases[] = {
        {0xC000008C, "Range check error"},
        {0xC000008D, "Floating point underflow"},
        {0xC0000093, "Floating point underflow"},
        {0xC000008E, "Floating point division by zero"},
        {0xC000008F, "Invalid floating point operation"},
        {0xC0000090, "Invalid floating point operation"},
        {0xC0000092, "Invalid floating point operation"},
        {0xC0000091, "Floating point overflow"},
        {0xC0000094, "Division by zero"},
        {0xC0000095, "Integer overflow"},
        {0xC0000096, "Privileged instruction"},
        {0xC00000FD, "Stack overflow"},
        {0xC000013A, "Control-C hit"},
        {0xC000001D, "External exception C000001D"},
        {0x0EEDFAD0, "External exception EEDFAD0"},
    };
    for (const THardwareCase &c : cases) {
        EXCEPTION_RECORD record = {};
        record.ExceptionCode = c.Code;
        EXPECT_EQ(HardwareExceptionText(record), c.Text) << std::hex << c.Code;
    }
}

TEST(vexHooksText, AccessViolationsNameTheModuleAndTheKindOfAccess) {
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = 0xC0000005;
    record.NumberParameters = 2;
    // Outside any module: the short form.
    record.ExceptionAddress = reinterpret_cast<void *>(0x1234);
    record.ExceptionInformation[0] = 0;
    record.ExceptionInformation[1] = 0x10;
    EXPECT_EQ(HardwareExceptionText(record), "Access violation at address $1234. Read of address $10");
    // Inside this program, a write.
    record.ExceptionAddress = reinterpret_cast<void *>(&PatchTarget);
    record.ExceptionInformation[0] = 1;
    record.ExceptionInformation[1] = 0xABCDEF01;
    char address[16];
    std::snprintf(address, sizeof(address), "$%x",
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(&PatchTarget)));
    EXPECT_EQ(HardwareExceptionText(record),
              std::string("Access violation at address ") + address +
                  " in module 'CrashreportTests.exe'. Write of address $abcdef01");
}

} // namespace
