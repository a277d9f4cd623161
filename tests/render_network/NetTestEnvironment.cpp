// The modules the network tests stand on, started once for the whole test program in the
// program's order: the program information and registry key (the server reads its section of
// the configuration), the formula modules (the server engine compiles the client's formulas),
// and Winsock.
#include <gtest/gtest.h>

#include "FracBuiltin.h"
#include "GenProgram.h"
#include "GenRegistry.h"
#include "NetCache.h"
#include "NetGeneral.h"
#include "tests/fractal/FormulaModules.h"

namespace {

class TNetworkEnvironment : public testing::Environment {
public:
    void SetUp() override {
        InitializeGenProgram();
        InitializeGenRegistry();
        StartFormulaModules();
        InitializeFracBuiltin();
        InitializeNetGeneral();
    }
    void TearDown() override {
        FinalizeNetCache();
        FinalizeNetGeneral();
        FinalizeFracBuiltin();
        StopFormulaModules();
        FinalizeGenRegistry();
        FinalizeGenProgram();
    }
};

const testing::Environment *const Environment = testing::AddGlobalTestEnvironment(new TNetworkEnvironment);

} // namespace
