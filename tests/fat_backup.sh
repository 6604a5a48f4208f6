#!/usr/bin/env bash
# The backup round trip on a FAT file system, which makes no hard links,
# mounted from a file through FUSE: a backup into it, another bitstream
# programmed, the backup programmed, the Flash as it began.
#   fat_backup.sh SORVEL
set -euo pipefail
sorvel=$(realpath "$1")
work=$(mktemp -d)
trap 'fusermount -u "$work/fat" 2>/dev/null || true; rm -rf "$work"' EXIT
cd "$work"
export SORVEL_LOCK="$work/host.lock"  # a lock of its own: never refused by a suite beside it
mkdir fat
truncate -s 16M fat.img
if ! { mkfs.vfat fat.img && fusefat -o rw+ fat.img fat; } >mount.log 2>&1; then
  echo "No FAT file system can be mounted here (mkfs.vfat and fusefat, with /dev/fuse): the round trip is not run."
  cat mount.log
  exit 77
fi
bit() {  # NAME DATA: a .bit file for the bridge device holding DATA
  { printf '\0\011abcdefghi\0\001b\0\0142v1500fg676\0e'
    printf "\\$(printf %03o $((${#2} >> 24 & 255)))\\$(printf %03o $((${#2} >> 16 & 255)))"
    printf "\\$(printf %03o $((${#2} >> 8 & 255)))\\$(printf %03o $((${#2} & 255)))%s" "$2"; } >"$1"
}
bit a.bit "$(printf 'first bitstream %.0s' $(seq 60))"
bit b.bit "another"
printf '[card]\nflash_image = flash.bin\n' >card.ini
export KORVAN_SIM=card.ini
run() { "$sorvel" "$@" >out.txt || { status=$?; echo "sorvel $*: exit $status"; cat out.txt; return 1; }; }
run a.bit
cp flash.bin first.bin
status=0
"$sorvel" /backup fat/old.bit -write b.bit >out.txt || status=$?
grep -q "Flash kept in fat/old.bit (960 data bytes)" out.txt || { echo "no backup:"; cat out.txt; exit 1; }
[ "$status" = 1 ] || { echo "the compare: exit $status, not 1"; exit 1; }
[ "$(ls fat)" = old.bit ] || { echo "in the FAT: $(ls fat)"; exit 1; }
run b.bit
run fat/old.bit
cmp first.bin flash.bin
echo "backup, program, restore on FAT: the Flash as it began"
