// What the tests of the parameter-set readers and of opening documents share: a scratch folder
// that serves as the Formula folder, the fixture files, and dialogs that answer from a script and
// record what they were asked.
#pragma once

#include <windows.h>

#include <deque>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Forms.h"
#include "FracReaders.h"
#include "GenSetup.h"
#include "GenUtils.h"
#include "SysUtils.h"

inline std::string ReaderDataPath(const std::string &Name) {
    return std::string(TEST_DATA_DIR) + "documents\\data\\readers\\" + Name;
}

inline std::string ReadWholeFile(const std::string &Path) {
    std::ifstream in(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteWholeFile(const std::string &Path, const std::string &Bytes) {
    std::ofstream out(Path, std::ios::binary | std::ios::trunc);
    out << Bytes;
}

// A fresh folder under the temporary folder, removed with its content at the end; while it lives
// it is the configuration's Formula folder, with no search paths.
class TScratchFormulaFolder {
public:
    TScratchFormulaFolder() {
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        static int counter = 0;
        FPath = IncludeTrailingPathDelimiter(temp) +
                Format("OVReaders%u_%d\\", static_cast<unsigned>(GetCurrentProcessId()), ++counter);
        ForceDirectories(FPath);
        TFolderConfiguration &folders = *ConfigManager()->Folder;
        FSavedFormula = folders.Formula;
        FSavedPaths = folders.GetSearchPathsText();
        // Folders are kept with their trailing backslash, as the configuration reads them.
        folders.Formula = FPath;
        folders.SetSearchPathsText("");
    }
    ~TScratchFormulaFolder() {
        TFolderConfiguration &folders = *ConfigManager()->Folder;
        folders.Formula = FSavedFormula;
        folders.SetSearchPathsText(FSavedPaths);
        DeleteFileOrFolder(ExcludeTrailingPathDelimiter(FPath));
    }
    TScratchFormulaFolder(const TScratchFormulaFolder &) = delete;
    TScratchFormulaFolder &operator=(const TScratchFormulaFolder &) = delete;

    // With a trailing '\'.
    const std::string &Path() const { return FPath; }
    std::string File(const std::string &Name) const { return FPath + Name; }
    // Copies a fixture into the folder (or a subfolder of it) under the same name.
    std::string Copy(const std::string &Fixture, const std::string &SubFolder = "") const {
        const std::string folder = SubFolder.empty() ? FPath : FPath + SubFolder + "\\";
        ForceDirectories(folder);
        const std::string target = folder + ExtractFileName(Fixture);
        WriteWholeFile(target, ReadWholeFile(ReaderDataPath(Fixture)));
        return target;
    }

private:
    std::string FPath;
    std::string FSavedFormula;
    std::string FSavedPaths;
};

// Answers the readers' questions from a script and records every question.
class TScriptedDialogs : public TParReaderDialogs {
public:
    TScriptedDialogs() { FPrevious = SetParReaderDialogs(this); }
    ~TScriptedDialogs() override { SetParReaderDialogs(FPrevious); }
    TScriptedDialogs(const TScriptedDialogs &) = delete;
    TScriptedDialogs &operator=(const TScriptedDialogs &) = delete;

    struct TQuestion {
        std::string EntryName, FileName;
    };
    // The answers, taken in order; without any left the question is cancelled.
    std::deque<TMissingFormulaAnswer> Answers;
    std::vector<TQuestion> Questions;
    // PickEntry: whether the user picks, and what.
    bool Picks = false;
    std::string PickedFile, PickedEntry;
    std::vector<int> PickKinds;
    std::vector<std::string> Downloads;
    // Every ShowLoadWarnings call: compile errors, then missing parameters.
    std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> Warnings;

    TMissingFormulaAnswer AskMissingFormula(const std::string &EntryName,
                                            const std::string &FileName) override {
        Questions.push_back({EntryName, FileName});
        if (Answers.empty())
            return {};
        TMissingFormulaAnswer answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    bool PickEntry(int BrowserKind, std::string &FileName, std::string &EntryName) override {
        PickKinds.push_back(BrowserKind);
        if (!Picks)
            return false;
        FileName = PickedFile;
        EntryName = PickedEntry;
        return true;
    }
    void DownloadFormulaFile(const std::string &FileName) override { Downloads.push_back(FileName); }
    void ShowLoadWarnings(const std::vector<std::string> &CompileErrors,
                          const std::vector<std::string> &MissingParameters) override {
        Warnings.emplace_back(CompileErrors, MissingParameters);
    }

private:
    TParReaderDialogs *FPrevious;
};

// The message of the exception that Call raises; "(no error)" when it raises none.
template <class TCall> std::string ErrorOf(TCall Call) {
    try {
        Call();
    } catch (const Exception &error) {
        return error.what();
    }
    return "(no error)";
}

// The forms, for the life of a test suite, when nothing else started them.
class TFormsForSuite {
public:
    TFormsForSuite() : FOwnsForms(Application == nullptr) {
        if (FOwnsForms)
            InitializeForms();
    }
    ~TFormsForSuite() {
        if (FOwnsForms)
            FinalizeForms();
    }
    TFormsForSuite(const TFormsForSuite &) = delete;
    TFormsForSuite &operator=(const TFormsForSuite &) = delete;

private:
    bool FOwnsForms;
};
