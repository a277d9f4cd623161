// Render jobs: the strip layout, file names and dithering against values worked out by hand and
// by a separate script; whole jobs calculated in one go and stopped after every strip and resumed
// (by new job objects, as after a program end) give byte-identical images; the log; corrupt
// bundles.
#include <windows.h>

#include <cmath>
#include <limits>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "FracRender.h"
#include "RenderTestSupport.h"

namespace {

// --- Layout, names, dithering -------------------------------------------------------------------

struct TLayoutCase {
    std::int32_t Width, Height;
    std::int32_t StripHeight, StripCount, LastRows;
};

TEST(RenderLayoutTest, StripsHoldAboutThirtyTwoThousandPixelsAndNeverReachTheHeaderNumber) {
    // 32768 div width rows, at least 1 and at most the height; an image taller than 65534 strips
    // of that height gets taller strips (70000 rows of 40000 pixels: 2 rows each).
    const TLayoutCase cases[] = {
        {3000, 500, 10, 50, 10},
        {3276, 25, 10, 3, 5},
        {40000, 300, 1, 300, 1},
        {100, 20, 20, 1, 20},
        {1, 1, 1, 1, 1},
        {40000, 70000, 2, 35000, 2},
        {100000, 65535, 2, 32768, 1},
        {32768, 65534, 1, 65534, 1},
    };
    for (const TLayoutCase &c : cases) {
        std::int32_t height = 0, count = 0;
        RenderStripLayout(c.Width, c.Height, height, count);
        EXPECT_EQ(height, c.StripHeight) << c.Width << " x " << c.Height;
        EXPECT_EQ(count, c.StripCount) << c.Width << " x " << c.Height;
        EXPECT_EQ(c.Height - (count - 1) * height, c.LastRows) << c.Width << " x " << c.Height;
        EXPECT_LT(std::uint32_t(count - 1), RenderHeaderIndex) << "a strip would overwrite the header";
    }
}

TEST(RenderLayoutTest, FileNamesCarryIdAndStripInLowerCaseHex) {
    EXPECT_EQ(RenderDataFileName("C:\\Sys\\", 0x00A1, RenderHeaderIndex), "C:\\Sys\\00a1ffff.odr");
    EXPECT_EQ(RenderDataFileName("C:\\Sys\\", 0x00A1, 0), "C:\\Sys\\00a10000.odr");
    EXPECT_EQ(RenderDataFileName("", 0xFFFF, 0x1B2C), "ffff1b2c.odr");
}

TEST(RenderLayoutTest, TitlesBecomeFileNamesThatAreNoDevices) {
    const struct {
        const char *Title, *Name;
    } cases[] = {
        {"Spiral", "Spiral"},   {"a:b/c?", "a b c "},
        {"CON", "CON_"},        {"nul", "nul_"},
        {"Com1", "Com1_"},      {"LPT9.x", "LPT9.x_"},
        {"Console", "Console"}, {"AUX ", "AUX _"},
        {"COM10", "COM10"},     {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(RenderFileNameOf(c.Title), c.Name) << c.Title;
}

TEST(RenderDitherTest, TableFollowsTheOrderedMatrix) {
    // Worked out by a separate script from the 4 x 4 matrix (0 8 2 10 / 12 4 14 6 / 3 11 1 9 /
    // 15 7 13 5) indexed [x mod 4][y mod 4]; the pairs with x and y swapped tell a transposed
    // matrix apart.
    const struct {
        int X, Y, V, Out;
    } cases[] = {
        {0, 1, 150, 9},    {1, 0, 150, 9},    {2, 0, 600, 38},   {0, 2, 600, 38},
        {3, 0, 3000, 186}, {0, 3, 3000, 187}, {5, 4, 2222, 138}, {6, 1, 4000, 249},
        {1, 2, 40, 2},     {3, 3, 4095, 255}, {0, 0, 0, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(RenderDither(c.X, c.Y, c.V), c.Out) << c.X << "," << c.Y << " " << c.V;
}

TEST(RenderDitherTest, FullAndEmptyChannelsStayFullAndEmptyEverywhere) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<TFloatColor> row;
    for (int x = 0; x < 8; ++x)
        row.push_back(x % 2 ? TFloatColor{1.0f, 0.0f, 1.5f, -0.25f} : TFloatColor{0.0f, 1.0f, nan, 2.0f});
    std::vector<std::uint8_t> out(row.size() * 4);
    for (int y = 0; y < 4; ++y) {
        DitherFloatRow(row.data(), std::int32_t(row.size()), y, out.data());
        for (std::size_t x = 0; x < row.size(); ++x) {
            const std::uint8_t *p = &out[x * 4];
            // Bytes blue, green, red, alpha.
            if (x % 2)
                EXPECT_TRUE(p[0] == 255 && p[1] == 0 && p[2] == 255 && p[3] == 0) << x << "," << y;
            else
                EXPECT_TRUE(p[0] == 0 && p[1] == 255 && p[2] == 0 && p[3] == 255) << x << "," << y;
        }
    }
}

// --- Whole jobs ---------------------------------------------------------------------------------

// Each of Expected is the text of a line of Log after its "date time: " prefix, in this order
// (other lines may come between).
void ExpectLinesInOrder(const std::string &Log, const std::vector<std::string> &Expected) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < Log.size()) {
        std::size_t end = Log.find("\r\n", start);
        if (end == std::string::npos)
            end = Log.size();
        const std::string line = Log.substr(start, end - start);
        const std::size_t colon = line.find(": ");
        if (colon != std::string::npos)
            lines.push_back(line.substr(colon + 2));
        start = end + 2;
    }
    std::size_t next = 0;
    for (const std::string &text : Expected) {
        while (next < lines.size() && lines[next] != text)
            ++next;
        ASSERT_LT(next, lines.size()) << "missing in order: " << text << "\nlog:\n" << Log;
        ++next;
    }
}

class TRenderJobTest : public TRenderTest {
protected:
    std::unique_ptr<TRenderJob> MakeJob(const std::string &Text, const std::string &Destination) {
        auto job = std::make_unique<TRenderJob>(&Manager, Folder.Path);
        job->Name = "Two Layers";
        job->ParameterText = Text;
        job->Destination = Destination;
        job->Source = "Two";
        job->Format = 0;
        job->RequestedWidth = 1024;
        job->RequestedHeight = 70;
        job->Portion = TRenderRect{0, 0, 1024, 70};
        job->AntiAliasing->Depth = 1;
        job->AntiAliasing->Split3x3 = true;
        job->AntiAliasing->Threshold = 0.1;
        job->GenerateLog = true;
        return job;
    }
    // Renders the job of Text into Destination without a stop, under job id Id.
    void RenderInOneGo(const std::string &Text, const std::string &Destination, std::uint32_t Id) {
        std::unique_ptr<TRenderJob> job = MakeJob(Text, Destination);
        TJobWatch watch;
        watch.Watch(*job);
        job->SetId(Id);
        job->Start();
        ASSERT_EQ(watch.Finished.WaitFor(RenderPatience), TEvent::wrSignaled);
        EXPECT_EQ(job->StripCount, 3);
    }
    static std::string TwoLayerText() {
        TTestLayer top;
        top.Center = "-0.7/0.2";
        top.Magnification = "3";
        top.Transparent = true;
        top.Opacity = 60;
        TTestLayer bottom;
        bottom.MaxIter = 30;
        return FractalEntryText("Two", 320, 240, {top, bottom});
    }

    TCalculateManager Manager{2};
    TScratchFolder Folder{"jobs"};
};

TEST_F(TRenderJobTest, StoppedAfterEveryStripAndResumedGivesTheSameImage) {
    const std::string text = TwoLayerText();
    const std::string oneGo = Folder.Path + "onego.bmp", stepwise = Folder.Path + "stepwise.bmp";
    ASSERT_NO_FATAL_FAILURE(RenderInOneGo(text, oneGo, 1));
    int stops = 0;
    {
        std::unique_ptr<TRenderJob> job = MakeJob(text, stepwise);
        job->SetId(2);
        for (;;) {
            TJobWatch watch;
            watch.Watch(*job);
            job->Start();
            HANDLE events[] = {watch.Finished.Handle(), watch.Strip.Handle()};
            const DWORD woke = WaitForMultipleObjects(2, events, FALSE, RenderPatience);
            ASSERT_NE(woke, DWORD(WAIT_TIMEOUT));
            if (woke == WAIT_OBJECT_0)
                break;
            job->Stop();
            if (job->GetState() == TRenderState::Finished) {
                ASSERT_EQ(watch.Finished.WaitFor(RenderPatience), TEvent::wrSignaled);
                break;
            }
            ++stops;
            ASSERT_EQ(job->GetState(), TRenderState::Waiting);
            // A new job object from the files alone, as after a program end.
            job = std::make_unique<TRenderJob>(&Manager, Folder.Path);
            job->LoadFromFiles(2);
            ASSERT_NE(job->GetResumeMode(), TRenderResume::FromScratch);
        }
    }
    EXPECT_GE(stops, 2);
    const std::string expected = FileBytes(oneGo);
    ASSERT_GT(expected.size(), std::size_t(1024 * 70 * 3));
    EXPECT_TRUE(FileBytes(stepwise) == expected) << "the resumed job's image differs";
    // The log lines in order (each behind its date and time).
    ExpectLinesInOrder(
        FileBytes(Folder.Path + "onego.log"),
        {"Starting job Two Layers.", "Calculating Two.", "Saving image to " + oneGo + ".", "Job finished."});
    ExpectLinesInOrder(FileBytes(Folder.Path + "stepwise.log"),
                       {"Starting job Two Layers.", "Calculating Two.", "Job interrupted.",
                        "Resuming job Two Layers.", "Calculating Two.", "Saving image to " + stepwise + ".",
                        "Job finished."});
    // The finished jobs left no files of their own behind.
    for (std::uint32_t id : {1u, 2u})
        EXPECT_FALSE(FileThere(RenderDataFileName(Folder.Path, id, RenderHeaderIndex)));
}

TEST_F(TRenderJobTest, JobOfAKilledProcessResumesToTheSameImage) {
    const std::string text = TwoLayerText();
    const std::string reference = Folder.Path + "reference.bmp", killed = Folder.Path + "killed.bmp";
    ASSERT_NO_FATAL_FAILURE(RenderInOneGo(text, reference, 7));
    MakeJob(text, killed)->SetId(6);

    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string program = ExtractFilePath(self) + "RenderJobRunner.exe";
    const std::string eventName = "OVRenderStrip" + std::to_string(GetCurrentProcessId());
    HANDLE strip = CreateEventA(nullptr, FALSE, FALSE, eventName.c_str());
    ASSERT_NE(strip, nullptr);
    int kills = 0;
    DWORD exitCode = 1;
    for (int start = 0; start < 20; ++start) {
        std::string command =
            "\"" + program + "\" run \"" + RemoveTrailingBackslash(Folder.Path) + "\" 6 " + eventName;
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &startup, &process))
            << command;
        CloseHandle(process.hThread);
        HANDLE handles[] = {process.hProcess, strip};
        const DWORD woke = WaitForMultipleObjects(2, handles, FALSE, RenderPatience);
        if (woke == WAIT_OBJECT_0 + 1) {
            // A strip is on disk and the next one in work: the process ends without warning.
            TerminateProcess(process.hProcess, 9);
            WaitForSingleObject(process.hProcess, RenderPatience);
            CloseHandle(process.hProcess);
            ++kills;
            continue;
        }
        ASSERT_EQ(woke, WAIT_OBJECT_0) << "the rendering process neither ended nor wrote a strip";
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hProcess);
        break;
    }
    CloseHandle(strip);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_GE(kills, 2);
    const std::string expected = FileBytes(reference);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(FileBytes(killed) == expected) << "the image of the killed and resumed job differs";
}

