#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

#include "VexTestData.h"
#include "vexDisAsmText.h"
#include "vexStrings.h"

namespace {

std::string Line(std::initializer_list<int> bytes) {
    TRoutine r(bytes);
    InstructionRecord record;
    return InstructionText(r.Code, nullptr, record, false);
}

TEST(vexDisAsmTextTest, InstructionLines) {
    struct Case {
        std::initializer_list<int> bytes;
        const char *text;
    } cases[] = {
        {{0xB8, 0x05, 0, 0, 0}, "mov     eax, 5"},
        {{0xB8, 0x1A, 0, 0, 0}, "mov     eax, $1a"},
        {{0xB8, 0x0A, 0, 0, 0}, "mov     eax, $a"},
        {{0xB8, 0x09, 0, 0, 0}, "mov     eax, 9"},
        {{0x8B, 0x45, 0xF8}, "mov     eax, [ebp-8]"},
        {{0x8B, 0x45, 0xF0}, "mov     eax, [ebp-$10]"},
        {{0x89, 0x44, 0x24, 0x04}, "mov     [esp+4], eax"},
        {{0x8D, 0x04, 0x85, 0, 0, 0, 0}, "lea     eax, [eax*4]"},
        {{0x64, 0xFF, 0x70, 0x04}, "push    dword ptr fs:[eax+4]"},
        {{0xD9, 0xE0}, "fchs"},
        {{0xDF, 0xE0}, "fnstsw  ax"},
        {{0xD9, 0xC9}, "fxch    st(1)"},
        {{0xDD, 0x45, 0xF8}, "fld     qword ptr [ebp-8]"},
        {{0xD8, 0xE1}, "fsub    st, st(1)"},
        {{0xDC, 0xE1}, "fsubr   st(1), st"},
        {{0xDE, 0xC9}, "fmulp   st(1), st"},
        {{0x66, 0x0F, 0x61, 0xC1}, "punpcklwd xmm0, xmm1"},
        {{0x0F, 0x61, 0xC1}, "punpcklwd mm0, mm1"},
        {{0xF3, 0x0F, 0x5A, 0xC1}, "cvtss2sd xmm0, xmm1"},
        {{0x66, 0x0F, 0x58, 0xC1}, "addpd   xmm0, xmm1"},
        {{0xF2, 0x0F, 0x58, 0xC1}, "addsd   xmm0, xmm1"},
        {{0x83, 0xC4, 0xF0}, "add     esp, -$10"},
        {{0x83, 0xEC, 0x1C}, "sub     esp, $1c"},
        {{0x0F, 0x0B}, "ud2"},
        {{0xF3, 0xA5}, "rep movsd"},
        {{0x66, 0xA5}, "movsw"},
        {{0xF0, 0x0F, 0xC1, 0x02}, "lock xadd [edx], eax"},
        {{0x0F, 0x1F, 0x44, 0x00, 0x00}, "nop     dword ptr [eax+eax]"},
        {{0x6A, 0xFF}, "push    $ffffffff"},
        {{0xC8, 0x10, 0x00, 0x00}, "enter   $10"},
        {{0xC8, 0x10, 0x00, 0x01}, "enter   $10, $1"},
        {{0xD1, 0xE0}, "shl     eax, 1"},
        {{0xD3, 0xF8}, "sar     eax, cl"},
        {{0xA1, 0x78, 0x56, 0x34, 0x12}, "mov     eax, [$12345678]"},
        {{0xA3, 0x78, 0x56, 0x34, 0x12}, "mov     [$12345678], eax"},
        {{0xEC}, "in      al, dx"},
        {{0xEF}, "out     dx, eax"},
        {{0x0F, 0x94, 0xC0}, "setz    al"},
        {{0x0F, 0x4F, 0xC1}, "cmovg   eax, ecx"},
        {{0x0F, 0xB6, 0x01}, "movzx   eax, byte ptr [ecx]"},
        {{0x66, 0x89, 0x08}, "mov     [eax], cx"},
        {{0xF7, 0x7D, 0x08}, "idiv    dword ptr [ebp+8]"},
        {{0xC6, 0x00, 0x41}, "mov     byte ptr [eax], $41"},
        {{0x0F, 0xA2}, "cpuid"},
        {{0x0F, 0x0F, 0xC1, 0x9E}, "pfadd   mm0, mm1"},
        {{0x0F, 0x04}, "db $0f\r\ndb $04"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Line(c.bytes), c.text);
}

TEST(vexDisAsmTextTest, AddressesAndBranches) {
    TRoutine r({0xB8, 0x05, 0, 0, 0, 0xEB, 0xFE});
    InstructionRecord record;
    EXPECT_EQ(InstructionText(r.Code, nullptr, record, true), r.Address(0) + "   mov     eax, 5");
    EXPECT_EQ(InstructionText(r.Code + 5, nullptr, record, true),
              r.Address(5) + "   jmp     -2 ($" + r.Label(5) + ")");
    // A call names its target when the target is an export.
    TRoutine call({0xE8, 0, 0, 0, 0});
    const auto tick = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&GetTickCount));
    const std::uint32_t displacement =
        tick - static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(call.Code + 5));
    std::memcpy(call.Code + 1, &displacement, 4);
    const std::string text = InstructionText(call.Code, nullptr, record, true);
    EXPECT_NE(text.find("  ; GetTickCount ("), std::string::npos) << text;
    // A pushed address of a text is quoted.
    static const char message[] = "Cannot open the file: no access";
    TRoutine push({0x68, 0, 0, 0, 0});
    const auto address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(message));
    std::memcpy(push.Code + 1, &address, 4);
    std::string operand = "push    " + HexText(address, 1, '0');
    operand.resize(29, ' ');
    EXPECT_EQ(InstructionText(push.Code, nullptr, record, false), operand + "  ; '" + message + "'");
}

