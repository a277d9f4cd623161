// The stack tracer: reads the used part of a thread's stack, takes every value that points just
// behind a call instruction of a loaded module as a possible return address, checks the candidates
// against each other with the function walker (does the call before one lead into the function
// that holds the next, more recent one?), removes repetitions of recursion, keeps the best-supported
// chain and writes one line per call: code address, module, unit, line and routine.
// Reports are made one at a time; the module and function caches live for the whole process and are
// used under the tracer's lock.
#pragma once

#include <cstdint>
#include <string>

struct TTraceInput {
    std::uintptr_t FramePointer = 0;
    // 0 for both: the calling thread's own stack, from the caller of TraceStack upward.
    std::uintptr_t StackTop = 0;
    std::uintptr_t StackPointer = 0;
    std::uintptr_t CreatorAddress = 0;
    // The exception address or the thread's instruction pointer; 0 with ExceptionThread false: the
    // return address of the tracer's caller.
    std::uintptr_t StartAddress = 0;
    bool ProcessorException = false;
    bool ExceptionThread = false;
    // Receive the start entry's function start and printed code address, when given.
    std::uintptr_t *HandBackFunctionStart = nullptr;
    std::uintptr_t *HandBackCodeAddress = nullptr;
};

// The trace's lines, separated by CR LF; empty when the stack range cannot be read. Never raises.
std::string TraceStack(const TTraceInput &Input);

// Module end: forgets the module cache (the function cache lives as long as the process).
void FinalizeVexStackTrace();
