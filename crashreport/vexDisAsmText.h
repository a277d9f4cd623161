// Disassembly text: one instruction as a line of compact Intel-style syntax (lower-case mnemonics,
// '$' hexadecimal numbers, comments naming call targets and quoting strings), and a walked function
// as a listing with labels, case tables and a '>' at the failing instruction.
#pragma once

#include <cstdint>
#include <string>

#include "vexDisAsm.h"
#include "vexDisAsmWalk.h"

// Names routines that are not exports (the symbol map installs its look-up here); empty when unknown.
using TNameOfExactAddress = std::string (*)(std::uintptr_t Address);
void SetDisassemblyNameFallback(TNameOfExactAddress Fallback);

// The mnemonic of a decoded instruction, without prefixes.
std::string InstructionMnemonic(const InstructionRecord &Record);
// Decodes the instruction at Address (with the knowledge, resolving through registers) into Record
// and returns its line; WithAddress puts the address and three blanks in front.
std::string InstructionText(const void *Address, RegisterKnowledge *Knowledge, InstructionRecord &Record,
                            bool WithAddress);
// The listing of the routine at Entry, lines separated by CR LF; empty when it cannot be walked.
// With LineLimit n > 0 and FailAddress inside the routine, only about n lines before and after the
// failing instruction are kept, the rest shown as "[...]".
std::string DisassembleFunction(const void *Entry, const void *FailAddress, FunctionRecord &Record,
                                bool ShowStructure, int LineLimit);
