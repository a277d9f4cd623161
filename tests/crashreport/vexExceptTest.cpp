#include <gtest/gtest.h>

#include <stdexcept>

#include "SysUtils.h"
#include "vexExcept.h"

namespace {

class ExceptionReportTest : public ::testing::Test {
protected:
    void SetUp() override { ResetExceptionReports(); }
};

TEST_F(ExceptionReportTest, ReportsTheExceptionBeingHandled) {
    try {
        throw EConvertError("'%s' is not a valid date", std::string("x"));
    } catch (...) {
        EXPECT_EQ(SubmitExceptionReport(0, nullptr, nullptr, 1, 0, 0, 0), 0);
    }
    const TExceptionReportRecord reports = GetExceptionReports();
    EXPECT_EQ(reports.Count, 1);
    EXPECT_EQ(reports.LastClassName, "EConvertError");
    EXPECT_EQ(reports.LastMessage, "'x' is not a valid date");
}

TEST_F(ExceptionReportTest, AbortIsSilentOnlyWhenAsked) {
    const std::exception_ptr abort = std::make_exception_ptr(EAbort(std::string()));
    SubmitExceptionReport(0, abort, nullptr, 1, 0, 0, 0);
    EXPECT_EQ(GetExceptionReports().Count, 0);
    SubmitExceptionReport(0, abort, nullptr, 0, 0, 0, 0);
    EXPECT_EQ(GetExceptionReports().Count, 1);
    EXPECT_EQ(GetExceptionReports().LastClassName, "EAbort");
}

TEST_F(ExceptionReportTest, ExplicitObjectAndAddress) {
    int marker = 0;
    SubmitExceptionReport(0, std::make_exception_ptr(std::logic_error("logic")), &marker, 1, 0, 0, 0);
    const TExceptionReportRecord reports = GetExceptionReports();
    EXPECT_EQ(reports.Count, 1);
    EXPECT_EQ(reports.LastMessage, "logic");
    EXPECT_EQ(reports.LastAddress, &marker);
}

TEST_F(ExceptionReportTest, NothingToReportOutsideACatchBlock) {
    EXPECT_EQ(SubmitExceptionReport(0, nullptr, nullptr, 1, 0, 0, 0), 0);
    EXPECT_EQ(GetExceptionReports().Count, 0);
}

} // namespace
