// Thread hooks: every thread that the program starts through CreateThread runs inside a guard and
// is entered into the thread-information table with the code that created it and the creating
// thread. The hook replaces CreateThread in the import tables of the modules loaded at installation.
#pragma once

#include <windows.h>

#include <cstdint>

// Resolves the real CreateThread and patches the import cells that hold it; true when it was
// resolved. A second call does nothing.
bool InstallThreadHooks();
// Puts the real CreateThread back into every cell that still holds the hook.
void RemoveThreadHooks();
// How many import cells the installation changed.
int PatchedImportCells();

// True when a call instruction (relative, indirect through a register or memory, or far) ends
// exactly at Address. Reads through the guarded reader.
bool FollowsCallInstruction(std::uintptr_t Address);
