#!/usr/bin/env bash
# Builds the arbitrary-precision benchmark natively for Linux i386 with MPFR
# (Debian's i386 libmpfr through multiarch, 32-bit words like ours) and runs it.
#   bench/native/build.sh [output folder] [--no-run]
# Needs g++-multilib, libmpfr-dev:i386 and libgmp-dev:i386.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:-$top/build/bench-native}
run=1
[ "${2:-}" = "--no-run" ] && run=0
mkdir -p "$out"
sources=("$top"/foundation/huge/*.cpp "$top"/foundation/huge/*.S "$top/classlib/SysUtils.cpp" "$top/bench/HugeBench.cpp")
# The same code generation as the Windows build: i686, x87 floating point.
g++ -m32 -march=i686 -mfpmath=387 -O2 -std=gnu++20 -DHUGE_BENCH_MPFR -D__USE_MINGW_ANSI_STDIO=1 \
  -I"$top" -I"$top/classlib" -I"$top/foundation/huge" \
  "${sources[@]}" -o "$out/HugeBench" -lmpfr -lgmp
echo "built $out/HugeBench" >&2
if [ $run -eq 1 ]; then
  # Under emulation (see tools/i386-emulation.sh) the program says its figures mean nothing.
  if grep -qsx enabled /proc/sys/fs/binfmt_misc/qemu-i386; then export OV_EMULATED=1; fi
  "$out/HugeBench"
fi
