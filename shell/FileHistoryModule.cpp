// The global history and what it takes from the configuration. Kept apart from FileHistory.cpp:
// the configuration's header and the class library's window headers both declare font-style
// names, so no file can include both.
#include "FileHistory.h"

#include <memory>

#include "GenSetup.h"

namespace {

TFileHistoryManager *GlobalHistory = nullptr;

} // namespace

void TFileHistoryManager::UpdateMenu(TMenuItem &FileMenu) {
    const TConfigManager *config = ConfigManager();
    UpdateMenu(FileMenu, config && config->General ? config->General->FileHistorySize : MenuItems);
}

TFileHistoryManager *FileHistoryManager() {
    return GlobalHistory;
}

void InitializeFileHistory() {
    if (GlobalHistory)
        return;
    auto history = std::make_unique<TFileHistoryManager>();
    if (TConfigManager *config = ConfigManager()) {
        history->LoadFromRegistry(*config);
        config->AddHandler(MakeNotifyEvent<&TFileHistoryManager::ConfigurationChanged>(history.get()));
    }
    GlobalHistory = history.release();
}

void FinalizeFileHistory() {
    if (!GlobalHistory)
        return;
    if (TConfigManager *config = ConfigManager())
        config->RemoveHandler(MakeNotifyEvent<&TFileHistoryManager::ConfigurationChanged>(GlobalHistory));
    delete GlobalHistory;
    GlobalHistory = nullptr;
}
