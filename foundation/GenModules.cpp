#include "GenModules.h"

#include <exception>
#include <utility>

TModuleStartup::TModuleStartup(std::vector<TModuleEntry> modules) : FModules(std::move(modules)) {}

TModuleStartup::~TModuleStartup() {
    try {
        Stop();
    } catch (...) {
        // A destructor must not throw; the modules have done what they could.
    }
}

void TModuleStartup::Start() {
    try {
        for (; FStarted < static_cast<int>(FModules.size()); ++FStarted)
            if (FModules[FStarted].Initialize)
                FModules[FStarted].Initialize();
    } catch (...) {
        Stop();
        throw;
    }
}

void TModuleStartup::Stop() {
    // Every started module is finalized even when one of them fails; the first failure is raised.
    std::exception_ptr first;
    while (FStarted > 0) {
        const TModuleEntry &module = FModules[--FStarted];
        try {
            if (module.Finalize)
                module.Finalize();
        } catch (...) {
            if (!first)
                first = std::current_exception();
        }
    }
    if (first)
        std::rethrow_exception(first);
}
