// Progress of long operations on the user-interface thread. Operations nest; only the outermost
// one is reported, so that a shown bar runs once from 0 to 100 %.
#pragma once

#include <string>

#include "Classes.h"

// Kind 0 start, 1 progress, 2 end; Text the formatted caption; Percent 0 .. 100.
using TProgressEvent = TMethod<void(TObject *Sender, int Kind, const std::string &Text, int Percent)>;

class TProgressManager : public TObject {
public:
    DECLARE_CLASS_NAME(TProgressManager)

    void BeginProgress(const std::string &ACaption);
    // Without a matching BeginProgress it does nothing.
    void EndProgress();
    void SetProgress(int Percent);
    void SetProgress(int Ignored, int Percent) { SetProgress(Percent); }

    const std::string &Caption() const { return FCaption; }
    int Level() const { return FLevel; }
    TProgressEvent OnProgress;

private:
    void Report(int Kind, int Percent);
    std::string FCaption;
    int FLevel = 0;
};

// The global manager; nullptr outside InitializeFracProgress .. FinalizeFracProgress.
TProgressManager *ProgressManager();
void InitializeFracProgress();
void FinalizeFracProgress();

// Begins a progress caption of the global manager, sets its percentage and ends it with the scope.
class TProgressScope {
public:
    explicit TProgressScope(const std::string &Caption) : FManager(ProgressManager()) {
        if (FManager)
            FManager->BeginProgress(Caption);
    }
    ~TProgressScope() {
        if (FManager)
            FManager->EndProgress();
    }
    void Set(int Percent) {
        if (FManager)
            FManager->SetProgress(Percent);
    }
    TProgressScope(const TProgressScope &) = delete;
    TProgressScope &operator=(const TProgressScope &) = delete;

private:
    TProgressManager *FManager;
};
