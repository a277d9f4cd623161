#!/usr/bin/env bash
# Builds the arbitrary-precision benchmark natively for Linux with MPFR and runs it.
#   bench/native/build.sh [--x86-64] [output folder] [--no-run]
# Default: i386 (Debian's i386 libmpfr through multiarch, 32-bit words like ours, the
# assembler kernels); needs g++-multilib, libmpfr-dev:i386 and libgmp-dev:i386.
# --x86-64: the same program for x86-64 with the portable C++ kernels (the assembler
# kernels are i386 only) against libmpfr-dev:amd64; the figures that mean something on
# a machine that runs i386 code only under emulation.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
mode=i386
if [ "${1:-}" = "--x86-64" ]; then
  mode=x86-64
  shift
fi
out=${1:-$top/build/bench-native${mode/i386/}}
run=1
[ "${2:-}" = "--no-run" ] && run=0
mkdir -p "$out"
sources=("$top"/foundation/huge/*.cpp "$top/classlib/SysUtils.cpp" "$top/bench/HugeBench.cpp")
if [ $mode = i386 ]; then
  # The same code generation as the Windows build: i686, x87 floating point.
  flags=(-m32 -march=i686 -mfpmath=387)
  sources+=("$top"/foundation/huge/*.S)
else
  flags=(-m64)
fi
g++ "${flags[@]}" -O2 -std=gnu++20 -DHUGE_BENCH_MPFR -D__USE_MINGW_ANSI_STDIO=1 \
  -I"$top" -I"$top/classlib" -I"$top/foundation/huge" \
  "${sources[@]}" -o "$out/HugeBench" -lmpfr -lgmp
echo "built $out/HugeBench" >&2
if [ $run -eq 1 ]; then
  # Under emulation (see tools/i386-emulation.sh) the program says its figures mean nothing.
  if [ $mode = i386 ] && grep -qsx enabled /proc/sys/fs/binfmt_misc/qemu-i386; then export OV_EMULATED=1; fi
  "$out/HugeBench"
fi
