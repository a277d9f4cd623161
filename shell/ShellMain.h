// The program's entry and start-up.
#pragma once

#include <vector>

#include "GenModules.h"

// The process entry: module start-up, the splash, the main window and its message loop, saving
// the file history and the configuration, module shut-down; with "/server" the server window
// instead of splash and main window. Never returns.
// Extra: the modules of the layers above the shell (the browser's), started before the crash
// library's last entry.
[[noreturn]] void ProgramMain(const std::vector<TModuleEntry> &Extra = {});
// Seeds the random numbers and warns about a screen of fewer than 15 bits of colour.
void StartProgram();
