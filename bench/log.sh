#!/usr/bin/env bash
# What /log costs: the sample's whole run on the library path (the built-in
# card), RUNS runs without and with /log, alternating, wall time; each one's
# median, fastest and slowest, and the ratio of the medians (goal: <= 1.05).
#   bash bench/log.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-15}
work=$(mktemp -d)
export SORVEL_LOCK="$work/host.lock"  # a lock of its own: never refused by a suite beside it
trap 'rm -rf "$work"' EXIT
cmake -S . -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DSORVEL_TESTS=OFF >/dev/null
cmake --build "$work/build" -j2 >/dev/null
cd "$work"
cp build/sample.bit .
unset KORVAN_SIM
for k in $(seq "$runs"); do
  /usr/bin/time -f %e -a -o plain.times build/sorvel sample.bit >/dev/null
  /usr/bin/time -f %e -a -o logged.times build/sorvel /log run.log sample.bit >/dev/null
done
[ "$(wc -l <run.log)" = "$runs" ] || { echo "the log holds $(wc -l <run.log) records, not $runs"; exit 1; }
median() { sort -n "$1" | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }
summary() { sort -n "$1" | awk -v m="$(median "$1")" '{ t[NR] = $1 } END { printf "%.3f | %.3f | %.3f", m, t[1], t[NR] }'; }
echo "| run | wall s, median of $runs | fastest | slowest |"
echo "|---|---|---|---|"
echo "| without /log | $(summary plain.times) |"
echo "| with /log | $(summary logged.times) |"
awk -v a="$(median logged.times)" -v b="$(median plain.times)" 'BEGIN { printf "\nwith / without, medians: %.3f\n", a / b }'
