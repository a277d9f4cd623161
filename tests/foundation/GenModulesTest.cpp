#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "GenModules.h"

namespace {

std::string Trace;

void InitA() { Trace += "+A"; }
void FinalA() { Trace += "-A"; }
void InitB() { Trace += "+B"; }
void FinalB() { Trace += "-B"; }
void InitFails() { throw std::runtime_error("start failed"); }
void FinalFails() {
    Trace += "-F";
    throw std::runtime_error("stop failed");
}

TEST(GenModules, StartsInOrderAndStopsInReverse) {
    Trace.clear();
    {
        TModuleStartup modules({{"A", InitA, FinalA}, {"B", InitB, FinalB}});
        modules.Start();
        EXPECT_EQ(Trace, "+A+B");
    }
    EXPECT_EQ(Trace, "+A+B-B-A");
}

TEST(GenModules, FailedStartFinalizesOnlyStartedModules) {
    Trace.clear();
    TModuleStartup modules({{"A", InitA, FinalA}, {"X", InitFails, FinalB}, {"B", InitB, FinalB}});
    EXPECT_THROW(modules.Start(), std::runtime_error);
    EXPECT_EQ(Trace, "+A-A");
    EXPECT_EQ(modules.StartedCount(), 0);
}

TEST(GenModules, FailingFinalizeStillStopsTheOthers) {
    Trace.clear();
    TModuleStartup modules({{"A", InitA, FinalA}, {"F", nullptr, FinalFails}, {"B", InitB, FinalB}});
    modules.Start();
    EXPECT_THROW(modules.Stop(), std::runtime_error);
    EXPECT_EQ(Trace, "+A+B-B-F-A");
}

} // namespace
