// Runs a piece of generated code (a routine template, or bytes a processor access emitted) in
// executable memory, between a prologue that loads operands and fills the rest of the x87 stack
// with sentinels and an epilogue that stores the results and reads back what the code must keep.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TCodeRun {
    // Inputs.
    std::vector<long double> X87In; // top first
    std::uint32_t Eax = 0, Edx = 0, Ecx = 0;
    std::vector<float> ColorsIn; // 0, 4 or 8 floats; the first colour ends at [esp]
    void *Context = nullptr;     // esi
    void *Data = nullptr;        // edi
    // x87 registers the code may use beyond its inputs and outputs; the sentinels fill the rest.
    int StackUse = 0;
    // Shape of the results.
    int X87OutCount = 0;
    bool ColorOut = false;

    // Results.
    std::vector<long double> X87Out; // top first
    std::uint32_t EaxOut = 0;
    float ColorOutValue[4] = {};
    int SentinelCount = 0;
    bool SentinelsIntact = false; // the registers below the operands still hold their values
    bool StackFault = false;      // an x87 stack overflow or underflow happened
    bool FpuEmpty = false;        // nothing was left on the x87 stack beyond the results
    bool RegistersKept = false;   // ebx, esi, edi and ebp as before
    int EspChange = 0;            // esp after the code minus esp before it
};

// Runs Length bytes of Code as laid out in Run. The FPU runs under the formula control word.
void RunCode(const std::uint8_t *Code, int Length, TCodeRun &Run);

// "m p e" (m * 2^e), "inf", "-inf" or "nan".
long double ParseExactNumber(const std::string &Text);

// Bitwise equality of two 80-bit values (NaNs of the same pattern are equal).
bool SameExtended(long double A, long double B);
