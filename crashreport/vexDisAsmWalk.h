// The function walker: follows a routine of the running process from its entry along every branch
// it can resolve and records its code areas, case tables, calls that leave it and branches it could
// not resolve. Never raises.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vexDisAsm.h"

struct CodeArea {
    std::uintptr_t start = 0;
    std::uintptr_t end = 0; // address of the last byte; 0 while not walked
    bool isCaseTable = false;
    bool isExceptTable = false;
    std::uintptr_t referrer = 0;
    RegisterKnowledge knowledge{};
};

struct FarCall {
    bool isCall = false;
    std::uintptr_t address = 0;
    std::uintptr_t next = 0;
    std::uint32_t target = 0;
    bool relative = false;
    const std::uint8_t *targetOperand = nullptr;
    const std::uint8_t *targetCell = nullptr;
};

struct UnknownTarget {
    bool isCall = false;
    std::uintptr_t address = 0;
    std::uintptr_t next = 0;
};

inline constexpr std::uint32_t InvalidCodeError = 0x770001;

struct FunctionRecord {
    bool valid = false;
    std::uintptr_t entry = 0;
    std::uintptr_t codeBegin = 0;
    std::uint32_t codeLength = 0;
    std::uintptr_t errorAddress = 0;
    std::uint32_t errorCode = 0;
    std::string errorText;
    std::vector<CodeArea> areas;
    std::vector<FarCall> farCalls;
    std::vector<UnknownTarget> unknownTargets;
    bool interceptable = false;
    std::uint32_t copySize = 0;
};

bool ParseFunction(const void *Entry, FunctionRecord &Record);
bool ParseFunctionGuarded(const void *Entry, const TRegionList *Regions, FunctionRecord &Record);

// The extent of a routine that the run time's unwind tables give, with its landing pads (the code
// that only the exception tables reach). False when the tables know nothing of the address.
struct TUnwindRange {
    std::uintptr_t Begin = 0, End = 0; // End exclusive
    std::vector<std::uintptr_t> LandingPads;
};
bool FindUnwindRange(const void *Address, TUnwindRange &Range, const TRegionList *Regions);

// True for the run time's routines that never return (throwing, resuming an unwind, ending the
// process).
bool IsNoReturnRoutine(std::uintptr_t Address);
