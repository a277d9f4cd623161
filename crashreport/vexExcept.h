// Central exception entry of the crash-reporting library, in its present form: it records each
// report (count, class and message, readable through the functions below) and writes one line to
// the debug output. The full library later produces the bug report here.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

// Reports one exception. An empty ExceptObject stands for the exception being handled at the
// moment of the call (so the call then has to come from inside a catch block); ExceptAddr is
// the code address of a processor fault, or null. With SilentAbort set, an EAbort returns at once
// without a report. Flag and the three trailing values are kept for the full library. Returns 0;
// never raises.
int SubmitExceptionReport(std::uint8_t Flag, std::exception_ptr ExceptObject, void *ExceptAddr,
                          std::uint8_t SilentAbort, std::uint32_t Param1, std::uint32_t Param2,
                          std::uint32_t Param3) noexcept;

// What has been reported so far (for tests and diagnostics).
struct TExceptionReportRecord {
    int Count = 0;
    std::string LastClassName;
    std::string LastMessage;
    void *LastAddress = nullptr;
};
TExceptionReportRecord GetExceptionReports();
void ResetExceptionReports();
