// What the importer tests share: a configuration whose formula folder is the shipped formula
// files' folder, so that "Fractint.ofm", "Fractint.ocl" and "Fractint.oxf" are found as the
// program finds them, and a reader over one entry's text.
#pragma once

#include <memory>
#include <string>

#include "CompPersistent.h"
#include "GenProgram.h"
#include "GenRegistry.h"
#include "GenSetup.h"

inline std::string ShippedFormulaFolder() {
    return std::string(TEST_DATA_DIR) + "..\\resources\\formulas\\";
}

// Starts the configuration for the life of the object when nothing else did, with the shipped
// formula folder first among the formula folders; extra folders (fixtures) are searched after it.
class TShippedFormulaFolders {
public:
    explicit TShippedFormulaFolders(const std::string &ExtraFolder = std::string()) {
        FStarted = ConfigManager() == nullptr;
        if (FStarted) {
            InitializeGenProgram();
            InitializeGenRegistry();
            InitializeGenSetup();
        }
        TFolderConfiguration &folders = *ConfigManager()->Folder;
        FSavedFormula = folders.Formula;
        FSavedPaths = folders.GetSearchPathsText();
        folders.Formula = ShippedFormulaFolder();
        folders.SetSearchPathsText(ExtraFolder);
    }
    ~TShippedFormulaFolders() {
        TFolderConfiguration &folders = *ConfigManager()->Folder;
        folders.Formula = FSavedFormula;
        folders.SetSearchPathsText(FSavedPaths);
        if (FStarted) {
            FinalizeGenSetup();
            FinalizeGenRegistry();
            FinalizeGenProgram();
        }
    }
    TShippedFormulaFolders(const TShippedFormulaFolders &) = delete;
    TShippedFormulaFolders &operator=(const TShippedFormulaFolders &) = delete;

private:
    bool FStarted;
    std::string FSavedFormula, FSavedPaths;
};

inline std::unique_ptr<TParReader> EntryReader(const std::string &Name, const std::string &Body) {
    return TEntryStream::CreateFromString<TParReader>(Name + " {\r\n" + Body + "}\r\n");
}
