#!/usr/bin/env bash
# ./build.sh run   - set up, build and start Orbisk Vantel (under Wine)
# ./build.sh test  - set up, build and run every test
# ./build.sh bench - set up, build and run the benchmark programs
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
build=${BUILD_DIR:-$top/build}
mode=${1:-test}
shift || true

BUILD_DIR="$build" "$top/tools/setup.sh"

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null
fi
cmake --build "$build" -j "$(nproc)"

export OV_WINE_DIR="$build/wine"
# One wineserver for the whole run, so that each program starts fast.
start_wineserver() {
  "$top/tools/wine-run" --prepare
  WINEPREFIX="$build/wine/prefix" wineserver -p
  # Start Wine's own services now, detached from our output, so that a test's pipes close when it ends.
  "$top/tools/wine-run" cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
}
# The entry-file test of a full disk writes on a small file system of its own; where this user cannot
# mount one, that test says so and is skipped.
full_disk="$build/wine/fulldisk"
mount_full_disk() {
  mkdir -p "$full_disk"
  if mountpoint -q "$full_disk" || mount -t tmpfs -o size=64k tmpfs "$full_disk" 2>/dev/null; then
    OV_FULL_DISK_FOLDER="Z:$(printf '%s' "$full_disk" | tr / '\\')"
    export OV_FULL_DISK_FOLDER
  fi
}
stop_services() {
  if mountpoint -q "$full_disk" 2>/dev/null; then umount "$full_disk" || true; fi
  WINEPREFIX="$build/wine/prefix" wineserver -k >/dev/null 2>&1 || true
  "$top/tools/xvfb-display" --stop "$build/wine" || true
  # Test programs on a virtual desktop (OV_WINE_DESKTOP) have displays of their own.
  for own in "$build"/wine/tests/*/; do
    [ -f "$own/xvfb" ] && "$top/tools/xvfb-display" --stop "$own" || true
  done
}
# Tests and benchmarks draw on an Xvfb display of their own, never on the user's screen.
use_own_display() {
  DISPLAY=":$("$top/tools/xvfb-display" "$build/wine")"
  export DISPLAY
}

case "$mode" in
  run)
    exec "$top/tools/wine-run" "$build/OrbiskVantel.exe" "$@"
    ;;
  test)
    trap stop_services EXIT
    use_own_display
    start_wineserver
    mount_full_disk
    cd "$build"
    ctest --output-on-failure -j "$(nproc)" "$@"
    ;;
  bench)
    trap stop_services EXIT
    use_own_display
    start_wineserver
    for program in "$build"/bench/*.exe; do
      [ -e "$program" ] || continue
      echo "== $(basename "$program")"
      "$top/tools/wine-run" "$program" "$@"
    done
    if [ -x "$top/bench/native/build.sh" ]; then
      "$top/bench/native/build.sh" "$build/bench-native"
    fi
    if [ -x "$top/bench/native/builtin-loop.sh" ]; then
      "$top/bench/native/builtin-loop.sh" "$build/bench-native-builtin"
    fi
    ;;
  *)
    echo "usage: $0 run|test|bench" >&2
    exit 2
    ;;
esac
