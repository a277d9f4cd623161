// The render queue: one job at a time in queue order, the stored queue that survives a program
// end with its calculating job resumed, the crash-loop guard, and backup and restore of a running
// job; every finished image is compared with the image of the same job rendered in one go.
#include <windows.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "RenderQueue.h"
#include "RenderTestSupport.h"

namespace {

class TRenderQueueTest : public TRenderTest {
protected:
    void SetUp() override {
        // A queue stored by an earlier test starts nothing here.
        ConfigManager()->Render->SetJobCount(0);
        ConfigManager()->Render->Save();
        ConfigManager()->WriteInteger("Render", "LoadAttempts", 0);
    }
    void TearDown() override { SetUp(); }

    std::unique_ptr<TRenderJob> MakeJob(TRenderManager &Queue, const std::string &Destination) {
        std::unique_ptr<TRenderJob> job = Queue.CreateJob();
        job->Name = ExtractFileName(Destination);
        job->ParameterText = Text;
        job->Destination = Destination;
        job->Source = "Queued";
        job->RequestedWidth = 600;
        job->RequestedHeight = 80;
        job->Portion = TRenderRect{0, 0, 600, 80};
        job->AntiAliasing->Depth = 1;
        job->AntiAliasing->Threshold = 0.1;
        job->GenerateLog = false;
        return job;
    }
    // The image of the test's job rendered alone, in one go.
    std::string Reference() {
        TRenderManager queue(&Manager, Folder.Path);
        Changes watch(queue);
        queue.AddJob(MakeJob(queue, Folder.Path + "reference.bmp"));
        EXPECT_TRUE(watch.WaitEmpty());
        return FileBytes(Folder.Path + "reference.bmp");
    }

    // Waits for the queue's notifications.
    struct Changes {
        explicit Changes(TRenderManager &AQueue) : Queue(AQueue) {
            Queue.AddHandler(MakeNotifyEvent<&Changes::Changed>(this));
        }
        ~Changes() { Queue.RemoveHandler(MakeNotifyEvent<&Changes::Changed>(this)); }
        void Changed(TObject *) { Event.SetEvent(); }
        bool WaitEmpty() {
            while (Queue.GetCount() > 0)
                if (Event.WaitFor(RenderPatience) != TEvent::wrSignaled)
                    return false;
            return true;
        }
        TRenderManager &Queue;
        TEvent Event{false, false};
    };

