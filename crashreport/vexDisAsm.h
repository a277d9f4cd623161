// One-instruction decoder for 32-bit x86 code of the running process (general instructions, x87,
// MMX, SSE, SSE2 and 3DNow!), table-driven, with guarded reads of memory that may not be mapped.
// It only reads code, never executes it, and never raises: unreadable or undefined code gives a
// record that is not valid.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// What the registers EAX, ECX, EDX, EBX, ESP, EBP, ESI, EDI hold, as far as the walked code shows:
// the address of the 32-bit immediate last loaded into the register, or null when unknown.
using RegisterKnowledge = std::array<const std::uint8_t *, 8>;

// Decoding details beyond the branch facts, used by the disassembly text.
struct InstructionDetail {
    std::uint16_t Properties = 0; // the opcode's property word (group entry resolved)
    std::uint8_t Mnemonic = 0;    // index into the mnemonic list, 1-based
    bool Lock = false, Repne = false, Rep = false, OperandSize = false, AddressSize = false;
    std::uint8_t Segment = 0; // 1 ES, 2 CS, 3 SS, 4 DS, 5 FS, 6 GS
    bool HasModRM = false, MemoryForm = false;
    std::uint8_t Mod = 0, Reg = 0, RM = 0;
    std::int8_t Base = -1, Index = -1; // register numbers, -1 for none
    std::uint8_t Scale = 1;
    std::int32_t Displacement = 0;
    std::uint8_t DisplacementSize = 0;
    const std::uint8_t *DisplacementAt = nullptr;
    std::int32_t Immediate = 0;     // sign-extended for sizes 1, 2 and 4
    std::uint8_t ImmediateSize = 0; // far pointers 6 (4 with the operand-size prefix), ENTER 3
    const std::uint8_t *ImmediateAt = nullptr;
    std::uint8_t Suffix = 0; // the 3DNow! suffix byte
};

struct InstructionRecord {
    bool valid = false;
    std::uint16_t opcode = 0;
    std::uint8_t modrm = 0;
    bool isCall = false;
    bool isJump = false;
    bool relative = false;
    std::uint32_t target = 0;
    const std::uint8_t *targetOperand = nullptr;
    const std::uint8_t *targetCell = nullptr;
    std::uint32_t targetSize = 0;
    bool widenable = false;
    const std::uint8_t *address = nullptr;
    const std::uint8_t *next = nullptr;
    InstructionDetail detail;
};

// Readable memory of the lower 2 GB, built once so that many reads need no system call each.
struct TRegion {
    std::uintptr_t Start, End; // End exclusive
    bool Readable;
};
using TRegionList = std::vector<TRegion>;

TRegionList *ReadableRegionList();
void FreeRegionList(TRegionList *List);
// True when all Count bytes were copied. Memory is checked (against the list, or with the system's
// region query without one) and then copied directly.
bool SafeReadMemory(const void *Address, void *Buffer, std::size_t Count, const TRegionList *Regions);

bool ParseInstruction(const void *Code, InstructionRecord &Record);
bool ParseInstructionGuarded(const void *Code, const TRegionList *Regions, InstructionRecord &Record);
// With Knowledge given it is updated by the instruction; with Resolve, calls and jumps through a
// register (or through the cell a register points at) take their target from the knowledge.
bool ParseInstructionTracked(const void *Code, RegisterKnowledge *Knowledge, bool Resolve,
                             InstructionRecord &Record, const TRegionList *Regions);

// The module of an address with its export directory.
bool ModuleExportsOfAddress(const void *Address, void *&Module, const void *&Exports);

// The mnemonic list (1-based) and the 3DNow! names, for the disassembly text.
const char *MnemonicEntry(unsigned Index);
const char *Amd3DNowName(std::uint8_t Suffix);
