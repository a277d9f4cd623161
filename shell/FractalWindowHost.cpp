#include "FractalWindowHost.h"

namespace {
int GlobalMouseMode = mmNormal;
}

int GetMouseMode() {
    return GlobalMouseMode;
}

void StoreMouseMode(int Mode) {
    GlobalMouseMode = Mode;
}
