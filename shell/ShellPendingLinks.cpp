#include "ShellPendingLinks.h"

#include "SysUtils.h"

void ShellOpenDocumentFile(const std::string &FileName) {
    // No document kind opens yet.
    throw Exception(Format("Could not open '%s'.", FileName));
}

void ShellUpdateHistoryMenu(TMenuItem &) {}

void ShellSubscribeFileHistory(TNotifyEvent) {}

void ShellUnsubscribeFileHistory(TNotifyEvent) {}

void ShellSaveFileHistory() {}
