// Shared set-up of the configuration tests: the program information and the registry base key
// exist, and the base key starts empty for every test (the tests run in their own prefix).
#pragma once

#include <gtest/gtest.h>

#include "GenProgram.h"
#include "GenRegistry.h"
#include "Registry.h"

class RegistryTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        FOwnsProgram = ProgramInformation() == nullptr;
        if (FOwnsProgram)
            InitializeGenProgram();
        FOwnsRegistry = RegistryBaseKey().empty();
        if (FOwnsRegistry)
            InitializeGenRegistry();
    }

    static void TearDownTestSuite() {
        if (FOwnsRegistry)
            FinalizeGenRegistry();
        if (FOwnsProgram)
            FinalizeGenProgram();
    }

    void SetUp() override { ClearBaseKey(); }
    void TearDown() override { ClearBaseKey(); }

    static void ClearBaseKey() {
        TRegistry Registry;
        Registry.DeleteKey(RegistryBaseKey());
        ASSERT_FALSE(Registry.KeyExists(RegistryBaseKey()));
    }

    // Opens base key + SubKey in Registry (creating it), for seeding and checking values.
    static void OpenSection(TRegistry &Registry, const std::string &SubKey) {
        ASSERT_TRUE(Registry.OpenKey(RegistryBaseKey() + SubKey, true)) << SubKey;
    }

    static inline bool FOwnsProgram = false;
    static inline bool FOwnsRegistry = false;
};
