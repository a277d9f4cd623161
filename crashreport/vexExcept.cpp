#include "vexExcept.h"

#include <windows.h>

#include <mutex>

#include "SysUtils.h"
#include "vexHandler.h"
#include "vexHooks.h"

namespace {

// std::mutex is constant-initialized, so the record is usable before any module start-up.
std::mutex RecordLock;
TExceptionReportRecord Reports;

// Class name and message of any exception object.
void DescribeException(const std::exception_ptr &Object, std::string &ClassName, std::string &Message,
                       bool &IsAbort) {
    IsAbort = false;
    try {
        std::rethrow_exception(Object);
    } catch (const EAbort &e) {
        IsAbort = true;
        ClassName = e.ClassName();
        Message = e.Message();
    } catch (const Exception &e) {
        ClassName = e.ClassName();
        Message = e.Message();
    } catch (const std::exception &e) {
        ClassName = "std::exception";
        Message = e.what();
    } catch (...) {
        ClassName = "unknown";
        Message = "Unknown exception";
    }
}

} // namespace

int SubmitExceptionReport(std::uint8_t Flag, std::exception_ptr ExceptObject, void *ExceptAddr,
                          std::uint8_t SilentAbort, std::uint32_t Param1, std::uint32_t Param2,
                          std::uint32_t Param3) noexcept {
    try {
        if (!ExceptObject)
            ExceptObject = std::current_exception();
        if (!ExceptObject)
            return 0; // called outside a catch block: nothing to report
        std::string className, message;
        bool isAbort = false;
        DescribeException(ExceptObject, className, message, isAbort);
        if (isAbort && SilentAbort)
            return 0;
        {
            std::lock_guard<std::mutex> guard(RecordLock);
            ++Reports.Count;
            Reports.LastClassName = className;
            Reports.LastMessage = message;
            Reports.LastAddress = ExceptAddr;
        }
        const std::string line = Format("Exception report: %s: %s (thread %lu, address %p)\n", className,
                                        message, GetCurrentThreadId(), ExceptAddr);
        OutputDebugStringA(line.c_str());
        // With the library installed the exception gets its full report; a thread whose exception
        // came here ends, so the program can go on.
        if (CrashHooksInstalled())
            HandleException(false, ExceptObject, ExceptAddr, true, 0, 0, nullptr);
    } catch (...) {
        // The report entry must never raise: a failure here is only lost.
    }
    return 0;
}

TExceptionReportRecord GetExceptionReports() {
    std::lock_guard<std::mutex> guard(RecordLock);
    return Reports;
}

void ResetExceptionReports() {
    std::lock_guard<std::mutex> guard(RecordLock);
    Reports = TExceptionReportRecord();
}
