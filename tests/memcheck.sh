#!/usr/bin/env bash
# A whole programming run on the library path under valgrind's memcheck:
# no errors, no leaks, no file left open.
set -euo pipefail
sorvel=$1
make_bit=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$make_bit" run.bit "${3:-4096}"
printf '[card]\nflash_image = flash.bin\n' > card.ini
status=0
KORVAN_SIM=card.ini valgrind --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect,possible \
  --errors-for-leak-kinds=definite,indirect,possible --track-fds=yes "$sorvel" run.bit > out.txt 2> memcheck.txt \
  || status=$?
fail() { cat memcheck.txt; echo "memcheck: $1"; exit 1; }
[ "$status" -eq 0 ] || fail "exit status $status"
grep -q "ERROR SUMMARY: 0 errors" memcheck.txt || fail "errors"
grep -q "definitely lost: 0 bytes" memcheck.txt || grep -q "All heap blocks were freed" memcheck.txt || fail "leaks"
# Every descriptor open at exit besides the standard three came from the parent.
listed=$(grep -c "Open file descriptor" memcheck.txt || true)
inherited=$(grep -c "<inherited from parent>" memcheck.txt || true)
[ "$listed" -eq "$inherited" ] || fail "a file left open"
grep -q "^Verifying Flash...$" out.txt || fail "the run did not reach the verification"
echo "memcheck: no errors, no leaks, no file left open"
