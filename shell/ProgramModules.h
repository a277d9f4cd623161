// The program's modules in their start-up order.
#pragma once

#include <string>
#include <vector>

#include "GenModules.h"

std::vector<TModuleEntry> ProgramModules();

// The main window's title once the modules have started.
std::string ProgramTitle();
