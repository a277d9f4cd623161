#include "FractalWindowHost.h"

namespace {
int GlobalMouseMode = mmoNormal;
}

int GetMouseMode() {
    return GlobalMouseMode;
}

void StoreMouseMode(int Mode) {
    GlobalMouseMode = Mode;
}
