#!/usr/bin/env bash
# The sample's whole run on the library path (the built-in card), built from
# BEFORE and from the working tree and timed in one run: RUNS runs of each,
# the two builds alternating; each build's median, fastest and slowest.
# linux: CPU time (user + system) of the 64-bit build; windows: wall time of
# the 32-bit build under 32-bit Wine.
#   bash bench/pair.sh linux|windows [BEFORE] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD system=$1 before=${2:-HEAD~1} runs=${3:-9}
work=$(mktemp -d)
export SORVEL_LOCK="$work/host.lock"  # a lock of its own: never refused by a suite beside it
trap 'git -C "$root" worktree remove --force "$work/before" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
git worktree add -q --detach "$work/before" "$before"
launcher=() program=sorvel format="%U %S"
if [ "$system" = windows ]; then
  [ -n "${WINEPREFIX:-}" ] || source scripts/wine-env.sh
  launcher=(wine) program=sorvel.exe format="%e"
fi
for tree in before after; do
  source=$root
  [ "$tree" = after ] || source=$work/before
  toolchain=()
  [ "$system" = linux ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-w64-i686.cmake")
  cmake -S "$source" -B "$work/$tree" "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release -DSORVEL_TESTS=OFF >/dev/null
  cmake --build "$work/$tree" -j2 >/dev/null
done
cd "$work"
cp after/sample.bit .
unset KORVAN_SIM
for k in $(seq "$runs"); do
  for tree in before after; do
    /usr/bin/time -f "$format" -a -o "$tree.times" "${launcher[@]}" "$tree/$program" sample.bit > "$tree.out"
    grep -q "^Verifying Flash" "$tree.out" || { echo "$tree run $k failed"; exit 1; }
  done
done
seconds() { awk '{ print $1 + $2 }' "$1" | sort -n; }  # each run's, in order
median() { seconds "$1" | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }
summary() {  # median, fastest, slowest, spread
  seconds "$1" | awk -v m="$(median "$1")" '{ t[NR] = $1 } END {
    printf "%.3f | %.3f | %.3f | %.0f %%", m, t[1], t[NR], 100 * (t[NR] - t[1]) / m }'
}
label=$([ "$system" = linux ] && echo "CPU s" || echo "wall s under Wine")
echo "| build ($system) | $label, median of $runs | fastest | slowest | spread |"
echo "|---|---|---|---|---|"
echo "| before ($(git -C "$root" rev-parse --short "$before")) | $(summary before.times) |"
echo "| after (working tree) | $(summary after.times) |"
echo
awk -v a="$(median after.times)" -v b="$(median before.times)" 'BEGIN { printf "after / before, medians: %.3f\n", a / b }'
