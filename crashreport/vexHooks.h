// Interception: the crash library puts itself into every path on which an exception would otherwise
// end in the run time's own message, a termination or a silent thread death, and takes itself out
// again at the end. Code patches are listed so that they can be undone; a patch that someone else
// changed since is left alone.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Writes Length bytes at Address when they differ from what is there and the range can be made
// writable; lists {address, old bytes, new bytes}. True when the code changed.
bool PatchCode(void *Address, const void *NewBytes, std::size_t Length);
// A jump to Hook over the start of Routine (or of the target of the import cell that Routine jumps
// through).
bool HookCode(void *Routine, void *Hook);
// Points the relative call whose 4-byte operand lies at Operand to Target.
bool PatchCallTarget(void *Operand, void *Target);
// Puts back every listed patch whose bytes are still the new ones, then empties the list.
void UndoPatches();
std::size_t PatchCount();

// Re-initialises the floating-point unit with the run time's control word 0x037F: every exception
// masked (an unmasking word would raise where the code expects none).
void ResetFloatingPointUnit();

// The message of a processor exception ("Division by zero", "Access violation at address ...").
std::string HardwareExceptionText(const EXCEPTION_RECORD &Record);

// Module start-up and end of the whole library: the hooks, the handler thread, the thread hooks and
// the freeze watchdog, as the settings ask.
void InstallCrashHooks();
void UninstallCrashHooks();
bool CrashHooksInstalled();

// The program's start-up and end in the module list: waits for a restarted predecessor, then
// installs; the end uninstalls.
void InitializeVexExcept();
void FinalizeVexExcept();
