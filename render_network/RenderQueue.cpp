#include "RenderQueue.h"

#include <windows.h>

#include <mmsystem.h>

#include <algorithm>

#include "GenProgram.h"
#include "GenSetup.h"
#include "SysUtils.h"

#undef DeleteFile

namespace {

const char RenderSection[] = "Render";
const char LoadAttemptsValue[] = "LoadAttempts";

TRenderManager *GlobalRenderManager = nullptr;

// One day in days, and a minute of it: jobs that calculated longer end with the sound.
constexpr double SoundAfterDays = 1.0 / 1440;

} // namespace

// The one-shot timer of the crash-loop guard: after the delay the start-up counts as a good one.
class TRenderManager::TAttemptsThread : public TGeneralThread {
public:
    TAttemptsThread(TRenderManager &AManager, std::uint32_t ADelay)
        : TGeneralThread(true), FManager(AManager), FDelay(ADelay) {}
    DECLARE_CLASS_NAME(TAttemptsThread)
    void Terminate() override {
        TGeneralThread::Terminate();
        FWake.SetEvent();
    }

protected:
    void DoExecute() override {
        if (FWake.WaitFor(FDelay) == TEvent::wrTimeout && !Terminated())
            FManager.SetLoadAttempts(0);
    }

private:
    TRenderManager &FManager;
    std::uint32_t FDelay;
    TEvent FWake{true, false};
};

TRenderManager::TRenderManager(TCalculateManager *AManager, const std::string &AFolder,
                               std::uint32_t AAttemptsDelay)
    : FManager(AManager), FFolder(AFolder), FRandom(GetTickCount() ^ (GetCurrentProcessId() << 16)) {
    TConfigManager *config = ConfigManager();
    const int attempts = config ? config->ReadInteger(RenderSection, LoadAttemptsValue, 0) : 0;
    if (attempts >= MaxLoadAttempts) {
        // Start-ups keep ending early: a stored job may be what ends them. The queue starts empty.
        SaveJobs();
    } else {
        SetLoadAttempts(attempts + 1);
        LoadJobs();
    }
    auto timer = std::make_unique<TJoinedThread<TAttemptsThread>>(*this, AAttemptsDelay);
    timer->Start();
    LoadAttemptsTimer = std::move(timer);
}

TRenderManager::~TRenderManager() {
    LoadAttemptsTimer.reset();
    std::vector<std::unique_ptr<TRenderJob>> freed;
    {
        TScopeLock<TNotificationManager> lock(*this);
        Destroying = true;
        for (int i = int(Jobs.size()) - 1; i >= 0; --i) {
            Jobs[std::size_t(i)]->Stop();
            if (Jobs[std::size_t(i)]->GetState() != TRenderState::Finished) {
                freed.push_back(std::move(Jobs[std::size_t(i)]));
                Jobs.erase(Jobs.begin() + i);
            }
        }
    }
    freed.clear();
    // Finished jobs remove themselves from their finishing threads.
    for (;;) {
        {
            TScopeLock<TNotificationManager> lock(*this);
            if (Jobs.empty())
                break;
        }
        Sleep(100);
    }
    // The stored queue stays as it was: jobs that were running resume at the next start.
    SetLoadAttempts(0);
}

void TRenderManager::SetLoadAttempts(int Value) {
    if (TConfigManager *config = ConfigManager())
        config->WriteInteger(RenderSection, LoadAttemptsValue, Value);
}

int TRenderManager::IndexOf(const TObject *Job) const {
    for (std::size_t i = 0; i < Jobs.size(); ++i)
        if (Jobs[i].get() == Job)
            return int(i);
    return -1;
}

std::unique_ptr<TRenderJob> TRenderManager::CreateJob() {
    return std::make_unique<TRenderJob>(FManager, FFolder);
}

