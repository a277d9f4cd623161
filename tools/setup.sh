#!/usr/bin/env bash
# Installs everything the build and the tests need, from Debian's packages, and builds
# libjpeg for mingw into the build tree. Quick when everything is already there.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}

packages=(
  cmake ninja-build nasm dpkg-dev xauth xvfb x11-apps binutils
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  libz-mingw-w64-dev googletest wine wine32:i386
  g++-multilib libmpfr-dev:i386 libgmp-dev:i386 libmpfr-dev:amd64 libgmp-dev:amd64 python3 python3-mpmath
  imagemagick pngcheck libtiff-tools libjpeg-turbo-progs fp-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

src_list=/etc/apt/sources.list.d/orbisk-src.sources
need_src=0
[ -f "$build/deps/libjpeg/lib/libjpeg.a" ] || need_src=1

if [ ${#missing[@]} -gt 0 ] || { [ $need_src -eq 1 ] && [ ! -f "$src_list" ]; }; then
  echo "setup: installing ${missing[*]:-source index}" >&2
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  if [ ! -f "$src_list" ]; then
    "${sudo_cmd[@]}" tee "$src_list" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  fi
  "${sudo_cmd[@]}" apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
fi

# 32-bit programs run natively, or under emulation where this machine's kernel refuses them.
"$top/tools/i386-emulation.sh"

# libjpeg-turbo from Debian's source package, cross-built once into the build tree.
if [ $need_src -eq 1 ]; then
  echo "setup: building libjpeg for mingw" >&2
  work="$build/deps/libjpeg-src"
  rm -rf "$work" && mkdir -p "$work"
  (cd "$work" && apt-get source --download-only libjpeg-turbo >/dev/null 2>&1)
  tar -xzf "$work"/libjpeg-turbo_*.orig.tar.gz -C "$work"
  srcdir=$(find "$work" -maxdepth 1 -mindepth 1 -type d -name 'libjpeg-turbo*' | head -n 1)
  cmake -S "$srcdir" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$build/deps/libjpeg" -DCMAKE_INSTALL_LIBDIR="$build/deps/libjpeg/lib" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF \
    -DWITH_JPEG8=OFF -Wno-dev >/dev/null
  cmake --build "$work/build" >/dev/null
  cmake --install "$work/build" >/dev/null
  rm -rf "$work"
fi
