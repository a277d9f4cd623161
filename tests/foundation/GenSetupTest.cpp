#include "GenAutoSetup.h"
#include "GenSetup.h"
#include "GenUtils.h"
#include "ShellUtils.h"

#include <gtest/gtest.h>

#include "RegistryTestSupport.h"

namespace {

// Removes a folder tree; the tests' own clean-up, independent of the code under test.
void RemoveTree(const std::string &Folder) {
    const std::string Base = AddTrailingBackslash(Folder);
    WIN32_FIND_DATAA Found;
    HANDLE Find = FindFirstFileA((Base + "*").c_str(), &Found);
    if (Find != INVALID_HANDLE_VALUE) {
        do {
            const std::string Name = Found.cFileName;
            if (Name == "." || Name == "..")
                continue;
            if (Found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(Base + Name);
            else
                DeleteFileA((Base + Name).c_str());
        } while (FindNextFileA(Find, &Found));
        FindClose(Find);
    }
    RemoveDirectoryA(RemoveTrailingBackslash(Base).c_str());
}

// The first-start setup in the test prefix's own documents and application-data folders, with
// the examples taken from a stand-in of the program's "Data" folder.
class AutoSetup : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        FDocuments = AddTrailingBackslash(GetDocumentsFolder()) + "Orbisk Vantel 3\\";
        FAppData = AddTrailingBackslash(GetAppDataFolder()) + "Orbisk Vantel 3\\";
        RemoveTree(FDocuments);
        RemoveTree(FAppData);
        ASSERT_FALSE(DirectoryExists(FDocuments));
        FManager = std::make_unique<TConfigManager>();
        FManager->LoadSettings();
    }

    void TearDown() override {
        FManager.reset();
        RemoveTree(FDocuments);
        RemoveTree(FAppData);
        RegistryTest::TearDown();
    }

    void Run(const std::string &ProgramFolder = std::string(TEST_DATA_DIR) +
                                                "foundation\\data\\AutoSetup\\") {
        TAutoSetup Setup(*FManager);
        Setup.ProgramFolder = ProgramFolder;
        Setup.Execute();
    }

    std::string FDocuments, FAppData;
    std::unique_ptr<TConfigManager> FManager;
};

TEST_F(AutoSetup, FirstStartCreatesTheDataFoldersAndChoosesTheDefaults) {
    Run();
    const TFolderConfiguration &F = *FManager->Folder;
    const struct {
        const std::string &Folder;
        std::string Expected;
        const char *Example; // a file copied from the examples, or nullptr
    } Cases[] = {
        {F.Fractal, FDocuments + "Fractals\\", "Sample.txt"},
        {F.Gradient, FDocuments + "Gradients\\", nullptr}, // no examples shipped: still created
        {F.Parameter, FDocuments + "Parameters\\", "Examples.opr"},
        {F.Formula, FDocuments + "Formulas\\", "Sample.ofm"},
        {F.FormulaHelp, FDocuments + "Help on Formulas\\", "Readme.txt"},
        {F.FormulaPublic, FDocuments + "Formulas\\Public\\", nullptr},
        {F.System, FAppData + "System\\", "Sample.txt"},
    };
    for (const auto &Case : Cases) {
        EXPECT_EQ(Case.Folder, Case.Expected);
        EXPECT_TRUE(DirectoryExists(Case.Expected)) << Case.Expected;
        if (Case.Example) {
            EXPECT_TRUE(FileExists(Case.Expected + Case.Example)) << Case.Expected << Case.Example;
        }
    }
    EXPECT_EQ(FManager->Fractal->DefaultFile, FDocuments + "Parameters\\Examples.opr");
    EXPECT_EQ(FManager->Fractal->DefaultEntry, "Default");
    EXPECT_EQ(FManager->General->StartupAction, 3);

    char User[1025] = {};
    DWORD Size = 1024;
    ASSERT_TRUE(GetUserNameA(User, &Size));
    EXPECT_EQ(FManager->General->Owner, User);
}

TEST_F(AutoSetup, LaterStartChangesNothing) {
    Run();
    // The user deletes an example and chooses another start-up action.
    ASSERT_TRUE(DeleteFileA((FDocuments + "Formulas\\Sample.ofm").c_str()));
    FManager->General->StartupAction = 1;
    FManager->General->Owner = "Kept Owner";
    FManager->SaveSettings();

    FManager = std::make_unique<TConfigManager>();
    FManager->LoadSettings();
    const std::string Folders[] = {FManager->Folder->Fractal,     FManager->Folder->Gradient,
                                   FManager->Folder->Parameter,   FManager->Folder->Formula,
                                   FManager->Folder->FormulaHelp, FManager->Folder->FormulaPublic,
                                   FManager->Folder->System};
    Run();
    const std::string After[] = {FManager->Folder->Fractal,     FManager->Folder->Gradient,
                                 FManager->Folder->Parameter,   FManager->Folder->Formula,
                                 FManager->Folder->FormulaHelp, FManager->Folder->FormulaPublic,
                                 FManager->Folder->System};
    for (int I = 0; I < 7; ++I)
        EXPECT_EQ(After[I], Folders[I]);
    EXPECT_FALSE(FileExists(FDocuments + "Formulas\\Sample.ofm"));
    EXPECT_EQ(FManager->General->StartupAction, 1);
    EXPECT_EQ(FManager->General->Owner, "Kept Owner");
    EXPECT_EQ(FManager->Fractal->DefaultFile, FDocuments + "Parameters\\Examples.opr");
}

TEST_F(AutoSetup, PublicFormulaFolderOutsideTheFormulaFolderIsReset) {
    Run();
    const std::string Outside = FDocuments + "Elsewhere\\";
    ASSERT_TRUE(ForceDirectories(Outside));
    FManager->Folder->FormulaPublic = Outside;
    Run();
    EXPECT_EQ(FManager->Folder->FormulaPublic, FManager->Folder->Formula + "Public\\");

    // Inside the formula folder and existing: kept, whatever the letter case.
    const std::string Inside = FManager->Folder->Formula + "Shared\\";
    ASSERT_TRUE(ForceDirectories(Inside));
    FManager->Folder->FormulaPublic = UpperCase(Inside);
    Run();
    EXPECT_EQ(FManager->Folder->FormulaPublic, UpperCase(Inside));
}

TEST_F(AutoSetup, WithoutExamplesTheStartupActionIsNothing) {
    Run(FDocuments + "NoProgramHere\\");
    EXPECT_TRUE(DirectoryExists(FDocuments + "Parameters\\"));
    EXPECT_FALSE(FileExists(FManager->Fractal->DefaultFile));
    EXPECT_EQ(FManager->General->StartupAction, 0);
}

TEST_F(AutoSetup, ModuleStartUpLoadsAndSetsUp) {
    FManager.reset();
    ASSERT_EQ(ConfigManager(), nullptr);
    InitializeGenSetup();
    ASSERT_NE(ConfigManager(), nullptr);
    EXPECT_EQ(ConfigManager()->Folder->Fractal, FDocuments + "Fractals\\");
    EXPECT_TRUE(DirectoryExists(FAppData + "System\\"));
    EXPECT_FALSE(ConfigManager()->General->Owner.empty());
    FinalizeGenSetup();
    EXPECT_EQ(ConfigManager(), nullptr);
}

} // namespace