// push ebp / mov ebp, esp / test eax, eax / jz +4 / xor eax, eax / pop ebp / ret /
// mov eax, 5 / pop ebp / ret
const std::initializer_list<int> SmallFunction = {0x55, 0x89, 0xE5, 0x85, 0xC0, 0x74, 0x04, 0x31, 0xC0,
                                                  0x5D, 0xC3, 0xB8, 0x05, 0,    0,    0,    0x5D, 0xC3};

TEST(vexDisAsmTextTest, GoldenListing) {
    TRoutine r(SmallFunction);
    FunctionRecord f;
    const std::string entry = "sub_" + r.Label(0) + ":";
    const std::string expected =
        r.Address(0) + " " + entry + std::string(31 - entry.size(), ' ') + "  ; function entry point\r\n" +
        r.Address(0) + "   push    ebp\r\n" + r.Address(1) + "   mov     ebp, esp\r\n" + r.Address(3) +
        "   test    eax, eax\r\n" + r.Address(5) + "   jz      loc_" + r.Label(11) + "\r\n" + r.Address(7) +
        "   xor     eax, eax\r\n" + r.Address(9) + "   pop     ebp\r\n" + r.Address(10) + "   ret\r\n" +
        r.Address(11) + " > mov     eax, 5\r\n" + r.Address(16) + "   pop     ebp\r\n" + r.Address(17) +
        "   ret";
    EXPECT_EQ(DisassembleFunction(r.Code, r.Code + 11, f, false, 0), expected);
}

TEST(vexDisAsmTextTest, GoldenListingWithStructure) {
    TRoutine r(SmallFunction);
    SetDisassemblyNameFallback([](std::uintptr_t) { return std::string("Unit.Routine"); });
    FunctionRecord f;
    const std::string listing = DisassembleFunction(r.Code, nullptr, f, true, 0);
    SetDisassemblyNameFallback(nullptr);
    // The fallback names only addresses inside modules; this memory is none, so the entry keeps
    // its generated name.
    const std::string entry = "sub_" + r.Label(0) + ":";
    const std::string separator = "; ---------------------------------------------------------";
    const std::string expected =
        r.Address(0) + " " + entry + std::string(31 - entry.size(), ' ') + "  ; function entry point\r\n" +
        r.Address(0) + "   push    ebp\r\n" + r.Address(1) + "   mov     ebp, esp\r\n" + r.Address(3) +
        "   test    eax, eax\r\n" + r.Address(5) + "   jz      loc_" + r.Label(11) + "\r\n" + r.Address(5) +
        "\r\n" + r.Address(7) + "   xor     eax, eax\r\n" + r.Address(9) + "   pop     ebp\r\n" +
        r.Address(10) + "   ret\r\n" + r.Address(10) + "\r\n" + r.Address(10) + " " + separator + "\r\n" +
        r.Address(10) + "\r\n" + r.Address(11) + "\r\n" + r.Address(11) + " loc_" + r.Label(11) + ":\r\n" +
        r.Address(11) + "   mov     eax, 5\r\n" + r.Address(16) + "   pop     ebp\r\n" + r.Address(17) +
        "   ret";
    EXPECT_EQ(listing, expected);
}

TEST(vexDisAsmTextTest, LineLimitCutsAroundTheFailingInstruction) {
    std::vector<int> bytes(30, 0x90);
    bytes.push_back(0xC3);
    TRoutine r({});
    std::memcpy(r.Code, std::vector<std::uint8_t>(bytes.begin(), bytes.end()).data(), bytes.size());
    FunctionRecord f;
    const std::string listing = DisassembleFunction(r.Code, r.Code + 19, f, false, 5);
    std::vector<std::string> lines;
    for (std::size_t start = 0;;) {
        const std::size_t end = listing.find("\r\n", start);
        lines.push_back(listing.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
    ASSERT_EQ(lines.size(), 13u) << listing;
    EXPECT_EQ(lines[0], "[...]");
    EXPECT_EQ(lines[1], r.Address(14) + "   nop");
    EXPECT_EQ(lines[6], r.Address(19) + " > nop");
    EXPECT_EQ(lines[11], r.Address(24) + "   nop");
    EXPECT_EQ(lines[12], "[...]");
    // Without the failing address inside, the listing is whole.
    EXPECT_EQ(DisassembleFunction(r.Code, nullptr, f, false, 5).find("[...]"), std::string::npos);
    // A function that cannot be walked gives nothing.
    TRoutine bad({0x0F, 0x04});
    EXPECT_EQ(DisassembleFunction(bad.Code, bad.Code, f, false, 5), "");
}

} // namespace
