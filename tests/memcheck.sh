#!/usr/bin/env bash
# Whole runs under valgrind's memcheck, a good one and one whose .bit file is
# malformed: no errors, no leaks, no file left open.
#   memcheck.sh SORVEL MAKE_SAMPLE_BIT
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$2" run.bit 4096
head -c 20 run.bit > bad.bit
printf '[card]\nflash_image = flash.bin\n' > card.ini
for bit in run.bit bad.bit; do
  KORVAN_SIM=card.ini valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect,possible \
    --track-fds=yes "$1" $bit > out.txt 2> memcheck.txt || [ $bit = bad.bit ] || { cat memcheck.txt; exit 1; }
  grep -q "ERROR SUMMARY: 0 errors" memcheck.txt && grep -q "^Verifying Flash...$\|Failed to load" out.txt
  # Every descriptor open at exit besides the standard three came from the parent.
  [ "$(grep -c "Open file descriptor" memcheck.txt)" -eq "$(grep -c "<inherited from parent>" memcheck.txt)" ] ||
    { cat memcheck.txt; exit 1; }
done
echo "memcheck: no errors, no leaks, no file left open"
