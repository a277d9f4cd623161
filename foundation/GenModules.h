// Ordered start-up and shut-down of the modules that own global singletons.
#pragma once

#include <vector>

struct TModuleEntry {
    const char *Name;
    void (*Initialize)();
    void (*Finalize)();
};

// Runs Initialize of each entry in list order; Finalize runs in reverse order for exactly the
// entries whose Initialize completed, also when a later Initialize raised.
class TModuleStartup {
public:
    explicit TModuleStartup(std::vector<TModuleEntry> modules);
    ~TModuleStartup();
    TModuleStartup(const TModuleStartup &) = delete;
    TModuleStartup &operator=(const TModuleStartup &) = delete;

    void Start();
    void Stop();
    int StartedCount() const { return FStarted; }

private:
    std::vector<TModuleEntry> FModules;
    int FStarted = 0;
};
