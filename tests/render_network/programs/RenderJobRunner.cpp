// A separate process for the render tests.
//   RenderJobRunner run <folder> <id> <event>: resumes job <id> from its files in <folder> and
//     sets the named event after every strip written; ends with 0 once the job has finished. The
//     tests kill it between strips, as a program end without warning would.
//   RenderJobRunner samples <folder>: renders two small jobs in <folder> and keeps a copy of their
//     header and of every strip file as it is written (samples\), for a reader of the test's own:
//     a bitmap job without transparency, and a Photoshop job with transparency and its layers,
//     stopped once in the middle of a strip and resumed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "../../fractal/FormulaModules.h"
#include "FracBuiltin.h"
#include "FracCalculate.h"
#include "FracMerge.h"
#include "FracRender.h"
#include "GenProgram.h"
#include "GenRegistry.h"
#include "GenUtils.h"
#include "../RenderEntryText.h"

namespace {

struct TRunner {
    TEvent Finished{true, false};
    TEvent Strip{false, false};
    HANDLE Named = nullptr;
    std::string CopyFolder;
    TRenderJob *Job = nullptr;
    int Copies = 0;

    void JobFinished(TObject *) { Finished.SetEvent(); }
    void StripWritten(TObject *) {
        if (!CopyFolder.empty()) {
            // The strip just written, under the name the reader expects: <id>_<strip>_<copy>.odr.
            const std::string from = Job->FileNameOf(std::uint32_t(Job->CurrentStrip));
            const std::string to =
                CopyFolder + Format("%.4x_%.4x_%d.odr", Job->GetId(), Job->CurrentStrip, Copies++);
            CopyFileA(from.c_str(), to.c_str(), FALSE);
        }
        if (Named)
            SetEvent(Named);
        Strip.SetEvent();
    }
    void Watch(TRenderJob &AJob) {
        Job = &AJob;
        AJob.OnFinished = MakeNotifyEvent<&TRunner::JobFinished>(this);
        AJob.OnStripWritten = MakeNotifyEvent<&TRunner::StripWritten>(this);
    }
};

int Run(TCalculateManager &Manager, const std::string &Folder, std::uint32_t Id, const std::string &Event) {
    TRunner runner;
    runner.Named = OpenEventA(EVENT_MODIFY_STATE, FALSE, Event.c_str());
    TRenderJob job(&Manager, Folder);
    job.LoadFromFiles(Id);
    runner.Watch(job);
    job.Start();
    return runner.Finished.WaitFor(30 * 60 * 1000) == TEvent::wrSignaled ? 0 : 2;
}

std::string SampleText(bool Transparent) {
    TTestLayer top;
    top.Center = "-0.7/0.2";
    top.Magnification = "3";
    top.Opacity = 60;
    top.Transparent = Transparent;
    return FractalEntryText("Sample", 320, 240, {top, TTestLayer{}}, "Sample");
}

int Samples(TCalculateManager &Manager, const std::string &Folder) {
    const std::string copies = Folder + "samples\\";
    CreateDirectoryA(copies.c_str(), nullptr);
    for (int kind = 0; kind < 2; ++kind) {
        const bool layers = kind == 1;
        TRunner runner;
        runner.CopyFolder = copies;
        auto job = std::make_unique<TRenderJob>(&Manager, Folder);
        job->Name = layers ? "Layered" : "Plain";
        job->ParameterText = SampleText(layers);
        job->Destination = Folder + (layers ? "layered.psd" : "plain.bmp");
        job->Source = "Sample";
        job->Format = layers ? 1 : 0;
        job->RequestedWidth = 1500;
        job->RequestedHeight = 50;
        job->Portion = TRenderRect{0, 0, 1500, 50};
        job->AntiAliasing->Depth = layers ? 1 : 0;
        job->AntiAliasing->Threshold = 0.1;
        job->Transparency = layers;
        job->ExportLayers = layers;
        job->GenerateLog = false;
        const std::uint32_t id = 0x0A10 + std::uint32_t(kind);
        job->SetId(id);
        runner.Watch(*job);
        job->Start();
        // The header as the job wrote it when it loaded its image.
        if (runner.Strip.WaitFor(30 * 60 * 1000) != TEvent::wrSignaled)
            return 3;
        CopyFileA(job->FileNameOf(RenderHeaderIndex).c_str(),
                  (copies + Format("%.4x_header.odr", id)).c_str(), FALSE);
        if (layers) {
            // One stop in the middle of the second strip leaves an interrupted strip file.
            job->Stop();
            job = std::make_unique<TRenderJob>(&Manager, Folder);
            job->LoadFromFiles(id);
            runner.Watch(*job);
            job->Start();
        }
        if (runner.Finished.WaitFor(30 * 60 * 1000) != TEvent::wrSignaled)
            return 4;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3)
        return 1;
    InitializeGenProgram();
    InitializeGenRegistry();
    StartFormulaModules();
    InitializeFracBuiltin();
    InitMergeTables();
    int result = 1;
    {
        TCalculateManager manager(2);
        const std::string mode = argv[1];
        std::string folder = argv[2];
        if (!folder.empty() && folder[0] == '/') // a Linux path under Wine
            folder = "Z:" + folder;
        for (char &c : folder)
            if (c == '/')
                c = '\\';
        folder = AddTrailingBackslash(folder);
        try {
            if (mode == "run" && argc >= 5)
                result = Run(manager, folder, std::uint32_t(std::strtoul(argv[3], nullptr, 16)), argv[4]);
            else if (mode == "samples")
                result = Samples(manager, folder);
        } catch (const std::exception &E) {
            std::fprintf(stderr, "%s\n", E.what());
            result = 5;
        }
    }
    FinalizeFracBuiltin();
    StopFormulaModules();
    FinalizeGenRegistry();
    FinalizeGenProgram();
    return result;
}
