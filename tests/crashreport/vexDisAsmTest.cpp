#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "vexDisAsm.h"
#include "vexDisAsmText.h"
#include "vexTools.h"

namespace {

// A code buffer with a few bytes of slack behind the instruction.
struct TCode {
    std::uint8_t Bytes[40] = {};
    std::size_t Length = 0;
    TCode(std::initializer_list<int> bytes) {
        for (int b : bytes)
            Bytes[Length++] = static_cast<std::uint8_t>(b);
    }
    void PutWord(std::size_t at, std::uint32_t value) { std::memcpy(Bytes + at, &value, 4); }
    std::uint32_t At(std::size_t offset) const {
        return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(Bytes + offset));
    }
};

struct TDecodeCase {
    const char *name;
    std::initializer_list<int> bytes;
    bool valid;
    int length; // -1: not checked
};

// Lengths and validity, including the corrections to what the opcode tables once said (ud2 and the
// long nop are instructions GCC emits).
TEST(vexDisAsmTest, LengthsAndValidity) {
    const TDecodeCase cases[] = {
        {"ret", {0xC3}, true, 1},
        {"ret imm16", {0xC2, 0x08, 0x00}, true, 3},
        {"lea from a register", {0x8D, 0xC0}, false, -1},
        {"lea from memory", {0x8D, 0x00}, true, 2},
        {"ud2", {0x0F, 0x0B}, true, 2},
        {"nop dword ptr", {0x0F, 0x1F, 0x44, 0x00, 0x00}, true, 5},
        {"nop word ptr cs:", {0x66, 0x2E, 0x0F, 0x1F, 0x84, 0x00, 0, 0, 0, 0}, true, 10},
        {"0f 1f with reg 1", {0x0F, 0x1F, 0xC8}, false, -1},
        {"add ax, imm16", {0x66, 0x05, 0x34, 0x12}, true, 4},
        {"test al, imm8 (group)", {0xF6, 0xC0, 0x01}, true, 3},
        {"test eax, imm32 (group)", {0xF7, 0xC0, 1, 2, 3, 4}, true, 6},
        {"test ax, imm16 (group)", {0x66, 0xF7, 0xC0, 1, 2}, true, 5},
        {"neg eax", {0xF7, 0xD8}, true, 2},
        {"mov eax, moffs32", {0xA1, 1, 2, 3, 4}, true, 5},
        {"mov eax, moffs16", {0x67, 0xA1, 1, 2}, true, 4},
        {"far call", {0x9A, 1, 2, 3, 4, 5, 6}, true, 7},
        {"far call, 16-bit", {0x66, 0x9A, 1, 2, 3, 4}, true, 6},
        {"enter", {0xC8, 0x10, 0x00, 0x00}, true, 4},
        {"mov eax, [esp]", {0x8B, 0x04, 0x24}, true, 3},
        {"mov eax, [esp+4]", {0x8B, 0x44, 0x24, 0x04}, true, 4},
        {"mov eax, [disp32]", {0x8B, 0x05, 1, 2, 3, 4}, true, 6},
        {"mov eax, [eax*4+disp32]", {0x8B, 0x04, 0x85, 1, 2, 3, 4}, true, 7},
        {"mov eax, [ebp+disp32]", {0x8B, 0x85, 1, 2, 3, 4}, true, 6},
        {"16-bit [bp+2]", {0x67, 0x8B, 0x46, 0x02}, true, 4},
        {"16-bit [disp16]", {0x67, 0x8B, 0x06, 0x34, 0x12}, true, 5},
        {"pfadd", {0x0F, 0x0F, 0xC1, 0x9E}, true, 4},
        {"3DNow! unknown suffix", {0x0F, 0x0F, 0xC1, 0x00}, false, -1},
        {"fchs", {0xD9, 0xE0}, true, 2},
        {"d9 d1", {0xD9, 0xD1}, false, -1},
        {"fnstsw ax", {0xDF, 0xE0}, true, 2},
        {"df e1", {0xDF, 0xE1}, false, -1},
        {"fld qword ptr", {0xDD, 0x45, 0xF8}, true, 3},
        {"fistp qword ptr [esp]", {0xDF, 0x3C, 0x24}, true, 3},
        {"repeated prefixes", {0xF3, 0xF3, 0xF3, 0x90}, true, 4},
        {"0f 04", {0x0F, 0x04}, false, -1},
        {"0f 0a", {0x0F, 0x0A}, false, -1},
        {"mov eax, cr0", {0x0F, 0x20, 0xC0}, true, 3},
        {"0f 20 in memory form", {0x0F, 0x20, 0x00}, false, -1},
        {"movq xmm/m64, xmm", {0x66, 0x0F, 0xD6, 0xC1}, true, 4},
        {"0f d6 without prefix", {0x0F, 0xD6, 0xC1}, false, -1},
        {"bt eax, 5", {0x0F, 0xBA, 0xE0, 0x05}, true, 4},
        {"0f ba with reg 0", {0x0F, 0xBA, 0xC0, 0x05}, false, -1},
        {"mov to segment 6", {0x8C, 0xF0}, false, -1},
        {"inc byte ptr", {0xFE, 0x00}, true, 2},
        {"fe with reg 2", {0xFE, 0x10}, false, -1},
        {"ff with reg 7", {0xFF, 0x38}, false, -1},
        {"far call through a register", {0xFF, 0xD8}, false, -1},
        {"shld eax, edx, 4", {0x0F, 0xA4, 0xD0, 0x04}, true, 4},
        {"imul eax, ecx, 100000", {0x69, 0xC1, 0xA0, 0x86, 0x01, 0x00}, true, 6},
        {"movzx eax, word ptr [ecx]", {0x0F, 0xB7, 0x01}, true, 3},
        {"cmpxchg8b", {0x0F, 0xC7, 0x0E}, true, 3},
        {"cmpxchg8b register form", {0x0F, 0xC7, 0xCE}, false, -1},
        {"pshufw", {0x0F, 0x70, 0xC1, 0x1B}, true, 4},
        {"psrlq mm0, 4", {0x0F, 0x73, 0xD0, 0x04}, true, 4},
        {"psrlq in memory form", {0x0F, 0x73, 0x10, 0x04}, false, -1},
        {"cvtss2sd", {0xF3, 0x0F, 0x5A, 0xC1}, true, 4},
    };
    for (const TDecodeCase &c : cases) {
        TCode code(c.bytes);
        InstructionRecord record;
        EXPECT_EQ(ParseInstruction(code.Bytes, record), c.valid) << c.name;
        EXPECT_EQ(record.valid, c.valid) << c.name;
        if (c.length >= 0) {
            EXPECT_EQ(record.next - record.address, c.length) << c.name;
        }
    }
}