void TRenderManager::LoadJobs() {
    TConfigManager *config = ConfigManager();
    if (!config)
        return;
    TScopeLock<TNotificationManager> lock(*this);
    TRenderConfiguration &render = *config->Render;
    for (int i = 0; i < render.GetJobCount(); ++i) {
        std::unique_ptr<TRenderJob> job = CreateJob();
        job->OnFinished = MakeNotifyEvent<&TRenderManager::JobFinished>(this);
        try {
            job->LoadFromFiles(std::uint32_t(render.GetJobId(i)) & 0xFFFF);
        } catch (const std::exception &) {
            // A job whose header cannot be read is left out; its files stay on disk.
            job->OnFinished = TNotifyEvent();
            continue;
        }
        TRenderJob *added = job.get();
        Jobs.push_back(std::move(job));
        if (render.GetJobCalculating(i))
            added->Start();
    }
}

void TRenderManager::SaveJobs() {
    TConfigManager *config = ConfigManager();
    if (!config)
        return;
    TScopeLock<TNotificationManager> lock(*this);
    TRenderConfiguration &render = *config->Render;
    render.SetJobCount(int(Jobs.size()));
    for (std::size_t i = 0; i < Jobs.size(); ++i) {
        render.SetJobCalculating(int(i), Jobs[i]->GetState() != TRenderState::Waiting);
        render.SetJobId(int(i), std::int32_t(Jobs[i]->GetId()));
    }
    render.Save();
    SetLoadAttempts(0);
}

std::uint32_t TRenderManager::NewJobId() {
    TScopeLock<TNotificationManager> lock(*this);
    const std::string folder = CreateJob()->GetFolder();
    for (;;) {
        // A linear congruential generator is enough: ids only need to differ.
        FRandom = FRandom * 1664525u + 1013904223u;
        const std::uint32_t id = (FRandom >> 12) & 0xFFFF;
        const bool used = std::any_of(Jobs.begin(), Jobs.end(), [id](const std::unique_ptr<TRenderJob> &Job) {
            return Job->GetId() == id;
        });
        if (!used && !FileExists(RenderDataFileName(folder, id, RenderHeaderIndex)))
            return id;
    }
}

void TRenderManager::AddJob(std::unique_ptr<TRenderJob> Job) {
    Job->SetId(NewJobId());
    InsertJob(std::move(Job));
}

void TRenderManager::InsertJob(std::unique_ptr<TRenderJob> Job) {
    {
        TScopeLock<TNotificationManager> lock(*this);
        Job->OnFinished = MakeNotifyEvent<&TRenderManager::JobFinished>(this);
        TRenderJob *added = Job.get();
        Jobs.push_back(std::move(Job));
        const bool running = std::any_of(Jobs.begin(), Jobs.end(), [](const std::unique_ptr<TRenderJob> &J) {
            return J->GetState() != TRenderState::Waiting;
        });
        if (!running)
            added->Start();
    }
    SaveJobs();
    Notify();
}

void TRenderManager::StartJob(int Index) {
    {
        TScopeLock<TNotificationManager> lock(*this);
        if (Index < 0 || Index >= int(Jobs.size()))
            return;
        if (Jobs[std::size_t(Index)]->GetState() == TRenderState::Waiting)
            Jobs[std::size_t(Index)]->Start();
    }
    SaveJobs();
    Notify();
}

void TRenderManager::PauseJob(int Index) {
    {
        TScopeLock<TNotificationManager> lock(*this);
        if (Index < 0 || Index >= int(Jobs.size()))
            return;
        if (Jobs[std::size_t(Index)]->GetState() != TRenderState::Waiting)
            Jobs[std::size_t(Index)]->Stop();
    }
    SaveJobs();
    Notify();
}

void TRenderManager::DeleteJob(int Index) {
    std::unique_ptr<TRenderJob> removed;
    {
        TScopeLock<TNotificationManager> lock(*this);
        if (Index < 0 || Index >= int(Jobs.size()))
            return;
        TRenderJob &job = *Jobs[std::size_t(Index)];
        const bool wasRunning = job.GetState() != TRenderState::Waiting;
        job.Stop();
        job.DeleteFiles();
        if (job.GetState() != TRenderState::Finished) {
            removed = std::move(Jobs[std::size_t(Index)]);
            Jobs.erase(Jobs.begin() + Index);
            if (wasRunning)
                StartNextJob(Index);
        }
    }
    removed.reset();
    SaveJobs();
    Notify();
}

