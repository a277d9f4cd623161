#!/usr/bin/env bash
# Builds and runs the native timing of the built-in Mandelbrot and Julia loop (BuiltinLoopBench.cpp):
# the loop's x87 instructions re-hosted for x86-64, which runs natively where 32-bit code does not.
#   bench/native/builtin-loop.sh [output folder] [--no-run]
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:-$top/build/bench-native-builtin}
mkdir -p "$out"
g++ -m64 -O2 -std=gnu++20 -I"$top" -I"$top/fractal" "$top/bench/native/BuiltinLoopBench.cpp" \
  "$top/bench/native/BuiltinLoopNative.S" -o "$out/BuiltinLoopBench"
echo "built $out/BuiltinLoopBench" >&2
[ "${2:-}" = "--no-run" ] || "$out/BuiltinLoopBench"