TEST(vexDisAsmTest, BranchFields) {
    InstructionRecord r;
    TCode callNext({0xE8, 0, 0, 0, 0});
    ASSERT_TRUE(ParseInstruction(callNext.Bytes, r));
    EXPECT_FALSE(r.isCall);
    EXPECT_EQ(r.target, 0u);
    EXPECT_EQ(r.targetOperand, nullptr);

    TCode self({0xEB, 0xFE});
    ASSERT_TRUE(ParseInstruction(self.Bytes, r));
    EXPECT_TRUE(r.isJump);
    EXPECT_TRUE(r.relative);
    EXPECT_TRUE(r.widenable);
    EXPECT_EQ(r.targetSize, 1u);
    EXPECT_EQ(r.target, self.At(0));
    EXPECT_EQ(r.targetOperand, self.Bytes + 1);

    TCode loop({0xE2, 0x10});
    ASSERT_TRUE(ParseInstruction(loop.Bytes, r));
    EXPECT_TRUE(r.isJump);
    EXPECT_FALSE(r.widenable);
    EXPECT_EQ(r.target, loop.At(0x12));

    TCode call({0xE8, 0x0B, 0, 0, 0});
    ASSERT_TRUE(ParseInstruction(call.Bytes, r));
    EXPECT_TRUE(r.isCall);
    EXPECT_EQ(r.targetSize, 4u);
    EXPECT_EQ(r.target, call.At(16));

    TCode jcc({0x0F, 0x84, 0xFA, 0xFF, 0xFF, 0xFF});
    ASSERT_TRUE(ParseInstruction(jcc.Bytes, r));
    EXPECT_TRUE(r.isJump);
    EXPECT_EQ(r.target, jcc.At(0));

    // Through a cell: the cell is read; an unreadable cell makes the record invalid.
    static std::uint32_t cell = 0x12345678;
    TCode throughCell({0xFF, 0x15});
    throughCell.PutWord(2, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&cell)));
    ASSERT_TRUE(ParseInstruction(throughCell.Bytes, r));
    EXPECT_TRUE(r.isCall);
    EXPECT_EQ(r.target, 0x12345678u);
    EXPECT_EQ(r.targetCell, reinterpret_cast<const std::uint8_t *>(&cell));
    EXPECT_EQ(r.targetSize, 4u);
    TCode badCell({0xFF, 0x15, 0x10, 0, 0, 0});
    EXPECT_FALSE(ParseInstruction(badCell.Bytes, r));

    TCode throughRegister({0xFF, 0xE0});
    ASSERT_TRUE(ParseInstruction(throughRegister.Bytes, r));
    EXPECT_TRUE(r.isJump);
    EXPECT_EQ(r.target, 0u);
    EXPECT_EQ(r.targetOperand, nullptr);
}

