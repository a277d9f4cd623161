// Temporary links to the file history and the open dispatcher, which join the shell separately:
// the main window calls these few routines, and each body becomes the one call named beside it
// once those modules are here (then this module goes).
#pragma once

#include <string>

#include "Classes.h"

class TMenuItem;

// OpenDocumentFile(FileName)
void ShellOpenDocumentFile(const std::string &FileName);
// FileHistoryManager()->UpdateMenu(FileMenu)
void ShellUpdateHistoryMenu(TMenuItem &FileMenu);
// FileHistoryManager()->AddHandler(Handler) / RemoveHandler(Handler)
void ShellSubscribeFileHistory(TNotifyEvent Handler);
void ShellUnsubscribeFileHistory(TNotifyEvent Handler);
// FileHistoryManager()->SaveToRegistry(*ConfigManager())
void ShellSaveFileHistory();
