// The program's entry and start-up.
#pragma once

// The process entry: module start-up, the splash, the main window and its message loop, saving
// the file history and the configuration, module shut-down; with "/server" the server window
// instead of splash and main window. Never returns.
[[noreturn]] void ProgramMain();
// Seeds the random numbers and warns about a screen of fewer than 15 bits of colour.
void StartProgram();