TEST(vexDisAsmTest, KnowledgeResolvesACallThroughARegister) {
    TCode code({0xB8, 0x78, 0x56, 0x34, 0x12, 0xFF, 0xD0, 0x8B, 0xC8, 0x31, 0xC0});
    RegisterKnowledge knowledge{};
    InstructionRecord r;
    ASSERT_TRUE(ParseInstructionTracked(code.Bytes, &knowledge, true, r, nullptr));
    EXPECT_EQ(knowledge[0], code.Bytes + 1);
    ASSERT_TRUE(ParseInstructionTracked(code.Bytes + 5, &knowledge, true, r, nullptr));
    EXPECT_TRUE(r.isCall);
    EXPECT_EQ(r.target, 0x12345678u);
    EXPECT_EQ(r.targetOperand, code.Bytes + 1);
    // Without the resolve flag the target stays unknown.
    RegisterKnowledge copy = knowledge;
    ASSERT_TRUE(ParseInstructionTracked(code.Bytes + 5, &copy, false, r, nullptr));
    EXPECT_EQ(r.targetOperand, nullptr);
    // mov ecx, eax copies what is known; xor eax, eax forgets EAX.
    ASSERT_TRUE(ParseInstructionTracked(code.Bytes + 7, &knowledge, true, r, nullptr));
    EXPECT_EQ(knowledge[1], code.Bytes + 1);
    ASSERT_TRUE(ParseInstructionTracked(code.Bytes + 9, &knowledge, true, r, nullptr));
    EXPECT_EQ(knowledge[0], nullptr);
    EXPECT_EQ(knowledge[1], code.Bytes + 1);
    // A rep prefix makes ECX unknown.
    TCode rep({0xF3, 0xA4});
    ASSERT_TRUE(ParseInstructionTracked(rep.Bytes, &knowledge, true, r, nullptr));
    EXPECT_EQ(knowledge[1], nullptr);
}