    std::string Text = FractalEntryText("Queued", 300, 40, {TTestLayer{}});
    TCalculateManager Manager{2};
    TScratchFolder Folder{"queue"};
};

TEST_F(TRenderQueueTest, JobsRunOneAfterTheOther) {
    const std::string reference = Reference();
    ASSERT_FALSE(reference.empty());
    TRenderManager queue(&Manager, Folder.Path);
    Changes watch(queue);
    queue.AddJob(MakeJob(queue, Folder.Path + "first.bmp"));
    queue.AddJob(MakeJob(queue, Folder.Path + "second.bmp"));
    ASSERT_EQ(queue.GetCount(), 2);
    {
        TScopeLock<TNotificationManager> lock(queue);
        EXPECT_EQ(queue.GetJob(1)->GetState(), TRenderState::Waiting)
            << "a second job started beside the first";
        EXPECT_NE(queue.GetJob(0)->GetId(), queue.GetJob(1)->GetId());
    }
    ASSERT_TRUE(watch.WaitEmpty());
    EXPECT_TRUE(FileBytes(Folder.Path + "first.bmp") == reference);
    EXPECT_TRUE(FileBytes(Folder.Path + "second.bmp") == reference);
}

TEST_F(TRenderQueueTest, CalculatingJobResumesAfterARestart) {
    const std::string reference = Reference();
    std::uint32_t id;
    {
        TRenderManager queue(&Manager, Folder.Path);
        std::unique_ptr<TRenderJob> job = MakeJob(queue, Folder.Path + "restart.bmp");
        TJobWatch watch;
        job->OnStripWritten = MakeNotifyEvent<&TJobWatch::StripWritten>(&watch);
        queue.AddJob(std::move(job));
        ASSERT_EQ(watch.Strip.WaitFor(RenderPatience), TEvent::wrSignaled);
        id = queue.GetJob(0)->GetId();
        // The program ends with the job calculating: the stored queue keeps it so.
    }
    EXPECT_EQ(ConfigManager()->Render->GetJobCount(), 1);
    EXPECT_TRUE(ConfigManager()->Render->GetJobCalculating(0));
    EXPECT_EQ(ConfigManager()->Render->GetJobId(0), std::int32_t(id));
    EXPECT_EQ(ConfigManager()->ReadInteger("Render", "LoadAttempts", -1), 0);
    {
        TRenderManager queue(&Manager, Folder.Path);
        Changes watch(queue);
        ASSERT_EQ(queue.GetCount(), 1);
        EXPECT_EQ(queue.GetJob(0)->GetId(), id);
        ASSERT_TRUE(watch.WaitEmpty());
    }
    EXPECT_TRUE(FileBytes(Folder.Path + "restart.bmp") == reference);
}

TEST_F(TRenderQueueTest, QuickStartUpsInARowDiscardTheStoredQueue) {
    // A stored waiting job (its header on disk), and the start-ups before this one that ended
    // within a minute.
    {
        TRenderManager queue(&Manager, Folder.Path);
        std::unique_ptr<TRenderJob> job = MakeJob(queue, Folder.Path + "guard.bmp");
        job->SetId(0x1234);
    }
    const struct {
        int Before;
        int Jobs;
        int After;
    } cases[] = {{0, 1, 1}, {1, 1, 2}, {2, 0, 0}, {5, 0, 0}};
    for (const auto &c : cases) {
        TRenderConfiguration &render = *ConfigManager()->Render;
        render.SetJobCount(1);
        render.SetJobId(0, 0x1234);
        render.SetJobCalculating(0, false);
        render.Save();
        ConfigManager()->WriteInteger("Render", "LoadAttempts", c.Before);
        auto queue = std::make_unique<TRenderManager>(&Manager, Folder.Path);
        EXPECT_EQ(queue->GetCount(), c.Jobs) << c.Before;
        EXPECT_EQ(ConfigManager()->ReadInteger("Render", "LoadAttempts", -1), c.After) << c.Before;
        // Leaves the stored queue as it is (a crash would too); the attempts start again.
        queue.reset();
    }
    DeleteFileA(RenderDataFileName(Folder.Path, 0x1234, RenderHeaderIndex).c_str());
}

TEST_F(TRenderQueueTest, BackupOfARunningJobRestoresToTheSameImage) {
    const std::string reference = Reference();
    const std::string bundle = Folder.Path + "backup.orj";
    TRenderManager queue(&Manager, Folder.Path);
    Changes watch(queue);
    {
        std::unique_ptr<TRenderJob> job = MakeJob(queue, Folder.Path + "backed.bmp");
        TJobWatch strips;
        job->OnStripWritten = MakeNotifyEvent<&TJobWatch::StripWritten>(&strips);
        queue.AddJob(std::move(job));
        ASSERT_EQ(strips.Strip.WaitFor(RenderPatience), TEvent::wrSignaled);
        queue.BackupJob(0, bundle);
        TScopeLock<TNotificationManager> lock(queue);
        EXPECT_NE(queue.GetJob(0)->GetState(), TRenderState::Waiting) << "the backed up job did not go on";
        queue.GetJob(0)->OnStripWritten = TNotifyEvent();
    }
    ASSERT_TRUE(FileThere(bundle));
    queue.DeleteJob(0);
    ASSERT_EQ(queue.GetCount(), 0);
    DeleteFileA((Folder.Path + "backed.bmp").c_str());
    queue.RestoreJob(bundle);
    ASSERT_EQ(queue.GetCount(), 1);
    ASSERT_TRUE(watch.WaitEmpty());
    EXPECT_TRUE(FileBytes(Folder.Path + "backed.bmp") == reference);

    // A bundle whose files are complete but whose header is no job's header.
    {
        std::ofstream out(Folder.Path + "nojob.orj", std::ios::binary);
        out.write("OBBJ\x01\x00\x00\x00\x01\x00\x00\x00\x04\x00\x00\x00OBRX", 20);
    }
    try {
        queue.RestoreJob(Folder.Path + "nojob.orj");
        ADD_FAILURE() << "a bundle without a job was restored";
    } catch (const ERenderError &E) {
        EXPECT_STREQ(E.what(), "Could not read backup job");
    }
    EXPECT_EQ(queue.GetCount(), 0);
    TFileEnumerator files(Folder.Path + "*.odr", faAnyFile);
    EXPECT_FALSE(files.Next()) << "left behind: " << files.GetName();
}

} // namespace