TEST_F(TRenderJobTest, EveryInvalidImageLogsOneErrorAndTheJobFinishes) {
    // A parameter file's job: two readable images of a size that cannot be rendered, one entry
    // that is no fractal, and an embedded formula entry that is no image.
    const std::string text = FractalEntryText("First", 40, 30, {TTestLayer{}}) +
                             FractalEntryText("Second", 40, 30, {TTestLayer{}}) +
                             "Broken {\r\nfractal:\r\n  layers=7\r\n}\r\n" +
                             "my.ofm:Mandel {\r\ninit:\r\n  z = 0\r\n}\r\n";
    std::unique_ptr<TRenderJob> job = MakeJob(text, Folder.Path);
    job->ParameterFileMode = true;
    job->Source = "C:\\Pars\\set.opr";
    job->Name = "set.opr";
    job->RequestedWidth = 0;
    TJobWatch watch;
    watch.Watch(*job);
    job->SetId(3);
    EXPECT_EQ(job->GetEntryCount(), 3);
    job->Start();
    ASSERT_EQ(watch.Finished.WaitFor(RenderPatience), TEvent::wrSignaled);
    EXPECT_EQ(job->GetState(), TRenderState::Finished);
    const std::string log = FileBytes(Folder.Path + "set.log");
    ExpectLinesInOrder(log, {"Starting job set.opr.", "Error loading First in C:\\Pars\\set.opr.",
                             "Error loading Second in C:\\Pars\\set.opr.", "Job finished."});
    EXPECT_NE(log.find("Error loading Broken in C:\\Pars\\set.opr: "), std::string::npos) << log;
    EXPECT_EQ(log.find("Mandel in"), std::string::npos) << log;
}

