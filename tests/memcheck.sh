#!/usr/bin/env bash
# Whole runs under valgrind's memcheck, a good one and one whose .bit file
# declares no data and ends where it would begin (refused after the loader
# has taken its block): no errors, no leaks, no file left open.
#   memcheck.sh SORVEL MAKE_SAMPLE_BIT
set -euo pipefail
work=$(mktemp -d)
export SORVEL_LOCK="$work/host.lock"  # a lock of its own: never refused by a suite beside it
trap 'rm -rf "$work"' EXIT
cd "$work"
"$2" run.bit 4096
{ head -c $(($(stat -c %s run.bit) - 4100)) run.bit && printf '\0\0\0\0'; } > bad.bit  # the header, length 0
printf '[card]\nflash_image = flash.bin\n' > card.ini
fail() { echo "memcheck, $1: $2"; cat memcheck.txt; exit 1; }
# The utility's own status: 0, and -1 (255) for the malformed file; memcheck's
# error status (99) is neither.
for run in "run.bit 0 ^Verifying Flash...$" "bad.bit 255 ^\*\*\* Failed to load"; do
  read -r bit expected line <<<"$run"
  status=0
  KORVAN_SIM=card.ini valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect,possible \
    --track-fds=yes "$1" "$bit" > out.txt 2> memcheck.txt || status=$?
  [ "$status" -eq "$expected" ] || fail "$bit" "exit status $status, not $expected"
  grep -q "ERROR SUMMARY: 0 errors" memcheck.txt || fail "$bit" "errors"
  grep -q "$line" out.txt || fail "$bit" "the run did not get as far as '$line'"
  # Every descriptor open at exit besides the standard three came from the parent.
  [ "$(grep -c "Open file descriptor" memcheck.txt)" -eq "$(grep -c "<inherited from parent>" memcheck.txt)" ] ||
    fail "$bit" "a file left open"
done
echo "memcheck: no errors, no leaks, no file left open"
