// Layout of a built-in formula's 128-byte data block, shared by FracBuiltin.cpp, which fills it,
// and the loops in FracBuiltinLoops.S, which read it.
//
//   offset  double               extended                 arbitrary precision
//   0x00    start/seed re, im    start/seed re, im (0x10)  handles of re (0x00), im (0x04)
//   0x10    start squared re, im
//   0x20                         start squared re, im (0x30)
//   0x40    bailout (f64)        bailout (f64)             handle of the bailout
//   0x60    |z|^2 (f64) of the bailout test
#pragma once

#define BD_START 0x00
#define BD_DOUBLE_SQUARE 0x10
#define BD_EXTENDED_SQUARE 0x20
#define BD_BAILOUT 0x40
#define BD_NORM 0x60
