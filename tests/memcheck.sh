#!/usr/bin/env bash
# A whole programming run on the library path under valgrind's memcheck:
# no errors, no leaks, no file left open.
#   memcheck.sh SORVEL MAKE_SAMPLE_BIT
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$2" run.bit 4096
printf '[card]\nflash_image = flash.bin\n' > card.ini
KORVAN_SIM=card.ini valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect,possible \
  --track-fds=yes "$1" run.bit > out.txt 2> memcheck.txt || { cat memcheck.txt; exit 1; }
grep -q "ERROR SUMMARY: 0 errors" memcheck.txt && grep -q "^Verifying Flash...$" out.txt
# Every descriptor open at exit besides the standard three came from the parent.
[ "$(grep -c "Open file descriptor" memcheck.txt)" -eq "$(grep -c "<inherited from parent>" memcheck.txt)" ] ||
  { cat memcheck.txt; exit 1; }
echo "memcheck: no errors, no leaks, no file left open"