TEST_F(TRenderJobTest, StopReturnsAtOnceForAnIdleOrFinishedJob) {
    std::unique_ptr<TRenderJob> job = MakeJob(TwoLayerText(), Folder.Path + "idle.bmp");
    TEvent returned(true, false);
    auto stopInThread = [&] {
        returned.ResetEvent();
        std::thread([&] {
            job->Stop();
            returned.SetEvent();
        }).detach();
        return returned.WaitFor(60000) == TEvent::wrSignaled;
    };
    if (!stopInThread()) {
        // The stuck Stop holds on to the job: it must outlive this test.
        job.release();
        FAIL() << "Stop of a job that never ran does not return";
    }
    job->RequestedWidth = 0; // nothing to calculate: the job finishes at once
    TJobWatch watch;
    watch.Watch(*job);
    job->SetId(4);
    job->Start();
    ASSERT_EQ(watch.Finished.WaitFor(RenderPatience), TEvent::wrSignaled);
    if (!stopInThread()) {
        job.release();
        FAIL() << "Stop of a finished job does not return";
    }
    EXPECT_EQ(job->GetState(), TRenderState::Finished);
}

TEST_F(TRenderJobTest, KeepingTheAspectRatioShortensTheImage) {
    // A fractal of aspect 2 asked for at 1000 x 1000 renders 1000 x 500.
    std::unique_ptr<TRenderJob> job =
        MakeJob(FractalEntryText("Wide", 320, 160, {TTestLayer{}}), Folder.Path + "w.bmp");
    job->RequestedWidth = 1000;
    job->RequestedHeight = 1000;
    job->Portion = TRenderRect{0, 0, 1000, 1000};
    job->KeepAspectRatio = true;
    job->AntiAliasing->Depth = 0;
    TJobWatch watch;
    watch.Watch(*job);
    job->SetId(5);
    job->Start();
    ASSERT_EQ(watch.Strip.WaitFor(RenderPatience), TEvent::wrSignaled);
    job->Stop();
    EXPECT_EQ(job->Width, 1000);
    EXPECT_EQ(job->Height, 500);
    EXPECT_EQ(job->VirtualHeight, 500);
    EXPECT_EQ(job->StripHeight, 32);
    EXPECT_EQ(job->StripCount, 16);
    job->DeleteFiles();
}

