// The bug report: one plain text with a header of system and program facts, the exception with the
// call stacks of the threads, the loaded modules and a disassembly around the exception address.
// Lines end with CR LF. Building never raises.
#pragma once

#include <windows.h>

#include <cstdint>
#include <exception>
#include <string>

struct TBugReportInput {
    bool Frozen = false;
    // What the report needs of the exception, copied in the faulting thread before the other
    // threads are held (DescribeReportException): the report then never touches the object.
    bool HasException = false;
    std::string ExceptionClass = "Unknown";
    std::string ExceptionMessage;
    std::uintptr_t ExceptAddress = 0;
    DWORD ThreadId = 0; // the faulting thread; 0: the calling thread
    // The faulting code's stack and frame pointer (0: from the thread's context, or for the calling
    // thread its own stack from the caller of CreateBugReport).
    std::uintptr_t StackPointer = 0;
    std::uintptr_t FramePointer = 0;
    bool ShowProgress = false;
    // A processor exception (fault) rather than a raised language exception.
    bool ProcessorException = false;
};

// Fills the exception fields: the library's exception classes carry their message; for other C++
// exceptions the dynamic type names the class and what() is the message.
void DescribeReportException(const std::exception_ptr &Object, TBugReportInput &Input);

std::string CreateBugReport(const TBugReportInput &Input);

// The pieces, for the report and its tests.
inline constexpr const char *FrozenText = "The application seems to be frozen.";
// "label" padded to 18, ": ", the value, CR LF.
std::string HeaderLine(const std::string &Label, const std::string &Value);
std::string BugReportHeader();
// "2 days 3 hours ": the first non-zero unit of days, hours and minutes (else seconds) and the next.
std::string TimeSpanText(std::uint64_t Seconds);
// Control characters removed, "Unknown" for nothing, at most one closing '.' or '!' kept.
std::string ReportMessageText(const std::string &Message);
// "(C:) 12.3 GB"; empty for '\\' (a network path).
std::string DiskText(char Letter);
// Module start-up (on the main thread): the start time and the main thread's id.
void InitializeVexBugReport();
DWORD ReportMainThreadId();