void TRenderManager::MoveJob(int From, int To) {
    {
        TScopeLock<TNotificationManager> lock(*this);
        const int count = int(Jobs.size());
        if (From < 0 || From >= count || To < 0 || To >= count || From == To)
            return;
        std::unique_ptr<TRenderJob> job = std::move(Jobs[std::size_t(From)]);
        Jobs.erase(Jobs.begin() + From);
        Jobs.insert(Jobs.begin() + To, std::move(job));
    }
    SaveJobs();
    Notify();
}

void TRenderManager::BackupJob(int Index, const std::string &FileName) {
    TScopeLock<TNotificationManager> lock(*this);
    if (Index < 0 || Index >= int(Jobs.size()))
        return;
    TRenderJob &job = *Jobs[std::size_t(Index)];
    const bool wasRunning = job.GetState() != TRenderState::Waiting;
    if (wasRunning)
        job.Stop();
    if (job.GetState() != TRenderState::Finished) {
        // The running job goes on whatever became of its backup.
        try {
            WriteRenderBundle(job, FileName);
        } catch (...) {
            if (wasRunning)
                job.Start();
            throw;
        }
        if (wasRunning)
            job.Start();
    }
}

void TRenderManager::RestoreJob(const std::string &FileName) {
    std::unique_ptr<TRenderJob> job = CreateJob();
    std::uint32_t id;
    {
        TScopeLock<TNotificationManager> lock(*this);
        id = NewJobId();
        ReadRenderBundle(FileName, job->GetFolder(), id);
    }
    try {
        job->LoadFromFiles(id);
    } catch (const std::exception &) {
        // The bundle's files are of no use without a header that reads: none stays behind.
        DeleteFile(job->FileNameOf(RenderHeaderIndex));
        for (std::uint32_t i = 0; i < std::uint32_t(MaxRenderStripCount) && FileExists(job->FileNameOf(i));
             ++i)
            DeleteFile(job->FileNameOf(i));
        throw ERenderError("Could not read backup job");
    }
    InsertJob(std::move(job));
}

int TRenderManager::GetCount() {
    TScopeLock<TNotificationManager> lock(*this);
    return int(Jobs.size());
}

TRenderJob *TRenderManager::GetJob(int Index) {
    TScopeLock<TNotificationManager> lock(*this);
    return Index >= 0 && Index < int(Jobs.size()) ? Jobs[std::size_t(Index)].get() : nullptr;
}

void TRenderManager::StartNextJob(int Index) {
    TScopeLock<TNotificationManager> lock(*this);
    for (std::size_t i = std::size_t(std::max(Index, 0)); i < Jobs.size(); ++i)
        if (Jobs[i]->GetState() == TRenderState::Waiting) {
            Jobs[i]->Start();
            return;
        }
}

void TRenderManager::JobFinished(TObject *Sender) {
    std::unique_ptr<TRenderJob> finished;
    int index;
    bool destroying;
    {
        TScopeLock<TNotificationManager> lock(*this);
        index = IndexOf(Sender);
        if (index < 0)
            return;
        TRenderJob &job = *Jobs[std::size_t(index)];
        destroying = Destroying;
        TConfigManager *config = ConfigManager();
        if (job.GetTimer().GetElapsed() > SoundAfterDays && !destroying && config &&
            config->Render->SoundEnabled)
            PlaySoundA(config->Render->SoundFile.c_str(), nullptr, SND_ASYNC | SND_FILENAME);
        finished = std::move(Jobs[std::size_t(index)]);
        Jobs.erase(Jobs.begin() + index);
    }
    // The job's own step has ended its work; only this thread, which it does not wait for, is left.
    finished.reset();
    if (destroying)
        return;
    StartNextJob(index);
    SaveJobs();
    Notify();
}

TRenderManager *RenderManager() {
    return GlobalRenderManager;
}

void InitializeRenderQueue() {
    // A calculation server renders nothing to disk of its own.
    if (ProgramInformation() && ProgramInformation()->ServerMode)
        return;
    if (!GlobalRenderManager)
        GlobalRenderManager = new TRenderManager();
}

void FinalizeRenderQueue() {
    delete GlobalRenderManager;
    GlobalRenderManager = nullptr;
}
