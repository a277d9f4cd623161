// What the render tests share: the configuration (the jobs read the System folder and the owner
// from it), a folder of their own for job files and images, the parameter text of small fractals
// made here, and running a job until it ends.
#pragma once

#include <windows.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "CompPersistent.h"
#include "FracCalculate.h"
#include "FracLayer.h"
#include "FracMerge.h"
#include "FracMethods.h"
#include "FracRender.h"
#include "RenderEntryText.h"
#include "GenSetup.h"
#include "GenUtils.h"

// A new empty folder under the temporary folder, removed with everything in it at the end.
class TScratchFolder {
public:
    explicit TScratchFolder(const std::string &Name) {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        Path = AddTrailingBackslash(std::string(temp) + "ovrender-" + Name + "-" +
                                    std::to_string(GetCurrentProcessId()));
        Remove();
        CreateDirectoryA(Path.c_str(), nullptr);
    }
    ~TScratchFolder() { Remove(); }
    void Remove() {
        try {
            if (FileThere(Path))
                DeleteFileOrFolder(RemoveTrailingBackslash(Path));
        } catch (const std::exception &) {
            // A folder left behind only takes space.
        }
    }
    TScratchFolder(const TScratchFolder &) = delete;
    TScratchFolder &operator=(const TScratchFolder &) = delete;
    std::string Path;
};

inline std::string FileBytes(const std::string &FileName) {
    std::ifstream in(FileName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Counts a job's ends and strips for a test thread that waits for them.
struct TJobWatch {
    TEvent Finished{true, false};
    TEvent Strip{false, false};
    void JobFinished(TObject *) { Finished.SetEvent(); }
    void StripWritten(TObject *) { Strip.SetEvent(); }
    void Watch(TRenderEngine &Job) {
        Job.OnFinished = MakeNotifyEvent<&TJobWatch::JobFinished>(this);
        Job.OnStripWritten = MakeNotifyEvent<&TJobWatch::StripWritten>(this);
    }
};

constexpr DWORD RenderPatience = 15 * 60 * 1000;

// The configuration for the life of the render tests.
class TRenderTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (ConfigManager() == nullptr) {
            InitializeGenSetup();
            FStartedSetup = true;
        }
        InitMergeTables();
    }
    static void TearDownTestSuite() {
        if (FStartedSetup)
            FinalizeGenSetup();
        FStartedSetup = false;
    }
    static inline bool FStartedSetup = false;
};
