// The general routines under their second module name: both names give the one implementation
// declared in GenUtils.h (the folder operations and the shell and screen routines live in
// CommonUtils.cpp).
#pragma once

#include "GenUtils.h"
