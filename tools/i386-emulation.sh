#!/usr/bin/env bash
# Makes 32-bit x86 programs run on this machine. Where the kernel runs them natively nothing changes.
# Where it refuses them ("Exec format error": a 64-bit-only kernel), QEMU's user-mode emulator from
# Debian's bookworm-backports suite is registered for i386 executables through binfmt_misc, and Debian's
# wine64 is installed beside wine32 so that the wineserver runs natively; only the Windows programs are
# emulated then. Idempotent: a second run on a prepared machine changes nothing.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

binfmt=/proc/sys/fs/binfmt_misc
entry=$binfmt/qemu-i386
emulator=/usr/bin/qemu-i386-static

# A tiny static i386 program that exits with 0. The kernel configuration is not trusted: only running
# one tells whether 32-bit code executes here.
probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
make_probe() {
  printf '.globl _start\n_start:\n mov $1,%%eax\n xor %%ebx,%%ebx\n int $0x80\n' > "$probe_dir/probe.s"
  as --32 -o "$probe_dir/probe.o" "$probe_dir/probe.s"
  ld -m elf_i386 -static -o "$probe_dir/probe" "$probe_dir/probe.o"
}
runs_32bit() { "$probe_dir/probe" >/dev/null 2>&1; }

emulator_registered() {
  [ -f "$entry" ] && grep -qx enabled "$entry" && grep -q "^interpreter $emulator\$" "$entry" &&
    grep -q '^flags: .*F' "$entry"
}

make_probe
if runs_32bit && ! [ -f "$entry" ]; then
  exit 0 # native 32-bit execution
fi
if runs_32bit && emulator_registered && [ -x "$emulator" ] && "$emulator" --version 2>/dev/null | grep -q 'version [1-9][0-9]\.'; then
  exit 0 # emulation is already in place
fi
if [ -f "$entry" ]; then
  # Registered but not by us (or an older emulator): find out whether the kernel runs 32-bit code
  # without it before deciding.
  echo -1 | "${sudo_cmd[@]}" tee "$entry" >/dev/null
  if runs_32bit; then
    exit 0
  fi
fi

echo "setup: this machine's kernel does not run 32-bit programs; the program and its tests will run under" \
     "QEMU's i386 user-mode emulation, which is much slower and differs in a few x87 and fault details." >&2

backports=/etc/apt/sources.list.d/orbisk-backports.sources
if [ ! -f "$backports" ]; then
  "${sudo_cmd[@]}" tee "$backports" >/dev/null <<'SRC'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  "${sudo_cmd[@]}" apt-get update -qq
fi
need=()
"$emulator" --version 2>/dev/null | grep -q 'version [1-9][0-9]\.' || need+=(qemu-user-static)
dpkg-query -W -f='${Status}' wine64 2>/dev/null | grep -q 'install ok installed' || need+=(wine64)
if [ ${#need[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    -t bookworm-backports "${need[@]}" >/dev/null
fi

if [ ! -e "$binfmt/register" ]; then
  "${sudo_cmd[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"
fi
# The package may have registered its own entry meanwhile (through binfmt-support); ours replaces any.
[ -f "$entry" ] && echo -1 | "${sudo_cmd[@]}" tee "$entry" >/dev/null
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
printf ':qemu-i386:M::%s:%s:%s:F\n' "$magic" "$mask" "$emulator" | "${sudo_cmd[@]}" tee "$binfmt/register" >/dev/null
if ! runs_32bit; then
  echo "setup: the i386 emulator is registered but 32-bit programs still do not run" >&2
  exit 1
fi
