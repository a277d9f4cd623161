// Benchmarks say so when they run under QEMU's i386 emulation (tools/wine-run and bench/native/build.sh
// set OV_EMULATED there): the figures then measure the emulator, not the program.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

inline void PrintEmulationNotice() {
    const char *value = std::getenv("OV_EMULATED");
    if (value != nullptr && std::strcmp(value, "1") == 0)
        std::printf("NOTE: running under QEMU's i386 emulation: these figures come from emulation and mean "
                    "nothing for speed.\n\n");
}
