// The stack tracer: reads the used part of a thread's stack, takes every value that points just
// behind a call instruction of a loaded module as a possible return address, checks the candidates
// against each other with the function walker (does the call before one lead into the function
// that holds the next, more recent one?), removes repetitions of recursion, keeps the best-supported
// chain and writes one line per call: code address, module, unit, line and routine.
// Reports are made one at a time; the module and function caches live for the whole process and are
// used under the tracer's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class TProgressBar;

// Progress of a report's traces: tasks in order (one per traced thread), each weighted by its stack
// size, and the progress within the current task. A bar would show only for slow reports: after
// 750 ms, when less than half of the work is done; from then on it runs from where it appeared.
class TProgressTracker {
public:
    explicit TProgressTracker(std::uint32_t StartTicks);
    ~TProgressTracker();
    // Shows the bar as a window once it is due (without, the tracker only computes it).
    void UseWindow() { FWindowed = true; }
    void AddTask(std::uint64_t Weight);
    // Permille of the current task.
    void SetProgress(std::uint32_t Permille, std::uint32_t NowTicks);
    // The current task is complete; the next one begins.
    void TaskDone(std::uint32_t NowTicks);
    // Permille of all work.
    std::uint32_t Overall() const;
    bool BarShown() const { return FBarShown; }
    // The bar's position in permille of what was left when it appeared, and its text.
    std::uint32_t BarPosition() const;
    std::string BarText() const;

private:
    void Update(std::uint32_t NowTicks);
    struct TTask {
        std::uint64_t Start, Weight;
    };
    std::uint32_t FStartTicks;
    TTask FTasks[64];
    std::size_t FTaskCount = 0, FCurrent = 0;
    std::uint64_t FTotal = 0, FDone = 0;
    bool FBarShown = false;
    std::uint32_t FShownAt = 0;
    bool FWindowed = false;
    std::unique_ptr<TProgressBar> FBar;
};

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
    TProgressTracker *Progress = nullptr;
};

// The trace's lines, separated by CR LF; empty when the stack range cannot be read. Never raises.
std::string TraceStack(const TTraceInput &Input);

// Module end: forgets the module cache (the function cache lives as long as the process).
void FinalizeVexStackTrace();
