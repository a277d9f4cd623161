#include "FracProgress.h"

#include "GenUtils.h"

namespace {
TProgressManager *GlobalProgressManager = nullptr;
}

void TProgressManager::BeginProgress(const std::string &ACaption) {
    BeginWaitCursor();
    if (++FLevel == 1) {
        FCaption = ACaption;
        Report(0, 0);
    }
}

void TProgressManager::EndProgress() {
    // The wait cursor is popped only for a matching BeginProgress, so a stray call cannot restore
    // a cursor that another operation pushed.
    if (FLevel <= 0)
        return;
    EndWaitCursor();
    Report(2, 100);
    --FLevel;
}

void TProgressManager::SetProgress(int Percent) {
    Report(1, Percent);
}

void TProgressManager::Report(int Kind, int Percent) {
    if (FLevel != 1 || !OnProgress)
        return;
    OnProgress(this, Kind, Format(" %s... (%d%%)", FCaption, Percent), Percent);
}

TProgressManager *ProgressManager() {
    return GlobalProgressManager;
}

void InitializeFracProgress() {
    if (!GlobalProgressManager)
        GlobalProgressManager = new TProgressManager();
}

void FinalizeFracProgress() {
    delete GlobalProgressManager;
    GlobalProgressManager = nullptr;
}
