// The loop the built-in Mandelbrot and Julia loops are measured against (FracFormulaBench and
// bench/native/BuiltinLoopBench): their counting with bailout 4 written plainly in C++, z kept in
// 80-bit registers; at most Max - 1 steps, the last one untested.
#pragma once

inline int PlainEscapeCount(long double ZRe, long double ZIm, long double CRe, long double CIm, int Max) {
    int done = Max;
    for (int steps = 1; steps < Max; ++steps) {
        const long double re = ZRe * ZRe - ZIm * ZIm + CRe;
        ZIm = (ZRe + ZRe) * ZIm + CIm;
        ZRe = re;
        if (steps == Max - 1)
            break;
        if (ZRe * ZRe + ZIm * ZIm > 4) {
            done = steps;
            break;
        }
    }
    return done;
}
