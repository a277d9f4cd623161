// The file enumerator and the other small classes under their second module name: one class
// serves both names (declared in GenClasses.h).
#pragma once

#include "GenClasses.h"
