#!/usr/bin/env bash
# 32-bit x86 programs, and so 32-bit Wine, on a machine whose kernel runs
# none: qemu-user (8 or later, from bookworm-backports) registered with
# binfmt_misc for i386 ELF files, and wine64 beside wine32 so that the Wine
# server runs natively. Done once and left in place; a second run changes
# nothing. It never fails: where it cannot set up emulation it says why (a
# failed install also in the caller's SORVEL_APT_FAILURES, scripts/apt.sh).
#
#   setup-i386.sh         set up, where the kernel runs no 32-bit code
#   setup-i386.sh --mode  how 32-bit programs run here: "emulated" (a binfmt
#                         entry takes i386 ELF files, whatever the kernel
#                         can do), "native", or "none"
#
# SORVEL_EMULATE_I386=1 takes the kernel for one that runs no 32-bit code:
# the emulated path, tried on a machine that has both.
set -euo pipefail
source "$(dirname "$0")/apt.sh"

MAGIC='7f454c4601010100000000000000000002000300'
MASK='fffffffffffefe00fffffffffffffffffeffffff'
QEMU=/usr/bin/qemu-i386-static
SOURCE=/etc/apt/sources.list.d/bookworm-backports.sources
binfmt=/proc/sys/fs/binfmt_misc

# A -m32 program with byte 9 of its ELF header (padding) set: no binfmt
# entry matches it, so only the kernel itself can run it.
native() {
  [ "${SORVEL_EMULATE_I386:-0}" = 1 ] && return 1
  local dir
  dir=$(mktemp -d)
  printf 'int main(void) { return 0; }\n' >"$dir/p.c"
  gcc -m32 -o "$dir/p" "$dir/p.c" 2>/dev/null && printf '\001' | dd of="$dir/p" bs=1 seek=9 conv=notrunc 2>/dev/null &&
    "$dir/p" 2>/dev/null
  local status=$?
  rm -rf "$dir"
  return $status
}

apt_install gcc-multilib || true  # the probe's -m32

# An enabled binfmt_misc entry for i386 ELF files.
i386_entry() {
  local entry
  for entry in "$binfmt"/*; do
    [ -f "$entry" ] && grep -qx enabled "$entry" && grep -q "^magic $MAGIC" "$entry" && echo "$entry" && return 0
  done 2>/dev/null
  return 1
}

if [ "${1:-}" = --mode ]; then
  if i386_entry >/dev/null; then echo emulated; elif native; then echo native; else echo none; fi
  exit 0
fi
native && ! i386_entry >/dev/null && exit 0

qemu_major() { "$1" --version 2>/dev/null | sed -n 's/.*version \([0-9]*\).*/\1/p' | head -n 1; }

. /etc/os-release
if [ "${VERSION_CODENAME:-}" != bookworm ]; then
  echo "Not Debian 12 (bookworm): no bookworm-backports to take qemu-user from; emulation not set up."
  exit 0
fi
if [ ! -e "$SOURCE" ]; then
  # The archive and keyring the machine already uses, another suite of it.
  uri=$(sed -n 's/^URIs: *\(.*debian\)$/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
  printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: %s\n' \
    "${uri:-http://deb.debian.org/debian}" /usr/share/keyrings/debian-archive-keyring.gpg | as_root tee "$SOURCE" >/dev/null
  apt_update
fi
if [ "$(qemu_major $QEMU || true)" -lt 8 ] 2>/dev/null || ! [ -x $QEMU ] || ! dpkg -s wine64 >/dev/null 2>&1; then
  echo "Installing qemu-user-static from bookworm-backports, and wine64"
  if ! { apt_install -t bookworm-backports qemu-user-static && apt_install wine64; }; then
    echo "qemu-user-static or wine64 could not be installed: 32-bit programs are not emulated."
    exit 0
  fi
fi

if [ ! -e "$binfmt/register" ] && ! as_root mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null; then
  echo "binfmt_misc cannot be mounted here: 32-bit programs are not emulated."
  exit 0
fi
# An entry that handles i386 ELF files already: kept, unless its qemu is older than 8.
if entry=$(i386_entry); then
  interpreter=$(sed -n 's/^interpreter //p' "$entry")
  [[ "$interpreter" == *qemu* ]] && [ "$(qemu_major "$interpreter" || echo 0)" -lt 8 ] 2>/dev/null || exit 0
  echo "Replacing $entry, whose $interpreter is older than qemu 8"
  echo -1 | as_root tee "$entry" >/dev/null
fi
if ! echo ":sorvel-i386:M::$(sed 's/../\\x&/g' <<<"$MAGIC"):$(sed 's/../\\x&/g' <<<"$MASK"):$QEMU:F" |
  as_root tee "$binfmt/register" >/dev/null 2>&1; then
  echo "binfmt_misc cannot be written here: 32-bit programs are not emulated."
  exit 0
fi
echo "i386 ELF files now run under $QEMU ($(qemu_major $QEMU).x)"
