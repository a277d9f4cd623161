// Tells a test whether the program runs under QEMU's i386 user-mode emulation (tools/wine-run sets
// OV_EMULATED there). Emulation differs from real processors in a few details that no code of ours can
// change: the x87 transcendental instructions (fsin, fcos, fptan, fpatan, f2xm1, fyl2x, ...) are
// computed through the host's double arithmetic, so their results are only about double-precision
// accurate. Tests that check those results exactly on real hardware check what emulation honestly
// gives when this is true, and nothing else.
#pragma once

#include <cstdlib>
#include <cstring>

inline bool RunningUnderEmulation() {
    const char *value = std::getenv("OV_EMULATED");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

// The relative accuracy of an x87 transcendental instruction's result under emulation: a few units
// of double's last place, with room for the routines that combine several of them.
constexpr long double EmulatedX87Accuracy = 1e-14L;
