// The queue of render jobs of an interactive instance. It owns the jobs, normally runs one at a
// time in queue order, keeps the queue in the Render section of the configuration so that it
// survives a program end (the jobs' data stays in their files), plays a sound when a long job
// ends, packs a job into a backup file or restores one, and guards against a start-up crash loop
// that a broken job could cause.
//
// Threads: the manager's lock (that of its notification list) guards the list. Job events come
// from render threads, commands from the interface thread; subscribers are notified after every
// change of the queue, on the thread that made the change.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FracRender.h"
#include "GenClasses.h"

class TRenderManager : public TMultiThreadedNotificationManager {
public:
    // Start-ups that end within this many milliseconds count towards the crash-loop guard.
    static constexpr std::uint32_t LoadAttemptsDelay = 60000;
    // Start-ups in a row that ended that early before the stored queue is discarded.
    static constexpr int MaxLoadAttempts = 2;

    // Manager nil: the global calculation manager. Folder empty: the System folder. Loads the
    // stored queue and resumes the jobs that were calculating.
    explicit TRenderManager(TCalculateManager *AManager = nullptr, const std::string &AFolder = std::string(),
                            std::uint32_t AAttemptsDelay = LoadAttemptsDelay);
    ~TRenderManager() override;
    DECLARE_CLASS_NAME(TRenderManager)

    void AddJob(std::unique_ptr<TRenderJob> Job);
    void InsertJob(std::unique_ptr<TRenderJob> Job);
    void StartJob(int Index);
    void PauseJob(int Index);
    void DeleteJob(int Index);
    void MoveJob(int From, int To);
    void BackupJob(int Index, const std::string &FileName);
    // ERenderError "Could not read backup job" when the bundle or the job in it cannot be read;
    // no file of the job is left behind then.
    void RestoreJob(const std::string &FileName);
    int GetCount();
    TRenderJob *GetJob(int Index);
    // A job made for this queue (its calculation manager and folder).
    std::unique_ptr<TRenderJob> CreateJob();
    std::uint32_t NewJobId();
    void SaveJobs();

private:
    class TAttemptsThread;
    void LoadJobs();
    void JobFinished(TObject *Sender);
    void StartNextJob(int Index);
    void SetLoadAttempts(int Value);
    int IndexOf(const TObject *Job) const;

    bool Destroying = false;
    std::vector<std::unique_ptr<TRenderJob>> Jobs;
    std::unique_ptr<TThread> LoadAttemptsTimer;
    TCalculateManager *FManager;
    std::string FFolder;
    std::uint32_t FRandom;
};

// The one queue; nil outside InitializeRenderQueue .. FinalizeRenderQueue.
TRenderManager *RenderManager();
void InitializeRenderQueue();
void FinalizeRenderQueue();
