// Render speed: a one-layer Mandelbrot fractal rendered to disk as a render job (strips, float
// colour, dithering, the strip files and the exported image) with and without anti-aliasing,
// against the interactive calculation of the same fractal at the same size in the same run.
// Usage: RenderBench [width height] (default 4000 x 3000).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench/BenchEmulation.h"
#include "tests/fractal/FormulaModules.h"
#include "CompPersistent.h"
#include "FracBuiltin.h"
#include "FracCalculate.h"
#include "FracLayer.h"
#include "FracMerge.h"
#include "FracMethods.h"
#include "FracRender.h"
#include "GenProgram.h"
#include "GenRegistry.h"
#include "GenUtils.h"
#include "SourcePaths.h"

namespace {

double Seconds() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

void SetUpLayer(TCustomFractal &Fractal, const std::string &Formulas, std::int32_t Width,
                std::int32_t Height) {
    Fractal.BeginChange();
    Fractal.SetImageSize(Width, Height);
    Fractal.SetTitle("Bench");
    TLayer &layer = *Fractal.GetActiveLayer();
    layer.GetFormula().SetSource(Formulas, "Mandel");
    layer.GetFormula().SetMaxIter(200);
    const char *const re = "-0.75", *const im = "0.1";
    layer.GetMapping().Center.SetText(re, im);
    layer.GetMapping().Magnification.SetText("1.5");
    Fractal.EndChange();
}

struct TFinish {
    TEvent Done{true, false};
    void Finished(TObject *) { Done.SetEvent(); }
};

// Seconds of one render job, or a negative time when it did not finish.
double RenderJob(TCalculateManager &Manager, const std::string &Text, const std::string &Folder,
                 std::int32_t Width, std::int32_t Height, int Depth) {
    TFinish finish;
    TRenderJob job(&Manager, Folder);
    job.Name = "Bench";
    job.ParameterText = Text;
    job.Destination = Folder + (Depth ? "aa.bmp" : "plain.bmp");
    job.Source = "Bench";
    job.RequestedWidth = Width;
    job.RequestedHeight = Height;
    job.Portion = TRenderRect{0, 0, Width, Height};
    job.AntiAliasing->Depth = Depth;
    job.AntiAliasing->Split3x3 = true;
    job.AntiAliasing->Threshold = 0.1;
    job.GenerateLog = true;
    job.OnFinished = MakeNotifyEvent<&TFinish::Finished>(&finish);
    job.SetId(std::uint32_t(Depth + 1));
    const double start = Seconds();
    job.Start();
    if (finish.Done.WaitFor(4 * 60 * 60 * 1000) != TEvent::wrSignaled)
        return -1;
    const double seconds = Seconds() - start;
    // A job that wrote no image measured nothing: its log says why.
    if (GetFileAttributesA(job.Destination.c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::printf("no image was written; the job's log:\n");
        if (FILE *log = std::fopen(job.LogFileName().c_str(), "rb")) {
            char line[512];
            while (std::fgets(line, sizeof line, log))
                std::printf("  %s", line);
            std::fclose(log);
        }
        return -1;
    }
    DeleteFileA(job.LogFileName().c_str());
    return seconds;
}

} // namespace

int main(int argc, char **argv) {
    PrintEmulationNotice();
    const std::int32_t width = argc >= 3 ? std::atoi(argv[1]) : 4000;
    const std::int32_t height = argc >= 3 ? std::atoi(argv[2]) : 3000;
    InitializeGenUtils();
    InitializeGenProgram();
    InitializeGenRegistry();
    StartFormulaModules();
    InitializeFracBuiltin();
    InitMergeTables();
    int failures = 0;
    // Absolute: the job's reader takes a relative formula file name for one in the Formula folder.
    char full[MAX_PATH];
    GetFullPathNameA(
        PathBesideSource(__FILE__, "../tests/documents/data/FracPersistent_fixtures.ofm").c_str(), MAX_PATH,
        full, nullptr);
    const std::string formulas = full;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = AddTrailingBackslash(std::string(temp) + "ovrenderbench");
    CreateDirectoryA(folder.c_str(), nullptr);
    {
        TCalculateManager manager(0);
        std::printf("A %d x %d view of the Mandelbrot set, maxiter 200, one layer\n\n", width, height);
        std::printf("%-36s %10s %14s %8s\n", "calculation", "seconds", "pixels/s", "ratio");

        // The interactive calculation: the document's own layer at the image size.
        std::string text;
        double interactive = -1;
        {
            TCustomFractal fractal(&manager);
            TFinish finish;
            const double start = Seconds();
            SetUpLayer(fractal, formulas, width, height);
            while (!fractal.IsCalculationDone())
                finish.Done.WaitFor(20);
            interactive = Seconds() - start;
            TParWriter writer;
            fractal.WriteParameters(writer, 0);
            writer.Finish();
            writer.GetEntryText("Bench", false, text);
        }
        const double pixels = double(width) * height;
        std::printf("%-36s %10.2f %14.0f %8s\n", "interactive (reference)", interactive, pixels / interactive,
                    "1.00");
        for (int depth : {0, 1}) {
            const double seconds = RenderJob(manager, text, folder, width, height, depth);
            if (seconds < 0) {
                std::printf("the render job failed\n");
                ++failures;
                continue;
            }
            std::printf("%-36s %10.2f %14.0f %8.2f\n",
                        depth ? "render to disk, anti-aliased 3x3" : "render to disk, no anti-aliasing",
                        seconds, pixels / seconds, interactive / seconds);
        }
    }
    DeleteFileA((folder + "aa.bmp").c_str());
    DeleteFileA((folder + "plain.bmp").c_str());
    RemoveDirectoryA(folder.c_str());
    FinalizeFracBuiltin();
    StopFormulaModules();
    FinalizeGenRegistry();
    FinalizeGenProgram();
    FinalizeGenUtils();
    return failures == 0 ? 0 : 1;
}
