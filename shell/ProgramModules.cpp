#include "ProgramModules.h"

std::vector<TModuleEntry> ProgramModules() {
    return {};
}

std::string ProgramTitle() {
    return "Orbisk Vantel";
}
