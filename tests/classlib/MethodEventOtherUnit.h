// Events made in another translation unit (MethodEventOtherUnit.cpp).
#pragma once
#include "Classes.h"

TMethod<int(int)> OtherUnitCopyEvent();
TMethod<int(int)> OtherUnitPeekEvent();
// Calls Event there, so that the event's code is not folded into the caller.
int CallInOtherUnit(TMethod<int(int)> Event, int x);