TEST(vexDisAsmTest, GuardedReadsUseTheRegionList) {
    TRegionList *regions = ReadableRegionList();
    ASSERT_NE(regions, nullptr);
    ASSERT_FALSE(regions->empty());
    for (std::size_t i = 1; i < regions->size(); ++i)
        ASSERT_EQ((*regions)[i - 1].End, (*regions)[i].Start);
    std::uint32_t value = 0;
    static const std::uint32_t source = 0xCAFEF00D;
    EXPECT_TRUE(SafeReadMemory(&source, &value, 4, regions));
    EXPECT_EQ(value, 0xCAFEF00Du);
    EXPECT_TRUE(SafeReadMemory(&source, &value, 4, nullptr));
    EXPECT_FALSE(SafeReadMemory(nullptr, &value, 4, regions));
    EXPECT_FALSE(SafeReadMemory(reinterpret_cast<void *>(0x10), &value, 4, regions));
    EXPECT_FALSE(SafeReadMemory(reinterpret_cast<void *>(0x10), &value, 4, nullptr));

    // A reserved page behind a committed one: reads may not run over the edge, and decoding an
    // instruction cut off there fails.
    auto *pages = static_cast<std::uint8_t *>(VirtualAlloc(nullptr, 0x2000, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_NE(pages, nullptr);
    ASSERT_NE(VirtualAlloc(pages, 0x1000, MEM_COMMIT, PAGE_READWRITE), nullptr);
    std::uint8_t *edge = pages + 0x1000 - 3;
    edge[0] = 0xE8; // call rel32 needs five bytes
    FreeRegionList(regions);
    regions = ReadableRegionList();
    EXPECT_TRUE(SafeReadMemory(edge, &value, 3, regions));
    EXPECT_FALSE(SafeReadMemory(edge, &value, 4, regions));
    EXPECT_FALSE(SafeReadMemory(edge, &value, 4, nullptr));
    InstructionRecord r;
    EXPECT_FALSE(ParseInstructionGuarded(edge, regions, r));
    EXPECT_FALSE(ParseInstruction(edge, r));
    edge[2] = 0xC3;
    EXPECT_TRUE(ParseInstruction(edge + 2, r));
    FreeRegionList(regions);
    VirtualFree(pages, 0, MEM_RELEASE);

    void *module = nullptr;
    const void *exports = nullptr;
    EXPECT_TRUE(ModuleExportsOfAddress(reinterpret_cast<void *>(&GetTickCount), module, exports));
    EXPECT_EQ(module, reinterpret_cast<void *>(GetModuleHandleA("kernel32.dll")));
    EXPECT_NE(exports, nullptr);
}

// Our mnemonic in objdump's spelling: objdump names some condition codes and a few instructions
// differently (je for jz, pushf for pushfd), and writes string instructions without their size
// letter (which the caller allows).
std::string ObjdumpSpelling(std::string name) {
    std::erase(name, ' ');
    static const std::pair<const char *, const char *> words[] = {
        {"wait", "fwait"}, {"pushfd", "pushf"}, {"popfd", "popf"}, {"pushad", "pusha"},
        {"popad", "popa"}, {"int01", "int1"},   {"cwde", "cwde"}};
    for (const auto &[ours, theirs] : words)
        if (name == ours)
            return theirs;
    static const std::pair<const char *, const char *> conditions[] = {
        {"z", "e"}, {"nz", "ne"}, {"nb", "ae"}};
    for (const char *prefix : {"j", "set", "cmov"}) {
        const std::size_t length = std::strlen(prefix);
        if (name.compare(0, length, prefix) == 0)
            for (const auto &[ours, theirs] : conditions)
                if (name.substr(length) == ours)
                    return prefix + std::string(theirs);
    }
    return name;
}

// objdump's instruction boundaries of this test program's .text, written by a build step.
std::string LengthsFile() {
    char name[MAX_PATH];
    GetModuleFileNameA(nullptr, name, MAX_PATH);
    std::string path = name;
    return path.substr(0, path.rfind('.')) + ".lengths";
}

TEST(vexDisAsmTest, LengthsAndNamesAgreeWithObjdumpOverTheProgramsOwnCode) {
    // objdump's names for what lies outside this decoder's instruction set (VEX/XOP, SSE3 and
    // later, lone prefixes objdump prints on their own before bytes it cannot read, and bytes it
    // gives up on). GCC's code for this program contains none of them; they come from data and
    // padding that objdump reads as code.
    static const std::set<std::string> allowed = {
        "(bad)", ".byte",  "data16", "addr16", "es",    "cs",  "ss",      "ds",     "fs",
        "gs",    "lock",   "rep",    "repz",   "repnz", "bnd", "notrack", "fisttp", "tzcnt",
        "lzcnt", "popcnt", "rdrand", "rdseed", "pause", "ud1", "ud0"};
    std::ifstream in(LengthsFile());
    ASSERT_TRUE(in.good()) << LengthsFile();
    TRegionList *regions = ReadableRegionList();
    std::uintptr_t address = 0;
    std::size_t checked = 0, skipped = 0;
    std::map<std::string, int> mismatches;
    std::map<std::string, int> nameMismatches;
    std::ostringstream firstMismatches;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        if (line[0] == '@') {
            address = std::stoul(line.substr(1), nullptr, 16);
            continue;
        }
        const std::size_t blank = line.find(' ');
        const int length = std::stoi(line.substr(0, blank));
        const std::string mnemonic = line.substr(blank + 1);
        const bool exempt = allowed.count(mnemonic) || (mnemonic.size() > 1 && mnemonic[0] == 'v');
        if (!exempt) {
            InstructionRecord r;
            ParseInstructionGuarded(reinterpret_cast<const void *>(address), regions, r);
            int decoded = static_cast<int>(r.next - r.address);
            // objdump shows WAIT and the x87 instruction after it as one ("fstsw" for 9B DF E0).
            const bool merged = r.valid && r.opcode == 0x9B && decoded < length;
            if (merged) {
                ParseInstructionGuarded(r.next, regions, r);
                decoded += static_cast<int>(r.next - r.address);
            }
            if (!r.valid || decoded != length) {
                if (mismatches[mnemonic]++ < 2) {
                    firstMismatches << std::hex << address << " " << mnemonic << " objdump " << std::dec
                                    << length << " decoder " << decoded << (r.valid ? "" : " invalid")
                                    << " bytes";
                    for (int i = 0; i < length; ++i)
                        firstMismatches << " " << std::hex
                                        << int(reinterpret_cast<const std::uint8_t *>(address)[i]);
                    firstMismatches << std::dec << "\n";
                }
            } else if (!merged) {
                // objdump spells the operand-size nop (66 90) "xchg ax,ax".
                const std::string ours = r.opcode == 0x90 && r.detail.OperandSize
                                             ? std::string("xchg")
                                             : ObjdumpSpelling(InstructionMnemonic(r));
                if (ours != mnemonic &&
                    !(ours.size() == mnemonic.size() + 1 && ours.compare(0, mnemonic.size(), mnemonic) == 0))
                    ++nameMismatches[mnemonic + " / " + ours];
            }
            ++checked;
        } else {
            ++skipped;
        }
        address += length;
    }
    FreeRegionList(regions);
    EXPECT_GT(checked, 10000u);
    EXPECT_LT(skipped * 100, checked) << "the allow-list covers more than one instruction in a hundred";
    EXPECT_TRUE(mismatches.empty()) << firstMismatches.str();
    std::ostringstream names;
    for (const auto &[pair, count] : nameMismatches)
        names << pair << " (" << count << ")\n";
    EXPECT_TRUE(nameMismatches.empty()) << names.str();
}

} // namespace
