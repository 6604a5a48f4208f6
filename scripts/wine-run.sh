#!/usr/bin/env bash
# The emulator of the Windows programs (CMAKE_CROSSCOMPILING_EMULATOR): runs
# one under Wine. It is tried again, at most twice, only when Wine failed to
# start it: a failing status with no output at all, on either stream. Every
# test program prints as soon as it starts, so any other failure is the
# program's own and fails the first time. Each retry is noted in the file
# SORVEL_WINE_RETRIES names, when it is set.
set -uo pipefail
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
for attempt in 1 2 3; do
  wine "$@" >"$out" 2>"$err"
  status=$?
  if [ "$status" -eq 0 ] || [ -s "$out" ] || [ -s "$err" ] || [ "$attempt" -eq 3 ]; then
    break
  fi
  [ -n "${SORVEL_WINE_RETRIES:-}" ] &&
    echo "$(date -u +%FT%TZ) status $status, no output, attempt $attempt: $*" >>"$SORVEL_WINE_RETRIES"
done
cat "$out"
cat "$err" >&2
exit "$status"
