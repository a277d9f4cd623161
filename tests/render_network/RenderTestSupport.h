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
#include "GenSetup.h"
#include "GenUtils.h"

inline std::string RenderFixtures() {
    return std::string(TEST_DATA_DIR) + "documents\\data\\FracPersistent_fixtures.ofm";
}

inline bool FileThere(const std::string &FileName) {
    return GetFileAttributesA(FileName.c_str()) != INVALID_FILE_ATTRIBUTES;
}

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

// One fractal layer's settings for the parameter text.
struct TTestLayer {
    std::string Center = "-0.5/0";
    std::string Magnification = "1";
    std::int32_t MaxIter = 40;
    std::uint8_t Method = dmGuessing;
    bool Transparent = false;
    std::int32_t Opacity = 100;
};

// The parameter entry Name of a fractal of the given size and layers (index 0 the top layer),
// written the way fractal windows write them.
inline std::string FractalEntryText(const std::string &Name, std::int32_t Width, std::int32_t Height,
                                    std::initializer_list<TTestLayer> Layers,
                                    const std::string &Title = "Test") {
    TCalculateManager manager(1);
    TCustomFractal fractal(&manager);
    fractal.BeginChange();
    fractal.SetImageSize(Width, Height);
    fractal.SetTitle(Title);
    int index = 0;
    for (const TTestLayer &settings : Layers) {
        TLayer &layer = index == 0 ? *fractal.GetActiveLayer() : *fractal.DuplicateLayer("Layer");
        layer.GetFormula().SetSource(RenderFixtures(), "Mandel");
        layer.GetFormula().SetMaxIter(settings.MaxIter);
        layer.SetMethod(settings.Method);
        const std::size_t slash = settings.Center.find('/');
        layer.GetMapping().Center.SetText(settings.Center.substr(0, slash),
                                          settings.Center.substr(slash + 1));
        layer.GetMapping().Magnification.SetText(settings.Magnification);
        layer.SetTransparent(settings.Transparent);
        layer.SetOpacity(settings.Opacity);
        ++index;
    }
    fractal.EndChange();
    fractal.PauseCalculation();
    TParWriter writer;
    fractal.WriteParameters(writer, 0);
    writer.Finish();
    std::string text;
    writer.GetEntryText(Name, false, text);
    return text;
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
