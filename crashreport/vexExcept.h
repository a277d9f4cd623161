// The exception entry of the library's own guards (a thread's top, for one): it records each report
// (count, class and message, readable through the functions below), writes one line to the debug
// output and, once the library is installed, hands the exception to the handling core.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

// Reports one exception. An empty ExceptObject stands for the exception being handled at the
// moment of the call (so the call then has to come from inside a catch block); ExceptAddr is
// the code address of a processor fault, or null. With SilentAbort set, an EAbort returns at once
// without a report. Flag and the three trailing values are unused. Returns 0;
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