// --- Bundles ------------------------------------------------------------------------------------

using TBytes = std::string;

TBytes U32(std::uint32_t V) {
    return TBytes{char(V), char(V >> 8), char(V >> 16), char(V >> 24)};
}

TEST_F(TRenderJobTest, CorruptBundlesAreRefusedAndLeaveNoFiles) {
    const TBytes header = "OBBJ" + U32(1);
    const struct {
        const char *What;
        TBytes Bytes;
    } cases[] = {
        {"empty file", ""},
        {"short header", "OBBJ" + U32(1)},
        {"wrong magic", "OBBX" + U32(1) + U32(1) + U32(2) + "ab"},
        {"wrong version", "OBBJ" + U32(2) + U32(1) + U32(2) + "ab"},
        {"no files", header + U32(0)},
        {"too many files", header + U32(65536) + U32(0)},
        {"length beyond the file", header + U32(2) + U32(2) + "ab" + U32(1000) + "cd"},
        {"length cut off", header + U32(2) + U32(2) + "ab" + "\x01"},
        {"huge length", header + U32(1) + U32(0xFFFFFFF0u) + "abcd"},
    };
    const std::string bundle = Folder.Path + "bad.orj";
    for (const auto &c : cases) {
        {
            std::ofstream out(bundle, std::ios::binary | std::ios::trunc);
            out.write(c.Bytes.data(), std::streamsize(c.Bytes.size()));
        }
        try {
            ReadRenderBundle(bundle, Folder.Path, 0x77);
            ADD_FAILURE() << c.What << " was read";
        } catch (const ERenderError &E) {
            EXPECT_STREQ(E.what(), "Could not read backup job") << c.What;
        }
        EXPECT_FALSE(FileThere(RenderDataFileName(Folder.Path, 0x77, RenderHeaderIndex))) << c.What;
        EXPECT_FALSE(FileThere(RenderDataFileName(Folder.Path, 0x77, 0))) << c.What;
    }
}

} // namespace
